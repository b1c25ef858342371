#!/usr/bin/env bash
# Installs a Windows Installer package with Wine's own msiexec, as an
# administrator deploys it, and checks what it does:
#   - the component's registry keys are, view by view, those that regsvr32
#     writes for the same DLLs at the same paths in a fresh prefix (the x64
#     package: both views; the x86 one, made for 32-bit Windows: the 32-bit
#     view, and no class in the 64-bit one);
#   - each script host (x64 package: the 64-bit and the 32-bit cscript; x86
#     package: the 32-bit one) dials through the installed DLL to
#     "Connected: True", with TelSim.dll registered beside it for the test only;
#   - installing the same version again repairs a DLL overwritten with junk
#     of its size and a deleted class key;
#   - msiexec /x leaves no key of ours in either view and no Brevlin.dll;
#   - a package of a lower version is replaced in place (a major upgrade), a
#     lower one over it is refused, and a rebuilt package of the same version
#     has other codes and replaces it too;
#   - the tables: no hash for a versioned file, one owner for each registry
#     value, the summary, ALLUSERS, 64-bit components and names documented
#     in docs/packages.md;
#   - (x64) both packages on one machine, in either order: one product at
#     most is left installed, and it dials.
# Wine 10 of scripts/wine-run --x86 runs everything, 32-bit programs in its
# wow64 mode. On a machine that cannot run 32-bit code at all (scripts/x86-wine
# probe), the 32-bit regsvr32 and cscript cannot run: the checks that need
# them are left out, loudly, and the 32-bit view is only checked for the
# installed DLL's path; BREVLIN_X86=require makes that a failure instead.
# Each part starts from a copy of one fresh prefix.
#   run-msi.sh SOURCE_DIR WORK_DIR x64|x86
set -uo pipefail
src="$1" work="$(realpath -m "$2")" arch="$3"
here="$(cd "$(dirname "$0")" && pwd)"
version="$(sed -n 's/^project(Brevlin VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")"
package="$src/dist/brevlin-$version-$arch.msi" package_x86="$src/dist/brevlin-$version-x86.msi"
for p in "$package" "$package_x86"; do
  [ -f "$p" ] || { echo "FAIL: dist/$(basename "$p") is missing; run scripts/build"; exit 1; }
done
rm -rf "$work"
mkdir -p "$work"

status=0
fail() { echo "FAIL: $*"; status=1; }
wine_run() { timeout 300 "$src/scripts/wine-run" --x86 "$@"; }
settle() { "$src/scripts/x86-wine" run wineserver -w; }
winpath() { printf 'Z:%s' "$(printf '%s' "$1" | tr / '\\')"; }
msiexec() { wine_run msiexec "$@" /qn || fail "msiexec $* exited $?"; }
# refused WHAT MSIEXEC-ARGS...: msiexec must fail.
refused() {
  local what="$1"
  shift
  if wine_run msiexec "$@" /qn; then fail "$what was not refused"; else echo "ok: $what is refused ($?)"; fi
}

wow='C:\windows\syswow64'
pf64='Program Files/Brevlin' pf32='Program Files (x86)/Brevlin'
can32=1
if ! "$src/scripts/x86-wine" probe >/dev/null 2>&1; then
  can32=0
  [ "${BREVLIN_X86:-}" = require ] && fail "BREVLIN_X86=require, and this machine cannot run 32-bit programs"
  echo "==== this machine cannot run 32-bit code: the 32-bit regsvr32 and cscript are LEFT OUT ===="
fi
# Each script host with the folder of the examples it runs; the folders of
# the installed DLLs; the registry views compared with regsvr32's.
hosts=() views=()
if [ "$arch" = x64 ]; then
  hosts+=("cscript|$pf64")
  views+=(64)
  [ $can32 = 1 ] && hosts+=("$wow\\cscript.exe|$pf64")
  dll_dirs=("$pf64" "$pf32")
else
  [ $can32 = 1 ] && hosts+=("$wow\\cscript.exe|$pf32")
  dll_dirs=("$pf32")
