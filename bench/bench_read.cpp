// Read throughput of the raster buffer against a plain libtiff loop doing the
// same work, on one thread with a warm page cache.
//
// Workloads, each run through ktif and through libtiff side by side:
//   whole   every raster-buffer block of every layer (ktif); every strip or
//           tile decoded into one reused buffer, or every scanline of a strip
//           too large to decode whole (libtiff);
//   window  256 random 256 x 256 windows on the 256-pixel grid, every layer,
//           with the raster-buffer block size preferences set to 256 (ktif);
//           the strips or tiles covering each window decoded with a one-block
//           reuse and the window copied out (libtiff);
//   layers  a pixel-interleaved image read block by block, layers 0, 1, 2 of
//           each block in turn, counting the TIFF blocks decoded (ktif); every
//           tile decoded once (libtiff).
// Bytes processed count delivered pixels in the host layout (one byte per
// pixel for 4-bit data) on both sides, so the rates compare directly.
//
// Environment: KTIF_BENCH_DIR (default /tmp/ktif-bench) holds the images;
// KTIF_BENCH_BIG=1 adds the 1 GiB images and their peak-memory benchmarks.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <tiffio.h>

#include "bench_images.h"
#include "kdms.h"
#include "kerr.h"
#include "kpmg.h"
#include "ktif.h"

