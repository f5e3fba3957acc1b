// The raster-to-model transform of a GeoTIFF image: tie point and pixel
// scale, model transformation, or a transform fitted to control points.

#include "georeferencing.h"
#include "kerr_guard.h"

#include <xtiffio.h>

#include <cstring>

#include "citation.h"
#include "geocoding.h"
#include "kerr_frame.h"
#include "kfga.h"
#include "kgda.h"
#include "kmod/kmod.h"
#include "kmsc.h"
#include "kpmg.h"
#include "kstr.h"
#include "ktif_prefs.h"

namespace {

// File name of the image of the previous call; the pixel-scale warnings are
// shown once per file, not once per image of a multi-image file.
char* lastWarnedFile = nullptr;

void lastWarnedFileReplace(const char* name) {
  kmsc_HeapFree(lastWarnedFile);
  lastWarnedFile = name ? kstr_Duplicate(name) : nullptr;
}

bool shouldWarn(const char* name) {
  if (!lastWarnedFile) return true;
  return name && std::strcmp(name, lastWarnedFile) != 0;
}

struct PreferenceText {
  const KtifPreference& pref;
  char* value;
  explicit PreferenceText(KtifPrefId id) : pref(ktifPreferences[id]), value(nullptr) {}
  ~PreferenceText() {
    if (value != pref.defaultText) kmsc_HeapFree(value);
  }
  bool read(Kerr_Report** err) {
    value = kpmg_GetEnumPreference(pref.group, pref.key, pref.defaultText, pref.values, err);
    // A value it does not accept is shown, and the default used.
    if (err && *err && kerr_ReportSeverity(*err) < KERR_ERROR) {
      kerr_PrintErrorReport(*err);
      kerr_DeleteErrorReportEx(err);
    }
    return !(err && *err);
  }
  bool is(const char* text) const { return value && kstr_Eqic(value, text); }
};

bool numberPreference(KtifPrefId id, double* value, Kerr_Report** err) {
  const KtifPreference& pref = ktifPreferences[id];
  *value = kpmg_GetNumberPreference(pref.group, pref.key, pref.defaultNumber, err);
  return !(err && *err);
}

// The temporaries of a fit, released on every way out.
struct FitScratch {
  KgdaBaseData* raster = nullptr;
  KgdaBaseData* map = nullptr;
  KgdaBaseData* residuals = nullptr;
  KgdaBaseData* rms = nullptr;
  Kfga_Polynomial* forward = nullptr;
  Kfga_Polynomial* inverse = nullptr;
  Kmod_RubberSheet* model = nullptr;
  ~FitScratch() {
    kgda_BaseDataDelete(&raster, nullptr);
    kgda_BaseDataDelete(&map, nullptr);
    kgda_BaseDataDelete(&residuals, nullptr);
    kgda_BaseDataDelete(&rms, nullptr);
    kfga_PolynomialDelete(&forward, nullptr);
    kfga_PolynomialDelete(&inverse, nullptr);
    kmod_RubberSheetingDelete(&model, nullptr);
  }
};

void georeferencingGet(TIFF* tif, GTIF* gtif, int* rasterType, Kxfr_XForm** xform,
                       KerrFrame& frame) {
  *xform = nullptr;

  uint32_t tieCount = 0;
  double* tiePoints = nullptr;
  uint32_t valueCount = 0;
  if (GeoTIFFDoubleTagGet(tif, TIFFTAG_GEOTIEPOINTS, &valueCount, &tiePoints)) {
    tieCount = valueCount / 6;
    if (tieCount > 0 && !tiePoints) return frame.fail(__LINE__, "Bad tie point array");
  }

  double* scale = nullptr;
  uint32_t scaleCount = 0;
  bool haveScale = GeoTIFFDoubleTagGet(tif, TIFFTAG_GEOPIXELSCALE, &scaleCount, &scale);
  if (haveScale && (scaleCount != 3 || !scale))
    return frame.fail(__LINE__, "Bad pixel scale or pixel scale count");

  bool scaleUsable =
      haveScale && tieCount > 0 && (tieCount < 3 || (scale[0] != 0.0 && scale[1] != 0.0));
  if (scaleUsable) {
    double sx = scale[0];
    double sy = scale[1];
    GeoTIFFPixelScaleRepair(tif, &sx, &sy, frame);
    const double* tie = tiePoints;
    *xform = kxfr_XFormCreateUsingCoeffs(sx, 0, tie[3] - tie[0] * sx, 0, -sy, tie[4] + tie[1] * sy,
                                         frame.slot());
    if (!*xform) return frame.calleeFailed(__LINE__, "kxfr_XFormCreateUsingCoeffs");
  } else {
    double* matrix = nullptr;
    uint32_t matrixCount = 0;
    if (GeoTIFFDoubleTagGet(tif, TIFFTAG_GEOTRANSMATRIX, &matrixCount, &matrix)) {
      // Any other count is a tag we cannot use; it is not worth a report.
      if (matrixCount == 16 && matrix) {
        *xform = kxfr_XFormCreateUsingCoeffs(matrix[0], matrix[1], matrix[3], matrix[4], matrix[5],
                                             matrix[7], frame.slot());
        if (!*xform) return frame.calleeFailed(__LINE__, "kxfr_XFormCreateUsingCoeffs");
      }
    } else {
      PreferenceText useGcps(KTIF_PREF_USE_GCPS);
      if (!useGcps.read(frame.slot()))
        return frame.calleeFailed(__LINE__, "kpmg_GetEnumPreference");
      if (useGcps.is("Yes") && tieCount >= 3) {
        ApproximateGeoreferencingXFormFromTiePoints(static_cast<int>(tieCount), tiePoints, xform,
                                                    frame.slot());
        if (frame.hasReport())
          return frame.calleeFailed(__LINE__, "ApproximateGeoreferencingXFormFromTiePoints");
      }
    }
  }

  if (*xform) {
    uint16_t type = 0;
    if (GeoKeyShortGet(gtif, GTRasterTypeGeoKey, &type)) {
      *rasterType = type;
    } else {
      frame.warn(__LINE__, 1, "Cannot locate GTRasterTypeGeoKey; assuming RasterPixelIsArea");
      *rasterType = KGTF_RASTER_PIXEL_IS_AREA;
    }
  }
}

}  // namespace

