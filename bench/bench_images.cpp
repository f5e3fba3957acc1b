#include "bench_images.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <tiffio.h>

#include "kmsc.h"

namespace {

// Written into every image; an older image without it is rebuilt.
const char* kMarker = "ktif read benchmark image, scene 1";

uint64_t xorshift(uint64_t& state) {
  state ^= state << 13;
  state ^= state >> 7;
  state ^= state << 17;
  return state;
}

// One row of the block in the file's sample size: 8 bits as they are, 4 bits
// packed two to a byte, high nibble first.
void rowStore(const BenchImage& image, const std::vector<uint8_t>& values, int32_t count,
              uint8_t* out) {
  if (image.bits == 8) {
    std::memcpy(out, values.data(), static_cast<size_t>(count));
    return;
  }
  for (int32_t i = 0; i < count; i += 2) {
    uint8_t high = values[i] >> 4;
    uint8_t low = i + 1 < count ? values[i + 1] >> 4 : 0;
    out[i / 2] = static_cast<uint8_t>(high << 4 | low);
  }
}

bool matches(const BenchImage& image) {
  struct stat info;
  if (stat(image.path.c_str(), &info) != 0 || info.st_size < 1024) return false;
  TIFFErrorHandler previous = TIFFSetWarningHandler(nullptr);
  TIFFErrorHandler previousError = TIFFSetErrorHandler(nullptr);
  TIFF* tiff = TIFFOpen(image.path.c_str(), "r");
  TIFFSetWarningHandler(previous);
  TIFFSetErrorHandler(previousError);
  if (tiff == nullptr) return false;
  uint32_t width = 0, height = 0, tileWidth = 0, rows = 0;
  uint16_t samples = 0, bits = 0, planar = 0, compression = 0;
  const char* description = nullptr;
  TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &compression);
  TIFFGetField(tiff, TIFFTAG_IMAGEDESCRIPTION, &description);
  bool same = width == static_cast<uint32_t>(image.width) &&
              height == static_cast<uint32_t>(image.height) && samples == image.samples &&
              bits == image.bits && planar == image.planar && compression == image.compression &&
              description != nullptr && std::strcmp(description, kMarker) == 0;
  if (same && image.tileSide != 0)
    same = TIFFIsTiled(tiff) && TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &tileWidth) &&
           tileWidth == image.tileSide;
  else if (same)
    same = !TIFFIsTiled(tiff) && TIFFGetField(tiff, TIFFTAG_ROWSPERSTRIP, &rows) &&
           rows == image.rowsPerStrip;
  TIFFClose(tiff);
  return same;
}

// The rows of one block of every sample from x0, y0, in the file's layout:
// one plane of `sample`, or the samples side by side (pixel-interleaved).
void blockFill(const BenchImage& image, const std::vector<BenchScene>& scenes, int sample,
               int64_t x0, int64_t y0, int32_t columns, int32_t rows, size_t rowBytes,
               std::vector<uint8_t>& values, std::vector<uint8_t>& block) {
  const bool interleaved = image.planar == PLANARCONFIG_CONTIG && image.samples > 1;
  std::fill(block.begin(), block.end(), 0);
  const int first = interleaved ? 0 : sample, last = interleaved ? image.samples - 1 : sample;
  for (int s = first; s <= last; ++s) {
    uint64_t random = 0x9E3779B97F4A7C15ull ^ (static_cast<uint64_t>(y0) << 32) ^
                      static_cast<uint64_t>(x0) ^ (static_cast<uint64_t>(s) << 60);
    for (int32_t j = 0; j < rows; ++j) {
      scenes[size_t(s)].row(static_cast<int32_t>(y0 + j), static_cast<int32_t>(x0), columns, random,
                            values.data());
      uint8_t* out = block.data() + rowBytes * size_t(j);
      if (!interleaved) {
        rowStore(image, values, columns, out);
        continue;
      }
      for (int32_t i = 0; i < columns; ++i) out[size_t(i) * image.samples + size_t(s)] = values[i];
    }
  }
}

