// ktif-sample PATH: writes a small demonstration GeoTIFF through the library
// itself: a 512 x 384 RGB image in 256 x 256 LZW tiles, 10 m pixels in UTM
// zone 31N (WGS 84), so that `ktif info` and `ktif read` have something to
// show without data files.
#include <cmath>
#include <cstdio>
#include <fstream>
#include <vector>

#include "kgtf.h"
#include "kmsc.h"
#include "ktif.h"
#include "kxfr.h"

namespace {

constexpr int32_t kWidth = 512, kHeight = 384, kTile = 256;
constexpr int32_t kUtm31North = 32631;
// Centre of the upper-left pixel, and the pixel size in metres.
constexpr double kEasting = 500005, kNorthing = 5000995, kPixel = 10;

// Colour bands across, a brightness ramp down, and a ring in the middle.
unsigned char sampleValue(int layer, int32_t x, int32_t y) {
  const double dx = x - kWidth / 2.0, dy = y - kHeight / 2.0;
  if (std::fabs(std::sqrt(dx * dx + dy * dy) - 120.0) < 6.0) return 255;
  const double shade = 0.35 + 0.65 * (1.0 - double(y) / kHeight);
  const double across = 255.0 * x / (kWidth - 1);
  const double value = layer == 0 ? across : layer == 1 ? ((x / 64) % 2 ? 200 : 90) : 255 - across;
  return static_cast<unsigned char>(shade * value);
}

bool failed(const char* what, Kerr_Report** err) {
  if (*err == nullptr) return false;
  char* text = kerr_ReportFormat(*err, 0);
  std::fprintf(stderr, "ktif-sample: %s\n%s", what, text ? text : "");
  kmsc_HeapFree(text);
  kerr_DeleteErrorReportEx(err);
  return true;
}

// UTM zone 31N by its EPSG code, and the pixel-centre transform.
bool georeferencingSet(Kgtf_GeoTIFFParams* params, Kerr_Report** err) {
  _kprj_MapProjectionEx* projection = nullptr;
  char* units = nullptr;
  kgtf_ProjectionFromEPSG(kUtm31North, &projection, &units, err);
  if (failed("no projection for EPSG:32631", err)) return false;
  kgtf_GeoTIFFParamsGeocodingSet(params, projection, err);
  Kxfr_XForm* xform =
      kxfr_XFormCreateUsingCoeffs(kPixel, 0, kEasting, 0, -kPixel, kNorthing, nullptr);
  if (*err == nullptr)
    kgtf_GeoTIFFParamsGeoreferencingSet(params, xform, kprj_MapProjectionName(projection), units,
                                        err);
  kxfr_XFormFree(&xform, nullptr);
  kprj_ProjectionFree(&projection, nullptr);
  kmsc_HeapFree(units);
  return !failed("georeferencing not set", err);
}

void describe(Ktif_File* h) {
  h->width = kWidth;
  h->height = kHeight;
  h->samplesPerPixel = 3;
  h->bitsPerSample = 8;
  h->bytesPerSample = 1;
  h->pixelType = KTIF_PIXEL_U8;
  h->photometric = 2;  // RGB
  h->compression = 5;  // LZW
  h->blockWidth = h->blockHeight = kTile;
  h->rbBlockWidth = h->rbBlockHeight = kTile;
  h->rbWrite = 1;
  h->xResolution = h->yResolution = 72;
  h->resolutionUnit = 2;
}

bool pixelsWrite(Ktif_File** h, Kerr_Report** err) {
  std::vector<unsigned char> block(size_t(kTile) * kTile);
  for (int32_t row = 0; row * kTile < kHeight; ++row)
    for (int32_t column = 0; column * kTile < kWidth; ++column)
      for (int layer = 0; layer < 3; ++layer) {
        for (int32_t i = 0; i < kTile * kTile; ++i)
          block[size_t(i)] =
              sampleValue(layer, column * kTile + i % kTile, row * kTile + i / kTile);
        ktif_RBRasterWrite(h, layer, row, column, block.data(), err);
        if (failed("writing a block failed", err)) return false;
      }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 || argv[1][0] == '-') {
    std::fprintf(stderr, "usage: ktif-sample PATH\n");
    return 2;
  }
  const char* path = argv[1];
  // The library creates a file from a handle opened on an empty one.
  if (!std::ofstream(path, std::ios::trunc)) {
    std::fprintf(stderr, "ktif-sample: cannot create %s\n", path);
    return 1;
  }
  Kerr_Report* err = nullptr;
  Ktif_File* h = ktif_Open(path, "w", &err);
  if (failed("cannot open the new file", &err)) return 1;
  describe(h);
  h->geoParams = kgtf_GeoTIFFParamsAllocate();
  bool ok = h->geoParams != nullptr && georeferencingSet(h->geoParams, &err);
  ok = ok && ktif_CreateBaseLineTIFF(h, nullptr, &err) != nullptr;
  ok = ok && !failed("creation failed", &err) && pixelsWrite(&h, &err);
  ktif_Close(h, nullptr);
  if (!ok) {
    std::remove(path);
    return 1;
  }
  std::printf("%s: %d x %d RGB, LZW, %d x %d tiles, UTM zone 31N (WGS 84), %g m pixels\n", path,
              kWidth, kHeight, kTile, kTile, kPixel);
  return 0;
}
