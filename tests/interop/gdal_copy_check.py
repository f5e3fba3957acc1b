#!/usr/bin/python3
"""Cross-checks of `ktif copy` against GDAL, on images GDAL writes.

1. Pixels and layout (see copies()): every pixel type copied as it is, and
   every layout and codec option on a few of them. GDAL must read the copy
   equal to the source band by band (floats bit for bit), with the source's
   data type, bands, bits, colour table, MinIsWhite, interleaving and colour
   interpretation, and the block size, compression and classic or BigTIFF
   header asked for. JPEG copies, of smooth content, may differ from the
   source by a mean absolute difference under 3 and less than 12 per sample
   (GDAL's own JPEG of it stays within 4; edge tiles padded with black
   instead of their last column and row reach 52).
2. A plain copy of GeoTIFFs in several EPSG systems keeps the geotransform
   (1e-9 relative) and the system: the same for osr, and points of its area
   of use projecting to the same coordinates (1 mm, or 1e-9 degree).
3. --epsg and --geotransform on a plain image give osr's own system for the
   code and that transform; either alone changes only its own part of a
   georeferenced image; --epsg 3857 is refused and writes nothing.
4. --world-file writes the world file GDAL writes for the copy.

Usage: gdal_copy_check.py PATH_TO_KTIF [-v]. Exit 0 when every check passes,
1 otherwise, 77 when this Python cannot import GDAL's bindings.
"""
import concurrent.futures
import os
import sys
import tempfile

from interop_support import (KINDS, arguments, close, colour_table, compare, gdal, np, osr,
                             random_samples, run, stderr, summary)

# Neither a multiple of the strips nor of the tiles asked for.
WIDTH, HEIGHT = 45, 37
JPEG_MEAN, JPEG_MAX = 3, 12
GIS_ORDER = osr.OAMS_TRADITIONAL_GIS_ORDER

# ---- Pixels and layout ---------------------------------------------------------------


