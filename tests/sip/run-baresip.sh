#!/usr/bin/env bash
# Runs the agent-connection cases of a Windows test program under Wine
# against baresip on loopback:
#   run-baresip.sh PROGRAM WORKDIR
# Three instances: the caller (the agent the tests drive), one answering at
# once, one ringing until a test rejects the call over its control port.
# The last case kills the caller by process id in the middle of a call.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
program="$1"; work="$2"
command -v baresip >/dev/null 2>&1 || { echo "FAIL: baresip is not installed (scripts/bootstrap installs it)"; exit 1; }
. "$here/baresip-peers.sh"
export WINEPREFIX="${WINEPREFIX:-$root/build/wineprefix}"
"$root/scripts/wine-run" cmd /c exit >/dev/null 2>&1 || true

sip_peers_init "$work"
sip_peer_start caller caller
sip_peer_start answer answer
sip_peer_start manual manual
sip_free_port
export BREVLIN_SIP_CALLER="127.0.0.1:${CTRL_PORT[caller]}"
export BREVLIN_SIP_ANSWER="127.0.0.1:${CTRL_PORT[answer]}"
export BREVLIN_SIP_ANSWER_URI="sip:callee@127.0.0.1:${SIP_PORT[answer]}"
export BREVLIN_SIP_MANUAL="127.0.0.1:${CTRL_PORT[manual]}"
export BREVLIN_SIP_MANUAL_URI="sip:callee@127.0.0.1:${SIP_PORT[manual]}"
export BREVLIN_SIP_DEAD="127.0.0.1:$FREE_PORT"
export BREVLIN_SIP_MARK="Z:$work/established"

status=0
"$root/scripts/wine-run" "$program" --gtest_filter='-*KilledMidCall*' || status=1

# The caller is killed (as by a crash: SIGKILL) once the test says its call
# is established.
rm -f "$work/established"
"$root/scripts/wine-run" "$program" --gtest_filter='*KilledMidCall*' &
test_pid=$!
for _ in $(seq 200); do [ -f "$work/established" ] && break; sleep 0.1; done
[ -f "$work/established" ] || echo "FAIL: the call to kill was never established"
sip_peer_stop caller KILL
wait "$test_pid" || status=1

for name in answer manual caller; do
  echo "---- $name"; grep -aE "Call|call:|session closed|terminated" "${PEER_DIR[$name]}/out.log" | tr -d '\r' | head -30 || true
done
sip_peers_stop_all
exit $status
