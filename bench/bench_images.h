// The images the read benchmarks work on: described once, written once per
// machine into a directory and reused while they still match.
#ifndef KTIF_BENCH_IMAGES_H
#define KTIF_BENCH_IMAGES_H

#include <cstdint>
#include <string>
#include <vector>

struct BenchImage {
  std::string name;
  int32_t width;
  int32_t height;
  uint16_t samples;
  uint16_t bits;
  uint16_t planar;       // 1 interleaved, 2 separate planes
  uint16_t compression;  // TIFF Compression code
  uint32_t tileSide;     // 0: strips
  uint32_t rowsPerStrip;
  bool big;          // generated only on request
  std::string path;  // filled by benchImagesPrepare
  int64_t fileBytes = 0;
};

// The benchmark set; the big image is included only when `withBig` is set.
std::vector<BenchImage> benchImagesDescribe(const std::string& directory, bool withBig);

// Writes every image that is missing or does not match its description, then
// reads each file once so that the page cache is warm. Returns false with a
// message when an image cannot be written.
bool benchImagesPrepare(std::vector<BenchImage>& images, std::string* message);

#endif
