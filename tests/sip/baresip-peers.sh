# Starts and stops baresip instances on loopback for the SIP-line tests and
# the SIP demo. Source it, then:
#   sip_peers_init WORKDIR        (a trap stops every peer on exit)
#   sip_peer_start NAME MODE [USER]
#                                 MODE: caller | answer (answers at once) |
#                                 manual (rings until told over its control port);
#                                 USER: its account's user (caller or callee)
#   ${SIP_PORT[NAME]} ${CTRL_PORT[NAME]} ${PEER_PID[NAME]} ${PEER_DIR[NAME]}
#   sip_peer_watch NAME           holds the peer's control connection (it takes
#                                 one at a time), writes its call events to
#                                 ${PEER_DIR[NAME]}/events (TYPE<tab>PARAM<tab>PEER)
#   sip_peer_hangup NAME          the watched peer hangs up its current call
#   sip_peer_stop NAME [SIGNAL]   (by process id; TERM unless given)
#   sip_free_port                 sets FREE_PORT to a port nobody uses
# Every instance has its own configuration folder, its own ports (SIP on
# UDP and TCP, its TLS transport one above, the control port) and plays an
# 8 kHz tone that lasts longer than any test call: baresip ends a call when
# its audio file runs out.
declare -A SIP_PORT CTRL_PORT PEER_PID PEER_DIR WATCH_PID
SIP_WORK=""
SIP_TAKEN=" "
FREE_PORT=""

sip_peers_init() {
  SIP_WORK="$1"
  rm -rf "$SIP_WORK"; mkdir -p "$SIP_WORK"
  python3 - "$SIP_WORK/tone.wav" <<'PY'
import math, struct, sys, wave
# 400 Hz is 20 samples a period at 8 kHz: one period, repeated for 180 s.
period = b"".join(struct.pack("<h", int(6000 * math.sin(2 * math.pi * i / 20))) for i in range(20))
with wave.open(sys.argv[1], "wb") as w:
    w.setnchannels(1); w.setsampwidth(2); w.setframerate(8000)
    w.writeframes(period * (8000 // 20 * 180))
PY
  trap sip_peers_stop_all EXIT
}

# Sets FREE_PORT to a port P, not handed out before in this run, where TCP and UDP P and P+1
# can all be bound now (P+1 for the TLS transport of a SIP port).
sip_free_port() {
  local port
  for _ in $(seq 200); do
    port=$((20000 + RANDOM % 20000))
    case "$SIP_TAKEN" in *" $port "*|*" $((port + 1)) "*|*" $((port - 1)) "*) continue ;; esac
    if python3 - "$port" <<'PY'
import socket, sys
p = int(sys.argv[1]); held = []
try:
    for port in (p, p + 1):
        for kind in (socket.SOCK_STREAM, socket.SOCK_DGRAM):
            s = socket.socket(socket.AF_INET, kind); held.append(s); s.bind(("127.0.0.1", port))
except OSError:
    sys.exit(1)
PY
    then
      SIP_TAKEN+="$port $((port + 1)) "
      FREE_PORT=$port; return 0
    fi
  done
  echo "sip_free_port: no free port found" >&2; return 1
}

sip_peer_start() {  # name mode [user]
  local name="$1" mode="$2" dir="$SIP_WORK/$1" sip ctrl rtp answer=""
  sip_free_port; sip=$FREE_PORT
  sip_free_port; ctrl=$FREE_PORT
  sip_free_port; rtp=$FREE_PORT
  mkdir -p "$dir"
  cat >"$dir/config" <<CONF
poll_method        poll
sip_listen         127.0.0.1:$sip
net_interface      127.0.0.1
module_path        /usr/lib/baresip/modules
module             g711.so
module             aufile.so
module             ctrl_tcp.so
ctrl_tcp_listen    127.0.0.1:$ctrl
audio_source       aufile,$SIP_WORK/tone.wav
audio_player       aufile,$dir/heard.wav
audio_alert        aufile,/dev/null
module_app         account.so
module_app         menu.so
rtp_ports          $rtp-$((rtp + 7))
CONF
  [ "$mode" = answer ] && answer=";answermode=auto"
  local user=callee; [ "$mode" = caller ] && user=caller
  [ -n "${3:-}" ] && user="$3"
  # An answering peer must refuse a call for any other user with 404, as
  # baresip 1.0 does for an account that does not register. Baresip 1.1
  # takes every call for such an account, so this one registers, to a port
  # nobody listens on, which keeps the REGISTER off 5060 and unanswered.
  local account="<sip:$user@127.0.0.1>;regint=0"
  if [ "$mode" != caller ]; then
    sip_free_port
    account="<sip:$user@127.0.0.1:$FREE_PORT>;regint=3600"
  fi
  echo "$account$answer" >"$dir/accounts"
  baresip -f "$dir" </dev/null >"$dir/out.log" 2>&1 &
  PEER_PID[$name]=$!; SIP_PORT[$name]=$sip; CTRL_PORT[$name]=$ctrl; PEER_DIR[$name]=$dir
  for _ in $(seq 100); do
    if (exec 3<>"/dev/tcp/127.0.0.1/$ctrl") 2>/dev/null; then return 0; fi
    kill -0 "${PEER_PID[$name]}" 2>/dev/null || break
    sleep 0.1
  done
  echo "baresip $name did not start:"; cat "$dir/out.log"
  return 1
}

sip_peer_watch() {  # name
  local name="$1" events="${PEER_DIR[$1]}/events"
  rm -f "$events"
  python3 - "${CTRL_PORT[$name]}" "$events" <<'PY' &
import json, signal, socket, sys
agent = socket.create_connection(("127.0.0.1", int(sys.argv[1])))
out = open(sys.argv[2], "w", buffering=1)

def hangup(*_):
    body = json.dumps({"command": "hangup", "params": "", "token": "watch"}).encode()
    agent.sendall(b"%d:%s," % (len(body), body))

signal.signal(signal.SIGUSR1, hangup)
signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
data = b""
while True:
    chunk = agent.recv(65536)
    if not chunk:
        break
    data += chunk
    while b":" in data:
        size, _, rest = data.partition(b":")
        if len(rest) <= int(size):
            break
        message, data = json.loads(rest[:int(size)]), rest[int(size) + 1:]
        if message.get("event") and message.get("class") == "call":
            out.write("\t".join(str(message.get(k, "")) for k in ("type", "param", "peeruri")) + "\n")
PY
  WATCH_PID[$name]=$!
  for _ in $(seq 50); do [ -e "$events" ] && return 0; sleep 0.1; done
  echo "sip_peer_watch: no control connection to $name"; return 1
}

sip_peer_hangup() {  # name
  kill -USR1 "${WATCH_PID[$1]}"
}

# A peer that still has a call when told to stop (its far end killed) waits
# for its goodbye to time out, about 32 s: a second TERM ends it at once.
sip_peer_stop() {  # name [signal]
  local pid="${PEER_PID[$1]:-}" watcher="${WATCH_PID[$1]:-}"
  if [ -n "$watcher" ]; then
    kill "$watcher" 2>/dev/null || true
    wait "$watcher" 2>/dev/null || true
    unset "WATCH_PID[$1]"
  fi
  [ -n "$pid" ] || return 0
  kill -"${2:-TERM}" "$pid" 2>/dev/null || true
  for _ in $(seq 20); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -TERM "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  unset "PEER_PID[$1]"
}

sip_peers_stop_all() {
  local name
  for name in "${!PEER_PID[@]}"; do sip_peer_stop "$name"; done
}
