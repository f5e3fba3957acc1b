#!/usr/bin/python3
"""Cross-checks how `ktif info` reads real-world coordinate systems written by
GDAL against PROJ's description of them (projinfo -o PROJJSON).

Every system is written once from its EPSG code and, for most, once more as a
PROJ string without a code, so that GDAL writes user-defined keys. For each
readable file: the ellipsoid axes, the datum (only where the file carries a
code: user-defined keys name none), the host projection number and its 15
parameters (radians and meters; angles modulo a turn), the units, and the
`crs` record (its EPSG code where PROJ identifies one for certain, and a WKT).
Then `ktif copy` of the file, `ktif copy --rekey` (the keys stated afresh from
the host's record) and `ktif copy --epsg CODE` where it has a code,
must give GDAL the same system as the source. Hotine systems whose grid angle
differs from the azimuth must be refused: no projection, the transform kept,
and a warning naming the method.

Usage: gdal_crs_check.py PATH_TO_KTIF [-v]. Exit 0 when every check passes,
1 otherwise, 77 without GDAL's Python bindings or projinfo.
"""
import json
import math
import os
import subprocess
import sys
import tempfile

from interop_support import arguments, close, gdal, osr, run, stderr, summary, srs_of


HOTINE_B = ("+proj=omerc +lat_0=45 +lonc=-86 +alpha=337.25556 +gamma=337.25556 +k=0.9996 "
            "+x_0=2546731.496 +y_0=-4354009.816 +ellps=GRS80 +units=m")
# name, definition (EPSG code or PROJ string), EPSG code of the file, a
# (longitude, latitude) inside the area, creation options. 2057 is a Hotine
# variant B whose grid angle equals its azimuth; 3734 without a units key
# (GeoTIFF 1.1) is in US survey feet; 6933 is a Lambert Cylindrical Equal Area.
CASES = [("epsg_%d" % c, c, c, p, []) for c, p in [
    (4258, (10.5, 50.25)), (4674, (-50.5, -15.25)), (4618, (-60.5, -20.25)),
    (3812, (4.5, 50.75)), (3035, (10.5, 52.25)), (4087, (20.5, 10.25)),
    (2057, (52.75, 27.75)), (6933, (30.5, 20.5))]] + [
    ("epsg_3734_v1.1", 3734, 3734, (-82.25, 41.25), ["GEOTIFF_VERSION=1.1"]),
    ("merc_2sp", "+proj=merc +lat_ts=30 +lon_0=10 +x_0=100 +y_0=200 +ellps=GRS80 +units=m",
     None, (12.5, 35.5), []),
    ("eqc_lat_ts", "+proj=eqc +lat_ts=45 +lon_0=5 +x_0=10 +y_0=20 +ellps=WGS84 +units=m",
     None, (7.5, 46.5), []),
    ("hotine_b_equal_angles", HOTINE_B, None, (-85.5, 44.5), [])]
# User-defined twins: the same systems as PROJ strings.
CASES += [("proj_%d" % code, srs_of(code).ExportToProj4(), None, point, [])
          for _, code, _, point, _ in CASES if code in (4258, 4674, 4618, 3812, 3035, 3734, 6933)]
# Grid angle unlike the azimuth: refused.
REFUSED = [("epsg_3375", 3375, (101.5, 4.0)),
           ("proj_29873", srs_of(29873).ExportToProj4(), (115.5, 4.5))]

UNIT_NAMES = {"metre": "meters", "US survey foot": "us_survey_feet", "degree": "dd"}
# Host projection number and slot of each EPSG parameter, by EPSG method:
# Mercator 2SP, Equidistant Cylindrical, LAEA, LCC 2SP, Hotine variant B,
# Lambert Cylindrical Equal Area.
METHODS = {9805: (5, {8802: 4, 8823: 5, 8806: 6, 8807: 7}),
           1028: (17, {8802: 4, 8823: 5, 8806: 6, 8807: 7}),
           9820: (11, {8802: 4, 8801: 5, 8806: 6, 8807: 7}),
           9802: (4, {8823: 2, 8824: 3, 8822: 4, 8821: 5, 8826: 6, 8827: 7}),
           9815: (20, {8815: 2, 8813: 3, 8812: 4, 8811: 5, 8816: 6, 8817: 7}),
           9835: (55, {8802: 4, 8823: 5, 8806: 6, 8807: 7})}
# Fixed slots: the Hotine record in its centre form.
FIXED = {20: {12: 1.0}}
SAME_SYSTEM = ["IGNORE_DATA_AXIS_TO_SRS_AXIS_MAPPING=YES",
               "CRITERION=EQUIVALENT_EXCEPT_AXIS_ORDER_GEOGCRS"]


