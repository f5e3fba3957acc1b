#!/usr/bin/python3
"""Cross-checks of `ktif info` and `ktif read` against GDAL.

GDAL writes a matrix of small images (strips and tiles, 1 to 64 bits, signed
and float samples, 1 to 4 bands, both planar configurations, every common
compression, MinIsWhite, palettes, odd sizes, very wide strips, internal
overviews, several pages). For each image, `ktif info --json` must agree with
GDAL on the size, the band count and the number of images, and `ktif read` of
every layer must equal GDAL's ReadAsArray of that band, once with the default
read blocks and once with small ones that cut across the file's blocks.

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

try:
    from osgeo import gdal
    import numpy as np
except ImportError:
    print("skipped: this Python cannot import osgeo (install python3-gdal python3-numpy)")
    sys.exit(77)

gdal.UseExceptions()

# Read blocks this small (in bytes) split the 32 x 32 tiles and 16-row strips
# of the matrix into pieces that do not line up with them.
SMALL_BLOCKS = ["--pref", "tiff.max_uncompressed_blk_size=600"]

PIXEL_DTYPES = {
    "U1": np.uint8, "U2": np.uint8, "U4": np.uint8, "U8": np.uint8, "S8": np.int8,
    "U16": np.uint16, "S16": np.int16, "U32": np.uint32, "S32": np.int32,
    "F32": np.float32, "F64": np.float64,
}

GDAL_TYPES = {
    "u8": gdal.GDT_Byte, "s8": gdal.GDT_Byte, "u16": gdal.GDT_UInt16, "s16": gdal.GDT_Int16,
    "u32": gdal.GDT_UInt32, "s32": gdal.GDT_Int32, "f32": gdal.GDT_Float32,
    "f64": gdal.GDT_Float64,
}


class Case:
    def __init__(self, name, kind="u8", bands=1, width=45, height=37, tiled=False,
                 planar=1, compress="NONE", nbits=None, photometric=None, palette=False,
                 overviews=None, smooth=False, pixel_type=None, expect=None):
        self.name = name
        self.kind = kind
        self.bands = bands
        self.width = width
        self.height = height
        self.tiled = tiled
        self.planar = planar
        self.compress = compress
        self.nbits = nbits
        self.photometric = photometric
        self.palette = palette
        self.overviews = overviews or []
        self.smooth = smooth  # JPEG wants smooth content to keep its errors small
        self.pixel_type = pixel_type  # the ktif pixel type GDAL's data must come out as
        self.expect = expect or {}  # further `ktif info` fields that make the case meaningful
        self.path = None

    def options(self):
        opts = ["INTERLEAVE=" + ("BAND" if self.planar == 2 else "PIXEL"),
                "COMPRESS=" + self.compress]
        if self.tiled:
            opts += ["TILED=YES", "BLOCKXSIZE=32", "BLOCKYSIZE=32"]
        else:
            opts += ["BLOCKYSIZE=16"]
        if self.nbits:
            opts.append("NBITS=%d" % self.nbits)
        if self.photometric:
            opts.append("PHOTOMETRIC=" + self.photometric)
        if self.kind == "s8":
            opts.append("PIXELTYPE=SIGNEDBYTE")
        return opts

    def data(self, band, rng):
        shape = (self.height, self.width)
        if self.smooth:
            y, x = np.mgrid[0:self.height, 0:self.width]
            return (40 + 50 * band + (x * 90) // self.width + (y * 60) // self.height).astype(
                np.uint8)
        if self.nbits:
            return rng.integers(0, 1 << self.nbits, shape, dtype=np.uint8)
        if self.kind in ("f32", "f64"):
            dtype = np.float32 if self.kind == "f32" else np.float64
            a = (rng.standard_normal(shape) * 1e4).astype(dtype)
            a.flat[0:4] = [np.nan, np.inf, -np.inf, -0.0]
            return a
        info = np.iinfo({"u8": np.uint8, "s8": np.int8, "u16": np.uint16, "s16": np.int16,
                         "u32": np.uint32, "s32": np.int32}[self.kind])
        a = rng.integers(info.min, info.max, shape, dtype=np.int64, endpoint=True)
        if self.kind == "s8":  # GDAL keeps signed bytes in its unsigned Byte type
            return a.astype(np.int8).view(np.uint8)
        return a.astype(info.dtype)

    def write(self, directory, rng):
        self.path = os.path.join(directory, self.name + ".tif")
        driver = gdal.GetDriverByName("GTiff")
        ds = driver.Create(self.path, self.width, self.height, self.bands,
                           GDAL_TYPES[self.kind], self.options())
        for b in range(self.bands):
            band = ds.GetRasterBand(b + 1)
            if self.palette and b == 0:
                table = gdal.ColorTable()
                for i in range(1 << (self.nbits or 8)):
                    table.SetColorEntry(i, (i * 7 % 256, i * 13 % 256, 255 - i % 256, 255))
                band.SetRasterColorTable(table)
            band.WriteArray(self.data(b, rng))
        if self.overviews:
            ds.BuildOverviews("NEAREST", self.overviews)
        ds = None


def matrix():
    c = Case
    cases = [
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
    return cases


def run(tool, args):
    return subprocess.run([tool] + args, stdout=subprocess.PIPE, stderr=subprocess.PIPE)


class Checker:
    def __init__(self, verbose):
        self.passed = 0
        self.failed = 0
        self.verbose = verbose

    def check(self, name, ok, detail=""):
        if ok:
            self.passed += 1
            if self.verbose:
                print("ok   " + name)
        else:
            self.failed += 1
            print("FAIL " + name + (": " + detail if detail else ""))


def gdal_images(path):
    """Pages GDAL sees as images: its subdatasets, or the file itself."""
    ds = gdal.Open(path)
    subdatasets = ds.GetMetadata("SUBDATASETS")
    names = [v for k, v in sorted(subdatasets.items()) if k.endswith("_NAME")]
    return names or [path]


def expected_layer(case, band, stored):
    """What ktif must deliver for GDAL's array of one band."""
    if case.photometric == "MINISWHITE":
        if case.nbits == 1:
            return (1 - stored).astype(np.uint8)
        return np.invert(stored)
    return stored


