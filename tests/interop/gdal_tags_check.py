#!/usr/bin/python3
"""Cross-checks `ktif tags --json` against tiffdump and `ktif keys --json`
against `listgeo -no_norm` on files GDAL writes (both byte orders, classic
and BigTIFF, strips and tiles, a strip list longer than the 100 values ktif
shows, text and resolution tags, several pixel types, systems by EPSG code
and as user-defined keys, an overview directory) and on hand-made files
holding every value type.

Tags: the same tags in the same order, with the same types, counts and
values (numbers to tiffdump's six digits, the first 100 and the "..."
beyond, texts without their NULs, the coded values of eight tags by name);
the three GeoKey tags left out; the offset of the directory; nothing on
stderr. Keys: the same keys in the same order, with the same type names,
counts and values (doubles to the six decimals the library writes, texts and
names exactly).

Usage: gdal_tags_check.py PATH_TO_KTIF [-v]. Exit 0 when every check passes,
1 otherwise, 77 without GDAL's Python bindings, tiffdump or listgeo.
"""
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

from interop_support import arguments, gdal, osr, run, stderr, summary

GEOKEY_TAGS = (34735, 34736, 34737)
SHOWN = 100  # values ktif shows before its "..."
FLOAT_TYPES = (5, 10, 11, 12)
TEXT_TYPES = (1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 16, 17)  # not IFD, IFD8 or unknown
# The names ktif gives single SHORT values of these tags, for the values the
# files below hold.
NAMES = {259: {1: "None", 5: "LZW", 8: "Adobe Deflate", 32773: "PackBits"},
         262: {0: "Min Value is White", 1: "Min Value is Black", 2: "RGB", 3: "Palette"},
         274: {1: "Top Left", 6: "Right Top"},
         284: {1: "Contiguous", 2: "Separate Data Planes"},
         296: {1: "None", 2: "Inches", 3: "Centimeters"},
         339: {1: "Unsigned Integer", 2: "Signed Integer", 3: "IEEE Floating Point"}}

LCC = ("+proj=lcc +lat_1=45 +lat_2=50 +lat_0=40 +lon_0=10 +x_0=100 +y_0=200 "
       "+ellps=GRS80 +units=m")
# Parameters with more digits than six decimals keep.
TMERC = ("+proj=tmerc +lat_0=0.5 +lon_0=9.123456789 +k=0.9996543 +x_0=500000.125 "
         "+y_0=-0.5 +ellps=WGS84 +units=m")
TEXT = {"TIFFTAG_IMAGEDESCRIPTION": "a description, with punctuation: 1/2 & <3>",
        "TIFFTAG_DOCUMENTNAME": "document", "TIFFTAG_SOFTWARE": "gdal_tags_check",
        "TIFFTAG_DATETIME": "2024:01:02 03:04:05", "TIFFTAG_XRESOLUTION": "72.5",
        "TIFFTAG_YRESOLUTION": "300", "TIFFTAG_RESOLUTIONUNIT": "3"}
