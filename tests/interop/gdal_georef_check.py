#!/usr/bin/python3
"""Cross-checks of the georeferencing `ktif info --json` reports against GDAL
and PROJ, on GeoTIFFs and world files that GDAL writes.

Transforms: for north-up, pixel-is-point, rotated, geographic and feet images,
and for world files beside images without internal georeferencing, the host
transform (pixel centres) must equal GDAL's geotransform moved to pixel
centres, c = GT0 + GT1/2 + GT2/2 and f = GT3 + GT4/2 + GT5/2, to 1e-9
relative.

Projections: for a set of EPSG systems the projection record must agree with
projinfo's PROJJSON on the method, the origin, the standard parallels, the
scale, the false easting and northing, the ellipsoid axes and the units; a
system the host cannot represent (3857) must leave the image without a
projection record but with its transform.

Usage: gdal_georef_check.py PATH_TO_KTIF [-v]. Prints 'N passed, M failed';
exit 0 when every check passes, 1 otherwise, 77 when this Python cannot
import GDAL's bindings or projinfo is missing.
"""
import json
import math
import os
import shutil
import subprocess
import sys
import tempfile

try:
    from osgeo import gdal, osr
except ImportError:
    print("skipped: this Python cannot import osgeo (install python3-gdal)")
    sys.exit(77)

gdal.UseExceptions()

REL = 1e-9
UNIT_NAMES = {"metre": "meters", "US survey foot": "us_survey_feet", "foot": "feet",
              "degree": "dd"}
# Host projection numbers of the methods the checked systems use.
METHODS = {9: "Transverse Mercator", 11: "Lambert Azimuthal Equal Area",
           4: "Lambert Conic Conformal (2SP)", 3: "Albers Equal Area", 5: "Mercator"}
# Parameter slots of the host record by EPSG parameter name (angles in
# radians, lengths in meters).
SLOTS = {"Longitude of natural origin": 4, "Longitude of false origin": 4,
         "Longitude of projection centre": 4, "Latitude of natural origin": 5,
         "Latitude of false origin": 5, "Latitude of projection centre": 5,
         "Scale factor at natural origin": 2, "Latitude of 1st standard parallel": 2,
         "Latitude of 2nd standard parallel": 3, "False easting": 6,
         "Easting at false origin": 6, "False northing": 7, "Northing at false origin": 7}
# FIPS state codes of the State Plane zones checked.
STATE_FIPS = {"California": 4}


class Checks:
    def __init__(self, verbose):
        self.passed = self.failed = 0
        self.verbose = verbose

    def expect(self, ok, what):
        if ok:
            self.passed += 1
            if self.verbose:
                print("ok   " + what)
        else:
            self.failed += 1
            print("FAIL " + what)
        return ok


def close(got, expected, scale=0.0):
    return got is not None and abs(got - expected) <= REL * max(abs(expected), scale, 1e-300)


def ktif_info(ktif, path):
    run = subprocess.run([ktif, "info", "--json", path], capture_output=True, text=True)
    if run.returncode != 0:
        return None, run.stderr
    return json.loads(run.stdout), run.stderr


def mem_image(width, height, geotransform=None, epsg=None):
    ds = gdal.GetDriverByName("MEM").Create("", width, height, 1, gdal.GDT_Byte)
    if geotransform:
        ds.SetGeoTransform(geotransform)
    if epsg:
        srs = osr.SpatialReference()
        srs.ImportFromEPSG(epsg)
        ds.SetProjection(srs.ExportToWkt())
    return ds


