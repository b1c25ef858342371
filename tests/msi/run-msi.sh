#!/usr/bin/env bash
# Installs a Windows Installer package with Wine's own msiexec, as an
# administrator deploys it, and checks what it does:
#   - the component's registry keys, in both registry views, are those that
#     regsvr32 writes for the same DLLs at the same paths in a fresh prefix;
#   - the 64-bit and the 32-bit cscript (x86 package: the 32-bit one) dial
#     through the installed DLLs to "Connected: True", with TelSim.dll
#     registered beside them for the test only;
#   - installing the same version again repairs a deleted DLL and class key;
#   - msiexec /x leaves no key of ours in either view and no Brevlin.dll;
#   - a package of a lower version is replaced in place (a major upgrade).
# Wine 10 of scripts/wine-run --x86 runs everything: 32-bit programs run
# there in its wow64 mode. Each step starts from a copy of one fresh prefix.
#   run-msi.sh SOURCE_DIR WORK_DIR x64|x86
set -uo pipefail
src="$1" work="$(realpath -m "$2")" arch="$3"
here="$(cd "$(dirname "$0")" && pwd)"
version="$(sed -n 's/^project(Brevlin VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")"
package="$src/dist/brevlin-$version-$arch.msi"
[ -f "$package" ] || { echo "FAIL: dist/$(basename "$package") is missing; run scripts/build"; exit 1; }
rm -rf "$work"
mkdir -p "$work"

status=0
fail() { echo "FAIL: $*"; status=1; }
wine_run() { timeout 300 "$src/scripts/wine-run" --x86 "$@"; }
settle() { "$src/scripts/x86-wine" run wineserver -w; }
winpath() { printf 'Z:%s' "$(printf '%s' "$1" | tr / '\\')"; }
msiexec() { wine_run msiexec "$@" /qn || fail "msiexec $* exited $?"; }

wow='C:\windows\syswow64'
pf64='Program Files/Brevlin' pf32='Program Files (x86)/Brevlin'
# Each script host, and the folder of the package's examples.
if [ "$arch" = x64 ]; then
  hosts=("cscript|$pf64" "$wow\\cscript.exe|$pf64")
  dll_dirs=("$pf64" "$pf32")
else
  hosts=("$wow\\cscript.exe|$pf32")
  dll_dirs=("$pf32")
fi

# One fresh prefix, copied for each part so that each starts clean.
export WINEPREFIX="$work/fresh"
wine_run cmd /c exit 0 >/dev/null 2>&1
settle
[ -f "$WINEPREFIX/system.reg" ] || { fail "no Wine prefix could be made"; exit 1; }
fresh() { export WINEPREFIX="$work/$1"; cp -a "$work/fresh" "$WINEPREFIX"; }

# snapshot NAME: our keys in both views, one sorted .reg section per key: the
# class, its ProgIDs, the type library and the interface, and any key whose
# values name a Brevlin.dll.
snapshot() {
  local view
  for view in 64 32; do
    wine_run reg export HKCR "$(winpath "$work/hkcr$view.reg")" /y /reg:$view >/dev/null 2>&1 ||
      fail "reg export of the $view-bit view"
    echo "; $view-bit view"
    python3 "$here/our-keys.py" "$work/hkcr$view.reg"
  done >"$work/$1.keys"
  rm -f "$work"/hkcr*.reg
}

# same_as_reference NAME WHEN
same_as_reference() {
  snapshot "$1"
  diff -u "$work/reference.keys" "$work/$1.keys" >"$work/$1.diff" ||
    { fail "$2: the registry differs from what regsvr32 writes:"; sed 's/^/    /' "$work/$1.diff"; }
}

# nothing_left NAME WHEN
nothing_left() {
  snapshot "$1"
  [ "$(grep -vc '^;' "$work/$1.keys")" = 0 ] || { fail "$2: keys of ours are left:"; sed 's/^/    /' "$work/$1.keys"; }
  local left
  left="$(find "$WINEPREFIX/drive_c" -iname brevlin.dll)"
  [ -z "$left" ] || fail "$2: Brevlin.dll is left: $left"
  [ ! -e "$WINEPREFIX/drive_c/$pf64" ] && [ ! -e "$WINEPREFIX/drive_c/$pf32" ] || fail "$2: a Brevlin folder is left"
}

