// Map info and calibration: an image's tie point and pixel scale (north-up)
// or model transformation (rotated) straight into the host's map info and
// calibration records, and those records back into the tags and GeoKeys of
// an image being written. Nothing here goes through Kgtf_GeoTIFFParams.
#include "map_info.h"

#include <cmath>
#include <cstring>
#include <initializer_list>
#include <memory>

#include "citation.h"
#include "geocoding.h"
#include "georeferencing.h"
#include "kcvt.h"
#include "kerr_frame.h"
#include "kerr_guard.h"
#include "kgtf_internal.h"
#include "kmsc.h"
#include "kstr.h"
#include "tables.h"
#include "tiff_diagnostics.h"

#include <xtiffio.h>

namespace {

struct MapInfoFree {
  void operator()(Kprj_MapInfo* info) const { kprj_MapInfoFree(&info, nullptr); }
};
struct XFormFree {
  void operator()(Kxfr_XForm* xform) const { kxfr_XFormFree(&xform, nullptr); }
};
struct CalibrationFree {
  void operator()(Kgtf_Calibration* calibration) const { kgtf_CalibrationFree(&calibration); }
};
struct HeapTextFree {
  void operator()(char* text) const { kmsc_HeapFree(text); }
};
using MapInfoPtr = std::unique_ptr<Kprj_MapInfo, MapInfoFree>;
using XFormPtr = std::unique_ptr<Kxfr_XForm, XFormFree>;
using CalibrationPtr = std::unique_ptr<Kgtf_Calibration, CalibrationFree>;
using HeapTextPtr = std::unique_ptr<char, HeapTextFree>;

bool isGeographic(const Kprj_ProParameters* pro) {
  return pro != nullptr && pro->type == KPRJ_PROJECTION_INTERNAL && pro->number == 0;
}

// The index of the last pixel along an axis of `count` pixels; an axis
// without pixels is measured like one of a single pixel.
double lastIndex(uint32_t count) {
  return count > 0 ? static_cast<double>(count) - 1.0 : 0.0;
}

void imageSizeGet(TIFF* tif, uint32_t* width, uint32_t* height) {
  *width = *height = 0;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, width);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, height);
}

uint16_t shortKeyOr(GTIF* gtif, geokey_t key, uint16_t fallback) {
  uint16_t value = 0;
  return GeoKeyShortGet(gtif, key, &value) ? value : fallback;
}

// What the tags and keys of one image give, owned until handed out.
struct MapInfoRead {
  MapInfoPtr mapInfo;
  ProPtr pro;
  CalibrationPtr calibration;
};

// The map info of one tie point and a pixel scale. False after a report.
bool mapInfoMake(KerrFrame& frame, TIFF* tif, const double* tie, const double* scale,
                 int rasterType, MapInfoRead& read) {
  double sx = scale[0];
  double sy = scale[1];
  GeoTIFFPixelScaleRepair(tif, &sx, &sy, frame);
  read.mapInfo.reset(kprj_MapInfoCreate(frame.slot()));
  if (!read.mapInfo) return frame.calleeFailed(__LINE__, "kprj_MapInfoCreate"), false;

  // Pixel-is-area puts the tie point's raster position on pixel corners, so
  // the centre of pixel (0, 0) is half a pixel in.
  const double shift = rasterType == KGTF_RASTER_PIXEL_IS_AREA ? 0.5 : 0.0;
  const double left = tie[3] - (tie[0] - shift) * sx;
  const double top = tie[4] + (tie[1] - shift) * sy;
  uint32_t width = 0, height = 0;
  imageSizeGet(tif, &width, &height);
  Kprj_MapInfo* info = read.mapInfo.get();
  if (!kprj_MapInfoUpperLeftCenterSet(info, left, top, frame.slot()) ||
      !kprj_MapInfoLowerRightCenterSet(info, left + lastIndex(width) * sx,
                                       top - lastIndex(height) * sy, frame.slot()))
    return frame.fail(__LINE__, "Could not set map coordinates"), false;
  if (!kprj_MapInfoPixelSizeSet(info, std::fabs(sx), std::fabs(sy), frame.slot()))
    return frame.fail(__LINE__, "Could not set map info pixel size"), false;
  return true;
}