# name, width, height, bands, GDAL type, creation options, extras: metadata
# items, no-data value, system (EPSG code or PROJ string), overview factors.
CASES = [
    ("rgb_le_strips", 24, 20, 3, gdal.GDT_Byte, ["PHOTOMETRIC=RGB"], {}),
    ("rgb_be_tiled_lzw", 40, 40, 3, gdal.GDT_Byte,
     ["ENDIANNESS=BIG", "TILED=YES", "BLOCKXSIZE=16", "BLOCKYSIZE=16", "COMPRESS=LZW",
      "PREDICTOR=2", "INTERLEAVE=BAND"], {}),
    ("s16_be_strips_deflate", 20, 30, 1, gdal.GDT_Int16, ["ENDIANNESS=BIG", "COMPRESS=DEFLATE"],
     {}),
    ("f32_bigtiff_nodata", 16, 16, 1, gdal.GDT_Float32, ["BIGTIFF=YES"], {"nodata": -9999.5}),
    ("u8_bigtiff_be_tiled", 48, 40, 1, gdal.GDT_Byte,
     ["BIGTIFF=YES", "ENDIANNESS=BIG", "TILED=YES", "BLOCKXSIZE=16", "BLOCKYSIZE=16"], {}),
    ("long_strip_list", 16, 300, 1, gdal.GDT_Byte, ["BLOCKYSIZE=1"], {}),
    ("long_strip_list_bigtiff_be", 16, 300, 1, gdal.GDT_UInt16,
     ["BLOCKYSIZE=1", "BIGTIFF=YES", "ENDIANNESS=BIG"], {}),
    ("text_and_resolution", 8, 8, 1, gdal.GDT_Byte, [], {"metadata": TEXT}),
    ("long_description_be", 8, 8, 1, gdal.GDT_Byte, ["ENDIANNESS=BIG"],
     {"metadata": {"TIFFTAG_IMAGEDESCRIPTION": "".join(chr(65 + i % 26) for i in range(150))}}),
    ("epsg_32633", 32, 32, 1, gdal.GDT_Int16, [], {"srs": 32633, "overviews": [2]}),
    ("epsg_4326_be_bigtiff", 32, 32, 1, gdal.GDT_Float32, ["ENDIANNESS=BIG", "BIGTIFF=YES"],
     {"srs": 4326, "nodata": 0.0}),
    ("user_defined_lcc", 32, 32, 1, gdal.GDT_Byte, [], {"srs": LCC}),
    ("user_defined_tmerc_be_bigtiff", 32, 32, 1, gdal.GDT_Float32,
     ["ENDIANNESS=BIG", "BIGTIFF=YES"], {"srs": TMERC, "nodata": -1e30}),
]


def write_gdal(directory, name, width, height, bands, gdal_type, options, extras):
    path = os.path.join(directory, name + ".tif")
    ds = gdal.GetDriverByName("GTiff").Create(path, width, height, bands, gdal_type, options)
    for band in range(1, bands + 1):
        ds.GetRasterBand(band).Fill(band * 7)
        if "nodata" in extras:
            ds.GetRasterBand(band).SetNoDataValue(extras["nodata"])
    for key, value in extras.get("metadata", {}).items():
        ds.SetMetadataItem(key, value)
    if "srs" in extras:
        srs = osr.SpatialReference()
        if isinstance(extras["srs"], int):
            srs.ImportFromEPSG(extras["srs"])
        else:
            srs.ImportFromProj4(extras["srs"])
        ds.SetSpatialRef(srs)
        geographic = srs.IsGeographic()
        ds.SetGeoTransform([10.0, 0.001, 0.0, 50.0, 0.0, -0.001] if geographic
                           else [500000.25, 30.0, 0.0, 5400000.75, 0.0, -30.0])
    if "overviews" in extras:
        ds.BuildOverviews("NEAREST", extras["overviews"])
    ds = None
    return path


# Hand-made files: every value type (one file an unknown one too), a text of
# two strings, values past the cut, and an orientation GDAL never writes.
# Values: numbers, (numerator, denominator) pairs, or bytes for ASCII.
PACK = {1: "B", 2: "s", 3: "H", 4: "I", 5: "II", 6: "b", 7: "B", 8: "h", 9: "i", 10: "ii",
        11: "f", 12: "d", 13: "I", 16: "Q", 17: "q", 18: "Q"}


