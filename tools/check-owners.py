#!/usr/bin/env python3
"""The owner check: handles of the kinds that platform/Handles.h owns (COM
references, CoTaskMem and LocalAlloc memory, window and memory DCs, GDI
objects) are given back only by those owners, so no source outside
platform/Handles.h calls the releasing function itself.

    check-owners.py SOURCE-ROOT
"""
import os
import re
import sys

FOLDERS = ("platform", "cleaner", "crashreport")
OWNERS_HEADER = "platform/Handles.h"
SOURCE_SUFFIXES = (".h", ".hpp", ".inc", ".cpp", ".cc", ".c")

# (pattern, the owner to use instead)
RELEASES = [
    (re.compile(r"->\s*Release\s*\(\s*\)"), "ComRef"),
    (re.compile(r"\bCoTaskMemFree\s*\("), "CoTaskMemory"),
    (re.compile(r"\bLocalFree\s*\("), "LocalMemory"),
    (re.compile(r"\bReleaseDC\s*\("), "WindowDC"),
    (re.compile(r"\bDeleteDC\s*\("), "CreatedDC"),
    (re.compile(r"\bDeleteObject\s*\("), "GdiObject"),
]


def strip_comments_and_strings(text):
    text = re.sub(r"/\*.*?\*/", lambda m: "\n" * m.group(0).count("\n"), text, flags=re.S)
    text = re.sub(r'"(?:\\.|[^"\\\n])*"', '""', text)
    return re.sub(r"//[^\n]*", "", text)


def check(root):
    problems = []
    for folder in FOLDERS:
        for directory, subfolders, files in os.walk(os.path.join(root, folder)):
            subfolders.sort()
            for name in sorted(files):
                if not name.endswith(SOURCE_SUFFIXES):
                    continue
                path = os.path.join(directory, name)
                relative = os.path.relpath(path, root).replace(os.sep, "/")
                if relative == OWNERS_HEADER:
                    continue
                with open(path, encoding="utf-8", errors="replace") as source:
                    lines = strip_comments_and_strings(source.read()).split("\n")
                for number, line in enumerate(lines, 1):
                    for pattern, owner in RELEASES:
                        if pattern.search(line):
                            problems.append(f"{relative}:{number}: releases by hand what {owner} "
                                            f"(platform/Handles.h) owns")
    return problems


def main(argv):
    if len(argv) != 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    problems = check(argv[1])
    for problem in problems:
        print(problem)
    if problems:
        print(f"owner check: {len(problems)} release(s) by hand")
        return 1
    print("owner check: every owned kind is released by its owner")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
