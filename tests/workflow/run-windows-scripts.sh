#!/usr/bin/env bash
# Runs the hosted Windows job's own scripts (scripts/windows/) under Wine 10
# (scripts/wine-run --x86, 64-bit programs only), against dist/, in a prefix
# of their own, as the workflow calls them:
#   - each cscript script through run-js.cmd, as the workflow runs it: a
#     script that throws fails with the error's text, and one that ends
#     without its summary line fails though cscript exits 0;
#   - packages.js through Wine's msiexec: the x64 package installed and
#     checked, the x86 package refused beside it (exit 1603, its launch
#     condition's text in the log), removal leaving nothing; the x86
#     package alone, checked and removed;
#   - build-example.cmd with a stand-in cl that records its command line,
#     which must be the README's, and puts the zip's x64 dial.exe where the
#     programs would be;
#   - examples.js, with the installed control and TelSim registered: the
#     README's scripts, the zip's hosts and the programs give "call" against
#     the default scenario and "no-line" against the one without a suitable
#     line (a runner without a modem; the README's VBScript only in the
#     first, see below), and a no-line answer is refused where a call is
#     expected; a host that hangs is ended at its deadline and fails, and
#     the hosts after it still run;
#   - fidelity.js on the zip's x64 fidelity.exe against TelSim: its table
#     and counts in the step summary.
# The 32-bit hosts cannot run where the kernel runs no 32-bit code; the
# hosted job runs them.
#   run-windows-scripts.sh SOURCE_DIR WORK_DIR
set -uo pipefail
src="$1"
. "$src/tests/support/release-zip.sh"
unpack_release_zip "$src" "$2"
work="$(realpath "$2")"
for p in x64 x86; do
  [ -f "$src/dist/brevlin-$version-$p.msi" ] || { echo "FAIL: dist/brevlin-$version-$p.msi is missing"; exit 1; }
done
python3 "$src/tests/readme/readme_check.py" blocks "$src" "$work/readme" || exit 1

status=0
fail() { echo "FAIL: $*"; status=1; }
winpath() { printf 'Z:%s' "$(printf '%s' "$1" | tr / '\\')"; }
export WINEPREFIX="$work/prefix"
run() { timeout 300 "$src/scripts/wine-run" --x86 "$@"; }
# As the workflow's steps: through run-js.cmd, which requires the summary.
script() { run cmd /c "$(winpath "$src/scripts/windows/run-js.cmd")" "$(winpath "$src/scripts/windows/$1")" "${@:2}"; }
packages() { script packages.js "$@" || fail "packages.js $1 ${2:-}"; }
msi() { winpath "$src/dist/brevlin-$version-$1.msi"; }
log() { winpath "$work/$1.log"; }

# Another component's class and interface in each registry view, as on any
# Windows: where Wine's prefix was made without running 32-bit code it has
# no 32-bit class keys, and Wine then writes both views' keys into one.
neighbour='{0F1E2D3C-4B5A-4969-8877-665544332211}'
for view in 64 32; do
  for key in CLSID Interface; do
    run reg add "HKCR\\$key\\$neighbour" /ve /d "Another component" /f /reg:$view >/dev/null ||
      fail "adding another component's $key key to the $view-bit view"
  done
done

# A script that throws: the step fails with the error's text. One that ends
# without its summary line (no catch-all, cscript exits 0): it fails too.
: >"$work/a-file"
out="$(script examples.js --out "$(winpath "$work/a-file/examples")" --expect call --run a=b 2>&1)"
[ $? = 3 ] && grep -q '^examples.js: error: ' <<<"$out" || fail "a script that throws did not fail with its error: $out"
printf 'var x = null;\r\nx.y();\r\n' >"$work/throws.js"
run cmd /c "$(winpath "$src/scripts/windows/run-js.cmd")" "$(winpath "$work/throws.js")" >/dev/null 2>&1 &&
  fail "run-js.cmd passed a script that ended without its summary line"

packages install "$(msi x64)" --log "$(log x64-install)"
packages installed x64 --version "$version"
# Wine's Installer never writes a launch condition's text into the log,
# only that the LaunchConditions action failed: the lenient reason.
packages refused "$(msi x86)" --log "$(log x86-refused)" --reason action

# The stand-in cl: Wine has no Microsoft compiler.
mkdir -p "$work/standin"
printf '@echo off\r\necho cl %%*>>"%%~dp0cl.log"\r\nfor %%%%A in (%%*) do if /i "%%%%~xA"==".cpp" copy /y "%s" "%%%%~nA.exe" >nul\r\n' \
  "$(winpath "$pkg/x64/dial.exe")" >"$work/standin/cl.cmd"
