# Sourced by the test runners that start from the release archive alone.
# unpack_release_zip SOURCE_DIR WORK_DIR: WORK_DIR made anew with the zip of
# SOURCE_DIR's version unpacked in it; sets version and pkg (the unpacked
# folder), or exits with a failure.
unpack_release_zip() {
  local src="$1" work="$2" zip
  version="$(sed -n 's/^project(Brevlin VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")"
  zip="$src/dist/brevlin-$version.zip"
  [ -f "$zip" ] || { echo "FAIL: $zip is missing"; exit 1; }
  rm -rf "$work"
  mkdir -p "$work"
  (cd "$work" && cmake -E tar xf "$zip") || { echo "FAIL: cannot unpack $zip"; exit 1; }
  pkg="$work/brevlin-$version"
}