def transform_cases(folder):
    """(name, path) of each image written; GDAL's reading of the file is the
    reference, whatever the writer chose to store."""
    cases = []

    def translate(name, source, **options):
        path = os.path.join(folder, name + ".tif")
        gdal.Translate(path, source, **options)
        cases.append((name, path))

    plain = mem_image(40, 30)
    translate("ullr_utm", plain, outputSRS="EPSG:32631",
              outputBounds=[431234.5, 4512345.25, 432434.5, 4511445.25])
    translate("ullr_geographic", plain, outputSRS="EPSG:4326",
              outputBounds=[2.123456789, 48.98765, 2.523456789, 48.68765])
    translate("ullr_feet", plain, outputSRS="EPSG:2227",
              outputBounds=[6000000.5, 2100000.25, 6001200.5, 2099100.25])
    translate("north_up_point", plain, outputSRS="EPSG:32733",
              outputBounds=[300000, 8000000, 301200, 7999100],
              metadataOptions=["AREA_OR_POINT=Point"])
    translate("rotated", mem_image(40, 30, [500000, 29.5, 4.25, 4000000, 3.75, -29.5], 32631))
    translate("rotated_point", mem_image(40, 30, [500000, 29.5, -4.25, 4000000, 2.5, -30], 32631),
              metadataOptions=["AREA_OR_POINT=Point"])
    # World files beside images without internal georeferencing.
    translate("tfw_north_up", mem_image(40, 30, [712345.5, 0.5, 0, 5012345.5, 0, -0.5]),
              creationOptions=["TFW=YES", "PROFILE=BASELINE"])
    translate("tfw_rotated", mem_image(40, 30, [712345.5, 0.5, 0.125, 5012345.5, 0.0625, -0.5]),
              creationOptions=["TFW=YES", "PROFILE=BASELINE"])
    return cases


def check_transforms(checks, ktif, folder):
    for name, path in transform_cases(folder):
        gt = gdal.Open(path).GetGeoTransform()
        expected = [gt[1], gt[2], gt[0] + 0.5 * gt[1] + 0.5 * gt[2],
                    gt[4], gt[5], gt[3] + 0.5 * gt[4] + 0.5 * gt[5]]
        info, stderr = ktif_info(ktif, path)
        if not checks.expect(info is not None, "%s: ktif info runs (%s)" % (name, stderr.strip())):
            continue
        geo = info.get("georeferencing")
        coefficients = geo.get("coefficients") if geo else None
        if not checks.expect(coefficients is not None and len(coefficients) == 6,
                             "%s: affine georeferencing present" % name):
            continue
        scale = max(abs(v) for v in (gt[1], gt[2], gt[4], gt[5]))
        checks.expect(all(close(g, e, scale) for g, e in zip(coefficients, expected)),
                      "%s: host transform %s equals GDAL's at pixel centres %s"
                      % (name, coefficients, expected))
        checks.expect(geo.get("fitted") is False, "%s: not a fitted transform" % name)
        if name.startswith("tfw_"):
            checks.expect(geo.get("rasterType") == 1 and info.get("projection") is None,
                          "%s: georeferencing from the world file alone" % name)
        if name.endswith("_point"):
            checks.expect(geo.get("rasterType") == 2, "%s: read as pixel-is-point" % name)


def projjson(code):
    run = subprocess.run(["projinfo", "EPSG:%d" % code, "-o", "PROJJSON", "--single-line", "-q"],
                         capture_output=True, text=True, check=True)
    return json.loads(run.stdout)


def unit_of(unit):
    """(name, factor to meters or radians) of a PROJJSON unit."""
    if isinstance(unit, dict):
        return unit["name"], unit.get("conversion_factor", 1.0)
    return unit, math.pi / 180 if unit == "degree" else 1.0


def ellipsoid_axes(crs):
    datum = crs.get("base_crs", crs).get("datum") or crs.get("base_crs", crs)["datum_ensemble"]
    ellipsoid = datum["ellipsoid"]
    a = ellipsoid["semi_major_axis"]
    if "semi_minor_axis" in ellipsoid:
        return a, ellipsoid["semi_minor_axis"]
    return a, a * (1 - 1 / ellipsoid["inverse_flattening"])


def expected_parameters(crs):
    """Host slot -> value (radians, meters) from a projected CRS."""
    values = {}
    for parameter in crs["conversion"]["parameters"]:
        slot = SLOTS.get(parameter["name"])
        if slot is None:
            continue
        _, factor = unit_of(parameter.get("unit", "unity"))
        values[slot] = parameter["value"] * factor
    return values


