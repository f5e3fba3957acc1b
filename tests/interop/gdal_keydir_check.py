#!/usr/bin/python3
"""Cross-checks the two roads by which the library reads GeoKeys: from a
GeoTIFF file (`ktif info --json`) and from a key directory held in memory
(`ktif keys --geocoding --json`, which hands the file's three GeoKey tags as
stored to kgtf_ConvertCSFromGeoKeysToEPRJ).

GDAL writes a small GeoTIFF for each EPSG code in CODES: geographic systems,
UTM north and south, State Plane in US survey feet, LAEA, LCC 2SP, British,
Australian and New Zealand grids, CEA, Mercator, Albers, Equidistant
Cylindrical, Hotine and Gauss-Krueger zones; and once more for some of them
as a PROJ string, so that the keys are user-defined and the parameters
travel as doubles. For each, the key road must give the same projection
record as the file road: the projection number and zone, the 15 parameters
(relative 1e-12, angles modulo a turn), the spheroid's axes and the datum
name; and the same units name. Files without vertical keys must give the
elevation "Undefined", "Undefined", "meters"; two files with a vertical
system (NAVD88 heights in US survey feet, by its code and user-defined)
must give the elevation in the units GDAL reads the heights in.

Left out: 3857 (Pseudo-Mercator), for which `ktif info` reads no projection
(the host has no exact equivalent). Where a difference is known and
explained, EXPECTED_DIFFERENCES says so.

Usage: gdal_keydir_check.py PATH_TO_KTIF [-v]. Exit 0 when every check
passes, 1 otherwise, 77 without GDAL's Python bindings.
"""
import json
import math
import os
import sys
import tempfile

from interop_support import arguments, gdal, osr, run, stderr, summary, srs_of

CODES = [4326, 4267, 4258, 32633, 32718, 26915, 2263, 3734, 3035, 3812, 27700, 28355, 2193,
         6933, 3395, 5070, 4087, 2057, 31467]
USER_DEFINED = [4258, 2263, 3035, 3812, 27700, 6933, 5070, 2057]
NAVD88_FTUS = ('VERT_CS["NAVD88 height (ftUS), no code",'
               'VERT_DATUM["North American Vertical Datum 1988",2005,AUTHORITY["EPSG","5103"]],'
               'UNIT["US survey foot",0.304800609601219,AUTHORITY["EPSG","9003"]],'
               'AXIS["Gravity-related height",UP]]')
# name -> (horizontal EPSG code, vertical system): UTM 15N on NAD83 with
# NAVD88 heights in US survey feet.
VERTICAL = {"epsg_26915+6360": (26915, 6360), "epsg_26915+user_vertical": (26915, NAVD88_FTUS)}

# (case, field) -> why the key road reads that field unlike the other side.
# Each entry is checked to differ still, so that a fix shows up here.
# (file, field): why the library differs from GDAL there. None known.
EXPECTED_DIFFERENCES = {}

REL = 1e-12
UNIT_NAMES = {"metre": "meters", "US survey foot": "us_survey_feet", "foot": "international_feet"}
ANGLE_FIELDS = ["parameter %d" % i for i in range(2, 6)]  # latitudes, longitudes, azimuths


def write(directory, name, srs):
    step = 0.001 if srs.IsGeographic() else 30.0
    path = os.path.join(directory, name.replace("+", "_") + ".tif")
    ds = gdal.GetDriverByName("GTiff").Create(path, 8, 8, 1, gdal.GDT_Byte)
    ds.SetSpatialRef(srs)
    ds.SetGeoTransform([1000.0, step, 0.0, 5000.0, 0.0, -step])
    ds = None
    return path


def tool_json(tool, args):
    result = run(tool, args)
    if result.returncode != 0:
        return None, stderr(result)
    return json.loads(result.stdout), stderr(result)


