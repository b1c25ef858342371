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
status=0
fail() { echo "FAIL: $*"; status=1; }

class='HKCR\CLSID\{6C04D28D-D046-4514-A463-19AE864ABA68}'
typelib='HKCR\TypeLib\{A98D2088-65A8-4490-8C57-CC6639597A5C}'

# Every Wine program costs seconds (half a minute emulated), so each view is
# read once, with one `reg query` of every key the checks look at, and read
# again only after a program may have changed it: wine_run forgets the reads.
snapshots="$(mktemp -d)"
wine_run() { rm -f "$snapshots"/*; "$root/scripts/wine-run" "$@"; }
wine_server() {
  if [ "$BREVLIN_ARCH" = x86 ]; then "$root/scripts/x86-wine" run wineserver "$@"; else wineserver "$@"; fi
}
trap 'wine_server -k >/dev/null 2>&1; rm -rf "$snapshots"' EXIT
# view: 32 or 64, the registry as a program of that width sees it
snapshot() {
  local view="$1" file="$snapshots/$1" key line=""
  if [ ! -f "$file" ]; then
    for key in 'HKCR\CLSID /ve' "$class /s" 'HKCR\Brevlin.TAPIDialer /s' \
               'HKCR\Brevlin.TAPIDialer.1 /s' "$typelib /s"; do
      line+="${line:+ & }reg query $key /reg:$view && echo @found ${key% /*} || echo @missing ${key% /*}"
    done
    "$root/scripts/wine-run" cmd /c "$line" 2>/dev/null | tr -d '\r' >"$file"
  fi
  cat "$file"
}
full_name() { printf '%s' "${1/#HKCR\\/HKEY_CLASSES_ROOT\\}"; }
# A queried key is found by its marker, any other by its heading. (Under
# Wine's cmd a query chained with "&& echo @found" alone, without the
# "|| echo @missing", reported a key that was gone as found.)
has_key() {
  local name
  name="$(full_name "$2")"
  snapshot "$1" | KEY="${name,,}" MARKER="@found $2" awk '
    BEGIN { key = ENVIRON["KEY"] }
    $0 == ENVIRON["MARKER"] || tolower($0) == key || index(tolower($0), key "\\") == 1 { found = 1 }
    END { exit !found }'
}
# view key [value name]: the data of the key's default value, or of the named one
value_of() {
  local name
  name="$(full_name "$2")"
  snapshot "$1" | KEY="${name,,}" VALUE="${3:-(Default)}" awk '
    /^[^ ]/ { inside = tolower($0) == ENVIRON["KEY"]; next }
    inside && substr($0, 1, 4) == "    " {
      split(substr($0, 5), field, "    ")
      if (field[1] == ENVIRON["VALUE"]) { print field[3] }
    }'
}
# One server for the whole run, started once the prefix is made: it keeps
# the registry loaded between programs instead of reloading it for each.
keep_server() {
  wine_run cmd /c exit >/dev/null 2>&1
  wine_server -w
  wine_server -p30
}

# view path platform: the registration in one view is whole
check_registered() {
  local view="$1" path="$2" platform="$3" what="$4"
  value_of "$view" "$class\\InprocServer32" | grep -qF "$path" || fail "$what: InprocServer32 does not name $path"
  value_of "$view" "$class\\InprocServer32" ThreadingModel | grep -q "Both" || fail "$what: ThreadingModel is not Both"
  value_of "$view" "$class\\MiscStatus\\1" | grep -q "132497" || fail "$what: MiscStatus\\1 is not 132497"
  value_of "$view" 'HKCR\Brevlin.TAPIDialer\CurVer' | grep -q "Brevlin.TAPIDialer.1" || fail "$what: CurVer is not Brevlin.TAPIDialer.1"
  has_key "$view" "$typelib\\1.0\\409\\$platform" || fail "$what: the type library is not registered under 1.0\\409\\$platform"
  value_of "$view" "$typelib\\1.0\\409\\$platform" | grep -qF "$path" || fail "$what: the type library's $platform path does not name $path"
}

# view: the class is gone from that view. The class keys are the view's
# own; the ProgIDs and the type library are shared by both views (as on
# 64-bit Windows), so they go only with the last registration (all_gone).
check_gone() {
  local view="$1" what="$2"
  has_key "$view" "$class" && fail "$what: $class is still there"
  has_key "$view" 'HKCR\CLSID' || fail "$what: HKCR\\CLSID is gone"
}
all_gone() {
  local view="$1" what="$2" key
  check_gone "$view" "$what"
  for key in 'HKCR\Brevlin.TAPIDialer' 'HKCR\Brevlin.TAPIDialer.1' "$typelib"; do
    has_key "$view" "$key" && fail "$what: $key is still there"
  done
}

path="$(winpath "$dll")"
keep_server
if [ "$BREVLIN_ARCH" = x64 ]; then
  wine_run "$REGSVR32" /s "$path" || fail "regsvr32 returned $?"
  check_registered 64 "$path" win64 "x64"
  wine_run "$REGSVR32" /s /u "$path" || fail "regsvr32 /u returned $?"
  all_gone 64 "after unregistration"

  # The ProgIDs are shared by both views on Windows and in Wine 10, not in
  # Wine 8: under Wine 10 (64-bit programs only), a class key in the 32-bit
  # view stands in for the x86 DLL's registration (the x86 entry installs
  # the real one). Removing the x64 DLL then takes only the 64-bit view's
  # class key, and leaves the shared ProgIDs to the other.
  (
    export WINEPREFIX="$WINEPREFIX-wine10" BREVLIN_ARCH=x86
    rm -rf "$WINEPREFIX"
    status=0
    regsvr32_64='C:\windows\system32\regsvr32.exe'
    x86_path='Z:\elsewhere\x86\Brevlin.dll'
    wine_run reg add "$class\\InprocServer32" /ve /d "$x86_path" /f /reg:32 >/dev/null 2>&1 || fail "reg add /reg:32 returned $?"
    wine_run "$regsvr32_64" /s "$path" || fail "regsvr32 beside a 32-bit registration returned $?"
    wine_run "$regsvr32_64" /s /u "$path" || fail "regsvr32 /u beside a 32-bit registration returned $?"
    check_gone 64 "x64 removed beside x86"
    value_of 32 "$class\\InprocServer32" | grep -qF "$x86_path" || fail "x64 removed beside x86: the 32-bit view's class is gone"
    value_of 32 'HKCR\Brevlin.TAPIDialer\CurVer' | grep -q "Brevlin.TAPIDialer.1" || fail "x64 removed beside x86: the shared ProgID is gone"
    exit $status
  ) || status=1
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
  all_gone 32 "both removed"
  all_gone 64 "both removed"
fi

if [ $status -eq 0 ]; then
  echo "PASS regsvr32 ($BREVLIN_ARCH) registers and unregisters $(basename "$dll")"
  "$root/scripts/wine-run" --remove-prefix
  [ "$BREVLIN_ARCH" = x86 ] || WINEPREFIX="$WINEPREFIX-wine10" BREVLIN_ARCH=x86 "$root/scripts/wine-run" --remove-prefix
fi
exit $status
