// The CCITT decoders: modified Huffman rows (T.4 one-dimensional coding,
// byte-aligned rows) and T.6 two-dimensional coding, one row at a time into
// transition arrays, rendered as one byte per pixel.
//
// The input is the strip and nothing past it: bits beyond its end read as
// zeros, which start no code, so a truncated strip fails instead of reading
// on. A row holds at most width + 1 transitions (at 0 to width) and three
// sentinels: every array has width + 4 entries.
#include <algorithm>
#include <cstring>
#include <mutex>

#include "fax.h"
#include "kerr_frame.h"

namespace {

struct Code {
  uint16_t bits;
  uint8_t length;
};

// T.4 terminating codes (runs 0 to 63) and make-up codes (64 to 1728 in
// steps of 64), white and black, then the make-up codes both colours share
// (1792 to 2560).
constexpr Code kWhiteTerminating[64] = {
    {0x35, 8}, {0x7, 6},  {0x7, 4},  {0x8, 4},  {0xB, 4},  {0xC, 4},  {0xE, 4},  {0xF, 4},
    {0x13, 5}, {0x14, 5}, {0x7, 5},  {0x8, 5},  {0x8, 6},  {0x3, 6},  {0x34, 6}, {0x35, 6},
    {0x2A, 6}, {0x2B, 6}, {0x27, 7}, {0xC, 7},  {0x8, 7},  {0x17, 7}, {0x3, 7},  {0x4, 7},
    {0x28, 7}, {0x2B, 7}, {0x13, 7}, {0x24, 7}, {0x18, 7}, {0x2, 8},  {0x3, 8},  {0x1A, 8},
    {0x1B, 8}, {0x12, 8}, {0x13, 8}, {0x14, 8}, {0x15, 8}, {0x16, 8}, {0x17, 8}, {0x28, 8},
    {0x29, 8}, {0x2A, 8}, {0x2B, 8}, {0x2C, 8}, {0x2D, 8}, {0x4, 8},  {0x5, 8},  {0xA, 8},
    {0xB, 8},  {0x52, 8}, {0x53, 8}, {0x54, 8}, {0x55, 8}, {0x24, 8}, {0x25, 8}, {0x58, 8},
    {0x59, 8}, {0x5A, 8}, {0x5B, 8}, {0x4A, 8}, {0x4B, 8}, {0x32, 8}, {0x33, 8}, {0x34, 8}};
constexpr Code kWhiteMakeUp[27] = {{0x1B, 5}, {0x12, 5}, {0x17, 6}, {0x37, 7}, {0x36, 8}, {0x37, 8},
                                   {0x64, 8}, {0x65, 8}, {0x68, 8}, {0x67, 8}, {0xCC, 9}, {0xCD, 9},
                                   {0xD2, 9}, {0xD3, 9}, {0xD4, 9}, {0xD5, 9}, {0xD6, 9}, {0xD7, 9},
                                   {0xD8, 9}, {0xD9, 9}, {0xDA, 9}, {0xDB, 9}, {0x98, 9}, {0x99, 9},
                                   {0x9A, 9}, {0x18, 6}, {0x9B, 9}};
constexpr Code kBlackTerminating[64] = {
    {0x37, 10}, {0x2, 3},   {0x3, 2},   {0x2, 2},   {0x3, 3},   {0x3, 4},   {0x2, 4},   {0x3, 5},
    {0x5, 6},   {0x4, 6},   {0x4, 7},   {0x5, 7},   {0x7, 7},   {0x4, 8},   {0x7, 8},   {0x18, 9},
    {0x17, 10}, {0x18, 10}, {0x8, 10},  {0x67, 11}, {0x68, 11}, {0x6C, 11}, {0x37, 11}, {0x28, 11},
    {0x17, 11}, {0x18, 11}, {0xCA, 12}, {0xCB, 12}, {0xCC, 12}, {0xCD, 12}, {0x68, 12}, {0x69, 12},
    {0x6A, 12}, {0x6B, 12}, {0xD2, 12}, {0xD3, 12}, {0xD4, 12}, {0xD5, 12}, {0xD6, 12}, {0xD7, 12},
    {0x6C, 12}, {0x6D, 12}, {0xDA, 12}, {0xDB, 12}, {0x54, 12}, {0x55, 12}, {0x56, 12}, {0x57, 12},
    {0x64, 12}, {0x65, 12}, {0x52, 12}, {0x53, 12}, {0x24, 12}, {0x37, 12}, {0x38, 12}, {0x27, 12},
    {0x28, 12}, {0x58, 12}, {0x59, 12}, {0x2B, 12}, {0x2C, 12}, {0x5A, 12}, {0x66, 12}, {0x67, 12}};
constexpr Code kBlackMakeUp[27] = {
    {0xF, 10},  {0xC8, 12}, {0xC9, 12}, {0x5B, 12}, {0x33, 12}, {0x34, 12}, {0x35, 12},
    {0x6C, 13}, {0x6D, 13}, {0x4A, 13}, {0x4B, 13}, {0x4C, 13}, {0x4D, 13}, {0x72, 13},
    {0x73, 13}, {0x74, 13}, {0x75, 13}, {0x76, 13}, {0x77, 13}, {0x52, 13}, {0x53, 13},
    {0x54, 13}, {0x55, 13}, {0x5A, 13}, {0x5B, 13}, {0x64, 13}, {0x65, 13}};
constexpr Code kSharedMakeUp[13] = {{0x8, 11},  {0xC, 11},  {0xD, 11},  {0x12, 12}, {0x13, 12},
                                    {0x14, 12}, {0x15, 12}, {0x16, 12}, {0x17, 12}, {0x1C, 12},
                                    {0x1D, 12}, {0x1E, 12}, {0x1F, 12}};

// T.6 mode codes: VL3 VL2 VL1 V0 VR1 VR2 VR3, pass, horizontal, and the
// end-of-line prefix.
constexpr int kPass = 7, kHorizontal = 8, kEndOfLine = 9;
constexpr Code kModes[10] = {{0x2, 7}, {0x2, 6}, {0x2, 3}, {0x1, 1}, {0x3, 3},
                             {0x3, 6}, {0x3, 7}, {0x1, 4}, {0x1, 3}, {0x1, 8}};

constexpr int kRunBits = 13;
constexpr int kModeBits = 8;
constexpr int kEndOfLineBits = 12;

struct Tables {
  uint16_t white[1 << kRunBits];
  uint16_t black[1 << kRunBits];
  uint16_t modes[1 << kModeBits];
  uint8_t reversed[256];
};

Tables gTables;
std::once_flag gTablesBuilt;

// An entry for every index whose leading bits are the code.
void codePlace(uint16_t* table, int indexBits, Code code, int value) {
  const int free = indexBits - code.length;
  const int first = code.bits << free;
  for (int i = 0; i < (1 << free); ++i)
    if (table[first + i] == 0) table[first + i] = uint16_t(value << 4 | code.length);
}

void runTableBuild(uint16_t* table, const Code* terminating, const Code* makeUp) {
  for (int run = 0; run < 64; ++run) codePlace(table, kRunBits, terminating[run], run);
  for (int i = 0; i < 27; ++i) codePlace(table, kRunBits, makeUp[i], 64 * (i + 1));
  for (int i = 0; i < 13; ++i) codePlace(table, kRunBits, kSharedMakeUp[i], 1792 + 64 * i);
}

void tablesBuild() {
  runTableBuild(gTables.white, kWhiteTerminating, kWhiteMakeUp);
  runTableBuild(gTables.black, kBlackTerminating, kBlackMakeUp);
  for (int mode = 0; mode < 10; ++mode) codePlace(gTables.modes, kModeBits, kModes[mode], mode);
  for (int b = 0; b < 256; ++b) {
    uint8_t r = 0;
    for (int i = 0; i < 8; ++i)
      if (b & (1 << i)) r |= uint8_t(0x80 >> i);
    gTables.reversed[b] = r;
  }
}

// Builds the tables once for the process. The decoders look at gTables
// directly once a strip is set up: std::call_once on every code costs a
// thread-local lookup.
const Tables& tables() {
  std::call_once(gTablesBuilt, tablesBuild);
  return gTables;
}

// Keeps at least 17 valid bits; past the strip's end zeros come in.
void fill(Ktif_FaxDecoder* d) {
  if (d->bitCount > 16) return;
  if (d->end - d->cursor >= 2) {  // the common case: two bytes at once
    d->bits |= (uint32_t(d->cursor[0]) << 8 | d->cursor[1]) << (16 - d->bitCount);
    d->cursor += 2;
    d->bitCount += 16;
    return;
  }
  while (d->bitCount <= 16) {
    uint32_t byte = d->cursor < d->end ? *d->cursor : 0;
    ++d->cursor;
    d->bits |= byte << (24 - d->bitCount);
    d->bitCount += 8;
  }
}

uint32_t peek(Ktif_FaxDecoder* d, int n) {
  fill(d);
  return d->bits >> (32 - n);
}

void consume(Ktif_FaxDecoder* d, int n) {
  d->bits <<= n;
  d->bitCount -= n;
}

// Bits consumed past the strip's end plus a code's worth: the data is over.
bool exhausted(const Ktif_FaxDecoder* d) {
  return d->cursor - d->bitCount / 8 > d->end + 2;
}

// One run of a colour (make-up codes, then a terminating code); -1 for a bit
// pattern that starts no code.
int32_t runDecode(Ktif_FaxDecoder* d, bool black) {
  const uint16_t* table = black ? gTables.black : gTables.white;
  int32_t run = 0;
  for (;;) {
    if (exhausted(d)) return -1;
    uint16_t entry = table[peek(d, kRunBits)];
    if (entry == 0) return -1;
    consume(d, entry & 15);
    int32_t length = entry >> 4;
    run += length;
    if (length < 64) return run;
  }
}

// Runs start white. A white run is stored as 0 bits, which is white for
// WhiteIsZero (delivered complemented: 1) and black for BlackIsZero (0).
void render(const Ktif_FaxDecoder* d, const int32_t* transitions, int32_t photometric) {
  int32_t at = 0;
  uint8_t value = photometric == 0 ? 1 : 0;
  uint8_t* out = d->output;
  for (const int32_t* t = transitions; at < d->width; ++t) {
    const int32_t next = std::min(*t, d->width);
    if (next - at < 16) {
      for (int32_t x = at; x < next; ++x) out[x] = value;  // short runs: no call
    } else {
      std::memset(out + at, value, size_t(next - at));
    }
    at = next;
    value ^= 1;
  }
}

void overrun(const char* label, int32_t line) {
  KerrFrame frame(label, nullptr, KERR_PRINT_NOVSL);
  frame.warn(__LINE__, KERR_WARNING, "%s : line# %d has overrun", label, line);
}

void restartAt(Ktif_FaxDecoder* d) {
  d->cursor = d->input;
  d->bits = 0;
  d->bitCount = 0;
  fill(d);
  d->line = 0;
  d->ended = false;
}

// Ends a row's transitions with the sentinels the next searches stop at:
// a change to each colour at the width, then one past it for b2.
void terminate(int32_t* line, int32_t count, int32_t width) {
  line[count] = width;
  line[count + 1] = width;
  line[count + 2] = width + 1;
}

int setGlobals(Ktif_FaxDecoder* d, int32_t width, uint8_t* output, const uint8_t* input,
               uint32_t inputSize) {
  if (d == nullptr || width <= 0 || output == nullptr || input == nullptr) return -1;
  tables();
  d->width = width;
  d->xOffset = 0;
  d->output = output;
  d->input = input;
  d->end = input + inputSize;
  // Transitions at 0 to width, and three sentinels.
  const size_t entries = size_t(width) + 4;
  if (d->codingLine.size() != entries) {
    d->codingLine.assign(entries, 0);
    d->referenceLine.assign(entries, 0);
    d->coding = d->codingLine.data();
    d->reference = d->referenceLine.data();
    d->cursor = nullptr;  // arrays made anew: the next call restarts
  }
  return 1;
}

// One modified Huffman row into the coding line; false on a bad code or an
// overrun (`overran`).
bool row1D(Ktif_FaxDecoder* d, bool* overran) {
  int32_t* line = d->coding;
  int32_t position = 0, count = 0;
  bool black = false;
  while (position < d->width) {
    int32_t run = runDecode(d, black);
    if (run < 0) return false;
    position += run;
    if (position > d->width) return *overran = true, false;
    if (count > d->width) return false;  // runs of nothing, over and over
    line[count++] = position;
    black = !black;
  }
  terminate(line, count, d->width);
  consume(d, d->bitCount % 8);  // rows start on a byte boundary
  return true;
}

// One T.6 row against the reference line; false on a bad code or an overrun.
// An end-of-block code before the row leaves it, and the rest, white.
bool row2D(Ktif_FaxDecoder* d, bool* overran) {
  const int32_t width = d->width;
  const int32_t* ref = d->reference;
  int32_t* line = d->coding;
  int32_t count = 0, a0 = -1, r = 0;
  bool black = false;
  auto place = [&](int32_t a1) {
    if (a1 > width) return *overran = true, false;
    if (a1 < a0 || count > width) return false;
    line[count++] = a1;
    return true;
  };
  while (a0 < width && !d->ended) {
    // b1: the first change of the reference line past a0 to the colour
    // opposite a0's (even entries change to black, odd ones to white).
    while (r > 0 && ref[r - 1] > a0) --r;
    while (ref[r] <= a0 || (r & 1) != int(black)) ++r;
    const int32_t b1 = ref[r], b2 = ref[r + 1];
    if (exhausted(d)) return false;
    // An end-of-line code (eleven 0 bits and a 1) stands for the end of block.
    const bool endOfLine = peek(d, kEndOfLineBits) == 1;
    uint16_t entry =
        endOfLine ? uint16_t(kEndOfLine << 4 | kEndOfLineBits) : gTables.modes[peek(d, kModeBits)];
    if (entry == 0) return false;
    consume(d, entry & 15);
    const int mode = entry >> 4;
    if (mode == kEndOfLine) {
      if (count > 0 || a0 >= 0) return false;  // inside a row: corrupt
      d->ended = true;
      break;
    }
    if (mode == kPass) {
      if (b2 > width) return *overran = true, false;
      a0 = b2;
    } else if (mode == kHorizontal) {
      d->savedBits = d->bits, d->savedCount = d->bitCount;
      int32_t first = runDecode(d, black);
      int32_t second = first < 0 ? -1 : runDecode(d, !black);
      if (second < 0) return false;
      const int32_t a1 = std::max(a0, 0) + first;
      if (!place(a1) || !place(a1 + second)) return false;
      a0 = a1 + second;
    } else {
      // A change must lie past a0; only the row's first may be at its start.
      const int32_t a1 = b1 + mode - 3;
      if (a1 < 0 || (a0 >= 0 && a1 <= a0) || !place(a1)) return false;
      a0 = a1;
      black = !black;
    }
  }
  if (d->ended) {
    count = 0;  // white
  } else if (a0 > width) {
    return *overran = true, false;
  }
  terminate(line, count, width);
  return true;
}

int expand(const char* label, bool twoD, int32_t photometric, int32_t restart, int32_t row,
           int32_t width, Ktif_FaxDecoder* d) {
  if (d == nullptr || d->output == nullptr || width != d->width || row < 0) return 1;
  tables();
  if (restart || d->cursor == nullptr || row < d->line - 1) {
    restartAt(d);
    if (twoD) terminate(d->reference, 0, width);  // the line above the first is white
  }
  // The row was decoded by the previous call: render it again.
  if (row == d->line - 1) return render(d, twoD ? d->reference : d->coding, photometric), 0;
  while (d->line <= row) {
    bool overran = false;
    if (!(twoD ? row2D(d, &overran) : row1D(d, &overran))) {
      if (overran) overrun(label, d->line);
      d->cursor = nullptr;  // the next call starts afresh
      return 1;
    }
    if (twoD) std::swap(d->coding, d->reference);
    ++d->line;
  }
  render(d, twoD ? d->reference : d->coding, photometric);
  return 0;
}

}  // namespace

int set_g3_globals(Ktif_FaxDecoder* decoder, int32_t width, uint8_t* output, const uint8_t* input,
                   uint32_t inputSize) {
  return setGlobals(decoder, width, output, input, inputSize);
}

int set_g4_globals(Ktif_FaxDecoder* decoder, int32_t width, uint8_t* output, const uint8_t* input,
                   uint32_t inputSize) {
  return setGlobals(decoder, width, output, input, inputSize);
}

int G1DExpand(int32_t photometric, int32_t restart, int32_t row, int32_t width,
              Ktif_FaxDecoder* decoder) {
  return expand("G1Dexpand", false, photometric, restart, row, width, decoder);
}

int G4Expand(int32_t photometric, int32_t restart, int32_t row, int32_t width,
             Ktif_FaxDecoder* decoder) {
  return expand("G4expand", true, photometric, restart, row, width, decoder);
}

const uint8_t* faxReversedBytes() {
  return tables().reversed;
}
