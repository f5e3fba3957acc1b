// The CCITT road of bilevel strips: which images take it, the strip kept in
// memory, and the row reads of the raster buffer.
//
// Choices of this library:
// - The state is made when an image is opened whose single layer is 1-bit,
//   stored in strips, with compression 2 or 4 and no option the decoders
//   lack (Group 4 uncompressed mode, any Group 3 option on compression 2),
//   in either photometric interpretation; every other image keeps the
//   libtiff road.
// - Rows come out as the libtiff road delivers them: white 1, black 0.
// - A strip byte count larger than the file is refused before anything is
//   allocated for it.
#include <tiffio.h>

#include <cstring>
#include <new>

#include "fax.h"
#include "kerr_frame.h"
#include "kmsc.h"
#include "ktif_internal.h"

const uint8_t* faxReversedBytes();

namespace {

constexpr uint32_t kT6Uncompressed = 0x2;

uint64_t tiffFileSize(TIFF* tiff) {
  TIFFSizeProc size = TIFFGetSizeProc(tiff);
  return size != nullptr ? uint64_t(size(TIFFClientdata(tiff))) : 0;
}

// FillOrder and the byte counts, once; the buffer for the largest strip.
bool stripsPrepare(Ktif_File* h, Ktif_FaxState* s, KerrFrame& frame) {
  if (s->rawStrip != nullptr) return true;
  uint16_t fillOrder = FILLORDER_MSB2LSB;
  TIFFGetFieldDefaulted(h->tiff, TIFFTAG_FILLORDER, &fillOrder);
  s->fillOrder = fillOrder;
  uint64_t* counts = nullptr;
  if (!TIFFGetField(h->tiff, TIFFTAG_STRIPBYTECOUNTS, &counts) || counts == nullptr)
    return frame.fail(__LINE__, "TIFFGetField:TIFFTAG_STRIPBYTECOUNTS failed"), false;
  s->stripByteCounts = counts;
  uint64_t largest = 0;
  for (uint32_t i = 0; i < TIFFNumberOfStrips(h->tiff); ++i) largest = std::max(largest, counts[i]);
  if (largest == 0 || largest > tiffFileSize(h->tiff) || largest > UINT32_MAX)
    return frame.fail(__LINE__, "1Bit-Buffer allocation failed"), false;
  s->rawStrip = static_cast<uint8_t*>(kmsc_HeapMalloc(size_t(largest)));
  if (s->rawStrip == nullptr) return frame.fail(__LINE__, "1Bit-Buffer allocation failed"), false;
  s->rawStripSize = uint32_t(largest);
  return true;
}

bool stripLoad(Ktif_File* h, Ktif_FaxState* s, uint32_t strip, KerrFrame& frame) {
  std::memset(s->rawStrip, 0, s->rawStripSize);
  s->loadedStrip = -1;
  tmsize_t got = TIFFReadRawStrip(h->tiff, strip, s->rawStrip, tmsize_t(s->rawStripSize));
  if (got < 0) return frame.fail(__LINE__, "TIFFReadRawStrip failed"), false;
  s->loadedSize = uint32_t(got);
  if (s->fillOrder == FILLORDER_LSB2MSB) {
    const uint8_t* reversed = faxReversedBytes();
    for (uint32_t i = 0; i < s->loadedSize; ++i) s->rawStrip[i] = reversed[s->rawStrip[i]];
  }
  s->loadedStrip = int32_t(strip);
  return true;
}

}  // namespace

Ktif_FaxState* faxStateCreate(const Ktif_File* h) {
  if (h == nullptr || h->tiff == nullptr || h->isTiled || h->samplesPerPixel != 1 ||
      h->bitsPerSample != 1 || (h->photometric != 0 && h->photometric != 1) || h->width <= 0)
    return nullptr;
  if (h->compression == COMPRESSION_CCITTFAX4) {
    uint32_t options = 0;
    if (TIFFGetField(h->tiff, TIFFTAG_GROUP4OPTIONS, &options) && (options & kT6Uncompressed))
      return nullptr;
  } else if (h->compression == COMPRESSION_CCITTRLE) {
    uint32_t options = 0;
    if (TIFFGetField(h->tiff, TIFFTAG_GROUP3OPTIONS, &options) && options != 0) return nullptr;
  } else {
    return nullptr;
  }
  return new (std::nothrow) Ktif_FaxState();
}

void faxStateFree(Ktif_File* handle) {
  Ktif_FaxState* s = handle->faxState;
  if (s == nullptr) return;
  delete s->decoder;
  kmsc_HeapFree(s->rawStrip);
  delete s;
  handle->faxState = nullptr;
}

void RBReadFunc1Bit(int32_t row, void** buffer, Kerr_Report** err, Ktif_File* h) {
  KerrFrame frame("RBReadFunc1Bit", err);
  auto* out = static_cast<uint8_t*>(*buffer);
  const size_t rowBytes = size_t(h->rbBlockWidth) * h->rbBlockHeight *
                          size_t(h->bytesPerSample > 0 ? h->bytesPerSample : 1);
  Ktif_FaxState* s = h->faxState;
  if (h->tiff == nullptr || s == nullptr) return void(std::memset(out, 0, rowBytes));
  auto failed = [&](int line, const char* message) {
    frame.fail(line, "%s", message);
    if (err == nullptr) std::memset(out, 0, rowBytes);
  };
  if (row < 0 || row >= h->height) return failed(__LINE__, "Invalid Arguments");
  const uint32_t strip = TIFFComputeStrip(h->tiff, uint32_t(row), 0);
  if (!stripsPrepare(h, s, frame)) return;
  bool restart = false;
  if (int32_t(strip) != s->loadedStrip) {
    if (!stripLoad(h, s, strip, frame)) return;
    restart = true;
  }
  if (s->rowsPerStrip < 0) {
    uint32_t rows = 0;
    TIFFGetFieldDefaulted(h->tiff, TIFFTAG_ROWSPERSTRIP, &rows);
    s->rowsPerStrip = int32_t(std::min<uint32_t>(rows, uint32_t(h->height)));
  }
  const int32_t rowInStrip = row - s->rowsPerStrip * int32_t(strip);
  if (rowInStrip < s->lastRow) restart = true;
  if (h->photometric != 0 && h->photometric != 1)
    return failed(__LINE__, "Invalid Photometric Interpretation!");
  const bool g4 = h->compression == COMPRESSION_CCITTFAX4;
  if (!g4 && h->compression != COMPRESSION_CCITTRLE) return failed(__LINE__, "Invalid compression");
  if (s->decoder == nullptr) {
    s->decoder = new (std::nothrow) Ktif_FaxDecoder();
    if (s->decoder == nullptr) return failed(__LINE__, "Memory allocation failed");
    restart = true;
  }
  auto set = g4 ? set_g4_globals : set_g3_globals;
  if (set(s->decoder, h->width, out, s->rawStrip, s->loadedSize) < 0)
    return failed(__LINE__, g4 ? "set_g4_globals failed" : "set_g3_globals failed");
  auto expand = g4 ? G4Expand : G1DExpand;
  if (expand(h->photometric, restart, rowInStrip, h->width, s->decoder) != 0) {
    s->lastRow = 0;
    return failed(__LINE__, g4 ? "G4Expand failed" : "G1DExpand failed");
  }
  s->lastRow = rowInStrip;
}
