#!/usr/bin/env bash
# Runs a program of the build under Xvfb in the project's run prefix and saves
# a screenshot of the whole screen, for people to review:
#   tools/screenshot.sh OUT.png path/to/program.exe [program arguments...]
# KV_SHOT_DELAY (seconds, default 6) is how long the program runs before the shot.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
[ $# -ge 2 ] || { echo "usage: $0 OUT.png PROGRAM.exe [arguments...]" >&2; exit 2; }
mkdir -p "$(dirname "$1")"
shot=$(readlink -f "$1"); exe=$2; shift 2
export KV_BUILD=${KV_BUILD:-$root/build}
export KV_KIND=run

display_number=77
while [ -e "/tmp/.X11-unix/X$display_number" ] || [ -e "/tmp/.X$display_number-lock" ]; do
  display_number=$((display_number + 1))
done
export DISPLAY=:$display_number
Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
program_pid=""
cleanup() {
  [ -n "$program_pid" ] && kill "$program_pid" 2>/dev/null || true
  "$root/tools/wine-prefix.sh" run stop
  kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT
sleep 1
"$root/tools/wine-prefix.sh" run start
# No window manager runs under Xvfb: Wine draws every window's frame and
# caption itself, as Windows would.
( source "$root/tools/wine-env.sh"
  timeout 60 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
  timeout 60 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f </dev/null >/dev/null 2>&1 ) || true
"$root/tools/wine-run.sh" "$exe" "$@" &
program_pid=$!
sleep "${KV_SHOT_DELAY:-6}"
mkdir -p "$(dirname "$shot")"
xwd -root -silent -display "$DISPLAY" | convert xwd:- "$shot"
echo "screenshot: $shot"
