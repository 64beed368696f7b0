#!/usr/bin/env bash
# The junk-file scan benchmark: two generated trees of 5,000 folders and
# 200,000 files in the test prefix (C:\kvbench\scan and C:\kvbench\scan50k,
# inside the build folder), one with about 2,000 hits and one with about
# 50,000, scanned with the factory's checked filters by the scan's headless
# entry point, by the real main window (hidden) and by bare FindFirstFileW
# walkers, in one executable under one Wine; then GNU find with the same
# masks, natively on the same tree, for scale.
#   bench/scan-bench.sh [RUNS] [TREES]   (default 5 runs; trees "2k 50k")
#   KV_BENCH_NEW_TREE=1 ...              make the trees again
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-5}
trees=${2:-2k 50k}
export KV_BUILD=${KV_BUILD:-$root/build}
"$root/tools/build.sh"
source "$root/tools/wine-env.sh"
"$root/tools/wine-prefix.sh" test start >/dev/null

status=0
for size in $trees; do
  case $size in
    2k) name=scan; rate=0.01 ;;
    50k) name=scan50k; rate=0.25 ;;
    *) echo "unknown tree $size (2k or 50k)" >&2; exit 2 ;;
  esac
  out=$WINEPREFIX/drive_c/kvbench/$name
  case "$out/" in "$KV_BUILD"/*) ;; *) echo "the tree must lie in the build folder: $out" >&2; exit 1 ;; esac
  stamp="folders 5000 files 200000 hit-rate $rate"
  # The tree is kept between runs: making it takes longer than a run.
  if [ "${KV_BENCH_NEW_TREE:-0}" = 1 ] || [ "$(cat "$out/stamp.txt" 2>/dev/null)" != "$stamp" ]; then
    echo "scan-bench: generating 5,000 folders and 200,000 files (hit rate $rate) in $out"
    python3 "$root/tools/scan-tree.py" "$out" --folders 5000 --files 200000 --hit-rate "$rate" --factory-masks --find
    echo "$stamp" >"$out/stamp.txt"
  fi
  echo "== tree $size: GNU find counts $(wc -l <"$out/found.txt") hits"
  "$root/tools/wine-run.sh" "$KV_BUILD/bin/ScanBench.exe" "C:\\kvbench\\$name\\tree" "C:\\kvbench\\$name\\masks.txt" "$runs" || status=1
  python3 "$root/tools/scan-tree.py" "$out" --factory-masks --time-find "$runs"
done
exit $status
