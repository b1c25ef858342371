# The modem peers of the modem-line tests: modempeer (tools/modempeer) and
# pairs of iaxmodem instances talking IAX2 over loopback, each started in
# the background and stopped by its process id. Source it, then:
#   modem_peers_init WORKDIR [FILE...]  WORKDIR made afresh; PEER is the
#       modempeer program (exit 77, skipped, when there is no host compiler
#       to build it; 1 when the build fails); on
#       exit every peer is stopped and the FILEs (COM port links) removed
#   peer_started                        remembers the peer just started with &
#   modem_peers_stop                    stops every peer remembered
#   iaxmodem_available                  whether iaxmodem is installed here
#   iaxmodem_pair NEAR_UDP FAR_UDP OUTDIR  two instances, each the other's
#       server (no PBX: `refresh 0`), their devices $IAX_DIR/tty-near and
#       $IAX_DIR/tty-far; false (their output shown) if they do not start.
#       IAX_DIR is a short folder of its own under /tmp, whatever the
#       length of WORKDIR (iaxmodem cuts long device paths), removed on exit
#   iaxmodem_answer OUTDIR TIMEOUT      modempeer answering the far instance,
#       logging to OUTDIR/far.log; false if it never gets ready
MODEM_WORK=""
IAX_DIR=""
MODEM_FILES=()
PEER_PIDS=()

modem_peers_init() {
  local root
  root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
  MODEM_WORK="$1"; shift
  MODEM_FILES=("$@")
  if ! PEER="$("$root/tools/modempeer/build.sh" "$root/build/modempeer/modempeer" 2>"$MODEM_WORK.build.log")"; then
    command -v "${CXX_HOST:-g++}" >/dev/null 2>&1 || { echo "SKIP: no host compiler for modempeer"; exit 77; }
    echo "FAIL: modempeer cannot be built with the host compiler:"; cat "$MODEM_WORK.build.log"; exit 1
  fi
  rm -rf "$MODEM_WORK"; mkdir -p "$MODEM_WORK"
  trap 'modem_peers_stop; rm -f "${MODEM_FILES[@]}"; [ -z "$IAX_DIR" ] || rm -rf "$IAX_DIR"' EXIT
}

peer_started() { PEER_PIDS+=($!); }

modem_peers_stop() {
  local pid
  for pid in "${PEER_PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${PEER_PIDS[@]}"; do wait "$pid" 2>/dev/null || true; done
  PEER_PIDS=()
}

# iaxmodem reads its configuration only from /etc/iaxmodem/<name>; a name
# that climbs back to / lets the files live in the test's own folder.
iaxmodem_available() { command -v iaxmodem >/dev/null 2>&1 && [ -d /etc/iaxmodem ]; }

iaxmodem_config() {  # name udp-port other-udp-port
  cat >"$IAX_DIR/$1.conf" <<CONF
device $IAX_DIR/tty-$1
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

iaxmodem_pair() {  # near-udp far-udp outdir
  mkdir -p "$3"
  [ -n "$IAX_DIR" ] || IAX_DIR="$(mktemp -d /tmp/bvm.XXXX)"
  iaxmodem_config near "$1" "$2"
  iaxmodem_config far "$2" "$1"
  rm -f "$IAX_DIR/tty-near" "$IAX_DIR/tty-far"
  # iaxmodem signals its whole process group when it stops: its own session
  # keeps that away from this script and the wineserver it started.
  setsid iaxmodem "../..$IAX_DIR/near.conf" >"$3/near.out" 2>&1 & peer_started
  # Started a moment apart so their call numbers differ.
  sleep 1
  setsid iaxmodem "../..$IAX_DIR/far.conf" >"$3/far.out" 2>&1 & peer_started
  for _ in $(seq 50); do
    [ -L "$IAX_DIR/tty-near" ] && [ -L "$IAX_DIR/tty-far" ] && return 0
    sleep 0.1
  done
  cat "$3/near.out" "$3/far.out"
  return 1
}

iaxmodem_answer() {  # outdir timeout
  "$PEER" answer --device "$IAX_DIR/tty-far" --init ATZ --init ATE0V1 --init AT+FCLASS=1 \
    --log "$1/far.log" --timeout "$2" >"$1/answer.out" 2>&1 & peer_started
  for _ in $(seq 60); do
    grep -q READY "$1/far.log" 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}