// The coordinate system the keys name, by model type.
void projectionRead(KerrFrame& frame, GTIF* gtif, uint16_t modelType, MapInfoRead& read) {
  if (modelType == ModelTypeProjected) {
    geocodingContain(frame, [&] { read.pro.reset(kgtf_PCSRead(gtif, frame.slot())); });
    if (frame.hasReport()) {
      read.pro.reset();
      frame.fail(__LINE__, "Unable to obtain projected coordinate system");
    }
  } else if (modelType == ModelTypeGeographic || modelType == ModelTypeGeocentric) {
    read.pro.reset(kgtf_ProParametersCreate(0, 0));
    if (!read.pro) return frame.calleeFailed(__LINE__, "kgtf_ProParametersCreate");
    int found = 0;
    geocodingContain(frame, [&] { found = kgtf_GCSRead(gtif, read.pro.get(), frame.slot()); });
    if (frame.hasReport()) {
      read.pro.reset();
      frame.fail(__LINE__, "Unable to obtain geographic coordinate system");
    } else if (!found) {
      read.pro.reset();
    }
  }
}

// Everything up to the hand-out; returns at the first report.
void tagsRead(KerrFrame& frame, TIFF* tif, GTIF* gtif, MapInfoRead& read) {
  uint32_t tieValues = 0, scaleCount = 0, matrixCount = 0;
  double *tiePoints = nullptr, *scale = nullptr, *matrix = nullptr;
  GeoTIFFDoubleTagGet(tif, TIFFTAG_GEOTIEPOINTS, &tieValues, &tiePoints);
  const uint32_t tieCount = tiePoints != nullptr ? tieValues / 6 : 0;
  const bool haveScale = GeoTIFFDoubleTagGet(tif, TIFFTAG_GEOPIXELSCALE, &scaleCount, &scale);
  if (haveScale && (scaleCount != 3 || scale == nullptr))
    return frame.fail(__LINE__, "Bad pixel scale count");
  const bool haveMatrix = GeoTIFFDoubleTagGet(tif, TIFFTAG_GEOTRANSMATRIX, &matrixCount, &matrix);
  if (haveMatrix && (matrixCount != 16 || matrix == nullptr))
    return frame.fail(__LINE__, "Bad model transform count");

  const int rasterType = shortKeyOr(gtif, GTRasterTypeGeoKey, KGTF_RASTER_PIXEL_IS_AREA);
  const uint16_t modelType = shortKeyOr(gtif, GTModelTypeGeoKey, ModelTypeProjected);

  if (tieCount == 1 && haveScale) {
    if (!mapInfoMake(frame, tif, tiePoints, scale, rasterType, read)) return;
  } else if (haveMatrix) {
    read.calibration.reset(kgtf_CalibrationRead(tif, rasterType, matrix, frame.slot()));
    if (frame.hasReport()) return frame.fail(__LINE__, "Error creating calibration node");
  } else {
    return;
  }
  projectionRead(frame, gtif, modelType, read);
}

// Names are a courtesy of the read: a failure to set them is shown, not
// passed on.
void namesSet(Kprj_MapInfo* mapInfo, const Kprj_ProParameters* pro, GTIF* gtif) {
  Kerr_Report* report = nullptr;
  MapInfoNamesSet(mapInfo, pro, gtif, &report);
  if (report == nullptr) return;
  kerr_PrintErrorReportNoVSL(report);
  kerr_DeleteErrorReportEx(&report);
}

void paramsGet(KerrFrame& frame, TIFF* tif, Kprj_MapInfo** mapInfo, Kprj_ProParameters** pro,
               Kgtf_Calibration** calibration) {
  GtifPtr gtif(ktifGtifNew(tif));
  if (!gtif) return;
  MapInfoRead read;
  tagsRead(frame, tif, gtif.get(), read);
  GeoTIFFLastWarnedFileSet(TIFFFileName(tif));

  // Handed out whatever was reported after they were made; an output the
  // caller did not ask for (a null pointer) is not made at all.
  if (read.mapInfo) {
    namesSet(read.mapInfo.get(), read.pro.get(), gtif.get());
    if (read.pro && pro != nullptr) *pro = read.pro.release();
    if (mapInfo != nullptr) *mapInfo = read.mapInfo.release();
  } else if (read.calibration) {
    namesSet(read.calibration->mapInfo, read.pro.get(), gtif.get());
    read.calibration->pro = read.pro.release();
    if (calibration != nullptr) *calibration = read.calibration.release();
  }
}

// The units of the GeoKeys the coordinates go out in. An internal projection
// writes keys whose units are its own, so its name cannot make them the
// caller's (a map info still named "Unknown" beside a UTM record would put
// feet under keys that say meters).
const char* geoKeyUnitsForWrite(const Kprj_ProParameters* pro, const char* projectionName,
                                const char* units) {
  const bool ownKeys = pro != nullptr && pro->type == KPRJ_PROJECTION_INTERNAL;
  return GeoTIFFUnitsNameGet(pro, ownKeys ? nullptr : projectionName, units);
}

