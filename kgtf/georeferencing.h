/* Reading the raster-to-model transform of a GeoTIFF image from its tie
 * points, pixel scale and model transformation tags, and fitting a transform
 * to control points when the image carries nothing else. */
#ifndef KGTF_GEOREFERENCING_H
#define KGTF_GEOREFERENCING_H

#include <geotiff.h>
#include <tiffio.h>

#include "kerr_frame.h"
#include "kgtf.h"

/* The transform of the image in GeoTIFF raster space (null when the image
 * has none) and, only when there is one, its raster type (1 area, 2 point).
 * Pixel-scale warnings are shown once per file name. The same function as
 * kgtf_GeoTIFFGeoreferencingGet. */
inline void GeoTIFFGeoreferencingGet(TIFF* tif, GTIF* gtif, int* rasterType, Kxfr_XForm** xform,
                                     Kerr_Report** err) {
  kgtf_GeoTIFFGeoreferencingGet(tif, gtif, rasterType, xform, err);
}

/* Stores an affine raster-to-model transform (GeoTIFF raster space, GeoKey
 * units) in the current directory of a TIFF being written: GTRasterTypeGeoKey
 * in `gtif`, then a tie point at raster (0, 0) with a pixel scale when the
 * transform has no rotation or shear, else the 4 x 4 ModelTransformationTag.
 * A transform without an affine form is refused before anything is written.
 * The caller writes the keys (GTIFWriteKeys). Returns 1, or 0 with a report;
 * what was set before a failure stays set. */
int GeoTIFFGeoreferencingSet(TIFF* tif, GTIF* gtif, int rasterType, const Kxfr_XForm* xform,
                             Kerr_Report** err);

/* Fits a transform to `count` tie points of six doubles (I, J, K, X, Y, Z)
 * under the "geo_model" and "geo_order" preferences. *xform must be null on
 * entry. Fewer than 3 tie points: nothing is done. On a failure late in the
 * fit a transform already made stays in *xform. */
void ApproximateGeoreferencingXFormFromTiePoints(int count, const double* tiePoints,
                                                 Kxfr_XForm** xform, Kerr_Report** err);

/* A double array tag with its value count (0 and null when absent). The
 * count's width depends on how the tag is registered (a file opened without
 * the GeoTIFF tag extender has anonymous fields with 32-bit counts and the
 * file's own data type), so the field description decides; anything but
 * doubles counts as absent. Returns false when the tag is absent. */
bool GeoTIFFDoubleTagGet(TIFF* tif, uint32_t tag, uint32_t* count, double** values);

/* Makes a pixel scale usable: a zero scale takes the other one, two zeros
 * become 1.0. Each repair is shown as a warning under the frame's label,
 * unless the image's file is the last one warned about. */
void GeoTIFFPixelScaleRepair(TIFF* tif, double* sx, double* sy, KerrFrame& frame);

/* The file name of the image of the last georeferencing or map-info read
 * (null before the first), which keeps the pixel-scale warnings to one per
 * file. Set
 * replaces it with a copy (null forgets it). */
const char* GeoTIFFLastWarnedFileGet(void);
void GeoTIFFLastWarnedFileSet(const char* name);

#endif