def handmade_entries(big, unknown):
    entries = [
        (256, 3, [4]), (257, 3, [2]), (258, 3, [8]), (259, 3, [1]), (262, 3, [1]),
        (269, 2, b"first\0second\0"), (273, 4, [None]), (274, 3, [6]), (277, 3, [1]),
        (278, 3, [2]), (279, 4, [8]), (282, 5, [(1, 3)]), (283, 5, [(600, 2)]),
        (296, 3, [2]), (305, 2, b"x" * 150 + b"\0"),
        (65000, 6, [-128, 127, -1]), (65001, 7, [0, 255, 16]), (65002, 8, [-32768, 32767]),
        (65003, 9, [-2147483648, 2147483647]), (65004, 10, [(-1, 3), (7, -2)]),
        (65005, 11, [1.5, -0.25, 3.0e38]), (65006, 12, [123456.789012, -2.5e10, 1e-7]),
        (65007, 4, [4294967295]), (65008, 1, [200]), (65009, 3, list(range(150))),
        (65010, 12, [0.5 * i for i in range(101)]), (65011, 13, [0])]
    if big:
        entries += [(65013, 16, [1 << 40, 7]), (65014, 17, [-(1 << 40)]), (65015, 18, [0])]
    return entries + ([(65016, 99, [1, 2])] if unknown else [])


def pack(order, entry_type, values):
    if entry_type == 2:
        return values
    if entry_type in (5, 10):
        values = [v for pair in values for v in pair]
    return struct.pack(order + "%d%s" % (len(values), PACK.get(entry_type, "B")[0]), *values)


def write_handmade(directory, name, big_endian, big, unknown):
    order = ">" if big_endian else "<"
    strip_at = 16 if big else 8
    pixels = bytes(range(1, 9))
    ifd_at = strip_at + len(pixels)
    entries = handmade_entries(big, unknown)
    entry_size, inline = (20, 8) if big else (12, 4)
    count_size = 8 if big else 2
    data_at = ifd_at + count_size + len(entries) * entry_size + inline
    table, extra = b"", b""
    for tag, entry_type, values in entries:
        if tag == 273:
            values = [strip_at]
        data = pack(order, entry_type, values)
        count = len(values)
        if len(data) <= inline:
            field = data + b"\0" * (inline - len(data))
        else:
            field = struct.pack(order + ("Q" if big else "I"), data_at + len(extra))
            extra += data + b"\0" * (len(data) % 2)
        table += struct.pack(order + ("HHQ" if big else "HHI"), tag, entry_type, count) + field
    ifd = struct.pack(order + ("Q" if big else "H"), len(entries)) + table + b"\0" * inline
    header = (b"MM" if big_endian else b"II") + (
        struct.pack(order + "HHHQ", 43, 8, 0, ifd_at) if big else
        struct.pack(order + "HI", 42, ifd_at))
    path = os.path.join(directory, name + ".tif")
    with open(path, "wb") as f:
        f.write(header + pixels + ifd + extra)
    return path


# name, big-endian, BigTIFF, with an entry of an unknown type.
HANDMADE = [("handmade_le", False, False, False), ("handmade_be", True, False, False),
            ("handmade_bigtiff_le", False, True, False), ("handmade_bigtiff_be", True, True, False),
            ("handmade_unknown_type", False, False, True)]

# tiffdump: `Name (256) SHORT (3) 1<512>` or `33550 (0x830e) DOUBLE (12) 3<...>`.
DUMP_LINE = re.compile(r"^(\S+) \((\w+)\) \S+ \((\w+)\) (\d+)<(.*)>$")
DUMP_DIRECTORY = re.compile(r"^Directory (\d+): offset (\d+)")
ESCAPES = {"t": "\t", "b": "\b", "r": "\r", "n": "\n", "v": "\v", "0": "\0"}


def unescape(text):
    """tiffdump's ASCII: \\t, \\n, ..., \\0 and \\ooo escapes."""
    return re.sub(r"\\([0-7]{3}|.)",
                  lambda m: chr(int(m.group(1), 8)) if len(m.group(1)) == 3
                  else ESCAPES.get(m.group(1), m.group(1)), text)


def dump(path):
    """{directory index: (offset, [(tag, type, count, values)])}, every value."""
    out = subprocess.run(["tiffdump", "-m", "1000000", path], capture_output=True,
                         text=True, errors="replace").stdout
    directories, current = {}, None
    for line in out.splitlines():
        m = DUMP_DIRECTORY.match(line)
        if m:
            current = directories.setdefault(int(m.group(1)), (int(m.group(2)), []))[1]
            continue
        m = DUMP_LINE.match(line)
        if m and current is not None:
            first, inner, entry_type, count, values = m.groups()
            tag = int(first) if first.isdigit() else int(inner)
            current.append((tag, int(entry_type, 0), int(count), values))
    return directories


