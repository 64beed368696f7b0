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

export KV_KIND=run
xvfb_pid=""
if [ -z "${DISPLAY:-}" ] || [ -n "$shot" ]; then
  # Another run may hold a display already: take the first free one.
  display_number=77
  while [ -e "/tmp/.X11-unix/X$display_number" ] || [ -e "/tmp/.X$display_number-lock" ]; do
    display_number=$((display_number + 1))
  done
  export DISPLAY=:$display_number
  Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  sleep 1
  shot=${shot:-$KV_BUILD/screenshots/Kestrelvane.png}
fi
"$root/tools/wine-prefix.sh" run start
cleanup() {
  "$root/tools/wine-prefix.sh" run stop
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT

if [ -z "$shot" ]; then
  "$root/tools/wine-run.sh" "$KV_BUILD/bin/Kestrelvane.exe" "$@"
else
  "$root/tools/wine-run.sh" "$KV_BUILD/bin/Kestrelvane.exe" "$@" &
  sleep "${KV_SHOT_DELAY:-8}"
  mkdir -p "$(dirname "$shot")"
  xwd -root -silent -display "$DISPLAY" | convert xwd:- "$shot"
  echo "screenshot: $shot"
fi
