#!/usr/bin/env bash
# Runs every shipped scenario through the example hosts (dial.vbs, dial.js
# and dial.exe) against the registered Brevlin.dll and TelSim.dll, in a Wine
# prefix of its own, and checks each outcome.
#   run-scenarios.sh SOURCE_DIR DIST_DIR WORK_DIR [smoke]
# smoke: the default scenario through dial.vbs and dial.exe only, for the
# emulated machine, where each program takes many seconds to start.
set -uo pipefail
src="$1"; dist="$2"; work="$3"; smoke="${4:-}"
hosts=(vbs js)
script_args=()
[ "$smoke" = smoke ] && hosts=(vbs)
hold=3 stretch=no
# Emulated, the script host sees the call's events many seconds late.
if [ -n "${BREVLIN_IN_VM:-}" ]; then
  script_args=(/wait:90)
  [ "$smoke" = smoke ] || { hold=30; stretch=yes; }
fi
export WINEPREFIX="$work/prefix"
mkdir -p "$work"
run() { "$src/scripts/wine-run" "$@"; }
winpath() { echo "Z:$(echo "$1" | sed 's|/|\\|g')"; }
. "$src/tests/support/wine-arch.sh"

run "$REGSVR32" /s "$(winpath "$dist/TelSim.dll")" || { echo "FAIL: registering TelSim.dll"; exit 1; }
run "$REGSVR32" /s "$(winpath "$dist/Brevlin.dll")" || { echo "FAIL: registering Brevlin.dll"; exit 1; }

failures=0
passes=0
# check NAME EXPECTED_STATUS OUTPUT_FILE STATUS PATTERN...
check() {
  local name="$1" expected="$2" out="$3" status="$4"
  shift 4
  local ok=1
  [ "$status" = "$expected" ] || { echo "FAIL: $name exited $status, expected $expected"; ok=0; }
  for pattern in "$@"; do
    grep -qF -- "$pattern" "$out" || { echo "FAIL: $name: no \"$pattern\" in its output"; ok=0; }
  done
  if [ $ok = 1 ]; then
    passes=$((passes + 1)); echo "ok: $name"
  else
    failures=$((failures + 1)); sed 's/^/    | /' "$out"
  fi
}

finish() {
  echo "$passes passed, $failures failed"
  [ $failures = 0 ] || exit
  "$src/scripts/wine-run" --remove-prefix
  exit
}

# scenario NAME EXPECTED_STATUS PATTERN...  (each host in turn)
scenario() {
  local name="$1" expected="$2"
  shift 2
  local ini="$src/examples/scenarios/$name.ini"
  if [ $stretch = yes ]; then
    # Emulated, the service's events reach a host seconds late: the
    # scenario's delays, and the hold that outlasts them, are stretched
    # tenfold, so that the host still sees the call before it ends.
    perl -pe 's/\bafter (\d+)/"after " . $1 * 10/ge' "$ini" >"$work/$name.ini"
    ini="$work/$name.ini"
  fi
  export BREVLIN_TELSIM_SCENARIO="$(winpath "$ini")"
  local vbs_args=("${script_args[@]}") exe_args=()
  local line_file_name
  line_file_name="$(sed -n 's/^[[:space:]]*LineFile[[:space:]]*=[[:space:]]*//p' "$ini" | tr -d '\r' | head -n 1)"
  if [ -n "$line_file_name" ]; then
    printf '%s\r\n' "$line_file_name" > "$work/line.txt"
    vbs_args+=("/linefile:$(winpath "$work/line.txt")")
    exe_args+=(--line-file "$(winpath "$work/line.txt")")
  fi
  local out="$work/$name.out" status
  for host in "${hosts[@]}"; do
    run "$CSCRIPT" //nologo "$(winpath "$src/examples/dial.$host")" /hold:$hold "${vbs_args[@]}" >"$out" 2>&1
    status=$?
    check "$name ($host)" "$expected" "$out" "$status" "$@"
  done
  run "$dist/dial.exe" --hold $hold "${exe_args[@]}" >"$out" 2>&1
  status=$?
  check "$name (dial.exe)" "$expected" "$out" "$status" "$@"
}

scenario default 0 "lines: " "Connected: True" "held for" "hung up" "telephony shut down"
if [ "$smoke" = smoke ]; then
  finish
