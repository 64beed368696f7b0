#!/usr/bin/env bash
# Puts the host-script runner into the test prefix (a ctest fixture): tests
# that need what a program inside Wine cannot make (symbolic links, names
# holding "\" or ending in a dot, folders churned during a run) write a shell
# script into their scratch folder and start C:\kvtest\host-run.sh on it
# (Wine runs a host executable given to CreateProcess). The runner only runs
# scripts below C:\kvtest\ and records each one's exit code beside it.
set -euo pipefail
source "$(dirname "$0")/../../tools/wine-env.sh"
[ -d "$WINEPREFIX/drive_c" ] || "$(dirname "$0")/../../tools/wine-prefix.sh" test start >/dev/null
runner=$WINEPREFIX/drive_c/kvtest/host-run.sh
case "$runner" in "$KV_SCRATCH"/*) ;; *) echo "runner outside the scratch folder: $runner" >&2; exit 1 ;; esac
mkdir -p "$(dirname "$runner")"
cat >"$runner" <<'RUNNER'
#!/bin/bash
# host-run.sh 'kvtest\...\name.sh': runs the script in its folder; its output
# goes to name.sh.out and its exit code, last, to name.sh.done. A script ends
# within three minutes (exit code 124 when it had to be ended).
# The runner inherits every descriptor of the test executable that starts it,
# ctest's output pipe among them: a script that outlived its test would hold
# up ctest. It keeps none of them.
exec </dev/null >/dev/null 2>&1
for fd in /proc/$$/fd/*; do
  fd=${fd##*/}
  [ "$fd" -gt 2 ] && eval "exec $fd>&-"
done
kvtest=$(cd "$(dirname "$0")" && pwd)
rel=$(printf '%s' "$1" | tr '\\' '/')
case "$rel" in kvtest/*) rel=${rel#kvtest/} ;; *) exit 2 ;; esac
case "/$rel/" in */../*|*/./*) exit 2 ;; esac
dir=$kvtest/$(dirname "$rel")
name=$(basename "$rel")
cd "$dir" || exit 2
timeout -k 5 180 sh "./$name" >"./$name.out" 2>&1
echo $? >"./$name.done"
RUNNER
chmod +x "$runner"
