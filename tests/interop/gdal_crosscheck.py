#!/usr/bin/python3
"""Cross-checks of `ktif info` and `ktif read` against GDAL, on a matrix of
images GDAL writes (see matrix()): `ktif info --json` must agree with GDAL on
each image's size, bands and image count, and `ktif read` of every layer must
equal GDAL's ReadAsArray of that band, with default read blocks and with small
ones that cut across the file's blocks.

Usage: gdal_crosscheck.py PATH_TO_KTIF [-v]. Exit 0 when every check passes,
1 otherwise, 77 when this Python cannot import GDAL's bindings.
"""
import concurrent.futures
import json
import os
import shutil
import subprocess
import sys
import tempfile

from interop_support import (KINDS, arguments, colour_table, compare, gdal, np, random_samples,
                             run, stderr, summary)

# Read blocks this small (in bytes) split the 32 x 32 tiles and 16-row strips
# of the matrix into pieces that do not line up with them.
SMALL_BLOCKS = ["--pref", "tiff.max_uncompressed_blk_size=600"]

# numpy type of each ktif pixel type.
PIXEL_DTYPES = dict({kind.upper(): types[1] for kind, types in KINDS.items()},
                    U1=np.uint8, U2=np.uint8, U4=np.uint8)


class Case:
    def __init__(self, name, kind="u8", bands=1, width=45, height=37, tiled=False,
                 planar=1, compress="NONE", nbits=None, photometric=None, palette=False,
                 overviews=(), smooth=False, pixel_type=None, expect=()):
        # smooth: JPEG wants smooth content to keep its errors small; pixel_type:
        # the ktif pixel type GDAL's data must come out as; expect: further
        # `ktif info` fields that make the case meaningful.
        vars(self).update({k: v for k, v in locals().items() if k != "self"})

    def options(self):
        opts = ["INTERLEAVE=" + ("BAND" if self.planar == 2 else "PIXEL"),
                "COMPRESS=" + self.compress]
        opts += (["TILED=YES", "BLOCKXSIZE=32", "BLOCKYSIZE=32"] if self.tiled
                 else ["BLOCKYSIZE=16"])
        opts += ["NBITS=%d" % self.nbits] if self.nbits else []
        opts += ["PHOTOMETRIC=" + self.photometric] if self.photometric else []
        return opts + (["PIXELTYPE=SIGNEDBYTE"] if self.kind == "s8" else [])

    def data(self, band, rng):
        if self.smooth:
            y, x = np.mgrid[0:self.height, 0:self.width]
            return (40 + 50 * band + x * 90 // self.width + y * 60 // self.height).astype(np.uint8)
        a = random_samples(self.kind, self.nbits, (self.height, self.width), rng)
        # GDAL keeps signed bytes in its unsigned Byte type.
        return a.view(np.uint8) if self.kind == "s8" else a

    def write(self, directory, rng):
        self.path = os.path.join(directory, self.name + ".tif")
        ds = gdal.GetDriverByName("GTiff").Create(self.path, self.width, self.height, self.bands,
                                                  KINDS[self.kind][0], self.options())
        for b in range(self.bands):
            band = ds.GetRasterBand(b + 1)
            if self.palette and b == 0:
                band.SetRasterColorTable(colour_table(self.nbits))
            band.WriteArray(self.data(b, rng))
        if self.overviews:
            ds.BuildOverviews("NEAREST", list(self.overviews))
        ds = None


def matrix():
    c = Case
    return [
        # Integer types, strips and tiles, every compression.
        c("u8_strip", "u8", pixel_type="U8"),
        c("u8_tile_lzw", "u8", tiled=True, compress="LZW", pixel_type="U8"),
        c("u8_rgb_strip_deflate", "u8", 3, compress="DEFLATE", photometric="RGB"),
        c("u8_rgb_planar_tile_packbits", "u8", 3, tiled=True, planar=2, compress="PACKBITS",
          photometric="RGB"),
        c("u8_4band_tile_lzw", "u8", 4, tiled=True, compress="LZW"),
        c("u8_4band_planar_strip", "u8", 4, planar=2),
        c("s8_strip", "s8", compress="LZW", pixel_type="S8"),
        c("u16_tile_deflate", "u16", tiled=True, compress="DEFLATE", pixel_type="U16"),
        c("u16_rgb_strip_lzw", "u16", 3, compress="LZW", photometric="RGB"),
        c("u16_3band_planar_tile", "u16", 3, tiled=True, planar=2),
        c("s16_strip_packbits", "s16", compress="PACKBITS", pixel_type="S16"),
        c("u32_tile", "u32", tiled=True, pixel_type="U32"),
        c("s32_3band_strip_lzw", "s32", 3, compress="LZW", pixel_type="S32"),
        c("f32_strip_deflate", "f32", compress="DEFLATE", pixel_type="F32"),
        c("f32_3band_planar_tile", "f32", 3, tiled=True, planar=2, pixel_type="F32"),
        c("f64_tile_lzw", "f64", tiled=True, compress="LZW", pixel_type="F64"),
        c("f64_4band_strip", "f64", 4, pixel_type="F64"),
        # Sub-byte samples (rows and tiles that end inside a byte).
        c("u1_strip", nbits=1, pixel_type="U1"),
        c("u1_tile_deflate", nbits=1, tiled=True, compress="DEFLATE", pixel_type="U1"),
        c("u4_strip_lzw", nbits=4, compress="LZW", pixel_type="U4"),
        c("u4_tile", nbits=4, tiled=True, pixel_type="U4"),
        c("u4_3band_planar_strip", nbits=4, bands=3, planar=2, pixel_type="U4"),
        # MinIsWhite: ktif delivers the complement of what is stored.
        c("miniswhite_u1_strip", nbits=1, photometric="MINISWHITE"),
        c("miniswhite_u8_tile", "u8", tiled=True, photometric="MINISWHITE"),
        c("miniswhite_u16_strip_lzw", "u16", compress="LZW", photometric="MINISWHITE"),
        # Palettes: indices come back, the colour map is reported.
        c("palette_u8_strip_lzw", "u8", photometric="PALETTE", palette=True, compress="LZW",
          expect={"colorMapSize": 256, "photometric": 3}),
        c("palette_u4_tile", nbits=4, tiled=True, photometric="PALETTE", palette=True,
          expect={"colorMapSize": 16, "photometric": 3}),
        # JPEG with YCbCr colour, delivered as RGB by both sides.
        c("jpeg_ycbcr_tile", "u8", 3, width=100, height=70, tiled=True, compress="JPEG",
          photometric="YCBCR", smooth=True, expect={"compression": 32774, "layers": 3}),
        c("jpeg_ycbcr_strip", "u8", 3, width=100, height=70, compress="JPEG",
          photometric="YCBCR", smooth=True, expect={"compression": 32774}),
        # Odd sizes.
        c("one_pixel", "u8", width=1, height=1),
        c("one_column_tile", "u16", width=1, height=70, tiled=True),
        c("one_row_rgb", "u8", 3, width=77, height=1, photometric="RGB"),
        # Very wide uncompressed strips, read straight from the file in pieces.
        c("wide_rgb_strip", "u8", 3, width=5600, height=40, photometric="RGB",
          expect={"rbBlockWidth": 1280, "rbBlockHeight": 256}),
        c("wide_u16_strip", "u16", width=16400, height=20,
          expect={"rbBlockWidth": 1280, "rbBlockHeight": 256}),
        # Internal overviews are not images.
        c("overviews_rgb_tile", "u8", 3, width=200, height=150, tiled=True, compress="LZW",
          photometric="RGB", overviews=[2, 4]),
        c("overviews_u16_strip", "u16", width=130, height=90, overviews=[2]),
    ]


def gdal_images(path):
    """Pages GDAL sees as images: its subdatasets, or the file itself."""
    subdatasets = gdal.Open(path).GetMetadata("SUBDATASETS")
    return [v for k, v in sorted(subdatasets.items()) if k.endswith("_NAME")] or [path]


def expected_layer(case, stored):
    """What ktif must deliver for GDAL's array of one band (signed bytes compare
    by their bits)."""
    if case.photometric != "MINISWHITE":
        return stored
    return (1 - stored).astype(np.uint8) if case.nbits == 1 else np.invert(stored)


def check_image(tool, case, image_index, image_path, label):
    """info and read of one image against GDAL's dataset `image_path`; yields
    (check name, passed, detail)."""
    ds = gdal.Open(image_path)
    result = run(tool, ["info", "--json", "--image", str(image_index), case.path])
    if result.returncode != 0:
        yield label + " info", False, stderr(result)
        return
    info = json.loads(result.stdout)
    want = {"width": ds.RasterXSize, "height": ds.RasterYSize, "layers": ds.RasterCount,
            "images": len(gdal_images(case.path)), "image": image_index}
    if case.pixel_type:
        want["pixelType"] = case.pixel_type
    if case.compress != "JPEG":  # GDAL reports JPEG strips in its own block size
        want["blockWidth"], want["blockHeight"] = ds.GetRasterBand(1).GetBlockSize()
    if case.tiled is not None:
        want["tiled"] = case.tiled
    if image_index == 0:
        want.update(case.expect)
        if case.overviews:
            want["overviewCount"] = len(case.overviews)
            info["overviewCount"] = len(info["reducedResolutionOffsets"])
    wrong = {k: (info.get(k), v) for k, v in want.items() if info.get(k) != v}
    yield label + " info", not wrong, ", ".join(
        "%s ktif %r gdal %r" % (k, a, b) for k, (a, b) in wrong.items())

    w, h = info["width"], info["height"]
    for layer in range(info["layers"]):
        want_layer = expected_layer(case, ds.GetRasterBand(layer + 1).ReadAsArray())
        for extra, how in (([], "default blocks"), (SMALL_BLOCKS, "small blocks")):
            name = "%s read layer %d (%s)" % (label, layer, how)
            result = run(tool, extra + ["read", "--image", str(image_index), "--layer",
                                        str(layer), case.path])
            dtype = np.dtype(PIXEL_DTYPES.get(info["pixelType"], "V1"))  # V1: unknown type
            if (result.returncode != 0 or dtype.kind == "V"
                    or len(result.stdout) != w * h * dtype.itemsize):
                yield name, False, "%d bytes of %s for %d x %d; %s" % (
                    len(result.stdout), info["pixelType"], w, h, stderr(result))
                continue
            yield (name,) + compare(np.frombuffer(result.stdout, dtype).reshape(h, w), want_layer)


def check_case(tool, case):
    images = gdal_images(case.path)
    for index, image in enumerate(images):
        yield from check_image(tool, case, index, image,
                               case.name if index == 0 else "%s image %d" % (case.name, index))
    # An index past the last image is refused, not taken as an overview.
    result = run(tool, ["read", "--image", str(len(images)), "--out", os.devnull, case.path])
    yield case.name + " image %d refused" % len(images), result.returncode != 0, "exit code 0"
    plain = run(tool, ["info", case.path])
    yield (case.name + " plain info", plain.returncode == 0 and b"Size:" in plain.stdout,
           stderr(plain))


def check_tool_edges(tool, directory, case):
    """Files and arguments the tool must refuse, and --out against stdout."""
    text = os.path.join(directory, "not_a_tiff.tif")
    with open(text, "w") as f:
        f.write("plain text, longer than eight bytes\n")
    refused = {
        "missing file": ["info", os.path.join(directory, "missing.tif")],
        "text file": ["read", "--out", os.devnull, text],
        "layer past the last": ["read", "--layer", "3", "--out", os.devnull, case.path],
        "unwritable --out": ["read", "--out", os.path.join(directory, "no", "dir.raw"),
                             case.path],
    }
    for what, args in refused.items():
        result = run(tool, args)
        yield ("refuses " + what, result.returncode != 0 and bool(result.stderr),
               "exit code %d" % result.returncode)
    out = os.path.join(directory, "layer2.raw")
    to_file = run(tool, ["read", "--layer", "2", "--out", out, case.path])
    to_stdout = run(tool, ["read", "--layer", "2", case.path])
    with open(out, "rb") as f:
        same = to_file.returncode == 0 and f.read() == to_stdout.stdout
    yield "read --out equals standard output", same, ""


def multi_page(directory, named):
    """Two GDAL files joined into one with tiffcp: overviews of the first page
    stay reduced-resolution directories between the two images."""
    tiffcp = shutil.which("tiffcp")
    if tiffcp is None:
        print("note: tiffcp not found, no multi-page case")
        return []
    joined = Case("two_pages", "u8", 3, tiled=None)  # a tiled page, then a stripped one
    joined.path = os.path.join(directory, "two_pages.tif")
    pages = [named["overviews_rgb_tile"].path, named["u8_rgb_strip_deflate"].path]
    subprocess.run([tiffcp] + pages + [joined.path], check=True)
    return [joined]


def main():
    tool, verbose = arguments(__doc__)
    rng = np.random.default_rng(20240611)
    with tempfile.TemporaryDirectory(prefix="ktif_gdal_") as directory:
        cases = matrix()
        for case in cases:
            case.write(directory, rng)
        named = {c.name: c for c in cases}
        cases += multi_page(directory, named)
        with concurrent.futures.ThreadPoolExecutor(max_workers=os.cpu_count() or 2) as pool:
            results = [r for rs in pool.map(lambda c: list(check_case(tool, c)), cases) for r in rs]
        results += check_tool_edges(tool, directory, named["u16_rgb_strip_lzw"])
    return summary(results, verbose)


if __name__ == "__main__":
    sys.exit(main())
