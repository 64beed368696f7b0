#!/usr/bin/env python3
"""The layer check: every source of a library includes headers only of its own
folder and of the folders its library declares, and no library declares or
includes what the layering forbids.

    check-layers.py LAYER-MAP SOURCE-ROOT

LAYER-MAP is written by CMake at configure time (cmake/Layers.cmake), one line
per library: "folder recurse|flat: dependency-folder ...". The allowed edges
come from there, so the build and the check cannot drift; the forbidden ones
are the rules below.
"""
import fnmatch
import os
import re
import sys

# (from, to, why): no library in `from` may declare or include `to`. Patterns
# match folder names; "*" reaches into subfolders.
NEVER = [
    ("platform/runtime", "*", "platform/runtime is the floor and depends on nothing of ours"),
    ("platform", "platform/forms", "platform never reaches the layers above it"),
    ("platform", "cleaner/*", "platform never reaches the layers above it"),
    ("platform", "crashreport/*", "platform never reaches the layers above it"),
    ("platform/forms", "cleaner/*", "platform never reaches the layers above it"),
    ("platform/forms", "crashreport/*", "platform never reaches the layers above it"),
    ("cleaner/engine", "cleaner/windows", "the cleaner's engine knows nothing of windows or forms"),
    ("cleaner/engine", "platform/forms", "the cleaner's engine knows nothing of windows or forms"),
    ("crashreport/*", "cleaner/*", "the crash reporter and the cleaner never reach each other"),
    ("crashreport/*", "platform/forms", "the crash reporter's dialogs are Win32 dialog templates, not forms"),
    ("cleaner/*", "crashreport/*", "the crash reporter and the cleaner never reach each other"),
]

# (folder, use, why, files that may): the folder's sources never use these.
# The cleaner's engine runs on worker threads and in job mode: the windows it
# needs (the folder picker, message boxes, property sheets) are the
# platform's, and which page the window shows is for its views to say.
NEVER_USES = [
    ("cleaner/engine",
     re.compile(r"\b(MessageBox(?:Ex)?[AW]?|SHBrowseForFolder[AW]?|DialogBox\w*|CreateDialog\w*|"
                r"CreateWindowEx?[AW]?|ShellExecuteEx[AW]?)\s*\("),
     "the cleaner's engine shows no window itself", ()),
    ("cleaner/engine", re.compile(r"\b(CurrentPage)\b"),
     "the cleaner's engine asks its view, not the window's page",
     ("cleaner/engine/SharedState.h", "cleaner/engine/SharedState.cpp")),
]

SOURCE_SUFFIXES = (".h", ".hpp", ".inc", ".cpp", ".cc", ".c", ".S")
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


class Layer:
    def __init__(self, folder, recurse, deps):
        self.folder = folder
        self.recurse = recurse
        self.deps = deps


def read_map(path):
    layers = {}
    with open(path, encoding="utf-8") as lines:
        for number, line in enumerate(lines, 1):
            line = line.strip()
            if not line or line.startswith("#"):
                continue
            head, _, deps = line.partition(":")
            parts = head.split()
            if len(parts) != 2 or parts[1] not in ("recurse", "flat"):
                raise ValueError(f"{path}:{number}: not a layer line: {line}")
            layers[parts[0]] = Layer(parts[0], parts[1] == "recurse", deps.split())
    return layers


def folder_matches(folder, pattern):
    return fnmatch.fnmatchcase(folder, pattern)


def never_rule(source, target):
    for rule_from, rule_to, why in NEVER:
        if folder_matches(source, rule_from) and folder_matches(target, rule_to):
            return why
    return None


def owning_layer(relative_path, layers):
    """The library a file of the tree belongs to, or None. A file belongs to
    the deepest library folder above it; a flat library takes only the files
    directly in its folder."""
    directory = os.path.dirname(relative_path).replace(os.sep, "/")
    candidate = directory
    while candidate:
        layer = layers.get(candidate)
        if layer is not None:
            if candidate == directory or layer.recurse:
                return layer
            return None
        candidate = os.path.dirname(candidate)
    return None


