// Raw directory entries: stored numbers in either byte order, entries of
// classic TIFF and BigTIFF, and their data, all through host file handles.
#include "dir_entry.h"

#include <tiffio.h>

#include <cinttypes>
#include <cstring>
#include <memory>

#include "kerr_guard.h"
#include "kmsc.h"

namespace {

constexpr uint16_t kClassic = 42;

uint64_t storedValue(const uint8_t* bytes, int n, int32_t byteOrder) {
  uint64_t value = 0;
  for (int i = 0; i < n; ++i) {
    int shift = byteOrder == 1 ? 8 * i : 8 * (n - 1 - i);
    value |= uint64_t(bytes[i]) << shift;
  }
  return value;
}

// The value field of an entry as the bytes it stood for in the file.
void valueFieldBytes(uint64_t value, int32_t byteOrder, uint64_t width, uint8_t* out) {
  for (uint64_t i = 0; i < width; ++i) {
    uint64_t shift = byteOrder == 1 ? 8 * i : 8 * (width - 1 - i);
    out[i] = uint8_t(value >> shift);
  }
}

bool readExact(Kfio_File* file, void* buffer, int64_t bytes, KerrFrame& frame,
               const char* readFailed) {
  if (kfio_ReadSeq(file, buffer, bytes, frame.slot()) == bytes && !frame.hasReport()) return true;
  frame.fail(__LINE__, "%s", readFailed);
  return false;
}

bool seekTo(Kfio_File* file, uint64_t offset, KerrFrame& frame, const char* readFailed) {
  if (offset <= uint64_t(INT64_MAX) && kfio_fseeko(file, int64_t(offset), KFIO_SEEK_SET) == 0)
    return true;
  frame.fail(__LINE__, "%s", readFailed);
  return false;
}

// The file's size, with the position kept; 0 when it cannot be learnt.
uint64_t fileSize(Kfio_File* file) {
  int64_t at = kfio_ftello(file);
  if (at < 0 || kfio_fseeko(file, 0, KFIO_SEEK_END) != 0) return 0;
  int64_t end = kfio_ftello(file);
  kfio_fseeko(file, at, KFIO_SEEK_SET);
  return end > 0 ? uint64_t(end) : 0;
}

// Reads an entry's data bytes, from the value field or from the file, in the
// file's byte order. `version` decides the value field's width.
int32_t dataRead(Kfio_File* file, int32_t byteOrder, int32_t version, const TIFFDirEntry* entry,
                 void** data, KerrFrame& frame) {
  uint64_t bytes = 0;
  if (!dirDataBytes(*entry, &bytes))
    return frame.fail(__LINE__, "Data of tag %u overflows: %" PRIu64 " values of type %u",
                      entry->tag, entry->count, entry->type),
           0;
  if (bytes == 0) return 1;
  const uint64_t inlineSize = version == kClassic ? 4 : 8;
  const uint64_t size = bytes > inlineSize ? fileSize(file) : 0;
  if (bytes > inlineSize && (entry->offset > size || bytes > size - entry->offset))
    return frame.fail(__LINE__,
                      "Data of tag %u (%" PRIu64 " bytes at %" PRIu64
                      ") runs past the end of the file (%" PRIu64 " bytes)",
                      entry->tag, bytes, entry->offset, size),
           0;
  auto* buffer = static_cast<uint8_t*>(kmsc_HeapMalloc(size_t(bytes)));
  if (buffer == nullptr) return frame.fail(__LINE__, "Insufficient memory"), 0;
  if (bytes <= inlineSize) {
    uint8_t field[8];
    valueFieldBytes(entry->offset, byteOrder, inlineSize, field);
    std::memcpy(buffer, field, size_t(bytes));
  } else if (!seekTo(file, entry->offset, frame, "kfio_ReadSeq failed") ||
             !readExact(file, buffer, int64_t(bytes), frame, "kfio_ReadSeq failed")) {
    kmsc_HeapFree(buffer);
    return 0;
  }
  *data = buffer;
  return 1;
}

// The version field of the file's header.
bool versionRead(Kfio_File* file, int32_t byteOrder, int32_t* version, KerrFrame& frame) {
  uint8_t bytes[2];
  if (!seekTo(file, 2, frame, "kfio_ReadSeq failed") ||
      !readExact(file, bytes, 2, frame, "kfio_ReadSeq failed"))
    return false;
  *version = ktif_Shortval(bytes, byteOrder);
  return true;
}

// Reads, then brings back the caller's position.
int32_t dataReadKeepingPosition(Kfio_File* file, int32_t byteOrder, int32_t version,
                                const TIFFDirEntry* entry, void** data, bool toMachine,
                                KerrFrame& frame) {
  int64_t position = kfio_ftello(file);
  int32_t ok = dataRead(file, byteOrder, version, entry, data, frame);
  if (ok && *data != nullptr && toMachine && byteOrder == 0)
    dirSwab(entry->type, *data, entry->count, true);
  if (position >= 0) kfio_fseeko(file, position, KFIO_SEEK_SET);
  return ok;
}

}  // namespace

