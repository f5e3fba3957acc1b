#!/usr/bin/python3
"""Cross-checks `ktif info --json` georeferencing against GDAL and PROJ.
Usage: gdal_georef_check.py PATH_TO_KTIF [-v]. Exit 0 when every check
passes, 1 otherwise, 77 without GDAL's Python bindings or projinfo."""
import json
import math
import os
import subprocess
import sys
import tempfile

from interop_support import arguments, close, gdal, osr, summary

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


RESULTS = []  # (check, passed, detail), for summary()


def expect(ok, what):
    RESULTS.append((what, ok, ""))
    return ok


def write_and_read(ktif, path, source, **options):
    """Writes `source` with GDAL; ktif's JSON report of the file, or None."""
    gdal.Translate(path, source, **options)
    run = subprocess.run([ktif, "info", "--json", path], capture_output=True, text=True)
    ok = expect(run.returncode == 0, "%s: ktif info runs (%s)"
                % (os.path.basename(path), run.stderr.strip()))
    return json.loads(run.stdout) if ok else None


def mem_image(width, height, geotransform=None):
    ds = gdal.GetDriverByName("MEM").Create("", width, height, 1, gdal.GDT_Byte)
    if geotransform:
        ds.SetGeoTransform(geotransform)
    return ds


# The host transform (pixel centres) must equal GDAL's geotransform moved to
# pixel centres, c = GT0 + GT1/2 + GT2/2 and f = GT3 + GT4/2 + GT5/2, to 1e-9
# relative. GDAL's reading of each file is the reference, whatever the writer
# chose to store.
def check_transforms(ktif, folder):
    point = {"metadataOptions": ["AREA_OR_POINT=Point"]}
    tfw = {"creationOptions": ["TFW=YES", "PROFILE=BASELINE"]}  # no internal georeferencing
    cases = [  # name, geotransform, EPSG code, corners given to GDAL, writing options
        ("ullr_utm", None, 32631, [431234.5, 4512345.25, 432434.5, 4511445.25], {}),
        ("ullr_geographic", None, 4326, [2.123456789, 48.98765, 2.523456789, 48.68765], {}),
        ("ullr_feet", None, 2227, [6000000.5, 2100000.25, 6001200.5, 2099100.25], {}),
        ("north_up_point", None, 32733, [300000, 8000000, 301200, 7999100], point),
        ("rotated", [500000, 29.5, 4.25, 4000000, 3.75, -29.5], 32631, None, {}),
        ("rotated_point", [500000, 29.5, -4.25, 4000000, 2.5, -30], 32631, None, point),
        ("tfw_north_up", [712345.5, 0.5, 0, 5012345.5, 0, -0.5], None, None, tfw),
        ("tfw_rotated", [712345.5, 0.5, 0.125, 5012345.5, 0.0625, -0.5], None, None, tfw),
    ]
    for name, geotransform, epsg, corners, options in cases:
        if epsg:  # GDAL assigns the system, and the corners when given, as it writes
            options = dict(options, outputSRS="EPSG:%d" % epsg, outputBounds=corners)
        path = os.path.join(folder, name + ".tif")
        info = write_and_read(ktif, path, mem_image(40, 30, geotransform), **options)
        if info is None:
            continue
        gt = gdal.Open(path).GetGeoTransform()
        expected = [gt[1], gt[2], gt[0] + 0.5 * gt[1] + 0.5 * gt[2],
                    gt[4], gt[5], gt[3] + 0.5 * gt[4] + 0.5 * gt[5]]
        geo = info.get("georeferencing") or {}
        coefficients = geo.get("coefficients")
        if not expect(coefficients is not None and len(coefficients) == 6,
                      "%s: affine georeferencing present" % name):
            continue
        scale = max(abs(v) for v in (gt[1], gt[2], gt[4], gt[5]))
        expect(all(close(g, e, scale) for g, e in zip(coefficients, expected)),
               "%s: host transform %s equals GDAL's at pixel centres %s"
               % (name, coefficients, expected))
        raster_type = 2 if name.endswith("_point") else 1  # pixel-is-point or -area
        expect(geo.get("fitted") is False and geo.get("rasterType") == raster_type,
               "%s: not fitted, raster type %s" % (name, geo.get("rasterType")))
        if name.startswith("tfw_"):
            expect(info.get("projection") is None, "%s: georeferencing from the world file alone"
                   % name)
        else:
            check_map_info(name, info, gt, 40, 30)


