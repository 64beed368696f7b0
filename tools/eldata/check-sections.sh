#!/usr/bin/env bash
# The second link must keep the first link's code and data where they were:
# the reporter's data describes the first link's addresses. On a difference
# the second link is removed, so that the build stays failed.
#   check-sections.sh FIRST_LINK SECOND_LINK
set -euo pipefail
first=$1; second=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for section in .text .data .rdata; do
  for link in first second; do
    i686-w64-mingw32-objcopy -O binary --only-section="$section" "${!link}" "$tmp/$link$section"
  done
  if ! cmp -s "$tmp/first$section" "$tmp/second$section"; then
    echo "check-sections: $section of $(basename "$second") differs from the first link" >&2
    rm -f "$second"
    exit 1
  fi
done
for link in first second; do
  i686-w64-mingw32-objdump -h "${!link}" | awk '$2 == ".text" || $2 == ".data" || $2 == ".rdata" { print $2, $4 }' > "$tmp/$link.vma"
done
if ! cmp -s "$tmp/first.vma" "$tmp/second.vma"; then
  echo "check-sections: sections of $(basename "$second") moved" >&2
  rm -f "$second"
  exit 1
fi
