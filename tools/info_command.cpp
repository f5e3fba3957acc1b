// `ktif info`: how the library sees one image of a file: size, layers, pixel
// type, block layout, compression, colour map, value range, resolution, the
// reduced-resolution copies, the georeferencing and the metadata keys, as text
// or as JSON.
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "commands.h"
#include "kgtf.h"
#include "kmsc.h"
#include "kprj.h"
#include "kxfr.h"

namespace {

struct InfoOptions {
  std::string file;
  int64_t image = 0;
  bool json = false;
};

const char* pixelTypeName(int32_t type) {
  static const char* const names[] = {"U1",  "U2",  "U4",  "U8",  "S8", "U16",
                                      "S16", "U32", "S32", "F32", "F64"};
  return type >= 0 && type <= KTIF_PIXEL_F64 ? names[type] : "unknown";
}

const char* compressionName(int32_t code) {
  switch (code) {
    case 1:
      return "none";
    case 2:
      return "CCITT modified Huffman";
    case 3:
      return "CCITT Group 3";
    case 4:
      return "CCITT Group 4";
    case 5:
      return "LZW";
    case 6:
      return "old-style JPEG";
    case 7:
      return "JPEG";
    case 8:
    case 32946:
      return "Deflate";
    case 32773:
      return "PackBits";
    case 34925:
      return "LZMA";
    case 50000:
      return "Zstandard";
    case 50001:
      return "WebP";
    case KTIF_COMPRESSION_JPEG_AS_RGB:
      return "JPEG, YCbCr read as RGB";
    default:
      return "other";
  }
}

const char* photometricName(int32_t code) {
  static const char* const names[] = {"MinIsWhite", "MinIsBlack", "RGB",  "palette",
                                      "mask",       "separated",  "YCbCr"};
  if (code >= 0 && code <= 6) return names[code];
  if (code == 8) return "CIELab";
  return "other";
}

const char* resolutionUnitName(uint16_t unit) {
  return unit == 2 ? "inch" : unit == 3 ? "centimetre" : "no unit";
}

// The float the file holds, as the shortest decimal that reads back as it, so
// that 0.1f does not turn into 0.10000000149.
double floatValue(float value) {
  char text[32];
  auto result = std::to_chars(text, text + sizeof text, value);
  return std::strtod(std::string(text, result.ptr).c_str(), nullptr);
}

nlohmann::ordered_json valueArray(const double* values, int32_t count) {
  if (values == nullptr || count <= 0) return nullptr;
  return nlohmann::ordered_json(std::vector<double>(values, values + count));
}

// What the info output shows of the handle's georeferencing.
struct Georeferencing {
  bool present = false;  // a transform exists
  bool affine = false;
  double coefficients[6] = {0, 0, 0, 0, 0, 0};  // host pixel centres to map
  bool fitted = false;                          // polynomial or rubber sheet
  int32_t rasterType = 0;
  std::string projectionName, unitsName;
  const Kprj_ProParameters* pro = nullptr;  // owned by the handle
  const KstrStringList* listing = nullptr;  // owned by the handle
};

Georeferencing georeferencingOf(const Ktif_File* h) {
  Georeferencing g;
  const Kgtf_GeoTIFFParams* params = h->geoParams;
  if (params == nullptr) return g;
  g.listing = params->metaData;
  g.rasterType = params->rasterType;
  if (params->projection != nullptr)
    g.pro = static_cast<const Kprj_ProParameters*>(
        kprj_MapProjectionCSRGet(params->projection, KPRJ_FORM_PRO_PARAMETERS));
  Kxfr_XForm* xform = nullptr;
  char* projectionName = nullptr;
  char* unitsName = nullptr;
  Kerr_Report* err = nullptr;
  kgtf_GeoTIFFParamsGeoreferencingGet(params, &xform, &projectionName, &unitsName, &err);
  kerr_DeleteErrorReportEx(&err);
  if (xform != nullptr) {
    g.present = true;
    g.affine = kxfr_XFormAffineExtractIfPresent(xform, g.coefficients, nullptr) == 1;
    for (int i = 0; i < kxfr_XFormNodeCount(xform); ++i) {
      int32_t kind = kxfr_XFormNodeKind(xform, i);
      if (kind == KXFR_NODE_POLY_PAIR || kind == KXFR_NODE_RUBBER_SHEET) g.fitted = true;
    }
  }
  if (projectionName != nullptr) g.projectionName = projectionName;
  if (unitsName != nullptr) g.unitsName = unitsName;
  kmsc_HeapFree(projectionName);
  kmsc_HeapFree(unitsName);
  kxfr_XFormFree(&xform, nullptr);
  return g;
}

nlohmann::ordered_json textOrNull(const std::string& text) {
  return text.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(text);
}

nlohmann::ordered_json georeferencingJson(const Georeferencing& g) {
  if (!g.present) return nullptr;
  return {{"coefficients", g.affine ? nlohmann::ordered_json(
                                          std::vector<double>(g.coefficients, g.coefficients + 6))
                                    : nlohmann::ordered_json(nullptr)},
          {"rasterType", g.rasterType},
          {"projectionName", textOrNull(g.projectionName)},
          {"unitsName", textOrNull(g.unitsName)},
          {"fitted", g.fitted}};
}

// The system as other software names it; null without georeferencing.
nlohmann::ordered_json crsJson(const Ktif_File* h) {
  if (h->geoParams == nullptr || h->geoParams->projection == nullptr) return nullptr;
  Kgtf_CRSDescription d{};
  Kerr_Report* err = nullptr;
  kgtf_GeoTIFFParamsCRSDescribe(h->geoParams, &d, &err);
  kerr_DeleteErrorReportEx(&err);
  nlohmann::ordered_json out = {
      {"epsg", d.epsgCode != 0 ? nlohmann::ordered_json(d.epsgCode) : nullptr},
      {"name", d.name ? nlohmann::ordered_json(d.name) : nullptr},
      {"wkt", d.wkt ? nlohmann::ordered_json(d.wkt) : nullptr},
      {"approximate", d.approximate != 0}};
  kgtf_CRSDescriptionClear(&d);
  return out;
}

struct Overview {
  uint64_t offset;
  int32_t width = 0, height = 0;  // 0 when the directory could not be opened
};

std::vector<Overview> overviewsRead(Ktif_File* handle, bool withSizes) {
  std::vector<Overview> overviews;
  uint64_t* offsets = ktif_GetRRDOffsets(handle);
  for (uint64_t* at = offsets; at != nullptr && *at != 0; ++at) {
    Overview overview{*at};
    if (withSizes) {
      Kerr_Report* err = nullptr;
      Ktif_File* level = ktif_OpenDirectory(handle->path, "r", static_cast<int64_t>(*at), &err);
      kerr_DeleteErrorReportEx(&err);
      if (level != nullptr) {
        overview.width = level->width;
        overview.height = level->height;
        ktif_Close(level, nullptr);
      }
    }
    overviews.push_back(overview);
  }
  kmsc_HeapFree(offsets);
  return overviews;
}

void jsonPrint(const InfoOptions& options, const Ktif_File* h, int32_t images,
               const std::vector<Overview>& overviews) {
  const Georeferencing georeferencing = georeferencingOf(h);
  nlohmann::ordered_json offsets = nlohmann::ordered_json::array();
  for (const Overview& overview : overviews) offsets.push_back(overview.offset);
  nlohmann::ordered_json out = {
      {"file", h->path},
      {"images", images},
      {"image", options.image},
      {"imageName",
       h->imageName ? nlohmann::ordered_json(h->imageName) : nlohmann::ordered_json(nullptr)},
      {"imageType",
       h->imageType ? nlohmann::ordered_json(h->imageType) : nlohmann::ordered_json(nullptr)},
      {"width", h->width},
      {"height", h->height},
      {"layers", h->samplesPerPixel},
      {"pixelType", pixelTypeName(h->pixelType)},
      {"bitsPerSample", h->bitsPerSample},
      {"bytesPerSample", h->bytesPerSample},
      {"compression", h->compression},
      {"photometric", h->photometric},
      {"planarConfig", h->planarConfig},
      {"tiled", h->isTiled != 0},
      {"blockWidth", h->blockWidth},
      {"blockHeight", h->blockHeight},
      {"blocksAcross", h->blocksAcross},
      {"blocksDown", h->blocksDown},
      {"rbBlockWidth", h->rbBlockWidth},
      {"rbBlockHeight", h->rbBlockHeight},
      {"colorMapSize", h->colorMapSize},
      {"min", valueArray(h->minValues, h->minCount)},
      {"max", valueArray(h->maxValues, h->maxCount)},
      {"xResolution", floatValue(h->xResolution)},
      {"yResolution", floatValue(h->yResolution)},
      {"resolutionUnit", h->resolutionUnit},
      {"orientation", h->orientation},
      {"reducedResolutionOffsets", offsets},
      {"hasGeoKeys", ktif_HasGeoKeys(h) != 0},
      {"faxDecoder", h->faxState != nullptr},
      {"georeferencing", georeferencingJson(georeferencing)},
      {"projection", projectionJson(georeferencing.pro)},
      {"crs", crsJson(h)},
  };
  out.update(infoMetadataJson(h));
  std::printf("%s\n", out.dump(2).c_str());
}

std::string rangeText(const double* values, int32_t count) {
  std::string text;
  for (int32_t i = 0; i < count; ++i) text += (i ? ", " : "") + numberText(values[i]);
  return text;
}

void georeferencingPrint(const Georeferencing& g) {
  if (!g.present) {
    std::printf("Georeferencing: none\n");
  } else {
    std::printf("Georeferencing: %s, raster type %d (%s)\n",
                g.fitted   ? "fitted"
                : g.affine ? "affine"
                           : "other",
                g.rasterType,
                g.rasterType == KGTF_RASTER_PIXEL_IS_POINT ? "pixel is point" : "pixel is area");
    if (g.affine) {
      const double* c = g.coefficients;
      std::printf("  X = %s * column + %s * row + %s\n", numberText(c[0]).c_str(),
                  numberText(c[1]).c_str(), numberText(c[2]).c_str());
      std::printf("  Y = %s * column + %s * row + %s\n", numberText(c[3]).c_str(),
                  numberText(c[4]).c_str(), numberText(c[5]).c_str());
    }
    std::printf("  Projection: %s\n", g.projectionName.empty() ? "?" : g.projectionName.c_str());
    std::printf("  Units:      %s\n", g.unitsName.empty() ? "?" : g.unitsName.c_str());
  }
  if (g.pro != nullptr) std::printf("Projection:   %s\n", projectionText(g.pro).c_str());
  if (g.listing != nullptr && g.listing->count > 0) {
    std::printf("GeoKeys:\n");
    for (int32_t i = 0; i < g.listing->count; ++i) {
      const char* line = g.listing->strings[i];
      if (line == nullptr) continue;
      size_t length = std::strlen(line);
      while (length > 0 && (line[length - 1] == '\n' || line[length - 1] == '\r')) --length;
      std::printf("  %.*s\n", static_cast<int>(length), line);
    }
  }
}

void crsPrint(const nlohmann::ordered_json& crs) {
  if (crs.is_null()) return;
  const char* approximate = crs["approximate"].get<bool>() ? " (approximate)" : "";
  if (crs["epsg"].is_null())
    std::printf("CRS:          no EPSG code%s\n", approximate);
  else
    std::printf("CRS:          EPSG:%d %s%s\n", crs["epsg"].get<int>(),
                crs["name"].is_null() ? "" : crs["name"].get<std::string>().c_str(), approximate);
}

void plainPrint(const Ktif_File* h, int64_t image, int32_t images,
                const std::vector<Overview>& overviews) {
  std::printf("File:         %s\n", h->path);
  std::printf("Image:        %lld of %d (%s, %s)\n", static_cast<long long>(image), images,
              h->imageName ? h->imageName : "unnamed", h->imageType ? h->imageType : "?");
  std::printf("Size:         %d x %d pixels, %d %s\n", h->width, h->height, h->samplesPerPixel,
              h->samplesPerPixel == 1 ? "layer" : "layers");
  std::printf("Type:         %s, %u bits per sample, %d %s per sample; %s (%d), %s\n",
              pixelTypeName(h->pixelType), h->bitsPerSample, h->bytesPerSample,
              h->bytesPerSample == 1 ? "byte" : "bytes", photometricName(h->photometric),
              h->photometric, h->planarConfig == 2 ? "separate planes" : "interleaved");
  std::printf("Blocks:       %s of %d x %d, %d across, %d down\n", h->isTiled ? "tiles" : "strips",
              h->blockWidth, h->blockHeight, h->blocksAcross, h->blocksDown);
  std::printf("Read blocks:  %d x %d%s\n", h->rbBlockWidth, h->rbBlockHeight,
              h->partialStripMode ? " (wide strips read in pieces)" : "");
  std::printf("Compression:  %s (%d)\n", compressionName(h->compression), h->compression);
  if (h->colorMapSize > 0)
    std::printf("Colour map:   %d entries\n", h->colorMapSize);
  else
    std::printf("Colour map:   none\n");
  if (h->minValues != nullptr && h->maxValues != nullptr)
    std::printf("Value range:  min %s; max %s\n", rangeText(h->minValues, h->minCount).c_str(),
                rangeText(h->maxValues, h->maxCount).c_str());
  std::printf("Resolution:   %s x %s per %s\n", numberText(floatValue(h->xResolution)).c_str(),
              numberText(floatValue(h->yResolution)).c_str(),
              resolutionUnitName(h->resolutionUnit));
  std::printf("Orientation:  %u\n", h->orientation);
  if (overviews.empty()) {
    std::printf("Overviews:    none\n");
  } else {
    std::printf("Overviews:    %zu\n", overviews.size());
    for (const Overview& overview : overviews) {
      if (overview.width > 0)
        std::printf("              %d x %d at offset %llu\n", overview.width, overview.height,
                    static_cast<unsigned long long>(overview.offset));
      else
        std::printf("              at offset %llu (unreadable)\n",
                    static_cast<unsigned long long>(overview.offset));
    }
  }
  std::printf("Key directory: %s\n", ktif_HasGeoKeys(h) ? "yes" : "none");
  if (h->faxState != nullptr) std::printf("Decoder:      the library's CCITT decoder\n");
  georeferencingPrint(georeferencingOf(h));
  crsPrint(crsJson(h));
  infoMetadataPrint(infoMetadataJson(h));
}

int infoRun(const InfoOptions& options) {
  int32_t images = 0;
  Ktif_File* handle = toolImageOpen(options.file, options.image, &images);
  if (handle == nullptr) return 1;
  const std::vector<Overview> overviews = overviewsRead(handle, !options.json);
  if (options.json)
    jsonPrint(options, handle, images, overviews);
  else
    plainPrint(handle, options.image, images, overviews);
  ktif_Close(handle, nullptr);
  return 0;
}

}  // namespace

CommandRunner infoCommandAdd(CLI::App& app, const ToolOptions&) {
  CLI::App* command =
      app.add_subcommand("info", "Describe one image of a TIFF file as the library sees it");
  auto options = std::make_shared<InfoOptions>();
  command->add_option("FILE", options->file, "TIFF file")->required();
  command->add_option("--image", options->image, "Image index (overviews do not count)")
      ->check(CLI::NonNegativeNumber);
  command->add_flag("--json", options->json, "Print JSON instead of text");
  return [options] { return infoRun(*options); };
}
