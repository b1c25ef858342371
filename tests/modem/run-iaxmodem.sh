#!/usr/bin/env bash
# Runs the iaxmodem cases of a Windows test program under Wine:
#   run-iaxmodem.sh PROGRAM WORKDIR
# For each case a fresh pair of iaxmodem instances talks IAX2 directly over
# 127.0.0.1 (no PBX: `refresh 0`, each one's server is the other), with
# their devices and configuration under WORKDIR. modempeer answers the far
# instance; the near one is COM43 in the program's Wine prefix. Exits 77
# (skipped) when iaxmodem is missing or cannot start here.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
program="$1"; work="$2"
port="${BREVLIN_IAX_TEST_PORT:-43}"
udp_near="${BREVLIN_IAX_UDP:-4671}"
udp_far=$((udp_near + 1))

skip() { echo "SKIP: $*"; exit 77; }
command -v iaxmodem >/dev/null 2>&1 || skip "iaxmodem is not installed (scripts/bootstrap installs it)"
# iaxmodem reads its configuration only from /etc/iaxmodem/<name>; a name
# that climbs back to / lets the files live in the test's own folder.
[ -d /etc/iaxmodem ] || skip "/etc/iaxmodem is missing (iaxmodem package incomplete)"
peer="$("$root/tools/modempeer/build.sh" "$root/build/modempeer/modempeer")" || skip "modempeer cannot be built"
export WINEPREFIX="${WINEPREFIX:-$root/build/wineprefix}"
"$root/scripts/wine-run" cmd /c exit >/dev/null 2>&1 || true

rm -rf "$work"; mkdir -p "$work"
pids=()
stop_all() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  pids=()
}
trap 'stop_all; rm -f "$WINEPREFIX/dosdevices/com$port"' EXIT

write_config() {  # name udp-port other-udp-port
  cat >"$work/$1.conf" <<CONF
device $work/tty-$1
owner $(id -un):$(id -gn)
mode 660
port $2
refresh 0
server 127.0.0.1:$3
peername brevlin
secret test
cidname Brevlin $1
cidnumber 555010$2
codec slinear
CONF
}

start_pair() {  # case
  local dir="$work/$1"; mkdir -p "$dir"
  write_config near "$udp_near" "$udp_far"
  write_config far "$udp_far" "$udp_near"
  rm -f "$work/tty-near" "$work/tty-far"
  # iaxmodem signals its whole process group when it stops: its own session
  # keeps that away from this script and the wineserver it started.
  setsid iaxmodem "../..$work/near.conf" >"$dir/near.out" 2>&1 & pids+=($!)
  # Started a moment apart so their call numbers differ.
  sleep 1
  setsid iaxmodem "../..$work/far.conf" >"$dir/far.out" 2>&1 & pids+=($!)
  for _ in $(seq 50); do
    [ -L "$work/tty-near" ] && [ -L "$work/tty-far" ] && return 0
    sleep 0.1
  done
  cat "$dir/near.out" "$dir/far.out"
  return 1
}

run_case() {  # case gtest-filter expected-far-lines...
  local name="$1" filter="$2"; shift 2
  local dir="$work/$name"
  start_pair "$name" || skip "iaxmodem did not start (see above)"
  "$peer" answer --device "$work/tty-far" --init ATZ --init ATE0V1 --init AT+FCLASS=1 \
    --log "$dir/far.log" --timeout 45 >"$dir/answer.out" 2>&1 & pids+=($!)
  for _ in $(seq 50); do grep -q READY "$dir/far.log" 2>/dev/null && break; sleep 0.1; done
  grep -q READY "$dir/far.log" || { cat "$dir/far.log" "$dir/answer.out"; echo "FAIL: far modem not ready"; return 1; }
  ln -sfn "$work/tty-near" "$WINEPREFIX/dosdevices/com$port"
  local status=0
  BREVLIN_IAX_PORT="$port" "$root/scripts/wine-run" "$program" --gtest_filter="$filter" || status=$?
  sleep 1
  stop_all
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
