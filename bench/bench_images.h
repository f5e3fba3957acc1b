// What the read and write benchmarks share: the images and their content,
// the benchmark directory, the ktif/libtiff rate bookkeeping and the
// child-process peak-memory measurement.
#ifndef KTIF_BENCH_IMAGES_H
#define KTIF_BENCH_IMAGES_H

#include <benchmark/benchmark.h>

#include <cstdint>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "kerr.h"

// What an image is read for: the whole and window workloads (and the peak
// runs when big); whole reads of one huge strip against a libtiff scanline
// loop (with peak runs); or the layers of each block in turn.
enum class BenchUse { kStandard, kSingleStrip, kLayers };

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
  BenchUse use = BenchUse::kStandard;
};

// The benchmark set; the big images are included only when `withBig` is set.
std::vector<BenchImage> benchImagesDescribe(const std::string& directory, bool withBig);

// Writes every image that is missing or does not match its description, then
// reads each file once so that the page cache is warm. Returns false with a
// message when an image cannot be written.
bool benchImagesPrepare(std::vector<BenchImage>& images, std::string* message);

// Smooth waves along rows and columns plus a little noise: compresses like a
// photographed scene rather than like a constant.
class BenchScene {
 public:
  BenchScene(int32_t width, int32_t height, int sample);

  // 8-bit values of row y, columns x0 .. x0 + count - 1, the noise drawn from
  // `random`.
  void row(int32_t y, int32_t x0, int32_t count, uint64_t& random, uint8_t* out) const;
  // The whole of row y, the noise seeded by the row alone: the same pixels
  // however the image is cut into blocks.
  void wholeRow(int32_t y, uint8_t* out) const;

 private:
  std::vector<int16_t> columnWave_;
  std::vector<int16_t> rowWave_;
  int sample_;
};

// $KTIF_BENCH_DIR, else /tmp/ktif-bench; created when missing.
std::string benchDirectory();
// KTIF_BENCH_BIG=1: the 1 GiB images and their peak-memory runs are wanted.
bool benchBigWanted();

// The text of a report, which is deleted; "(no report)" for none.
std::string benchReportText(Kerr_Report** report);

// ---- rates ----------------------------------------------------------------

// Time on `clock` in seconds.
double benchSeconds(clockid_t clock);
// Bytes per second of a finished benchmark (the median of its repetitions
// when only aggregates are reported), 0 when it did not run.
double benchRateOf(const std::string& name);
// `name` with "/ktif/" replaced by "/libtiff/".
std::string benchPartnerOf(const std::string& name);
// Sets the "ratio" counter: this run's rate over the rate of `partner`, so
// that a ktif run shows its ratio to the libtiff run before it.
void benchRatioSet(benchmark::State& state, const std::string& partner, int64_t bytes,
                   double elapsed);
// Peak RSS in MiB of every finished peak-memory run, by benchmark name.
const std::map<std::string, double>& benchPeaks();

// Records the rates and peaks of every run as it is reported.
class BenchReporter : public benchmark::ConsoleReporter {
 public:
  BenchReporter();
  void ReportRuns(const std::vector<Run>& runs) override;
};

// ---- peak memory in a fresh process ---------------------------------------

// What a child reports, in KiB: getrusage's ru_maxrss, /proc's VmHWM, and
// the resident size it started from.
struct BenchPeak {
  long maxRss = 0;
  long highWater = 0;
  long start = 0;
};

// Resident size of this process now, in KiB.
long benchResidentKiB();
// In the child, after its work: prints the peak for the parent to read.
void benchPeakPrint(long startKiB);
// Runs this program again as "--peak-child <road> <path>" and reads the peak
// the child prints; false with a message when the child fails.
bool benchPeakRun(const char* road, const std::string& path, BenchPeak* peak, std::string* error);
// The peak as counters of the run.
void benchPeakCountersSet(benchmark::State& state, const BenchPeak& peak);

#endif