fi
scenario busy 3 "Connected: True" "the call ended by itself" "hung up"
scenario noanswer 3 "Connected: True" "the call ended by itself"
scenario nolines 1 "Couldn't locate valid modem or TSP driver." "80004005"
scenario linefile 0 "chosen: True" "Connected: True" "held for" "hung up"
scenario initfail 1 "TAPI initialization failed."
# Only the voice modem is listed: the data modem and the WAN miniports are not.
scenario windows 0 "lines: USB Voice Modem" "Connected: True" "held for" "hung up"

export BREVLIN_TELSIM_SCENARIO="$(winpath "$src/examples/scenarios/default.ini")"
run "$dist/dial.exe" --list >"$work/list.out" 2>&1
check "dial.exe --list" 0 "$work/list.out" $? "lines: "

# The demo's own scripts run on the build machine whatever the architecture:
# the x64 entry checks them (the emulated machine has no package manager).
if [ "$BREVLIN_ARCH" != x64 ]; then
  finish
fi

# An option the demo does not know is refused, on every road, not dialled
# as a number or taken as a port.
"$src/scripts/demo" --bogus >"$work/demo-option.out" 2>&1
check "scripts/demo --bogus" 4 "$work/demo-option.out" $? "unknown option --bogus" "scripts/demo [NUMBER]"
"$src/scripts/demo" --modem --bogus >"$work/demo-option.out" 2>&1
check "scripts/demo --modem --bogus" 4 "$work/demo-option.out" $? "unknown option --bogus"
# What comes before --modem or --sip goes there or is refused, never dropped.
"$src/scripts/demo" --scenario busy --sip >"$work/demo-option.out" 2>&1
check "scripts/demo --scenario busy --sip" 4 "$work/demo-option.out" $? "--scenario is for the simulated service"
"$src/scripts/demo" 5550100 --modem --number 5550199 >"$work/demo-option.out" 2>&1
check "scripts/demo NUMBER --modem --number NUMBER" 4 "$work/demo-option.out" $? "the number is given twice"

# --help lists every option that the demo's three scripts take.
"$src/scripts/demo" --help >"$work/demo-help.out" 2>&1
options=($(grep -ohE '^ *(-h\|)?--[a-z0-9-]+(\|--[a-z0-9-]+)*\)' "$src"/scripts/demo "$src"/scripts/demo-modem "$src"/scripts/demo-sip |
           grep -oE -- '--[a-z0-9-]+' | sort -u))
check "scripts/demo --help (${#options[@]} options)" 0 "$work/demo-help.out" $? "${options[@]/#/ }"

# Only a run that asks for x86 makes the x86 chroot: bootstrap, copied beside
# an x86-wine that records its calls, with every package already present.
mkdir -p "$work/bootstrap"
cp "$src/scripts/bootstrap" "$work/bootstrap/"
printf '#!/bin/sh\necho "$@" >>"$(dirname "$0")/calls"\n' >"$work/bootstrap/x86-wine"
chmod +x "$work/bootstrap/x86-wine"
rm -f "$work/bootstrap/calls"
"$work/bootstrap/bootstrap" >"$work/bootstrap.out" 2>&1 && [ ! -e "$work/bootstrap/calls" ]
check "scripts/bootstrap makes no chroot" 0 "$work/bootstrap.out" $?
"$work/bootstrap/bootstrap" --x86 >"$work/bootstrap.out" 2>&1
grep -qx make "$work/bootstrap/calls" 2>/dev/null
check "scripts/bootstrap --x86 makes it" 0 "$work/bootstrap.out" $?

# demo --x86 asks the probe before it makes the chroot: on a machine that
# runs no 32-bit code it stops there, having downloaded nothing.
mkdir -p "$work/x86-first/scripts"
rm -f "$work/x86-first/scripts/calls"
cp "$src/scripts/demo" "$work/x86-first/scripts/"
for s in bootstrap x86-wine; do
  printf '#!/bin/sh\necho %s "$@" >>"$(dirname "$0")/calls"\n[ "$1" != probe ]\n' $s >"$work/x86-first/scripts/$s"
  chmod +x "$work/x86-first/scripts/$s"
done
"$work/x86-first/scripts/demo" --x86 >"$work/x86-first.out" 2>&1
status=$?
echo "calls: $(paste -sd';' "$work/x86-first/scripts/calls")." >>"$work/x86-first.out"
check "scripts/demo --x86 probes before the chroot" 5 "$work/x86-first.out" $status "calls: bootstrap;x86-wine probe."

finish
