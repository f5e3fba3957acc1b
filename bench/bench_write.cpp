// Write throughput of the raster buffer against a plain libtiff loop writing
// the same blocks, on one thread.
//
// Each run writes one 8-bit grey image whole, from creation to close:
//   ktif     an empty file opened with ktif_Open, described, created with
//            ktif_CreateBaseLineTIFF, every raster-buffer block written with
//            ktif_RBRasterWrite, finished by ktif_Close;
//   libtiff  TIFFOpen, the tags, every strip or tile written with
//            TIFFWriteEncodedStrip / TIFFWriteEncodedTile, TIFFClose.
// Both sides get the same pixels, cut into their blocks before the timing
// starts. Each benchmark starts after a sync; each iteration writes a new
// file (its predecessor is removed untimed); the last one is read back
// (untimed) and compared. Two libtiff controls on uncompressed strips open an
// empty file made first, as a host makes one for ktif, with and without
// truncating it.
//
// Environment: KTIF_BENCH_DIR (default /tmp/ktif-bench) takes the files,
// which are removed after each benchmark; KTIF_BENCH_BIG=1 adds the 1 GiB
// write in a fresh child process and its peak memory.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <tiffio.h>

#include "bench_images.h"
#include "kerr.h"
#include "ktif.h"

namespace {

// The peak-memory target of the 1 GiB write, and the throughput target.
constexpr double kPeakTargetMiB = 64;
constexpr double kRatioTarget = 0.9;

struct WriteLayout {
  std::string name;
  int32_t width;
  int32_t height;
  uint16_t compression;  // TIFF Compression code
  int32_t blockWidth;    // the image width: strips
  int32_t blockHeight;
  bool big;  // written only on request, in a child process
};

const std::vector<WriteLayout>& layouts() {
  static const std::vector<WriteLayout> table = {
      {"gray8_strips_none", 8192, 8192, COMPRESSION_NONE, 8192, 16, false},
      {"gray8_tiles_lzw", 8192, 8192, COMPRESSION_LZW, 256, 256, false},
      {"gray8_tiles_deflate", 8192, 8192, COMPRESSION_ADOBE_DEFLATE, 256, 256, false},
      {"big_gray8_strips_none", 32768, 32768, COMPRESSION_NONE, 32768, 16, true},
  };
  return table;
}

const WriteLayout* layoutNamed(const std::string& name) {
  for (const WriteLayout& layout : layouts())
    if (layout.name == name) return &layout;
  return nullptr;
}

// A ktif run: the layout, and the raster-buffer block when it is not the
// TIFF block.
struct KtifCase {
  const WriteLayout* layout;
  int32_t rbWidth;
  int32_t rbHeight;
  bool cut() const { return rbWidth != layout->blockWidth || rbHeight != layout->blockHeight; }
};

std::string filePath(const WriteLayout& layout, const char* road) {
  return benchDirectory() + "/write_" + layout.name + "_" + road + ".tif";
}

int64_t imageBytes(const WriteLayout& layout) {
  return int64_t{layout.width} * layout.height;
}

// ---- the pixels -------------------------------------------------------------

// The whole scene of an image held in memory, made once per size.
const std::vector<uint8_t>& sceneRaster(int32_t width, int32_t height) {
  static std::map<std::pair<int32_t, int32_t>, std::vector<uint8_t>> rasters;
  std::vector<uint8_t>& raster = rasters[{width, height}];
  if (!raster.empty()) return raster;
  raster.resize(static_cast<size_t>(width) * height);
  BenchScene scene(width, height, 0);
  for (int32_t y = 0; y < height; ++y) scene.wholeRow(y, raster.data() + size_t(y) * width);
  return raster;
}

// The scene cut into blocks of one size, row-major, each block zero beyond
// the image. Held whole, cut from the raster before the timing; or, for an
// image too big to hold, made one strip at a time as it is asked for.
class BlockSource {
 public:
  BlockSource(const WriteLayout& layout, int32_t blockWidth, int32_t blockHeight, bool held)
      : width_(layout.width),
        height_(layout.height),
        blockWidth_(blockWidth),
        blockHeight_(blockHeight),
        rows_((layout.height + blockHeight - 1) / blockHeight),
        columns_((layout.width + blockWidth - 1) / blockWidth),
        held_(held),
        scene_(held ? 0 : layout.width, held ? 0 : layout.height, 0),
        store_(blockBytes() * (held ? size_t(rows_) * columns_ : 1)) {
    if (held) cut(sceneRaster(width_, height_));
  }

