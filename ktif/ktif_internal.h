/* Internal functions of the image-access side, shared between its source
 * files and reachable from the unit tests. */
#ifndef KTIF_INTERNAL_H
#define KTIF_INTERNAL_H

#include <cstddef>
#include <cstdint>

#include "kerr_frame.h"
#include "ktif.h"

/* ---- Handles and parameters ------------------------------------------ */

/* The common opener of ktif_Open, ktif_OpenImageByIndex and
 * ktif_OpenDirectory (label "ktif_Open"). */
Ktif_File* openerRun(const char* path, const char* mode, int64_t indexOrOffset,
                     int32_t subDirectory, Kerr_Report** err);
/* Sets imageName and imageType. Returns 0, or -1 with a report. */
int ktif_SetImageInfo(Ktif_File* handle, int64_t imageIndex, Kerr_Report** err);
/* Fills the image fields from the selected directory. Returns 0, or -1. */
int readParameters(Ktif_File* handle, Kerr_Report** err);
/* The closing step of readParameters: geoParams from the GeoTIFF tags, or
 * from a world file under tfwRead. Problems are shown and dropped. */
void georeferencingRead(Ktif_File* handle);
/* Writes the library's additions (sample range, colour map, GeoTIFF keys,
 * world file under tfwWrite) into the current directory of `tiff`. The
 * GeoTIFF keys and the world file never fail it: their failures are shown as
 * notices. */
void ktif_WriteTIFFTags(Ktif_File* handle, TIFF* tiff, Kerr_Report** err);
/* Releases everything the handle owns but the record itself. */
void handleRelease(Ktif_File* handle);
/* Releases the CCITT decoding state of the handle, if any. */
void faxStateFree(Ktif_File* handle);

/* ---- Blocks, unpacking ----------------------------------------------- */

/* Widens (unpack) or narrows (pack) one row of 1-, 2- or 4-bit samples,
 * most significant bits first; other bit counts do nothing. */
void unpackRow(int32_t bits, unsigned char* destination, const unsigned char* packed,
               uint32_t pixels);
void packRow(int32_t bits, unsigned char* packed, const unsigned char* source, uint32_t pixels);
/* destination[k] = sample (first + k * samples) of a packed row of 1-, 2- or
 * 4-bit samples, most significant bits first, one byte each: one layer of
 * interleaved sub-byte samples without unpacking the others. Other bit counts
 * do nothing. */
void packedLayerExtract(int32_t bits, uint32_t count, unsigned char* destination, uint64_t first,
                        const unsigned char* row, uint32_t samples);
/* destination[k] = source[k * samples + layer] (extract), and the reverse
 * (insert), for elements of 1, 2, 4 or 8 bytes; other sizes do nothing. */
void layerExtract(uint32_t count, void* destination, int32_t layer, const void* source,
                  int32_t samples, int32_t elementBytes);
void layerInsert(uint32_t count, int32_t layer, const void* source, void* destination,
                 int32_t samples, int32_t elementBytes);
/* The handle's one-block cache of interleaved data, created on first use. */
Ktif_BlockCache* blockCacheCreate(Ktif_File* handle, Kerr_Report** err);
/* OPX images: the 256 16-bit values of the 8-bit codes of a tile whose
 * values run from `lo` to `hi`, and the expansion in place of `count` codes at
 * the start of `buffer` into `count` 16-bit values (2 * count bytes). */
void opxTableBuild(uint16_t lo, uint16_t hi, uint16_t table[256]);
void opxExpand(void* buffer, uint32_t count, uint16_t lo, uint16_t hi);

/* ---- Raster buffer --------------------------------------------------- */

void RBBlockSizeSet(Ktif_File* handle);
void RBSetup(Ktif_File* handle, int32_t layer, Kerr_Report** err);
void RBReadFunc(int32_t index, void** data, void* client, Kerr_Report** err);
void RBWriteFunc(int32_t index, void* data, void* client, Kerr_Report** err);
void RBTransfer(int32_t w, int32_t h, int32_t layer, int32_t layers, int64_t sourceStride,
                unsigned char* destination, int64_t destinationStride, int32_t bits,
                const unsigned char* source, int32_t bitOffset);
/* What reads and writes of raster-buffer blocks share. */
/* Bits per sample of one layer: its entry in the list, the first entry when
 * its own is 0, or the image's value without a list. */
