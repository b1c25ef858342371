#!/usr/bin/env bash
# Checks that the release archives hold what the README says they hold, and
# nothing else: both architectures' stripped DLLs, dial.exe and fidelity.exe, TelSim.dll
# only under testing/, the header and the IDL, the example hosts and
# scenarios, the READMEs and docs/ and SHA256SUMS,
# which must match, and also list the two MSI packages published beside the
# archive; and in the symbols archive, each binary's debug file.
#   run-archive.sh SOURCE_DIR
set -uo pipefail
src="$1"
version="$(sed -n 's/^project(Brevlin VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")"
name="brevlin-$version"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
packages=("$name-x64.msi" "$name-x86.msi")
for f in "$name.zip" "$name-symbols.zip" "${packages[@]}"; do
  [ -f "$src/dist/$f" ] || { echo "FAIL: dist/$f is missing"; exit 1; }
  # grep reads the files itself: behind a pipe, its early exit would fail
  # the pipeline.
  grep -qF "dist/$f" "$src/README.md" "$src"/docs/*.md || fail "neither README nor docs/ names dist/$f"
done
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# expect ARCHIVE FILE...: exactly these files, under brevlin-<version>/.
expect() {
  local zip="$1" listing f
  shift
  listing="$(cd "$work" && cmake -E tar tf "$src/dist/$zip")"
  for f in "$@"; do
    grep -qx "$name/$f" <<<"$listing" || fail "$zip lacks $name/$f"
  done
  local extra
  extra="$(grep -v '/$' <<<"$listing" | grep -vxF -f <(printf "$name/%s\n" "$@"))"
  [ -z "$extra" ] || fail "unexpected files in $zip: $(tr '\n' ' ' <<<"$extra")"
}

binaries=() debug=()
for arch in x64 x86; do
  for f in $arch/Brevlin.dll $arch/dial.exe $arch/fidelity.exe testing/$arch/TelSim.dll; do binaries+=("$f"); debug+=("$f.debug"); done
done
files=(README.md telsim/README.md testing/README.txt brevlin.idl include/brevlin.h SHA256SUMS
       examples/dial.vbs examples/dial.js examples/dial.ps1 examples/dial.cpp examples/DialSelectedCell.bas
       "${binaries[@]}")
for ini in "$src"/examples/scenarios/*.ini; do files+=("examples/scenarios/$(basename "$ini")"); done
for doc in "$src"/docs/*.md; do files+=("docs/$(basename "$doc")"); done
expect "$name.zip" "${files[@]}"
expect "$name-symbols.zip" "${debug[@]}"

# Unpacked together, every binary is stripped and its debug link finds its
# file with the right CRC; SHA256SUMS covers every other file of the archive,
# and the packages beside it as ../NAME.
(cd "$work" && cmake -E tar xf "$src/dist/$name.zip" && cmake -E tar xf "$src/dist/$name-symbols.zip")
for f in "${packages[@]}"; do cp "$src/dist/$f" "$work/"; done
for arch in x64 x86; do
  out="$("$src/scripts/check-artifacts" "$arch" "$work/$name/$arch/Brevlin.dll" "$work/$name/testing/$arch/TelSim.dll" \
         "$work/$name/$arch/dial.exe" "$work/$name/$arch/fidelity.exe")" || { fail "check-artifacts $arch on the archive:"; grep FAIL <<<"$out"; }
done
summed="$(cd "$work/$name" && sed 's/^[0-9a-f]*  //' SHA256SUMS)"
[ "$summed" = "$(printf '%s\n' "${files[@]}" | grep -vx SHA256SUMS | LC_ALL=C sort; printf '../%s\n' "${packages[@]}")" ] ||
  fail "SHA256SUMS does not list exactly the archive's other files and the packages"
(cd "$work/$name" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match the files"

[ $failures = 0 ] && echo "ok: $name.zip and $name-symbols.zip, and SHA256SUMS of the packages beside them"
[ $failures = 0 ]
