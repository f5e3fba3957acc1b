// Opens a file made of the fuzzer's bytes and reads every raster-buffer block
// of every layer, as a host would.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include <tiffio.h>

#include "ktif_internal.h"

namespace {

void quietReports(const Kerr_Report*, int, void*) {}
void quietLog(int, const char*, void*) {}

const std::string& scratchPath() {
  static const std::string path = "/tmp/ktif_fuzz_" + std::to_string(getpid()) + ".tif";
  return path;
}

// Bounds the work of one input: huge hostile images would otherwise make a
// single run take minutes without finding more.
constexpr int64_t kMaxBlocks = 64;

void readEverything(Ktif_File* handle) {
  size_t bytes = static_cast<size_t>(handle->rbBlockWidth) * handle->rbBlockHeight *
                 static_cast<size_t>(handle->bytesPerSample);
  if (bytes == 0 || bytes > (64u << 20)) return;
  std::vector<unsigned char> buffer(bytes);
  int64_t rows = (int64_t{handle->height} + handle->rbBlockHeight - 1) / handle->rbBlockHeight;
  int64_t columns = (int64_t{handle->width} + handle->rbBlockWidth - 1) / handle->rbBlockWidth;
  int64_t done = 0;
  for (int32_t layer = 0; layer < handle->samplesPerPixel; ++layer)
    for (int64_t r = 0; r < rows; ++r)
      for (int64_t c = 0; c < columns; ++c) {
        if (++done > kMaxBlocks) return;
        Kerr_Report* err = nullptr;
        ktif_RBRasterRead(handle, layer, static_cast<int32_t>(r), static_cast<int32_t>(c),
                          buffer.data(), &err);
        kerr_DeleteErrorReportEx(&err);
      }
}

void scratchRemove() {
  std::remove(scratchPath().c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::atexit(scratchRemove);
  TIFFSetErrorHandler(nullptr);
  TIFFSetWarningHandler(nullptr);
  kerr_SetReportSink(quietReports, nullptr, nullptr, nullptr);
  kerr_SetLogSink(quietLog, nullptr, nullptr, nullptr);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FILE* file = std::fopen(scratchPath().c_str(), "wb");
  if (file == nullptr) return 0;
  std::fwrite(data, 1, size, file);
  std::fclose(file);
  Kerr_Report* err = nullptr;
  Ktif_File* handle = ktif_Open(scratchPath().c_str(), "r", &err);
  kerr_DeleteErrorReportEx(&err);
  if (handle != nullptr) {
    readEverything(handle);
    ktif_Close(handle, nullptr);
  }
  return 0;
}
