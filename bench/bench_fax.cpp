// Bilevel CCITT pages read row by row: the library's own decoder through the
// raster buffer against a plain libtiff scanline loop doing the same work
// (every row decoded and unpacked to one byte per pixel, complemented for
// MinIsWhite as the host receives it).
//
// Pages: A4 at 300 dpi (2480 x 3508), document-like (lines of "text" blocks,
// rules, margins) and a noisy one, each as Group 4 and as modified Huffman
// rows, in strips of 128 rows. Environment: KTIF_BENCH_DIR (default
// /tmp/ktif-bench) holds them.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <tiffio.h>

#include "kerr.h"
#include "ktif.h"

namespace {

constexpr uint32_t kWidth = 2480, kHeight = 3508, kRows = 128;

bool documentInk(uint32_t x, uint32_t y) {
  if (x < 200 || x >= kWidth - 200 || y < 250 || y >= kHeight - 250) return false;
  if (y % 600 < 4) return true;  // rules
  uint32_t line = (y - 250) % 50, word = (x * 7 + (y / 50) * 131) % 180;
  return line < 30 && word < 150 && ((x * 2654435761u ^ y * 97u) >> 9) % 3 == 0;  // text
}

bool noiseInk(uint32_t x, uint32_t y) {
  return ((x * 2654435761u) ^ (y * 40503u)) >> 13 & 1;
}

std::string pagePath(const char* content, uint16_t compression) {
  const char* dir = std::getenv("KTIF_BENCH_DIR");
  return std::string(dir ? dir : "/tmp/ktif-bench") + "/fax-" + content + "-" +
         std::to_string(compression) + ".tif";
}

std::string pageMake(const char* content, uint16_t compression) {
  std::string path = pagePath(content, compression);
  if (TIFF* existing = TIFFOpen(path.c_str(), "r")) return TIFFClose(existing), path;
  std::string dir = path.substr(0, path.rfind('/'));
  std::system(("mkdir -p " + dir).c_str());
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  if (tif == nullptr) return "";
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, kWidth);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, kHeight);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, kRows);
  bool document = std::string(content) == "document";
  std::vector<uint8_t> row((kWidth + 7) / 8);
  for (uint32_t y = 0; y < kHeight; ++y) {
    std::fill(row.begin(), row.end(), 0);
    for (uint32_t x = 0; x < kWidth; ++x)
      if (document ? documentInk(x, y) : noiseInk(x, y)) row[x / 8] |= uint8_t(0x80 >> (x % 8));
    TIFFWriteScanline(tif, row.data(), y, 0);
  }
  TIFFClose(tif);
  return path;
}

void rate(benchmark::State& state) {
  state.SetBytesProcessed(int64_t(state.iterations()) * kWidth * kHeight);
}

void ktifPage(benchmark::State& state, const char* content, uint16_t compression) {
  std::string path = pageMake(content, compression);
  Kerr_Report* err = nullptr;
  Ktif_File* h = ktif_Open(path.c_str(), "r", &err);
  if (h == nullptr || h->faxState == nullptr) return state.SkipWithError("not the fax road");
  std::vector<uint8_t> row(kWidth);
  for (auto _ : state) {
    for (uint32_t y = 0; y < kHeight; ++y) {
      ktif_RBRasterRead(h, 0, int32_t(y), 0, row.data(), &err);
      if (err != nullptr) return state.SkipWithError("read failed");
    }
    benchmark::DoNotOptimize(row.data());
  }
  ktif_Close(h, nullptr);
  rate(state);
}

void libtiffPage(benchmark::State& state, const char* content, uint16_t compression) {
  std::string path = pageMake(content, compression);
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (tif == nullptr) return state.SkipWithError("TIFFOpen failed");
  std::vector<uint8_t> packed(TIFFScanlineSize(tif)), row(kWidth);
  for (auto _ : state) {
    for (uint32_t y = 0; y < kHeight; ++y) {
      if (TIFFReadScanline(tif, packed.data(), y, 0) < 0)
        return state.SkipWithError("TIFFReadScanline failed");
      for (uint32_t x = 0; x < kWidth; ++x) row[x] = ((packed[x / 8] >> (7 - x % 8)) & 1) ^ 1;
    }
    benchmark::DoNotOptimize(row.data());
  }
  TIFFClose(tif);
  rate(state);
}

}  // namespace

int main(int argc, char** argv) {
  const struct {
    const char* name;
    const char* content;
    uint16_t compression;
  } pages[] = {{"g4_document", "document", COMPRESSION_CCITTFAX4},
               {"g4_noise", "noise", COMPRESSION_CCITTFAX4},
               {"mh_document", "document", COMPRESSION_CCITTRLE},
               {"mh_noise", "noise", COMPRESSION_CCITTRLE}};
  for (const auto& p : pages) {
    benchmark::RegisterBenchmark((std::string("ktifPage/") + p.name).c_str(), ktifPage, p.content,
                                 p.compression)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((std::string("libtiffPage/") + p.name).c_str(), libtiffPage,
                                 p.content, p.compression)
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
