#!/usr/bin/env python3
"""Answers for the address-lookup test: 2000 addresses sampled over the
program's code, each with i686-w64-mingw32-addr2line's file and line and the
code symbol nm -n -C places it in; and objdump -p's export table of the
exports fixture DLL. Writes the program, the DLL and the answers into the test
prefix's scratch drive (D:\\debuginfo). The program ships without its DWARF:
addr2line and nm read the first link, whose code and data the build checks
to be the same.
    address_oracle.py BUILD_DIR EXPORTS_DLL"""
import bisect
import os
import random
import shutil
import subprocess
import sys

build = sys.argv[1]
shipped = os.path.join(build, 'bin', 'Kestrelvane.exe')
exe = os.path.join(build, 'pass1', 'Kestrelvane.exe')
out = os.path.join(build, 'scratch-test', 'drive-d', 'debuginfo')
os.makedirs(out, exist_ok=True)
shutil.copy(shipped, os.path.join(out, 'Kestrelvane.exe'))

headers = subprocess.run(['i686-w64-mingw32-objdump', '-h', exe], capture_output=True, text=True, check=True).stdout
base = None
for line in subprocess.run(['i686-w64-mingw32-objdump', '-p', exe], capture_output=True, text=True, check=True).stdout.splitlines():
    if line.startswith('ImageBase'):
        base = int(line.split()[1], 16)
text = next(l.split() for l in headers.splitlines() if len(l.split()) > 3 and l.split()[1] == '.text')
start, size = int(text[3], 16), int(text[2], 16)

rng = random.Random(20261210)
addresses = sorted(rng.randrange(start, start + size) for _ in range(2000))
lines = subprocess.run(['i686-w64-mingw32-addr2line', '-e', exe], input='\n'.join(hex(a) for a in addresses) + '\n',
                       capture_output=True, text=True, check=True).stdout.splitlines()

symbols = []
for line in subprocess.run(['i686-w64-mingw32-nm', '-n', '-C', exe], capture_output=True, text=True, check=True).stdout.splitlines():
    if len(line) > 11 and line[9] in 'tT' and line[8] == ' ' and not line[11:].startswith('.'):
        address = int(line[:8], 16)
        if not symbols or symbols[-1][0] != address:
            symbols.append((address, line[11:]))
keys = [s[0] for s in symbols]

with open(os.path.join(out, 'addresses.txt'), 'w', newline='\n') as answers:
    for address, location in zip(addresses, lines):
        location = location.split(' (discriminator')[0]
        path, _, number = location.rpartition(':')
        name = os.path.basename(path) if path != '??' else '??'
        number = number if number.isdigit() else '0'
        index = bisect.bisect_right(keys, address) - 1
        symbol = symbols[index][1] if index >= 0 else ''
        answers.write(f'{address - base:08x}\t{name}\t{number}\t{symbol}\n')

# The fixture DLL's exports: "name<TAB>rva" or "name<TAB>-> forwarder".
dll = sys.argv[2]
shutil.copy(dll, os.path.join(out, os.path.basename(dll)))
dump = subprocess.run(['i686-w64-mingw32-objdump', '-p', dll], capture_output=True, text=True, check=True).stdout
targets, names, part = {}, {}, None
for line in dump.splitlines():
    if line.startswith('Export Address Table --'):
        part = 'addresses'
    elif line.startswith('[Ordinal/Name Pointer] Table'):
        part = 'names'
    elif not line.strip():
        part = None
    elif part == 'addresses':
        index = int(line.split(']')[0].split('[')[1])
        fields = line.split(']', 2)[2].split()
        targets[index] = '-> ' + fields[-1] if 'Forwarder' in line else fields[0]
    elif part == 'names':
        index = int(line.split(']')[0].split('[')[1])
        names[line.split('] ', 1)[1].strip()] = index
with open(os.path.join(out, 'exports.txt'), 'w', newline='\n') as exports:
    for name, index in sorted(names.items()):
        exports.write(f'{name}\t{targets[index]}\n')
