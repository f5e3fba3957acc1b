"""What the GDAL cross-check scripts share: the import guard (exit 77 when this
Python lacks GDAL's bindings), running the tool, exact and relative
comparisons, and the summary of (check name, passed, detail) results."""
import shutil
import subprocess
import sys

try:
    from osgeo import gdal, osr
    import numpy as np
except ImportError:
    print("skipped: this Python cannot import osgeo (install python3-gdal python3-numpy)")
    sys.exit(77)

gdal.UseExceptions()
osr.UseExceptions()

# GDAL type and numpy type of each sample kind.
KINDS = {"u8": (gdal.GDT_Byte, np.uint8), "s8": (gdal.GDT_Byte, np.int8),
         "u16": (gdal.GDT_UInt16, np.uint16), "s16": (gdal.GDT_Int16, np.int16),
         "u32": (gdal.GDT_UInt32, np.uint32), "s32": (gdal.GDT_Int32, np.int32),
         "f32": (gdal.GDT_Float32, np.float32), "f64": (gdal.GDT_Float64, np.float64)}

REL = 1e-9


def srs_of(definition):
    """A spatial reference from an EPSG code or a PROJ string, in longitude,
    latitude order."""
    srs = osr.SpatialReference()
    if isinstance(definition, int):
        srs.ImportFromEPSG(definition)
    else:
        srs.SetFromUserInput(definition)
    srs.SetAxisMappingStrategy(osr.OAMS_TRADITIONAL_GIS_ORDER)
    return srs


def random_samples(kind, nbits, shape, rng):
    """Random samples over the kind's whole range (the first four of a float
    band NaN, infinities and -0), or of `nbits` bits."""
    if nbits:
        return rng.integers(0, 1 << nbits, shape, dtype=np.uint8)
    dtype = KINDS[kind][1]
    if kind.startswith("f"):
        a = (rng.standard_normal(shape) * 1e4).astype(dtype)
        a.flat[0:4] = [np.nan, np.inf, -np.inf, -0.0]
        return a
    info = np.iinfo(dtype)
    return rng.integers(info.min, info.max, shape, dtype=np.int64, endpoint=True).astype(dtype)


def colour_table(nbits):
    table = gdal.ColorTable()
    for i in range(1 << (nbits or 8)):
        table.SetColorEntry(i, (i * 7 % 256, i * 13 % 256, 255 - i, 255))
    return table


def run(tool, args):
    return subprocess.run([tool] + args, stdout=subprocess.PIPE, stderr=subprocess.PIPE)


def stderr(result):
    return result.stderr.decode(errors="replace").strip()


def compare(got, want):
    """Exact comparison, floats bit for bit; returns (equal, detail)."""
    if got.shape != want.shape:
        return False, "shape %s vs %s" % (got.shape, want.shape)
    bits = "u%d" % got.itemsize  # floats bit for bit: NaN is NaN, -0 is not 0
    differ = got.view(bits) != want.astype(got.dtype).view(bits)
    if not differ.any():
        return True, ""
    y, x = np.argwhere(differ)[0]
    diff = np.abs(got.astype(np.float64) - want.astype(np.float64))
    return False, "%d pixels differ, first at (%d,%d): %r vs %r, max abs diff %g" % (
        differ.sum(), x, y, got[y, x], want[y, x], np.nanmax(diff))


def close(got, expected, scale=0.0):
    """Within REL of `expected`, or of `scale` when that is larger."""
    return got is not None and abs(got - expected) <= REL * max(abs(expected), scale, 1e-300)


def summary(results, verbose):
    """Prints the failures (every result with `verbose`) and a count; the exit
    code."""
    failed = 0
    for name, ok, detail in results:
        failed += not ok
        if not ok:
            print("FAIL " + name + (": " + detail if detail else ""))
        elif verbose:
            print("ok   " + name)
    print("%d passed, %d failed" % (len(results) - failed, failed))
    return 0 if failed == 0 else 1


def arguments(doc, needs_projinfo=False):
    """The tool's path and -v from the command line; exits 2 with the usage
    when the path is missing, 77 when projinfo is needed and not installed."""
    if len(sys.argv) < 2:
        print(doc)
        sys.exit(2)
    if needs_projinfo and shutil.which("projinfo") is None:
        print("skipped: projinfo is not installed")
        sys.exit(77)
    return sys.argv[1], "-v" in sys.argv[2:]