// Converts one value between unit names; false after a report.
bool unitsConvert(KerrFrame& frame, double* value, const char* from, const char* to) {
  if (kcvt_UnitsConvertByName(value, from, value, to, 1, frame.slot())) return true;
  frame.calleeFailed(__LINE__, "kcvt_UnitsConvertByName");
  return false;
}

// The tie point and pixel scale of a map info, in the units of the GeoKeys.
bool mapInfoTagsSet(KerrFrame& frame, TIFF* tif, const Kprj_MapInfo* info,
                    const char* geotiffUnits) {
  double left = info->upperLeftCenter.x, top = info->upperLeftCenter.y;
  double sx = info->pixelSize.x, sy = info->pixelSize.y;
  for (double* value : {&left, &top, &sx, &sy})
    if (!unitsConvert(frame, value, info->units, geotiffUnits)) return false;
  // The signs say which way the map runs, taken from the corners as given.
  sx = std::fabs(sx);
  sy = std::fabs(sy);
  if (info->lowerRightCenter.x <= info->upperLeftCenter.x) sx = -sx;
  if (info->lowerRightCenter.y > info->upperLeftCenter.y) sy = -sy;
  // Raster (0.5, 0.5) is the centre of the first pixel in pixel-is-area space.
  double tiePoint[6] = {0.5, 0.5, 0.0, left, top, 0.0};
  double scale[3] = {sx, sy, 0.0};
  if (!TIFFSetField(tif, TIFFTAG_GEOTIEPOINTS, 6, tiePoint) ||
      !TIFFSetField(tif, TIFFTAG_GEOPIXELSCALE, 3, scale))
    return frame.fail(__LINE__, "TIFFSetField failed"), false;
  return true;
}

void keysWrite(KerrFrame& frame, GTIF* gtif, const char* unitsName, const char* projectionName,
               const Kprj_ProParameters* pro) {
  kgtf_ProParametersWrite(gtif, unitsName, projectionName, pro, frame.slot());
  if (frame.hasReport()) frame.fail(__LINE__, "Error writing projection parameters");
}

void setMapInfo(KerrFrame& frame, TIFF* tif, const Kprj_MapInfo* info,
                const Kprj_ProParameters* pro) {
  GtifPtr gtif(ktifGtifNew(tif));
  if (!gtif) return;
  shortKeySet(gtif.get(), GTRasterTypeGeoKey, KGTF_RASTER_PIXEL_IS_AREA);
  shortKeySet(gtif.get(), GTModelTypeGeoKey, ModelTypeForProjection(pro, info->proName));
  const char* geotiffUnits = geoKeyUnitsForWrite(pro, info->proName, info->units);
  if (mapInfoTagsSet(frame, tif, info, geotiffUnits))
    keysWrite(frame, gtif.get(), info->units, info->proName, pro);
  GTIFWriteKeys(gtif.get());
}

void setCalibration(KerrFrame& frame, TIFF* tif, const Kxfr_XForm* pixelToMap,
                    const Kprj_ProParameters* pro, const char* projectionName,
                    const char* unitsName) {
  XFormPtr shift(kxfr_XFormTranslate(nullptr, -0.5, -0.5, frame.slot()));
  if (!shift) return frame.calleeFailed(__LINE__, "kxfr_XFormTranslate");
  const char* geotiffUnits = geoKeyUnitsForWrite(pro, projectionName, unitsName);
  XFormPtr units(kxfr_XFormCreateFromUnits(0, unitsName, geotiffUnits, frame.slot()));
  if (!units) return frame.calleeFailed(__LINE__, "kxfr_XFormCreateFromUnits");
  // Host pixel centres to pixel-is-area raster space, then into the units of
  // the GeoKeys.
  XFormPtr area(kxfr_XFormCompose(pixelToMap, shift.get(), 0, frame.slot()));
  if (!area) return frame.calleeFailed(__LINE__, "kxfr_XFormCompose");
  XFormPtr model(kxfr_XFormCompose(units.get(), area.get(), 0, frame.slot()));
  if (!model) return frame.calleeFailed(__LINE__, "kxfr_XFormCompose");

  double k[6] = {0, 0, 0, 0, 0, 0};
  if (!kxfr_XFormAffineExtractIfPresent(model.get(), k, frame.slot())) {
    if (frame.hasReport()) return frame.calleeFailed(__LINE__, "kxfr_XFormAffineExtractIfPresent");
    return frame.warn(__LINE__, KERR_WARNING,
                      "Calibration transform is not affine; ignoring GeoTIFF");
  }

  GtifPtr gtif(ktifGtifNew(tif));
  if (!gtif) return;
  shortKeySet(gtif.get(), GTRasterTypeGeoKey, KGTF_RASTER_PIXEL_IS_AREA);
  shortKeySet(gtif.get(), GTModelTypeGeoKey, ModelTypeForProjection(pro, projectionName));
  double matrix[16] = {k[0], k[1], 0.0, k[2], k[3], k[4], 0.0, k[5],
                       0.0,  0.0,  0.0, 0.0,  0.0,  0.0,  0.0, 1.0};
  if (TIFFSetField(tif, TIFFTAG_GEOTRANSMATRIX, 16, matrix))
    keysWrite(frame, gtif.get(), unitsName, projectionName, pro);
  else
    frame.fail(__LINE__, "TIFFSetField failed");
  GTIFWriteKeys(gtif.get());
}

}  // namespace

