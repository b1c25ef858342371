#!/usr/bin/env bash
# Registers Brevlin.dll with Wine's regsvr32 in a fresh prefix, checks the
# registry through `reg query`, unregisters it and checks what is left.
#   run-regsvr32.sh BREVLIN_DLL PREFIX_DIR
set -uo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
dll="$1"
export WINEPREFIX="$2"
rm -rf "$WINEPREFIX"

winpath() { printf 'Z:%s' "$(printf '%s' "$1" | tr / '\\')"; }
wine_run() { "$root/scripts/wine-run" "$@"; }
status=0
fail() { echo "FAIL: $*"; status=1; }
has_key() { wine_run reg query "$1" >/dev/null 2>&1; }
value_of() { wine_run reg query "$1" $2 2>/dev/null | tr -d '\r'; }

class='HKCR\CLSID\{6C04D28D-D046-4514-A463-19AE864ABA68}'
typelib='HKCR\TypeLib\{A98D2088-65A8-4490-8C57-CC6639597A5C}'
path="$(winpath "$dll")"

wine_run regsvr32 /s "$path" || fail "regsvr32 returned $?"
value_of "$class\\InprocServer32" /ve | grep -qF "$path" || fail "InprocServer32 does not name $path"
value_of "$class\\InprocServer32" "/v ThreadingModel" | grep -q "Both" || fail "ThreadingModel is not Both"
value_of "$class\\MiscStatus\\1" /ve | grep -q "132497" || fail "MiscStatus\\1 is not 132497"
value_of 'HKCR\Brevlin.TAPIDialer\CurVer' /ve | grep -q "Brevlin.TAPIDialer.1" || fail "CurVer is not Brevlin.TAPIDialer.1"
has_key "$typelib\\1.0\\409\\win64" || fail "the type library is not registered under 1.0\\409\\win64"

wine_run regsvr32 /s /u "$path" || fail "regsvr32 /u returned $?"
for key in "$class" 'HKCR\Brevlin.TAPIDialer' 'HKCR\Brevlin.TAPIDialer.1' "$typelib"; do
  has_key "$key" && fail "$key is still there after unregistration"
done
has_key 'HKCR\CLSID' || fail "HKCR\\CLSID is gone"

[ $status -eq 0 ] && echo "PASS regsvr32 registers and unregisters $(basename "$dll")"
exit $status
