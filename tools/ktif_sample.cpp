// ktif-sample PATH: writes a small demonstration TIFF with libtiff alone: a
// 512 x 384 RGB image in 256 x 256 LZW tiles with one half-size overview, so
// that `ktif info` and `ktif read` have something to show without data files.
#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr uint32_t kWidth = 512, kHeight = 384, kTile = 256;

// Colour bands across, a brightness ramp down, and a ring in the middle.
void samplePixel(uint32_t x, uint32_t y, unsigned char* rgb) {
  const double dx = x - kWidth / 2.0, dy = y - kHeight / 2.0;
  const bool ring = std::fabs(std::sqrt(dx * dx + dy * dy) - 120.0) < 6.0;
  const double shade = 0.35 + 0.65 * (1.0 - static_cast<double>(y) / kHeight);
  rgb[0] = static_cast<unsigned char>(ring ? 255 : shade * (255.0 * x / (kWidth - 1)));
  rgb[1] = static_cast<unsigned char>(ring ? 255 : shade * (((x / 64) % 2) ? 200 : 90));
  rgb[2] = static_cast<unsigned char>(ring ? 255 : shade * (255.0 - 255.0 * x / (kWidth - 1)));
}

bool writeLevel(TIFF* tif, const std::vector<unsigned char>& pixels, uint32_t width,
                uint32_t height, bool overview) {
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
  TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
  TIFFSetField(tif, TIFFTAG_TILEWIDTH, kTile);
  TIFFSetField(tif, TIFFTAG_TILELENGTH, kTile);
  TIFFSetField(tif, TIFFTAG_XRESOLUTION, 72.0f);
  TIFFSetField(tif, TIFFTAG_YRESOLUTION, 72.0f);
  TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
  if (overview)
    TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_REDUCEDIMAGE);
  else
    TIFFSetField(tif, TIFFTAG_IMAGEDESCRIPTION, "ktif sample image");
  std::vector<unsigned char> tile(static_cast<size_t>(kTile) * kTile * 3);
  for (uint32_t ty = 0; ty < height; ty += kTile) {
    for (uint32_t tx = 0; tx < width; tx += kTile) {
      std::fill(tile.begin(), tile.end(), 0);
      for (uint32_t y = ty; y < height && y < ty + kTile; ++y) {
        const uint32_t columns = std::min(kTile, width - tx);
        std::memcpy(&tile[((y - ty) * kTile) * 3],
                    &pixels[(static_cast<size_t>(y) * width + tx) * 3], columns * 3);
      }
      if (TIFFWriteTile(tif, tile.data(), tx, ty, 0, 0) < 0) return false;
    }
  }
  return TIFFWriteDirectory(tif) != 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 || argv[1][0] == '-') {
    std::fprintf(stderr, "usage: ktif-sample PATH\n");
    return 2;
  }
  std::vector<unsigned char> image(static_cast<size_t>(kWidth) * kHeight * 3);
  for (uint32_t y = 0; y < kHeight; ++y)
    for (uint32_t x = 0; x < kWidth; ++x) samplePixel(x, y, &image[(y * kWidth + x) * 3]);
  // The overview averages 2 x 2 blocks.
  const uint32_t halfW = kWidth / 2, halfH = kHeight / 2;
  std::vector<unsigned char> half(static_cast<size_t>(halfW) * halfH * 3);
  for (uint32_t y = 0; y < halfH; ++y)
    for (uint32_t x = 0; x < halfW; ++x)
      for (int c = 0; c < 3; ++c) {
        unsigned sum = 0;
        for (uint32_t k = 0; k < 4; ++k)
          sum += image[((2 * y + k / 2) * kWidth + 2 * x + k % 2) * 3 + c];
        half[(y * halfW + x) * 3 + c] = static_cast<unsigned char>((sum + 2) / 4);
      }

  TIFF* tif = TIFFOpen(argv[1], "w");
  if (tif == nullptr) {
    std::fprintf(stderr, "ktif-sample: cannot create %s\n", argv[1]);
    return 1;
  }
  const bool ok =
      writeLevel(tif, image, kWidth, kHeight, false) && writeLevel(tif, half, halfW, halfH, true);
  TIFFClose(tif);
  if (!ok) {
    std::fprintf(stderr, "ktif-sample: writing %s failed\n", argv[1]);
    std::remove(argv[1]);
    return 1;
  }
  std::printf("%s: %u x %u RGB, LZW, %u x %u tiles, one %u x %u overview\n", argv[1], kWidth,
              kHeight, kTile, kTile, halfW, halfH);
  return 0;
}
