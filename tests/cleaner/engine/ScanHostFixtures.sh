#!/usr/bin/env bash
# Host-side fixtures of the scan tests, made before the engine tests run:
#  - links/: folder symlinks made with ln, as a user's folders under Wine hold
#    them: a loop back to the parent, a link out of the scanned tree and a
#    scan root that is itself a link;
#  - peer/: a generated tree, the masks for the scan, and what GNU find with
#    the equivalent -iname patterns finds in it.
# Everything lies in the test prefix's C:\kvtest\host-fixtures\scan and in the
# prefix's scratch folder.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../../tools/wine-env.sh"
[ -d "$WINEPREFIX/drive_c" ] || "$here/../../../tools/wine-prefix.sh" test start >/dev/null

base=$WINEPREFIX/drive_c/kvtest/host-fixtures/scan
outside=$KV_SCRATCH/host-fixtures-outside
case "$base/" in "$KV_SCRATCH"/*) ;; *) echo "fixtures outside the scratch folder: $base" >&2; exit 1 ;; esac
rm -rf "$base" "$outside"
mkdir -p "$base/links/loop/a" "$outside/deep"

# links
echo real >"$base/links/loop/a/real.tmp"
ln -s .. "$base/links/loop/a/back"
echo junk >"$outside/junk.tmp"
echo junk >"$outside/deep/junk2.tmp"
ln -s "$outside" "$base/links/loop/outside"
ln -s loop "$base/links/rootlink"

# peer
python3 "$here/../../../tools/scan-tree.py" "$base/peer" --folders 60 --files 4000 --find
