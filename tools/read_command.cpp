// `ktif read`: one layer of one image, read the way the host reads it
// (raster-buffer block by raster-buffer block), written out as raw samples:
// height rows of width elements, bytesPerSample bytes each in machine order,
// one byte per pixel for images of fewer than 8 bits per sample.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <sys/stat.h>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"

namespace {

struct ReadOptions {
  std::string file;
  int64_t image = 0;
  int32_t layer = 0;
  std::string out;
};

// Raster-buffer blocks larger than this are refused rather than allocated.
constexpr int64_t kMaxBlockBytes = int64_t{1} << 31;

struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f != nullptr && f != stdout) std::fclose(f);
  }
};

int readImage(Ktif_File* h, int32_t layer, std::FILE* out) {
  if (layer < 0 || layer >= h->samplesPerPixel) {
    toolFail("layer " + std::to_string(layer) + " out of range: the image has " +
                 std::to_string(h->samplesPerPixel) + " layers",
             nullptr);
    return 1;
  }
  const int64_t width = h->width, height = h->height, bytes = h->bytesPerSample;
  const int64_t rbWidth = h->rbBlockWidth, rbHeight = h->rbBlockHeight;
  if (width <= 0 || height <= 0 || rbWidth <= 0 || rbHeight <= 0 ||
      (bytes != 1 && bytes != 2 && bytes != 4 && bytes != 8)) {
    toolFail("unusable image geometry (" + std::to_string(width) + " x " + std::to_string(height) +
                 ", read blocks " + std::to_string(rbWidth) + " x " + std::to_string(rbHeight) +
                 ", " + std::to_string(bytes) + " bytes per sample)",
             nullptr);
    return 1;
  }
  // Every factor is below 2^31, so the products below fit in 64 bits once
  // each is checked against the limit.
  const int64_t blockBytes = rbWidth * rbHeight * bytes;
  const int64_t rowBytes = width * bytes;
  if (blockBytes > kMaxBlockBytes || rowBytes * std::min(rbHeight, height) > kMaxBlockBytes) {
    toolFail("read blocks too large for this tool", nullptr);
    return 1;
  }
  std::vector<unsigned char> block(static_cast<size_t>(blockBytes));
  // One raster-buffer block row of the image at a time.
  std::vector<unsigned char> band(static_cast<size_t>(rowBytes * std::min(rbHeight, height)));
  const int64_t rbRows = (height + rbHeight - 1) / rbHeight;
  const int64_t rbColumns = (width + rbWidth - 1) / rbWidth;
  for (int64_t r = 0; r < rbRows; ++r) {
    const int64_t rows = std::min(rbHeight, height - r * rbHeight);
    for (int64_t c = 0; c < rbColumns; ++c) {
      Kerr_Report* err = nullptr;
      ktif_RBRasterRead(h, layer, static_cast<int32_t>(r), static_cast<int32_t>(c), block.data(),
                        &err);
      if (err != nullptr) {
        toolFail(
            "reading block row " + std::to_string(r) + ", column " + std::to_string(c) + " failed",
            &err);
        return 1;
      }
      const int64_t columnBytes = std::min(rbWidth, width - c * rbWidth) * bytes;
      for (int64_t y = 0; y < rows; ++y)
        std::memcpy(band.data() + y * rowBytes + c * rbWidth * bytes,
                    block.data() + y * rbWidth * bytes, static_cast<size_t>(columnBytes));
    }
    const size_t bandBytes = static_cast<size_t>(rows * rowBytes);
    if (std::fwrite(band.data(), 1, bandBytes, out) != bandBytes) {
      toolFail(std::string("write failed: ") + std::strerror(errno), nullptr);
      return 1;
    }
  }
  return 0;
}

int readRun(const ReadOptions& options) {
  std::unique_ptr<std::FILE, FileCloser> out;
  if (options.out.empty()) {
    if (isatty(STDOUT_FILENO)) {
      toolFail("not writing raw samples to a terminal; redirect the output or use --out", nullptr);
      return 1;
    }
    out.reset(stdout);
  }
  int32_t images = 0;
  Ktif_File* handle = toolImageOpen(options.file, options.image, &images);
  if (handle == nullptr) return 1;
  // Only a file this run created is removed after a failure: never a device
  // such as /dev/null, nor a file the user already had.
  struct stat before;
  bool created = !options.out.empty() && stat(options.out.c_str(), &before) != 0;
  if (!options.out.empty()) {
    out.reset(std::fopen(options.out.c_str(), "wb"));
    if (!out) {
      toolFail("cannot write " + options.out + ": " + std::strerror(errno), nullptr);
      ktif_Close(handle, nullptr);
      return 1;
    }
  }
  int rc = readImage(handle, options.layer, out.get());
  ktif_Close(handle, nullptr);
  const ToolLog log = toolLogTake();
  if (log.failures > 0) {
    toolFail(std::to_string(log.failures) + (log.failures == 1 ? " block" : " blocks") +
                 " of layer " + std::to_string(options.layer) + " could not be read: " + log.first,
             nullptr);
    if (rc == 0) rc = 1;
  }
  if (std::fflush(out.get()) != 0 && rc == 0) {
    toolFail(std::string("write failed: ") + std::strerror(errno), nullptr);
    rc = 1;
  }
  if (options.out.empty()) return rc;
  std::FILE* file = out.release();
  if (std::fclose(file) != 0 && rc == 0) {
    toolFail("cannot write " + options.out + ": " + std::strerror(errno), nullptr);
    rc = 1;
  }
  if (rc != 0 && created) std::remove(options.out.c_str());
  return rc;
}

}  // namespace

CommandRunner readCommandAdd(CLI::App& app, const ToolOptions&) {
  CLI::App* command = app.add_subcommand(
      "read", "Write one layer of an image as raw samples (machine byte order, row by row)");
  auto options = std::make_shared<ReadOptions>();
  command->add_option("FILE", options->file, "TIFF file")->required();
  command->add_option("--image", options->image, "Image index (overviews do not count)")
      ->check(CLI::NonNegativeNumber);
  command->add_option("--layer", options->layer, "Layer (sample) index, from 0")
      ->check(CLI::NonNegativeNumber);
  command->add_option("--out", options->out, "Output file; standard output when absent");
  return [options] { return readRun(*options); };
}
