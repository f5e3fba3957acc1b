// Feeds one CCITT strip to the library's decoders directly, every row in
// order and then with backward jumps, and the same strip to libtiff's decoder
// as the single strip of a TIFF in memory.
//
// Input layout: a 16-bit width (1 to 4096), a byte whose low bit picks
// compression 4 over 2 and next bit MinIsBlack over MinIsWhite (the rest
// picks the jumps), a byte of rows (1 to 256), then the strip. Seeds in
// fuzz/corpus/fax, from fuzz/make_fax_seeds.py.
//
// Rows decoded twice must come out the same: the run stops otherwise. Where
// both decoders read every row and libtiff said nothing, the rows are
// compared; a difference is reported on stderr (and the input kept in
// $FAX_MISMATCH_DIR when set), not fatal.
#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <tiffio.h>

#include "fax.h"
#include "kerr.h"

namespace {

void quietReports(const Kerr_Report*, int, void*) {}
void quietLog(int, const char*, void*) {}

int gTiffMessages = 0;
void countTiffMessage(const char*, const char*, va_list) {
  ++gTiffMessages;
}

struct Memory {
  std::vector<uint8_t> bytes;
  toff_t at = 0;
};

tmsize_t memoryRead(thandle_t h, void* out, tmsize_t n) {
  auto* m = static_cast<Memory*>(h);
  if (m->at >= m->bytes.size()) return 0;
  size_t count = std::min<size_t>(size_t(n), m->bytes.size() - size_t(m->at));
  std::memcpy(out, m->bytes.data() + m->at, count);
  m->at += count;
  return tmsize_t(count);
}
tmsize_t memoryWrite(thandle_t, void*, tmsize_t) {
  return 0;
}
toff_t memorySeek(thandle_t h, toff_t offset, int whence) {
  auto* m = static_cast<Memory*>(h);
  toff_t base = whence == SEEK_CUR ? m->at : whence == SEEK_END ? m->bytes.size() : 0;
  return m->at = base + offset;
}
int memoryClose(thandle_t) {
  return 0;
}
toff_t memorySize(thandle_t h) {
  return static_cast<Memory*>(h)->bytes.size();
}
int memoryMap(thandle_t, void**, toff_t*) {
  return 0;
}
void memoryUnmap(thandle_t, void*, toff_t) {}

void put16(std::vector<uint8_t>& b, uint16_t v) {
  b.push_back(uint8_t(v)), b.push_back(uint8_t(v >> 8));
}
void put32(std::vector<uint8_t>& b, uint32_t v) {
  put16(b, uint16_t(v)), put16(b, uint16_t(v >> 16));
}

// A little-endian TIFF: the directory at 8, the strip after it.
std::vector<uint8_t> tiffBuild(uint32_t width, uint32_t rows, uint16_t compression,
                               uint16_t photometric, const uint8_t* strip, size_t size) {
  struct Entry {
    uint16_t tag, type;
    uint32_t value;
  };
  const uint32_t stripAt = 8 + 2 + 9 * 12 + 4;
  const Entry entries[] = {{256, 4, width},       {257, 4, rows},        {258, 3, 1},
                           {259, 3, compression}, {262, 3, photometric}, {273, 4, stripAt},
                           {277, 3, 1},           {278, 4, rows},        {279, 4, uint32_t(size)}};
  std::vector<uint8_t> b = {'I', 'I', 42, 0};
  put32(b, 8);
  put16(b, 9);
  for (const Entry& e : entries) {
    put16(b, e.tag), put16(b, e.type), put32(b, 1);
    e.type == 3 ? (put16(b, uint16_t(e.value)), put16(b, 0)) : put32(b, e.value);
  }
  put32(b, 0);
  b.insert(b.end(), strip, strip + size);
  return b;
}

// libtiff's rows, one byte per pixel as the library delivers them, or empty
// when it failed or said anything.
std::vector<uint8_t> tiffDecode(uint32_t width, uint32_t rows, uint16_t compression,
                                uint16_t photometric, const uint8_t* strip, size_t size) {
  Memory m{tiffBuild(width, rows, compression, photometric, strip, size)};
  gTiffMessages = 0;
  TIFF* tiff = TIFFClientOpen("fax", "rm", &m, memoryRead, memoryWrite, memorySeek, memoryClose,
                              memorySize, memoryMap, memoryUnmap);
  if (tiff == nullptr) return {};
  const size_t rowBytes = (width + 7) / 8;
  std::vector<uint8_t> packed(rowBytes * rows);
  tmsize_t got = TIFFReadEncodedStrip(tiff, 0, packed.data(), tmsize_t(packed.size()));
  TIFFClose(tiff);
  if (got != tmsize_t(packed.size()) || gTiffMessages != 0) return {};
  // libtiff's bits are the stored ones; the library complements MinIsWhite.
  const uint8_t flip = photometric == 0 ? 1 : 0;
  std::vector<uint8_t> pixels(size_t(width) * rows);
  for (uint32_t y = 0; y < rows; ++y)
    for (uint32_t x = 0; x < width; ++x)
      pixels[size_t(y) * width + x] =
          uint8_t(((packed[y * rowBytes + x / 8] >> (7 - x % 8)) & 1) ^ flip);
  return pixels;
}

void mismatchKeep(const uint8_t* data, size_t size, uint32_t row, uint32_t column) {
  static int reported = 0;
  if (reported++ < 20) std::fprintf(stderr, "fax mismatch: row %u column %u\n", row, column);
  const char* directory = std::getenv("FAX_MISMATCH_DIR");
  if (directory == nullptr || reported > 200) return;
  std::string path = std::string(directory) + "/mismatch-" + std::to_string(reported);
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  kerr_SetReportSink(quietReports, nullptr, nullptr, nullptr);
  kerr_SetLogSink(quietLog, nullptr, nullptr, nullptr);
  TIFFSetWarningHandler(countTiffMessage);
  TIFFSetErrorHandler(countTiffMessage);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const int32_t width = int32_t((data[0] | data[1] << 8) % 4096) + 1;
  const bool g4 = data[2] & 1;
  const int32_t photometric = (data[2] >> 1) & 1;
  const uint32_t jumps = data[2] >> 2;
  const int32_t rows = int32_t(data[3]) + 1;
  const uint8_t* strip = data + 4;
  const uint32_t stripSize = uint32_t(size - 4);

  // Exactly a row: the decoder must not write past it.
  std::vector<uint8_t> row(static_cast<size_t>(width));
  Ktif_FaxDecoder decoder;
  auto set = g4 ? set_g4_globals : set_g3_globals;
  auto expand = g4 ? G4Expand : G1DExpand;
  auto decode = [&](int32_t y, bool restart) {
    if (set(&decoder, width, row.data(), strip, stripSize) < 0) __builtin_trap();
    return expand(photometric, restart, y, width, &decoder) == 0;
  };

  std::vector<uint8_t> pixels(size_t(width) * size_t(rows));
  std::vector<bool> decoded(static_cast<size_t>(rows));
  bool all = true;
  for (int32_t y = 0; y < rows; ++y) {
    decoded[size_t(y)] = decode(y, y == 0);
    all = all && decoded[size_t(y)];
    if (decoded[size_t(y)]) std::memcpy(&pixels[size_t(y) * size_t(width)], row.data(), row.size());
  }
  // Backward jumps (with and without a restart asked for) and the same row
  // twice: rows read before must come out unchanged.
  for (uint32_t i = 0, pick = jumps * 2654435761u; i < 4; ++i, pick = pick * 1103515245u + 12345u) {
    const int32_t y = int32_t((pick >> 8) % uint32_t(rows));
    for (int again = 0; again < 2; ++again) {
      const bool ok = decode(y, again == 0 && (pick & 1));
      if (ok != decoded[size_t(y)] ||
          (ok && std::memcmp(&pixels[size_t(y) * size_t(width)], row.data(), row.size()) != 0))
        __builtin_trap();
    }
  }

  std::vector<uint8_t> theirs =
      tiffDecode(uint32_t(width), uint32_t(rows), g4 ? COMPRESSION_CCITTFAX4 : COMPRESSION_CCITTRLE,
                 uint16_t(photometric), strip, stripSize);
  if (all && !theirs.empty() && theirs != pixels) {
    size_t at = 0;
    while (theirs[at] == pixels[at]) ++at;
    mismatchKeep(data, size, uint32_t(at / size_t(width)), uint32_t(at % size_t(width)));
  }
  return 0;
}