namespace {

constexpr int32_t kWindowSide = 256;
constexpr int kWindowCount = 256;
constexpr unsigned kWindowSeed = 20240611;

struct Window {
  int32_t x0;
  int32_t y0;
};

std::vector<Window> windowsFor(const BenchImage& image) {
  std::mt19937 random(kWindowSeed);
  std::uniform_int_distribution<int32_t> row(0, (image.height - 1) / kWindowSide);
  std::uniform_int_distribution<int32_t> column(0, (image.width - 1) / kWindowSide);
  std::vector<Window> windows(kWindowCount);
  for (Window& w : windows) {
    w.y0 = row(random) * kWindowSide;
    w.x0 = column(random) * kWindowSide;
  }
  return windows;
}

int64_t deliveredBytes(const BenchImage& image, int64_t pixels) {
  return pixels * image.samples * (image.bits < 8 ? 1 : image.bits / 8);
}

// ---- ktif -----------------------------------------------------------------

Ktif_File* ktifOpen(const BenchImage& image, std::string* error) {
  Kerr_Report* err = nullptr;
  Ktif_File* handle = ktif_Open(image.path.c_str(), "r", &err);
  if (handle == nullptr) *error = "ktif_Open: " + benchReportText(&err);
  kerr_DeleteErrorReportEx(&err);
  return handle;
}

size_t rbBlockBytes(const Ktif_File* handle) {
  return static_cast<size_t>(handle->rbBlockWidth) * handle->rbBlockHeight *
         static_cast<size_t>(handle->bytesPerSample);
}

bool ktifBlock(Ktif_File* handle, int32_t layer, int32_t row, int32_t column, unsigned char* buffer,
               std::string* error) {
  Kerr_Report* err = nullptr;
  ktif_RBRasterRead(handle, layer, row, column, buffer, &err);
  if (err == nullptr) return true;
  *error = "ktif_RBRasterRead: " + benchReportText(&err);
  return false;
}

bool ktifWhole(Ktif_File* handle, unsigned char* buffer, std::string* error) {
  const int32_t rows = (handle->height + handle->rbBlockHeight - 1) / handle->rbBlockHeight;
  const int32_t columns = (handle->width + handle->rbBlockWidth - 1) / handle->rbBlockWidth;
  for (int32_t layer = 0; layer < handle->samplesPerPixel; ++layer)
    for (int32_t r = 0; r < rows; ++r)
      for (int32_t c = 0; c < columns; ++c)
        if (!ktifBlock(handle, layer, r, c, buffer, error)) return false;
  return true;
}

// Block by block, every layer of a block before the next block, as a host
// assembling pixels of all layers does. The TIFF blocks decoded (the cache's
// read callbacks) go to *decodes.
bool ktifLayers(Ktif_File* handle, unsigned char* buffer, int64_t* decodes, std::string* error) {
  const int32_t rows = (handle->height + handle->rbBlockHeight - 1) / handle->rbBlockHeight;
  const int32_t columns = (handle->width + handle->rbBlockWidth - 1) / handle->rbBlockWidth;
  for (int32_t r = 0; r < rows; ++r)
    for (int32_t c = 0; c < columns; ++c)
      for (int32_t layer = 0; layer < handle->samplesPerPixel; ++layer)
        if (!ktifBlock(handle, layer, r, c, buffer, error)) return false;
  Kdms_CacheStats stats;
  kdms_CacheStatsGet(handle->cache, &stats);
  *decodes = stats.reads;
  return true;
}

// Each window of each layer: straight into the window buffer when the
// raster-buffer block is the window; otherwise from the raster-buffer blocks
// that cover it, as a host with another block size would assemble it.
bool ktifWindows(Ktif_File* handle, const std::vector<Window>& windows, unsigned char* block,
                 unsigned char* window, std::string* error) {
  const int32_t bw = handle->rbBlockWidth, bh = handle->rbBlockHeight;
  const size_t element = static_cast<size_t>(handle->bytesPerSample);
  const bool direct = bw == kWindowSide && bh == kWindowSide;
  for (const Window& w : windows)
    for (int32_t layer = 0; layer < handle->samplesPerPixel; ++layer) {
      if (direct) {
        if (!ktifBlock(handle, layer, w.y0 / bh, w.x0 / bw, window, error)) return false;
        continue;
      }
      const int32_t y1 = std::min(w.y0 + kWindowSide, handle->height);
      const int32_t x1 = std::min(w.x0 + kWindowSide, handle->width);
      for (int32_t r = w.y0 / bh; r <= (y1 - 1) / bh; ++r)
        for (int32_t c = w.x0 / bw; c <= (x1 - 1) / bw; ++c) {
          if (!ktifBlock(handle, layer, r, c, block, error)) return false;
          const int32_t ya = std::max(w.y0, r * bh), yb = std::min(y1, (r + 1) * bh);
          const int32_t xa = std::max(w.x0, c * bw), xb = std::min(x1, (c + 1) * bw);
          for (int32_t y = ya; y < yb; ++y)
            std::memcpy(window + ((y - w.y0) * kWindowSide + (xa - w.x0)) * element,
                        block + ((y - r * bh) * static_cast<size_t>(bw) + (xa - c * bw)) * element,
                        (xb - xa) * element);
        }
    }
  return true;
}

// ---- plain libtiff ----------------------------------------------------------

// Strips beyond this are read by scanline, as a libtiff program must read a
// strip it cannot hold whole.
constexpr tmsize_t kLargestPlainStrip = tmsize_t(256) << 20;

struct PlainTiff {
  TIFF* tiff = nullptr;
  bool tiled = false;
  bool scanlines = false;
  uint32_t width = 0, height = 0, blockWidth = 0, blockHeight = 0;
  uint16_t bits = 8, samples = 1, planar = 1;
  size_t rowBytes = 0;
  tmsize_t blockSize = 0;
  uint32_t blockCount = 0;

  ~PlainTiff() {
    if (tiff) TIFFClose(tiff);
  }
  bool open(const BenchImage& image, std::string* error) {
    tiff = TIFFOpen(image.path.c_str(), "r");
    if (tiff == nullptr) return *error = "TIFFOpen failed", false;
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
    tiled = TIFFIsTiled(tiff);
    if (tiled) {
      TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &blockWidth);
      TIFFGetField(tiff, TIFFTAG_TILELENGTH, &blockHeight);
      blockSize = TIFFTileSize(tiff);
      blockCount = TIFFNumberOfTiles(tiff);
    } else {
      blockWidth = width;
      TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &blockHeight);
      blockHeight = std::min(blockHeight, height);
      blockSize = TIFFStripSize(tiff);
      blockCount = TIFFNumberOfStrips(tiff);
      scanlines = blockSize > kLargestPlainStrip;
      if (scanlines) blockSize = TIFFScanlineSize(tiff);
    }
    if (samples > 1 && planar != PLANARCONFIG_SEPARATE && image.use != BenchUse::kLayers)
      return *error = "interleaved samples are not part of this loop", false;
    rowBytes = (static_cast<size_t>(blockWidth) * bits + 7) / 8;
    return true;
  }
  bool read(uint32_t block, unsigned char* buffer) const {
    return (tiled ? TIFFReadEncodedTile(tiff, block, buffer, blockSize)
                  : TIFFReadEncodedStrip(tiff, block, buffer, blockSize)) >= 0;
  }
};