uint64_t dirTypeSize(uint32_t type) {
  static const uint8_t kSizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4, 0, 0, 8, 8, 8};
  return type < sizeof kSizes ? kSizes[type] : 0;
}

bool dirDataBytes(const TIFFDirEntry& entry, uint64_t* bytes) {
  uint64_t size = dirTypeSize(entry.type);
  if (size != 0 && entry.count > UINT64_MAX / size) return false;
  *bytes = size * entry.count;
  return true;
}

void dirSwab(uint32_t type, void* data, uint64_t count, bool long8) {
  // libtiff's swabbers take a tmsize_t count; callers' counts are bounded by
  // the file size, so they fit.
  auto n = tmsize_t(count);
  switch (type) {
    case TIFF_SHORT:
    case TIFF_SSHORT:
      TIFFSwabArrayOfShort(static_cast<uint16_t*>(data), n);
      break;
    case TIFF_LONG:
    case TIFF_SLONG:
    case TIFF_FLOAT:
      TIFFSwabArrayOfLong(static_cast<uint32_t*>(data), n);
      break;
    case TIFF_RATIONAL:
    case TIFF_SRATIONAL:
      TIFFSwabArrayOfLong(static_cast<uint32_t*>(data), 2 * n);
      break;
    case TIFF_DOUBLE:
      TIFFSwabArrayOfDouble(static_cast<double*>(data), n);
      break;
    case TIFF_LONG8:
    case TIFF_SLONG8:
      if (long8) TIFFSwabArrayOfLong8(static_cast<uint64_t*>(data), n);
      break;
    default:
      break;
  }
}

bool dirFileRead(Kfio_File* file, DirFile* out, KerrFrame& frame, const char* readFailed) {
  uint8_t header[16];
  out->file = file;
  if (!seekTo(file, 0, frame, readFailed) || !readExact(file, header, 4, frame, readFailed))
    return false;
  out->byteOrder = header[0] == 'M' ? 0 : 1;
  out->version = ktif_Shortval(header + 2, out->byteOrder);
  if (out->classic()) {
    if (!readExact(file, header, 4, frame, readFailed)) return false;
    out->firstOffset = ktif_Longval(header, out->byteOrder);
  } else {
    if (!readExact(file, header, 12, frame, readFailed)) return false;
    out->firstOffset = ktif_Long8val(header + 4, out->byteOrder);
  }
  out->size = fileSize(file);
  return true;
}