def write(directory, name, definition, point, options):
    srs = srs_of(definition)
    lonlat = srs.CloneGeogCS()
    lonlat.SetAxisMappingStrategy(osr.OAMS_TRADITIONAL_GIS_ORDER)
    x, y, _ = osr.CoordinateTransformation(lonlat, srs).TransformPoint(*point)
    step = 0.001 if srs.IsGeographic() else 30 / srs.GetLinearUnits()
    geotransform = [x, step, 0.0, y, 0.0, -step]
    path = os.path.join(directory, name + ".tif")
    ds = gdal.GetDriverByName("GTiff").Create(path, 8, 8, 1, gdal.GDT_Byte, options)
    ds.SetSpatialRef(srs)
    ds.SetGeoTransform(geotransform)
    ds = None
    return path, geotransform


def info(tool, path):
    result = run(tool, ["info", "--json", path])
    if result.returncode != 0:
        return None, stderr(result)
    return json.loads(result.stdout), stderr(result)


def projjson(definition):
    # Without +type=crs projinfo takes a PROJ string for a conversion.
    text = "EPSG:%d" % definition if isinstance(definition, int) else definition + " +type=crs"
    out = subprocess.run(["projinfo", "-o", "PROJJSON", "--single-line", "-q", text],
                         capture_output=True, text=True, check=True).stdout
    crs = json.loads(out)
    return crs.get("source_crs", crs)  # towgs84 wraps the system in a bound one


def factor(unit):
    """To meters or radians."""
    if isinstance(unit, dict):
        return unit.get("conversion_factor", 1.0)
    return math.pi / 180 if unit == "degree" else 1.0


def value(v):
    return v["value"] * factor(v["unit"]) if isinstance(v, dict) else v


def expected(crs):
    """(a, b, datum EPSG code, units name, host number, 15 parameters)."""
    base = crs.get("base_crs", crs)
    datum = base.get("datum") or base["datum_ensemble"]
    ellipsoid = datum["ellipsoid"]
    a = value(ellipsoid.get("semi_major_axis", ellipsoid.get("radius")))
    b = value(ellipsoid["semi_minor_axis"]) if "semi_minor_axis" in ellipsoid else (
        a * (1 - 1 / ellipsoid["inverse_flattening"]) if "inverse_flattening" in ellipsoid
        else a)
    name = int(datum["id"]["code"]) if datum.get("id", {}).get("authority") == "EPSG" else None
    unit = crs["coordinate_system"]["axis"][0].get("unit", "metre")
    units = UNIT_NAMES.get(unit["name"] if isinstance(unit, dict) else unit)
    if "conversion" not in crs:
        return a, b, name, units, 0, [0.0] * 15
    method = crs["conversion"]["method"]
    # A method without a host number keeps its name, which no number matches.
    number, slots = METHODS.get(method.get("id", {}).get("code"), (method["name"], {}))
    parameters = [0.0] * 15
    for p in crs["conversion"]["parameters"]:
        if p.get("id", {}).get("code") in slots:
            parameters[slots[p["id"]["code"]]] = p["value"] * factor(p.get("unit", "unity"))
    for slot, v in FIXED.get(number, {}).items():
        parameters[slot] = v
    return a, b, name, units, number, parameters


def same_parameter(slot, number, got, want):
    if 3 <= slot <= 5 or (slot == 2 and number == 4):  # angles, modulo a turn
        return abs(math.remainder(got - want, 2 * math.pi)) <= 1e-9 * max(abs(want), 1.0)
    return close(got, want, 1e-3 if slot in (6, 7) else 0.0)


def same_coefficients(got, gt):
    """The host's coefficients map pixel centres."""
    want = [gt[1], gt[2], gt[0] + 0.5 * gt[1] + 0.5 * gt[2],
            gt[4], gt[5], gt[3] + 0.5 * gt[4] + 0.5 * gt[5]]
    ok = got is not None and len(got) == 6 and all(
        close(g, w, max(map(abs, want))) for g, w in zip(got, want))
    return ok, "%s, wanted %s" % (got, want)


def identified(srs, code):
    """The file's code, else the one PROJ is certain of."""
    if code:
        return code
    matches = [m for m, confidence in srs.FindMatches() if confidence == 100]
    return int(matches[0].GetAuthorityCode(None)) if len(matches) == 1 else None


