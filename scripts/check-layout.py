#!/usr/bin/env python3
"""Checks that the source tree keeps its layers (docs/architecture.md): every include of a project
header names the folder it lives in, and points at the including folder's own layer or one below it.
Product files stay within 350 lines. Prints what is wrong and exits 1; prints nothing otherwise."""
import pathlib
import re
import subprocess
import sys

# What each folder's code may include, by the include's first component. src/ holds the library's
# folders bios/, wmi/ and logger/; include/ the public qzbios/. The sources see of the library its
# table of the 31 settings only.
LIBRARY = {"bios/", "wmi/", "logger/", "qzbios/"}
ALLOWED = {
    "common": {"common/"},
    "include": {"qzbios/"},
    "src": LIBRARY,
    "sources": {"sources/", "common/", "bios/Settings.h"},
    "wmi-client": {"wmi-client/", "sources/", "common/", "wmi/"},
    "reading": {"reading/", "sources/", "common/"} | LIBRARY,
    "c-interface": {"c-interface/", "reading/", "sources/", "common/"} | LIBRARY,
    "tools": {"tools/", "reading/", "sources/", "common/"} | LIBRARY,
}
MAX_LINES = 350

top = pathlib.Path(__file__).resolve().parent.parent
files = subprocess.run(["git", "ls-files", "--cached", "--others", "--exclude-standard"],
                       cwd=top, capture_output=True, text=True, check=True).stdout.split()
wrong = []
for name in files:
    folder = name.split("/")[0]
    path = top / name
    if folder not in ALLOWED or path.suffix not in (".h", ".hpp", ".c", ".cpp") or not path.exists():
        continue
    text = path.read_text(encoding="utf-8")
    if text.count("\n") > MAX_LINES:
        wrong.append(f"{name}: {text.count(chr(10))} lines, more than {MAX_LINES}")
    for number, line in enumerate(text.splitlines(), 1):
        match = re.match(r'\s*#\s*include\s+"([^"]+)"', line)
        if not match:
            continue
        header = match.group(1)
        if "/" not in header:
            wrong.append(f"{name}:{number}: \"{header}\" does not name its folder")
        elif not any(header == a or (a.endswith("/") and header.startswith(a))
                     for a in ALLOWED[folder]):
            wrong.append(f"{name}:{number}: {folder}/ may not include \"{header}\", "
                         "a header of a layer above it or beside it")
for line in wrong:
    print(f"check-layout: {line}")
sys.exit(1 if wrong else 0)
