#!/usr/bin/env bash
# Host-side fixtures of the clean-target tests, made before the engine tests
# run (a ctest fixture): what a program inside Wine cannot make itself.
#   - Unix symbolic links to a folder and to a file outside the folder being
#     emptied (Wine shows the first as a reparse point, the second as a file);
#   - Firefox databases in WAL mode, made with the sqlite3 command-line tool.
# Everything lies in the test prefix under C:\kvtest\fixtures-targets\.
#   tests/cleaner/engine/make-fixtures.sh BUILD_DIR
set -euo pipefail
export KV_BUILD=${1:-${KV_BUILD:-}}
source "$(dirname "$0")/../../../tools/wine-env.sh"
root=$WINEPREFIX/drive_c/kvtest/fixtures-targets
case "$root" in "$KV_SCRATCH"/*) ;; *) echo "fixtures outside the scratch area: $root" >&2; exit 1 ;; esac
rm -rf "$root"
mkdir -p "$root/links/inside/sub" "$root/links/outside/deeper"

echo keep > "$root/links/outside/keep.tmp"
echo keep > "$root/links/outside/deeper/keep.tmp"
echo junk > "$root/links/inside/junk.tmp"
echo junk > "$root/links/inside/sub/junk.tmp"
ln -s ../outside "$root/links/inside/outlink"
ln -s ../../outside "$root/links/inside/sub/outlink"
# Wine lists a link to a file as a plain file (and deletes its target through it).
ln -s ../outside/keep.tmp "$root/links/inside/outlink-file.tmp"

# Firefox profile: places.sqlite holds bookmarks and history in one database.
profile=$root/firefox/Profiles/abcd1234.default
mkdir -p "$profile"
sqlite3 "$profile/places.sqlite" ".filectrl persist_wal 1" "PRAGMA journal_mode=WAL;" \
  "CREATE TABLE moz_bookmarks(id INTEGER PRIMARY KEY, title TEXT);" \
  "INSERT INTO moz_bookmarks(title) VALUES('kept bookmark');" >/dev/null
sqlite3 "$profile/cookies.sqlite" ".filectrl persist_wal 1" "PRAGMA journal_mode=WAL;" \
  "CREATE TABLE moz_cookies(id INTEGER PRIMARY KEY, host TEXT, name TEXT, value TEXT);" \
  "INSERT INTO moz_cookies(host, name, value) VALUES('.example.org', 'track', '1');" >/dev/null
printf 'stale rollback journal' > "$profile/cookies.sqlite-journal"
for f in places.sqlite places.sqlite-wal places.sqlite-shm cookies.sqlite cookies.sqlite-wal cookies.sqlite-shm; do
  [ -f "$profile/$f" ] || { echo "sqlite3 did not leave $f" >&2; exit 1; }
done
echo "fixtures ready in $root"

# Clean Now's result rows that are links: one tree per clean method, since
# each test works its tree over.
for method in recycle backup delete; do
  tree=$root/junk-links/$method
  mkdir -p "$tree/inside" "$tree/outside/deeper"
  echo keep > "$tree/outside/keep.tmp"
  echo keep > "$tree/outside/deeper/keep.tmp"
  ln -s ../outside/keep.tmp "$tree/inside/link-file.tmp"
  ln -s ../outside "$tree/inside/linkdir"
done
echo "junk-link fixtures ready in $root/junk-links"
