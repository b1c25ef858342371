#!/usr/bin/env bash
# Keeps the READMEs honest (readme_check.py), then runs the README's
# examples as written: its VBScript and JScript through the 64-bit cscript,
# its C++ built with the mingw-w64 command it gives against the zip's
# header, each against the zip's x64 Brevlin.dll and TelSim.dll registered
# in a Wine prefix of its own, and each must print the output the README
# shows. They run under Wine 10 (scripts/x86-wine, 64-bit programs only),
# whose cscript has WScript.Sleep: Wine 8's raises "Object doesn't support
# this action" (445) for it, and the README's scripts wait as Windows hosts
# should. The first script runs once more through scripts/demo --script, as
# the README tells a Linux reader to run it.
#   run-readme.sh SOURCE_DIR WORK_DIR
set -uo pipefail
src="$1"; work="$2"
. "$src/tests/support/release-zip.sh"
unpack_release_zip "$src" "$work"

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# The package's copy of the README, with the pages it links to, as
# installed beside the 64-bit DLL.
msi="$src/dist/brevlin-$version-x64.msi"
mkdir -p "$work/msi" && msiextract -C "$work/msi" "$msi" >/dev/null || fail "cannot unpack $msi"
installed="$(dirname "$(find "$work/msi" -path '*Brevlin/README.md' | head -n 1)")"
python3 "$src/tests/readme/readme_check.py" names "$src" "$pkg" "$installed" || failures=$((failures + 1))
python3 "$src/tests/readme/readme_check.py" blocks "$src" "$work" || { echo "FAIL: the README's examples"; exit 1; }
[ $failures = 0 ] && echo "ok: links, scripts, flags and paths of the READMEs"

export WINEPREFIX="$work/prefix-wine10"
run() { "$src/scripts/wine-run" --x86 "$@"; }
winpath() { echo "Z:$(echo "$1" | sed 's|/|\\|g')"; }
REGSVR32='C:\windows\system32\regsvr32.exe'
CSCRIPT='C:\windows\system32\cscript.exe'
run "$REGSVR32" /s "$(winpath "$pkg/testing/x64/TelSim.dll")" || fail "registering the zip's TelSim.dll"
run "$REGSVR32" /s "$(winpath "$pkg/x64/Brevlin.dll")" || fail "registering the zip's Brevlin.dll"
export BREVLIN_TELSIM_SCENARIO="$(winpath "$src/examples/scenarios/default.ini")"

# The command as the README gives it, run where the zip is unpacked.
(cd "$work" && bash -c "$(cat compile.txt)") >"$work/compile.out" 2>&1 ||
  { fail "the README's mingw-w64 command does not build call.cpp"; sed 's/^/    | /' "$work/compile.out"; }

# expect NAME COMMAND...: exits 0 and prints exactly the documented lines.
expect() {
  local name="$1" out="$work/$1.out"
  shift
  (cd "$work" && run "$@") 2>&1 | tr -d '\r' >"$out"
  local status=${PIPESTATUS[0]}
  if [ "$status" = 0 ] && diff -u "$work/expected.txt" "$out" >"$work/$name.diff"; then
    echo "ok: the README's $name prints what the README shows"
  else
    fail "the README's $name (exit $status) does not print what the README shows:"
    sed 's/^/    | /' "$work/$name.diff"
  fi
}
expect call.vbs "$CSCRIPT" //nologo call.vbs
expect call.js "$CSCRIPT" //nologo call.js
[ -f "$work/call.exe" ] && expect call.exe ./call.exe

# The first script as the README tells a Linux reader to run it, through the
# demo (in this prefix, with dist/'s DLLs): its lines between the demo's own.
(cd "$work" && BREVLIN_DEMO_PREFIX="$WINEPREFIX" "$src/scripts/demo" --script call.vbs --no-build) 2>&1 |
  tr -d '\r' >"$work/demo-script.out"
status=${PIPESTATUS[0]}
if [ "$status" = 0 ] && grep -v '^demo: ' "$work/demo-script.out" | diff -u "$work/expected.txt" - >"$work/demo-script.diff"; then
  echo "ok: scripts/demo --script call.vbs prints what the README shows"
else
  fail "scripts/demo --script call.vbs (exit $status) does not print what the README shows:"
  sed 's/^/    | /' "$work/demo-script.out" "$work/demo-script.diff"
fi
run wineserver -k >/dev/null 2>&1
# A Wine 10 prefix takes over a gigabyte: kept only to look into a failure.
[ $failures = 0 ] && rm -rf "$WINEPREFIX"
[ $failures = 0 ]