  int32_t rows() const { return rows_; }
  int32_t columns() const { return columns_; }
  int32_t blockWidth() const { return blockWidth_; }
  int32_t blockHeight() const { return blockHeight_; }
  size_t blockBytes() const { return size_t(blockWidth_) * blockHeight_; }
  // Image rows in block row `row`.
  int32_t rowsIn(int32_t row) const { return std::min(blockHeight_, height_ - row * blockHeight_); }

  unsigned char* block(int32_t row, int32_t column) {
    if (held_) return store_.data() + blockBytes() * (size_t(row) * columns_ + column);
    // Made as asked: strips, whose rows are whole image rows.
    for (int32_t j = 0; j < rowsIn(row); ++j)
      scene_.wholeRow(row * blockHeight_ + j, store_.data() + size_t(j) * blockWidth_);
    return store_.data();
  }

 private:
  void cut(const std::vector<uint8_t>& raster) {
    for (int32_t r = 0; r < rows_; ++r)
      for (int32_t c = 0; c < columns_; ++c) {
        unsigned char* out = block(r, c);
        const int32_t x0 = c * blockWidth_, count = std::min(blockWidth_, width_ - x0);
        for (int32_t j = 0; j < rowsIn(r); ++j)
          std::memcpy(out + size_t(j) * blockWidth_,
                      raster.data() + size_t(r * blockHeight_ + j) * width_ + x0, size_t(count));
      }
  }

  int32_t width_, height_, blockWidth_, blockHeight_, rows_, columns_;
  bool held_;
  BenchScene scene_;
  std::vector<uint8_t> store_;
};

// ---- ktif -------------------------------------------------------------------

// A handle on a new, empty file at `path`, described like `layout` and
// created, ready for raster-buffer writes of `rbWidth` x `rbHeight`.
Ktif_File* ktifCreate(const WriteLayout& layout, const std::string& path, int32_t rbWidth,
                      int32_t rbHeight, std::string* error) {
  std::FILE* empty = std::fopen(path.c_str(), "wb");
  if (empty == nullptr) return *error = "cannot create " + path, nullptr;
  std::fclose(empty);
  Kerr_Report* err = nullptr;
  Ktif_File* handle = ktif_Open(path.c_str(), "w", &err);
  if (handle == nullptr) return *error = "ktif_Open: " + benchReportText(&err), nullptr;
  handle->width = layout.width;
  handle->height = layout.height;
  handle->samplesPerPixel = 1;
  handle->bitsPerSample = 8;
  handle->bytesPerSample = 1;
  handle->photometric = PHOTOMETRIC_MINISBLACK;
  handle->planarConfig = PLANARCONFIG_CONTIG;
  handle->compression = layout.compression;
  handle->blockWidth = layout.blockWidth;
  handle->blockHeight = layout.blockHeight;
  handle->pixelType = KTIF_PIXEL_U8;
  handle->rbWrite = 1;
  handle->rbBlockWidth = rbWidth;
  handle->rbBlockHeight = rbHeight;
  if (ktif_CreateBaseLineTIFF(handle, nullptr, &err) == handle) return handle;
  *error = "ktif_CreateBaseLineTIFF: " + benchReportText(&err);
  ktif_Close(handle, nullptr);
  return nullptr;
}

bool ktifWrite(const WriteLayout& layout, const std::string& path, BlockSource& source,
               std::string* error) {
  Ktif_File* handle = ktifCreate(layout, path, source.blockWidth(), source.blockHeight(), error);
  if (handle == nullptr) return false;
  Kerr_Report* err = nullptr;
  for (int32_t r = 0; r < source.rows() && err == nullptr; ++r)
    for (int32_t c = 0; c < source.columns() && err == nullptr; ++c)
      ktif_RBRasterWrite(&handle, 0, r, c, source.block(r, c), &err);
  const bool ok = err == nullptr;
  if (!ok) *error = "ktif_RBRasterWrite: " + benchReportText(&err);
  ktif_Close(handle, nullptr);
  return ok;
}

// ---- plain libtiff ------------------------------------------------------------

// How the libtiff loop comes by its file: a new one (the plain way), or an
// empty file made first, as a host makes one for ktif, which TIFFOpen's "w"
// truncates; or that empty file opened without truncation. On ext4 a file
// truncated to nothing is flushed whole when it is closed, and written more
// slowly before: the two controls show what that costs.
enum class PlainFile { kNew, kEmptyTruncated, kEmptyKept };

TIFF* plainOpen(const std::string& path, PlainFile file) {
  if (file != PlainFile::kNew) {
    std::FILE* empty = std::fopen(path.c_str(), "wb");
    if (empty == nullptr) return nullptr;
    std::fclose(empty);
  }
  if (file != PlainFile::kEmptyKept) return TIFFOpen(path.c_str(), "w");
  const int fd = open(path.c_str(), O_RDWR);
  TIFF* tiff = fd < 0 ? nullptr : TIFFFdOpen(fd, path.c_str(), "w");
  if (tiff == nullptr && fd >= 0) close(fd);
  return tiff;
}

TIFF* plainCreate(const WriteLayout& layout, const std::string& path, PlainFile file) {
  TIFF* tiff = plainOpen(path, file);
  if (tiff == nullptr) return nullptr;
  TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(layout.width));
  TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(layout.height));
  TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
  TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tiff, TIFFTAG_COMPRESSION, layout.compression);
  if (layout.blockWidth == layout.width) {
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(layout.blockHeight));
  } else {
    TIFFSetField(tiff, TIFFTAG_TILEWIDTH, static_cast<uint32_t>(layout.blockWidth));
    TIFFSetField(tiff, TIFFTAG_TILELENGTH, static_cast<uint32_t>(layout.blockHeight));
  }
  return tiff;
}