bool write(const BenchImage& image, std::string* message) {
  std::string temporary = image.path + ".part";
  TIFF* tiff = TIFFOpen(temporary.c_str(), "w");
  if (tiff == nullptr) return *message = "cannot create " + temporary, false;
  TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(image.width));
  TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(image.height));
  TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, image.samples);
  TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, image.bits);
  TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, image.planar);
  TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC,
               image.samples == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
  TIFFSetField(tiff, TIFFTAG_COMPRESSION, image.compression);
  TIFFSetField(tiff, TIFFTAG_IMAGEDESCRIPTION, kMarker);
  uint32_t blockWidth = image.tileSide ? image.tileSide : static_cast<uint32_t>(image.width);
  uint32_t blockHeight = image.tileSide ? image.tileSide : image.rowsPerStrip;
  if (image.tileSide) {
    TIFFSetField(tiff, TIFFTAG_TILEWIDTH, image.tileSide);
    TIFFSetField(tiff, TIFFTAG_TILELENGTH, image.tileSide);
  } else {
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, image.rowsPerStrip);
  }
  const bool interleaved = image.planar == PLANARCONFIG_CONTIG && image.samples > 1;
  // A strip as tall as the image is written a row at a time: libtiff
  // compresses scanlines as they come, and the strip never sits in memory.
  const bool scanlines = !image.tileSide && image.rowsPerStrip >= uint32_t(image.height);
  const size_t rowBytes =
      (static_cast<size_t>(blockWidth) * image.bits * (interleaved ? image.samples : 1) + 7) / 8;
  std::vector<uint8_t> block(rowBytes * (scanlines ? 1 : blockHeight));
  std::vector<uint8_t> values(blockWidth);
  std::vector<BenchScene> scenes;
  for (int sample = 0; sample < image.samples; ++sample)
    scenes.emplace_back(image.width, image.height, sample);
  const uint32_t stepY = scanlines ? 1 : blockHeight;
  bool ok = true;
  for (uint16_t sample = 0; ok && sample < (interleaved ? 1 : image.samples); ++sample)
    for (int64_t y0 = 0; ok && y0 < image.height; y0 += stepY)
      for (int64_t x0 = 0; ok && x0 < image.width; x0 += blockWidth) {
        int32_t columns = static_cast<int32_t>(std::min<int64_t>(blockWidth, image.width - x0));
        int32_t rows = static_cast<int32_t>(std::min<int64_t>(stepY, image.height - y0));
        blockFill(image, scenes, sample, x0, y0, columns, rows, rowBytes, values, block);
        uint32_t x = static_cast<uint32_t>(x0), y = static_cast<uint32_t>(y0);
        if (scanlines)
          ok = TIFFWriteScanline(tiff, block.data(), y, sample) == 1;
        else if (image.tileSide)
          ok = TIFFWriteEncodedTile(tiff, TIFFComputeTile(tiff, x, y, 0, sample), block.data(),
                                    static_cast<tmsize_t>(block.size())) >= 0;
        else
          ok = TIFFWriteEncodedStrip(tiff, TIFFComputeStrip(tiff, y, sample), block.data(),
                                     static_cast<tmsize_t>(rowBytes * rows)) >= 0;
      }
  TIFFClose(tiff);
  if (!ok || std::rename(temporary.c_str(), image.path.c_str()) != 0) {
    std::remove(temporary.c_str());
    return *message = "cannot write " + image.path, false;
  }
  return true;
}

void warm(BenchImage& image) {
  std::FILE* file = std::fopen(image.path.c_str(), "rb");
  if (file == nullptr) return;
  static std::vector<char> chunk(1 << 20);
  size_t got = 0;
  int64_t total = 0;
  while ((got = std::fread(chunk.data(), 1, chunk.size(), file)) > 0) total += got;
  std::fclose(file);
  image.fileBytes = total;
}

}  // namespace

