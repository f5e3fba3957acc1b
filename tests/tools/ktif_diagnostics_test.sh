#!/usr/bin/env bash
# What the tool says on stderr: nothing for a clean GDAL-written GeoTIFF with
# private tags; a one-line summary and a failing exit for a corrupt strip.
set -u
ktif=$1 sample=$2
. "$(dirname "$0")/check_lib.sh"

# A corrupt LZW strip: the read fails, names the block, and exits non-zero.
"$sample" "$dir/sample.tif" >/dev/null
tiffcp -c lzw -s -r 16 "$dir/sample.tif" "$dir/lzw.tif"
offset=$(tiffinfo -s "$dir/lzw.tif" | awk '/^ +3: \[/ {gsub(/[\[,]/, " "); print $2; exit}')
head -c 64 /dev/zero | tr '\0' '\377' | dd of="$dir/lzw.tif" bs=1 seek="$offset" conv=notrunc 2>/dev/null
"$ktif" read "$dir/lzw.tif" --layer 1 --out "$dir/out.raw" 2>"$dir/err"
rc=$?
err=$(cat "$dir/err")
expect "corrupt strip fails the read" $((rc == 0)) "$err"
expect "one summary line" $(($(wc -l <"$dir/err") != 1)) "$err"
matches "the summary names the block and libtiff's error" \
  '^ktif: 1 block of layer 1 could not be read: .*block at column 0, row 48: libtiff: .*lzw.tif: ' "$err"
"$ktif" --verbose read "$dir/lzw.tif" --out /dev/null 2>"$dir/err"
matches "--verbose shows the library's log" '^log\(-1\): ktif_HandleBlockRead failed' "$(cat "$dir/err")"

# GDAL's metadata tag is a notice: nothing on stderr unless --verbose.
if command -v gdal_create >/dev/null; then
  gdal_create -q -of GTiff -outsize 20 10 -bands 1 -burn 7 -a_srs EPSG:32631 \
    -a_ullr 500000 4000000 500200 3999900 -mo FOO=bar "$dir/gdal.tif"
  "$ktif" info "$dir/gdal.tif" >/dev/null 2>"$dir/err" && "$ktif" read "$dir/gdal.tif" --out /dev/null 2>>"$dir/err"
  expect "private tag: info and read succeed quietly" $(($? != 0 || $(wc -c <"$dir/err") != 0)) "$(cat "$dir/err")"
  "$ktif" -v info "$dir/gdal.tif" 2>&1 >/dev/null | grep -c "42112" >"$dir/count"
  expect "private tag: one notice per file with --verbose" $(($(cat "$dir/count") != 1)) "$(cat "$dir/count")"
else
  echo "gdal_create not found: private-tag checks skipped"
fi

summary
