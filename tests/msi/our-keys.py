#!/usr/bin/env python3
"""Prints the keys of Brevlin's registration found in a `reg export` of
HKEY_CLASSES_ROOT: the class, its ProgIDs, the type library, the interface,
and any other key with a value naming a Brevlin.dll. One .reg section per
key, sorted, values sorted, so that two registrations compare key by key.

    our-keys.py EXPORT.reg"""
import re
import sys

OURS = re.compile(r"^(CLSID\\\{6C04D28D-D046-4514-A463-19AE864ABA68\}|Brevlin\.TAPIDialer(\.1)?|"
                  r"TypeLib\\\{A98D2088-65A8-4490-8C57-CC6639597A5C\}|"
                  r"Interface\\\{BBE972A4-E5C9-4DCE-9793-49FBFEDC0FC8\})(\\|$)", re.I)
ROOT = "HKEY_CLASSES_ROOT\\"

text = open(sys.argv[1], "rb").read().decode("utf-16")
sections = []
for block in re.split(r"\r?\n\s*\r?\n", text):
    lines = block.strip().splitlines()
    if not lines or not lines[0].startswith("[" + ROOT):
        continue
    path = lines[0][len(ROOT) + 1:-1]
    # A value continued over several lines ends each but the last with "\".
    values, pending = [], ""
    for line in lines[1:]:
        pending += line.strip()
        if pending.endswith("\\"):
            pending = pending[:-1]
            continue
        values.append(pending)
        pending = ""
    if OURS.match(path) or any("brevlin.dll" in v.lower() for v in values):
        sections.append((path.lower(), "[%s]\n%s" % (path, "".join(v + "\n" for v in sorted(values)))))
for _, section in sorted(sections):
    print(section)