def number(token):
    try:
        return int(token, 0)
    except ValueError:
        return float(token)


def same_number(got, want, entry_type):
    if entry_type in FLOAT_TYPES:  # tiffdump's %g keeps six digits, ktif's %f six decimals
        return abs(got - want) <= 1e-5 * abs(want) + 1e-6
    return got == want


def value_problem(tag, entry_type, count, got, dumped):
    """Why ktif's value text differs from tiffdump's values, or None."""
    if entry_type not in TEXT_TYPES:
        # No value adds text; several still get their braces.
        want = "{ }" if count > 1 else ""
        return None if got == want else "%r, wanted %r" % (got, want)
    if entry_type == 2:
        # Each character is appended as text, so NULs add nothing.
        want = unescape(dumped)[:SHOWN].replace("\0", "") + ("..." if count > SHOWN else "")
        return None if got == want else "%r, wanted %r" % (got, want)
    want = [number(t) for t in dumped.split()]
    if count == 1 and entry_type == 3 and want[0] in NAMES.get(tag, {}):
        name = NAMES[tag][want[0]]
        return None if got == name else "%r, wanted %r (%d)" % (got, name, want[0])
    if count > 1:
        if not (got.startswith("{ ") and got.endswith("}")):
            return "%r is not in braces" % got
        got = got[2:-1]
    tokens = got.split()
    cut = count > SHOWN
    if cut != (tokens[-1:] == ["..."]):
        return "%r: %s" % (got[-40:], "no ... after %d values" % SHOWN if cut else "a stray ...")
    tokens = tokens[:-1] if cut else tokens
    if len(tokens) != min(count, SHOWN):
        return "%d values shown, wanted %d" % (len(tokens), min(count, SHOWN))
    for i, (g, w) in enumerate(zip(tokens, want)):
        try:
            ok = same_number(number(g), w, entry_type)
        except ValueError:
            ok = False
        if not ok:
            return "value %d is %r, tiffdump says %r" % (i, g, w)
    return None


def failure(result):
    """The tool's own line: libtiff's warnings may come before it."""
    return (stderr(result).splitlines() or ["exit %d" % result.returncode])[-1]


def check_tags(tool, name, path, index, offset, entries):
    label = name if index == 0 else "%s directory %d" % (name, index)
    result = run(tool, ["tags", "--json", path] + (["--directory", str(offset)] if index else []))
    if result.returncode != 0:
        yield label + " tags", False, failure(result)
        return
    got = json.loads(result.stdout)["tags"]
    lines = stderr(result).splitlines()
    yield (label + " stderr empty", not lines,
           "%d lines, the first %r" % (len(lines), lines[0]) if lines else "")
    yield (label + " directoryOffset", json.loads(result.stdout)["directoryOffset"] == offset,
           "%r, tiffdump says %d" % (json.loads(result.stdout)["directoryOffset"], offset))
    leaked = [t["tag"] for t in got if t["tag"] in GEOKEY_TAGS]
    yield label + " GeoKey tags left out", not leaked, "listed %s" % leaked
    want = [e for e in entries if e[0] not in GEOKEY_TAGS]
    got_tags, want_tags = [t["tag"] for t in got], [e[0] for e in want]
    if got_tags != want_tags:
        yield label + " tag list", False, "%s, tiffdump says %s" % (got_tags, want_tags)
        return
    yield label + " tag list", True, ""
    wrong = []
    for t, (tag, entry_type, count, values) in zip(got, want):
        if (t["type"], t["count"]) != (entry_type, count):
            wrong.append("tag %d: type %d count %d, tiffdump says type %d count %d" % (
                tag, t["type"], t["count"], entry_type, count))
            continue
        problem = value_problem(tag, entry_type, count, t["value"], values)
        if problem:
            wrong.append("tag %d: %s" % (tag, problem))
    yield label + " types, counts and values", not wrong, "; ".join(wrong)