def check_reading(name, got, warnings, definition, code, srs):
    a, b, datum, units, number, parameters = expected(projjson(code or definition))
    pro = got.get("projection")
    if pro is None:
        yield name + " projection", False, "no projection record; stderr %r" % warnings
        return
    spheroid = pro.get("spheroid") or {}
    yield (name + " ellipsoid", close(spheroid.get("a"), a) and close(spheroid.get("b"), b),
           "%s, %s; PROJ says %r, %r" % (spheroid.get("a"), spheroid.get("b"), a, b))
    if code:
        # PROJJSON carries no id on a datum that is not an ensemble.
        datum = datum or int(srs_of(code).GetAuthorityCode("DATUM"))
        yield (name + " datum", pro.get("datumCode") == datum,
               "%r (%r); PROJ says EPSG %r" % (pro.get("datum"), pro.get("datumCode"), datum))
    units_got = (got.get("georeferencing") or {}).get("unitsName")
    yield name + " units", units_got == units, "%r, wanted %r" % (units_got, units)
    if pro.get("number") != number:
        yield name + " method", False, "projection %s, wanted %s" % (pro.get("number"), number)
    else:
        wrong = ["slot %d: %r, PROJ says %r" % (i, g, w)
                 for i, (g, w) in enumerate(zip(pro["parameters"], parameters))
                 if i > 1 and not same_parameter(i, number, g, w)]  # 0, 1 may hold the axes
        yield name + " parameters", not wrong, "; ".join(wrong)
    crs = got.get("crs")
    if not isinstance(crs, dict):
        yield name + " crs record", False, "no crs record: %r" % crs
        return
    want_code = identified(srs, code)
    if want_code:
        yield (name + " crs.epsg", crs.get("epsg") == want_code,
               "%r, wanted %d" % (crs.get("epsg"), want_code))
    yield name + " crs.wkt", bool(crs.get("wkt")), "no WKT"
    if code:
        yield name + " crs.approximate", crs.get("approximate") is False, repr(crs)


def unshifted(srs):
    """The PROJ string without a datum shift: a user-defined system stated
    afresh keeps its parameters and ellipsoid, but the host's record holds no
    shift to WGS 84, and its names are the library's."""
    return " ".join(t for t in srs.ExportToProj4().split() if not t.startswith("+towgs84="))


def check_copies(tool, name, path, code, srs):
    labels = [("copy", []), ("copy --rekey", ["--rekey"])]
    for label, args in labels + ([("copy --epsg", ["--epsg", str(code)])] if code else []):
        out = "%s.%s.tif" % (path[:-4], label.replace(" --", "_"))
        result = run(tool, ["copy", path, out] + args)
        if result.returncode != 0:
            yield "%s %s" % (name, label), False, stderr(result)
            continue
        copied = gdal.Open(out).GetSpatialRef()
        ok = copied is not None and (copied.IsSame(srs, SAME_SYSTEM) or (
            label == "copy --rekey" and not code and unshifted(copied) == unshifted(srs)))
        yield ("%s %s keeps the system" % (name, label), ok,
               "GDAL reads %s, source is %s" % (
                   "no system" if copied is None else "%r (%s)" % (
                       copied.GetName(), copied.ExportToProj4()),
                   "%r (%s)" % (srs.GetName(), srs.ExportToProj4())))


def check_case(tool, directory, name, definition, code, point, options):
    path, _ = write(directory, name, definition, point, options)
    got, warnings = info(tool, path)
    if got is None:
        yield name + " info", False, warnings
        return
    srs = gdal.Open(path).GetSpatialRef()
    yield from check_reading(name, got, warnings, definition, code, srs)
    yield from check_copies(tool, name, path, code, srs)


def check_refused(tool, directory, name, definition, point):
    path, geotransform = write(directory, name, definition, point, [])
    got, warnings = info(tool, path)
    if got is None:
        yield name + " info", False, warnings
        return
    yield (name + " refused", got.get("projection") is None,
           "projection %r" % got.get("projection"))
    yield (name + " coefficients kept",) + same_coefficients(
        (got.get("georeferencing") or {}).get("coefficients"), geotransform)
    yield (name + " warning names the method", "oblique mercator" in warnings.lower(),
           "stderr %r" % warnings)


def main():
    tool, verbose = arguments(__doc__, needs_projinfo=True)
    gdal.PushErrorHandler("CPLQuietErrorHandler")  # the failures say what GDAL would warn of
    results = []
    with tempfile.TemporaryDirectory(prefix="ktif_crs_") as directory:
        for case in CASES:
            results += check_case(tool, directory, *case)
        for case in REFUSED:
            results += check_refused(tool, directory, *case)
    return summary(results, verbose)


if __name__ == "__main__":
    sys.exit(main())
