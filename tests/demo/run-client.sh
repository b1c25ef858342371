#!/usr/bin/env bash
# Builds a client from the release archive alone, as a developer who has only
# the zip would: examples/dial.cpp against include/brevlin.h with mingw-w64's
# C++ compiler, and a C file using the header's C bindings. Then registers
# the archive's DLLs of the compiler's architecture (BREVLIN_ARCH) in a Wine
# prefix of its own and runs that dial.exe:
# a call that connects, and one that fails with the dialer's description.
#   run-client.sh SOURCE_DIR WORK_DIR CXX CC
set -uo pipefail
src="$1"; work="$2"; cxx="$3"; cc="$4"
. "$src/tests/support/release-zip.sh"
unpack_release_zip "$src" "$work"
export WINEPREFIX="$work/prefix"
run() { "$src/scripts/wine-run" "$@"; }
winpath() { echo "Z:$(echo "$1" | sed 's|/|\\|g')"; }
. "$src/tests/support/wine-arch.sh"

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Only the archive's folder is on the include path.
"$cxx" -std=c++17 -O2 -Wall -Wextra -municode -static -I "$pkg/include" "$pkg/examples/dial.cpp" \
  -o "$work/dial.exe" -lole32 -loleaut32 -luuid || fail "dial.cpp does not build against the archive"
cat >"$work/client.c" <<'C'
#define COBJMACROS
#include <initguid.h>
#include "brevlin.h"

HRESULT Dial(ITAPIDialer* dialer, BSTR number) { return ITAPIDialer_Connect(dialer, number); }
const GUID* const ids[] = {&IID_ITAPIDialer, &CLSID_TAPIDialer, &LIBID_BREVLINLib};
C
"$cc" -std=c99 -Wall -Wextra -pedantic -Werror -I "$pkg/include" -c "$work/client.c" -o "$work/client.o" ||
  fail "brevlin.h does not compile as C"
[ $failures = 0 ] && echo "ok: dial.cpp and a C client build from the archive alone"

if [ -f "$work/dial.exe" ]; then
  run "$REGSVR32" /s "$(winpath "$pkg/testing/$BREVLIN_ARCH/TelSim.dll")" || fail "registering the archive's TelSim.dll"
  run "$REGSVR32" /s "$(winpath "$pkg/$BREVLIN_ARCH/Brevlin.dll")" || fail "registering the archive's Brevlin.dll"
  # dial SCENARIO EXPECTED_STATUS PATTERN...
  dial() {
    local scenario="$1" expected="$2" out="$work/$1.out" status pattern
    shift 2
    BREVLIN_TELSIM_SCENARIO="$(winpath "$pkg/examples/scenarios/$scenario.ini")" \
      run "$work/dial.exe" --hold 1 >"$out" 2>&1
    status=$?
    local ok=1
    [ "$status" = "$expected" ] || { fail "$scenario: exit $status, expected $expected"; ok=0; }
    for pattern in "$@"; do
      grep -qF -- "$pattern" "$out" || { fail "$scenario: no \"$pattern\" in the output"; ok=0; }
    done
    if [ $ok = 1 ]; then echo "ok: $scenario"; else sed 's/^/    | /' "$out"; fi
  }
  dial default 0 "Connected: True" "hung up" "telephony shut down"
  dial nolines 1 "0x80004005  Couldn't locate valid modem or TSP driver."
fi
[ $failures = 0 ] || exit
"$src/scripts/wine-run" --remove-prefix
