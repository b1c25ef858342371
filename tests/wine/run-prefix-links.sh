#!/usr/bin/env bash
# A prefix of an entry's own, as scripts/wine-run makes it: it links the
# ready prefix's large files rather than copying them; a program writing
# over a linked DLL (Windows' CopyFile writes in place) never reaches the
# ready prefix; with --remove-prefix-on-pass it stays after a failure and
# goes after a pass.
#   run-prefix-links.sh WORK_DIR
set -uo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
. "$root/tests/support/wine-arch.sh"
work="$1"
rm -rf "$work"
mkdir -p "$work"
export WINEPREFIX="$work/prefix"
template="$root/build/wineprefix-template"
[ "$BREVLIN_ARCH" = x64 ] || template="${BREVLIN_X86_PREFIX_TEMPLATE:-$root/build/wineprefix-x86-template}"

failures=0
check() {
  if [ "$2" = 0 ]; then echo "ok: $1"; else failures=$((failures + 1)); echo "FAIL: $1"; fi
}

"$root/scripts/wine-run" --remove-prefix-on-pass cmd /c exit 3 >/dev/null 2>&1
rc=$?
[ $rc = 3 ] && [ -f "$WINEPREFIX/system.reg" ]
check "a failed program keeps its prefix (exit $rc)" $?
size=$(du -sxk "$WINEPREFIX" | cut -f1)
[ "$size" -lt 65536 ]
check "the prefix links the ready one's large files ($((size / 1024)) MB)" $?

dll="$WIN_SYSTEM\\xcopy.exe"
linked="$template/drive_c/windows/${WIN_SYSTEM##*\\}/xcopy.exe"
before="$(sha256sum <"$linked")"
"$root/scripts/wine-run" cmd /c copy /y "$WIN_SYSTEM\\notepad.exe" "$dll" >/dev/null 2>&1
if [ "$(id -u)" = 0 ] || [ "$BREVLIN_ARCH" = x86 ]; then
  [ "$(sha256sum <"$linked")" = "$before" ]
  check "a program writing over a linked DLL leaves the ready prefix's" $?
else
  echo "SKIP: not root, so the ready prefix cannot be made read-only for programs"
fi

"$root/scripts/wine-run" --remove-prefix-on-pass cmd /c exit 0 >/dev/null 2>&1
[ ! -e "$WINEPREFIX" ]
check "a passing program's prefix goes" $?

rm -rf "$work"
[ $failures = 0 ]