bool GeoTIFFDoubleTagGet(TIFF* tif, uint32_t tag, uint32_t* count, double** values) {
  *count = 0;
  *values = nullptr;
  const TIFFField* field = TIFFFindField(tif, tag, TIFF_ANY);
  if (!field || !TIFFFieldPassCount(field) || TIFFFieldDataType(field) != TIFF_DOUBLE) return false;
  if (TIFFFieldReadCount(field) == TIFF_VARIABLE2) {
    uint32_t n = 0;
    if (!TIFFGetField(tif, tag, &n, values)) return false;
    *count = n;
  } else {
    uint16_t n = 0;
    if (!TIFFGetField(tif, tag, &n, values)) return false;
    *count = n;
  }
  return true;
}

void GeoTIFFPixelScaleRepair(TIFF* tif, double* sx, double* sy, KerrFrame& frame) {
  bool warn = shouldWarn(TIFFFileName(tif));
  if (*sx == 0.0 && *sy != 0.0) {
    if (warn) frame.warn(__LINE__, 1, "Unusable GeoTIFF X pixel scale (0.0); assuming %lf", *sy);
    *sx = *sy;
  } else if (*sy == 0.0 && *sx != 0.0) {
    if (warn) frame.warn(__LINE__, 1, "Unusable GeoTIFF Y pixel scale (0.0); assuming %lf", *sx);
    *sy = *sx;
  } else if (*sx == 0.0 && *sy == 0.0) {
    if (warn) frame.warn(__LINE__, 1, "Unusable GeoTIFF pixel scales (0.0); assuming 1.0");
    *sx = *sy = 1.0;
  }
}

void GeoTIFFLastWarnedFileSet(const char* name) {
  lastWarnedFileReplace(name);
}

const char* GeoTIFFLastWarnedFileGet(void) {
  return lastWarnedFile;
}

void kgtf_GeoTIFFGeoreferencingGet(TIFF* tif, GTIF* gtif, int* rasterType, Kxfr_XForm** xform,
                                   Kerr_Report** err) {
  kerrGuardVoid(__func__, err, [&] {
    static const char* kLabel = "GeoTIFFGeoreferencingGet";
    KerrFrame frame(kLabel, err, KERR_PRINT_NOVSL);
    if (!tif || !xform || !rasterType) {
      if (xform) *xform = nullptr;
      return frame.fail(__LINE__, "Args");
    }
    geocodingContain(frame, [&] { georeferencingGet(tif, gtif, rasterType, xform, frame); });
    lastWarnedFileReplace(TIFFFileName(tif));
  });
}

