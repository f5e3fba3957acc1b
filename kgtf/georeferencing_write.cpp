// Storing a raster-to-model transform in a TIFF image being written: a tie
// point with a pixel scale when the transform is axis-aligned, the full model
// transformation otherwise, and the raster type key it refers to.
#include "georeferencing.h"

#include <geotiffio.h>
#include <xtiffio.h>

#include "kerr_frame.h"
#include "kerr_guard.h"

int GeoTIFFGeoreferencingSet(TIFF* tif, GTIF* gtif, int rasterType, const Kxfr_XForm* xform,
                             Kerr_Report** err) {
  static const char* kLabel = "GeoTIFFGeoreferencingSet";
  KerrFrame frame(kLabel, err, KERR_PRINT_NOVSL);
  if (tif == nullptr || gtif == nullptr) return frame.fail(__LINE__, "Args"), 0;

  // a, b, c, d, e, f: X = a*column + b*row + c, Y = d*column + e*row + f.
  double m[6] = {0, 0, 0, 0, 0, 0};
  int affine = kxfr_XFormAffineExtractIfPresentX(xform, m, 1, frame.slot());
  if (frame.hasReport()) return frame.calleeFailed(__LINE__, "kxfr_XFormAffineExtractIfPresent"), 0;
  if (affine == 0)
    return frame.fail(__LINE__, "Raster to map model transform is not affine; ignoring GeoTIFF"), 0;

  if (!GTIFKeySet(gtif, GTRasterTypeGeoKey, TYPE_SHORT, 1, rasterType))
    return frame.fail(__LINE__, "GTIFKeySet failed"), 0;

  if (m[1] == 0.0 && m[3] == 0.0) {
    // The smallest form readers everywhere understand. libtiff refuses these
    // only for a handle without the GeoTIFF tags, which the caller would
    // already have seen fail on the key directory.
    double tiePoint[6] = {0.0, 0.0, 0.0, m[2], m[5], 0.0};
    double scale[3] = {m[0], -m[4], 0.0};
    TIFFSetField(tif, TIFFTAG_GEOTIEPOINTS, 6, tiePoint);
    TIFFSetField(tif, TIFFTAG_GEOPIXELSCALE, 3, scale);
    return 1;
  }
  double matrix[16] = {m[0], m[1], 0.0, m[2], m[3], m[4], 0.0, m[5],
                       0.0,  0.0,  0.0, 0.0,  0.0,  0.0,  0.0, 1.0};
  if (!TIFFSetField(tif, TIFFTAG_GEOTRANSMATRIX, 16, matrix))
    return frame.fail(__LINE__, "TIFFSetField failed"), 0;
  return 1;
}

extern "C" void kgtf_GeoTIFFGeoreferencingSet(TIFF* tif, GTIF* gtif, int rasterType,
                                              const Kxfr_XForm* xform, Kerr_Report** err) {
  kerrGuardVoid(__func__, err,
                [&] { GeoTIFFGeoreferencingSet(tif, gtif, rasterType, xform, err); });
}
