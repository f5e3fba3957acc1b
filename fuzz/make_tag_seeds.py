#!/usr/bin/python3
"""Writes the seeds of fuzz_tags, fuzz/corpus/tags/: small valid files from
GDAL (both byte orders, classic and BigTIFF, text, rational, double and
GeoKey tags), hand-made ones with every value type, and hostile ones (the
first directory past the end, 65535 entries in a small file, a truncated
directory, data past the end, directories that loop, BigTIFF counts no file
can hold).
Usage: fuzz/make_tag_seeds.py (needs GDAL's Python bindings)."""
import os
import struct

from osgeo import gdal, osr

FOLDER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "tags")
FORMATS = {1: "B", 2: "s", 3: "H", 4: "I", 5: "I", 6: "b", 7: "B", 8: "h", 9: "i", 10: "i",
           11: "f", 12: "d", 13: "I", 16: "Q", 17: "q", 18: "Q"}
RATIONALS = (5, 10)

# (tag, type, values): numbers, (numerator, denominator) pairs, or bytes.
EVERY_TYPE = [
    (256, 3, [2]), (257, 3, [2]), (258, 3, [8]), (259, 3, [1]), (262, 3, [1]),
    (269, 2, b"first\0second\0"), (273, 4, [8]), (277, 3, [1]), (278, 3, [2]), (279, 4, [4]),
    (282, 5, [(1, 3)]), (283, 5, [(72, 0)]), (65000, 6, [-128, 127]), (65001, 7, [0, 255]),
    (65002, 8, [-2]), (65003, 9, [-3, 4]), (65004, 10, [(-1, 3)]), (65005, 11, [1.5, -0.25]),
    (65006, 12, [2.5, -1e300]), (65007, 1, [1, 2, 3, 4, 5]), (65008, 13, [0]),
    (65009, 0, [0]), (65010, 99, [1, 2])]
BIG_ONLY = [(65011, 16, [1 << 40]), (65012, 17, [-(1 << 40)]), (65013, 18, [0])]
SMALL = [(256, 3, [2]), (257, 3, [2]), (258, 3, [8]), (273, 4, [8]), (279, 4, [4]),
         (65000, 4, [1, 2, 3])]


def values_bytes(order, entry_type, values):
    if isinstance(values, bytes):
        return values
    if entry_type in RATIONALS:
        values = [v for pair in values for v in pair]
    return struct.pack("%s%d%s" % (order, len(values), FORMATS.get(entry_type, "B")), *values)


def tiff(entries, big_endian=False, big=False, first=None, next_ifd=0, count=None):
    """A file of 4 pixel bytes and one directory; `first` and `next_ifd`
    replace the directory offsets, `count` the entry count."""
    order = ">" if big_endian else "<"
    inline, entry, offset = (8, "HHQ", "Q") if big else (4, "HHI", "I")
    ifd_at = (16 if big else 8) + 4
    data_at = ifd_at + (8 if big else 2) + len(entries) * (20 if big else 12) + inline
    table, extra = b"", b""
    for tag, entry_type, values in entries:
        data = values_bytes(order, entry_type, values)
        if len(data) <= inline:
            field = data.ljust(inline, b"\0")
        else:
            field = struct.pack(order + offset, data_at + len(extra))
            extra += data + b"\0" * (len(data) % 2)
        table += struct.pack(order + entry, tag, entry_type, len(values)) + field
    header = (b"MM" if big_endian else b"II") + (
        struct.pack(order + "HHHQ", 43, 8, 0, ifd_at if first is None else first) if big else
        struct.pack(order + "HI", 42, ifd_at if first is None else first))
    ifd = struct.pack(order + ("Q" if big else "H"), len(entries) if count is None else count)
    return header + b"\1\2\3\4" + ifd + table + struct.pack(order + offset, next_ifd) + extra


