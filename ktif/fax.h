// CCITT decoding of bilevel strips (compression 2, modified Huffman rows,
// and compression 4, T.6), row by row, for the raster buffer (internal).
//
// Output convention: one byte per pixel, white 1 and black 0 in both
// photometric interpretations, which is what the libtiff road delivers after
// the WhiteIsZero complement; a host cannot tell the two roads apart.
#ifndef KTIF_FAX_H
#define KTIF_FAX_H

#include <cstdint>
#include <vector>

#include "ktif.h"

struct Ktif_FaxDecoder {
  int32_t width = 0;
  int32_t xOffset = 0;
  uint8_t* output = nullptr;       // the row buffer, width bytes
  const uint8_t* input = nullptr;  // the strip's first byte
  const uint8_t* cursor = nullptr;
  const uint8_t* end = nullptr;  // past the strip's last byte
  int32_t line = 0;              // the next row of the strip to decode
  uint32_t bits = 0;             // next input bits, left-aligned
  int32_t bitCount = 0;
  uint32_t savedBits = 0;  // the accumulator while a horizontal pair decodes
  int32_t savedCount = 0;
  bool ended = false;  // an end-of-block code was met: later rows are white
  std::vector<int32_t> codingLine, referenceLine;
  int32_t* coding = nullptr;
  int32_t* reference = nullptr;
};

struct Ktif_FaxState {
  uint8_t* rawStrip = nullptr;
  uint32_t rawStripSize = 0;
  int32_t loadedStrip = -1;
  int32_t rowsPerStrip = -1;
  int32_t lastRow = 0;
  Ktif_FaxDecoder* decoder = nullptr;
  uint64_t* stripByteCounts = nullptr;  // libtiff's, not owned
  int32_t fillOrder = 0;
  uint32_t loadedSize = 0;  // bytes of the loaded strip
};

// Prepare the decoder for a strip of `inputSize` bytes: 1 on success, -1
// without a decoder or when the tables cannot be built.
int set_g3_globals(Ktif_FaxDecoder* decoder, int32_t width, uint8_t* output, const uint8_t* input,
                   uint32_t inputSize);
int set_g4_globals(Ktif_FaxDecoder* decoder, int32_t width, uint8_t* output, const uint8_t* input,
                   uint32_t inputSize);
// Decode up to and including `row` of the strip (from its start when
// `restart`) and render that row; 1 on failure, else 0. An overrun is shown
// as a warning naming the row.
int G1DExpand(int32_t photometric, int32_t restart, int32_t row, int32_t width,
              Ktif_FaxDecoder* decoder);
int G4Expand(int32_t photometric, int32_t restart, int32_t row, int32_t width,
             Ktif_FaxDecoder* decoder);

// The state for an image the decoder serves (single-layer 1-bit strips with
// compression 2 or 4 and no option it lacks), or null for the libtiff road.
Ktif_FaxState* faxStateCreate(const Ktif_File* handle);
// One row of the image into `buffer` (rbBlockWidth bytes).
void RBReadFunc1Bit(int32_t row, void** buffer, Kerr_Report** err, Ktif_File* handle);

#endif
