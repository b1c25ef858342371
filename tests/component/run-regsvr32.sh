#!/usr/bin/env bash
# Registers Brevlin.dll with Wine's regsvr32 in a fresh prefix, checks the
# registry through `reg query`, unregisters it and checks what is left.
#   run-regsvr32.sh BREVLIN_DLL PREFIX_DIR [X64_BREVLIN_DLL]
# For x86 (BREVLIN_ARCH, under Wine 10) the x64 DLL is installed beside it,
# each with the regsvr32 of its own architecture: each registry view must
# hold its own DLL and type library platform (win32, win64), and removing
# one must leave the other whole.
set -uo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
dll="$1"
export WINEPREFIX="$2"
x64_dll="${3:-}"
rm -rf "$WINEPREFIX"
. "$root/tests/support/wine-arch.sh"

winpath() { printf 'Z:%s' "$(printf '%s' "$1" | tr / '\\')"; }
wine_run() { "$root/scripts/wine-run" "$@"; }
status=0
fail() { echo "FAIL: $*"; status=1; }
# view: 32 or 64, the registry as a program of that width sees it
has_key() { wine_run reg query "$2" "/reg:$1" >/dev/null 2>&1; }
value_of() { wine_run reg query "$2" $3 "/reg:$1" 2>/dev/null | tr -d '\r'; }

class='HKCR\CLSID\{6C04D28D-D046-4514-A463-19AE864ABA68}'
typelib='HKCR\TypeLib\{A98D2088-65A8-4490-8C57-CC6639597A5C}'

# view path platform: the registration in one view is whole
check_registered() {
  local view="$1" path="$2" platform="$3" what="$4"
  value_of "$view" "$class\\InprocServer32" /ve | grep -qF "$path" || fail "$what: InprocServer32 does not name $path"
  value_of "$view" "$class\\InprocServer32" "/v ThreadingModel" | grep -q "Both" || fail "$what: ThreadingModel is not Both"
  value_of "$view" "$class\\MiscStatus\\1" /ve | grep -q "132497" || fail "$what: MiscStatus\\1 is not 132497"
  value_of "$view" 'HKCR\Brevlin.TAPIDialer\CurVer' /ve | grep -q "Brevlin.TAPIDialer.1" || fail "$what: CurVer is not Brevlin.TAPIDialer.1"
  has_key "$view" "$typelib\\1.0\\409\\$platform" || fail "$what: the type library is not registered under 1.0\\409\\$platform"
  value_of "$view" "$typelib\\1.0\\409\\$platform" /ve | grep -qF "$path" || fail "$what: the type library's $platform path does not name $path"
}

# view: nothing of the class is left in that view
check_gone() {
  local view="$1" what="$2" key
  for key in "$class" 'HKCR\Brevlin.TAPIDialer' 'HKCR\Brevlin.TAPIDialer.1'; do
    has_key "$view" "$key" && fail "$what: $key is still there"
  done
  has_key "$view" 'HKCR\CLSID' || fail "$what: HKCR\\CLSID is gone"
}

path="$(winpath "$dll")"
if [ "$BREVLIN_ARCH" = x64 ]; then
  wine_run "$REGSVR32" /s "$path" || fail "regsvr32 returned $?"
  check_registered 64 "$path" win64 "x64"
  wine_run "$REGSVR32" /s /u "$path" || fail "regsvr32 /u returned $?"
  check_gone 64 "after unregistration"
  has_key 64 "$typelib" && fail "$typelib is still there after unregistration"
else
  [ -f "$x64_dll" ] || { echo "FAIL: the x64 Brevlin.dll ($x64_dll) is missing: scripts/build stages it"; exit 1; }
  path64="$(winpath "$x64_dll")"
  regsvr32_64='C:\windows\system32\regsvr32.exe'

  wine_run "$REGSVR32" /s "$path" || fail "the 32-bit regsvr32 returned $?"
  check_registered 32 "$path" win32 "x86 alone"
  has_key 64 "$class" && fail "x86 alone: the class is in the 64-bit view"

  wine_run "$regsvr32_64" /s "$path64" || fail "the 64-bit regsvr32 returned $?"
  check_registered 64 "$path64" win64 "x64 beside x86"
  check_registered 32 "$path" win32 "x86 beside x64"

  wine_run "$REGSVR32" /s /u "$path" || fail "the 32-bit regsvr32 /u returned $?"
  check_gone 32 "x86 removed"
  has_key 32 "$typelib\\1.0\\409\\win32" && fail "x86 removed: the type library's win32 key is still there"
  check_registered 64 "$path64" win64 "x64 after x86 was removed"

  wine_run "$REGSVR32" /s "$path" || fail "the 32-bit regsvr32 returned $? the second time"
  wine_run "$regsvr32_64" /s /u "$path64" || fail "the 64-bit regsvr32 /u returned $?"
  check_gone 64 "x64 removed"
  has_key 64 "$typelib\\1.0\\409\\win64" && fail "x64 removed: the type library's win64 key is still there"
  check_registered 32 "$path" win32 "x86 after x64 was removed"
  wine_run "$REGSVR32" /s /u "$path" || fail "the 32-bit regsvr32 /u returned $? the second time"
  check_gone 32 "both removed"
fi

[ $status -eq 0 ] && echo "PASS regsvr32 ($BREVLIN_ARCH) registers and unregisters $(basename "$dll")"
exit $status
