#!/usr/bin/env bash
# Exits 0 when this machine runs i386 programs through the emulator that
# emulation.sh registers, 1 when it does not. The one test of that state for
# set-up, wine-env.sh and the test bounds (tests/CMakeLists.txt).
entry=/proc/sys/fs/binfmt_misc/kestrelvane-i386
[ -r "$entry" ] && [ "$(head -1 "$entry")" = enabled ]
