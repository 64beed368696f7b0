#!/usr/bin/env bash
# Builds and runs Kestrelvane under Wine in the project's own prefix.
# Without a display it runs under Xvfb, saves a screenshot and closes it:
#   tools/run.sh [--screenshot FILE] [program arguments...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export KV_BUILD=${KV_BUILD:-$root/build}
shot=""
if [ "${1:-}" = --screenshot ]; then shot=$2; shift 2; fi

"$root/tools/setup.sh" "$KV_BUILD"
"$root/tools/build.sh"

if [ -z "${DISPLAY:-}" ] || [ -n "$shot" ]; then
  export KV_SHOT_DELAY=${KV_SHOT_DELAY:-8}
  exec "$root/tools/screenshot.sh" "${shot:-$KV_BUILD/screenshots/Kestrelvane.png}" \
    "$KV_BUILD/bin/Kestrelvane.exe" "$@"
fi

export KV_KIND=run
"$root/tools/wine-prefix.sh" run start
trap '"$root/tools/wine-prefix.sh" run stop' EXIT
"$root/tools/wine-run.sh" "$KV_BUILD/bin/Kestrelvane.exe" "$@"