Kgtf_Calibration* kgtf_CalibrationRead(TIFF* tif, int rasterType, const double* matrix,
                                       Kerr_Report** err) {
  static const char* kLabel = "kgtf_CalibrationRead";
  KerrFrame frame(kLabel, err, KERR_PRINT_NOVSL);
  if (tif == nullptr || matrix == nullptr) return frame.fail(__LINE__, "Args"), nullptr;
  auto* calibration = static_cast<Kgtf_Calibration*>(kmsc_HeapMalloc(sizeof(Kgtf_Calibration)));
  if (calibration == nullptr) return frame.fail(__LINE__, "Out of memory"), nullptr;
  calibration->mapInfo = kprj_MapInfoCreate(frame.slot());
  if (calibration->mapInfo == nullptr)
    return frame.fail(__LINE__, "Could not create map info structure"), calibration;

  const double* m = matrix;
  double c = m[3], f = m[7];
  if (rasterType == KGTF_RASTER_PIXEL_IS_AREA) {
    c += 0.5 * (m[0] + m[1]);
    f += 0.5 * (m[4] + m[5]);
  }
  XFormPtr pixelToMap(kxfr_XFormCreateUsingCoeffs(m[0], m[1], c, m[4], m[5], f, frame.slot()));
  if (!pixelToMap)
    return frame.fail(__LINE__, "Error computing calibration transform"), calibration;
  calibration->mapToPixel = kxfr_XFormInvert(pixelToMap.get(), 0, frame.slot());
  if (calibration->mapToPixel == nullptr)
    return frame.calleeFailed(__LINE__, "kxfr_XFormInvert"), calibration;

  uint32_t width = 0, height = 0;
  imageSizeGet(tif, &width, &height);
  double x[2] = {0.0, lastIndex(width)}, y[2] = {0.0, lastIndex(height)};
  if (!kxfr_Transform(pixelToMap.get(), x, y, 2, frame.slot()))
    return frame.fail(__LINE__, "Could not transform map corner coordinates"), calibration;
  Kprj_MapInfo* info = calibration->mapInfo;
  if (!kprj_MapInfoUpperLeftCenterSet(info, x[0], y[0], frame.slot()) ||
      !kprj_MapInfoLowerRightCenterSet(info, x[1], y[1], frame.slot()))
    return frame.fail(__LINE__, "Could not set map coordinates"), calibration;
  // A single column or row has no second centre to measure by: the
  // transform's own step along that axis stands in.
  const double sizeX = width > 1 ? (x[1] - x[0]) / lastIndex(width) : m[0];
  const double sizeY = height > 1 ? (y[1] - y[0]) / lastIndex(height) : m[5];
  if (!kprj_MapInfoPixelSizeSet(info, sizeX, sizeY, frame.slot()))
    return frame.fail(__LINE__, "Could not set map info pixel size"), calibration;
  return calibration;
}

