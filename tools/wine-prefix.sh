#!/usr/bin/env bash
# Makes (once) and starts the project's Wine prefix of the given kind.
#   tools/wine-prefix.sh [test|run|build] [start|stop|ready]
# "ready" makes the prefix when it is missing and otherwise only checks its
# drive letters: the next wine call starts the server itself (the build's
# writer runs so, with its output sent to files).
# The prefix keeps only drive C: (its own drive_c) and D: (a scratch folder);
# Wine's default Z: (the host's root) is removed and checked to stay removed.
set -euo pipefail
export KV_KIND=${1:-${KV_KIND:-test}}
action=${2:-start}
source "$(dirname "$0")/wine-env.sh"

if [ "$action" = stop ]; then
  [ -d "$WINEPREFIX" ] && wineserver -k 2>/dev/null || true
  exit 0
fi

mkdir -p "$HOME" "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR" "$KV_SCRATCH/drive-d"
chmod 700 "$XDG_RUNTIME_DIR"

start_server() {
  # Detached, so that Wine's background services never hold the caller's pipes.
  # KV_WINESERVER_PERSIST: seconds the server outlives its last client (the
  # build's prefix); empty keeps it until it is stopped.
  setsid wineserver -p${KV_WINESERVER_PERSIST:-} </dev/null >/dev/null 2>&1 &
  sleep 0.2
  timeout 120 wine wineboot -u </dev/null >/dev/null 2>&1 || true
}

if [ ! -f "$WINEPREFIX/.kv-ready" ]; then
  echo "wine-prefix: making the $KV_KIND prefix in $WINEPREFIX"
  rm -rf "$WINEPREFIX"
  start_server
  if [ "$KV_KIND" = test ] || [ "$KV_KIND" = build ]; then
    timeout 60 wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1
  fi
  timeout 60 wineserver -k 2>/dev/null || true
  timeout 60 wineserver -w 2>/dev/null || true
  touch "$WINEPREFIX/.kv-ready"
fi

# Drive letters: C: is the prefix's own drive_c, D: a scratch folder, nothing
# else (no Z: for the host's root, no serial or parallel ports). Checked again
# after the server has started, since Wine's start-up may add entries.
restrict_drives() {
  devices=$WINEPREFIX/dosdevices
  # A right D: stays in place: a program of a parallel build step may be
  # reading through it at this very moment.
  for entry in "$devices"/*; do
    case "$(basename "$entry")" in
      c:) ;;
      d:) [ "$(readlink "$entry")" = "$KV_SCRATCH/drive-d" ] || rm -f "$entry" ;;
      *) rm -f "$entry" ;;
    esac
  done
  [ -L "$devices/d:" ] || ln -s "$KV_SCRATCH/drive-d" "$devices/d:"
  for entry in "$devices"/*; do
    target=$(readlink -f "$entry")
    case "$target/" in
      "$KV_SCRATCH"/*) ;;
      *) echo "wine-prefix: $entry maps $target, outside $KV_SCRATCH" >&2; exit 1 ;;
    esac
  done
}

restrict_drives
if [ "$action" = ready ] && [ -f "$WINEPREFIX/.kv-no-aedebug" ]; then
  exit 0
fi
start_server
restrict_drives

# Wine starts its debugger on an unhandled fault and waits for it: a crashing
# program (or a crash test) would hang instead of ending with the fault's
# exit code. An empty debugger command turns that off. Once per prefix.
if [ ! -f "$WINEPREFIX/.kv-no-aedebug" ]; then
  timeout 60 wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /d '' /f \
    </dev/null >/dev/null 2>&1
  timeout 60 wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Auto /d 1 /f \
    </dev/null >/dev/null 2>&1
  touch "$WINEPREFIX/.kv-no-aedebug"
fi
