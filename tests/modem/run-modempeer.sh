#!/usr/bin/env bash
# Runs a Windows test program under Wine against modempeer:
#   run-modempeer.sh PROGRAM WORKDIR [ARGS...]
# Starts a peer that answers (echo on; numbers 5550111 busy, 5550122 no
# carrier, 5550133 no dial tone, 5550144 no answer, 5550155 silent, 5550166
# drops the carrier, anything else connects) on COM41 and a mute one on
# COM42, in the Wine prefix the program runs in. Exits 77 (skipped) when
# there is no host compiler to build the peer.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
program="$1"; work="$2"; shift 2
port="${BREVLIN_MODEM_TEST_PORT:-41}"
mute_port=$((port + 1))
. "$here/modem-peers.sh"

export WINEPREFIX="${WINEPREFIX:-$root/build/wineprefix}"
modem_peers_init "$work" "$WINEPREFIX/dosdevices/com$port" "$WINEPREFIX/dosdevices/com$mute_port"
"$root/scripts/wine-run" cmd /c exit >/dev/null 2>&1 || true

"$PEER" serve --link "$work/tty-answer" --log "$work/peer.log" --echo --delay 300 \
  --number 5550111=busy --number 5550122=nocarrier --number 5550133=nodialtone \
  --number 5550144=noanswer --number 5550155=silent --number 5550166=drop \
  --timeout 120 >"$work/peer.out" 2>&1 & peer_started
"$PEER" serve --link "$work/tty-mute" --log "$work/mute.log" --mute \
  --timeout 120 >"$work/mute.out" 2>&1 & peer_started
for _ in $(seq 50); do
  [ -L "$work/tty-answer" ] && [ -L "$work/tty-mute" ] && break
  sleep 0.1
done
ln -sfn "$work/tty-answer" "$WINEPREFIX/dosdevices/com$port"
ln -sfn "$work/tty-mute" "$WINEPREFIX/dosdevices/com$mute_port"
rm -f "$WINEPREFIX/dosdevices/com250"

export BREVLIN_MODEM_PORT="$port" BREVLIN_MODEM_MUTE_PORT="$mute_port"
export BREVLIN_MODEM_LOG="Z:${work//\//\\}\\peer.log"
status=0
"$root/scripts/wine-run" "$program" "$@" || status=$?
if [ $status -ne 0 ]; then
  echo "---- peer log"; cat "$work/peer.log" 2>/dev/null || true
fi
exit $status
