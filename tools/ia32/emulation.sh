#!/usr/bin/env bash
# Makes sure this machine runs 32-bit x86 programs, which Wine's 32-bit side
# is: natively where the kernel has IA-32 emulation, or else through qemu's
# user-mode emulation, registered with binfmt_misc for i386 ELF programs.
#   tools/ia32/emulation.sh BUILD_DIR
# Exits 0 when Wine's i386 loader runs, 3 with a plain message when it cannot.
#
# Why these pieces, as measured on a host that runs 64-bit user code only:
# - qemu 7.2 (Debian 12) runs Wine, but every Windows process takes about two
#   minutes to start: Wine reserves its address space in pieces, and that
#   qemu does not place a mapping where it is asked to, so Wine splits the
#   space down to 64 KiB and tries each piece. Debian 13's qemu 10 places
#   them, and a process starts in under a second; it is fetched from Debian 13
#   (a static program) without adding that release to the machine's sources.
# - Wine's 64-bit wineserver runs natively; the 32-bit one, under emulation,
#   cannot read a client's memory (ReadProcessMemory fails), so wine64 comes
#   along.
# - qemu leaves no trap number in a fault's signal context, and Wine would
#   raise every access violation as an illegal instruction: fault-trap-numbers.c
#   is preloaded into Wine's i386 processes to put it back (see wine-env.sh).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:?usage: emulation.sh BUILD_DIR}
deps=$build/deps/ia32
entry_name=kestrelvane-i386
binfmt=/proc/sys/fs/binfmt_misc
emulator_release=trixie

sudo_if_needed() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }
wine_runs() { /usr/lib/wine/wine --version >/dev/null 2>&1; }
emulated() { "$here/emulated.sh"; }

cannot_run() {
  echo "setup: this machine cannot run 32-bit x86 programs, so Wine cannot run" \
       "Kestrelvane, its build's data writer or its tests here." >&2
  echo "setup: $1" >&2
  echo "setup: what the kernel says of IA-32 emulation:" >&2
  { dmesg 2>/dev/null | grep -i -E 'ia-?32|32-bit emulation' || echo "  (dmesg cannot be read)"; } | sed 's/^/  /' >&2
  exit 3
}

install_packages() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} = 0 ] && return
  echo "setup: installing ${missing[*]} for the i386 emulation"
  sudo_if_needed env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
}

# The emulator from Debian 13's qemu-user package, through a private package
# list: the machine's own sources stay as they are.
fetch_emulator() {
  local apt=$deps/apt
  local list=$apt/sources.list
  rm -rf "$apt" && mkdir -p "$apt/lists/partial" "$apt/download"
  echo "deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian $emulator_release main" > "$list"
  local options=(-o "Dir::Etc::sourcelist=$list" -o Dir::Etc::sourceparts=- -o "Dir::State::Lists=$apt/lists"
                 -o Debug::NoLocking=1 -o APT::Sandbox::User=root)
  echo "setup: fetching qemu-user from Debian $emulator_release"
  apt-get "${options[@]}" update -qq >/dev/null
  ( cd "$apt/download" && apt-get "${options[@]}" download -qq qemu-user >/dev/null )
  dpkg-deb -x "$apt"/download/qemu-user_*.deb "$apt/unpacked"
  install -m 755 "$apt/unpacked/usr/bin/qemu-i386" "$deps/qemu-i386"
  rm -rf "$apt"
}

register_emulator() {
  [ -e "$binfmt/register" ] || sudo_if_needed mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null ||
    cannot_run "binfmt_misc is not available to register an emulator for i386 programs."
  [ -e "$binfmt/$entry_name" ] && echo -1 | sudo_if_needed tee "$binfmt/$entry_name" >/dev/null
  # i386 ELF executables and shared objects; F opens the emulator now, so the
  # entry keeps working whatever becomes of this build folder.
  printf '%s' ":$entry_name:M::"'\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'":"'\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'":$deps/qemu-i386:F" |
    sudo_if_needed tee "$binfmt/register" >/dev/null
}

# The trap-number library for Wine's i386 processes, and an empty one of the
# same name for 64-bit programs, which see the same LD_PRELOAD ("$LIB").
build_fault_traps() {
  local library=libkv-fault-traps.so
  [ -f "$deps/lib/i386-linux-gnu/$library" ] && [ "$deps/lib/i386-linux-gnu/$library" -nt "$here/fault-trap-numbers.c" ] && return
  mkdir -p "$deps/lib/i386-linux-gnu" "$deps/lib/x86_64-linux-gnu"
  gcc -m32 -O2 -Wall -Wextra -Werror -shared -fPIC -o "$deps/lib/i386-linux-gnu/$library" "$here/fault-trap-numbers.c" -ldl
  gcc -shared -fPIC -x c /dev/null -o "$deps/lib/x86_64-linux-gnu/$library"
}

if ! emulated && ! wine_runs; then
  [ -x /usr/lib/wine/wine ] || cannot_run "Wine's i386 loader is not installed."
  install_packages wine64 gcc-multilib
  mkdir -p "$deps"
  fetch_emulator
  register_emulator
fi
if emulated; then
  install_packages wine64 gcc-multilib
  build_fault_traps
fi
wine_runs || cannot_run "the kernel lacks IA-32 emulation, and running Wine through qemu failed too."
