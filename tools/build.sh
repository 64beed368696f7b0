#!/usr/bin/env bash
# Configures (once) and builds Kestrelvane.exe, the tests and the benchmarks.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KV_BUILD:-$root/build}
if [ ! -f "$build/CMakeCache.txt" ] || [ ! -f "$build/Makefile" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" -DCMAKE_RULE_MESSAGES=OFF >/dev/null
fi
cmake --build "$build" -j "$(nproc)" -- --no-print-directory -s
