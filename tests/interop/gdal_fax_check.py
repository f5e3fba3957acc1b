#!/usr/bin/python3
"""Cross-checks the library's CCITT decoders (compression 2, modified Huffman
rows, and 4) against GDAL on bilevel files GDAL writes.

Every case is written in both photometric interpretations, in several strips
(the last one short), at odd widths and the fax width, with noise or
document-like content (text blocks, rules, long white runs, black rows), and
once more with FillOrder 2 by tiffcp. For each file `ktif info --json` must
name the library's decoder and `ktif read` must deliver what GDAL reads
(complemented for MinIsWhite: the library delivers white as 1). Where libtiff's
decoder warns (a line length mismatch, a premature end of line on tiny
widths) its read is wrong, and the values the file holds are the truth: the
array written, or for tiffcp's copy what tiffcp read (libtiff's read of the
source). A 1-bit Group 3 file stays on the libtiff road, with the same data.

Usage: gdal_fax_check.py PATH_TO_KTIF [-v]. Exit 0 when every check passes,
1 otherwise, 77 without GDAL's Python bindings or tiffcp and tiffinfo.
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile

from interop_support import arguments, compare, gdal, np, run, stderr, summary

# tiffinfo's name, whether the library's decoder serves it
COMPRESSIONS = {"CCITTRLE": ("CCITT RLE", True), "CCITTFAX4": ("CCITT Group 4", True),
                "CCITTFAX3": ("CCITT Group 3", False)}
PHOTOMETRICS = ["MINISBLACK", "MINISWHITE"]
# width, height, rows per strip
SHAPES = [(1, 45, 8), (3, 33, 7), (7, 50, 16), (257, 40, 9), (2049, 30, 8), (1728, 120, 50)]


def noise(rng, height, width):
    return rng.integers(0, 2, (height, width), dtype=np.uint8)


def document(rng, height, width):
    """Ink (1) on paper: text-like blocks in lines, a rule, a vertical line,
    empty rows and a solid row."""
    ink = np.zeros((height, width), np.uint8)
    for top in range(2, height - 6, 9):
        x = int(rng.integers(0, 4))
        while x < width:
            glyph = int(rng.integers(1, 7))
            ink[top:top + 6, x:x + glyph] = rng.integers(0, 2, (6, 1), dtype=np.uint8)
            ink[top + int(rng.integers(0, 6)), x:x + glyph] = 1
            x += glyph + int(rng.integers(1, 4)) + (int(rng.integers(8, 40)) if rng.random() < .1
                                                    else 0)
    ink[height // 2, width // 8:width - width // 8] = 1
    ink[:, width * 2 // 3] = 1
    ink[height - 3:height - 1] = 0
    ink[height - 1] = 1
    return ink


def write(directory, name, pixels, compression, photometric, rows):
    height, width = pixels.shape
    path = os.path.join(directory, name + ".tif")
    ds = gdal.GetDriverByName("GTiff").Create(
        path, width, height, 1, gdal.GDT_Byte,
        ["COMPRESS=" + compression, "NBITS=1", "PHOTOMETRIC=" + photometric,
         "BLOCKYSIZE=%d" % rows])
    ds.SetGeoTransform([500000.0, 2.0, 0.0, 4500000.0, 0.0, -2.0])
    ds.SetProjection('EPSG:32633')
    ds.GetRasterBand(1).WriteArray(pixels)
    ds = None
    return path


def flipped(path, compression):
    """tiffcp's FillOrder 2 copy (tiffcp keeps the compression), or None and
    what tiffcp said and tiffinfo shows."""
    out = path[:-4] + "_lsb.tif"
    copy = subprocess.run(["tiffcp", "-f", "lsb2msb", path, out], capture_output=True, text=True)
    listing = subprocess.run(["tiffinfo", out], capture_output=True, text=True).stdout
    if copy.returncode != 0 or "FillOrder: lsb-to-msb" not in listing or (
            "Compression Scheme: %s\n" % COMPRESSIONS[compression][0]) not in listing:
        return None, "tiffcp: %s; tiffinfo: %s" % (copy.stderr.strip(), listing.strip())
    return out, ""


def gdal_read(path):
    """GDAL's pixels and libtiff's decoder warning, if any."""
    messages = []
    gdal.PushErrorHandler(lambda _class, _number, message: messages.append(message))
    try:
        pixels = gdal.Open(path).ReadAsArray()
    finally:
        gdal.PopErrorHandler()
    return pixels, next((m for m in messages if "Fax3Decode" in m), None)


def check(tool, path, name, held, compression, photometric):
    """`held`: the values the file holds, as GDAL takes them."""
    info = run(tool, ["info", "--json", path])
    if info.returncode != 0:
        yield name + " info", False, stderr(info)
        return
    record = json.loads(info.stdout)
    want_fax = COMPRESSIONS[compression][1]
    if "faxDecoder" not in record:
        yield name + " faxDecoder", False, "no faxDecoder key in ktif info --json"
    else:
        yield name + " faxDecoder", record["faxDecoder"] is want_fax, str(record["faxDecoder"])
    height, width = held.shape
    result = run(tool, ["read", path])
    if result.returncode != 0 or len(result.stdout) != width * height:
        yield name + " read", False, "exit %d, %d bytes: %s" % (
            result.returncode, len(result.stdout), stderr(result))
        return
    got = np.frombuffer(result.stdout, np.uint8).reshape(height, width)
    pixels, warning = gdal_read(path)
    truth = held if warning else pixels.reshape(height, width)
    if photometric == "MINISWHITE":
        truth = 1 - truth
    ok, detail = compare(got, truth)
    yield name + (" read (vs the values held; libtiff: %s)" % warning if warning else " read"), \
        ok, detail


def cases(rng):
    for compression in COMPRESSIONS:
        for width, height, rows in SHAPES:
            contents = {"noise": noise(rng, height, width), "doc": document(rng, height, width)}
            if compression == "CCITTFAX3":  # the control: one shape is enough
                contents.pop("doc")
                if width != 257:
                    continue
            for content, ink in contents.items():
                for photometric in PHOTOMETRICS:
                    # GDAL takes the stored bits: white paper is 1 for MinIsBlack,
                    # 0 for MinIsWhite.
                    pixels = ink if content == "noise" else (
                        1 - ink if photometric == "MINISBLACK" else ink)
                    yield ("%s_%s_w%d_%s" % (compression, photometric[5:].lower(), width, content),
                           pixels, compression, photometric, rows)


def main():
    tool, verbose = arguments(__doc__)
    if shutil.which("tiffcp") is None or shutil.which("tiffinfo") is None:
        print("skipped: tiffcp or tiffinfo is not installed")
        return 77
    results = []
    with tempfile.TemporaryDirectory(prefix="ktif_fax_") as directory:
        for name, pixels, compression, photometric, rows in cases(np.random.default_rng(1728)):
            path = write(directory, name, pixels, compression, photometric, rows)
            results += check(tool, path, name, pixels, compression, photometric)
            lsb, detail = flipped(path, compression)
            if lsb is None:
                results.append((name + "_lsb tiffcp", False, detail))
            else:
                copied = gdal_read(path)[0].reshape(pixels.shape)
                results += check(tool, lsb, name + "_lsb", copied, compression, photometric)
    return summary(results, verbose)


if __name__ == "__main__":
    sys.exit(main())
