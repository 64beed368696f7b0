#!/usr/bin/env bash
# Host-side fixtures of the instruction-length tests: the code of a test
# executable of the build and of a few of Wine's own PE DLLs, with the length
# of every instruction as i686-w64-mingw32-objdump decodes it (the oracle).
# For each binary NAME, in the test prefix under C:\kvtest\fixtures-lengths\:
#   NAME.text     the bytes of its .text section
#   NAME.lengths  one byte per byte of NAME.text: the length of the
#                 instruction that starts there, 0 inside an instruction or
#                 where objdump found none
#   tests/crashreport/core/make-length-fixtures.sh BUILD_DIR
set -euo pipefail
export KV_BUILD=${1:-${KV_BUILD:-}}
source "$(dirname "$0")/../../../tools/wine-env.sh"
root=$WINEPREFIX/drive_c/kvtest/fixtures-lengths
case "$root" in "$KV_SCRATCH"/*) ;; *) echo "fixtures outside the scratch area: $root" >&2; exit 1 ;; esac
rm -rf "$root"
mkdir -p "$root"

wine_dlls=/usr/lib/i386-linux-gnu/wine/i386-windows
binaries=("$KV_BUILD/bin/crashreport_core_tests.exe")
for dll in ntdll.dll kernelbase.dll msvcrt.dll user32.dll; do binaries+=("$wine_dlls/$dll"); done

for binary in "${binaries[@]}"; do
  [ -f "$binary" ] || { echo "missing $binary" >&2; exit 1; }
  name=$(basename "$binary")
  i686-w64-mingw32-objcopy -O binary -j .text "$binary" "$root/$name.text"
  start=$(i686-w64-mingw32-objdump -h "$binary" | awk '$2 == ".text" { print $4 }')
  i686-w64-mingw32-objdump -d -z --insn-width=16 -j .text "$binary" |
    /usr/bin/python3 -c '
import sys
start, size, out = int(sys.argv[1], 16), int(sys.argv[2]), sys.argv[3]
lengths = bytearray(size)
# The constructor and destructor lists lie in .text but are data; objdump cuts
# instructions at their symbols and shows the pieces as ".byte" or a prefix
# alone.
data_symbols = (".ctors", ".dtors", "__CTOR_LIST__", "__DTOR_LIST__")
in_data = False
for line in sys.stdin:
    fields = line.rstrip("\n").split("\t")
    if line.rstrip().endswith(">:"):
        in_data = line.split("<", 1)[1].startswith(data_symbols)
        continue
    if len(fields) < 3 or not fields[0].strip().endswith(":") or in_data:
        continue
    offset = int(fields[0].strip()[:-1], 16) - start
    code = fields[1].split()
    # "(bad)": no instruction.
    if "(bad)" in fields[2] or fields[2].startswith(".") or not 0 <= offset < size:
        continue
    # objdump shows FWAIT (9B) and the x87 instruction behind it as one
    # ("fstcw"); to the processor, and to the decoder, they are two.
    if code[0] == "9b" and len(code) > 1:
        lengths[offset] = 1
        offset, code = offset + 1, code[1:]
    lengths[offset] = len(code)
open(out, "wb").write(lengths)
' "$start" "$(stat -c %s "$root/$name.text")" "$root/$name.lengths"
done
echo "fixtures ready in $root"
