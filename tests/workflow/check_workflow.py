#!/usr/bin/env python3
"""Keeps the hosted CI's workflows in step with the project's scripts.

    check_workflow.py SOURCE_DIR

For every `run:` of every job in SOURCE_DIR/.github/workflows/*.yml, each
project file it calls (scripts/..., tests/..., .ci/...) must exist, and
must name in its own text (its usage) each --flag the workflow gives it
and the command word that follows it (packages.js install, readme_check.py
blocks). Besides:
  - every step has its own timeout-minutes;
  - every project script run under cscript runs through LAUNCHER, and
    prints the summary line LAUNCHER requires of it, under a catch-all;
  - a tag is checked against the project's version before .ci/run, and
    a wrong one fails with both values shown;
  - every file of dist/readme the workflow runs is one the readme test
    writes there;
  - the release's SHA256SUMS is made over exactly what it attaches: the
    release job's `scripts/release files DIST OUT` is run on SOURCE_DIR's
    dist/, and its gh commands must attach OUT/* and nothing else.
Prints one line per fault and exits 1 when there is any."""
import glob
import os
import re
import shlex
import subprocess
import sys
import tempfile

import yaml

LAUNCHER = "scripts/windows/run-js.cmd"

CALLED = re.compile(r"(?<![\w/\\.])((?:scripts|tests|\.ci)[/\\][\w.\-/\\]+)")
# What ends one command in cmd and in bash.
SEPARATORS = {"&", "&&", "|", "||", ";", ">", ">>", "<", "2>&1"}


def steps(path):
    """(where, job name, step) for every step of every job."""
    with open(path, encoding="utf-8") as f:
        workflow = yaml.safe_load(f)
    for job_name, job in (workflow.get("jobs") or {}).items():
        for step in job.get("steps") or []:
            label = step.get("name") or step.get("uses") or step.get("run", "")[:40]
            yield f"{os.path.basename(path)}: {job_name}: {label}", job_name, step


def runs(path):
    for where, _, step in steps(path):
        if "run" in step:
            yield where, step["run"]


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
                if name == LAUNCHER:
                    continue  # its arguments are the script's, checked as its own call
                words = arguments(text[m.end():])
                wanted = [w for w in words if w.startswith("--")]
                if words and re.fullmatch(r"[a-z]+", words[0]):
                    wanted.append(words[0])
                for word in wanted:
                    if not re.search(r"(?<![\w-])" + re.escape(word) + r"(?![\w-])", usage):
                        faults.append(f"{where}: gives {name} {word}, which it does not take")
    for path in files:
        faults += time_limits(path) + cscript_summaries(root, path) + release_sums(root, path)
        faults += tag_first(root, path) + readme_files(root, path)
    for fault in faults:
        print("FAIL: " + fault)
    if not faults:
        print(f"ok: {calls} calls of project scripts in {len(files)} workflow(s), each with flags it takes; "
              "every step time-limited; cscript scripts end in their summary; SHA256SUMS covers the release")
    return 1 if faults else 0


def time_limits(path):
    return [f"{where}: has no timeout-minutes" for where, _, step in steps(path) if "timeout-minutes" not in step]


def cscript_summaries(root, path):
    """Each project script run under cscript goes through LAUNCHER and
    prints, under a top-level catch-all, the line LAUNCHER requires."""
    with open(os.path.join(root, LAUNCHER), encoding="utf-8") as f:
        required = re.search(r'/c:"%~nx1: (\w+)"', f.read())
    if not required:
        return [f"{LAUNCHER} requires no summary line of the script it runs"]
    faults, checked = [], set()
    for where, text in runs(path):
        for m in re.finditer(r"\bcscript(?:\.exe)?\s+(?://\w+\s+)*((?:scripts|tests)[/\\][\w./\\-]+)", text):
            faults.append(f"{where}: runs {m.group(1)} under cscript directly, not through {LAUNCHER}")
        for m in re.finditer(re.escape(LAUNCHER.replace("/", "\\")) + r"\s+(\S+)", text.replace("/", "\\")):
            script = m.group(1).replace("\\", "/")
            name = os.path.basename(script)
            if script in checked:
                continue
            checked.add(script)
            try:
                with open(os.path.join(root, script), encoding="utf-8") as f:
                    body = re.sub(r"^\s*//.*\n", "", f.read(), flags=re.M)  # its code, not its comments
            except OSError:
                continue  # reported as a call of a file that does not exist
            line = f'"{name}: {required.group(1)}'
            if line not in body:
                faults.append(f"{where}: {script} never prints the summary line {LAUNCHER} requires ({line[1:]})")
            if not re.search(r"^try \{$.*^\} catch \(", body, re.M | re.S):
                faults.append(f"{where}: {script} runs its body under no top-level catch-all")
    return faults


