#!/usr/bin/env bash
# Runs the script-host tests: registers Brevlin.dll and TelSim.dll with
# regsvr32 in a Wine prefix of their own, then runs each script with
# cscript (both of the DLLs' architecture) as Wine's script engines run it, and reports every result.
#   run-script-hosts.sh BREVLIN_DLL TELSIM_DLL PREFIX_DIR
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
brevlin="$1" telsim="$2"
export WINEPREFIX="$3"
unset BREVLIN_TELSIM_SCENARIO

winpath() { printf 'Z:%s' "$(printf '%s' "$1" | tr / '\\')"; }
wine_run() { "$root/scripts/wine-run" "$@"; }
. "$root/tests/support/wine-arch.sh"

status=0
for dll in "$brevlin" "$telsim"; do
  if ! wine_run "$REGSVR32" /s "$(winpath "$dll")"; then
    echo "FAIL: regsvr32 $(basename "$dll")"
    exit 1
  fi
done

# script and the scenario it runs against
cases=(
  "dial.vbs dial.ini"
  "dial.js dial.ini"
  "init_failure.vbs init_failure.ini"
  "init_failure.js init_failure.ini"
)
for c in "${cases[@]}"; do
  set -- $c
  out="$(BREVLIN_TELSIM_SCENARIO="$(winpath "$here/$2")" \
         timeout 120 "$root/scripts/wine-run" "$CSCRIPT" //nologo "$(winpath "$here/$1")" 2>&1)"
  rc=$?
  echo "$out"
  if [ $rc -ne 0 ] || ! grep -q "^PASS $1" <<<"$out"; then
    echo "FAIL: $1 (exit $rc)"
    status=1
  fi
done
[ $status != 0 ] || wine_run --remove-prefix
exit $status