class Source:
    def __init__(self, name, kind="u8", bands=1, options=(), nbits=None, palette=False,
                 smooth=False):
        # smooth: content JPEG keeps close; the rest is random, per band,
        # column and row.
        vars(self).update({k: v for k, v in locals().items() if k != "self"})

    def data(self, band, rng):
        shape = (HEIGHT, WIDTH)
        if self.smooth:
            y, x = np.mgrid[0:HEIGHT, 0:WIDTH]
            return (30 + 40 * band + x * 80 // WIDTH + y * 60 // HEIGHT).astype(np.uint8)
        return random_samples(self.kind, self.nbits, shape, rng)

    def write(self, directory, rng):
        self.path = os.path.join(directory, self.name + ".tif")
        options = list(self.options) + (["NBITS=%d" % self.nbits] if self.nbits else [])
        ds = gdal.GetDriverByName("GTiff").Create(self.path, WIDTH, HEIGHT, self.bands,
                                                  KINDS[self.kind][0], options)
        for b in range(self.bands):
            band = ds.GetRasterBand(b + 1)
            if self.palette:
                band.SetRasterColorTable(colour_table(self.nbits))
            band.WriteArray(self.data(b, rng))
        ds = None


def sources():
    s, tiled = Source, ["TILED=YES", "BLOCKXSIZE=16", "BLOCKYSIZE=16"]
    return [s("u1", nbits=1, options=["COMPRESS=PACKBITS"]),
            s("u4", nbits=4),
            s("u8", options=["BLOCKYSIZE=5"]),
            s("u16", "u16", options=["COMPRESS=LZW"]),
            s("s16", "s16"),
            s("s32", "s32", options=["COMPRESS=DEFLATE"] + tiled),
            s("f32", "f32"),
            s("f64", "f64", options=tiled),
            s("palette", options=["PHOTOMETRIC=PALETTE"], palette=True),
            s("palette4", nbits=4, options=["PHOTOMETRIC=PALETTE"], palette=True),
            s("miniswhite", options=["PHOTOMETRIC=MINISWHITE"]),
            s("miniswhite1", nbits=1, options=["PHOTOMETRIC=MINISWHITE"]),
            s("rgba", bands=4, options=["PHOTOMETRIC=RGB", "ALPHA=YES"]),
            s("rgb_planar", "u16", 3, options=["PHOTOMETRIC=RGB", "INTERLEAVE=BAND"] + tiled),
            s("grey_smooth", smooth=True),
            s("rgb_smooth", bands=3, options=["PHOTOMETRIC=RGB"], smooth=True),
            s("jpeg_ycbcr", bands=3, options=["PHOTOMETRIC=YCBCR", "COMPRESS=JPEG"],
              smooth=True)]


LAYOUTS = {"strips": ["--strips", "7"], "tiles": ["--tiles", "32x32"],
           "none": ["--compress", "none"], "lzw": ["--compress", "lzw"],
           "deflate": ["--compress", "deflate"], "packbits": ["--compress", "packbits"],
           "bigtiff": ["--bigtiff"],
           "tiles_deflate_bigtiff": ["--tiles", "16x48", "--compress", "deflate", "--bigtiff"]}


def copies():
    """(source, label, arguments): every source as it is, every layout on
    sub-byte, palette, signed, float, planar and extra-sample images, and
    JPEG on smooth grey and colour."""
    plain = [(s.name, "default", []) for s in sources()]
    layouts = [(name, label, args) for name in ("u1", "palette4", "s16", "f64", "rgb_planar",
                                                "rgba")
               for label, args in LAYOUTS.items()]
    jpeg = [("grey_smooth", "jpeg", ["--compress", "jpeg"]),
            ("grey_smooth", "jpeg_strips", ["--compress", "jpeg", "--strips", "16"]),
            ("grey_smooth", "jpeg_tiles", ["--compress", "jpeg", "--tiles", "16x16"]),
            ("rgb_smooth", "jpeg", ["--compress", "jpeg"]),
            ("rgb_smooth", "jpeg_tiles", ["--compress", "jpeg", "--tiles", "32x32"]),
            ("rgb_smooth", "jpeg_tiles_q90", ["--compress", "jpeg", "--tiles", "32x32",
                                              "--quality", "90"]),
            ("jpeg_ycbcr", "lzw", ["--compress", "lzw"])]
    return plain + layouts + jpeg


def layout(path):
    """What GDAL reports of a file's form."""
    ds = gdal.Open(path)
    band = ds.GetRasterBand(1)
    structure = ds.GetMetadata("IMAGE_STRUCTURE")
    table = band.GetColorTable()
    with open(path, "rb") as f:
        header = f.read(4)
    return {"type": gdal.GetDataTypeName(band.DataType), "bands": ds.RasterCount,
            "nbits": band.GetMetadataItem("NBITS", "IMAGE_STRUCTURE"),
            "block": tuple(band.GetBlockSize()),
            "compression": structure.get("COMPRESSION", "NONE"),
            "quality": structure.get("JPEG_QUALITY"),
            "interleave": structure.get("INTERLEAVE"),
            "miniswhite": structure.get("MINISWHITE"),
            # Single-band files leave it to GDAL's own guesses.
            "colours": [gdal.GetColorInterpretationName(ds.GetRasterBand(b + 1)
                                                        .GetColorInterpretation())
                        for b in range(ds.RasterCount)] if ds.RasterCount > 1 else None,
            "colour table": [table.GetColorEntry(i) for i in range(table.GetCount())]
            if table else None,
            "tiff version": int.from_bytes(header[2:4], "little" if header[:2] == b"II" else "big")}


def wanted_layout(source, args):
    """The source's form with what the arguments change."""
    want = layout(source.path)
    option = dict(zip(args[::2], args[1::2]))
    if "--tiles" in option:
        want["block"] = tuple(int(v) for v in option["--tiles"].split("x"))
    elif "--strips" in option:
        want["block"] = (WIDTH, int(option["--strips"]))
    codec = option.get("--compress")
    if codec == "jpeg":
        want["compression"] = "YCbCr JPEG" if source.bands == 3 else "JPEG"
    elif codec:
        want["compression"] = codec.upper()
    if codec == "jpeg" and "--quality" not in option:
        del want["quality"]  # the library's default, whatever GDAL estimates it to be
    elif codec:
        want["quality"] = option.get("--quality")
    want["tiff version"] = 43 if "--bigtiff" in args else 42
    return want


def lossy(source, args):
    return "jpeg" in args or source.name == "jpeg_ycbcr" and "--compress" not in args


def check_copy(tool, directory, source, label, args):
    name = "%s %s" % (source.name, label)
    out = os.path.join(directory, "%s-%s.tif" % (source.name, label))
    result = run(tool, ["copy", source.path, out] + args)
    if result.returncode != 0:
        yield name, False, "ktif copy %s: %s" % (" ".join(args), stderr(result))
        return
    want, got = wanted_layout(source, args), layout(out)
    wrong = ["%s %r, wanted %r" % (k, got[k], v) for k, v in want.items() if got[k] != v]
    yield name + " layout", not wrong, "; ".join(wrong)
    theirs, ours = gdal.Open(source.path), gdal.Open(out)
    for b in range(1, min(theirs.RasterCount, ours.RasterCount) + 1):
        want_band = theirs.GetRasterBand(b).ReadAsArray()
        got_band = ours.GetRasterBand(b).ReadAsArray()
        if not lossy(source, args):
            yield ("%s band %d" % (name, b),) + compare(got_band, want_band)
            continue
        diff = np.abs(got_band.astype(np.int32) - want_band.astype(np.int32))
        yield ("%s band %d within JPEG tolerance" % (name, b),
               diff.mean() < JPEG_MEAN and diff.max() < JPEG_MAX,
               "mean abs diff %.2f, max %d" % (diff.mean(), diff.max()))


def check_pixels(tool, directory):
    rng = np.random.default_rng(20240612)
    named = {}
    for source in sources():
        source.write(directory, rng)
        named[source.name] = source
    with concurrent.futures.ThreadPoolExecutor(max_workers=os.cpu_count() or 2) as pool:
        done = pool.map(lambda c: list(check_copy(tool, directory, named[c[0]], c[1], c[2])),
                        copies())
        return [r for rs in done for r in rs]


# ---- Georeferencing ------------------------------------------------------------------

# Geographic, UTM north and south, NAD27 UTM, State Plane in US feet, British
# National Grid, LAEA Europe, Map Grid of Australia.
CODES = (4326, 32631, 32733, 26717, 2227, 27700, 3035, 28355)
# A system the host's model cannot hold: refused by --epsg, carried as keys.
FOREIGN = 3857


def system(code):
    srs = osr.SpatialReference()
    srs.ImportFromEPSG(code)
    srs.SetAxisMappingStrategy(GIS_ORDER)
    return srs


def area_points(srs):
    """Three (longitude, latitude) points inside the system's area of use."""
    area = srs.GetAreaOfUse()
    w, s, e, n = (area.west_lon_degree, area.south_lat_degree, area.east_lon_degree,
                  area.north_lat_degree)
    return [(w + (e - w) * fx, s + (n - s) * fy) for fx, fy in ((0.4, 0.6), (0.3, 0.2),
                                                                (0.8, 0.75))]


def lonlat_of(srs):
    geographic = srs.CloneGeogCS()
    geographic.SetAxisMappingStrategy(GIS_ORDER)
    return geographic


def plausible_transform(srs, rotated=False):
    """A geotransform at the first point of the area of use: 30 m pixels
    (0.00025 degree), turned slightly when `rotated`."""
    x, y, _ = osr.CoordinateTransformation(lonlat_of(srs), srs).TransformPoint(
        *area_points(srs)[0])
    step = 0.00025 if srs.IsGeographic() else 30 / srs.GetLinearUnits()
    turn = step / 8 if rotated else 0.0
    return [x, step, turn, y, -turn / 2, -step]


def same_transform(got, want):
    linear = max(abs(want[i]) for i in (1, 2, 4, 5))
    scales = [max(abs(want[0]), abs(want[3]), linear) if i in (0, 3) else linear for i in range(6)]
    ok = got is not None and all(close(g, w, s) for g, w, s in zip(got, want, scales))
    return ok, "%s, wanted %s" % (got, want)


def identified(srs):
    clone = srs.Clone()
    try:
        clone.AutoIdentifyEPSG()
    except RuntimeError:
        pass
    return clone.GetAuthorityCode(None)


def same_system(got, want):
    """osr's IsSame, or, where the two differ only in names, the same EPSG
    code, ellipsoid and units; then the points of the area of use must
    project to the same coordinates."""
    if got is None:
        return False, "no coordinate system"
    got.SetAxisMappingStrategy(GIS_ORDER)
    if not want.IsSame(got):
        def facts(s):
            return (identified(s), s.GetSemiMajor(), s.GetSemiMinor(),
                    s.GetAngularUnits() if s.IsGeographic() else s.GetLinearUnits())
        if facts(got) != facts(want):
            return False, "%s is not %s (code, axes, units %s vs %s)" % (
                got.GetName(), want.GetName(), facts(got), facts(want))
    tolerance = 1e-9 if want.IsGeographic() else 0.001 / want.GetLinearUnits()
    lonlat = lonlat_of(want)
    for point in area_points(want):
        a = osr.CoordinateTransformation(lonlat, got).TransformPoint(*point)
        b = osr.CoordinateTransformation(lonlat, want).TransformPoint(*point)
        if abs(a[0] - b[0]) > tolerance or abs(a[1] - b[1]) > tolerance:
            return False, "%s goes to %s, wanted %s" % (point, a[:2], b[:2])
    return True, ""


def image(path, code=None, geotransform=None, point=False):
    ds = gdal.GetDriverByName("GTiff").Create(path, 20, 10, 1, gdal.GDT_Byte)
    ds.GetRasterBand(1).Fill(7)
    if code:
        ds.SetSpatialRef(system(code))
    if geotransform:
        ds.SetGeoTransform(geotransform)
    if point:
        ds.SetMetadataItem("AREA_OR_POINT", "Point")
    ds = None
    return path


def georeferenced(directory, code, rotated=False):
    return image(os.path.join(directory, "epsg_%d%s.tif" % (code, "_turned" * rotated)), code,
                 plausible_transform(system(code), rotated))


def check_copied_system(tool, name, source, out, args, code, geotransform):
    """`ktif copy SOURCE OUT ARGS` must give `code`'s system and
    `geotransform`."""
    result = run(tool, ["copy", source, out] + args)
    if result.returncode != 0:
        yield name, False, stderr(result)
        return
    ds = gdal.Open(out)
    yield (name + " geotransform",) + same_transform(ds.GetGeoTransform(can_return_null=True),
                                                     geotransform)
    yield (name + " system",) + same_system(ds.GetSpatialRef(), system(code))


def check_georeferencing(tool, directory):
    plain = image(os.path.join(directory, "plain.tif"))
    for code in CODES + (FOREIGN,):
        source = georeferenced(directory, code)
        yield from check_copied_system(tool, "EPSG:%d carried" % code, source,
                                       source + ".copy.tif", [], code,
                                       gdal.Open(source).GetGeoTransform())
    for code in CODES:
        geotransform = plausible_transform(system(code), rotated=True)
        args = ["--epsg", str(code), "--geotransform", ",".join(map(repr, geotransform))]
        yield from check_copied_system(tool, "--epsg %d --geotransform" % code, plain,
                                       os.path.join(directory, "set_%d.tif" % code), args, code,
                                       geotransform)
    # One option on a georeferenced image leaves the other part as it was.
    turned = [651000.5, 12.5, 1.25, 4501000.25, -0.75, -12.5]
    move = ["--geotransform", ",".join(map(repr, turned))]
    for code, args, want_code in [(2227, move, 2227), (FOREIGN, move, FOREIGN),
                                  (32733, ["--epsg", "32631"], 32631)]:
        source = georeferenced(directory, code)
        want_transform = turned if args is move else gdal.Open(source).GetGeoTransform()
        yield from check_copied_system(
            tool, "%s on EPSG:%d" % (args[0] if args is move else " ".join(args), code), source,
            os.path.join(directory, "one_option_%d.tif" % code), args, want_code, want_transform)

    out = os.path.join(directory, "refused.tif")
    before = set(os.listdir(directory))
    result = run(tool, ["copy", plain, out, "--epsg", str(FOREIGN), "--geotransform",
                        "0,1,0,0,0,-1", "--world-file"])
    left = set(os.listdir(directory)) - before
    yield ("--epsg %d refused, nothing written" % FOREIGN,
           result.returncode != 0 and bool(stderr(result)) and not left,
           "exit code %d, stderr %r, files left %s" % (result.returncode, stderr(result),
                                                       sorted(left)))


def world_file(path):
    with open(path) as f:
        return [float(v) for v in f.read().split()]


def check_world_files(tool, directory):
    plain = image(os.path.join(directory, "world_plain.tif"))
    turned = plausible_transform(system(32631), rotated=True)
    cases = [  # name, source, arguments
        ("set", plain, ["--epsg", "32631", "--geotransform", ",".join(map(repr, turned))]),
        ("carried feet", georeferenced(directory, 2227), []),
        ("carried degrees", georeferenced(directory, 4326, rotated=True), []),
        ("carried pixel-is-point",
         image(os.path.join(directory, "world_point.tif"), 32631, turned, point=True), [])]
    for name, source, args in cases:
        out = os.path.join(directory, "world_%s.tif" % name.replace(" ", "_"))
        result = run(tool, ["copy", source, out, "--world-file"] + args)
        ours = os.path.splitext(out)[0] + ".tfw"
        if result.returncode != 0 or not os.path.exists(ours):
            yield "world file " + name, False, "no %s: %s" % (ours, stderr(result))
            continue
        reference = os.path.splitext(out)[0] + "_gdal.tif"
        gdal.Translate(reference, out, creationOptions=["TFW=YES"])
        got, want = world_file(ours), world_file(os.path.splitext(reference)[0] + ".tfw")
        linear = max(abs(v) for v in want[:4])
        ok = len(got) == 6 and all(close(g, w, linear if i < 4 else max(map(abs, want[4:])))
                                   for i, (g, w) in enumerate(zip(got, want)))
        yield "world file " + name, ok, "%s, GDAL writes %s" % (got, want)
    out = os.path.join(directory, "world_none.tif")
    result = run(tool, ["copy", plain, out] + cases[0][2])
    yield ("no world file unasked", result.returncode == 0 and not os.path.exists(
        os.path.splitext(out)[0] + ".tfw"), stderr(result))


def main():
    tool, verbose = arguments(__doc__)
    with tempfile.TemporaryDirectory(prefix="ktif_copy_") as directory:
        results = check_pixels(tool, directory)
        results += check_georeferencing(tool, directory)
        results += check_world_files(tool, directory)
    return summary(results, verbose)


if __name__ == "__main__":
    sys.exit(main())
