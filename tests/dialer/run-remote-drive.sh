#!/usr/bin/env bash
# Runs PROGRAM in a Wine prefix of its own in which Y: is a drive the
# platform reports as remote: Wine does so for a letter linked in the
# prefix's dosdevices whose value under HKLM\Software\Wine\Drives is
# `network`. The drive's kind is read when the Wine session starts, so the
# session that set it up is let end first.
#   run-remote-drive.sh PROGRAM PREFIX_DIR
set -uo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
program="$1"
export WINEPREFIX="$2"
wine_run() { "$root/scripts/wine-run" "$@"; }
. "$root/tests/support/wine-arch.sh"
settle() {
  if [ "$BREVLIN_ARCH" = x86 ]; then "$root/scripts/x86-wine" run wineserver -w; else wineserver -w; fi
}

rm -rf "$WINEPREFIX"
wine_run reg add 'HKLM\Software\Wine\Drives' /v 'y:' /d network /f >/dev/null ||
  { echo "FAIL: cannot mark y: as a network drive"; exit 1; }
mkdir -p "$WINEPREFIX/remote"
ln -sfn "$WINEPREFIX/remote" "$WINEPREFIX/dosdevices/y:"
settle
wine_run "$program" || exit
wine_run --remove-prefix