installed_dlls() {
  local dir
  for dir in "${dll_dirs[@]}"; do
    [ -f "$WINEPREFIX/drive_c/$dir/Brevlin.dll" ] || fail "$1: C:/$dir/Brevlin.dll is missing"
  done
}

# The reference: regsvr32 of each DLL at the path the package installs it
# to, the 64-bit one first, in a fresh prefix.
fresh regsvr32
if [ "$arch" = x64 ]; then
  mkdir -p "$WINEPREFIX/drive_c/$pf64"
  cp "$src/dist/x64/Brevlin.dll" "$WINEPREFIX/drive_c/$pf64/"
  wine_run regsvr32 /s 'C:\Program Files\Brevlin\Brevlin.dll' || fail "64-bit regsvr32 exited $?"
fi
mkdir -p "$WINEPREFIX/drive_c/$pf32"
cp "$src/dist/x86/Brevlin.dll" "$WINEPREFIX/drive_c/$pf32/"
wine_run "$wow\\regsvr32.exe" /s 'C:\Program Files (x86)\Brevlin\Brevlin.dll' || fail "32-bit regsvr32 exited $?"
snapshot reference
grep -q 'InprocServer32' "$work/reference.keys" || fail "regsvr32 registered nothing"
settle
rm -rf "$WINEPREFIX"

fresh install
msiexec /i "$(winpath "$package")"
installed_dlls "install"
same_as_reference installed "after msiexec /i"

# Dialling, through each host, with the simulated telephony service
# registered beside the installed DLLs.
wine_run regsvr32 /s "$(winpath "$src/dist/x64/TelSim.dll")" || fail "registering the x64 TelSim.dll"
wine_run "$wow\\regsvr32.exe" /s "$(winpath "$src/dist/x86/TelSim.dll")" || fail "registering the x86 TelSim.dll"
unset BREVLIN_TELSIM_SCENARIO
for host in "${hosts[@]}"; do
  program="${host%%|*}" script="C:\\${host#*|}\\examples\\dial.vbs"
  out="$(wine_run "$program" //nologo "${script//\//\\}" /hold:1 2>&1)"
  if grep -q "Connected: True" <<<"$out"; then
    echo "ok: $program dials through the installed DLL"
  else
    fail "$program did not connect:"
    sed 's/^/    | /' <<<"$out"
  fi
done

# A repair puts back a deleted DLL and class key.
for dir in "${dll_dirs[@]}"; do rm -f "$WINEPREFIX/drive_c/$dir/Brevlin.dll"; done
for view in 64 32; do
  wine_run reg delete 'HKCR\CLSID\{6C04D28D-D046-4514-A463-19AE864ABA68}' /f /reg:$view >/dev/null 2>&1
done
msiexec /i "$(winpath "$package")"
installed_dlls "repair"
same_as_reference repaired "after the repair"

msiexec /x "$(winpath "$package")"
nothing_left removed "after msiexec /x"
settle
rm -rf "$WINEPREFIX"

# A major upgrade from a lower version, then its removal.
fresh upgrade
older="$work/brevlin-0.9.0-$arch.msi"
"$src/scripts/make-msi" --version 0.9.0 "$arch" "$older" || fail "make-msi --version 0.9.0"
product_code() { msiinfo export "$1" Property | sed -n 's/^ProductCode\t\(.*\)\r\?$/\1/p' | tr -d '\r'; }
old_code="$(product_code "$older")" new_code="$(product_code "$package")"
[ -n "$old_code" ] && [ "$old_code" != "$new_code" ] || fail "the older package's product code is $old_code"
is_installed() {
  local view
  for view in 64 32; do
    wine_run reg query "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$1" /reg:$view >/dev/null 2>&1 &&
      return 0
  done
  return 1
}
msiexec /i "$(winpath "$older")"
is_installed "$old_code" || fail "the 0.9.0 package is not installed"
msiexec /i "$(winpath "$package")"
is_installed "$new_code" || fail "the $version package is not installed over 0.9.0"
! is_installed "$old_code" || fail "the 0.9.0 package is still installed beside $version"
installed_dlls "upgrade"
same_as_reference upgraded "after the upgrade"
msiexec /x "$(winpath "$package")"
nothing_left upgrade-removed "after removing the upgrade"
! is_installed "$new_code" || fail "the $version package is still listed as installed"
settle
rm -rf "$WINEPREFIX"

[ $status = 0 ] && echo "PASS: brevlin-$version-$arch.msi installs, registers, dials, repairs, upgrades and removes cleanly"
exit $status
