#!/usr/bin/env bash
# Every project script the hosted CI's workflows call exists and takes the
# flags they give it (check_workflow.py).
#   run-scripts.sh SOURCE_DIR
exec python3 "$(dirname "$0")/check_workflow.py" "$1"