# The map info of a north-up image and the calibration of a rotated one give
# the corner pixel centres where GDAL puts them, and the pixel size: its
# magnitude for a map info, signed along the image for a calibration.
def check_map_info(name, info, gt, width, height):
    def centre(column, row):
        return [gt[0] + column * gt[1] + row * gt[2], gt[3] + column * gt[4] + row * gt[5]]
    upper_left, lower_right = centre(0.5, 0.5), centre(width - 0.5, height - 0.5)
    rotated = gt[2] != 0 or gt[4] != 0
    key = "calibration" if rotated else "mapInfo"
    m = info.get(key)
    if not expect(m is not None and info.get("mapInfo" if rotated else "calibration") is None,
                  "%s: %s alone" % (name, key)):
        return
    size = ([(lower_right[i] - upper_left[i]) / (n - 1) for i, n in ((0, width), (1, height))]
            if rotated else [abs(gt[1]), abs(gt[5])])
    scale = max(abs(v) for v in (gt[1], gt[2], gt[4], gt[5]))
    for field, want in (("upperLeftCenter", upper_left), ("lowerRightCenter", lower_right),
                        ("pixelSize", size)):
        expect(all(close(g, e, scale) for g, e in zip(m[field], want)),
               "%s: %s %s %s, GDAL says %s" % (name, key, field, m[field], want))


# GDAL's no-data tag is shown as stored; key 33010 is absent from GDAL files.
def check_no_data(ktif, folder):
    path = os.path.join(folder, "nodata.tif")
    info = write_and_read(ktif, path, mem_image(8, 8, [0, 1, 0, 8, 0, -1]), noData=255)
    if info is not None:
        expect(info.get("gdalNoData") == "255" and info.get("nullValue") is None,
               "nodata: gdalNoData %r, nullValue %r" % (info.get("gdalNoData"),
                                                        info.get("nullValue")))


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
    base = crs.get("base_crs", crs)
    ellipsoid = (base.get("datum") or base["datum_ensemble"])["ellipsoid"]
    a = ellipsoid["semi_major_axis"]
    return a, ellipsoid.get("semi_minor_axis") or a * (1 - 1 / ellipsoid["inverse_flattening"])


def expected_parameters(crs):
    """Host slot -> value (radians, meters) from a projected CRS."""
    return {SLOTS[p["name"]]: p["value"] * unit_of(p.get("unit", "unity"))[1]
            for p in crs["conversion"]["parameters"] if p["name"] in SLOTS}


def check_projection(code, info):
    name = "EPSG:%d" % code
    crs = projjson(code)
    pro = info.get("projection")
    geo = info.get("georeferencing") or {}
    if not expect(pro is not None, "%s: projection record present" % name):
        return
    a, b = ellipsoid_axes(crs)
    spheroid = pro.get("spheroid") or {}
    expect(close(spheroid.get("a"), a) and close(spheroid.get("b"), b),
           "%s: ellipsoid axes %s, %s equal PROJ's %s, %s"
           % (name, spheroid.get("a"), spheroid.get("b"), a, b))
    unit_name, _ = unit_of(crs["coordinate_system"]["axis"][0]["unit"])
    expect(geo.get("unitsName") == UNIT_NAMES.get(unit_name),
           "%s: units %s match %s" % (name, geo.get("unitsName"), unit_name))
    number, p = pro["number"], pro["parameters"]
    if crs["type"] == "GeographicCRS":
        expect(number == 0, "%s: geographic record (number %d)" % (name, number))
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
        zone = words.index("zone")
        fips = STATE_FIPS.get(" ".join(words[1:zone]), -1) * 100 + int(words[zone + 1])
        nad = 2 if "NAD83" in crs["name"] else 1
        expect(pro["zone"] == -fips and int(p[0]) == nad, "%s: State Plane zone %d, NAD %d match %s"
               % (name, pro["zone"], int(p[0]), conversion))
        return
    else:
        got = {slot: p[slot] for slot in expected}
        host_method = METHODS.get(number)
    expect(host_method == method, "%s: method %s matches %s" % (name, host_method, method))
    for slot, value in sorted(expected.items()):
        expect(close(got.get(slot), value, 1.0 if slot >= 6 else 1e-3),
               "%s: parameter slot %d = %s, PROJ says %s" % (name, slot, got.get(slot), value))