def tag_first(root, path):
    order = [w for w, t in runs(path) if "scripts/release tag" in t or re.search(r"^\.ci/run$", t, re.M)]
    if not order or "scripts/release tag" not in dict(runs(path))[order[0]]:
        return [f"{os.path.basename(path)}: no job checks the tag with scripts/release tag before .ci/run"]
    version = re.search(r"^project\(Brevlin VERSION ([0-9.]+)", open(os.path.join(root, "CMakeLists.txt")).read(), re.M)
    r = subprocess.run([os.path.join(root, "scripts/release"), "tag", "v9.9.9-rc1"], capture_output=True, text=True)
    if r.returncode != 1 or "v9.9.9-rc1" not in r.stderr or version.group(1) not in r.stderr:
        return [f"scripts/release tag passed a wrong tag, or did not name both it and the version: {r.stderr.strip()}"]
    return []


def readme_files(root, path):
    """The readme test writes every dist/readme file the workflow runs."""
    with open(os.path.join(root, "tests/readme/readme_check.py"), encoding="utf-8") as f:
        writer = f.read()
    names = {n for _, t in runs(path) for n in re.findall(r"dist[/\\]readme[/\\]([\w.-]+)", t)}
    return [f"{os.path.basename(path)}: runs dist/readme/{n}, which tests/readme/readme_check.py never writes"
            for n in sorted(names) if f'"{n}"' not in writer]


def gh_files(command):
    """The files a `gh release create|upload` command attaches."""
    words = shlex.split(command.replace("\\\n", " "), comments=True)
    valued = {"--repo", "-R", "--title", "-t", "--notes-file", "-F", "--notes", "-n", "--target"}
    positional, i = [], 3
    while i < len(words) and words[i] not in SEPARATORS:
        if words[i] in valued:
            i += 1
        elif not words[i].startswith("-"):
            positional.append(words[i])
        i += 1
    return positional[1:]  # after the tag


def release_sums(root, path):
    faults = []
    for where, text in runs(path):
        made = re.search(r"scripts/release files (\S+) (\S+)", text)
        if not made:
            continue
        out = made.group(2)
        release_job = [t for w, t in runs(path) if w.split(": ")[1] == where.split(": ")[1]]
        attached = [gh_files(m.group(0)) for t in release_job
                    for m in re.finditer(r"gh release (?:create|upload)\b(?:[^\\\n]|\\[\s\S])*", t)]
        if not attached:
            faults.append(f"{where}: the release job attaches nothing with gh release create or upload")
        faults += [f"{where}: a gh command attaches {files}, not {out}/* alone" for files in attached
                   if files != [f"{out}/*"]]
        with tempfile.TemporaryDirectory() as work:
            folder = os.path.join(work, out)
            r = subprocess.run([os.path.join(root, "scripts/release"), "files", os.path.join(root, "dist"), folder],
                               capture_output=True, text=True)
            if r.returncode != 0:
                faults.append(f"scripts/release files on dist/ failed: {r.stderr.strip()}")
                continue
            listed = open(os.path.join(folder, "SHA256SUMS")).read().splitlines()
            names = sorted(re.sub(r"^[0-9a-f]{64} [ *]", "", line) for line in listed)
            present = sorted(set(os.listdir(folder)) - {"SHA256SUMS"})
            if names != present:
                faults.append(f"the release's SHA256SUMS lists {names}, but it attaches {present}")
            if subprocess.run(["sha256sum", "--check", "--quiet", "--strict", "SHA256SUMS"], cwd=folder).returncode:
                faults.append("the release's SHA256SUMS does not match its files")
            version = re.search(r"^project\(Brevlin VERSION ([0-9.]+)", open(os.path.join(root, "CMakeLists.txt")).read(), re.M)
            name = f"brevlin-{version.group(1)}"
            wanted = sorted([f"{name}-x64.msi", f"{name}-x86.msi", f"{name}.zip", f"{name}-symbols.zip"])
            if present != wanted:
                faults.append(f"the release attaches {present}, not {wanted}")
    return faults


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    sys.exit(check(sys.argv[1]))