// Sub-byte blocks are widened to a byte per pixel as well, so that both sides
// deliver the same pixels.
bool plainWhole(const PlainTiff& t, unsigned char* buffer, unsigned char* pixels,
                std::string* error) {
  const size_t bytes = static_cast<size_t>(t.blockSize);
  if (t.scanlines) {
    for (uint32_t y = 0; y < t.height; ++y)
      if (TIFFReadScanline(t.tiff, buffer, y, 0) != 1)
        return *error = "libtiff scanline read failed", false;
    return true;
  }
  for (uint32_t block = 0; block < t.blockCount; ++block) {
    if (!t.read(block, buffer)) return *error = "libtiff block read failed", false;
    if (t.bits == 4)
      for (size_t i = 0; i < bytes; ++i) {
        pixels[2 * i] = buffer[i] >> 4;
        pixels[2 * i + 1] = buffer[i] & 15;
      }
  }
  return true;
}

// `count` pixels from pixel `first` of a block row, one byte each.
void copyOut(const PlainTiff& t, const unsigned char* row, uint32_t first, uint32_t count,
             unsigned char* out) {
  if (t.bits == 8) {
    std::memcpy(out, row + first, count);
    return;
  }
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t x = first + i;
    unsigned char byte = row[x >> 1];
    out[i] = (x & 1) ? (byte & 15) : (byte >> 4);
  }
}

bool plainWindows(const PlainTiff& t, const std::vector<Window>& windows, unsigned char* block,
                  unsigned char* window, std::string* error) {
  int64_t held = -1;
  for (const Window& w : windows)
    for (uint16_t sample = 0; sample < t.samples; ++sample) {
      const uint32_t x0 = static_cast<uint32_t>(w.x0), y0 = static_cast<uint32_t>(w.y0);
      const uint32_t x1 = std::min(x0 + kWindowSide, t.width);
      const uint32_t y1 = std::min(y0 + kWindowSide, t.height);
      for (uint32_t ty = y0 / t.blockHeight * t.blockHeight; ty < y1; ty += t.blockHeight)
        for (uint32_t tx = x0 / t.blockWidth * t.blockWidth; tx < x1; tx += t.blockWidth) {
          uint32_t index = t.tiled ? TIFFComputeTile(t.tiff, tx, ty, 0, sample)
                                   : TIFFComputeStrip(t.tiff, ty, sample);
          if (index != held) {
            if (!t.read(index, block)) return *error = "libtiff block read failed", false;
            held = index;
          }
          const uint32_t ya = std::max(y0, ty), yb = std::min(y1, ty + t.blockHeight);
          const uint32_t xa = std::max(x0, tx), xb = std::min(x1, tx + t.blockWidth);
          for (uint32_t y = ya; y < yb; ++y)
            copyOut(t, block + (y - ty) * t.rowBytes, xa - tx, xb - xa,
                    window + (y - y0) * kWindowSide + (xa - x0));
        }
    }
  return true;
}

// ---- rates and the summary ------------------------------------------------

// The raster-buffer block of each ktif run, for the summary.
std::map<std::string, std::string>& rbSizes() {
  static std::map<std::string, std::string> table;
  return table;
}