bool plainWrite(const WriteLayout& layout, const std::string& path, PlainFile file,
                BlockSource& source, std::string* error) {
  TIFF* tiff = plainCreate(layout, path, file);
  if (tiff == nullptr) return *error = "TIFFOpen failed", false;
  const bool strips = layout.blockWidth == layout.width;
  bool ok = true;
  for (int32_t r = 0; r < source.rows() && ok; ++r)
    for (int32_t c = 0; c < source.columns() && ok; ++c) {
      unsigned char* data = source.block(r, c);
      ok = (strips ? TIFFWriteEncodedStrip(tiff, uint32_t(r), data,
                                           tmsize_t(source.rowsIn(r)) * layout.width)
                   : TIFFWriteEncodedTile(tiff, uint32_t(r * source.columns() + c), data,
                                          tmsize_t(source.blockBytes()))) >= 0;
    }
  ok = TIFFFlush(tiff) == 1 && ok;
  TIFFClose(tiff);
  if (!ok) *error = "libtiff write failed";
  return ok;
}

// ---- checks -----------------------------------------------------------------

// Whether the file at `path` decodes, block by block, to the scene of its
// size; read with libtiff.
bool writtenMatches(const std::string& path, std::string* error) {
  TIFF* tiff = TIFFOpen(path.c_str(), "r");
  if (tiff == nullptr) return *error = "cannot read back " + path, false;
  uint32_t width = 0, height = 0, blockWidth = 0, blockHeight = 0;
  TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
  const bool tiled = TIFFIsTiled(tiff);
  if (tiled) {
    TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &blockWidth);
    TIFFGetField(tiff, TIFFTAG_TILELENGTH, &blockHeight);
  } else {
    blockWidth = width;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &blockHeight);
  }
  const std::vector<uint8_t>& raster = sceneRaster(int32_t(width), int32_t(height));
  std::vector<unsigned char> block(size_t(blockWidth) * blockHeight);
  bool same = blockWidth > 0 && blockHeight > 0;
  for (uint32_t y0 = 0; same && y0 < height; y0 += blockHeight)
    for (uint32_t x0 = 0; same && x0 < width; x0 += blockWidth) {
      same = (tiled ? TIFFReadEncodedTile(tiff, TIFFComputeTile(tiff, x0, y0, 0, 0), block.data(),
                                          tmsize_t(block.size()))
                    : TIFFReadEncodedStrip(tiff, TIFFComputeStrip(tiff, y0, 0), block.data(),
                                           tmsize_t(block.size()))) >= 0;
      const uint32_t count = std::min(blockWidth, width - x0);
      for (uint32_t j = 0; same && j < blockHeight && y0 + j < height; ++j)
        same = std::memcmp(block.data() + size_t(j) * blockWidth,
                           raster.data() + size_t(y0 + j) * width + x0, count) == 0;
    }
  TIFFClose(tiff);
  if (!same) *error = path + " does not hold the pixels written";
  return same;
}

double fileMB(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 ? double(info.st_size) / 1e6 : 0;
}

// Untimed, after a run: the file holds what was written; its size is shown,
// then it goes (after a failed run as well).
void afterRun(benchmark::State& state, const std::string& path) {
  std::string error;
  if (!state.error_occurred() && !writtenMatches(path, &error)) state.SkipWithError(error.c_str());
  state.counters["file_MB"] = fileMB(path);
  std::remove(path.c_str());
}

// ---- benchmarks -------------------------------------------------------------

