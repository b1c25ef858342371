#!/usr/bin/env bash
# End to end: Brevlin.dll and TelSim.dll registered in a Wine prefix of
# their own, a scenario with one modem line, and modem_call.vbs under
# cscript dialling through it against modempeer (and, when it can run,
# against iaxmodem). The peers' logs must show exactly the initialisation
# and the dial strings the translation rules give.
#   run-modem-script.sh BREVLIN_DLL TELSIM_DLL PREFIX_DIR WORK_DIR PEER
# PEER: modempeer or iaxmodem. Exits 77 (skipped) only when iaxmodem is
# not installed; a peer that does not start is a failure.
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
brevlin="$1" telsim="$2" work="$4" which="$5"
export WINEPREFIX="$3"
port=45
iax_port=46

winpath() { printf 'Z:%s' "$(printf '%s' "$1" | tr / '\\')"; }
wine_run() { "$root/scripts/wine-run" "$@"; }
. "$root/tests/support/wine-arch.sh"
fail() { echo "FAIL: $*"; status=1; }

. "$here/modem-peers.sh"
modem_peers_init "$work" "$WINEPREFIX/dosdevices/com$port" "$WINEPREFIX/dosdevices/com$iax_port"

for dll in "$brevlin" "$telsim"; do
  wine_run "$REGSVR32" /s "$(winpath "$dll")" || { echo "FAIL: regsvr32 $(basename "$dll")"; exit 1; }
done

scenario() {  # file port extra-line-keys...
  local file="$1" com="$2"; shift 2
  {
    echo "[Location]"; echo "CountryCode=1"; echo "AreaCode=555"; echo "OutsideLine=9"
    echo "[Line1]"; echo "Name=Script Serial Modem"; echo "Kind=modem"; echo "Port=COM$com"
    echo "GuardMs=900"; echo "CommandTimeoutMs=3000"; echo "AnswerTimeoutMs=20000"
    for key in "$@"; do echo "$key"; done
  } >"$file"
}

run_script() {  # scenario number expect [hold]
  local out rc
  out="$(BREVLIN_TELSIM_SCENARIO="$(winpath "$1")" \
         timeout 90 "$root/scripts/wine-run" "$CSCRIPT" //nologo "$(winpath "$here/modem_call.vbs")" "$2" "$3" ${4:-} 2>&1)"
  rc=$?
  echo "$out"
  if [ $rc -ne 0 ] || ! grep -q "^PASS modem_call.vbs $3" <<<"$out"; then
    fail "modem_call.vbs $2 $3 (exit $rc)"
  fi
}

# The log lines between the last OPEN and the CLOSED after it.
last_session() { awk '/^OPEN$/ {buf=""} {buf = buf $0 "\n"} END {printf "%s", buf}' "$1"; }

status=0

if [ "$which" = modempeer ]; then
"$PEER" serve --link "$work/tty-peer" --log "$work/peer.log" --delay 300 \
  --number 5550111=busy --number 5550122=nocarrier --number 5550133=nodialtone \
  --timeout 300 >"$work/peer.out" 2>&1 & peer_started
for _ in $(seq 50); do [ -L "$work/tty-peer" ] && break; sleep 0.1; done
ln -sfn "$work/tty-peer" "$WINEPREFIX/dosdevices/com$port"
scenario "$work/peer.ini" "$port"

echo "== canonical number connects, Disconnect hangs up"
run_script "$work/peer.ini" "+1 (555) 010-0100" connect
sleep 1
expected=$'OPEN\nCMD ATZ\nRESULT OK\nCMD ATE0V1\nRESULT OK\nCMD ATDT90100100\nDIAL T90100100\nRESULT CONNECT 33600\nESCAPE\nRESULT OK\nCMD ATH0\nHANGUP ATH\nRESULT OK\nCLOSED'
got="$(last_session "$work/peer.log")"
[ "$got" = "$expected" ] || { fail "peer log of the connected call"; echo "expected:"; echo "$expected"; echo "got:"; echo "$got"; }

echo "== ShutdownTAPI without Disconnect still hangs the modem up"
run_script "$work/peer.ini" "5550100" shutdown
got="$(last_session "$work/peer.log")"
grep -qx "CMD ATDT5550100" <<<"$got" || fail "shutdown: dial string"
grep -qx "HANGUP ATH" <<<"$got" || { fail "shutdown: the modem was not hung up"; echo "$got"; }

echo "== refused calls end: busy, no carrier, no dial tone"
run_script "$work/peer.ini" "5550111,5550122,555-0133" ends
sleep 1
for c in "5550111 BUSY" "5550122 NO CARRIER" "5550133 NO DIALTONE"; do
  digits="${c%% *}" result="${c#* }"
  # The dial, its result, and the port closed after it.
  session="$(awk -v d="DIAL T$digits" '$0 == d {on=1} on {print} on && /^CLOSED$/ {exit}' "$work/peer.log")"
  grep -qx "CMD ATDT$digits" "$work/peer.log" || fail "$digits: dial string"
  grep -qx "RESULT $result" <<<"$session" || fail "$digits: peer did not answer $result"
  grep -qx "CLOSED" <<<"$session" || fail "$digits: the port was not closed after $result"
done

echo "== a port that cannot be opened fails Connect"
scenario "$work/missing.ini" 251
rm -f "$WINEPREFIX/dosdevices/com251"
run_script "$work/missing.ini" "5550100" openfails
modem_peers_stop
[ $status != 0 ] || wine_run --remove-prefix
exit $status
fi

iaxmodem_available || { echo "SKIP: iaxmodem is not installed (scripts/bootstrap installs it)"; exit 77; }
iax_udp="${BREVLIN_IAX_SCRIPT_UDP:-4681}"
iaxmodem_pair "$iax_udp" "$((iax_udp + 1))" "$work" || { echo "FAIL: iaxmodem did not start"; exit 1; }
iaxmodem_answer "$work" 90 || true
ln -sfn "$IAX_DIR/tty-near" "$WINEPREFIX/dosdevices/com$iax_port"
scenario "$work/iax.ini" "$iax_port" "Init=ATZ|ATE0V1|AT+FCLASS=1" "CommandGapMs=1000"
echo "== iaxmodem: connects to the far modem, Disconnect hangs up"
# The fax handshake takes a few seconds after the far side answers.
run_script "$work/iax.ini" "+1 (555) 010-0100" connect 8
sleep 2
modem_peers_stop
echo "---- far side"; cat "$work/far.log"
for want in "RX RING" "TX ATA" "RX CONNECT" "RX NO CARRIER"; do
  grep -qx -- "$want" "$work/far.log" || fail "iaxmodem far side did not see: $want"
done
[ $status != 0 ] || wine_run --remove-prefix
exit $status
