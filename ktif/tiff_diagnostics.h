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
/* Closes a TIFF opened by ktifTiffOpen and frees its diagnostics record. */
void ktifTiffClose(TIFF* tiff);
/* Moves the last error libtiff gave on `tiff` into the slot as a report
 * (chaining what the slot holds); false when there was none. */
bool ktifTiffErrorTake(TIFF* tiff, Kerr_Report** slot);
/* GTIFNew with libgeotiff's messages routed as reports. */
GTIF* ktifGtifNew(TIFF* tiff);

#endif
