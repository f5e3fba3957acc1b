#!/usr/bin/python3
"""Writes the hand-made GeoKey seeds, fuzz/corpus/geokeys/typed-*.bin: keys of
the wrong type (DOUBLE where a SHORT code belongs, ASCII where a DOUBLE does)
on the projection codes whose readers take them, and systems that take the
roads through PROJ, in the layout fuzz_geokeys reads.
Usage: fuzz/make_geokey_seeds.py"""
import os
import struct

SHORT, DOUBLE, ASCII = 0, 34736, 34737

# name: (key, type, value); a SHORT value is a code, an ASCII value a text.
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
}


def seed(keys):
    """A 16-bit count and the directory, a byte count and the doubles, then
    the ASCII parameters."""
    entries, doubles, ascii = [], [], ""
    for key, location, value in sorted(keys):
        if location == SHORT:
            entries += [key, 0, 1, value]
        elif location == DOUBLE:
            entries += [key, DOUBLE, 1, len(doubles)]
            doubles.append(value)
        else:
            entries += [key, ASCII, len(value), len(ascii)]
            ascii += value
    directory = [1, 1, 0, len(keys)] + entries
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