// TIFF blocks decoded by one run of each layers benchmark, and the blocks
// the image has.
std::map<std::string, std::pair<int64_t, int64_t>>& decodeCounts() {
  static std::map<std::string, std::pair<int64_t, int64_t>> table;
  return table;
}

void summaryPrint(const std::vector<BenchImage>& images) {
  std::printf(
      "\n| workload | image | ktif raster-buffer block | libtiff MB/s | ktif MB/s | ratio "
      "| target |\n|---|---|---|---:|---:|---:|---|\n");
  for (const char* workload : {"whole", "window", "layers", "peak"})
    for (const BenchImage& image : images) {
      std::string plain = std::string(workload) + "/libtiff/" + image.name;
      std::string ours = std::string(workload) + "/ktif/" + image.name;
      double p = benchRateOf(plain) / 1e6, k = benchRateOf(ours) / 1e6;
      if (p <= 0 || k <= 0) continue;
      double target = image.use != BenchUse::kStandard        ? 0.9
                      : image.compression == COMPRESSION_NONE ? 0.5
                                                              : 0.95;
      // The peak runs read the big image whole in a child process, timed by the wall clock.
      const char* label = std::strcmp(workload, "peak") == 0 ? "whole (child, wall)" : workload;
      std::printf("| %s | %s | %s | %.0f | %.0f | %.2f | %.2f %s |\n", label, image.name.c_str(),
                  rbSizes()[ours].c_str(), p, k, k / p, target, k / p >= target ? "met" : "MISSED");
    }
  for (const auto& [name, mib] : benchPeaks())
    std::printf("peak RSS %s: %.1f MiB\n", name.c_str(), mib);
  for (const auto& [name, counts] : decodeCounts())
    std::printf("TIFF blocks decoded by %s: %lld of %lld\n", name.c_str(),
                static_cast<long long>(counts.first), static_cast<long long>(counts.second));
}

// ---- benchmarks -------------------------------------------------------------

// Sets the window preferences for one benchmark and takes them away after.
class WindowPreferences {
 public:
  WindowPreferences() {
    kpmg_SetPreference("tiff", "rb_block_width", "256", nullptr);
    kpmg_SetPreference("tiff", "rb_block_height", "256", nullptr);
  }
  ~WindowPreferences() {
    kpmg_SetPreference("tiff", "rb_block_width", nullptr, nullptr);
    kpmg_SetPreference("tiff", "rb_block_height", nullptr, nullptr);
  }
};

enum class Workload { kWhole, kWindow, kLayers };

void ktifBench(benchmark::State& state, const BenchImage* image, Workload workload,
               const std::string& name) {
  const bool window = workload == Workload::kWindow;
  std::unique_ptr<WindowPreferences> preferences;
  if (window) preferences = std::make_unique<WindowPreferences>();
  std::string error;
  // Buffers sized from a first open so that no timed iteration allocates them.
  Ktif_File* probe = ktifOpen(*image, &error);
  if (probe == nullptr) return state.SkipWithError(error.c_str());
  std::vector<unsigned char> block(rbBlockBytes(probe));
  std::vector<unsigned char> windowBuffer(kWindowSide * kWindowSide * probe->bytesPerSample);
  rbSizes()[name] =
      std::to_string(probe->rbBlockWidth) + " x " + std::to_string(probe->rbBlockHeight);
  ktif_Close(probe, nullptr);
  const std::vector<Window> windows = windowsFor(*image);
  int64_t bytes = 0;
  const double start = benchSeconds(CLOCK_THREAD_CPUTIME_ID);
  int64_t decodes = 0, blocks = 0;
  for (auto _ : state) {
    Ktif_File* handle = ktifOpen(*image, &error);
    bool ok = handle != nullptr;
    if (ok && workload == Workload::kLayers) {
      ok = ktifLayers(handle, block.data(), &decodes, &error);
      blocks = int64_t(handle->blocksPerLayer) * (handle->planarConfig == 2 ? image->samples : 1);
    } else if (ok) {
      ok = window ? ktifWindows(handle, windows, block.data(), windowBuffer.data(), &error)
                  : ktifWhole(handle, block.data(), &error);
    }
    benchmark::DoNotOptimize(block.data());
    benchmark::DoNotOptimize(windowBuffer.data());
    benchmark::ClobberMemory();
    if (handle) ktif_Close(handle, nullptr);
    if (!ok) return state.SkipWithError(error.c_str());
    bytes += window ? deliveredBytes(*image, int64_t{kWindowSide} * kWindowSide * kWindowCount)
                    : deliveredBytes(*image, int64_t{image->width} * image->height);
  }
  const double elapsed = benchSeconds(CLOCK_THREAD_CPUTIME_ID) - start;
  state.SetBytesProcessed(bytes);
  benchRatioSet(state, benchPartnerOf(name), bytes, elapsed);
  if (workload == Workload::kLayers) {
    state.counters["decodes"] = double(decodes);
    state.counters["tiff_blocks"] = double(blocks);
    decodeCounts()[name] = {decodes, blocks};
  }
}

