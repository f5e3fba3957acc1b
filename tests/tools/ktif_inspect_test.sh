#!/usr/bin/env bash
# `ktif tags`, `keys` and `header` on hostile directories: a failure is one
# line of reason and exit code 1, never a crash. A file without keys lists
# none and succeeds; the tag listing leaves the GeoKey tags out. `keys
# --geocoding` reads the sample's keys to the record `info` shows, and refuses
# a file without keys and a directory shorter than its header says.
set -u
ktif=$1 sample=$2
. "$(dirname "$0")/check_lib.sh"
"$sample" "$dir/sample.tif" >/dev/null

# Little-endian files: header, then the directory at offset 8.
printf 'II*\0\377\377\0\0' >"$dir/past-end.tif"                # first directory past the end
printf 'II*\0\10\0\0\0\377\377\0\1\3\0' >"$dir/huge-count.tif"  # 65535 entries in 14 bytes
# One ASCII entry (ImageDescription) whose 16 bytes lie at 65536.
printf 'II*\0\10\0\0\0\1\0\16\1\2\0\20\0\0\0\0\0\1\0\0\0\0\0' >"$dir/data-past-end.tif"

# name, exit code of tags, exit code of header (a value it cannot read is
# skipped with a notice)
while read -r name tags header; do
  for command in tags header; do
    want=$tags
    [ "$command" = header ] && want=$header
    "$ktif" "$command" "$dir/$name.tif" >/dev/null 2>"$dir/err"
    rc=$?
    expect "$command $name: exit $want" $((rc != want)) "$(cat "$dir/err")"
    [ "$want" -eq 1 ] && expect "$command $name: one line" $(($(wc -l <"$dir/err") != 1)) \
      "$(cat "$dir/err")"
  done
done <<'CASES'
past-end 1 1
huge-count 1 1
data-past-end 1 0
CASES

out=$("$ktif" tags --json "$dir/sample.tif")
expect "tags of the sample" $? "$out"
expect "the GeoKey tags left out" "$(printf '%s' "$out" | grep -c '"tag": 3473[567]')" "$out"
tiffcp "$dir/sample.tif" "$dir/plain.tif" 2>/dev/null  # tiffcp drops the GeoTIFF tags
out=$("$ktif" keys --json "$dir/plain.tif")
expect "keys of a plain TIFF" $? "$out"
matches "an empty key list" '"keys": \[\]' "$out"

out=$("$ktif" keys --geocoding "$dir/sample.tif")
expect "geocoding of the sample" $? "$out"
info=$("$ktif" info "$dir/sample.tif" | grep '^Projection:')
printf '%s\n' "$out" | grep -qxF "${info:-info shows no projection}"
expect "the projection line of info" $? "$out"$'\n'"info: $info"
matches "no vertical keys: undefined in meters" \
  '^Elevation: +spheroid Undefined, datum Undefined, in meters$' "$out"
"$ktif" keys --geocoding "$dir/plain.tif" >/dev/null 2>"$dir/err"
expect "geocoding without keys: exit 1, one line" \
  $(($? != 1 || $(wc -l <"$dir/err") != 1)) "$(cat "$dir/err")"
# The sample's directory header (version 1.1.0) claiming 9 keys in 28 values.
at=$(LC_ALL=C grep -obUaP '\x01\x00\x01\x00\x00\x00\x06\x00' "$dir/sample.tif" | head -1 | cut -d: -f1)
cp "$dir/sample.tif" "$dir/short-keys.tif"
printf '\11' | dd of="$dir/short-keys.tif" bs=1 seek=$((at + 6)) conv=notrunc 2>/dev/null
"$ktif" keys --geocoding "$dir/short-keys.tif" >/dev/null 2>"$dir/err"
expect "geocoding of a short directory: exit 1" $(($? != 1)) "$(cat "$dir/err")"
matches "the directory is called truncated" 'ktif: the GeoKey directory .* is truncated' \
  "$(cat "$dir/err")"
summary