def near(got, want, angle):
    if not isinstance(got, (int, float)) or not isinstance(want, (int, float)):
        return got == want
    difference = math.remainder(got - want, 2 * math.pi) if angle else got - want
    return difference == 0 or abs(difference) <= REL * abs(want)


def fields(record, units):
    """The compared fields of a projection record, as both commands print it,
    and a units name."""
    spheroid = record.get("spheroid") or {}
    out = {"number": record.get("number"), "zone": record.get("zone"),
           "a": spheroid.get("a"), "b": spheroid.get("b"), "datum": record.get("datum"),
           "units": units}
    for i, value in enumerate(record.get("parameters") or [None] * 15):
        out["parameter %d" % i] = value
    return out


def verdict(name, field, same, detail):
    why = EXPECTED_DIFFERENCES.get((name, field))
    if why is None:
        return name + " " + field, same, detail
    return name + " " + field + " differs as expected", not same, "now the same (%s); %s" % (
        detail, why)


def compare_roads(name, info, geocoding):
    by_file, by_keys = info.get("projection"), geocoding.get("projection")
    if by_file is None or by_keys is None:
        yield (name + " projection on both roads", False,
               "file %s, keys %s" % ("yes" if by_file else "none", "yes" if by_keys else "none"))
        return
    want = fields(by_file, (info.get("georeferencing") or {}).get("unitsName"))
    got = fields(by_keys, geocoding.get("units"))
    for field, value in want.items():
        yield verdict(name, field, near(got[field], value, field in ANGLE_FIELDS),
                      "keys %r, file %r" % (got[field], value))


def read_both(tool, name, path):
    """(info, geocoding) of the file, or a failed result."""
    info, warnings = tool_json(tool, ["info", "--json", path])
    if info is None:
        return None, (name + " info", False, warnings)
    keys, warnings = tool_json(tool, ["keys", "--geocoding", "--json", path])
    if keys is None:
        return None, (name + " keys --geocoding", False, warnings)
    return (info, keys["geocoding"]), None


def check_case(tool, directory, name, definition):
    both, failure = read_both(tool, name, write(directory, name, srs_of(definition)))
    if failure:
        yield failure
        return
    info, geocoding = both
    yield from compare_roads(name, info, geocoding)
    elevation = geocoding.get("elevation")
    want = {"spheroid": "Undefined", "datum": "Undefined", "units": "meters"}
    yield name + " elevation without vertical keys", elevation == want, repr(elevation)


def check_vertical(tool, directory, name, horizontal, vertical):
    srs = osr.SpatialReference()
    srs.SetCompoundCS(name, srs_of(horizontal), srs_of(vertical))
    path = write(directory, name, srs)
    written = gdal.Open(path).GetSpatialRef()
    if written is None or not written.IsCompound():
        yield name + " written with vertical keys", False, "GDAL reads %r" % written
        return
    both, failure = read_both(tool, name, path)
    if failure:
        yield failure
        return
    info, geocoding = both
    yield from compare_roads(name, info, geocoding)
    units = (geocoding.get("elevation") or {}).get("units")
    want = UNIT_NAMES.get(written.GetAttrValue("COMPD_CS|VERT_CS|UNIT"))
    yield verdict(name, "elevation units", units == want,
                  "keys %r, GDAL reads the heights in %r" % (units, want))


def main():
    tool, verbose = arguments(__doc__)
    gdal.PushErrorHandler("CPLQuietErrorHandler")
    results = []
    with tempfile.TemporaryDirectory(prefix="ktif_keydir_") as directory:
        for code in CODES:
            results += check_case(tool, directory, "epsg_%d" % code, code)
        for code in USER_DEFINED:
            results += check_case(tool, directory, "proj_%d" % code,
                                  srs_of(code).ExportToProj4())
        for name, (horizontal, vertical) in VERTICAL.items():
            results += check_vertical(tool, directory, name, horizontal, vertical)
    return summary(results, verbose)


if __name__ == "__main__":
    sys.exit(main())
