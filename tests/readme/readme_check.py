#!/usr/bin/env python3
"""Keeps the READMEs honest, without running anything under Wine.

    readme_check.py names SOURCE_DIR UNPACKED_ZIP_DIR [INSTALLED_DIR]
        every link of README.md, docs/*.md and telsim/README.md resolves, in
        the source tree, in the zip's copy and in the package's installed
        copy (the folder that holds its README.md); every scripts/NAME they name
        exists and takes each --flag named with it; every repository path and
        every path in the zip that they name exists; every release file
        README.md names is one that dist/ holds; every disk or time figure
        README.md gives is one that docs/ gives too.
    readme_check.py blocks SOURCE_DIR OUT_DIR
        writes the README's runnable examples as OUT_DIR/call.vbs, call.js,
        call.cpp and call.ps1 (which only the hosted Windows job runs), the
        output they document as expected.txt, and the compile
        commands it gives as compile.txt (mingw-w64) and compile-msvc.txt
        (Microsoft's cl, which only the hosted Windows job runs); fails on a
        fenced block of a kind the test neither runs nor knows it cannot run,
        on an example it cannot run that prints other lines than the ones it
        runs (examples/DialSelectedCell.bas too, which the README's VBA block
        must be, line for line), and on a message of the dialer's that the README's Errors and
        Troubleshooting quote wrongly or the Errors table leaves out.

Prints one line per fault and exits 1 when there is any."""
import glob
import os
import re
import sys

RUN = {"vbscript": "call.vbs", "javascript": "call.js", "cpp": "call.cpp"}
# PowerShell cannot run on the test machine, only on the hosted Windows
# runners; VBA nowhere but in Office. The README says so beside them.
WINDOWS_ONLY = {"powershell": "call.ps1"}
NOT_RUN = {"vba"} | set(WINDOWS_ONLY)
MODULE = "examples/DialSelectedCell.bas"
FIGURE = re.compile(r"\b(\d+(?:\.\d+)?) ?(GB|MB|minutes)\b")
REPO_TOPS = ("scripts/", "examples/", "tests/", "docs/", "telsim/", "component/", "resources/",
             "dialer/", "comkit/", "bench/", "tools/", "cmake/", "telephony/", ".ci/")
ZIP_TOPS = ("x64", "x86", "testing", "include", "examples")
PLACEHOLDER = re.compile(r"[<>*]|\.\.\.|NAME|ARCH|\bN\b")
faults = []


def fault(text):
    faults.append(text)
    print("FAIL: " + text)


def documents(root):
    files = [os.path.join(root, "README.md"), os.path.join(root, "telsim", "README.md")]
    return files + sorted(glob.glob(os.path.join(root, "docs", "*.md")))


