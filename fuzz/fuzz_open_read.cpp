// Opens a file made of the fuzzer's bytes and reads every raster-buffer block
// of every layer, as a host would. A small image is then copied through the
// writer (created with the input as template, every block written from what
// was read, closed) and the copy is read back: when the input read cleanly,
// the copy must hold the same values, or the run stops. Inputs of an odd
// length are read with a memory budget of a few rows, so that their strips
// take the road of strips too large for the cache (decoded a window of rows
// at a time), and their tiles a cache of one or two.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include <tiffio.h>

#include "kpmg.h"
#include "ktif_internal.h"

namespace {

// What the library shows and logs is counted: an input whose blocks read
// with either has no exact copy to demand, and a log line while writing is a
// block not stored.
int gShown = 0;
int gLogged = 0;
void countReports(const Kerr_Report*, int, void*) {
  ++gShown;
}
void countLog(int, const char*, void*) {
  ++gLogged;
}

const std::string& scratchPath() {
  static const std::string path = "/tmp/ktif_fuzz_" + std::to_string(getpid()) + ".tif";
  return path;
}

// The copy lives in memory where it can: it is written and read once per
// input.
const std::string& copyPath() {
  static const std::string path = (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") +
                                  ("/ktif_fuzz_copy_" + std::to_string(getpid()) + ".tif");
  return path;
}

// Bounds the work of one input: huge hostile images would otherwise make a
// single run take minutes without finding more.
constexpr int64_t kMaxBlocks = 64;
constexpr size_t kMaxBlockBytes = size_t{64} << 20;
// The copy is made only of images whose blocks, all of them, fit this: it
// keeps every block read, and writes them again.
constexpr int64_t kMaxCopyBytes = int64_t{4} << 20;

// Every raster-buffer block of every layer, layers outermost as a host fills
// one band after another.
struct Blocks {
  int64_t rows = 0, columns = 0, layers = 0;
  size_t bytes = 0;  // of one block
  std::vector<std::vector<unsigned char>> data;
  bool clean = true;  // every block read without a report or a log line

  std::vector<unsigned char>& at(int64_t layer, int64_t r, int64_t c) {
    return data[size_t((layer * rows + r) * columns + c)];
  }
};

// The raster-buffer geometry of a handle, or false when its blocks are beyond
// what one input may cost.
bool blocksShape(const Ktif_File* handle, Blocks& blocks) {
  if (handle->tiff == nullptr || handle->rbBlockWidth <= 0 || handle->rbBlockHeight <= 0 ||
      handle->bytesPerSample <= 0 || handle->width <= 0 || handle->height <= 0)
    return false;
  blocks.bytes = static_cast<size_t>(handle->rbBlockWidth) * handle->rbBlockHeight *
                 static_cast<size_t>(handle->bytesPerSample);
  if (blocks.bytes > kMaxBlockBytes) return false;
  blocks.rows = (int64_t{handle->height} + handle->rbBlockHeight - 1) / handle->rbBlockHeight;
  blocks.columns = (int64_t{handle->width} + handle->rbBlockWidth - 1) / handle->rbBlockWidth;
  blocks.layers = handle->samplesPerPixel;
  return true;
}

// Reads up to kMaxBlocks blocks; keeps them all when the whole image is that
// small, reusing one buffer otherwise.
Blocks readEverything(Ktif_File* handle) {
  Blocks blocks;
  if (!blocksShape(handle, blocks)) return blocks;
  const int64_t count = blocks.layers * blocks.rows * blocks.columns;
  const bool keep = count <= kMaxBlocks && count * int64_t(blocks.bytes) <= kMaxCopyBytes;
  if (keep) blocks.data.assign(size_t(count), std::vector<unsigned char>(blocks.bytes));
  std::vector<unsigned char> scratch(keep ? 0 : blocks.bytes);
  // The once-per-process warnings of the transfer would make whether an
  // input counts as clean depend on the inputs before it.
  RBTransferWarningsReset();
  gShown = gLogged = 0;
  int64_t done = 0;
  for (int64_t layer = 0; layer < blocks.layers; ++layer)
    for (int64_t r = 0; r < blocks.rows; ++r)
      for (int64_t c = 0; c < blocks.columns; ++c) {
        if (++done > kMaxBlocks) return blocks;
        Kerr_Report* err = nullptr;
        unsigned char* buffer = keep ? blocks.at(layer, r, c).data() : scratch.data();
        ktif_RBRasterRead(handle, int32_t(layer), int32_t(r), int32_t(c), buffer, &err);
        if (err != nullptr) blocks.clean = false;
        kerr_DeleteErrorReportEx(&err);
      }
  if (gShown != 0 || gLogged != 0) blocks.clean = false;
  return blocks;
}

// Lossless codecs the TIFF library can write are kept, so that the copy goes
// through the encoders and, for blocks the cache evicts and fetches again,
// through reads of blocks just encoded. Lossy ones (JPEG, WebP and the like)
// and codecs without an encoder are written uncompressed instead: an exact
// comparison of every input is worth more than their encoders, which only
// the TIFF library exercises.
bool keepsCompression(int32_t compression) {
  switch (compression) {
    case COMPRESSION_NONE:
    case COMPRESSION_CCITTRLE:
    case COMPRESSION_CCITTFAX3:
    case COMPRESSION_CCITTFAX4:
    case COMPRESSION_LZW:
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE:
    case COMPRESSION_PACKBITS:
    case COMPRESSION_LZMA:
    case COMPRESSION_ZSTD:
    case COMPRESSION_LERC:
      return true;
    default:
      return false;
  }
}

// The slower encoders at their fastest: the output is as lossless, and
// LZMA's default dictionary alone costs tens of milliseconds per block under
// the sanitizers.
void fastestEncoderSet(Ktif_File* copy) {
  switch (copy->compression) {
    case COMPRESSION_LZMA:
      TIFFSetField(copy->tiff, TIFFTAG_LZMAPRESET, 0);
      break;
    case COMPRESSION_ZSTD:
      TIFFSetField(copy->tiff, TIFFTAG_ZSTD_LEVEL, 1);
      break;
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE:
      TIFFSetField(copy->tiff, TIFFTAG_ZIPQUALITY, 1);
      break;
    default:
      break;
  }
}

// One layer of a whole image, assembled from its raster-buffer blocks; the
// parts of edge blocks beyond the image are left out.
std::vector<unsigned char> layerImage(const Ktif_File* handle, Blocks& blocks, int64_t layer) {
  const size_t bytes = size_t(handle->bytesPerSample);
  const size_t width = size_t(handle->width), rbWidth = size_t(handle->rbBlockWidth);
  const size_t rbHeight = size_t(handle->rbBlockHeight);
  std::vector<unsigned char> image(width * size_t(handle->height) * bytes);
  for (size_t y = 0; y < size_t(handle->height); ++y)
    for (size_t x0 = 0; x0 < width; x0 += rbWidth) {
      const std::vector<unsigned char>& block =
          blocks.at(layer, int64_t(y / rbHeight), int64_t(x0 / rbWidth));
      const size_t run = std::min(rbWidth, width - x0) * bytes;
      std::memcpy(image.data() + (y * width + x0) * bytes,
                  block.data() + (y % rbHeight) * rbWidth * bytes, run);
    }
  return image;
}

// Opens the copy and checks it against what the input read: same shape, a
// clean read, the same values in every layer.
void copyCheck(const Ktif_File* input, Blocks& original) {
  Kerr_Report* err = nullptr;
  Ktif_File* back = ktif_Open(copyPath().c_str(), "r", &err);
  kerr_DeleteErrorReportEx(&err);
  if (back == nullptr) {
    std::fprintf(stderr, "fuzz_open_read: the copy of a clean read does not open\n");
    __builtin_trap();
  }
  if (back->width != input->width || back->height != input->height ||
      back->samplesPerPixel != input->samplesPerPixel ||
      back->bytesPerSample != input->bytesPerSample || back->pixelType != input->pixelType) {
    std::fprintf(stderr,
                 "fuzz_open_read: the copy is %dx%d, %d layers of pixel type %d (%d bytes); "
                 "the input %dx%d, %d layers of pixel type %d (%d bytes)\n",
                 back->width, back->height, back->samplesPerPixel, back->pixelType,
                 back->bytesPerSample, input->width, input->height, input->samplesPerPixel,
                 input->pixelType, input->bytesPerSample);
    __builtin_trap();
  }
  Blocks copied = readEverything(back);
  // Raster-buffer blocks of the copy beyond the limits (its block size chosen
  // otherwise than the input's) leave nothing to compare.
  if (copied.data.empty()) return ktif_Close(back, nullptr);
  if (!copied.clean) {
    std::fprintf(stderr, "fuzz_open_read: the copy of a clean read does not read cleanly\n");
    __builtin_trap();
  }
  for (int64_t layer = 0; layer < original.layers; ++layer)
    if (layerImage(input, original, layer) != layerImage(back, copied, layer)) {
      std::fprintf(stderr, "fuzz_open_read: layer %lld of the copy differs\n",
                   static_cast<long long>(layer));
      __builtin_trap();
    }
  ktif_Close(back, nullptr);
}

// Copies what was read through the writer, and, when the input read cleanly
// and the writer took everything without a complaint, checks the copy.
void copyThroughWriter(Ktif_File* input, Blocks& blocks) {
  Ktif_File t = *input;  // never closed: it shares what the input owns
  t.rbWrite = 1;
  if (!keepsCompression(t.compression)) t.compression = COMPRESSION_NONE;
  gLogged = 0;
  Kerr_Report* err = nullptr;
  Ktif_File* copy = ktif_CreateBaseLineTIFF(&t, copyPath().c_str(), &err);
  bool written = copy != nullptr;
  kerr_DeleteErrorReportEx(&err);
  if (copy != nullptr) fastestEncoderSet(copy);
  // The writer complements WhiteIsZero data in the buffer it is given: it
  // gets a copy, and the blocks stay as read.
  std::vector<unsigned char> buffer(blocks.bytes);
  for (int64_t layer = 0; copy != nullptr && layer < blocks.layers; ++layer)
    for (int64_t r = 0; copy != nullptr && r < blocks.rows; ++r)
      for (int64_t c = 0; copy != nullptr && c < blocks.columns; ++c) {
        buffer = blocks.at(layer, r, c);
        ktif_RBRasterWrite(&copy, int32_t(layer), int32_t(r), int32_t(c), buffer.data(), &err);
        if (err != nullptr) written = false;
        kerr_DeleteErrorReportEx(&err);
      }
  written = written && copy != nullptr;
  ktif_Close(copy, nullptr);
  // Reports shown meanwhile are notices about the tags (GeoTIFF keys a
  // hostile file made unwritable), which say nothing of the pixels.
  if (written && gLogged == 0 && blocks.clean) copyCheck(input, blocks);
}

// After every input, so that nothing is left behind however the process
// ends: a copy left in /dev/shm would hold memory.
void scratchRemove() {
  std::remove(scratchPath().c_str());
  std::remove(copyPath().c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  TIFFSetErrorHandler(nullptr);
  TIFFSetWarningHandler(nullptr);
  kerr_SetReportSink(countReports, nullptr, nullptr, nullptr);
  kerr_SetLogSink(countLog, nullptr, nullptr, nullptr);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FILE* file = std::fopen(scratchPath().c_str(), "wb");
  if (file == nullptr) return 0;
  std::fwrite(data, 1, size, file);
  std::fclose(file);
  kpmg_SetPreference("tiff", "cache_budget", size % 2 == 1 ? "512" : nullptr, nullptr);
  Kerr_Report* err = nullptr;
  Ktif_File* handle = ktif_Open(scratchPath().c_str(), "r", &err);
  kerr_DeleteErrorReportEx(&err);
  if (handle != nullptr) {
    Blocks blocks = readEverything(handle);
    if (!blocks.data.empty()) copyThroughWriter(handle, blocks);
    ktif_Close(handle, nullptr);
  }
  scratchRemove();
  return 0;
}