void plainBench(benchmark::State& state, const BenchImage* image, Workload workload) {
  const bool window = workload == Workload::kWindow;
  std::string error;
  PlainTiff probe;
  if (!probe.open(*image, &error)) return state.SkipWithError(error.c_str());
  std::vector<unsigned char> block(static_cast<size_t>(probe.blockSize));
  std::vector<unsigned char> pixels(probe.bits == 4 ? 2 * block.size() : 0);
  std::vector<unsigned char> windowBuffer(kWindowSide * kWindowSide);
  const std::vector<Window> windows = windowsFor(*image);
  int64_t bytes = 0;
  for (auto _ : state) {
    PlainTiff t;
    bool ok = t.open(*image, &error) &&
              (window ? plainWindows(t, windows, block.data(), windowBuffer.data(), &error)
                      : plainWhole(t, block.data(), pixels.data(), &error));
    benchmark::DoNotOptimize(pixels.data());
    benchmark::DoNotOptimize(block.data());
    benchmark::DoNotOptimize(windowBuffer.data());
    benchmark::ClobberMemory();
    if (!ok) return state.SkipWithError(error.c_str());
    bytes += window ? deliveredBytes(*image, int64_t{kWindowSide} * kWindowSide * kWindowCount)
                    : deliveredBytes(*image, int64_t{image->width} * image->height);
  }
  state.SetBytesProcessed(bytes);
}

// ---- peak memory ------------------------------------------------------------

// Raster-buffer rows read bottom-up over the last `rows` image rows, after a
// whole read: a host going back, which makes a window of a huge strip
// restart and grow to the memory budget.
constexpr int32_t kBackwardRows = 8192;

bool ktifBackward(Ktif_File* handle, unsigned char* buffer, std::string* error) {
  const int32_t rows = (handle->height + handle->rbBlockHeight - 1) / handle->rbBlockHeight;
  const int32_t columns = (handle->width + handle->rbBlockWidth - 1) / handle->rbBlockWidth;
  const int32_t last = std::max(0, rows - kBackwardRows / handle->rbBlockHeight);
  for (int32_t r = rows - 1; r >= last; --r)
    for (int32_t c = 0; c < columns; ++c)
      if (!ktifBlock(handle, 0, r, c, buffer, error)) return false;
  return true;
}

// The child of a peak-memory run: a fresh process reads the image whole
// ("ktif", "libtiff"), or whole and then its last rows backwards
// ("ktif-back"), and prints its peak.
int peakChild(const char* road, const char* path) {
  BenchImage image{"", 0, 0, 1, 8, 1, 1, 0, 0, true, path};  // the file says the rest
  long start = benchResidentKiB();
  std::string error;
  bool ok = false;
  const bool back = std::strcmp(road, "ktif-back") == 0;
  if (back || std::strcmp(road, "ktif") == 0) {
    Ktif_File* handle = ktifOpen(image, &error);
    if (handle != nullptr) {
      std::vector<unsigned char> block(rbBlockBytes(handle));
      ok = ktifWhole(handle, block.data(), &error) &&
           (!back || ktifBackward(handle, block.data(), &error));
      ktif_Close(handle, nullptr);
    }
  } else {
    PlainTiff t;
    if (t.open(image, &error)) {
      std::vector<unsigned char> block(static_cast<size_t>(t.blockSize));
      std::vector<unsigned char> pixels(t.bits == 4 ? 2 * block.size() : 0);
      ok = plainWhole(t, block.data(), pixels.data(), &error);
    }
  }
  if (!ok) return std::fprintf(stderr, "%s\n", error.c_str()), 1;
  benchPeakPrint(start);
  return 0;
}

