#!/usr/bin/env bash
# The middle step of a two-pass link: reads the line rows and code symbols of
# the first link, writes the reporter's data with ELDataWriter (run under Wine
# in the build's own prefix) and compiles it into a resource object.
#   make-eldata.sh FIRST_LINK OPTIONS_FILE WRITER_EXE OUT_OBJECT
set -euo pipefail
first=$(readlink -f "$1"); options=$(readlink -f "$2"); writer=$(readlink -f "$3"); out=$4
tools=$(cd "$(dirname "$0")/.." && pwd)
export KV_KIND=build KV_WINESERVER_PERSIST=60
source "$tools/wine-env.sh"

name=$(basename "$first")
work=$KV_SCRATCH/drive-d/eldata/$name
rm -rf "$work" && mkdir -p "$work"
objdump=i686-w64-mingw32-objdump
image_base=$($objdump -p "$first" | awk '$1 == "ImageBase" { print $2 }')
$objdump --dwarf=decodedline "$first" > "$work/lines.txt"
i686-w64-mingw32-nm -n -C "$first" > "$work/symbols.txt"
cp "$options" "$work/options.txt"
cp "$writer" "$work/ELDataWriter.exe"

# One prefix set-up at a time; it also keeps the drive letters to the scratch folder.
flock "$KV_SCRATCH.lock" "$tools/wine-prefix.sh" build ready >/dev/null
dir="D:\\eldata\\$name"
if ! timeout 300 wine "$dir\\ELDataWriter.exe" --lines "$dir\\lines.txt" --symbols "$dir\\symbols.txt" \
    --image-base "$image_base" --options "$dir\\options.txt" --out "$dir\\eldata.bin" \
    </dev/null >"$work/writer.log" 2>&1; then
  cat "$work/writer.log" >&2
  exit 1
fi
printf 'ELDATA RCDATA "%s"\n' "$work/eldata.bin" > "$work/eldata.rc"
i686-w64-mingw32-windres "$work/eldata.rc" -O coff -o "$out"
