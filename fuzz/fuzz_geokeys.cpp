// Feeds GeoKey tag contents (GeoKeyDirectoryTag, GeoDoubleParamsTag and
// GeoAsciiParamsTag) to the geocoding reader and the image metadata getters,
// without a file, and the same arrays to the reader of directories held in
// memory.
//
// Input layout: a 16-bit count n, then n 16-bit directory values; a byte m,
// then m doubles; the rest is the ASCII parameters. Seeds in
// fuzz/corpus/geokeys: from GDAL's files (make_corpus.sh) and with wrongly
// typed keys and metadata keys of the wrong type or size
// (make_geokey_seeds.py).
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <geo_simpletags.h>
#include <geotiffio.h>

#include "geocoding.h"
#include "image_metadata.h"
#include "kgtf.h"
#include "kmsc.h"

namespace {

void quietReports(const Kerr_Report*, int, void*) {}
void quietLog(int, const char*, void*) {}

struct Reader {
  const uint8_t* data;
  size_t size;
  size_t at = 0;
  bool take(void* out, size_t bytes) {
    if (size - at < bytes) return false;
    if (bytes != 0) std::memcpy(out, data + at, bytes);  // an empty vector's data() may be null
    at += bytes;
    return true;
  }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  kerr_SetReportSink(quietReports, nullptr, nullptr, nullptr);
  kerr_SetLogSink(quietLog, nullptr, nullptr, nullptr);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Reader in{data, size};
  uint16_t shortCount = 0;
  uint8_t doubleCount = 0;
  if (!in.take(&shortCount, 2)) return 0;
  std::vector<uint16_t> directory(shortCount);
  if (!in.take(directory.data(), directory.size() * 2)) return 0;
  std::vector<double> doubles(doubleCount);
  if (in.take(&doubleCount, 1)) {
    doubles.resize(doubleCount);
    if (!in.take(doubles.data(), doubles.size() * sizeof(double))) doubles.clear();
  }
  std::string ascii(reinterpret_cast<const char*>(data + in.at), size - in.at);

  ST_TIFF* tags = ST_Create();
  if (!directory.empty())
    ST_SetKey(tags, 34735, static_cast<int>(directory.size()), STT_SHORT, directory.data());
  if (!doubles.empty())
    ST_SetKey(tags, 34736, static_cast<int>(doubles.size()), STT_DOUBLE, doubles.data());
  if (!ascii.empty())
    ST_SetKey(tags, 34737, static_cast<int>(ascii.size() + 1), STT_ASCII, ascii.data());
  if (GTIF* gtif = GTIFNewSimpleTags(tags)) {
    char *projectionName = nullptr, *unitsName = nullptr;
    _kprj_MapProjectionEx* projection = nullptr;
    Kerr_Report* err = nullptr;
    KerrFrame frame("fuzz", &err);
    // The EPSG road reports by exception, as it does for the library's
    // exported readers, which contain it the same way.
    geocodingContain(frame, [&] {
      GeoTIFFGeocodingGet(gtif, &projectionName, &unitsName, &projection, frame.slot());
    });
    kmsc_HeapFree(projectionName);
    kmsc_HeapFree(unitsName);
    kprj_ProjectionFree(&projection, nullptr);
    frame.drop();

    Kmsc_ImageMetadata* metadata = nullptr;
    DODImageMetadataRead(gtif, &metadata, frame);
    kmsc_ImageMetadataFree(&metadata);
    float nullValue = 0;
    NullValueRead(gtif, &nullValue);
    _kprj_ElevationInfo* elevation = nullptr;
    ElevationInfoRead(gtif, &elevation, frame);
    kprj_ElevationInfoFree(&elevation, nullptr);
    kerr_DeleteErrorReportEx(&err);
    GTIFFree(gtif);
  }
  ST_Destroy(tags);

  // The same arrays as a directory held in memory; its caller passes as many
  // entries as the header counts.
  if (directory.size() >= 4) {
    uint16_t header[4] = {directory[0], directory[1], directory[2], directory[3]};
    header[3] = static_cast<uint16_t>(std::min<size_t>(header[3], (directory.size() - 4) / 4));
    _kprj_MapProjectionEx* projection = nullptr;
    char* unitsName = nullptr;
    _kprj_ElevationInfo* elevation = nullptr;
    Kerr_Report* err = nullptr;
    kgtf_ConvertCSFromGeoKeysToEPRJ(header, directory.data() + 4,
                                    static_cast<uint16_t>(doubles.size()), doubles.data(), 0,
                                    ascii.c_str(), &projection, &unitsName, &elevation, &err);
    kprj_ProjectionFree(&projection, nullptr);
    kmsc_HeapFree(unitsName);
    kprj_ElevationInfoFree(&elevation, nullptr);
    kerr_DeleteErrorReportEx(&err);
  }
  return 0;
}
