// Directories read straight from the file, for the entry layer, the header
// listing and the tag queries. Every offset and count taken from the file is
// checked against the file's size before it positions a read or sizes an
// allocation.
#ifndef KTIF_DIR_ENTRY_H
#define KTIF_DIR_ENTRY_H

#include <cstdint>
#include <vector>

#include "kerr_frame.h"
#include "kfio.h"
#include "ktif.h"

// What the header of a file says, and its size.
struct DirFile {
  Kfio_File* file = nullptr;
  int32_t byteOrder = 1;  // 1 "II", 0 "MM"
  int32_t version = 42;   // 42 classic; any other value reads as BigTIFF
  uint64_t firstOffset = 0;
  uint64_t size = 0;
  bool classic() const { return version == 42; }
  uint64_t entrySize() const { return classic() ? 12 : 20; }
  uint64_t countSize() const { return classic() ? 2 : 8; }
  uint64_t inlineSize() const { return classic() ? 4 : 8; }
};

// Reads the header of `file`; false after a report `readFailed`.
bool dirFileRead(Kfio_File* file, DirFile* out, KerrFrame& frame, const char* readFailed);
// The entries of the directory at `offset` (0: the first) in stored order;
// false after a report `readFailed` (a failed read, a directory outside the
// file or running past its end).
bool dirEntriesRead(const DirFile& dir, uint64_t offset, std::vector<TIFFDirEntry>& entries,
                    KerrFrame& frame, const char* readFailed);
// Bytes of one value of a field type (0 for none).
uint64_t dirTypeSize(uint32_t type);
// The bytes of an entry's data; false when they overflow 64 bits.
bool dirDataBytes(const TIFFDirEntry& entry, uint64_t* bytes);
// Swaps big-endian data to machine order or back, by type. `long8` swaps the
// 64-bit types too.
void dirSwab(uint32_t type, void* data, uint64_t count, bool long8);
// The entry of `tag` in the directory at `offset` (0: the first), and the
// file's byte order; null without one (a report only for a failed read).
TIFFDirEntry* dirEntrySeek(Kfio_File* file, uint64_t offset, int32_t* byteOrder, uint16_t tag,
                           KerrFrame& frame);

// A field as the value formatter takes it: the data as stored in the file.
struct Ktif_Field {
  uint32_t tag;
  uint32_t type;
  uint64_t count;
  uint64_t size;  // bytes of data: value size x count
  const void* data;
};
// The field's values as text (a new heap string; at most 100 values, then
// "..."); null after a report. byteOrder is the file's (1 "II", 0 "MM").
char* ktif_GetFieldValue(int32_t byteOrder, const Ktif_Field* field, Kerr_Report** err);

// The 64-bit value of 8 stored bytes.
uint64_t ktif_Long8val(const void* bytes, int32_t byteOrder);

#endif
