// What `ktif info` shows of an image's older georeferencing route and its
// metadata keys: the map info or calibration, the no-data values, the
// vertical reference and the image metadata, as the library's getters give
// them. A getter's report goes to stderr; the output then shows what it gave.
#include <tiffio.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>

#include "commands.h"
#include "kgtf.h"
#include "kmsc.h"
#include "kprj.h"

namespace {

using Json = nlohmann::ordered_json;

void reportShow(Kerr_Report** err) {
  if (*err != nullptr) kerr_PrintErrorReportNoVSL(*err);
  kerr_DeleteErrorReportEx(err);
}

Json text(const char* value) {
  return value != nullptr ? Json(value) : Json(nullptr);
}

Json pair(const Kprj_Coordinate& c) {
  return Json::array({c.x, c.y});
}

Json mapInfoJson(const Kprj_MapInfo* m) {
  if (m == nullptr) return nullptr;
  return {{"projectionName", text(m->proName)},
          {"upperLeftCenter", pair(m->upperLeftCenter)},
          {"lowerRightCenter", pair(m->lowerRightCenter)},
          {"pixelSize", pair(m->pixelSize)},
          {"units", text(m->units)}};
}

Json elevationJson(TIFF* tif) {
  _kprj_ElevationInfo* info = nullptr;
  Kerr_Report* err = nullptr;
  kgtf_GetElevationInfo(tif, &info, &err);
  reportShow(&err);
  if (info == nullptr) return nullptr;
  const bool narrow = info->textForm == KPRJ_TEXT_NARROW;
  Json out = {{"spheroid", text(narrow ? info->spheroidName.narrow : nullptr)},
              {"datum", text(narrow ? info->datumName.narrow : nullptr)},
              {"units", text(narrow ? info->unitsName.narrow : nullptr)}};
  kprj_ElevationInfoFree(&info, nullptr);
  return out;
}

// Null when the image has none of the metadata keys.
Json imageMetadataJson(TIFF* tif) {
  Kmsc_ImageMetadata* m = nullptr;
  Kerr_Report* err = nullptr;
  kgtf_DODImageMetadataGet(tif, &m, &err);
  reportShow(&err);
  if (m == nullptr) return nullptr;
  const bool dated = m->year[0] != '\0' || m->month[0] != '\0' || m->day[0] != '\0';
  const bool timed = m->hour[0] != '\0' || m->minute[0] != '\0' || m->second[0] != '\0';
  Json out = nullptr;
  if (m->classification != nullptr || m->description != nullptr || dated || timed)
    out = {
        {"classification", text(m->classification)},
        {"description", text(m->description)},
        {"date", dated ? Json(std::string(m->year) + "-" + m->month + "-" + m->day) : nullptr},
        {"time", timed ? Json(std::string(m->hour) + ":" + m->minute + ":" + m->second) : nullptr},
        {"status", text(m->status)}};
  kmsc_ImageMetadataFree(&m);
  return out;
}

Json gdalNoDataJson(TIFF* tif) {
  // libtiff registers the tag with a count before the text, 16 or 32 bits
  // wide by its version.
  const TIFFField* field = TIFFFindField(tif, TIFFTAG_GDAL_NODATA, TIFF_ANY);
  if (field == nullptr) return nullptr;
  const char* value = nullptr;
  uint16_t count16 = 0;
  uint32_t count32 = 0;
  int got = 0;
  if (!TIFFFieldPassCount(field))
    got = TIFFGetField(tif, TIFFTAG_GDAL_NODATA, &value);
  else if (TIFFFieldSetGetCountSize(field) == 2)
    got = TIFFGetField(tif, TIFFTAG_GDAL_NODATA, &count16, &value);
  else
    got = TIFFGetField(tif, TIFFTAG_GDAL_NODATA, &count32, &value);
  if (got != 1 || value == nullptr) return nullptr;
  const size_t count = count16 != 0 ? count16 : count32 != 0 ? count32 : SIZE_MAX;
  return std::string(value, strnlen(value, count));
}

void mapInfoPrint(const char* label, const Json& m) {
  if (m.is_null()) return;
  auto point = [](const Json& p) {
    return "(" + numberText(p[0].get<double>()) + ", " + numberText(p[1].get<double>()) + ")";
  };
  std::printf("%-14s%s in %s; upper-left centre %s, lower-right centre %s, pixel %s\n", label,
              m["projectionName"].is_null() ? "?" : m["projectionName"].get<std::string>().c_str(),
              m["units"].is_null() ? "?" : m["units"].get<std::string>().c_str(),
              point(m["upperLeftCenter"]).c_str(), point(m["lowerRightCenter"]).c_str(),
              point(m["pixelSize"]).c_str());
}

std::string valueText(const Json& v) {
  if (v.is_null()) return "?";
  return v.is_string() ? v.get<std::string>() : numberText(v.get<double>());
}

}  // namespace

Json infoMetadataJson(const Ktif_File* h) {
  Json out = {{"mapInfo", nullptr},    {"calibration", nullptr}, {"nullValue", nullptr},
              {"gdalNoData", nullptr}, {"elevation", nullptr},   {"imageMetadata", nullptr}};
  TIFF* tif = h->tiff;
  if (tif == nullptr) return out;
  Kprj_MapInfo* mapInfo = nullptr;
  Kprj_ProParameters* pro = nullptr;
  Kgtf_Calibration* calibration = nullptr;
  Kerr_Report* err = nullptr;
  kgtf_GeoTiffParamsGet(tif, &mapInfo, &pro, &calibration, &err);
  reportShow(&err);
  out["mapInfo"] = mapInfoJson(mapInfo);
  if (calibration != nullptr) out["calibration"] = mapInfoJson(calibration->mapInfo);
  kprj_MapInfoFree(&mapInfo, nullptr);
  kprj_ProParametersFree(&pro, nullptr);
  kgtf_CalibrationFree(&calibration);

  float nullValue = 0.0f;
  if (kgtf_NullValueGet(tif, &nullValue, &err) == 1) out["nullValue"] = double(nullValue);
  reportShow(&err);
  out["gdalNoData"] = gdalNoDataJson(tif);
  out["elevation"] = elevationJson(tif);
  out["imageMetadata"] = imageMetadataJson(tif);
  return out;
}

void infoMetadataPrint(const Json& m) {
  mapInfoPrint("Map info:", m["mapInfo"]);
  mapInfoPrint("Calibration:", m["calibration"]);
  if (!m["nullValue"].is_null() || !m["gdalNoData"].is_null())
    std::printf("No data:      key 33010 %s; GDAL tag %s\n", valueText(m["nullValue"]).c_str(),
                valueText(m["gdalNoData"]).c_str());
  const Json& e = m["elevation"];
  if (!e.is_null())
    std::printf("Elevation:    %s, %s, in %s\n", valueText(e["spheroid"]).c_str(),
                valueText(e["datum"]).c_str(), valueText(e["units"]).c_str());
  const Json& d = m["imageMetadata"];
  if (!d.is_null())
    std::printf("Metadata:     %s; %s; %s %s\n", valueText(d["classification"]).c_str(),
                valueText(d["description"]).c_str(), valueText(d["date"]).c_str(),
                valueText(d["time"]).c_str());
}
