#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian machine (idempotent,
# quiet) and unpacks the zlib source package that minizip is built from.
#   tools/setup.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}

packages=(
  g++-mingw-w64-i686-posix libz-mingw-w64-dev binutils-mingw-w64-i686
  wine wine32:i386
  cmake make googletest dpkg-dev file
  xvfb xauth x11-apps imagemagick
  python3 sqlite3 nasm
)
zlib_source_version=1:1.2.13.dfsg-1

sudo_if_needed() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
src_list=/etc/apt/sources.list.d/kestrelvane-src.sources
need_update=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  sudo_if_needed dpkg --add-architecture i386
  need_update=1
fi
if [ ! -f "$src_list" ]; then
  # deb-src for the zlib source package (minizip is not packaged for MinGW).
  sudo_if_needed tee "$src_list" >/dev/null <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  need_update=1
fi
if [ ${#missing[@]} -gt 0 ] || [ $need_update = 1 ]; then
  echo "setup: installing ${missing[*]:-package lists}"
  sudo_if_needed apt-get update -qq
  if [ ${#missing[@]} -gt 0 ]; then
    sudo_if_needed env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
      "${missing[@]}" >/dev/null
  fi
fi

zlib_src=$build/deps/zlib-src
if [ ! -f "$zlib_src/contrib/minizip/zip.c" ]; then
  echo "setup: fetching the zlib source package for minizip"
  tmp=$build/deps/download
  rm -rf "$tmp" && mkdir -p "$tmp"
  ( cd "$tmp" && apt-get source --download-only -qq "zlib=$zlib_source_version" >/dev/null 2>&1 )
  mkdir -p "$zlib_src"
  tar -xjf "$tmp"/zlib_*.orig.tar.bz2 -C "$zlib_src" --strip-components=1
  rm -rf "$tmp"
fi

# Wine's 32-bit side is an i386 Linux program: the kernel must run 32-bit x86
# code (IA-32 emulation). Some hosts turn that off; there Wine runs through
# qemu's user-mode emulation instead, and where even that cannot be set up,
# this says so once, plainly, rather than failing deep inside a build step.
"$root/tools/ia32/emulation.sh" "$build"
