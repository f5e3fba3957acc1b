#!/usr/bin/python3
"""Writes the hand-made GeoKey seeds, fuzz/corpus/geokeys/typed-*.bin: keys of
the wrong type (DOUBLE where a SHORT code belongs, ASCII where a DOUBLE does)
on the projection codes whose readers take them, systems that take the
roads through PROJ, and image metadata keys (33000, 1101, 34001, 34002,
33010, 4096) of every type and of short or long sizes, in the layout
fuzz_geokeys reads.
Usage: fuzz/make_geokey_seeds.py"""
import os
import struct

SHORT, DOUBLE, ASCII = 0, 34736, 34737

# name: (key, type, value); a SHORT value is a code, an ASCII value a text.
# A list of SHORT values is stored after the entries in the directory, a list
# of DOUBLE values as that many doubles.
SEEDS = {
    # Gauss-Kruger by projection code, units as doubles.
    "gauss-kruger-units-double": [
        (1024, SHORT, 1), (2048, SHORT, 4326), (2054, DOUBLE, 9102.0),
        (3072, SHORT, 32767), (3074, SHORT, 16203), (3076, DOUBLE, 9001.0),
        (3080, DOUBLE, 15.0), (3081, DOUBLE, 0.0), (3082, DOUBLE, 3500000.0),
        (3083, DOUBLE, 0.0)],
    # Gauss-Kruger with its origin and false easting as text.
    "gauss-kruger-params-ascii": [
        (1024, SHORT, 1), (2048, SHORT, 4326), (3072, SHORT, 32767), (3074, SHORT, 16204),
        (3080, ASCII, "21|"), (3081, DOUBLE, 0.0), (3082, ASCII, "4500000|")],
    # RSO Borneo with datum, ellipsoid and units codes as doubles.
    "rso-codes-double": [
        (1024, SHORT, 1), (2050, DOUBLE, 6298.0), (2056, DOUBLE, 7016.0),
        (3072, SHORT, 32767), (3074, SHORT, 19958), (3076, DOUBLE, 9001.0)],
    # RSO Malaya with units and the centre easting as text.
    "rso-easting-ascii": [
        (1024, SHORT, 1), (2050, SHORT, 6245), (3072, SHORT, 32767), (3074, SHORT, 19935),
        (3076, ASCII, "9001|"), (3090, ASCII, "804671.3|")],
    # An EPSG conversion with its geographic code and angular units as doubles.
    "conversion-gcs-double": [
        (1024, SHORT, 1), (2048, DOUBLE, 4211.0), (2054, DOUBLE, 9102.0),
        (3072, SHORT, 32767), (3074, SHORT, 19905)],
    # Mercator by its keys: true-scale latitude as text, origin as a double.
    "mercator-parallel-ascii": [
        (1024, SHORT, 1), (2048, SHORT, 4326), (3072, SHORT, 32767), (3074, SHORT, 32767),
        (3075, SHORT, 7), (3078, ASCII, "40|"), (3080, DOUBLE, 10.0), (3081, DOUBLE, 5.0),
        (3082, DOUBLE, 0.0), (3083, DOUBLE, 0.0)],
    # The roads through PROJ: Hotine in both variants with its grid angle,
    # a transformation outside the table, a scaled Mercator, and unit codes
    # outside the tables (sexagesimal, gon, unknown).
    "hotine-a-grid-angle": [
        (1024, SHORT, 1), (2048, SHORT, 4326), (3072, SHORT, 32767), (3074, SHORT, 32767),
        (3075, SHORT, 3), (3088, DOUBLE, 115.0), (3089, DOUBLE, 4.0), (3093, DOUBLE, 0.99984),
        (3094, DOUBLE, 53.3), (3096, DOUBLE, 53.1), (3082, DOUBLE, 5e5), (3083, DOUBLE, 4e5)],
    "hotine-b-grads": [
        (1024, SHORT, 1), (2048, SHORT, 4326), (2060, SHORT, 9105), (3072, SHORT, 32767),
        (3074, SHORT, 32767), (3075, SHORT, 9815), (3088, DOUBLE, 115.0), (3089, DOUBLE, 4.0),
        (3093, DOUBLE, 1.0), (3094, DOUBLE, 100.0), (3082, DOUBLE, 9.0), (3083, DOUBLE, 10.0)],
    "lambert-1sp-dms": [
        (1024, SHORT, 1), (2048, SHORT, 4326), (2054, SHORT, 9110), (3072, SHORT, 32767),
        (3074, SHORT, 32767), (3075, SHORT, 9), (3080, DOUBLE, 10.3), (3081, DOUBLE, 45.153),
        (3092, DOUBLE, 0.9998), (3082, DOUBLE, 0.0), (3083, DOUBLE, 0.0)],
    "mercator-scaled-gon": [
        (1024, SHORT, 1), (2048, SHORT, 4326), (2054, SHORT, 9106), (3072, SHORT, 32767),
        (3074, SHORT, 32767), (3075, SHORT, 7), (3080, DOUBLE, 10.0), (3092, DOUBLE, 0.9996),
        (3082, DOUBLE, 0.0), (3083, DOUBLE, 0.0)],
    "cassini-unknown-unit": [
        (1024, SHORT, 1), (2048, SHORT, 4326), (3072, SHORT, 32767), (3074, SHORT, 32767),
        (3075, SHORT, 18), (3076, SHORT, 9999), (3080, DOUBLE, 10.0), (3081, DOUBLE, 45.0)],
    # A geographic system and a datum outside the tables.
    "registry-datum": [
        (1024, SHORT, 2), (2048, SHORT, 32767), (2050, SHORT, 6742), (2056, SHORT, 7019)],
    # Image metadata: every key well formed, on a projected system.
    "metadata-full": [
        (1024, SHORT, 1), (3072, SHORT, 32633), (33000, ASCII, "secret|"),
        (1101, ASCII, "ABCD2023-07-14T09:41:27|"), (34001, ASCII, "19991231|"),
        (34002, ASCII, "23:59:58|"), (33034, ASCII, "Survey flight 7|"),
        (33010, DOUBLE, -9999.0), (4096, SHORT, 5103), (4099, SHORT, 9002)],
    # Metadata keys of the wrong type: numbers where text belongs (1101 of 24
    # bytes as doubles and as shorts), text where numbers do.
    "metadata-typed": [
        (33000, SHORT, 117), (1101, DOUBLE, [1.0, 2.0, 3.0]), (34001, SHORT, [1999, 12, 31, 0]),
        (34002, DOUBLE, 1.0), (33010, ASCII, "-100|"), (4096, ASCII, "5030|"),
        (4097, SHORT, 1), (4099, DOUBLE, 9002.0)],
    # Metadata keys shorter or longer than their layout.
    "metadata-sizes": [
        (33000, ASCII, "|"), (1101, ASCII, "ABCD2023-07-14T09:41:2|"), (34001, ASCII, "1999123|"),
        (34002, ASCII, "23|"), (33010, SHORT, [1, 2]), (4096, SHORT, [5103, 9002])],
    # The user-defined vertical system named by its citation, and one that is not.
    "vertical-egm96": [
        (4096, SHORT, 32767), (4097, ASCII, "egm96 geoid heights|"), (4099, SHORT, 9002)],
    "vertical-citation-short": [
        (4096, SHORT, 32767), (4097, ASCII, "EGM96|"), (33010, DOUBLE, [1e39, 2.0])],
}


def seed(keys):
    """A 16-bit count and the directory, a byte count and the doubles, then
    the ASCII parameters."""
    entries, shorts, doubles, ascii = [], [], [], ""
    first_short = 4 + 4 * len(keys)  # the directory's values after its entries
    for key, location, value in sorted(keys):
        if location == SHORT and isinstance(value, list):
            entries += [key, 34735, len(value), first_short + len(shorts)]
            shorts += value
        elif location == SHORT:
            entries += [key, 0, 1, value]
        elif location == DOUBLE:
            values = value if isinstance(value, list) else [value]
            entries += [key, DOUBLE, len(values), len(doubles)]
            doubles += values
        else:
            entries += [key, ASCII, len(value), len(ascii)]
            ascii += value
    directory = [1, 1, 0, len(keys)] + entries + shorts
    return (struct.pack("<H%dH" % len(directory), len(directory), *directory) +
            struct.pack("<B%dd" % len(doubles), len(doubles), *doubles) + ascii.encode())


def main():
    folder = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "geokeys")
    os.makedirs(folder, exist_ok=True)
    for name, keys in SEEDS.items():
        with open(os.path.join(folder, "typed-%s.bin" % name), "wb") as f:
            f.write(seed(keys))


if __name__ == "__main__":
    main()
