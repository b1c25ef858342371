#!/usr/bin/env python3
"""Keeps the hosted CI's workflows in step with the project's scripts.

    check_workflow.py SOURCE_DIR

For every `run:` of every job in SOURCE_DIR/.github/workflows/*.yml, each
project file it calls (scripts/..., tests/..., .ci/...) must exist, and
must name in its own text (its usage) each --flag the workflow gives it
and the command word that follows it (packages.js install, readme_check.py
blocks). Prints one line per fault and exits 1 when there is any."""
import glob
import os
import re
import sys

import yaml

CALLED = re.compile(r"(?<![\w/\\.])((?:scripts|tests|\.ci)[/\\][\w.\-/\\]+)")
# What ends one command in cmd and in bash.
SEPARATORS = {"&", "&&", "|", "||", ";", ">", ">>", "<", "2>&1"}


def runs(path):
    with open(path, encoding="utf-8") as f:
        workflow = yaml.safe_load(f)
    for job_name, job in (workflow.get("jobs") or {}).items():
        for step in job.get("steps") or []:
            if "run" in step:
                yield f"{os.path.basename(path)}: {job_name}: {step.get('name', step['run'][:40])}", step["run"]


def arguments(rest):
    """The words after a call, up to the end of its command; quoted words
    keep their quotes' content."""
    words = []
    for word in re.findall(r'"[^"]*"|\S+', rest.split("\n", 1)[0]):
        if word in SEPARATORS or word.startswith((">", "2>")):
            break
        words.append(word.strip('"'))
    return words


def check(root):
    faults = []
    files = sorted(glob.glob(os.path.join(root, ".github", "workflows", "*.yml")))
    if not files:
        faults.append("no workflow in .github/workflows")
    calls = 0
    for path in files:
        for where, text in runs(path):
            for m in CALLED.finditer(text):
                calls += 1
                name = m.group(1).replace("\\", "/")
                script = os.path.join(root, name)
                if not os.path.isfile(script):
                    faults.append(f"{where}: calls {name}, which does not exist")
                    continue
                with open(script, encoding="utf-8", errors="replace") as f:
                    usage = f.read()
                words = arguments(text[m.end():])
                wanted = [w for w in words if w.startswith("--")]
                if words and re.fullmatch(r"[a-z]+", words[0]):
                    wanted.append(words[0])
                for word in wanted:
                    if not re.search(r"(?<![\w-])" + re.escape(word) + r"(?![\w-])", usage):
                        faults.append(f"{where}: gives {name} {word}, which it does not take")
    for fault in faults:
        print("FAIL: " + fault)
    if not faults:
        print(f"ok: {calls} calls of project scripts in {len(files)} workflow(s), each with flags it takes")
    return 1 if faults else 0


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    sys.exit(check(sys.argv[1]))
