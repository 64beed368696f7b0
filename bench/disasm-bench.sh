#!/usr/bin/env bash
# The disassembler benchmark: the .text of one of Wine's PE DLLs decoded from
# its start by TDisAsm (DisAsmBench.exe, under Wine) and by objdump (native),
# each RUNS times; prints instructions per second of both and their ratio.
#   bench/disasm-bench.sh [RUNS] [DLL]      (default 5, user32.dll)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-5}
dll=${2:-/usr/lib/i386-linux-gnu/wine/i386-windows/user32.dll}
export KV_BUILD=${KV_BUILD:-$root/build}
"$root/tools/build.sh"
source "$root/tools/wine-env.sh"
"$root/tools/wine-prefix.sh" test start >/dev/null

out=$WINEPREFIX/drive_c/kvbench/disasm
case "$out/" in "$KV_BUILD"/*) ;; *) echo "the bytes must lie in the build folder: $out" >&2; exit 1 ;; esac
mkdir -p "$out"
i686-w64-mingw32-objcopy -O binary -j .text "$dll" "$out/code.bin"
ours=$("$root/tools/wine-run.sh" "$KV_BUILD/bin/DisAsmBench.exe" 'C:\kvbench\disasm\code.bin' "$runs")
echo "$ours"
python3 - "$out/code.bin" "$runs" "$ours" <<'PY'
import re, statistics, subprocess, sys, time
path, runs, ours = sys.argv[1], int(sys.argv[2]), sys.argv[3]
command = ["i686-w64-mingw32-objdump", "-D", "-b", "binary", "-m", "i386", "-M", "intel", path]
rates, count = [], 0
for run in range(runs + 1):
    start = time.perf_counter()
    output = subprocess.run(command, check=True, capture_output=True).stdout
    seconds = time.perf_counter() - start
    count = sum(1 for line in output.splitlines() if re.match(rb"^\s+[0-9a-f]+:\t", line))
    if run:
        rates.append(count / seconds)
median = statistics.median(rates)
print("objdump: %d instructions, median %.0f instructions/s (min %.0f, max %.0f)" % (count, median, min(rates), max(rates)))
mine = float(re.search(r"median (\d+)", ours).group(1))
print("ratio TDisAsm / objdump: %.2f" % (mine / median))
PY