def read(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


def fences(text):
    """(language, body, end offset) of each fenced block."""
    return [(m.group(1), m.group(2), m.end())
            for m in re.finditer(r"^```(\w*)\n(.*?)^```$", text, re.S | re.M)]


def prose(text):
    return re.sub(r"^```.*?^```$", "", text, flags=re.S | re.M)


def slug(heading):
    """The anchor a Markdown renderer such as GitHub's gives a heading."""
    return re.sub(r"[^\w\- ]", "", heading.strip().lower()).replace(" ", "-")


def check_links(root, label):
    for doc in documents(root):
        if not os.path.exists(doc):
            fault(f"{label}: {os.path.relpath(doc, root)} is missing")
            continue
        for target in re.findall(r"\]\(([^)\s]+)\)", prose(read(doc))):
            if re.match(r"[a-z]+:", target):
                continue
            path, _, anchor = target.partition("#")
            dest = os.path.normpath(os.path.join(os.path.dirname(doc), path)) if path else doc
            where = f"{label}: {os.path.relpath(doc, root)} links to {target}"
            if not os.path.exists(dest):
                fault(where + ", which does not exist")
            elif anchor and anchor not in {slug(h) for h in re.findall(r"^#+ (.*)$", prose(read(dest)), re.M)}:
                fault(where + ", a heading that does not exist")


def commands(doc_text):
    """Every piece of code a document shows: inline spans and block lines."""
    spans = [s.replace("\n", " ") for s in re.findall(r"`([^`]+)`", prose(doc_text))]
    lines = [line for lang, body, _ in fences(doc_text) for line in body.splitlines()]
    indented = re.findall(r"^    (\S.*)$", prose(doc_text), re.M)
    return spans + lines + indented


def check_names(root, unpacked):
    for doc in documents(root):
        name = os.path.relpath(doc, root)
        for code in commands(read(doc)):
            for script, args in re.findall(r"(?<![\w/])(scripts/[\w-]+(?:/[\w.-]*[\w-])*)((?:\s+[^\s`|;&]+)*)", code):
                # A script that runs another (x86-vm run scripts/wine-run
                # --x86 ...) hands it the options that follow its name.
                args, _, nested = args.partition(" scripts/")
                if nested:
                    code += " scripts/" + nested
                path = os.path.join(root, script)
                if not os.path.isfile(path):
                    fault(f"{name} names {script}, which does not exist")
                    continue
                # A script's options are its own or those of the scripts it
                # hands them to.
                text = read(path)
                for other in re.findall(r"\$root/(scripts/[\w-]+)", text):
                    if os.path.isfile(os.path.join(root, other)):
                        text += read(os.path.join(root, other))
                for flag in re.findall(r"(?<!\S)(--[a-z0-9][a-z0-9-]*)", args):
                    if not re.search(re.escape(flag) + r"(?![\w-])", text):
                        fault(f"{name} names {script} {flag}, which it does not take")
            for token in re.split(r"[\s,()]+", code):
                token = token.strip("'\".:;")
                if PLACEHOLDER.search(token) or "$" in token or "%" in token:
                    continue
                if token.startswith(REPO_TOPS):
                    if not any(os.path.exists(os.path.join(base, token))
                               for base in (root, os.path.dirname(doc))):
                        fault(f"{name} names {token}, which does not exist")
                    continue
                zipped = re.sub(r"^(C:\\)?brevlin-[\d.]+[\\/]", "", token).replace("\\", "/")
                if zipped.split("/")[0] in ZIP_TOPS and "/" in zipped and name == "README.md":
                    if not os.path.exists(os.path.join(unpacked, zipped)):
                        fault(f"{name} names {token}, which the zip does not hold")


def check_release(root):
    """The release files README.md names are those scripts/build made, and
    each figure it gives for disk or time is one the developers' pages give."""
    text = read(os.path.join(root, "README.md"))
    for name in sorted(set(re.findall(r"brevlin-[\d.]+(?:-\w+)?\.(?:msi|zip)", text))):
        if not os.path.isfile(os.path.join(root, "dist", name)):
            fault(f"README.md names the release file {name}, which dist/ does not hold")
    pages = "\n".join(read(p) for p in sorted(glob.glob(os.path.join(root, "docs", "*.md"))))
    given = {(float(n), unit) for n, unit in FIGURE.findall(pages)}
    for n, unit in FIGURE.findall(prose(text)):
        if (float(n), unit) not in given:
            fault(f"README.md gives {n} {unit}, which no page of docs/ gives")


def write_blocks(root, out):
    text = read(os.path.join(root, "README.md"))
    blocks = fences(text)
    written = {}
    expected = None
    for i, (lang, body, end) in enumerate(blocks):
        file = RUN.get(lang) or WINDOWS_ONLY.get(lang)
        if file:
            if file in written:
                fault(f"README.md has a second {lang} example; the test runs one of each")
            written[file] = body
        elif lang == "text" and expected is None:
            expected = body
        elif lang not in NOT_RUN and lang != "text":
            fault(f"README.md has a ```{lang} block that the test neither runs nor knows it cannot run")
    for lang, file in {**RUN, **WINDOWS_ONLY}.items():
        if file not in written:
            fault(f"README.md has no {lang} example")
    if expected is None:
        fault("README.md shows no output (```text) for its examples")
    # A reader finds what to download, what to register and a first script
    # on the first screenfuls.
    first = "\n".join(text.splitlines()[:130])
    for what, pattern in (("the packages", r"brevlin-[\d.]+-x64\.msi"), ("the host table", r"^\| host \|"),
                          ("a whole first script", r"^```vbscript\n.*?^```$")):
        if not re.search(pattern, first, re.S | re.M):
            fault(f"README.md does not show {what} in its first 130 lines")
    # An example the test cannot run still prints the lines the others do.
    module = read(os.path.join(root, MODULE)).replace("\r\n", "\n")
    unrun = [(f"README.md's {lang} example", body) for lang, body, _ in blocks if lang in NOT_RUN and "Connect" in body]
    for what, body in unrun + [(MODULE, module)]:
        for line in (expected or "").splitlines():
            shown = line.split(": ")[0] + ": " if line.startswith("lines: ") else line
            if f'"{shown}"' not in body:
                fault(f"{what} does not print \"{shown}\" as the others do")
    # The module a user imports is the one the README shows for pasting;
    # only the editor's Attribute lines, which cannot be pasted, are not shown.
    pasted = re.sub(r"^Attribute .*\n", "", module, flags=re.M)
    if not any(lang == "vba" and body == pasted for lang, body, _ in blocks):
        fault(f"README.md shows no VBA block that is {MODULE}, line for line")
    check_messages(root, text)
    compile_line = re.search(r"`(x86_64-w64-mingw32-g\+\+ [^`]+)`", text)
    if not compile_line:
        fault("README.md gives no mingw-w64 command for the C++ example")
    msvc_line = re.search(r"`(cl [^`]+)`", text)
    if not msvc_line:
        fault("README.md gives no command of Microsoft's compiler for the C++ example")
    if faults:
        return
    os.makedirs(out, exist_ok=True)
    for file, body in written.items():
        with open(os.path.join(out, file), "w", newline="\r\n" if file != "call.cpp" else "\n") as f:
            f.write(body)
    with open(os.path.join(out, "expected.txt"), "w") as f:
        f.write(expected)
    with open(os.path.join(out, "compile.txt"), "w") as f:
        f.write(compile_line.group(1).replace("\n", " ") + "\n")
    with open(os.path.join(out, "compile-msvc.txt"), "w", newline="\r\n") as f:
        f.write(msvc_line.group(1).replace("\n", " ") + "\n")


def section(text, heading):
    m = re.search(r"^## " + heading + r"\n(.*?)(?=^## |\Z)", text, re.S | re.M)
    return m.group(1) if m else ""


def check_messages(root, text):
    """The dialer's texts as its resources hold them: every one in the Errors
    table, and every sentence those sections quote is one of them."""
    rc = read(os.path.join(root, "resources", "messages.rc"))
    messages = set(re.findall(r'^\s*IDS_\w+\s+"([^"]*\.)"', rc, re.M))
    errors = section(text, "Errors")
    for message in sorted(messages):
        if f'"{message}"' not in errors:
            fault(f"README.md's Errors table leaves out the dialer's \"{message}\"")
    for quoted in re.findall(r'"([^"]+\.)"', errors + section(text, "Troubleshooting")):
        if quoted not in messages:
            fault(f"README.md quotes \"{quoted}\" as the dialer's, which no resource holds")


def main():
    if len(sys.argv) not in (4, 5) or sys.argv[1] not in ("names", "blocks"):
        sys.exit(__doc__)
    mode, root, other = sys.argv[1:4]
    if mode == "names":
        check_links(root, "source")
        check_links(other, "zip")
        if len(sys.argv) == 5:
            check_links(sys.argv[4], "package")
        check_names(root, other)
        check_release(root)
    else:
        write_blocks(root, other)
    sys.exit(1 if faults else 0)


if __name__ == "__main__":
    main()