bool dirEntriesRead(const DirFile& dir, uint64_t offset, std::vector<TIFFDirEntry>& entries,
                    KerrFrame& frame, const char* readFailed) {
  entries.clear();
  uint64_t at = offset != 0 ? offset : dir.firstOffset;
  if (at > dir.size || dir.countSize() > dir.size - at) {
    frame.fail(__LINE__,
               "Directory offset %" PRIu64 " is past the end of the file (%" PRIu64 " bytes)", at,
               dir.size);
    return false;
  }
  uint8_t raw[20];
  if (!seekTo(dir.file, at, frame, readFailed) ||
      !readExact(dir.file, raw, int64_t(dir.countSize()), frame, readFailed))
    return false;
  uint64_t count =
      dir.classic() ? ktif_Shortval(raw, dir.byteOrder) : ktif_Long8val(raw, dir.byteOrder);
  uint64_t room = (dir.size - at - dir.countSize()) / dir.entrySize();
  if (count > room) {
    frame.fail(__LINE__,
               "A directory of %" PRIu64 " entries at %" PRIu64
               " runs past the end of the file (%" PRIu64 " bytes)",
               count, at, dir.size);
    return false;
  }
  entries.reserve(size_t(count));
  for (uint64_t i = 0; i < count; ++i) {
    if (!readExact(dir.file, raw, int64_t(dir.entrySize()), frame, readFailed)) return false;
    TIFFDirEntry entry{};
    entry.tag = ktif_Shortval(raw, dir.byteOrder);
    entry.type = ktif_Shortval(raw + 2, dir.byteOrder);
    entry.count = dir.classic() ? ktif_Longval(raw + 4, dir.byteOrder)
                                : ktif_Long8val(raw + 4, dir.byteOrder);
    entry.offset = dir.classic() ? ktif_Longval(raw + 8, dir.byteOrder)
                                 : ktif_Long8val(raw + 12, dir.byteOrder);
    entries.push_back(entry);
  }
  return true;
}

uint64_t ktif_Long8val(const void* bytes, int32_t byteOrder) {
  return storedValue(static_cast<const uint8_t*>(bytes), 8, byteOrder);
}

extern "C" uint16_t ktif_Shortval(const void* bytes, int32_t byteOrder) {
  return bytes ? uint16_t(storedValue(static_cast<const uint8_t*>(bytes), 2, byteOrder)) : 0;
}

extern "C" uint32_t ktif_Longval(const void* bytes, int32_t byteOrder) {
  return bytes ? uint32_t(storedValue(static_cast<const uint8_t*>(bytes), 4, byteOrder)) : 0;
}

