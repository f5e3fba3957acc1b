// ktif tags, ktif keys and ktif header: a directory's entries, an image's
// GeoKeys (listed, or converted as a key directory held in memory) and the
// header listing, as the library's inspection layer reads them.
#include <geotiffio.h>
#include <tiffio.h>
#include <xtiffio.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "commands.h"
#include "kgtf.h"
#include "kmsc.h"
#include "kprj.h"

namespace {

struct TagsOptions {
  std::string file;
  uint64_t directory = 0;
  bool json = false;
};

struct KeysOptions {
  std::string file;
  int64_t image = 0;
  bool json = false;
  bool geocoding = false;
};

// A TIFF that holds nothing, for libtiff's table of field names (the GeoTIFF
// tags registered too) without trusting the file being listed.
class FieldNames {
 public:
  FieldNames() {
    XTIFFInitialize();
    tiff_ = TIFFClientOpen("field names", "w", nullptr, ioNone, ioNone, seekNone, closeNone,
                           sizeNone, nullptr, nullptr);
  }
  ~FieldNames() {
    if (tiff_ != nullptr) TIFFCleanup(tiff_);
  }
  std::string operator()(uint32_t tag) const {
    // TIFFFindField, unlike TIFFFieldWithTag, says nothing of unknown tags.
    const TIFFField* field = tiff_ != nullptr ? TIFFFindField(tiff_, tag, TIFF_ANY) : nullptr;
    const char* name = field != nullptr ? TIFFFieldName(field) : nullptr;
    return name != nullptr ? name : "Tag " + std::to_string(tag);
  }

