#!/usr/bin/env bash
# Runs the iaxmodem cases of a Windows test program under Wine:
#   run-iaxmodem.sh PROGRAM WORKDIR
# For each case a fresh pair of iaxmodem instances talks IAX2 directly over
# 127.0.0.1 (no PBX: `refresh 0`, each one's server is the other), with
# their devices and configuration under WORKDIR. modempeer answers the far
# instance; the near one is COM43 in the program's Wine prefix. Exits 77
# (skipped) only when iaxmodem is not installed; an instance that does not
# start is a failure.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
program="$1"; work="$2"
port="${BREVLIN_IAX_TEST_PORT:-43}"
udp_near="${BREVLIN_IAX_UDP:-4671}"
udp_far=$((udp_near + 1))
. "$here/modem-peers.sh"

skip() { echo "SKIP: $*"; exit 77; }
iaxmodem_available || skip "iaxmodem or /etc/iaxmodem is missing (scripts/bootstrap installs it)"
export WINEPREFIX="${WINEPREFIX:-$root/build/wineprefix}"
modem_peers_init "$work" "$WINEPREFIX/dosdevices/com$port"
"$root/scripts/wine-run" cmd /c exit >/dev/null 2>&1 || true

run_case() {  # case gtest-filter expected-far-lines...
  local name="$1" filter="$2"; shift 2
  local dir="$work/$name"
  iaxmodem_pair "$udp_near" "$udp_far" "$dir" || { echo "FAIL: iaxmodem did not start (see above)"; return 1; }
  iaxmodem_answer "$dir" 45 || { cat "$dir/far.log" "$dir/answer.out"; echo "FAIL: far modem not ready"; return 1; }
  ln -sfn "$IAX_DIR/tty-near" "$WINEPREFIX/dosdevices/com$port"
  local status=0
  BREVLIN_IAX_PORT="$port" "$root/scripts/wine-run" "$program" --gtest_filter="$filter" || status=$?
  sleep 1
  modem_peers_stop
  echo "---- far side ($name)"; cat "$dir/far.log"
  for want in "$@"; do
    grep -qx -- "$want" "$dir/far.log" || { echo "FAIL: far side did not see: $want"; status=1; }
  done
  return $status
}

status=0
run_case data 'IaxModem.DataCallConnectsAndHangsUp' 'RX RING' 'TX ATA' 'RX CONNECT' 'RX NO CARRIER' || status=1
run_case voice 'IaxModem.VoiceDialRingsTheFarSide' 'RX RING' || status=1
exit $status