def hostile():
    small = tiff(SMALL)
    ifd_at = 12
    far = [(256, 3, [2]), (273, 4, [8]), (65000, 4, [0xFFFFFF00, 0]), (65001, 12, [1.0])]
    far_data = bytearray(tiff(far))
    # The third entry's data, 8 bytes of LONG, points past the end; the
    # fourth's DOUBLE likewise.
    struct.pack_into("<I", far_data, ifd_at + 2 + 2 * 12 + 8, 0xFFFFFF00)
    struct.pack_into("<I", far_data, ifd_at + 2 + 3 * 12 + 8, 0x7FFFFFF0)
    big_count = bytearray(tiff(SMALL, big=True))
    struct.pack_into("<Q", big_count, 16 + 4 + 8 + 5 * 20 + 4, (1 << 61) + 1)
    return {
        "hostile-first-directory-past-end.tif": tiff(SMALL, first=0x7FFFFFF0),
        "hostile-first-directory-at-end.tif": tiff(SMALL, first=len(small) - 1),
        "hostile-entry-count-65535.tif": tiff(SMALL, count=65535),
        "hostile-truncated-directory.tif": small[:ifd_at + 2 + 3 * 12 + 5],
        "hostile-truncated-header.tif": small[:6],
        "hostile-data-past-end.tif": bytes(far_data),
        "hostile-directory-loop-self.tif": tiff(SMALL, next_ifd=ifd_at),
        "hostile-directory-loop-be.tif": tiff(SMALL, big_endian=True, next_ifd=ifd_at),
        "hostile-bigtiff-directory-loop.tif": tiff(SMALL, big=True, next_ifd=20),
        "hostile-bigtiff-entry-count-huge.tif": tiff(SMALL, big=True, count=1 << 63),
        "hostile-bigtiff-data-count-huge.tif": bytes(big_count),
        "hostile-bigtiff-offset-size-4.tif": tiff(SMALL, big=True)[:4] + b"\4\0" +
        tiff(SMALL, big=True)[6:],
    }


def gdal_seed(name, options, gdal_type=gdal.GDT_Byte, srs=None, bands=1):
    path = os.path.join(FOLDER, name)
    ds = gdal.GetDriverByName("GTiff").Create(path, 4, 4, bands, gdal_type, options)
    ds.SetMetadataItem("TIFFTAG_IMAGEDESCRIPTION", "seed")
    ds.SetMetadataItem("TIFFTAG_XRESOLUTION", "72.5")
    ds.SetMetadataItem("TIFFTAG_YRESOLUTION", "72.5")
    ds.SetMetadataItem("TIFFTAG_RESOLUTIONUNIT", "2")
    if srs is not None:
        ref = osr.SpatialReference()
        ref.ImportFromEPSG(srs) if isinstance(srs, int) else ref.ImportFromProj4(srs)
        ds.SetSpatialRef(ref)
        ds.SetGeoTransform([500000.0, 30.0, 0.0, 5400000.0, 0.0, -30.0])
    ds = None
    if os.path.exists(path + ".aux.xml"):
        os.remove(path + ".aux.xml")


def main():
    gdal.UseExceptions()
    os.makedirs(FOLDER, exist_ok=True)
    gdal_seed("gdal-classic-le-epsg.tif", [], srs=32633)
    gdal_seed("gdal-classic-be-user-defined.tif", ["ENDIANNESS=BIG"], gdal.GDT_Int16,
              "+proj=lcc +lat_1=45 +lat_2=50 +lat_0=40 +lon_0=10 +ellps=GRS80 +units=m")
    gdal_seed("gdal-bigtiff-le-rgb.tif", ["BIGTIFF=YES", "PHOTOMETRIC=RGB"], bands=3)
    gdal_seed("gdal-bigtiff-be-tiled.tif",
              ["BIGTIFF=YES", "ENDIANNESS=BIG", "TILED=YES", "BLOCKXSIZE=16", "BLOCKYSIZE=16"],
              gdal.GDT_Float64, 4326)
    seeds = {"every-type-le.tif": tiff(EVERY_TYPE),
             "every-type-be.tif": tiff(EVERY_TYPE, big_endian=True),
             "every-type-bigtiff-le.tif": tiff(EVERY_TYPE + BIG_ONLY, big=True),
             "every-type-bigtiff-be.tif": tiff(EVERY_TYPE + BIG_ONLY, big_endian=True, big=True)}
    seeds.update(hostile())
    for name, data in seeds.items():
        with open(os.path.join(FOLDER, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
