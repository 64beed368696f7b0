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
