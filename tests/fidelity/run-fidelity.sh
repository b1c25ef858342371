#!/usr/bin/env bash
# Registers TelSim.dll with regsvr32 in a Wine prefix of its own and runs
# fidelity.exe against it, on the lines of a typical Windows machine
# (examples/scenarios/windows.ini). The program may connect the simulated
# voice modem, so that every event row can run: none may be N/A here.
#   run-fidelity.sh FIDELITY_EXE TELSIM_DLL PREFIX_DIR
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
fidelity="$1" telsim="$2"
export WINEPREFIX="$3"

winpath() { printf 'Z:%s' "$(printf '%s' "$1" | tr / '\\')"; }
. "$root/tests/support/wine-arch.sh"

"$root/scripts/wine-run" "$REGSVR32" /s "$(winpath "$telsim")" || { echo "FAIL: regsvr32 TelSim.dll"; exit 1; }
# Emulated (scripts/x86-vm), Wine alone takes minutes to start.
limit=240
[ -n "${BREVLIN_IN_VM:-}" ] && limit=900
out="$(BREVLIN_TELSIM_SCENARIO="$(winpath "$root/examples/scenarios/windows.ini")" \
       timeout $limit "$root/scripts/wine-run" "$fidelity" --connect "USB Voice Modem" 2>&1)"
rc=$?
echo "$out"
[ $rc -eq 0 ] || { echo "FAIL: fidelity.exe exited $rc"; exit 1; }
if grep -q '^N/A ' <<<"$out"; then
  echo "FAIL: a row was not applicable against TelSim"
  exit 1
fi
# (Wine's console ends the program's lines with CR LF.)
grep -q '^[0-9]* passed, 0 failed, 0 not applicable'$'\r''\?$' <<<"$out" || { echo "FAIL: no summary"; exit 1; }
"$root/scripts/wine-run" --remove-prefix
