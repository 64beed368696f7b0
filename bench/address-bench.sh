#!/usr/bin/env bash
# Address lookups per second: the reporter's own data (AddressLookupBench.exe
# under Wine) against i686-w64-mingw32-addr2line run once per address, on the
# same 2000 addresses sampled over the program's code. Goal: at least 100x.
#   bench/address-bench.sh [ADDR2LINE_RUNS]     # default 200 single-address runs
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export KV_BUILD=${KV_BUILD:-$root/build}
runs=${1:-200}
"$root/tools/build.sh"
python3 "$root/tests/crashreport/core/debuginfo/address_oracle.py" "$KV_BUILD" "$KV_BUILD/fixtures/ExportsFixture.dll"
"$root/tools/wine-prefix.sh" test start
trap '"$root/tools/wine-prefix.sh" test stop' EXIT

data=$KV_BUILD/scratch-test/drive-d/debuginfo
ours=$("$root/tools/wine-run.sh" "$KV_BUILD/bin/AddressLookupBench.exe" 'D:\debuginfo\Kestrelvane.exe' 'D:\debuginfo\addresses.txt' | tr -d '\r')

exe=$data/Kestrelvane.exe
base=$(i686-w64-mingw32-objdump -p "$exe" | awk '$1 == "ImageBase" { print $2 }')
mapfile -t rvas < <(head -n "$runs" "$data/addresses.txt" | cut -f1)
start=$(date +%s.%N)
for rva in "${rvas[@]}"; do
  i686-w64-mingw32-addr2line -e "$exe" "$(printf '0x%x' $((0x$base + 0x$rva)))" >/dev/null
done
end=$(date +%s.%N)
theirs=$(python3 -c "print(round(${#rvas[@]} / ($end - $start), 1))")
echo "reporter data: $ours lookups/s; addr2line per address: $theirs lookups/s"
python3 -c "print(f'ratio: {$ours / $theirs:.0f}x (goal: at least 100x)')"