std::vector<BenchImage> benchImagesDescribe(const std::string& directory, bool withBig) {
  std::vector<BenchImage> images = {
      {"gray8_strips_none", 8192, 8192, 1, 8, 1, COMPRESSION_NONE, 0, 16, false, ""},
      {"gray8_tiles_lzw", 8192, 8192, 1, 8, 1, COMPRESSION_LZW, 256, 0, false, ""},
      {"gray8_tiles_deflate", 8192, 8192, 1, 8, 1, COMPRESSION_ADOBE_DEFLATE, 256, 0, false, ""},
      {"rgb8_planar_tiles_lzw", 8192, 8192, 3, 8, 2, COMPRESSION_LZW, 256, 0, false, ""},
      {"gray4_strips_none", 8192, 8192, 1, 4, 1, COMPRESSION_NONE, 0, 16, false, ""},
  };
  BenchImage layers = {"rgb8_tiles_lzw", 8192, 8192, 3, 8, 1, COMPRESSION_LZW, 256, 0, false, ""};
  layers.use = BenchUse::kLayers;
  images.push_back(layers);
  if (withBig) {
    images.push_back(
        {"big_gray8_strips_none", 32768, 32768, 1, 8, 1, COMPRESSION_NONE, 0, 16, true, ""});
    // One strip of 1 GiB, as older writers and scanners store images.
    for (auto [name, compression] :
         {std::pair("big_gray8_strip_deflate", COMPRESSION_ADOBE_DEFLATE),
          std::pair("big_gray8_strip_lzw", COMPRESSION_LZW)}) {
      BenchImage strip = {name, 32768, 32768, 1, 8, 1, uint16_t(compression), 0, 32768, true, ""};
      strip.use = BenchUse::kSingleStrip;
      images.push_back(strip);
    }
  }
  for (BenchImage& image : images) image.path = directory + "/" + image.name + ".tif";
  return images;
}

bool benchImagesPrepare(std::vector<BenchImage>& images, std::string* message) {
  for (BenchImage& image : images) {
    if (!matches(image)) {
      std::fprintf(stderr, "writing %s\n", image.path.c_str());
      if (!write(image, message)) return false;
    }
    warm(image);
  }
  return true;
}

BenchScene::BenchScene(int32_t width, int32_t height, int sample)
    : columnWave_(width), rowWave_(height), sample_(sample) {
  const double kTwoPi = 6.283185307179586;
  for (int32_t x = 0; x < width; ++x)
    columnWave_[x] = static_cast<int16_t>(std::lround(
        55.0 * std::sin(kTwoPi * x / 1700.0 + sample) + 10.0 * std::sin(kTwoPi * x / 97.0)));
  for (int32_t y = 0; y < height; ++y)
    rowWave_[y] = static_cast<int16_t>(std::lround(
        50.0 * std::cos(kTwoPi * y / 2300.0 + 2 * sample) + 8.0 * std::cos(kTwoPi * y / 131.0)));
}

void BenchScene::row(int32_t y, int32_t x0, int32_t count, uint64_t& random, uint8_t* out) const {
  const int base = 128 + rowWave_[y];
  uint64_t bits = 0;
  for (int32_t i = 0; i < count; ++i) {
    if ((i & 15) == 0) bits = xorshift(random);
    int value = base + columnWave_[x0 + i] + static_cast<int>(bits & 3) - 1;
    bits >>= 4;
    out[i] = static_cast<uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value);
  }
}

void BenchScene::wholeRow(int32_t y, uint8_t* out) const {
  uint64_t random = 0x9E3779B97F4A7C15ull ^ (static_cast<uint64_t>(y) << 32) ^
                    (static_cast<uint64_t>(sample_) << 60);
  row(y, 0, static_cast<int32_t>(columnWave_.size()), random, out);
}

std::string benchDirectory() {
  const char* directory = std::getenv("KTIF_BENCH_DIR");
  std::string root = directory && *directory ? directory : "/tmp/ktif-bench";
  mkdir(root.c_str(), 0777);
  return root;
}

bool benchBigWanted() {
  const char* big = std::getenv("KTIF_BENCH_BIG");
  return big != nullptr && std::strcmp(big, "1") == 0;
}

std::string benchReportText(Kerr_Report** report) {
  char* text = *report ? kerr_ReportFormat(*report, 0) : nullptr;
  std::string result = text ? text : "(no report)";
  kmsc_HeapFree(text);
  kerr_DeleteErrorReportEx(report);
  return result;
}

// ---- rates ----------------------------------------------------------------