fi
[ $can32 = 1 ] && views+=(32)

# The tables, read with msiinfo.
table() { msiinfo export "$1" "$2" | tr -d '\r' | tail -n +4; }
property() { table "$1" Property | sed -n "s/^$2\t//p"; }
product_code() { property "$1" ProductCode; }
package_code() { msiinfo suminfo "$1" | sed -n 's/^Revision number (UUID): //p'; }
check_tables() {
  local want_name want_template hashed
  want_name="Brevlin ($([ "$arch" = x64 ] && echo 64 || echo 32)-bit)"
  want_template="$([ "$arch" = x64 ] && echo x64 || echo Intel);1033"
  [ "$(property "$package" ProductName)" = "$want_name" ] || fail "ProductName is not $want_name"
  [ "$(property "$package" Manufacturer)" = "Brevlin developers" ] || fail "Manufacturer is not Brevlin developers"
  [ "$(property "$package" ALLUSERS)" = 1 ] || fail "ALLUSERS is not 1"
  msiinfo suminfo "$package" >"$work/suminfo"
  grep -qx "Template: $want_template" "$work/suminfo" || fail "the summary's template is not $want_template"
  grep -qx "Author: Brevlin developers" "$work/suminfo" || fail "the summary's author is not Brevlin developers"
  grep -qx "Subject: $want_name $version" "$work/suminfo" || fail "the summary's subject is not $want_name $version"
  # Versioned files are compared by version alone: no hash.
  hashed="$(join <(table "$package" File | awk -F'\t' '$5 != "" { print $1 }' | sort) \
                 <(table "$package" MsiFileHash | cut -f1 | sort))"
  [ -z "$hashed" ] || fail "MsiFileHash has rows for versioned files: $hashed"
  # Each registry value has one owner. The keys under CLSID and Interface
  # are a view's own; every other key is one for both views.
  table "$package" Component | awk -F'\t' '{ print $1 "\t" (int($4 / 256) % 2 ? 64 : 32) }' >"$work/views"
  local twice
  twice="$(table "$package" Registry | awk -F'\t' 'NR == FNR { view[$1] = $2; next }
    { k = tolower($3); v = (k ~ /^(clsid|interface)\\/) ? view[$6] : "both"
      id = $2 "|" k "|" $4 "|" v; if (id in owner && owner[id] != $6) print id; owner[id] = $6 }' "$work/views" -)"
  [ -z "$twice" ] || fail "registry values with two owners: $twice"
  # 64-bit components: in the x64 package all but the 32-bit DLL's.
  local want_views
  want_views="$([ "$arch" = x64 ] && printf 'Brevlin32Dll\t32\nBrevlin64Dll\t64\nDocs\t64\nExamples\t64\nReadme\t64\nTelsim\t64' ||
                printf 'Brevlin32Dll\t32\nDocs\t32\nExamples\t32\nReadme\t32\nTelsim\t32')"
  [ "$(sort "$work/views")" = "$want_views" ] || fail "64-bit components: $(sort "$work/views" | tr '\t\n' ': ')"
  # The x86 package refuses the x64 product's machine by naming its package.
  table "$package_x86" LaunchCondition | grep -q "brevlin-$version-x64.msi" ||
    fail "the x86 package's launch condition does not name brevlin-$version-x64.msi"
  if "$src/scripts/make-msi" --version "$version.1" "$arch" "$work/four.msi" 2>"$work/four.err" ||
     ! grep -q "four fields" "$work/four.err"; then
    fail "make-msi took a four-part version"
  fi
  [ $status = 0 ] && echo "ok: the tables are as documented"
}
check_tables

