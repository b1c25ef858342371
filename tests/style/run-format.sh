#!/usr/bin/env bash
# Every C++ source the project tracks is formatted as .clang-format says.
#   run-format.sh SOURCE_DIR
set -uo pipefail
cd "$1" || exit 1
mapfile -t files < <(git ls-files '*.cpp' '*.h')
clang-format --dry-run --Werror "${files[@]}"