void MapInfoNamesSet(Kprj_MapInfo* mapInfo, const Kprj_ProParameters* pro, GTIF* gtif,
                     Kerr_Report** err) {
  static const char* kLabel = "MapInfoNamesSet";
  KerrFrame frame(kLabel, err, KERR_PRINT_NOVSL);
  if (mapInfo == nullptr) return;
  if (pro != nullptr) {
    HeapTextPtr units(GeoKeyUnitsNameForProjection(pro, gtif));
    if (units) kprj_MapInfoUnitsSet(mapInfo, units.get(), nullptr);
    if (pro->name != nullptr) kprj_MapInfoProjectionNameSet(mapInfo, pro->name, nullptr);
    return;
  }
  char *projection = nullptr, *hostUnits = nullptr, *geotiffUnits = nullptr;
  if (gtif != nullptr &&
      !CitationValuesGet(gtif, "\n", frame, &projection, &hostUnits, &geotiffUnits))
    return;
  HeapTextPtr owned[] = {HeapTextPtr(projection), HeapTextPtr(hostUnits),
                         HeapTextPtr(geotiffUnits)};
  // The coordinates in the file are in the GeoTIFF units; the host's own
  // units are named only where the citation has no GeoTIFF units.
  const char* units = !CitationNoValue(geotiffUnits) ? geotiffUnits
                      : !CitationNoValue(hostUnits)  ? hostUnits
                                                     : kprj_UnitsNameOther();
  kprj_MapInfoProjectionNameSet(
      mapInfo, !CitationNoValue(projection) ? projection : kprj_ProjectionNameUnknown(), nullptr);
  kprj_MapInfoUnitsSet(mapInfo, units, nullptr);
}

char* GeoKeyUnitsNameForProjection(const Kprj_ProParameters* pro, GTIF* gtif) {
  const bool geographic = isGeographic(pro);
  const char* name = nullptr;
  uint16_t code = 0;
  if (gtif != nullptr &&
      GeoKeyShortGet(gtif, geographic ? GeogAngularUnitsGeoKey : ProjLinearUnitsGeoKey, &code))
    name = geographic ? angularUnitsNameByCode(code) : linearUnitsNameByCode(code);
  // Without a key the writers' own choice of units for the projection holds.
  if (name == nullptr) name = GeoTIFFUnitsNameGet(pro, nullptr, nullptr);
  return kstr_Duplicate(name);
}

int ModelTypeForProjection(const Kprj_ProParameters* pro, const char* projectionName) {
  if (pro != nullptr) return isGeographic(pro) ? ModelTypeGeographic : ModelTypeProjected;
  const char* geographic = projectionNameByNumber(0);
  return projectionName != nullptr && std::strcmp(projectionName, geographic) == 0
             ? ModelTypeGeographic
             : ModelTypeProjected;
}

extern "C" {

void kgtf_CalibrationFree(Kgtf_Calibration** calibration) {
  kerrGuardVoid(__func__, nullptr, [&] {
    if (calibration == nullptr || *calibration == nullptr) return;
    kxfr_XFormFree(&(*calibration)->mapToPixel, nullptr);
    kprj_MapInfoFree(&(*calibration)->mapInfo, nullptr);
    kprj_ProParametersFree(&(*calibration)->pro, nullptr);
    kmsc_HeapFree(*calibration);
    *calibration = nullptr;
  });
}

void kgtf_GeoTiffParamsGet(TIFF* tif, Kprj_MapInfo** mapInfo, Kprj_ProParameters** pro,
                           Kgtf_Calibration** calibration, Kerr_Report** err) {
  kerrGuardVoid(__func__, err, [&] {
    static const char* kLabel = "kgtf_GeoTiffParamsGet";
    KerrFrame frame(kLabel, err, KERR_PRINT_NOVSL);
    if (tif == nullptr) return frame.fail(__LINE__, "Args");
    paramsGet(frame, tif, mapInfo, pro, calibration);
  });
}

void kgtf_GeoTiffParamsSetMapInfo(TIFF* tif, const Kprj_MapInfo* mapInfo,
                                  const Kprj_ProParameters* pro, Kerr_Report** err) {
  kerrGuardVoid(__func__, err, [&] {
    static const char* kLabel = "kgtf_GeoTiffParamsSetMapInfo";
    KerrFrame frame(kLabel, err, KERR_PRINT_NOVSL);
    if (mapInfo == nullptr) return;
    if (tif == nullptr) return frame.fail(__LINE__, "Args");
    setMapInfo(frame, tif, mapInfo, pro);
  });
}

void kgtf_GeoTiffParamsSetCalibration(TIFF* tif, const Kxfr_XForm* pixelToMap,
                                      const Kprj_ProParameters* pro, const char* projectionName,
                                      const char* unitsName, Kerr_Report** err) {
  kerrGuardVoid(__func__, err, [&] {
    static const char* kLabel = "kgtf_GeoTiffParamsSetCalibration";
    KerrFrame frame(kLabel, err, KERR_PRINT_NOVSL);
    if (tif == nullptr || pixelToMap == nullptr) return frame.fail(__LINE__, "Args");
    setCalibration(frame, tif, pixelToMap, pro, projectionName, unitsName);
  });
}

int32_t getRasterSpace(const Kgtf_GeoTIFFParams* params) {
  return params != nullptr ? params->rasterType : KGTF_RASTER_PIXEL_IS_AREA;
}

}  // extern "C"
