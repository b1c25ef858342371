#!/usr/bin/env bash
# End to end: Brevlin.dll and TelSim.dll registered in a Wine prefix of
# their own, a scenario with one SIP line whose agent is a baresip caller on
# loopback, and sip_call.vbs under cscript dialling a second baresip that
# answers at once (its user is the number the location's rules make of
# +1 (555) 010-0100). The answering peer's own events must show every call
# established and how it ended.
#   run-sip-script.sh BREVLIN_DLL TELSIM_DLL PREFIX_DIR WORK_DIR
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
brevlin="$1" telsim="$2" work="$4"
export WINEPREFIX="$3"
command -v baresip >/dev/null 2>&1 || { echo "FAIL: baresip is not installed (scripts/bootstrap installs it)"; exit 1; }
. "$here/baresip-peers.sh"

winpath() { printf 'Z:%s' "$(printf '%s' "$1" | tr / '\\')"; }
. "$root/tests/support/wine-arch.sh"
status=0
fail() { echo "FAIL: $*"; status=1; }

sip_peers_init "$work"
marks="$work/marks"
mkdir -p "$marks"
for dll in "$brevlin" "$telsim"; do
  "$root/scripts/wine-run" "$REGSVR32" /s "$(winpath "$dll")" || { echo "FAIL: regsvr32 $(basename "$dll")"; exit 1; }
done

sip_peer_start caller caller || exit 1
sip_peer_start answer answer 0100100 || exit 1
sip_peer_watch answer || exit 1
started=("${PEER_PID[caller]}" "${PEER_PID[answer]}" "${WATCH_PID[answer]}")
events="${PEER_DIR[answer]}/events"
cat >"$work/sip.ini" <<INI
[Location]
CountryCode=1
AreaCode=555
[Line1]
Name=SIP Loopback
Kind=sip
Agent=127.0.0.1:${CTRL_PORT[caller]}
Domain=127.0.0.1:${SIP_PORT[answer]}
INI

count() { grep -c "^$1	" "$events"; }

# What the script waits for at a mark.
act() {
  case "$1" in
    answered)
      for _ in $(seq 100); do
        [ "$(count CALL_ESTABLISHED)" -gt "$(count CALL_CLOSED)" ] && return 0
        sleep 0.1
      done
      echo "the answering peer never had the call established" ;;
    farhangup) sip_peer_hangup answer ;;
    kill) sip_peer_stop caller KILL ;;
  esac
}

# Emulated, beside another entry, the first script's five calls did not end
# within the 90 s that is ample on the host.
script_limit=90
[ -n "${BREVLIN_IN_VM:-}" ] && script_limit=360
run_script() {  # cases...
  BREVLIN_TELSIM_SCENARIO="$(winpath "$work/sip.ini")" timeout "$script_limit" "$root/scripts/wine-run" "$CSCRIPT" //nologo \
    "$(winpath "$here/sip_call.vbs")" "$(winpath "$marks")" "+1 (555) 010-0100" "+1 (555) 010-0199" "$@" &
  local pid=$! mark
  while kill -0 "$pid" 2>/dev/null; do
    for mark in "$marks"/*; do
      case "$mark" in *"/*"|*.done) continue ;; esac
      [ -e "$mark.done" ] || { act "$(basename "$mark")"; : >"$mark.done"; }
    done
    sleep 0.1
  done
  wait "$pid" || fail "sip_call.vbs $* (exit $?)"
}

echo "== Disconnect, a call replaced, the far end hangs up, a missing user, ShutdownTAPI"
run_script disconnect farhangup missing shutdown
echo "== the caller's agent killed mid-call, then no agent listening"
run_script kill noagent

echo "---- the answering peer's calls"
got="$(grep -E "^CALL_(ESTABLISHED|CLOSED)	" "$events" | cut -f1,2)"
echo "$got"
established=$'CALL_ESTABLISHED\tsip:caller@127.0.0.1'
byUs=$'CALL_CLOSED\tConnection reset by peer'
byItself=$'CALL_CLOSED\tConnection reset by user'
# Replaced by the second Connect, Disconnect, its own hang-up, ShutdownTAPI;
# the last call's caller was killed: nothing ended it here.
expected="$(printf '%s\n' "$established" "$byUs" "$established" "$byUs" "$established" "$byItself" \
  "$established" "$byUs" "$established")"
[ "$got" = "$expected" ] || { fail "the answering peer's calls"; echo "expected:"; echo "$expected"; }
grep -q "UA not found: 0100199" "${PEER_DIR[answer]}/out.log" || fail "the answering peer did not refuse 0100199"

sip_peers_stop_all
for pid in "${started[@]}"; do
  kill -0 "$pid" 2>/dev/null && fail "process $pid outlived the test"
done
[ $status != 0 ] || "$root/scripts/wine-run" --remove-prefix
exit $status