def check_projections(ktif, folder):
    plain = mem_image(10, 10)
    # Geographic, UTM north and south, NAD27 UTM, State Plane in feet and
    # meters, British National Grid, Map Grid of Australia, LAEA Europe.
    for code in (4326, 32631, 32733, 26717, 2227, 26943, 27700, 28355, 3035, 3857):
        info = write_and_read(ktif, os.path.join(folder, "epsg_%d.tif" % code), plain,
                              outputSRS="EPSG:%d" % code,
                              outputBounds=[500000, 4000000, 500100, 3999900])
        if info is None:
            continue
        if code == 3857:
            expect(info.get("projection") is None and info.get("georeferencing"),
                   "EPSG:3857: refused projection, transform kept")
            continue
        check_projection(code, info)


# Mercator and Equirectangular true at a standard parallel, written by GDAL:
# a point projected through the host record (read as the translator reads
# slots: 4 central meridian, 5 latitude of true scale, 6, 7 false easting and
# northing) must land where GDAL's reading of the file puts it, to 1 mm.
def check_true_scale(ktif, folder):
    cases = [("merc", 5, "+proj=merc +lat_ts=40 +lon_0=10 +x_0=1000 +y_0=2000 +datum=WGS84"),
             ("eqc", 17, "+proj=eqc +lat_ts=30 +lat_0=0 +lon_0=15 +x_0=300 +y_0=400 "
              "+ellps=GRS80")]
    for name, number, definition in cases:
        path = os.path.join(folder, name + "_lat_ts.tif")
        info = write_and_read(ktif, path, mem_image(4, 4, [100000, 10, 0, 5000000, 0, -10]),
                              outputSRS=definition)
        pro = info and info.get("projection")
        if not expect(pro is not None and pro["number"] == number,
                      "%s: host projection %s" % (name, pro and pro["number"])):
            continue
        p, spheroid = pro["parameters"], pro["spheroid"]
        host = osr.SpatialReference()
        host.ImportFromProj4("+proj=%s +lat_ts=%.17g +lon_0=%.17g +x_0=%.17g +y_0=%.17g "
                             "+a=%.17g +b=%.17g +units=m" % (
                                 name, math.degrees(p[5]), math.degrees(p[4]), p[6], p[7],
                                 spheroid["a"], spheroid["b"]))
        theirs = gdal.Open(path).GetSpatialRef()
        for srs in (host, theirs):
            srs.SetAxisMappingStrategy(osr.OAMS_TRADITIONAL_GIS_ORDER)
        lonlat = theirs.CloneGeogCS()
        lonlat.SetAxisMappingStrategy(osr.OAMS_TRADITIONAL_GIS_ORDER)
        for lon, lat in ((12.5, 47.25), (-3.0, -20.5)):
            want = osr.CoordinateTransformation(lonlat, theirs).TransformPoint(lon, lat)
            got = osr.CoordinateTransformation(lonlat, host).TransformPoint(lon, lat)
            expect(abs(got[0] - want[0]) < 1e-3 and abs(got[1] - want[1]) < 1e-3,
                   "%s: (%g, %g) projects to %s through the host record, GDAL says %s"
                   % (name, lon, lat, got[:2], want[:2]))


def main():
    tool, verbose = arguments(__doc__, needs_projinfo=True)
    with tempfile.TemporaryDirectory(prefix="ktif_georef_") as folder:
        check_transforms(tool, folder)
        check_no_data(tool, folder)
        check_projections(tool, folder)
        check_true_scale(tool, folder)
    return summary(RESULTS, verbose)


if __name__ == "__main__":
    sys.exit(main())
