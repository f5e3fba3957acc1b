#!/usr/bin/env bash
# `ktif copy` never leaves a partial file: every failure exits non-zero with
# one line on stderr, removes its temporary file and leaves an existing OUT
# as it was. A successful copy reads back like its source.
set -u
ktif=$1 sample=$2
. "$(dirname "$0")/check_lib.sh"
"$sample" "$dir/sample.tif" >/dev/null
printf 'keep me\n' >"$dir/existing.tif"

# failed_copy DESCRIPTION OUT [ktif copy arguments...]: the copy must fail
# with one line, leave no temporary file, and leave OUT as it was.
failed_copy() {
  local what=$1 out=$2
  shift 2
  local before=absent
  [ -e "$out" ] && before=$(cksum <"$out")
  (ulimit -f "${limit:-unlimited}" && exec "$ktif" copy "$@") 2>"$dir/err"
  local rc=$?
  local after=absent
  [ -e "$out" ] && after=$(cksum <"$out")
  expect "$what: fails" $((rc == 0)) "$(cat "$dir/err")"
  expect "$what: one line of reason" $(($(wc -l <"$dir/err") != 1)) "$(cat "$dir/err")"
  [ "$before" = "$after" ]
  expect "$what: OUT as it was" $? "$before / $after"
  expect "$what: no temporary file" $(ls -A "$dir" | grep -c '^\.ktif-copy') "$(ls -A "$dir")"
}

# A good copy: the same samples, quietly (standard error is no terminal).
"$ktif" copy "$dir/sample.tif" "$dir/copy.tif" --compress deflate --tiles 64x64 2>"$dir/err"
expect "copy succeeds quietly" $(($? != 0 || $(wc -c <"$dir/err") != 0)) "$(cat "$dir/err")"
for layer in 0 1 2; do
  "$ktif" read "$dir/sample.tif" --layer $layer --out "$dir/a.raw" &&
    "$ktif" read "$dir/copy.tif" --layer $layer --out "$dir/b.raw" && cmp -s "$dir/a.raw" "$dir/b.raw"
  expect "copy reads back as its source, layer $layer" $?
done

# Cut inside the pixel data: GDAL writes the directory first, so the file
# still opens and the copy fails on the blocks it lacks.
truncated="$dir/truncated.tif"
if command -v gdal_translate >/dev/null; then
  gdal_translate -q -co TILED=YES -co BLOCKXSIZE=64 -co BLOCKYSIZE=64 "$dir/sample.tif" "$dir/g.tif"
  head -c $(($(stat -c %s "$dir/g.tif") / 2)) "$dir/g.tif" >"$truncated"
else
  head -c 20000 "$dir/sample.tif" >"$truncated"
fi
failed_copy "truncated input" "$dir/existing.tif" "$truncated" "$dir/existing.tif"
failed_copy "missing directory" "$dir/none/out.tif" "$dir/sample.tif" "$dir/none/out.tif"
failed_copy "same file" "$dir/copy.tif" "$dir/copy.tif" "$dir/copy.tif"
failed_copy "EPSG code the host cannot hold" "$dir/merc.tif" "$dir/sample.tif" "$dir/merc.tif" --epsg 3857
# 600 KB of uncompressed samples against a 100 KB file-size limit.
limit=100 failed_copy "file-size limit" "$dir/existing.tif" "$dir/sample.tif" "$dir/existing.tif" \
  --compress none
mkdir "$dir/ro" && chmod a-w "$dir/ro"
if [ ! -w "$dir/ro" ]; then
  failed_copy "unwritable directory" "$dir/ro/out.tif" "$dir/sample.tif" "$dir/ro/out.tif"
fi

summary
