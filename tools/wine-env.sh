# Sourced: the environment of the project's own Wine prefixes.
#   KV_BUILD  the build folder (default: <repo>/build)
#   KV_KIND   "test" (headless, Graphics=null) or "run" (X11 display)
# Nothing a test or a run does can reach the host outside $KV_SCRATCH: the
# prefix has no drive letter for the host's root, and HOME/XDG folders (where
# Wine keeps its recycle bin and menu entries) point into the scratch folder.
kv_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export KV_BUILD=${KV_BUILD:-$kv_root/build}
export KV_KIND=${KV_KIND:-test}
export KV_SCRATCH=$KV_BUILD/scratch-$KV_KIND
export WINEPREFIX=$KV_SCRATCH/prefix
export WINEARCH=win32
export WINEDEBUG=-all
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
export HOME=$KV_SCRATCH/home
export XDG_DATA_HOME=$KV_SCRATCH/xdg-data
export XDG_CONFIG_HOME=$KV_SCRATCH/xdg-config
export XDG_CACHE_HOME=$KV_SCRATCH/xdg-cache
export XDG_RUNTIME_DIR=$KV_SCRATCH/xdg-runtime
# On a host whose i386 programs run through qemu (tools/ia32/emulation.sh),
# Wine's faults need their trap numbers put back: see fault-trap-numbers.c.
if "$kv_root/tools/ia32/emulated.sh"; then
  kv_fault_traps=$KV_BUILD/deps/ia32/lib/i386-linux-gnu/libkv-fault-traps.so
  [ -f "$kv_fault_traps" ] || { echo "wine-env: $kv_fault_traps is missing: run tools/setup.sh" >&2; return 3 2>/dev/null || exit 3; }
  export LD_PRELOAD="$KV_BUILD/deps/ia32/\$LIB/libkv-fault-traps.so"
fi
unset http_proxy https_proxy ftp_proxy HTTP_PROXY HTTPS_PROXY FTP_PROXY all_proxy ALL_PROXY