def strip_comments(text):
    text = re.sub(r"/\*.*?\*/", lambda m: "\n" * m.group(0).count("\n"), text, flags=re.S)
    return re.sub(r"//[^\n]*", "", text)


def code_lines(path):
    with open(path, encoding="utf-8", errors="replace") as source:
        return strip_comments(source.read()).split("\n")


def includes_of(lines):
    for number, line in enumerate(lines, 1):
        match = INCLUDE.match(line)
        if match:
            yield number, match.group(2)


def forbidden_uses(folder, relative, lines):
    for rule_folder, pattern, why, allowed in NEVER_USES:
        if not folder_matches(folder, rule_folder) or relative in allowed:
            continue
        for number, line in enumerate(lines, 1):
            match = pattern.search(line)
            if match:
                yield number, match.group(1), why


def resolve(root, including_file, name):
    """The included file relative to the root, or None for a header from
    outside the tree (system, toolchain, distribution libraries)."""
    for base in (os.path.dirname(including_file), root):
        candidate = os.path.normpath(os.path.join(base, name))
        if os.path.isfile(candidate):
            relative = os.path.relpath(candidate, root)
            if relative.startswith(".."):
                return None
            return relative.replace(os.sep, "/")
    return None


def layer_sources(root, layers):
    """Every source file under a library folder, including files in
    subfolders that belong to no library (reported as such)."""
    seen = set()
    for folder in sorted(layers):
        top = os.path.join(root, folder)
        for directory, subfolders, files in os.walk(top):
            subfolders.sort()
            for name in sorted(files):
                if name.endswith(SOURCE_SUFFIXES):
                    relative = os.path.relpath(os.path.join(directory, name), root).replace(os.sep, "/")
                    if relative not in seen:
                        seen.add(relative)
                        yield relative


def check(root, layers):
    """Returns (number of sources checked, list of violation messages)."""
    problems = []
    for layer in layers.values():
        for dep in layer.deps:
            why = never_rule(layer.folder, dep)
            if why:
                problems.append(f"{layer.folder}: the library declares {dep}, which it must never use: {why}")
            if dep not in layers:
                problems.append(f"{layer.folder}: the library declares {dep}, which is no library of the tree")

    count = 0
    for relative in layer_sources(root, layers):
        layer = owning_layer(relative, layers)
        if layer is None:
            problems.append(f"{relative}: lies in a folder that is no library (one library per folder)")
            continue
        count += 1
        lines = code_lines(os.path.join(root, relative))
        for number, use, why in forbidden_uses(layer.folder, relative, lines):
            problems.append(f"{relative}:{number}: uses {use}: {why}")
        for number, name in includes_of(lines):
            target = resolve(root, os.path.join(root, relative), name)
            if target is None:
                continue
            target_layer = owning_layer(target, layers)
            where = f"{relative}:{number}: includes {target}"
            if target_layer is None:
                problems.append(f"{where}, which belongs to no library")
                continue
            if target_layer.folder == layer.folder:
                continue
            why = never_rule(layer.folder, target_layer.folder)
            if why:
                problems.append(f"{where}: {layer.folder} must never use {target_layer.folder}: {why}")
            elif target_layer.folder not in layer.deps:
                declared = " ".join(layer.deps) or "nothing"
                problems.append(f"{where} of {target_layer.folder}, which the library of {layer.folder} "
                                f"does not declare (it declares: {declared})")
    return count, problems


def main(argv):
    if len(argv) != 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    layers = read_map(argv[1])
    count, problems = check(argv[2], layers)
    for problem in problems:
        print(problem)
    if problems:
        print(f"layer check: {len(problems)} violation(s)")
        return 1
    print(f"layer check: {count} sources in {len(layers)} libraries keep their layers")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
