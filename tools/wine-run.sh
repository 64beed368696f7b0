#!/usr/bin/env bash
# Runs a Windows executable of the build inside the project's test prefix.
# The executable, its sibling executables and DLLs are copied to C:\kvbin, so the
# program folder (and whatever a program writes beside itself) is in the prefix.
#   tools/wine-run.sh path/to/bin/program.exe [arguments...]
set -euo pipefail
exe=$(readlink -f "$1"); shift
bin=$(dirname "$exe")
export KV_BUILD=${KV_BUILD:-$(dirname "$bin")}
export KV_KIND=${KV_KIND:-test}
source "$(dirname "$0")/wine-env.sh"
[ -f "$WINEPREFIX/.kv-ready" ] || "$(dirname "$0")/wine-prefix.sh" "$KV_KIND" start >&2

target=$WINEPREFIX/drive_c/kvbin
mkdir -p "$target"
# DLLs of the build (test DLLs) go beside the executables that load them.
flock "$target/.copy-lock" bash -c 'shopt -s nullglob; cp -u "$1"/*.exe "$1"/*.dll "$2"/' _ "$bin" "$target"
cd "$target"
exec timeout "${KV_RUN_TIMEOUT:-900}" wine "C:\\kvbin\\$(basename "$exe")" "$@" </dev/null