# listgeo: `   GTModelTypeGeoKey (Short,1): ModelTypeProjected`.
KEY_LINE = re.compile(r"^\s+(\w+) \((\w+),(\d+)\): ?(.*?)\s*$")


def listgeo_keys(path):
    out = subprocess.run(["listgeo", "-no_norm", path], capture_output=True, text=True,
                         errors="replace").stdout
    keys, inside = [], False
    for line in out.splitlines():
        if line.strip() == "Keyed_Information:":
            inside = True
        elif line.strip() == "End_Of_Keys.":
            inside = False
        elif inside:
            m = KEY_LINE.match(line)
            if m:
                keys.append((m.group(1), m.group(2), int(m.group(3)), m.group(4)))
    return keys


def key_value_problem(key_type, got, listed):
    if key_type == "Ascii":
        want = listed[1:-1] if listed.startswith('"') and listed.endswith('"') else listed
        return None if got == want else "%r, listgeo says %r" % (got, want)
    if key_type == "Double":
        want = [float(v) for v in listed.split()]
        try:
            values = [float(v) for v in got.split(",")]
        except ValueError:
            return "%r is not numbers" % got
        # The library writes doubles with "%f": six decimals of listgeo's.
        ok = len(values) == len(want) and all(
            "%f" % g == "%f" % w for g, w in zip(values, want))
        return None if ok else "%r, listgeo says %s" % (got, listed)
    return None if got == listed else "%r, listgeo says %r" % (got, listed)


def check_keys(tool, name, path):
    result = run(tool, ["keys", "--json", path])
    if result.returncode != 0:
        yield name + " keys", False, failure(result)
        return
    got = json.loads(result.stdout)["keys"]
    want = listgeo_keys(path)
    if [k["name"] for k in got] != [k[0] for k in want]:
        yield (name + " key list", False, "%s, listgeo says %s" % (
            [k["name"] for k in got], [k[0] for k in want]))
        return
    yield name + " key list", True, ""
    wrong = []
    for k, (key_name, key_type, count, listed) in zip(got, want):
        if (k["type"], k["count"]) != (key_type, count):
            wrong.append("%s: (%s,%d), listgeo says (%s,%d)" % (
                key_name, k["type"], k["count"], key_type, count))
            continue
        problem = key_value_problem(key_type, k["value"], listed)
        if problem:
            wrong.append("%s: %s" % (key_name, problem))
    yield name + " key types, counts and values", not wrong, "; ".join(wrong)


def check_file(tool, name, path, georeferenced):
    directories = dump(path)
    if 0 not in directories:
        yield name + " tiffdump", False, "tiffdump read no directory"
        return
    for index, (offset, entries) in sorted(directories.items()):
        yield from check_tags(tool, name, path, index, offset, entries)
    if georeferenced:
        yield (name + " has GeoKey tags", any(e[0] == 34735 for e in directories[0][1]),
               "GDAL wrote no GeoKeyDirectoryTag")
    yield from check_keys(tool, name, path)


def main():
    tool, verbose = arguments(__doc__)
    for program in ("tiffdump", "listgeo"):
        if shutil.which(program) is None:
            print("skipped: %s is not installed" % program)
            return 77
    gdal.PushErrorHandler("CPLQuietErrorHandler")
    results = []
    with tempfile.TemporaryDirectory(prefix="ktif_tags_") as directory:
        for name, *case in CASES:
            path = write_gdal(directory, name, *case)
            results += check_file(tool, name, path, "srs" in case[-1])
        for name, *case in HANDMADE:
            path = write_handmade(directory, name, *case)
            results += check_file(tool, name, path, False)
    return summary(results, verbose)


if __name__ == "__main__":
    sys.exit(main())
