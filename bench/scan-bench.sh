#!/usr/bin/env bash
# The junk-file scan benchmark: a generated tree of 5,000 folders and 200,000
# files in the test prefix (C:\kvbench\scan, inside the build folder), scanned
# with the factory's checked filters by the scan's headless entry point and by
# a bare FindFirstFileW walker, in one executable under one Wine; then GNU find
# with the same masks, natively on the same tree, for scale.
#   bench/scan-bench.sh [RUNS]         (default 5)
#   KV_BENCH_KEEP_TREE=1 ...           reuse the tree of an earlier run
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-5}
export KV_BUILD=${KV_BUILD:-$root/build}
"$root/tools/build.sh"
source "$root/tools/wine-env.sh"
"$root/tools/wine-prefix.sh" test start >/dev/null

out=$WINEPREFIX/drive_c/kvbench/scan
case "$out/" in "$KV_BUILD"/*) ;; *) echo "the tree must lie in the build folder: $out" >&2; exit 1 ;; esac
if [ "${KV_BENCH_KEEP_TREE:-0}" != 1 ] || [ ! -d "$out/tree" ]; then
  echo "scan-bench: generating 5,000 folders and 200,000 files in $out"
  python3 "$root/tools/scan-tree.py" "$out" --folders 5000 --files 200000 --hit-rate 0.01 --factory-masks --find
fi
echo "scan-bench: GNU find counts $(wc -l <"$out/found.txt") hits"
"$root/tools/wine-run.sh" "$KV_BUILD/bin/ScanBench.exe" 'C:\kvbench\scan\tree' 'C:\kvbench\scan\masks.txt' "$runs"
python3 "$root/tools/scan-tree.py" "$out" --factory-masks --time-find "$runs"
