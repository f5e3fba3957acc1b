// Tag queries: the tags of a directory and their values as text, read
// straight from the file in either byte order, classic TIFF and BigTIFF.
#include <tiffio.h>

#include <cinttypes>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "dir_entry.h"
#include "kerr_guard.h"
#include "kmsc.h"
#include "kstr.h"

namespace {

constexpr uint64_t kMaxValues = 100;

bool isGeoKeyTag(uint32_t tag) {
  return tag == 34735 || tag == 34736 || tag == 34737;
}

struct ValueName {
  uint16_t value;
  const char* name;
};

struct TagNames {
  uint16_t tag;
  const ValueName* names;
  size_t count;
};

constexpr ValueName kNewSubfileType[] = {
    {1, "Reduced Image"}, {2, "One Page of Many"}, {4, "Transparency Mask"}};
constexpr ValueName kSubfileType[] = {
    {1, "Full Resolution Image"}, {2, "Reduced Image"}, {3, "One Page of Many"}};
// Searched in order: the first match wins.
constexpr ValueName kCompression[] = {
    {1, "None"},
    {2, "CCITT (1D)"},
    {3, "CCITT Group 3"},
    {4, "CCITT Group 4"},
    {5, "LZW"},
    {6, "OJPEG"},
    {7, "JPEG"},
    {32766, "Next"},
    {32771, "CCITT RLEW"},
    {32773, "PackBits"},
    {32809, "Thunderscan"},
    {32895, "IT8 CT with padding"},
    {32896, "IT8 Linework RLE"},
    {32897, "IT8 Monochrome Picture"},
    {32898, "IT8 Binary Line Art"},
    {32908, "Pixar 10bit LZW"},
    {32909, "Pixar 11bit ZIP"},
    {32946, "Deflate"},
    {8, "Adobe Deflate"},
    {32947, "Kodak DCS"},
    {34661, "ISO JBIG"},
    {34676, "SGI Log Luminance RLE"},
    {34677, "SGI Log 24-bit packed"},
    {34712, "JPEG2000"},
};
constexpr ValueName kPhotometric[] = {{0, "Min Value is White"},
                                      {1, "Min Value is Black"},
                                      {2, "RGB"},
                                      {3, "Palette"},
                                      {4, "Mask"},
                                      {5, "Separated"},
                                      {6, "YCbCr"},
                                      {8, "CIE Lab"},
                                      {9, "ICC Lab"},
                                      {10, "ITU Lab"},
                                      {32844, "CIE Log2(L)"},
                                      {32845, "CIE Log2(L) (u',v')"}};
constexpr ValueName kOrientation[] = {{1, "Top Left"},     {2, "Top Right"},  {3, "Bottom Right"},
                                      {4, "Bottom Left"},  {5, "Left Top"},   {6, "Right Top"},
                                      {7, "Right Bottom"}, {8, "Left Bottom"}};
constexpr ValueName kPlanar[] = {{1, "Contiguous"}, {2, "Separate Data Planes"}};
constexpr ValueName kResolutionUnit[] = {{1, "None"}, {2, "Inches"}, {3, "Centimeters"}};
constexpr ValueName kSampleFormat[] = {
    {1, "Unsigned Integer"},       {2, "Signed Integer"},
    {3, "IEEE Floating Point"},    {4, "Void"},
    {5, "Complex Signed Integer"}, {6, "Complex IEEE Floating Point"}};

template <size_t N>
constexpr TagNames names(uint16_t tag, const ValueName (&table)[N]) {
  return {tag, table, N};
}
constexpr TagNames kTagNames[] = {names(254, kNewSubfileType), names(255, kSubfileType),
                                  names(259, kCompression),    names(262, kPhotometric),
                                  names(274, kOrientation),    names(284, kPlanar),
                                  names(296, kResolutionUnit), names(339, kSampleFormat)};

const char* valueName(uint32_t tag, uint16_t value) {
  for (const TagNames& t : kTagNames) {
    if (t.tag != tag) continue;
    for (size_t i = 0; i < t.count; ++i)
      if (t.names[i].value == value) return t.names[i].name;
  }
  return nullptr;
}

double ratio(double numerator, double denominator) {
  return numerator / denominator;
}

// One value as text (without the separator), or false for a type whose
// values have no text.
bool valueText(int32_t byteOrder, uint32_t type, const uint8_t* at, char* out, size_t size) {
  switch (type) {
    case TIFF_BYTE:
    case TIFF_UNDEFINED:
      std::snprintf(out, size, "%hu", static_cast<unsigned short>(at[0]));
      return true;
    case TIFF_ASCII:
      std::snprintf(out, size, "%c", static_cast<char>(at[0]));
      return true;
    case TIFF_SHORT:
      std::snprintf(out, size, "%hu", ktif_Shortval(at, byteOrder));
      return true;
    case TIFF_LONG:
      std::snprintf(out, size, "%lu", static_cast<unsigned long>(ktif_Longval(at, byteOrder)));
      return true;
    case TIFF_RATIONAL:
      std::snprintf(out, size, "%f",
                    ratio(ktif_Longval(at, byteOrder), ktif_Longval(at + 4, byteOrder)));
      return true;
    case TIFF_SBYTE:
      std::snprintf(out, size, "%hd", static_cast<short>(static_cast<int8_t>(at[0])));
      return true;
    case TIFF_SSHORT:
      std::snprintf(out, size, "%hd", static_cast<short>(ktif_Shortval(at, byteOrder)));
      return true;
    case TIFF_SLONG:
      std::snprintf(out, size, "%ld", static_cast<long>(int32_t(ktif_Longval(at, byteOrder))));
      return true;
    case TIFF_SRATIONAL:
      std::snprintf(
          out, size, "%f",
          ratio(int32_t(ktif_Longval(at, byteOrder)), int32_t(ktif_Longval(at + 4, byteOrder))));
      return true;
    case TIFF_FLOAT: {
      uint32_t bits = ktif_Longval(at, byteOrder);
      float value = 0;
      std::memcpy(&value, &bits, sizeof value);
      std::snprintf(out, size, "%f", double(value));
      return true;
    }
    case TIFF_DOUBLE:
      std::snprintf(out, size, "%f", ktif_Doubleval(at, byteOrder));
      return true;
    case TIFF_LONG8:
      std::snprintf(out, size, "%" PRIu64, ktif_Long8val(at, byteOrder));
      return true;
    case TIFF_SLONG8:
      std::snprintf(out, size, "%" PRId64, int64_t(ktif_Long8val(at, byteOrder)));
      return true;
    default:
      return false;
  }
}

// The file's tags at `offset`, after the header; false after a report.
bool directoryRead(const char* path, uint64_t offset, DirFile* dir,
                   std::vector<TIFFDirEntry>& entries, KerrFrame& frame) {
  Kfio_File* file = kfio_Open(path, "rb", frame.slot());
  if (file == nullptr) return frame.fail(__LINE__, "Error opening file"), false;
  bool ok = dirFileRead(file, dir, frame, "Error reading file") &&
            dirEntriesRead(*dir, offset, entries, frame, "Error reading file");
  kfio_Close(&file, nullptr);
  return ok;
}

}  // namespace

