#!/usr/bin/env bash
# Regenerates the fuzz seeds: small TIFFs and GeoTIFFs in fuzz/corpus/open_read/
# (the ktif-sample image rewritten by GDAL in many layouts, and rasters made by
# gdal_create), and the GeoKey tag contents of the georeferenced ones in
# fuzz/corpus/geokeys/gdal-*.bin, in the layout fuzz_geokeys reads. Other
# files in fuzz/corpus/geokeys/ are hand-made seeds and are left alone.
# Usage: fuzz/make_corpus.sh [BUILD_DIR]   (default build/default, built)
set -euo pipefail
cd "$(dirname "$0")/.."
sample_tool=$(realpath "${1:-build/default}")/tools/ktif-sample
out=$PWD/fuzz/corpus/open_read
keys=$PWD/fuzz/corpus/geokeys
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export GDAL_PAM_ENABLED=NO  # no .aux.xml beside the seeds

mkdir -p "$out" "$keys"
rm -f "$out"/*.tif "$keys"/gdal-*.bin
"$sample_tool" "$tmp/sample.tif" >/dev/null
src=$tmp/sample.tif

# Seed NAME [gdal_translate arguments...]: the sample shrunk to 32 x 24 (most
# seeds stay a few KB), rewritten as asked.
seed() {
  local name=$1
  shift
  gdal_translate -q -outsize 32 24 "$@" "$src" "$out/$name.tif"
}
utm=(-a_srs EPSG:32633 -a_ullr 500000 4650000 500960 4649280)
geo=(-a_srs EPSG:4326 -a_ullr 10 45 10.32 44.76)
tiles=(-co TILED=YES -co BLOCKXSIZE=16 -co BLOCKYSIZE=16)

seed rgb-lzw-tiled "${tiles[@]}" -co COMPRESS=LZW -co PREDICTOR=2 "${utm[@]}"
seed rgb-jpeg-ycbcr-tiled "${tiles[@]}" -co COMPRESS=JPEG -co PHOTOMETRIC=YCBCR "${geo[@]}"
seed rgb-deflate-band-strips -co INTERLEAVE=BAND -co COMPRESS=DEFLATE -co BLOCKYSIZE=5 "${utm[@]}"
seed rgb-packbits-bigtiff -co BIGTIFF=YES -co COMPRESS=PACKBITS "${tiles[@]}" "${geo[@]}"
seed rgb-none-strips -co BLOCKYSIZE=7 -mo AREA_OR_POINT=Point -a_srs EPSG:2227 \
  -a_ullr 6000000 2100000 6000320 2099760
seed rgba-webp-tiled -b 1 -b 2 -b 3 -b 1 -colorinterp_4 alpha "${tiles[@]}" -co COMPRESS=WEBP
seed gray-u16-zstd-tiled -b 1 -ot UInt16 -scale 0 255 0 65535 "${tiles[@]}" -co COMPRESS=ZSTD \
  -co PREDICTOR=2 -a_srs EPSG:3857 -a_ullr 1000000 6000000 1003200 5997600
seed gray-s16-lzma-strips -b 2 -ot Int16 -scale 0 255 -1000 1000 -co COMPRESS=LZMA \
  -co BLOCKYSIZE=3 -a_srs "+proj=lcc +lat_0=40 +lon_0=-96 +lat_1=33 +lat_2=45 +datum=NAD27" \
  -a_ullr -10000 10000 -9680 9760
seed gray-f32-deflate-pred3 -b 1 -ot Float32 -scale 0 255 -1 1 -co COMPRESS=DEFLATE \
  -co PREDICTOR=3 "${tiles[@]}" "${geo[@]}"
seed gray-f32-lerc -b 3 -ot Float32 -co COMPRESS=LERC_DEFLATE -co MAX_Z_ERROR=0.5
seed gray-u4-lzw -b 1 -scale 0 255 0 15 -co NBITS=4 -co COMPRESS=LZW "${utm[@]}"
seed gray-u12-none -b 2 -ot UInt16 -scale 0 255 0 4095 -co NBITS=12 "${tiles[@]}"
seed gray-s8-deflate -b 3 -co PIXELTYPE=SIGNEDBYTE -co COMPRESS=DEFLATE
seed gcps-none -b 1 -a_srs EPSG:4326 -gcp 0 0 10 45 -gcp 31 0 10.3 45.01 -gcp 0 23 9.99 44.8 \
  -gcp 31 23 10.31 44.79
for fax in CCITTRLE CCITTFAX3 CCITTFAX4; do
  seed "bilevel-${fax,,}" -b 1 -scale 0 255 0 1 -co NBITS=1 -co COMPRESS=$fax
done

# A palette image and a rotated grid (stored as a model transformation).
cat >"$tmp/palette.vrt" <<EOF
<VRTDataset rasterXSize="512" rasterYSize="384">
  <GeoTransform>300000, 30, 5, 5000000, 5, -30</GeoTransform>
  <SRS>EPSG:32632</SRS>
  <VRTRasterBand dataType="Byte" band="1">
    <ColorInterp>Palette</ColorInterp>
    <ColorTable><Entry c1="0" c2="0" c3="0" c4="255"/><Entry c1="255" c2="0" c3="0" c4="255"/>
      <Entry c1="0" c2="255" c3="0" c4="255"/><Entry c1="0" c2="0" c3="255" c4="255"/></ColorTable>
    <SimpleSource><SourceFilename>$src</SourceFilename><SourceBand>1</SourceBand></SimpleSource>
  </VRTRasterBand>
</VRTDataset>
EOF
gdal_translate -q -outsize 32 24 -scale 0 255 0 3 -co COMPRESS=PACKBITS "$tmp/palette.vrt" \
  "$out/palette-rotated.tif"

# Rasters made from nothing: constant pixels, odd types and many bands.
gdal_create -q -of GTiff -outsize 20 10 -bands 1 -ot Float64 -burn 2.5 -a_nodata -9999 \
  -co COMPRESS=DEFLATE "${geo[@]}" "$out/f64-nodata.tif"
gdal_create -q -of GTiff -outsize 20 10 -bands 5 -ot UInt32 -burn 7 -co INTERLEAVE=BAND -co COMPRESS=LZW \
  -co TILED=YES -co BLOCKXSIZE=16 -co BLOCKYSIZE=16 "$out/u32-5band-tiled.tif"
gdal_create -q -of GTiff -outsize 20 10 -bands 2 -ot CFloat32 -burn 1 "$out/cf32.tif"
# A huge image of 168 interleaved 1-bit layers in sparse tiles narrower than
# a raster-buffer block: each block spans two tiles, so a reader that unpacks
# every layer of a tile to deliver one does so twice per block.
gdal_create -q -of GTiff -outsize 45349 65309 -bands 168 -ot Byte -co NBITS=1 \
  -co INTERLEAVE=PIXEL -co TILED=YES -co BLOCKXSIZE=384 -co BLOCKYSIZE=4096 -co SPARSE_OK=TRUE \
  -co COMPRESS=DEFLATE "$out/multi-layer-1bit-tiles.tif"

# Overviews on one tiled and one striped seed.
gdaladdo -q -r average "$out/rgb-lzw-tiled.tif" 2 4
gdaladdo -q -r nearest "$out/gray-s16-lzma-strips.tif" 2

# The GeoKey tags of every georeferenced seed, as fuzz_geokeys reads them:
# a 16-bit count and the directory, a byte count and the doubles, then the
# ASCII parameters without their final NUL.
/usr/bin/python3 - "$out" "$keys" <<'EOF'
import os, struct, sys

TYPES = {1: 1, 2: 1, 3: 2, 4: 4, 5: 8, 6: 1, 7: 1, 8: 2, 9: 4, 10: 8, 11: 4, 12: 8, 16: 8}

def tags(data):
    big = data[2:4] == b"+\0"
    head, entry, count_fmt = ("<Q", 20, "<HHQ") if big else ("<I", 12, "<HHI")
    ifd = struct.unpack_from(head, data, 8 if big else 4)[0]
    n = struct.unpack_from("<Q" if big else "<H", data, ifd)[0]
    at = ifd + (8 if big else 2)
    found = {}
    for i in range(n):
        tag, typ, count = struct.unpack_from(count_fmt, data, at + i * entry)
        value_at = at + i * entry + (12 if big else 8)
        size = TYPES.get(typ, 1) * count
        if size > (8 if big else 4):
            value_at = struct.unpack_from(head, data, value_at)[0]
        found[tag] = data[value_at:value_at + size]
    return found

src, dst = sys.argv[1:]
for name in sorted(os.listdir(src)):
    with open(os.path.join(src, name), "rb") as f:
        t = tags(f.read())
    if 34735 not in t:
        continue
    directory, doubles, ascii = t[34735], t.get(34736, b""), t.get(34737, b"").rstrip(b"\0")
    seed = struct.pack("<H", len(directory) // 2) + directory
    seed += struct.pack("<B", len(doubles) // 8) + doubles + ascii
    with open(os.path.join(dst, "gdal-" + name[:-4] + ".bin"), "wb") as f:
        f.write(seed)
EOF
echo "open_read: $(ls "$out" | wc -l) seeds, $(du -sk "$out" | cut -f1) KB;" \
  "geokeys: $(ls "$keys"/gdal-*.bin | wc -l) GDAL seeds"