# One fresh prefix, copied for each part so that each starts clean. Another
# component's class and interface sit in each view beside ours, as on any
# Windows installation: removal must leave them, and it must never empty
# the keys that hold them, which Windows Installer, like Wine's, deletes
# once empty (a prefix whose 32-bit half of Wine's setup could not run has
# no 32-bit classes at all).
export WINEPREFIX="$work/fresh"
wine_run cmd /c exit 0 >/dev/null 2>&1
[ -f "$WINEPREFIX/system.reg" ] || { fail "no Wine prefix could be made"; exit 1; }
neighbour='{0F1E2D3C-4B5A-4969-8877-665544332211}'
for view in 64 32; do
  for key in CLSID Interface; do
    wine_run reg add "HKCR\\$key\\$neighbour" /ve /d "Another component" /f /reg:$view >/dev/null ||
      fail "adding another component's $key key"
  done
done
settle
fresh() { export WINEPREFIX="$work/$1"; cp -a "$work/fresh" "$WINEPREFIX"; }
done_with() { settle; rm -rf "$WINEPREFIX"; }

# snapshot NAME: our keys, NAME.64 and NAME.32 for the two views.
snapshot() {
  local view
  for view in 64 32; do
    wine_run reg export HKCR "$(winpath "$work/hkcr.reg")" /y /reg:$view >/dev/null 2>&1 ||
      fail "reg export of the $view-bit view"
    python3 "$here/our-keys.py" "$work/hkcr.reg" >"$work/$1.$view"
  done
  rm -f "$work/hkcr.reg"
}

# same_as_reference NAME WHEN
same_as_reference() {
  local view compared
  snapshot "$1"
  for view in ${views[@]+"${views[@]}"}; do
    # Without the 32-bit regsvr32, the keys that name the x86 DLL (its path
    # in the type library's key, which both views share) have no reference.
    # The snapshot itself stays whole, for later comparisons.
    compared="$work/$1.$view"
    if [ $can32 = 0 ]; then
      compared="$work/$1.$view.64only"
      awk -v RS= -v ORS='\n\n' '!/Program Files \(x86\)/' "$work/$1.$view" >"$compared"
    fi
    diff -u "$work/reference.$view" "$compared" >"$work/$1.$view.diff" || {
      fail "$2: the $view-bit view differs from what regsvr32 writes:"
      sed 's/^/    /' "$work/$1.$view.diff"
    }
  done
  if [ "$arch" = x86 ]; then
    ! grep -qi '^\[CLSID' "$work/$1.64" || fail "$2: the x86 package registered the class for 64-bit hosts"
  fi
  if [ $can32 = 0 ]; then
    grep -qF '@="C:\\Program Files (x86)\\Brevlin\\Brevlin.dll"' "$work/$1.32" ||
      fail "$2: the 32-bit view does not name C:/$pf32/Brevlin.dll"
  fi
}

# nothing_left NAME WHEN
nothing_left() {
  local view left
  snapshot "$1"
  for view in 64 32; do
    [ ! -s "$work/$1.$view" ] || { fail "$2: keys of ours are left in the $view-bit view:"; sed 's/^/    /' "$work/$1.$view"; }
  done
  left="$(find "$WINEPREFIX/drive_c" -iname brevlin.dll)"
  [ -z "$left" ] || fail "$2: Brevlin.dll is left: $left"
  [ ! -e "$WINEPREFIX/drive_c/$pf64" ] && [ ! -e "$WINEPREFIX/drive_c/$pf32" ] || fail "$2: a Brevlin folder is left"
  for view in 64 32; do
    wine_run reg query "HKCR\\CLSID\\$neighbour" /reg:$view >/dev/null 2>&1 ||
      fail "$2: another component's class is gone from the $view-bit view"
  done
}