int32_t RBLayerBits(const Ktif_File* handle, int32_t layer);
/* Raster-buffer and TIFF block sizes the transfers can work with: positive,
 * and a raster-buffer block of at most 2^32 - 1 elements of at most 8 bytes,
 * so that no size computed from them overflows. */
bool RBGeometryValid(const Ktif_File* handle);
/* Sample sizes a transfer can move between cache blocks and elements of
 * `bytesPerSample` bytes without going past them. */
bool RBBitsTransferable(int32_t bits, int32_t layers, int32_t bytesPerSample);
/* WhiteIsZero data reaches the host complemented, and is stored so again:
 * `elements` host elements of the handle's pixel type, in place. */
void RBWhiteIsZeroComplement(const Ktif_File* handle, void* buffer, int64_t elements);

/* The memory budget of a handle's raster buffer in bytes: the preference
 * "tiff"/"cache_budget", read now. Strips beyond it are read a window of rows
 * at a time, and the cache keeps no more blocks than it holds (but one). */
int64_t RBCacheBudget();

/* Bytes of one row of a cache block of `layers` samples of `bits`; -1, with
 * a report in the frame, when the cache's blocks are too small for them. */
int64_t RBCacheRowBytes(const Ktif_File* handle, int32_t bits, int64_t layers, KerrFrame& frame);

/* One TIFF block a raster-buffer block covers: its block row and column, the
 * part's origin in the TIFF block (sx, sy) and in the raster-buffer block
 * (dx, dy), and its size. */
struct RBPiece {
  int64_t row, column, sx, sy, dx, dy, w, h;
};
/* Calls visit(piece) for every TIFF block that raster-buffer block (rbRow,
 * rbColumn) covers, block rows outermost, blocks beyond the image included;
 * stops early when visit returns false, and then returns false. */
template <class Visit>
bool RBPiecesVisit(const Ktif_File* handle, int32_t rbRow, int32_t rbColumn, Visit&& visit) {
  const int64_t bw = handle->blockWidth, bh = handle->blockHeight;
  const int64_t rbw = handle->rbBlockWidth, rbh = handle->rbBlockHeight;
  const int64_t x0 = rbw * rbColumn, y0 = rbh * rbRow;
  for (int64_t tr = y0 / bh; tr <= (y0 + rbh - 1) / bh; ++tr) {
    const int64_t ty = bh * tr, sy = y0 > ty ? y0 - ty : 0, dy = ty > y0 ? ty - y0 : 0;
    for (int64_t tc = x0 / bw; tc <= (x0 + rbw - 1) / bw; ++tc) {
      const int64_t tx = bw * tc, sx = x0 > tx ? x0 - tx : 0, dx = tx > x0 ? tx - x0 : 0;
      const RBPiece piece{tr,
                          tc,
                          sx,
                          sy,
                          dx,
                          dy,
                          bw - sx < rbw - dx ? bw - sx : rbw - dx,
                          bh - sy < rbh - dy ? bh - sy : rbh - dy};
      if (!visit(piece)) return false;
    }
  }
  return true;
}

/* The write side's mirror of RBTransfer: w x h samples of layer `layer` from
 * the caller's rows (one element of bits / 8 bytes, or one byte per sample
 * below 8 bits) into a block of `layers` interleaved samples, at `bitOffset`
 * bits into the destination row. Every other sample of the block is kept;
 * a null source stores zeros. */
void RBTransferReverse(int32_t w, int32_t h, int32_t layer, int32_t layers, int64_t sourceStride,
                       unsigned char* destination, int64_t destinationStride, int32_t bits,
                       const unsigned char* source, int32_t bitOffset);
/* Lets the two once-per-process warnings of RBTransfer appear again (tests). */
void RBTransferWarningsReset();

/* ---- TIFF library additions ------------------------------------------ */

/* 1 when the TIFF library reports an OPX image (8-bit codes of 16-bit
 * values). Stock libtiff has no such notion and answers 0; tests can force an
 * answer through ktifCompatOPXHookSet. */
extern "C" int TIFFIsOPX(TIFF* tiff);
typedef int (*KtifOPXHook)(TIFF* tiff);
void ktifCompatOPXHookSet(KtifOPXHook hook);

#endif