namespace {

// Bytes per second of every finished run by benchmark name: single runs, and
// the medians of repetitions when only aggregates are reported.
std::map<std::string, std::vector<double>>& rates() {
  static std::map<std::string, std::vector<double>> table;
  return table;
}
std::map<std::string, std::vector<double>>& medianRates() {
  static std::map<std::string, std::vector<double>> table;
  return table;
}
std::map<std::string, double>& peaks() {
  static std::map<std::string, double> table;
  return table;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

double benchSeconds(clockid_t clock) {
  timespec now;
  clock_gettime(clock, &now);
  return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

double benchRateOf(const std::string& name) {
  for (auto* table : {&medianRates(), &rates()}) {
    auto found = table->find(name);
    if (found != table->end() && !found->second.empty()) return median(found->second);
  }
  return 0;
}

std::string benchPartnerOf(const std::string& name) {
  std::string partner = name;
  size_t at = partner.find("/ktif/");
  if (at != std::string::npos) partner.replace(at, 6, "/libtiff/");
  return partner;
}

void benchRatioSet(benchmark::State& state, const std::string& partner, int64_t bytes,
                   double elapsed) {
  const double rate = benchRateOf(partner);
  if (rate <= 0 || elapsed <= 0) return;
  state.counters["ratio"] = static_cast<double>(bytes) / elapsed / rate;
}

const std::map<std::string, double>& benchPeaks() {
  return peaks();
}

BenchReporter::BenchReporter() : ConsoleReporter(isatty(1) ? OO_Color : OO_None) {}

void BenchReporter::ReportRuns(const std::vector<Run>& runs) {
  for (const Run& run : runs) {
    bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
    if (run.error_occurred || (run.run_type != Run::RT_Iteration && !median)) continue;
    auto found = run.counters.find("bytes_per_second");
    if (found != run.counters.end())
      (median ? medianRates() : rates())[run.run_name.function_name].push_back(found->second.value);
    auto peak = run.counters.find("peak_rss_MiB");
    if (peak != run.counters.end()) peaks()[run.run_name.function_name] = peak->second.value;
  }
  ConsoleReporter::ReportRuns(runs);
}

// ---- peak memory ------------------------------------------------------------

namespace {

long statusKiB(const char* field) {
  std::FILE* file = std::fopen("/proc/self/status", "r");
  if (file == nullptr) return -1;
  char line[256];
  long value = -1;
  size_t length = std::strlen(field);
  while (std::fgets(line, sizeof line, file))
    if (std::strncmp(line, field, length) == 0 && line[length] == ':') {
      value = std::atol(line + length + 1);
      break;
    }
  std::fclose(file);
  return value;
}

}  // namespace

long benchResidentKiB() {
  return statusKiB("VmRSS");
}

void benchPeakPrint(long startKiB) {
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  std::printf("%ld %ld %ld\n", usage.ru_maxrss, statusKiB("VmHWM"), startKiB);
}

bool benchPeakRun(const char* road, const std::string& path, BenchPeak* peak, std::string* error) {
  int channel[2];
  if (pipe(channel) != 0) return *error = "pipe failed", false;
  pid_t child = fork();
  if (child == 0) {
    dup2(channel[1], 1);
    close(channel[0]);
    close(channel[1]);
    execl("/proc/self/exe", "ktif-bench-child", "--peak-child", road, path.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  close(channel[1]);
  char text[128] = {};
  ssize_t got = child > 0 ? read(channel[0], text, sizeof text - 1) : -1;
  close(channel[0]);
  int status = 0;
  if (child > 0) waitpid(child, &status, 0);
  if (child < 0 || got <= 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
      std::sscanf(text, "%ld %ld %ld", &peak->maxRss, &peak->highWater, &peak->start) != 3)
    return *error = std::string("peak child (") + road + ") failed", false;
  return true;
}

void benchPeakCountersSet(benchmark::State& state, const BenchPeak& peak) {
  state.counters["peak_rss_MiB"] = peak.maxRss / 1024.0;
  state.counters["vm_hwm_MiB"] = peak.highWater / 1024.0;
  state.counters["start_rss_MiB"] = peak.start / 1024.0;
}