# dials WHEN [HOST...]: each host (default: the package's) dials through
# the installed DLL, with the simulated telephony service registered beside it.
dials() {
  local when="$1" host program script out
  shift
  [ $# -gt 0 ] || set -- ${hosts[@]+"${hosts[@]}"}
  if [ "$arch" = x64 ]; then
    wine_run regsvr32 /s "$(winpath "$src/dist/x64/TelSim.dll")" || fail "registering the x64 TelSim.dll"
  fi
  if [ $can32 = 1 ]; then
    wine_run "$wow\\regsvr32.exe" /s "$(winpath "$src/dist/x86/TelSim.dll")" || fail "registering the x86 TelSim.dll"
  fi
  unset BREVLIN_TELSIM_SCENARIO
  for host in "$@"; do
    program="${host%%|*}" script="C:\\${host#*|}\\examples\\dial.vbs"
    out="$(wine_run "$program" //nologo "${script//\//\\}" /hold:1 2>&1)"
    if grep -q "Connected: True" <<<"$out"; then
      echo "ok: $program dials through the installed DLL $when"
    else
      fail "$program did not connect $when:"
      sed 's/^/    | /' <<<"$out"
    fi
  done
}

# installed_dlls WHEN [DIST]: each DLL is installed, byte for byte that of
# DIST (default dist/).
installed_dlls() {
  local dir from
  for dir in "${dll_dirs[@]}"; do
    from="${2:-$src/dist}/$([ "$dir" = "$pf64" ] && echo x64 || echo x86)/Brevlin.dll"
    cmp -s "$WINEPREFIX/drive_c/$dir/Brevlin.dll" "$from" || fail "$1: C:/$dir/Brevlin.dll is missing or not ${from#$src/}"
  done
}

# The reference: regsvr32 of each DLL at the path the package installs it
# to, the 64-bit one first, in a fresh prefix.
fresh regsvr32
if [ "$arch" = x64 ]; then
  mkdir -p "$WINEPREFIX/drive_c/$pf64"
  cp "$src/dist/x64/Brevlin.dll" "$WINEPREFIX/drive_c/$pf64/"
  wine_run regsvr32 /s 'C:\Program Files\Brevlin\Brevlin.dll' || fail "the 64-bit regsvr32 exited $?"
fi
if [ $can32 = 1 ]; then
  mkdir -p "$WINEPREFIX/drive_c/$pf32"
  cp "$src/dist/x86/Brevlin.dll" "$WINEPREFIX/drive_c/$pf32/"
  wine_run "$wow\\regsvr32.exe" /s 'C:\Program Files (x86)\Brevlin\Brevlin.dll' || fail "the 32-bit regsvr32 exited $?"
fi
snapshot reference
for view in ${views[@]+"${views[@]}"}; do
  grep -q 'InprocServer32' "$work/reference.$view" || fail "regsvr32 registered nothing in the $view-bit view"
done
done_with

fresh install
msiexec /i "$(winpath "$package")"
installed_dlls "install"
same_as_reference installed "after msiexec /i"

# A repair puts back a damaged DLL (junk of its size, which has no version
# record) and a deleted class key.
for dir in "${dll_dirs[@]}"; do
  f="$WINEPREFIX/drive_c/$dir/Brevlin.dll"
  head -c "$(stat -c %s "$f")" /dev/urandom >"$f"
done
for view in 64 32; do
  wine_run reg delete 'HKCR\CLSID\{6C04D28D-D046-4514-A463-19AE864ABA68}' /f /reg:$view >/dev/null 2>&1
done
msiexec /i "$(winpath "$package")"
installed_dlls "repair"
same_as_reference repaired "after the repair"
dials "after the repair"

msiexec /x "$(winpath "$package")"
nothing_left removed "after msiexec /x"
done_with

# A major upgrade from a lower version, then its removal.
fresh upgrade
older="$work/brevlin-0.9.0-$arch.msi"
"$src/scripts/make-msi" --version 0.9.0 "$arch" "$older" || fail "make-msi --version 0.9.0"
old_code="$(product_code "$older")" new_code="$(product_code "$package")"
[ -n "$old_code" ] && [ "$old_code" != "$new_code" ] || fail "the older package's product code is '$old_code'"
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

# A downgrade is refused, and leaves the installed version as it was.
refused "0.9.0 over $version" /i "$(winpath "$older")"
is_installed "$new_code" && ! is_installed "$old_code" || fail "the downgrade changed what is installed"
snapshot downgraded
for view in 64 32; do
  cmp -s "$work/upgraded.$view" "$work/downgraded.$view" || fail "the refused downgrade changed the $view-bit view"
done

# A rebuild of the same version with one DLL changed (a byte of its DOS
# stub) has other codes, and replaces the installed product's DLL.
rebuilt_dist="$work/rebuilt-dist" rebuilt="$work/brevlin-$version-$arch-rebuilt.msi"
mkdir -p "$rebuilt_dist"
cp -r "$src/dist/x64" "$src/dist/x86" "$rebuilt_dist/"
python3 - "$rebuilt_dist/x86/Brevlin.dll" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
open(sys.argv[1], "wb").write(data.replace(b"DOS mode", b"dos mode", 1))
PY
"$src/scripts/make-msi" --dist "$rebuilt_dist" "$arch" "$rebuilt" || fail "make-msi of the rebuilt DLL"
[ "$(package_code "$rebuilt")" != "$(package_code "$package")" ] || fail "the rebuilt package has the same package code"
rebuilt_code="$(product_code "$rebuilt")"
[ "$rebuilt_code" != "$new_code" ] || fail "the rebuilt package has the same product code"
msiexec /i "$(winpath "$rebuilt")"
installed_dlls "the rebuilt package" "$rebuilt_dist"
is_installed "$rebuilt_code" && ! is_installed "$new_code" || fail "the rebuilt package did not replace the first"
msiexec /x "$(winpath "$rebuilt")"
nothing_left upgrade-removed "after removing the upgrades"
! is_installed "$rebuilt_code" || fail "the rebuilt package is still listed as installed"
done_with

# Both packages on one 64-bit machine, in either order. The x64 package
# replaces the x86 product; the x86 package refuses a machine with the x64
# product. One product at most is installed, and 64-bit hosts dial through
# it; removing it leaves nothing.
if [ "$arch" = x64 ]; then
  x86_code="$(product_code "$package_x86")"
  fresh x86-first
  msiexec /i "$(winpath "$package_x86")"
  is_installed "$x86_code" || fail "the x86 package is not installed"
  wine_run reg query 'HKCR\Brevlin.TAPIDialer' /reg:32 >/dev/null || fail "the x86 product wrote no ProgID"
  [ $can32 = 1 ] && dials "with the x86 product alone" "$wow\\cscript.exe|$pf32"
  msiexec /i "$(winpath "$package")"
  ! is_installed "$x86_code" || fail "the x64 package left the x86 product installed"
  installed_dlls "x64 over x86"
  dials "with the x64 product installed over the x86 one"
  refused "removing the replaced x86 product" /x "$(winpath "$package_x86")"
  msiexec /x "$(winpath "$package")"
  nothing_left x86-first "after removing the x64 product installed over the x86 one"
  done_with

  fresh x64-first
  msiexec /i "$(winpath "$package")"
  snapshot x64-alone
  refused "the x86 package beside the x64 product" /i "$(winpath "$package_x86")"
  ! is_installed "$x86_code" || fail "the x86 product got installed beside the x64 one"
  snapshot x64-refused
  for view in 64 32; do
    cmp -s "$work/x64-alone.$view" "$work/x64-refused.$view" || fail "the refused x86 package changed the $view-bit view"
  done
  installed_dlls "x86 refused"
  dials "with the x86 package refused"
  msiexec /x "$(winpath "$package")"
  nothing_left x64-first "after removing the x64 product"
  done_with
fi

left_out=""
[ $can32 = 1 ] || left_out=" (without the 32-bit regsvr32 and cscript, which cannot run here)"
if [ $status = 0 ]; then
  echo "PASS: brevlin-$version-$arch.msi installs, registers, dials, repairs, upgrades (refusing a downgrade, taking a rebuild)$([ "$arch" = x64 ] && echo ", replaces or refuses the x86 product") and removes cleanly$left_out"
  WINEPREFIX="$work/fresh" "$src/scripts/wine-run" --x86 --remove-prefix
fi
exit $status
