#!/usr/bin/env bash
# Builds the native modem peer with the host compiler.
#   tools/modempeer/build.sh [OUTPUT]   (default build/modempeer/modempeer)
# Rebuilds only when the source is newer than the program.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
out="${1:-$root/build/modempeer/modempeer}"
mkdir -p "$(dirname "$out")"
if [ ! -x "$out" ] || [ "$here/modempeer.cpp" -nt "$out" ]; then
  "${CXX_HOST:-g++}" -std=c++17 -O1 -Wall -Wextra -o "$out.tmp" "$here/modempeer.cpp"
  mv -f "$out.tmp" "$out"
fi
echo "$out"