char* ktif_GetFieldValue(int32_t byteOrder, const Ktif_Field* field, Kerr_Report** err) {
  KerrFrame frame("ktif_GetFieldValue", err);
  const uint64_t size = dirTypeSize(field != nullptr ? field->type : 0);
  // Types without a value size have no data to point at.
  if (field == nullptr || (size != 0 && field->count != 0 && field->data == nullptr))
    return frame.fail(__LINE__, "Args"), nullptr;
  if (size != 0 && field->size / size < std::min(field->count, kMaxValues))
    return frame.fail(__LINE__, "Args"), nullptr;
  const auto* data = static_cast<const uint8_t*>(field->data);
  const bool braces = field->count > 1 && field->type != TIFF_ASCII;
  std::string text = braces ? "{ " : "";
  char value[64];
  if (field->type == 0) kfio_Printf("<no type> ");
  for (uint64_t i = 0; i < field->count && i < kMaxValues; ++i) {
    const uint8_t* at = data + size * i;
    if (!valueText(byteOrder, field->type, at, value, sizeof value)) continue;
    const char* name = field->type == TIFF_SHORT && field->count == 1
                           ? valueName(field->tag, ktif_Shortval(at, byteOrder))
                           : nullptr;
    // The first value stands alone; later ones each take a trailing blank.
    bool first = text.empty();
    text += name != nullptr ? name : value;
    if (!first && field->type != TIFF_ASCII) text += ' ';
  }
  if (field->count > kMaxValues) text += "...";
  if (braces) text += "}";
  char* out = kstr_Duplicate(text.c_str());
  if (out == nullptr) frame.fail(__LINE__, "Error creating string");
  return out;
}

