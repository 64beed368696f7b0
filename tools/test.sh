#!/usr/bin/env bash
# The test command: installs what is missing, builds, and runs every test
# through Wine in the project's own headless prefix.
#   tools/test.sh [ctest arguments...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KV_BUILD:-$root/build}
export KV_BUILD=$build

"$root/tools/setup.sh" "$build"
"$root/tools/build.sh"

"$root/tools/wine-prefix.sh" test start
trap '"$root/tools/wine-prefix.sh" test stop' EXIT
ctest --test-dir "$build" --output-on-failure -j "$(nproc)" "$@"