def compare(got, want):
    """Exact comparison, floats bit for bit; returns (equal, detail)."""
    if got.shape != want.shape:
        return False, "shape %s vs %s" % (got.shape, want.shape)
    if got.dtype.kind == "f":
        bits = {4: np.uint32, 8: np.uint64}[got.dtype.itemsize]
        differ = got.view(bits) != want.astype(got.dtype).view(bits)
    else:
        differ = got != want.astype(got.dtype)
    if not differ.any():
        return True, ""
    y, x = np.argwhere(differ)[0]
    diff = np.abs(got.astype(np.float64) - want.astype(np.float64))
    return False, "%d pixels differ, first at (%d,%d): %r vs %r, max abs diff %g" % (
        differ.sum(), x, y, got[y, x], want[y, x], np.nanmax(diff))


def check_image(tool, case, image_index, image_path, checker, label):
    """info and read of one image against GDAL's dataset `image_path`."""
    ds = gdal.Open(image_path)
    result = run(tool, ["info", "--json", "--image", str(image_index), case.path])
    if result.returncode != 0:
        checker.check(label + " info", False, result.stderr.decode(errors="replace").strip())
        return
    info = json.loads(result.stdout)
    want = {"width": ds.RasterXSize, "height": ds.RasterYSize, "layers": ds.RasterCount,
            "images": len(gdal_images(case.path)), "image": image_index}
    if case.pixel_type:
        want["pixelType"] = case.pixel_type
    block = ds.GetRasterBand(1).GetBlockSize()
    if case.compress != "JPEG":  # GDAL reports JPEG strips in its own block size
        want["blockWidth"], want["blockHeight"] = block
    if case.tiled is not None:
        want["tiled"] = case.tiled
    if image_index == 0:
        want.update(case.expect)
        if case.overviews:
            want["overviewCount"] = len(case.overviews)
            info["overviewCount"] = len(info["reducedResolutionOffsets"])
    wrong = {k: (info.get(k), v) for k, v in want.items() if info.get(k) != v}
    checker.check(label + " info", not wrong,
                  ", ".join("%s ktif %r gdal %r" % (k, a, b) for k, (a, b) in wrong.items()))

    dtype = PIXEL_DTYPES.get(info["pixelType"])
    for layer in range(info["layers"]):
        stored = ds.GetRasterBand(layer + 1).ReadAsArray()
        if case.kind == "s8":
            stored = stored.view(np.int8)
        want_layer = expected_layer(case, layer, stored)
        for extra, how in (([], "default blocks"), (SMALL_BLOCKS, "small blocks")):
            name = "%s read layer %d (%s)" % (label, layer, how)
            result = run(tool, extra + ["read", "--image", str(image_index), "--layer",
                                        str(layer), case.path])
            if result.returncode != 0 or dtype is None:
                checker.check(name, False, result.stderr.decode(errors="replace").strip())
                continue
            got = np.frombuffer(result.stdout, dtype=dtype)
            if got.size != info["width"] * info["height"]:
                checker.check(name, False, "%d samples for %d x %d" % (
                    got.size, info["width"], info["height"]))
                continue
            ok, detail = compare(got.reshape(info["height"], info["width"]), want_layer)
            checker.check(name, ok, detail)