void peakBench(benchmark::State& state, const BenchImage* image, const char* road) {
  BenchPeak peak;
  std::string error;
  int64_t bytes = 0;
  const double start = benchSeconds(CLOCK_MONOTONIC);
  for (auto _ : state) {
    if (!benchPeakRun(road, image->path, &peak, &error)) return state.SkipWithError(error.c_str());
    bytes += deliveredBytes(*image, int64_t{image->width} * image->height);
  }
  state.SetBytesProcessed(bytes);
  benchPeakCountersSet(state, peak);
  if (std::strcmp(road, "ktif") != 0) return;
  std::string name = std::string("peak/ktif/") + image->name;
  benchRatioSet(state, benchPartnerOf(name), bytes, benchSeconds(CLOCK_MONOTONIC) - start);
  if (Ktif_File* probe = ktifOpen(*image, &error)) {
    rbSizes()[name] =
        std::to_string(probe->rbBlockWidth) + " x " + std::to_string(probe->rbBlockHeight);
    ktif_Close(probe, nullptr);
  }
}

void pairRegister(const std::string& workload, const BenchImage& image, Workload kind) {
  const std::string plain = workload + "/libtiff/" + image.name;
  const std::string ours = workload + "/ktif/" + image.name;
  auto* p = benchmark::RegisterBenchmark(plain.c_str(), plainBench, &image, kind);
  auto* k = benchmark::RegisterBenchmark(ours.c_str(), ktifBench, &image, kind, ours);
  for (auto* b : {p, k}) {
    b->Unit(benchmark::kMillisecond);
    if (image.big) b->Iterations(1);  // seconds a read
  }
}

void benchmarksRegister(const std::vector<BenchImage>& images) {
  // The peak-memory runs go first, while this process is still small.
  for (const BenchImage& image : images) {
    if (!image.big) continue;
    for (const char* road : {"libtiff", "ktif", "ktif-back"}) {
      if (std::strcmp(road, "ktif-back") == 0 && image.use != BenchUse::kSingleStrip) continue;
      benchmark::RegisterBenchmark(("peak/" + std::string(road) + "/" + image.name).c_str(),
                                   peakBench, &image, road)
          ->Iterations(1)
          ->UseRealTime()
          ->Unit(benchmark::kMillisecond);
    }
  }
  for (const char* workload : {"whole", "window"})
    for (const BenchImage& image : images) {
      const bool window = std::strcmp(workload, "window") == 0;
      // Big images are read whole only when they are one huge strip; the
      // others are there for their peak memory.
      const bool wanted = image.use == BenchUse::kStandard
                              ? !image.big
                              : image.use == BenchUse::kSingleStrip && !window;
      if (wanted) pairRegister(workload, image, window ? Workload::kWindow : Workload::kWhole);
    }
  for (const BenchImage& image : images)
    if (image.use == BenchUse::kLayers) pairRegister("layers", image, Workload::kLayers);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--peak-child") == 0) return peakChild(argv[2], argv[3]);

  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

  static std::vector<BenchImage> images = benchImagesDescribe(benchDirectory(), benchBigWanted());
  std::string message;
  if (!benchImagesPrepare(images, &message)) {
    std::fprintf(stderr, "%s\n", message.c_str());
    return 1;
  }
  benchmarksRegister(images);

  BenchReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  summaryPrint(images);
  benchmark::Shutdown();
  return 0;
}
