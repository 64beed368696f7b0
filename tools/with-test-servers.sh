#!/usr/bin/env bash
# Runs a test executable through tools/wine-run.sh with the loopback servers
# the tests talk to. Only 127.0.0.1 is ever used.
#   KV_TEST_HTTP_PORT  an HTTP server (the distribution's python3 http.server)
#   KV_TEST_HTTP_ROOT  the folder it serves, as the test sees it (C:\kvtest\http-root\)
set -euo pipefail
tools=$(cd "$(dirname "$0")" && pwd)
exe=$(readlink -f "$1"); shift
export KV_BUILD=${KV_BUILD:-$(dirname "$(dirname "$exe")")}
export KV_KIND=${KV_KIND:-test}
source "$tools/wine-env.sh"

free_port() { /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
wait_for_port() {
  for _ in $(seq 100); do
    /usr/bin/python3 -c "import socket,sys; s=socket.socket(); sys.exit(s.connect_ex(('127.0.0.1', $1)))" && return 0
    sleep 0.05
  done
  echo "with-test-servers: server on port $1 did not start" >&2
  return 1
}

http_root=$WINEPREFIX/drive_c/kvtest/http-root-$(basename "$exe" .exe)
rm -rf "$http_root" && mkdir -p "$http_root"
http_port=$(free_port)
/usr/bin/python3 -m http.server --bind 127.0.0.1 --directory "$http_root" "$http_port" </dev/null >/dev/null 2>&1 &
http_pid=$!
trap 'kill $http_pid 2>/dev/null || true' EXIT
wait_for_port "$http_port"

export KV_TEST_HTTP_PORT=$http_port
export KV_TEST_HTTP_ROOT="C:\\kvtest\\http-root-$(basename "$exe" .exe)\\"

# The test's output reaches ctest through a reader of our own: whatever the
# test leaves running (a child of the program, a service Wine starts for it)
# inherits that output, and ctest would wait for it to end. Once the test has
# ended, what still holds its output is named and no longer waited for.
output=$(mktemp -u "$KV_SCRATCH/test-output.XXXXXX")
mkfifo "$output"
cat "$output" &
reader=$!
trap 'kill $http_pid $reader 2>/dev/null || true; rm -f "$output"' EXIT
status=0
"$tools/wine-run.sh" "$exe" "$@" >"$output" 2>&1 || status=$?
for _ in $(seq 50); do kill -0 $reader 2>/dev/null || break; sleep 0.1; done
if kill -0 $reader 2>/dev/null; then
  for fd in /proc/[0-9]*/fd/*; do
    [ "$(readlink "$fd" 2>/dev/null)" = "$output" ] && echo "${fd#/proc/}"
  done | cut -d/ -f1 | sort -u | while read -r pid; do
    [ "$pid" = "$reader" ] || echo "with-test-servers: still running after the test ended: $pid $(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null)" >&2
  done || true
fi
exit $status