def check_projection(checks, code, info):
    name = "EPSG:%d" % code
    crs = projjson(code)
    pro = info.get("projection")
    geo = info.get("georeferencing") or {}
    if not checks.expect(pro is not None, "%s: projection record present" % name):
        return
    a, b = ellipsoid_axes(crs)
    spheroid = pro.get("spheroid") or {}
    checks.expect(close(spheroid.get("a"), a) and close(spheroid.get("b"), b),
                  "%s: ellipsoid axes %s, %s equal PROJ's %s, %s"
                  % (name, spheroid.get("a"), spheroid.get("b"), a, b))
    unit_name, _ = unit_of(crs["coordinate_system"]["axis"][0]["unit"])
    checks.expect(geo.get("unitsName") == UNIT_NAMES.get(unit_name),
                  "%s: units %s match %s" % (name, geo.get("unitsName"), unit_name))
    number, p = pro["number"], pro["parameters"]
    if crs["type"] == "GeographicCRS":
        checks.expect(number == 0, "%s: geographic record (number %d)" % (name, number))
        return
    method = crs["conversion"]["method"]["name"]
    expected = expected_parameters(crs)
    if number == 1:  # UTM: the zone stands for the parameters
        zone = pro["zone"]
        got = {4: math.radians(-183 + 6 * zone), 5: 0.0, 2: 0.9996, 6: 500000.0,
               7: 0.0 if p[3] > 0 else 10000000.0}
        host_method = "Transverse Mercator"
    elif number == 2:  # State Plane: the zone and NAD code stand for them
        conversion = crs["conversion"]["name"]
        words = conversion.split()
        state = " ".join(words[1:words.index("zone")])
        zone_number = int(words[words.index("zone") + 1])
        fips = STATE_FIPS.get(state, -1) * 100 + zone_number
        nad = 2 if "NAD83" in crs["name"] else 1
        checks.expect(pro["zone"] == -fips and int(p[0]) == nad,
                      "%s: State Plane zone %d, NAD %d match %s"
                      % (name, pro["zone"], int(p[0]), conversion))
        return
    else:
        got = {slot: p[slot] for slot in expected}
        host_method = METHODS.get(number)
    checks.expect(host_method == method, "%s: method %s matches %s" % (name, host_method, method))
    for slot, value in sorted(expected.items()):
        checks.expect(close(got.get(slot), value, 1.0 if slot >= 6 else 1e-3),
                      "%s: parameter slot %d = %s, PROJ says %s" % (name, slot, got.get(slot), value))


def check_projections(checks, ktif, folder):
    plain = mem_image(10, 10)
    # Geographic, UTM north and south, NAD27 UTM, State Plane in feet and
    # meters, British National Grid, Map Grid of Australia, LAEA Europe.
    for code in (4326, 32631, 32733, 26717, 2227, 26943, 27700, 28355, 3035, 3857):
        path = os.path.join(folder, "epsg_%d.tif" % code)
        gdal.Translate(path, plain, outputSRS="EPSG:%d" % code,
                       outputBounds=[500000, 4000000, 500100, 3999900])
        info, stderr = ktif_info(ktif, path)
        if not checks.expect(info is not None, "EPSG:%d: ktif info runs (%s)" % (code, stderr)):
            continue
        if code == 3857:
            checks.expect(info.get("projection") is None and info.get("georeferencing"),
                          "EPSG:3857: refused projection, transform kept")
            continue
        check_projection(checks, code, info)


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    if shutil.which("projinfo") is None:
        print("skipped: projinfo is not installed")
        return 77
    checks = Checks("-v" in sys.argv[2:])
    folder = tempfile.mkdtemp(prefix="ktif_georef_")
    try:
        check_transforms(checks, sys.argv[1], folder)
        check_projections(checks, sys.argv[1], folder)
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    print("%d passed, %d failed" % (checks.passed, checks.failed))
    return 0 if checks.failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
