#!/usr/bin/env bash
# Checks scripts/x86-vm run: a 32-bit Windows program's output and exit
# status come back, and the machine is gone after the time limit and after
# the script is sent SIGTERM.
#   run-x86-vm.sh SOURCE_DIR WORK_DIR
set -uo pipefail
src="$1"; work="$2"
vm="$src/scripts/x86-vm"
"$vm" status | grep '^made:' >/dev/null || { echo "SKIP: the emulated machine is not made here"; exit 77; }
rm -rf "$work"
mkdir -p "$work"
export WINEPREFIX="$work/prefix"

failures=0
passes=0
check() {
  if [ "$2" = 0 ]; then passes=$((passes + 1)); echo "ok: $1"; else failures=$((failures + 1)); echo "FAIL: $1"; fi
}
# machine_gone PID: no qemu of the x86-vm process PID is left.
machine_gone() {
  ! pgrep -a -f "brevlin-x86-$1( |$)"
}

# A 32-bit program of Wine's own, not of this project.
"$vm" run "$src/scripts/wine-run" --x86 'C:\windows\syswow64\cmd.exe' /c 'echo from-x86& exit 7' >"$work/out" 2>"$work/err" &
pid=$!
wait $pid
rc=$?
[ $rc = 7 ] && grep -q from-x86 "$work/out"
check "a 32-bit program's status (7, got $rc) and output come back" $?
machine_gone $pid
check "no machine left after a normal end" $?

start=$(date +%s)
BREVLIN_VM_TIMEOUT=40 "$vm" run sleep 600 >/dev/null 2>"$work/err" &
pid=$!
wait $pid
rc=$?
took=$(($(date +%s) - start))
[ $rc = 124 ] && [ $took -lt 90 ] && grep -q "time limit" "$work/err"
check "the time limit stops the machine (exit $rc after $took s)" $?
machine_gone $pid
check "no machine left after the time limit" $?

"$vm" run sleep 600 >/dev/null 2>&1 &
pid=$!
for _ in $(seq 60); do
  pgrep -f "brevlin-x86-$pid( |$)" >/dev/null && break
  sleep 1
done
kill -TERM $pid
wait $pid
rc=$?
[ $rc != 0 ]
check "SIGTERM ends the run with a failure (exit $rc)" $?
machine_gone $pid
check "no machine left after SIGTERM" $?

echo "$passes passed, $failures failed"
[ $failures = 0 ]
