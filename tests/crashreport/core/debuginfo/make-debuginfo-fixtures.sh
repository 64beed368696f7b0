#!/usr/bin/env bash
# Host-side fixtures of the outside debug-data tests, in the test prefix under
# C:\kvtest\debuginfo\:
#   edge.map/.jdbg/.tds   from edge-table.json (the readers' edge cases)
#   samples.txt           code offsets of kv_debuginfo_testdll.dll with what
#                         addr2line says of them (the oracle)
#   all\, td32\, jcl\, none\, emptymap\   copies of that DLL with the files
#                         generated from its DWARF rows, for the factory
#   tests/crashreport/core/debuginfo/make-debuginfo-fixtures.sh BUILD_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
export KV_BUILD=${1:-${KV_BUILD:-}}
source "$here/../../../../tools/wine-env.sh"
[ -d "$WINEPREFIX/drive_c" ] || "$here/../../../../tools/wine-prefix.sh" test start >/dev/null
root=$WINEPREFIX/drive_c/kvtest/debuginfo
case "$root" in "$KV_SCRATCH"/*) ;; *) echo "fixtures outside the scratch area: $root" >&2; exit 1 ;; esac
rm -rf "$root"
mkdir -p "$root"
generator=$here/../../../../tools/make-debug-fixtures.py
dll=$KV_BUILD/bin/kv_debuginfo_testdll.dll

python3 "$generator" write "$here/edge-table.json" "$root/edge"
python3 "$generator" from-image "$dll" "$root/dll-table.json" "$root/samples.txt" 200
python3 "$generator" write "$root/dll-table.json" "$root/dll"

variant() { # folder stem extensions...
  local folder=$root/$1 stem=$2; shift 2
  mkdir -p "$folder"
  cp "$dll" "$folder/$stem.dll"
  for ext in "$@"; do cp "$root/dll.$ext" "$folder/$stem.$ext"; done
}
variant all dbg_all map tds jdbg
variant td32 dbg_td tds jdbg
variant jcl dbg_jcl jdbg
variant none dbg_none
variant emptymap dbg_emptymap tds
: >"$root/emptymap/dbg_emptymap.map"
mkdir -p "$root/edge"
cp "$dll" "$root/edge/dbg_edge.dll"
cp "$root/edge.map" "$root/edge/dbg_edge.map"

# TD32 data whose directory entries are not 12 bytes, beside JCL data: the
# factory goes on to the JCL reader.
mkdir -p "$root/badtds"
cp "$dll" "$root/badtds/dbg_badtds.dll"
cp "$root/dll.jdbg" "$root/badtds/dbg_badtds.jdbg"
python3 - "$root/dll.tds" "$root/badtds/dbg_badtds.tds" <<'PY'
import struct, sys
data = bytearray(open(sys.argv[1], "rb").read())
directory = struct.unpack_from("<I", data, 4)[0]
struct.pack_into("<H", data, directory + 2, 16)
open(sys.argv[2], "wb").write(data)
PY

# A "JCLDEBUG" section (holding the edge table's data) and a ".jdbg" file
# (the DLL's own): the section is read.
mkdir -p "$root/jclsection"
section_at=$(i686-w64-mingw32-objdump -h "$dll" | python3 -c '
import sys
ends = [int(f[3], 16) + int(f[2], 16) for f in (l.split() for l in sys.stdin) if len(f) > 3 and f[0].isdigit()]
print(hex((max(ends) + 0xFFF) & ~0xFFF))')
i686-w64-mingw32-objcopy --add-section JCLDEBUG="$root/edge.jdbg" \
  --set-section-flags JCLDEBUG=contents,alloc,load,readonly,data \
  --change-section-address JCLDEBUG="$section_at" "$dll" "$root/jclsection/dbg_jclsection.dll"
cp "$root/dll.jdbg" "$root/jclsection/dbg_jclsection.jdbg"

# A GNU ld map beside an executable would be taken for the linker map the
# reader parses (and answer nothing): the build must never leave one.
if ls "$KV_BUILD"/bin/*.map >/dev/null 2>&1; then
  echo "the build left a linker map beside its executables: $(ls "$KV_BUILD"/bin/*.map)" >&2
  exit 1
fi
