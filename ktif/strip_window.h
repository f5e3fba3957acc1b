/* Strips larger than the raster buffer's memory budget, read a window of rows
 * at a time (internal).
 *
 * libtiff decodes a strip whole into memory, however large; its scanline
 * interface instead decodes a compressed strip progressively, one row after
 * the other. For such strips the raster buffer keeps, per plane, a ring of
 * the rows decoded last instead of whole strips in its block cache:
 * - rows read in order are decoded once, whatever the raster-buffer block;
 * - rows still in the ring cost nothing, so the layers of one raster-buffer
 *   block, and the blocks of one raster-buffer row, share their decoding;
 * - a row before the ring is decoded again from the start of its strip (the
 *   codecs cannot seek), which leaves the rows before it in the ring, so a
 *   backward scan restarts once per ring, not once per block;
 * - a ring starts at 256 KiB (or one raster-buffer block's rows), so that
 *   rows read in order stay in the processor's cache, and takes the
 *   budget's share on the first restart;
 * - a row that fails to decode reads as 0, with one log line per strip, and
 *   so do the rows after it in that strip, which are not tried again.
 *
 * Each plane's decoder has its own TIFF handle on the file, so that the
 * handle's other reads (whole blocks) leave its position alone, and its own
 * read-only mapping of the file: libtiff reads a compressed strip from the
 * mapping, and the pages already decoded are released as it goes, so the
 * compressed strip never becomes resident in the process as a whole. When
 * the file cannot be mapped, libtiff reads each strip whole, compressed, into
 * memory instead.
 */
#ifndef KTIF_STRIP_WINDOW_H
#define KTIF_STRIP_WINDOW_H

#include <cstdint>

#include "kerr_frame.h"
#include "ktif.h"

/* Whether the raster buffer reads this image's strips through windows: a
 * stripped image opened for reading, whose strips of `stripBytes` exceed
 * `budget` and are delivered as stored (the CCITT, wide-strip and RGB roads
 * keep their own). */
bool stripWindowsWanted(const Ktif_File* handle, int64_t stripBytes, int64_t budget);
/* Prepares the handle for window reads within `budget` bytes of rows; the
 * file is opened on the first read. False with a report in the frame. */
bool stripWindowsCreate(Ktif_File* handle, int64_t budget, KerrFrame& frame);
/* Closes the decoders and frees the windows; nothing when there are none. */
void stripWindowsFree(Ktif_File* handle);

/* Makes rows [y0, y0 + rows) of `plane` present, decoding what is missing.
 * `rows` is at most the raster-buffer block height. False with a report when
 * the decoder cannot be set up; rows that fail to decode are not a failure. */
bool stripWindowHold(Ktif_File* handle, int32_t plane, int64_t y0, int64_t rows, KerrFrame& frame);
/* Row y of `plane`, held by the last stripWindowHold, and in *contiguous the
 * number of rows from y that follow it in memory, *stride bytes apart. */
const unsigned char* stripWindowRun(const Ktif_File* handle, int32_t plane, int64_t y,
                                    int64_t* contiguous, int64_t* stride);

/* Counters, for tests and benchmarks: rows decoded (each call into the
 * decoder), and restarts (a strip decoded again from its start). */
struct KtifStripWindowStats {
  int64_t rowsDecoded = 0;
  int64_t restarts = 0;
};
void stripWindowsStatsGet(const Ktif_File* handle, KtifStripWindowStats* stats);

#endif
