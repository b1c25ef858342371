#!/usr/bin/env bash
# Checks that the release archive holds what the README says it holds:
# both architectures' DLLs and dial.exe, the example hosts and scenarios,
# and the README itself.
#   run-archive.sh SOURCE_DIR
set -uo pipefail
src="$1"
version="$(sed -n 's/^project(Brevlin VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")"
zip="$src/dist/brevlin-$version.zip"
[ -f "$zip" ] || { echo "FAIL: $zip is missing"; exit 1; }
grep -qF "dist/brevlin-$version.zip" "$src/README.md" || { echo "FAIL: the README does not name brevlin-$version.zip"; exit 1; }
listing="$(cd "$(mktemp -d)" && cmake -E tar tf "$zip")"
failures=0
expect=(README.md examples/dial.vbs examples/dial.js examples/dial.cpp)
for arch in x64 x86; do
  for f in Brevlin.dll TelSim.dll dial.exe; do expect+=("$arch/$f"); done
done
for ini in "$src"/examples/scenarios/*.ini; do expect+=("examples/scenarios/$(basename "$ini")"); done
for f in "${expect[@]}"; do
  if grep -qx "brevlin-$version/$f" <<<"$listing"; then
    echo "ok: $f"
  else
    echo "FAIL: brevlin-$version/$f is not in the archive"; failures=$((failures + 1))
  fi
done
# Nothing else: no build products or test programs slip in.
extra="$(grep -v '/$' <<<"$listing" | grep -vxF -f <(printf "brevlin-$version/%s\n" "${expect[@]}"))"
if [ -n "$extra" ]; then
  echo "FAIL: unexpected files in the archive:"; echo "$extra"; failures=$((failures + 1))
fi
[ $failures = 0 ]