def check_case(tool, case, checker):
    for index, image in enumerate(gdal_images(case.path)):
        check_image(tool, case, index, image, checker,
                    case.name if index == 0 else "%s image %d" % (case.name, index))
    # An index past the last image is refused, not taken as an overview.
    past = len(gdal_images(case.path))
    result = run(tool, ["read", "--image", str(past), "--out", os.devnull, case.path])
    checker.check(case.name + " image %d refused" % past, result.returncode != 0,
                  "exit code 0")


def check_tool_edges(tool, directory, cases, checker):
    """Files and arguments the tool must refuse, and --out against stdout."""
    case = next(c for c in cases if c.name == "u16_rgb_strip_lzw")
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
        checker.check("refuses " + what, result.returncode != 0 and result.stderr,
                      "exit code %d" % result.returncode)
    out = os.path.join(directory, "layer2.raw")
    to_file = run(tool, ["read", "--layer", "2", "--out", out, case.path])
    to_stdout = run(tool, ["read", "--layer", "2", case.path])
    with open(out, "rb") as f:
        same = to_file.returncode == 0 and f.read() == to_stdout.stdout
    checker.check("read --out equals standard output", same)
    for c in cases:
        plain = run(tool, ["info", c.path])
        checker.check(c.name + " plain info", plain.returncode == 0 and b"Size:" in plain.stdout,
                      plain.stderr.decode(errors="replace").strip())


def multi_page(directory, cases):
    """Two GDAL files joined into one with tiffcp: overviews of the first page
    stay reduced-resolution directories between the two images."""
    tiffcp = shutil.which("tiffcp")
    if tiffcp is None:
        print("note: tiffcp not found, no multi-page case")
        return None
    first = next(c for c in cases if c.name == "overviews_rgb_tile")
    second = next(c for c in cases if c.name == "u8_rgb_strip_deflate")
    joined = Case("two_pages", "u8", 3, tiled=None)  # a tiled page, then a stripped one
    joined.path = os.path.join(directory, "two_pages.tif")
    subprocess.run([tiffcp, first.path, second.path, joined.path], check=True)
    return joined


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    tool = sys.argv[1]
    verbose = "-v" in sys.argv[2:]
    checker = Checker(verbose)
    rng = np.random.default_rng(20240611)
    with tempfile.TemporaryDirectory(prefix="ktif_gdal_") as directory:
        cases = matrix()
        for case in cases:
            case.write(directory, rng)
        joined = multi_page(directory, cases)
        if joined is not None:
            cases.append(joined)
        # Each case gets its own checker so that parallel runs do not interleave counts.
        results = []
        with concurrent.futures.ThreadPoolExecutor(max_workers=os.cpu_count() or 2) as pool:
            futures = []
            for case in cases:
                own = Checker(verbose)
                futures.append(pool.submit(check_case, tool, case, own))
                results.append(own)
            for future in futures:
                future.result()
        check_tool_edges(tool, directory, cases, checker)
        for own in results:
            checker.passed += own.passed
            checker.failed += own.failed
    print("%d passed, %d failed" % (checker.passed, checker.failed))
    return 0 if checker.failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