// Every timed write makes a new file: the one before is removed untimed, so
// that no run pays for truncating its predecessor's pages.
void previousRemove(benchmark::State& state, const std::string& path) {
  state.PauseTiming();
  std::remove(path.c_str());
  state.ResumeTiming();
}

// Untimed, before a run: the pixels cut for it, and the disk done with what
// the runs before left to write, so that no run inherits their writeback.
BlockSource runSetUp(const WriteLayout& layout, int32_t blockWidth, int32_t blockHeight) {
  BlockSource source(layout, blockWidth, blockHeight, true);
  sync();
  return source;
}

std::string ktifName(const KtifCase& c) {
  std::string name = "write/ktif/" + c.layout->name;
  if (c.cut()) name += "/rb_" + std::to_string(c.rbWidth) + "x" + std::to_string(c.rbHeight);
  return name;
}

std::string plainName(const WriteLayout& layout, PlainFile file = PlainFile::kNew) {
  return "write/libtiff/" + layout.name +
         (file == PlainFile::kEmptyTruncated ? "/on_empty_file"
          : file == PlainFile::kEmptyKept    ? "/on_empty_file_kept"
                                             : "");
}

void plainBench(benchmark::State& state, const WriteLayout* layout, PlainFile file) {
  BlockSource source = runSetUp(*layout, layout->blockWidth, layout->blockHeight);
  const std::string path = filePath(*layout, "libtiff");
  std::string error;
  int64_t bytes = 0;
  for (auto _ : state) {
    previousRemove(state, path);
    if (!plainWrite(*layout, path, file, source, &error)) {
      state.SkipWithError(error.c_str());
      break;
    }
    bytes += imageBytes(*layout);
  }
  state.SetBytesProcessed(bytes);
  afterRun(state, path);
}

void ktifBench(benchmark::State& state, KtifCase c) {
  BlockSource source = runSetUp(*c.layout, c.rbWidth, c.rbHeight);
  const std::string path = filePath(*c.layout, "ktif");
  std::string error;
  int64_t bytes = 0;
  double elapsed = 0;  // timed part only, on the framework's clock
  for (auto _ : state) {
    previousRemove(state, path);
    const double start = benchSeconds(CLOCK_THREAD_CPUTIME_ID);
    if (!ktifWrite(*c.layout, path, source, &error)) {
      state.SkipWithError(error.c_str());
      break;
    }
    elapsed += benchSeconds(CLOCK_THREAD_CPUTIME_ID) - start;
    bytes += imageBytes(*c.layout);
  }
  state.SetBytesProcessed(bytes);
  benchRatioSet(state, plainName(*c.layout), bytes, elapsed);
  afterRun(state, path);
}

// ---- peak memory ------------------------------------------------------------

// The child of a peak-memory run: a fresh process writes the big image, made
// a strip at a time, and prints its peak.
int peakChild(const char* road, const char* path) {
  const long start = benchResidentKiB();
  const WriteLayout& layout = *layoutNamed("big_gray8_strips_none");
  BlockSource source(layout, layout.blockWidth, layout.blockHeight, false);
  std::string error;
  const bool ok = std::strcmp(road, "ktif") == 0
                      ? ktifWrite(layout, path, source, &error)
                      : plainWrite(layout, path, PlainFile::kNew, source, &error);
  if (!ok) return std::fprintf(stderr, "%s\n", error.c_str()), 1;
  benchPeakPrint(start);
  return 0;
}

void peakBench(benchmark::State& state, const WriteLayout* layout, const char* road) {
  const std::string path = filePath(*layout, road);
  BenchPeak peak;
  std::string error;
  int64_t bytes = 0;
  sync();
  const double start = benchSeconds(CLOCK_MONOTONIC);
  for (auto _ : state) {
    std::remove(path.c_str());
    if (!benchPeakRun(road, path, &peak, &error)) {
      state.SkipWithError(error.c_str());
      break;
    }
    bytes += imageBytes(*layout);
  }
  const double elapsed = benchSeconds(CLOCK_MONOTONIC) - start;
  state.SetBytesProcessed(bytes);
  benchPeakCountersSet(state, peak);
  if (std::strcmp(road, "ktif") == 0)
    benchRatioSet(state, "peak/libtiff/" + layout->name, bytes, elapsed);
  state.counters["file_MB"] = fileMB(path);
  std::remove(path.c_str());
}

std::vector<KtifCase> ktifCases(const WriteLayout& layout) {
  std::vector<KtifCase> cases = {{&layout, layout.blockWidth, layout.blockHeight}};
  // Raster-buffer blocks five tiles wide: the cost of cutting them up.
  if (layout.compression == COMPRESSION_LZW && layout.blockWidth != layout.width)
    cases.push_back({&layout, 5 * layout.blockWidth, layout.blockHeight});
  return cases;
}

