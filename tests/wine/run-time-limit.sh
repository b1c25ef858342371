#!/usr/bin/env bash
# A hung Windows program ends at its entry's time limit. PROGRAM never
# returns, and given --spawn starts a copy of itself that Wine runs detached;
# a nested CTest run holds two such entries with a limit of LIMIT seconds,
# started as every entry is (scripts/test-limit, scripts/wine-run): one in the
# shared prefix, one in a prefix of its own whose Wine session another
# program keeps. Each must fail before CTest's own kill, with no process of
# its program left, and the second with no process of its prefix left, Wine
# server and that other program included. Meanwhile a program in the shared
# prefix that belongs to no entry runs on; SIGTERM to its scripts/wine-run
# then ends it.
#   run-time-limit.sh PROGRAM LIMIT WORK_DIR
set -uo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
. "$root/tests/support/wine-arch.sh"
program="$1"
limit="$2"
work="$3"
rm -rf "$work"
mkdir -p "$work/nested"
shared="$root/build/wineprefix"
[ "$BREVLIN_ARCH" = x64 ] || shared="$root/build/wineprefix-x86"
export WINEPREFIX="$shared"

failures=0
check() {
  if [ "$2" = 0 ]; then echo "ok: $1"; else failures=$((failures + 1)); echo "FAIL: $1"; fi
}

# Every copy of the program has a name of its own, by which its processes
# are found: the first word of their command line ends in it (a Unix path,
# or the Z:\ path Wine gives the copy it starts).
declare -A exe
for name in bystander warm shared own; do
  exe[$name]="$work/hung-$name-$$.exe"
  cp "$program" "${exe[$name]}"
done
pids_of() {
  local file pid first base="${exe[$1]##*/}"
  for file in $(grep -laF -- "$base" /proc/[0-9]*/cmdline 2>/dev/null); do
    pid="${file#/proc/}"
    first=""
    read -r -d '' first 2>/dev/null <"$file"
    case "${first,,}" in *[/\\]"${base,,}") echo "${pid%/cmdline}" ;; esac
  done
}
prefix_pids() {
  grep -lzxF "WINEPREFIX=$1" /proc/[0-9]*/environ 2>/dev/null | cut -d/ -f3
}
# gone WHAT COMMAND...: COMMAND lists no process within 3 s.
gone() {
  local what="$1" left
  shift
  for _ in $(seq 30); do
    left="$("$@")"
    [ -z "$left" ] && return 0
    sleep 0.1
  done
  echo "$what left: $(echo $left)"
  return 1
}

# started NAME: waits until a process of NAME runs.
started() {
  for _ in $(seq 1200); do
    [ -n "$(pids_of "$1")" ] && return 0
    sleep 0.1
  done
  echo "FAIL: $1 never started"
  exit 1
}

# The bystander also makes the shared prefix on first use.
"$root/scripts/wine-run" "${exe[bystander]}" >/dev/null 2>&1 &
bystander_run=$!
warm_run=""
trap 'kill -TERM $bystander_run $warm_run 2>/dev/null' EXIT
started bystander

# A prefix of its own, which scripts/wine-run makes in a second.
own="$work/prefix"
# Its Wine session runs before the entry starts, as a runner's earlier
# programs leave it, so that the entry's program starts in good time.
WINEPREFIX="$own" "$root/scripts/wine-run" "${exe[warm]}" >/dev/null 2>&1 &
warm_run=$!
started warm

{
  for name in shared own; do
    echo "add_test($name \"$root/scripts/test-limit\" $limit \"$root/scripts/wine-run\" \"${exe[$name]}\" --spawn)"
    echo "set_tests_properties($name PROPERTIES TIMEOUT $limit)"
  done
  echo "set_tests_properties(own PROPERTIES ENVIRONMENT \"WINEPREFIX=$own\")"
} >"$work/nested/CTestTestfile.cmake"
(cd "$work/nested" && ctest -j 2 --output-on-failure >"$work/ctest.log" 2>&1) &
nested=$!
declare -A seen
while kill -0 $nested 2>/dev/null; do
  for name in shared own; do
    seen[$name]="$(echo ${seen[$name]:-} $(pids_of $name) | tr ' ' '\n' | sort -u)"
  done
  sleep 0.2
done
wait $nested
sed 's/^/  | /' "$work/ctest.log"

for name in shared own; do
  set -- ${seen[$name]}
  check "$name: the program and the copy it started ran ($# processes)" $(($# >= 2 ? 0 : 1))
  line="$(grep -E "Test +#[0-9]+: $name " "$work/ctest.log")"
  took="$(echo "$line" | grep -oE '[0-9.]+ sec' | cut -d. -f1)"
  # Failed by scripts/wine-run, before CTest would have killed it.
  echo "$line" | grep -q '\*\*\*Failed' && [ "${took:-0}" -ge $((limit / 2)) ] && [ "${took:-0}" -lt "$limit" ]
  check "$name: failed at about the limit of $limit s, not by CTest's kill (${took:-?} s)" $?
  gone "processes of $name" pids_of $name
  check "$name: no process of the program is left" $?
done
gone "processes of the prefix" prefix_pids "$own"
check "own: no process of its prefix is left, Wine server included" $?
wait $warm_run

[ -n "$(pids_of bystander)" ]
check "the shared prefix's other program runs on" $?
kill -TERM $bystander_run
wait $bystander_run
status=$?
[ $status = 143 ] && gone "processes of the bystander" pids_of bystander
check "SIGTERM to scripts/wine-run ends its program (exit $status)" $?

rm -rf "$work"
[ $failures = 0 ]