void ApproximateGeoreferencingXFormFromTiePoints(int count, const double* tiePoints,
                                                 Kxfr_XForm** xform, Kerr_Report** err) {
  static const char* kLabel = "ApproximateGeoreferencingXFormFromTiePoints";
  KerrFrame frame(kLabel, err, KERR_PRINT_NOVSL);
  if (count < 3) return;
  if (!tiePoints || !xform || *xform) return frame.fail(__LINE__, "Args");

  PreferenceText geoModel(KTIF_PREF_GEO_MODEL);
  if (!geoModel.read(frame.slot())) return frame.calleeFailed(__LINE__, "kpmg_GetEnumPreference");

  FitScratch s;
  s.raster = kgda_BaseDataCreate(2, count, KMSC_PIXEL_F64, 2, 0, frame.slot());
  if (!s.raster) return frame.calleeFailed(__LINE__, "Kfga_MatrixCreate");
  s.map = kgda_BaseDataCreate(2, count, KMSC_PIXEL_F64, 2, 0, frame.slot());
  if (!s.map) return frame.calleeFailed(__LINE__, "Kfga_MatrixCreate");
  for (int i = 0; i < count; ++i) {
    const double* tie = tiePoints + static_cast<size_t>(i) * 6;
    kgda_BaseDataSet(s.raster, 0, i, tie[0]);
    kgda_BaseDataSet(s.raster, 1, i, tie[1]);
    kgda_BaseDataSet(s.map, 0, i, tie[3]);
    kgda_BaseDataSet(s.map, 1, i, tie[4]);
  }

  if (geoModel.is("Polynomial")) {
    double orderValue = 0;
    if (!numberPreference(KTIF_PREF_GEO_ORDER, &orderValue, frame.slot()))
      return frame.calleeFailed(__LINE__, "kpmg_GetNumberPreference");
    // Out-of-range orders (NaN, huge) are left for the polynomial to refuse.
    int32_t order =
        (orderValue >= -1e6 && orderValue <= 1e6) ? static_cast<int32_t>(orderValue) : -1;
    s.forward = kfga_BasePolynomialCreate(order, 2, 2, KMSC_PIXEL_F64, frame.slot());
    if (!s.forward) return frame.calleeFailed(__LINE__, "kfga_PolynomialCreate");
    s.inverse = kfga_BasePolynomialCreate(order, 2, 2, KMSC_PIXEL_F64, frame.slot());
    if (!s.inverse) return frame.calleeFailed(__LINE__, "kfga_PolynomialCreate");
    if (!kfga_DerivePolyCoefs(s.map, s.raster, s.forward, frame.slot()) ||
        !kfga_DerivePolyCoefs(s.raster, s.map, s.inverse, frame.slot()))
      return frame.calleeFailed(__LINE__, "kfga_DerivePolyCoefs");
    *xform = kxfr_XFormCreateFromPolyPair(s.forward, s.inverse, frame.slot());
    if (!*xform) return frame.calleeFailed(__LINE__, "kxfr_XFormCreateFromPolyPair");

    s.residuals = kgda_BaseDataCreate(2, count, KMSC_PIXEL_F64, 2, 0, frame.slot());
    if (!s.residuals) return frame.calleeFailed(__LINE__, "Kfga_MatrixCreate");
    s.rms = kgda_BaseDataCreate(2, 1, KMSC_PIXEL_F64, 2, 0, frame.slot());
    if (!s.rms) return frame.calleeFailed(__LINE__, "Kfga_MatrixCreate");
    double tolerance = 0;
    if (!numberPreference(KTIF_PREF_RP_REPROJTOLERANCE, &tolerance, frame.slot()))
      return frame.calleeFailed(__LINE__, "kpmg_GetNumberPreference");
    double total = tolerance + 1.0;
    if (!kfga_ComputePolyErrors(s.raster, s.map, s.forward, s.residuals, s.rms, &total,
                                frame.slot()))
      return frame.calleeFailed(__LINE__, "kfga_ComputePolyErrors");
    if (total > tolerance)
      kerr_MessageLog(0, "RMS error for this polynomial approximation is too high: %f.", total);
  } else {
    int32_t order = 0;
    if (geoModel.is("Low Order Rubber Sheeting"))
      order = 1;
    else if (geoModel.is("High Order Rubber Sheeting"))
      order = 5;
    if (order != 0) {
      s.model = kmod_RubberSheetingSolve(s.map, s.raster, order, frame.slot());
      if (!s.model) return frame.calleeFailed(__LINE__, "kmod_RubberSheetingSolve");
    }
    // An unknown model passes no model on; the transform maker refuses it.
    *xform = kxfr_XFormCreateFromTitleAndData(*xform, "Rubber Sheeting", s.model, frame.slot());
    if (!*xform) return frame.calleeFailed(__LINE__, "kxfr_XFormCreateFromTitleAndData");
  }
}