extern "C" double ktif_Doubleval(const void* bytes, int32_t byteOrder) {
  if (bytes == nullptr) return 0.0;
  uint64_t bits = storedValue(static_cast<const uint8_t*>(bytes), 8, byteOrder);
  double value = 0.0;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

extern "C" TIFFDirEntry* ktif_TIFFDirEntryCreateFromData(const void* raw, int32_t byteOrder,
                                                         int32_t version) {
  if (raw == nullptr) return nullptr;
  const auto* bytes = static_cast<const uint8_t*>(raw);
  auto* entry = static_cast<TIFFDirEntry*>(kmsc_HeapMalloc(sizeof(TIFFDirEntry)));
  if (entry == nullptr) {
    KerrFrame frame("TIFFDirEntryCreateFromData", nullptr);
    frame.fail(__LINE__, "Insufficient memory");
    frame.showAndDrop();
    return nullptr;
  }
  entry->tag = ktif_Shortval(bytes, byteOrder);
  entry->type = ktif_Shortval(bytes + 2, byteOrder);
  bool classic = version == kClassic;
  entry->count = classic ? ktif_Longval(bytes + 4, byteOrder) : ktif_Long8val(bytes + 4, byteOrder);
  entry->offset =
      classic ? ktif_Longval(bytes + 8, byteOrder) : ktif_Long8val(bytes + 12, byteOrder);
  return entry;
}

TIFFDirEntry* dirEntrySeek(Kfio_File* file, uint64_t offset, int32_t* byteOrder, uint16_t tag,
                           KerrFrame& frame) {
  DirFile dir;
  std::vector<TIFFDirEntry> entries;
  if (!dirFileRead(file, &dir, frame, "kfio_ReadSeq failed")) return nullptr;
  if (byteOrder != nullptr) *byteOrder = dir.byteOrder;
  if (!dirEntriesRead(dir, offset, entries, frame, "kfio_ReadSeq failed")) return nullptr;
  for (const TIFFDirEntry& e : entries) {
    if (e.tag != tag) continue;
    auto* entry = static_cast<TIFFDirEntry*>(kmsc_HeapMalloc(sizeof(TIFFDirEntry)));
    if (entry == nullptr) frame.fail(__LINE__, "TIFFDirEntryCreateFromData failed");
    if (entry != nullptr) *entry = e;
    return entry;
  }
  return nullptr;
}

extern "C" TIFFDirEntry* ktif_TIFFDirEntrySeek(Kfio_File* file, int32_t* byteOrder, uint16_t tag,
                                               Kerr_Report** err) {
  return kerrGuard(__func__, err, static_cast<TIFFDirEntry*>(nullptr), [&]() -> TIFFDirEntry* {
    KerrFrame frame("ktif_TIFFDirEntrySeek", err);
    if (file == nullptr) return frame.fail(__LINE__, "Args"), nullptr;
    TIFFDirEntry* entry = dirEntrySeek(file, 0, byteOrder, tag, frame);
    if (err == nullptr && frame.hasReport()) frame.showAndDrop();
    return entry;
  });
}

extern "C" int32_t ktif_TIFFDirEntryDataRead(Kfio_File* file, int32_t byteOrder,
                                             const TIFFDirEntry* entry, void** data,
                                             Kerr_Report** err) {
  return kerrGuard(__func__, err, int32_t(0), [&]() -> int32_t {
    KerrFrame frame("ktif_TIFFDirEntryDataRead", err);
    if (data != nullptr) *data = nullptr;
    if (file == nullptr || entry == nullptr || data == nullptr)
      return frame.fail(__LINE__, "Args"), 0;
    int32_t version = 0;
    int64_t position = kfio_ftello(file);
    bool known = versionRead(file, byteOrder, &version, frame);
    if (position >= 0) kfio_fseeko(file, position, KFIO_SEEK_SET);
    if (!known) return 0;
    return dataReadKeepingPosition(file, byteOrder, version, entry, data, true, frame);
  });
}

extern "C" int32_t ktif_TIFFDirEntryDataReadRawData(Kfio_File* file, const TIFFDirEntry* entry,
                                                    void** data, Kerr_Report** err) {
  return kerrGuard(__func__, err, int32_t(0), [&]() -> int32_t {
    KerrFrame frame("ktif_TIFFDirEntryDataRead", err);
    if (data != nullptr) *data = nullptr;
    if (file == nullptr || entry == nullptr || data == nullptr)
      return frame.fail(__LINE__, "Args"), 0;
    int64_t position = kfio_ftello(file);
    DirFile dir;
    bool known = dirFileRead(file, &dir, frame, "kfio_ReadSeq failed");
    if (position >= 0) kfio_fseeko(file, position, KFIO_SEEK_SET);
    if (!known) return 0;
    return dataReadKeepingPosition(file, dir.byteOrder, dir.version, entry, data, false, frame);
  });
}

extern "C" int32_t ktif_TIFFDirEntryDataWrite(Kfio_File* file, int32_t byteOrder,
                                              TIFFDirEntry* entry, void* data, Kerr_Report** err) {
  return kerrGuard(__func__, err, int32_t(0), [&]() -> int32_t {
    KerrFrame frame("ktif_TIFFDirEntryDataWrite", err);
    uint64_t bytes = 0;
    if (file == nullptr || entry == nullptr || !dirDataBytes(*entry, &bytes) ||
        (bytes != 0 && data == nullptr))
      return frame.fail(__LINE__, "Args"), 0;
    if (bytes == 0) return 1;
    if (bytes > 4 && (entry->offset > UINT32_MAX || bytes > UINT32_MAX - entry->offset))
      return frame.fail(__LINE__, "Data of tag %u does not fit a classic TIFF", entry->tag), 0;
    int64_t position = kfio_ftello(file);
    const bool swap = byteOrder == 0;
    if (swap) dirSwab(entry->type, data, entry->count, false);
    bool ok = true;
    if (bytes > 4) {
      ok = kfio_WriteDirect(file, uint32_t(entry->offset), data, int64_t(bytes), frame.slot()) ==
           int64_t(bytes);
      if (!ok) frame.fail(__LINE__, "kfio_WriteDirect failed");
    } else {
      uint8_t field[4] = {0, 0, 0, 0};
      std::memcpy(field, data, size_t(bytes));
      entry->offset = ktif_Longval(field, byteOrder);
    }
    if (swap) dirSwab(entry->type, data, entry->count, false);
    if (position >= 0 && kfio_fseeko(file, position, KFIO_SEEK_SET) != 0) {
      KerrFrame notice("ktif_TIFFDirEntryDataWrite", nullptr);
      notice.report(__LINE__, KERR_NOTICE, "kfio_fseeko failure");
      notice.showAndDrop();
    }
    return ok ? 1 : 0;
  });
}
