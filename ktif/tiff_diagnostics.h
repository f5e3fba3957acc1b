/* Diagnostics of libtiff and libgeotiff for the files the library opens,
 * routed into host reports instead of standard error (internal).
 *
 * Every TIFF the library opens carries a small diagnostics record (through
 * libtiff's per-handle handlers and client info), which decides where each
 * message goes:
 * - warnings are shown as host reports (kerr_PrintErrorReport) labelled with
 *   libtiff's module and naming the file, each distinct text once per file;
 *   unknown private tags (GDAL's metadata tags, for example) come at the
 *   lowest severity, a notice, once per tag and file;
 * - errors always accompany a libtiff call that fails, which the library
 *   reports itself; the last error is kept and handed to that report as its
 *   cause (ktifTiffErrorTake), or named in the log line of a failed block.
 * libgeotiff's messages about a file's keys are shown at once, as warnings or
 * errors, with the GeoTIFF side's printer (the read does not fail on them).
 */
#ifndef KTIF_TIFF_DIAGNOSTICS_H
#define KTIF_TIFF_DIAGNOSTICS_H

#include <geotiff.h>
#include <tiffio.h>

#include "kerr.h"

/* Opens a TIFF with the GeoTIFF tags registered and the diagnostics routed;
 * null with a report (libtiff's error as its cause) on failure. */
TIFF* ktifTiffOpen(const char* path, const char* mode, Kerr_Report** err);
/* The same over the caller's file procedures (libtiff's client open), for a
 * file the library has open already: its warnings are dropped until
 * ktifTiffWarningsShow, since reading its directory again would repeat
 * them. `client` is handed to the procedures and stays the caller's. */
struct KtifTiffProcs {
  TIFFReadWriteProc read, write;
  TIFFSeekProc seek;
  TIFFCloseProc close;
  TIFFSizeProc size;
  TIFFMapFileProc map;
  TIFFUnmapFileProc unmap;
};
TIFF* ktifTiffClientOpen(const char* path, const char* mode, thandle_t client,
                         const KtifTiffProcs& procs, Kerr_Report** err);
void ktifTiffWarningsShow(TIFF* tiff);
/* Closes a TIFF opened by either and frees its diagnostics record. */
void ktifTiffClose(TIFF* tiff);
/* Moves the last error libtiff gave on `tiff` into the slot as a report
 * (chaining what the slot holds); false when there was none. */
bool ktifTiffErrorTake(TIFF* tiff, Kerr_Report** slot);
/* GTIFNew with libgeotiff's messages routed as reports. */
GTIF* ktifGtifNew(TIFF* tiff);

#endif