extern "C" void ktif_AvailableTags(const char* path, uint64_t offset, uint32_t** tags,
                                   uint64_t* count, Kerr_Report** err) {
  kerrGuardVoid(__func__, err, [&] {
    KerrFrame frame("ktif_AvailableTags", err);
    if (tags == nullptr) return frame.fail(__LINE__, "Error determining tags in this file");
    *tags = nullptr;
    if (count != nullptr) *count = 0;
    DirFile dir;
    std::vector<TIFFDirEntry> entries;
    if (!directoryRead(path, offset, &dir, entries, frame)) return;
    auto* list = static_cast<uint32_t*>(kmsc_HeapMalloc(sizeof(uint32_t) * (entries.size() + 1)));
    if (list == nullptr) return frame.fail(__LINE__, "No Memory!!");
    uint64_t n = 0;
    for (const TIFFDirEntry& e : entries)
      if (!isGeoKeyTag(e.tag)) list[n++] = e.tag;
    *tags = list;
    if (count != nullptr) *count = n;
  });
}

extern "C" char* ktif_GetTagValue(const char* path, uint64_t offset, int32_t tag, uint64_t* count,
                                  uint32_t* type, Kerr_Report** err) {
  return kerrGuard(__func__, err, static_cast<char*>(nullptr), [&]() -> char* {
    KerrFrame frame("ktif_GetTagValue", err);
    Kfio_File* file = kfio_Open(path, "rb", frame.slot());
    if (file == nullptr) return frame.fail(__LINE__, "Error opening file"), nullptr;
    int32_t byteOrder = 1;
    TIFFDirEntry* entry = dirEntrySeek(file, offset, &byteOrder, uint16_t(tag), frame);
    void* data = nullptr;
    char* text = nullptr;
    if (entry == nullptr) {
      frame.fail(__LINE__, "Error finding tag");
    } else if (!ktif_TIFFDirEntryDataReadRawData(file, entry, &data, frame.slot())) {
      frame.fail(__LINE__, "Error reading entry");
    } else {
      Ktif_Field field{entry->tag, entry->type, entry->count, 0, data};
      dirDataBytes(*entry, &field.size);
      text = ktif_GetFieldValue(byteOrder, &field, frame.slot());
      if (text == nullptr) frame.fail(__LINE__, "Error getting field value");
    }
    if (kfio_Close(&file, nullptr) != 0 && text != nullptr) {
      kmsc_HeapFree(text);
      text = nullptr;
      frame.fail(__LINE__, "Error closing file");
    }
    if (text != nullptr) {
      if (count != nullptr) *count = entry->count;
      if (type != nullptr) *type = entry->type;
    }
    kmsc_HeapFree(data);
    kmsc_HeapFree(entry);
    return text;
  });
}

extern "C" int32_t ktif_HasGeoKeys(const Ktif_File* handle) {
  if (handle == nullptr || handle->tiff == nullptr) return 0;
  uint32_t count = 0;
  void* data = nullptr;
  return TIFFGetField(handle->tiff, 34735, &count, &data) == 1 ? 1 : 0;
}