run cmd /c "set PATH=$(winpath "$work/standin");%PATH% & $(winpath "$src/scripts/windows/build-example.cmd") --arch x64 \
  --readme $(winpath "$work/readme") --zip $(winpath "$pkg") --out $(winpath "$work/cl")" || fail "build-example.cmd"
readme_line="$(tr -d '\r' <"$work/readme/compile-msvc.txt")"
printf '%s\n%s\n' "$readme_line" "${readme_line/call.cpp/dial.cpp}" >"$work/cl.expected"
tr -d '\r' <"$work/standin/cl.log" | sed 's/ *$//' | diff -u "$work/cl.expected" - ||
  fail "build-example.cmd did not run the README's cl command for call.cpp and dial.cpp"

# Wine's regsvr32 prints even with /s, and its lines can surface in the
# next program's redirected output: into nul with them.
run cmd /c "regsvr32 /s $(winpath "$pkg/testing/x64/TelSim.dll") >nul 2>&1" || fail "registering TelSim.dll"
cscript64='C:\windows\system32\cscript.exe //nologo'
hosts=(--run "readme-vbs-64=$cscript64 $(winpath "$work/readme/call.vbs")"
       --run "readme-js-64=$cscript64 $(winpath "$work/readme/call.js")"
       --run "dial-vbs-64=$cscript64 $(winpath "$pkg/examples/dial.vbs")"
       --run "dial-js-64=$cscript64 $(winpath "$pkg/examples/dial.js")"
       --run "cl-call-x64=$(winpath "$work/cl/x64/call.exe")"
       --run "zip-dial-x64=$(winpath "$pkg/x64/dial.exe")")
# examples SCENARIO EXPECT STATUS RUN...: examples.js exits STATUS.
examples() {
  local scenario="$1" expect="$2" want="$3" got
  shift 3
  BREVLIN_TELSIM_SCENARIO="$(winpath "$src/examples/scenarios/$scenario.ini")" \
    script examples.js --out "$(winpath "$work/examples-$scenario-$expect")" --expect "$expect" "$@"
  got=$?
  [ "$got" = "$want" ] || fail "examples.js --expect $expect against $scenario.ini exited $got, not $want"
}
examples default call 0 "${hosts[@]}"
# Wine's cscript reports no VBScript error: the README's VBScript, stopped
# by Connect's, prints nothing more and exits 0 (Windows' names the
# error). So the no-line runs start at its JScript.
examples nolines no-line 0 "${hosts[@]:2}"
examples nolines call 1 "${hosts[@]:2:2}"
printf 'WScript.Sleep(600000);\r\n' >"$work/hangs.js"
examples default call 1 --deadline 20 --run "hangs=$cscript64 $(winpath "$work/hangs.js")" "${hosts[@]:0:4}"
grep -q '^FAIL hangs hung ' "$work/examples-default-call/examples.txt" &&
  [ "$(grep -c '^PASS readme-' "$work/examples-default-call/examples.txt")" = 2 ] ||
  fail "a hung host was not ended at its deadline, the hosts after it run: $(cat "$work/examples-default-call/examples.txt")"

BREVLIN_TELSIM_SCENARIO="$(winpath "$src/examples/scenarios/windows.ini")" \
  script fidelity.js --program "$(winpath "$pkg/x64/fidelity.exe")" --name x64 --out "$(winpath "$work/fidelity")" \
  --summary "$(winpath "$work/summary.md")" >"$work/fidelity.out" 2>&1 || fail "fidelity.js: $(cat "$work/fidelity.out")"
counts="$(sed -n 's/^\([0-9]*\) passed, \([0-9]*\) failed, \([0-9]*\) not applicable\r*$/\1 PASS, \2 FAIL, \3 N\/A/p' "$work/fidelity/fidelity-x64.txt")"
[ -n "$counts" ] && grep -q "^### The fidelity check, x64: $counts" "$work/summary.md" &&
  [ "$(grep -c '^| PASS | ' "$work/summary.md")" = "${counts%% *}" ] ||
  fail "fidelity.js did not put the table and its counts ($counts) into the summary: $(cat "$work/summary.md")"

packages remove "$(msi x64)" --log "$(log x64-remove)"
packages gone
packages install "$(msi x86)" --log "$(log x86-install)"
packages installed x86 --version "$version"
packages remove "$(msi x86)" --log "$(log x86-remove)"
packages gone
run wineserver -k >/dev/null 2>&1
# A Wine 10 prefix takes over a gigabyte: kept only to look into a failure.
[ $status = 0 ] && rm -rf "$WINEPREFIX" && echo "PASS: the Windows job's scripts under Wine"
exit $status
