#!/usr/bin/env python3
"""The rule of platform/runtime, checked on its objects: nothing there calls an
allocator or a lock that may allocate (the code runs while an exception is
being captured, perhaps inside operator new or with the heap's lock held).

    check-runtime-allocation.py NM LIBRARY
"""
import re
import subprocess
import sys

# Undefined symbols (as i686 MinGW decorates them) that allocate or may.
FORBIDDEN = [
    (re.compile(r"^_(malloc|calloc|realloc|strdup|_strdup|wcsdup)$"), "the C heap"),
    (re.compile(r"^__Zn[wa]j"), "operator new"),
    (re.compile(r"^___emutls_get_address$"), "thread_local (emutls allocates on a thread's first use)"),
    (re.compile(r"^__imp__(HeapAlloc|HeapReAlloc|LocalAlloc|LocalReAlloc|GlobalAlloc|GlobalReAlloc|VirtualAlloc)@"),
     "a Windows allocator"),
    (re.compile(r"^_pthread_mutex_lock$|^__ZNSt5mutex4lockEv$|std::mutex"), "a lock that may allocate"),
    (re.compile(r"^___cxa_allocate_exception$"), "throwing (it allocates the exception)"),
]


def main(argv):
    if len(argv) != 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    output = subprocess.run([argv[1], "-u", argv[2]], check=True, capture_output=True, text=True).stdout
    problems = []
    member = ""
    for line in output.splitlines():
        line = line.strip()
        if line.endswith(":"):
            member = line[:-1]
            continue
        if not line.startswith("U "):
            continue
        symbol = line[2:]
        for pattern, what in FORBIDDEN:
            if pattern.search(symbol):
                problems.append(f"platform/runtime {member}: uses {symbol}: {what}")
    for problem in problems:
        print(problem)
    if problems:
        print(f"runtime allocation check: {len(problems)} use(s) of an allocator")
        return 1
    print("runtime allocation check: nothing in platform/runtime allocates")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