 private:
  static tmsize_t ioNone(thandle_t, void*, tmsize_t size) { return size; }
  static toff_t seekNone(thandle_t, toff_t, int) { return 0; }
  static int closeNone(thandle_t) { return 0; }
  static toff_t sizeNone(thandle_t) { return 0; }
  TIFF* tiff_ = nullptr;
};

// The offset of the first directory, read from the header.
uint64_t firstDirectoryOffset(const std::string& path) {
  Kfio_File* file = kfio_Open(path.c_str(), "rb", nullptr);
  unsigned char header[16] = {};
  int64_t got = file ? kfio_ReadSeq(file, header, sizeof header, nullptr) : 0;
  kfio_Close(&file, nullptr);
  if (got < 8) return 0;
  int32_t order = header[0] == 'M' ? 0 : 1;
  if (ktif_Shortval(header + 2, order) == 42) return ktif_Longval(header + 4, order);
  uint64_t low = ktif_Longval(header + (order ? 8 : 12), order);
  uint64_t high = ktif_Longval(header + (order ? 12 : 8), order);
  return high << 32 | low;
}

// The library's own text output (a "<no type>" marker, say) goes to stderr,
// so that stdout holds only the listing.
void toStandardError(const char* text, void*) {
  std::fputs(text, stderr);
}

int tagsRun(const TagsOptions& o) {
  kfio_SetPrintfSink(toStandardError, nullptr);
  Kerr_Report* err = nullptr;
  uint32_t* tags = nullptr;
  uint64_t count = 0;
  ktif_AvailableTags(o.file.c_str(), o.directory, &tags, &count, &err);
  std::unique_ptr<uint32_t, decltype(&kmsc_HeapFree)> owner(tags, &kmsc_HeapFree);
  if (err != nullptr || tags == nullptr) {
    toolFail("cannot list the tags of " + o.file, &err);
    return 1;
  }
  FieldNames names;
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (uint64_t i = 0; i < count; ++i) {
    uint64_t values = 0;
    uint32_t type = 0;
    char* text =
        ktif_GetTagValue(o.file.c_str(), o.directory, int32_t(tags[i]), &values, &type, &err);
    if (text == nullptr) {
      toolFail("cannot read tag " + std::to_string(tags[i]) + " of " + o.file, &err);
      return 1;
    }
    list.push_back({{"tag", tags[i]},
                    {"name", names(tags[i])},
                    {"type", type},
                    {"count", values},
                    {"value", text}});
    kmsc_HeapFree(text);
  }
  const uint64_t offset = o.directory != 0 ? o.directory : firstDirectoryOffset(o.file);
  if (o.json) {
    nlohmann::ordered_json out = {{"file", o.file}, {"directoryOffset", offset}, {"tags", list}};
    std::printf("%s\n", out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
    return 0;
  }
  std::printf("Directory at %llu of %s\n", static_cast<unsigned long long>(offset), o.file.c_str());
  for (const auto& t : list)
    std::printf("%6u %-28s type %2u count %-8llu %s\n", t["tag"].get<uint32_t>(),
                t["name"].get<std::string>().c_str(), t["type"].get<uint32_t>(),
                static_cast<unsigned long long>(t["count"].get<uint64_t>()),
                t["value"].get<std::string>().c_str());
  return 0;
}

// The three GeoKey tags of an image as stored, the way a host holds a key
// directory in memory.
struct RawKeyDirectory {
  std::vector<unsigned short> shorts;
  std::vector<double> doubles;
  std::string ascii;
};

// False when the image has no GeoKeyDirectoryTag. The GeoTIFF tags are
// registered by libgeotiff as counted (a 16-bit count) except the text.
bool rawKeyDirectoryRead(TIFF* tiff, RawKeyDirectory* raw) {
  uint16_t count = 0;
  const uint16_t* shorts = nullptr;
  if (TIFFGetField(tiff, TIFFTAG_GEOKEYDIRECTORY, &count, &shorts) != 1 || shorts == nullptr)
    return false;
  raw->shorts.assign(shorts, shorts + count);
  const double* doubles = nullptr;
  if (TIFFGetField(tiff, TIFFTAG_GEODOUBLEPARAMS, &count, &doubles) == 1 && doubles != nullptr)
    raw->doubles.assign(doubles, doubles + count);
  const char* ascii = nullptr;
  if (TIFFGetField(tiff, TIFFTAG_GEOASCIIPARAMS, &ascii) == 1 && ascii != nullptr)
    raw->ascii = ascii;
  return true;
}

// The converted directory; the members belong to it.
struct Geocoding {
  ~Geocoding() {
    kprj_ProjectionFree(&projection, nullptr);
    kmsc_HeapFree(units);
    kprj_ElevationInfoFree(&elevation, nullptr);
  }
  _kprj_MapProjectionEx* projection = nullptr;
  char* units = nullptr;
  _kprj_ElevationInfo* elevation = nullptr;
};

nlohmann::ordered_json narrowText(const _kprj_ElevationInfo* e,
                                  Kprj_Text _kprj_ElevationInfo::*text) {
  if (e == nullptr || e->textForm != KPRJ_TEXT_NARROW || (e->*text).narrow == nullptr)
    return nullptr;
  return (e->*text).narrow;
}

int keysGeocodingRun(const KeysOptions& o) {
  int32_t images = 0;
  Ktif_File* handle = toolImageOpen(o.file, o.image, &images);
  if (handle == nullptr) return 1;
  RawKeyDirectory raw;
  const bool present = rawKeyDirectoryRead(handle->tiff, &raw);
  ktif_Close(handle, nullptr);
  const std::string where = "image " + std::to_string(o.image) + " of " + o.file;
  if (!present) {
    toolFail(where + " has no GeoKey directory", nullptr);
    return 1;
  }
  // The reader takes as many entries as the header names, so a directory
  // shorter than its header says is refused here.
  const size_t keys = raw.shorts.size() >= 4 ? raw.shorts[3] : 0;
  if (raw.shorts.size() < 4 || raw.shorts.size() < 4 + 4 * keys) {
    toolFail("the GeoKey directory of " + where +
                 " is truncated: " + std::to_string(raw.shorts.size()) + " values for " +
                 std::to_string(keys) + " keys",
             nullptr);
    return 1;
  }
  // The reader's counts are 16-bit: parameters past the 65535th are out of
  // its reach, as they are of a directory a host builds.
  const auto doubleCount = static_cast<unsigned short>(std::min<size_t>(raw.doubles.size(), 65535));
  const auto asciiCount = static_cast<unsigned short>(
      std::min<size_t>(std::count(raw.ascii.begin(), raw.ascii.end(), '|'), 65535));
  Geocoding g;
  Kerr_Report* err = nullptr;
  kgtf_ConvertCSFromGeoKeysToEPRJ(raw.shorts.data(), raw.shorts.data() + 4, doubleCount,
                                  raw.doubles.data(), asciiCount, raw.ascii.c_str(), &g.projection,
                                  &g.units, &g.elevation, &err);
  if (err != nullptr) {
    toolFail("cannot convert the GeoKey directory of " + where, &err);
    return 1;
  }
  const auto* pro = g.projection != nullptr
                        ? static_cast<const Kprj_ProParameters*>(
                              kprj_MapProjectionCSRGet(g.projection, KPRJ_FORM_PRO_PARAMETERS))
                        : nullptr;
  const nlohmann::ordered_json elevation = {
      {"spheroid", narrowText(g.elevation, &_kprj_ElevationInfo::spheroidName)},
      {"datum", narrowText(g.elevation, &_kprj_ElevationInfo::datumName)},
      {"units", narrowText(g.elevation, &_kprj_ElevationInfo::unitsName)}};
  if (o.json) {
    nlohmann::ordered_json out = {
        {"file", o.file},
        {"image", o.image},
        {"geocoding",
         {{"projection", projectionJson(pro)},
          {"units", g.units ? nlohmann::ordered_json(g.units) : nlohmann::ordered_json(nullptr)},
          {"elevation", elevation}}}};
    std::printf("%s\n", out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
    return 0;
  }
  auto text = [](const nlohmann::ordered_json& value) {
    return value.is_string() ? value.get<std::string>() : std::string("?");
  };
  std::printf("GeoKey directory of %s: %zu keys\n", where.c_str(), keys);
  std::printf("Projection:   %s\n", pro != nullptr ? projectionText(pro).c_str() : "none");
  std::printf("Units:        %s\n", g.units != nullptr ? g.units : "?");
  std::printf("Elevation:    spheroid %s, datum %s, in %s\n", text(elevation["spheroid"]).c_str(),
              text(elevation["datum"]).c_str(), text(elevation["units"]).c_str());
  return 0;
}

int keysRun(const KeysOptions& o) {
  if (o.geocoding) return keysGeocodingRun(o);
  int32_t images = 0;
  Ktif_File* handle = toolImageOpen(o.file, o.image, &images);
  if (handle == nullptr) return 1;
  GTIF* gtif = GTIFNew(handle->tiff);
  Kerr_Report* err = nullptr;
  int32_t* keys = nullptr;
  int32_t count = 0;
  kgtf_AvailableKeys(gtif, &keys, &count, &err);
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (int32_t i = 0; i < count; ++i) {
    const auto key = static_cast<geokey_t>(keys[i]);
    tagtype_t type = TYPE_UNKNOWN;
    int values = GTIFKeyInfo(gtif, key, nullptr, &type);
    char* text = kgtf_GetKeyValue(gtif, keys[i], &err);
    kerr_DeleteErrorReportEx(&err);
    const char* name = GTIFKeyName(key);
    const char* typeName = GTIFTypeName(type);
    list.push_back({{"key", keys[i]},
                    {"name", name ? name : ""},
                    {"type", typeName ? typeName : "Unknown"},
                    {"count", values},
                    {"value", text ? text : ""}});
    kmsc_HeapFree(text);
  }
  kmsc_HeapFree(keys);
  if (gtif != nullptr) GTIFFree(gtif);
  ktif_Close(handle, nullptr);
  if (o.json) {
    nlohmann::ordered_json out = {{"file", o.file}, {"image", o.image}, {"keys", list}};
    std::printf("%s\n", out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
    return 0;
  }
  std::printf("GeoKeys of image %lld of %s: %zu\n", static_cast<long long>(o.image), o.file.c_str(),
              list.size());
  for (const auto& k : list)
    std::printf("%6d %-30s %-6s %4d %s\n", k["key"].get<int>(),
                k["name"].get<std::string>().c_str(), k["type"].get<std::string>().c_str(),
                k["count"].get<int>(), k["value"].get<std::string>().c_str());
  return 0;
}

int headerRun(const std::string& file) {
  Kerr_Report* err = nullptr;
  ktif_HeaderPrint(file.c_str(), &err);
  std::fflush(stdout);
  if (err == nullptr) return 0;
  toolFail("cannot list " + file, &err);
  return 1;
}

}  // namespace

CommandRunner tagsCommandAdd(CLI::App& app, const ToolOptions&) {
  CLI::App* command = app.add_subcommand("tags", "List the tags of a directory as stored");
  auto options = std::make_shared<TagsOptions>();
  command->add_option("FILE", options->file, "TIFF file")->required();
  command->add_option("--directory", options->directory,
                      "File offset of the directory (default: the first)");
  command->add_flag("--json", options->json, "Print JSON instead of text");
  return [options] { return tagsRun(*options); };
}

CommandRunner keysCommandAdd(CLI::App& app, const ToolOptions&) {
  CLI::App* command = app.add_subcommand("keys", "List the GeoKeys of one image");
  auto options = std::make_shared<KeysOptions>();
  command->add_option("FILE", options->file, "TIFF file")->required();
  command->add_option("--image", options->image, "Image index (overviews do not count)")
      ->check(CLI::NonNegativeNumber);
  command->add_flag("--json", options->json, "Print JSON instead of text");
  command->add_flag("--geocoding", options->geocoding,
                    "Convert the stored key directory to a projection, units and elevation");
  return [options] { return keysRun(*options); };
}

CommandRunner headerCommandAdd(CLI::App& app, const ToolOptions&) {
  CLI::App* command =
      app.add_subcommand("header", "List the first directory and the GeoKeys as stored");
  auto file = std::make_shared<std::string>();
  command->add_option("FILE", *file, "TIFF file")->required();
  return [file] { return headerRun(*file); };
}
