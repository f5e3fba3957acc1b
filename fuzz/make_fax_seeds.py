#!/usr/bin/python3
"""Writes the seeds of fuzz_fax, fuzz/corpus/fax/*.bin: strips of bilevel
files GDAL writes (modified Huffman and Group 4; noise and document-like
content; odd widths and the fax width) and hostile strips (all zeros, all
ones, a real strip cut short, nothing, an end of block alone), in the layout
fuzz_fax reads: 16-bit width - 1, a flags byte (1: Group 4, 2: MinIsBlack,
the rest picks the jumps), rows - 1, the strip.
Usage: fuzz/make_fax_seeds.py (needs GDAL's Python bindings)"""
import os
import struct
import tempfile

import numpy as np
from osgeo import gdal

gdal.UseExceptions()
OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "fax")


def document(rng, height, width):
    """White paper (1) with blocks of ink, a rule and a vertical line."""
    page = np.ones((height, width), np.uint8)
    for top in range(1, height - 4, 6):
        for x in range(int(rng.integers(0, 5)), width, int(rng.integers(5, 12))):
            page[top:top + 4, x:x + int(rng.integers(1, 5))] = 0
    page[height // 2, :] = 0
    page[:, width // 3] = 0
    return page


def strip(directory, pixels, compression, rows, index):
    """The raw bytes of strip `index` of the file GDAL writes."""
    height, width = pixels.shape
    path = os.path.join(directory, "seed.tif")
    ds = gdal.GetDriverByName("GTiff").Create(
        path, width, height, 1, gdal.GDT_Byte,
        ["COMPRESS=" + compression, "NBITS=1", "BLOCKYSIZE=%d" % rows])
    ds.GetRasterBand(1).WriteArray(pixels)
    ds = None
    ds = gdal.Open(path)  # the band dies with its dataset
    band = ds.GetRasterBand(1)
    offset = int(band.GetMetadataItem("BLOCK_OFFSET_0_%d" % index, "TIFF"))
    size = int(band.GetMetadataItem("BLOCK_SIZE_0_%d" % index, "TIFF"))
    with open(path, "rb") as f:
        f.seek(offset)
        return f.read(size)


def seed(name, width, g4, black, rows, data, jumps=0):
    flags = int(g4) | int(black) << 1 | jumps << 2
    with open(os.path.join(OUT, name + ".bin"), "wb") as f:
        f.write(struct.pack("<HBB", width - 1, flags, rows - 1) + data)


def main():
    os.makedirs(OUT, exist_ok=True)
    rng = np.random.default_rng(4)
    real = {}
    with tempfile.TemporaryDirectory() as directory:
        for compression, g4 in [("CCITTRLE", False), ("CCITTFAX4", True)]:
            for width, rows, content in [(1, 24, "noise"), (7, 20, "noise"), (257, 16, "doc"),
                                         (1728, 12, "doc"), (2049, 6, "noise"),
                                         (4096, 8, "doc")]:
                make = document if content == "doc" else (
                    lambda r, h, w: r.integers(0, 2, (h, w), dtype=np.uint8))
                pixels = make(rng, rows * 2, width)
                name = "%s-w%d-%s" % ("g4" if g4 else "mh", width, content)
                data = strip(directory, pixels, compression, rows, 1)
                real[name] = (width, g4, rows, data)
                seed(name, width, g4, width % 2 == 1, rows, data, jumps=width % 64)
    width, g4, rows, data = real["g4-w1728-doc"]
    seed("g4-w1728-truncated", width, g4, False, rows, data[:len(data) // 2])
    width, g4, rows, data = real["mh-w257-doc"]
    seed("mh-w257-truncated", width, g4, True, rows, data[:len(data) // 3])
    for g4 in (False, True):
        kind = "g4" if g4 else "mh"
        seed(kind + "-zeros", 64, g4, False, 8, bytes(64))
        seed(kind + "-ones", 64, g4, True, 8, b"\xff" * 64)
        seed(kind + "-empty", 1728, g4, False, 4, b"")
    # Two end-of-line codes: an end of block before the first row.
    seed("g4-end-of-block", 100, True, False, 16, b"\x00\x10\x01")


if __name__ == "__main__":
    main()