void benchmarksRegister(bool withBig) {
  // The peak-memory runs go first, while this process is still small.
  for (const WriteLayout& layout : layouts()) {
    if (!layout.big || !withBig) continue;
    for (const char* road : {"libtiff", "ktif"})
      benchmark::RegisterBenchmark(("peak/" + std::string(road) + "/" + layout.name).c_str(),
                                   peakBench, &layout, road)
          ->Iterations(1)
          ->UseRealTime()
          ->Unit(benchmark::kMillisecond);
  }
  for (const WriteLayout& layout : layouts()) {
    if (layout.big) continue;
    benchmark::RegisterBenchmark(plainName(layout).c_str(), plainBench, &layout, PlainFile::kNew)
        ->Unit(benchmark::kMillisecond);
    for (const KtifCase& c : ktifCases(layout))
      benchmark::RegisterBenchmark(ktifName(c).c_str(), ktifBench, c)
          ->Unit(benchmark::kMillisecond);
    // The controls, where writing is cheap enough for the flush to show.
    if (layout.compression == COMPRESSION_NONE)
      for (PlainFile file : {PlainFile::kEmptyTruncated, PlainFile::kEmptyKept})
        benchmark::RegisterBenchmark(plainName(layout, file).c_str(), plainBench, &layout, file)
            ->Unit(benchmark::kMillisecond);
  }
}

std::string layoutText(const WriteLayout& layout) {
  std::string text = std::to_string(layout.width) + " x " + std::to_string(layout.height) + ", ";
  text += layout.compression == COMPRESSION_NONE  ? "uncompressed"
          : layout.compression == COMPRESSION_LZW ? "LZW"
                                                  : "Deflate";
  if (layout.blockWidth == layout.width)
    return text + ", " + std::to_string(layout.blockHeight) + " rows per strip";
  return text + ", " + std::to_string(layout.blockWidth) + " x " +
         std::to_string(layout.blockHeight) + " tiles";
}

// The target applies to the timed in-process runs; the child runs time the
// making of the pixels and the disk as well.
void summaryRow(const char* workload, const WriteLayout& layout, const std::string& rb,
                const std::string& plain, const std::string& ours) {
  const double p = benchRateOf(plain) / 1e6, k = benchRateOf(ours) / 1e6;
  if (p <= 0 || k <= 0) return;
  char target[32] = "-";
  if (!layout.big)
    std::snprintf(target, sizeof target, "%.2f %s", kRatioTarget,
                  k / p >= kRatioTarget ? "met" : "MISSED");
  std::printf("| %s | %s | %s | %.0f | %.0f | %.2f | %s |\n", workload, layoutText(layout).c_str(),
              rb.c_str(), p, k, k / p, target);
}

void summaryPrint() {
  std::printf(
      "\n| workload | image layout | ktif raster-buffer block | libtiff MB/s | ktif MB/s | ratio "
      "| target |\n|---|---|---|---:|---:|---:|---|\n");
  for (const WriteLayout& layout : layouts())
    for (const KtifCase& c : ktifCases(layout)) {
      const std::string rb = std::to_string(c.rbWidth) + " x " + std::to_string(c.rbHeight);
      if (layout.big)
        summaryRow("whole (child, wall)", layout, rb, "peak/libtiff/" + layout.name,
                   "peak/ktif/" + layout.name);
      else
        summaryRow("whole", layout, rb, plainName(layout), ktifName(c));
      if (layout.big || c.cut()) continue;
      summaryRow("whole, libtiff on an empty file, truncated", layout, rb,
                 plainName(layout, PlainFile::kEmptyTruncated), ktifName(c));
      summaryRow("whole, libtiff on an empty file, kept", layout, rb,
                 plainName(layout, PlainFile::kEmptyKept), ktifName(c));
    }
  for (const auto& [name, mib] : benchPeaks()) {
    if (name.find("/ktif/") == std::string::npos)
      std::printf("peak RSS %s: %.1f MiB\n", name.c_str(), mib);
    else
      std::printf("peak RSS %s: %.1f MiB (target < %.0f MiB: %s)\n", name.c_str(), mib,
                  kPeakTargetMiB, mib < kPeakTargetMiB ? "met" : "MISSED");
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--peak-child") == 0) return peakChild(argv[2], argv[3]);

  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmarksRegister(benchBigWanted());

  BenchReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  summaryPrint();
  benchmark::Shutdown();
  return 0;
}
