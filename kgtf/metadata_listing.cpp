// Capture of the GeoKey listing that GTIFPrint prints, and its replay into a
// new key directory through GTIFImport.
#include "kgtf_internal.h"

#include <geotiffio.h>

#include <cstdio>
#include <cstring>
#include <map>

#include "kerr_frame.h"
#include "kmsc.h"

namespace {

// libgeotiff's importer reads the doubles of one key into a buffer of 100.
constexpr int kImportedDoublesPerKey = 100;
// A key directory holds 1000 doubles in all; a replay leaves half of them to
// the keys written after it.
constexpr int kReplayedDoubles = 500;

// A listing entry as the importer receives it: without leading blanks and
// the final line break, cut to the line buffer.
void lineCopy(const char* entry, char* line) {
  entry += std::strspn(entry, " \t");
  size_t length = std::strlen(entry);
  if (length > kMetaDataLineSize - 1) length = kMetaDataLineSize - 1;
  std::memcpy(line, entry, length);
  line[length] = '\0';
  if (length > 0 && line[length - 1] == '\n') line[length - 1] = '\0';
}

bool startsWith(const char* text, const char* prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

// One key of the key section: its header line "Name (Type,count): value"
// and the lines that carry the rest of its values.
struct KeyEntry {
  int32_t first = 0, end = 0;
  int key = -1, type = -1, count = 0;
  bool readable = false;  // the header holds what the importer parses
};

bool isCitation(int key) {
  return key == GTCitationGeoKey || key == GeogCitationGeoKey || key == PCSCitationGeoKey ||
         key == VerticalCitationGeoKey;
}

// A text value the importer takes whole: after the first quote, count - 1
// characters (\n and \\ count as one), then the closing quote. A shorter
// one makes it stop and lose what it allocated for the value.
bool textImports(const char* value, int count) {
  const char* at = std::strchr(value, '"');
  if (at == nullptr) return false;
  ++at;
  for (int n = 0; n < count - 1; ++n) {
    if (*at == '\0') return false;
    at += at[0] == '\\' && (at[1] == 'n' || at[1] == '\\') ? 2 : 1;
  }
  return *at == '"';
}

// Parses a header line; false for anything else.
bool headerParse(const char* line, KeyEntry& entry) {
  char name[128], type[16];
  int count = 0, consumed = 0;
  if (std::sscanf(line, "%127[^( ] (%15[^,],%d):%n", name, type, &count, &consumed) != 3 ||
      consumed == 0)
    return false;
  entry.key = GTIFKeyCode(name);
  entry.type = GTIFTypeCode(type);
  entry.count = count;
  // The importer steps over the blank after the colon and wants a value.
  const char* value = line + consumed;
  if (entry.key < 0 || entry.type < 0 || value[0] != ' ') return true;
  value += std::strspn(value, " \t");
  if (value[0] == '\0') return true;
  switch (entry.type) {
    case TYPE_ASCII:
      entry.readable = count >= 1 && textImports(value, count);
      break;
    case TYPE_SHORT:
      entry.readable = count == 1 && GTIFValueCode(geokey_t(entry.key), value) >= 0;
      break;
    case TYPE_DOUBLE:
      entry.readable = count >= 1 && count <= kImportedDoublesPerKey;
      break;
    default:
      break;
  }
  return true;
}

// Lines the importer reads for an entry: doubles come three to a line.
int32_t entryLines(const KeyEntry& entry) {
  return entry.type == TYPE_DOUBLE ? (entry.count + 2) / 3 : 1;
}

bool lineIsOpen(const KstrStringList* list) {
  if (list == nullptr || list->count == 0) return false;
  const char* last = list->strings[list->count - 1];
  size_t length = std::strlen(last);
  return length > 0 && last[length - 1] != '\n';
}

}  // namespace

int GeoTIFFMetaDataGet(const char* text, KstrStringList** list) {
  static const char* kLabel = "GeoTIFFMetaDataGet";
  KerrFrame frame(kLabel, nullptr, KERR_PRINT_NOVSL);
  if (text == nullptr || list == nullptr) {
    frame.fail(__LINE__, "Args");
  } else if (!lineIsOpen(*list)) {
    if (kstr_StringListAppend(list, text, frame.slot()) != 0)
      frame.calleeFailed(__LINE__, "kstr_StringListAppend");
  } else {
    char*& last = (*list)->strings[(*list)->count - 1];
    char* joined = kstr_Sprintf(nullptr, "%s%s", frame.slot(), last, text);
    if (joined == nullptr) {
      frame.drop();
      frame.calleeFailed(__LINE__, "kmsc_New");
    } else {
      kmsc_HeapFree(last);
      last = joined;
    }
  }
  if (!frame.hasReport()) return 0;
  frame.showAndDrop();
  return -1;
}

// Past the end of a listing that lacks its closing line, the cursor delivers
// an empty line and stays where it is; GTIFImport then stops on its own.
int MetaDataLineGet(char* line, MetaDataCursor* cursor) {
  if (line == nullptr) return 0;
  line[0] = '\0';
  if (cursor == nullptr || cursor->list == nullptr || cursor->index < 0 ||
      cursor->index >= cursor->list->count)
    return 0;
  lineCopy(cursor->list->strings[cursor->index], line);
  cursor->index += 1;
  return 0;
}

std::vector<bool> MetaDataUnsafeKeyLines(const KstrStringList* list) {
  const int32_t n = list != nullptr ? list->count : 0;
  std::vector<bool> skipped(size_t(n > 0 ? n : 0), false);
  char line[kMetaDataLineSize];
  int32_t i = 0;
  while (i < n && (lineCopy(list->strings[i], line), !startsWith(line, "Keyed_Information:"))) ++i;
  std::vector<KeyEntry> entries;
  for (++i; i < n; ++i) {
    lineCopy(list->strings[i], line);
    if (startsWith(line, "End_Of_Keys.")) break;
    KeyEntry entry;
    if (headerParse(line, entry)) {
      entry.first = i;
      entries.push_back(entry);
    } else if (entries.empty()) {
      skipped[size_t(i)] = true;  // belongs to no key
    }
  }
  const int32_t keysEnd = i;
  std::map<int, size_t> lastEntry;
  for (size_t k = 0; k < entries.size(); ++k) {
    entries[k].end = k + 1 < entries.size() ? entries[k + 1].first : keysEnd;
    lastEntry[entries[k].key] = k;
  }
  int doubles = 0;
  for (size_t k = 0; k < entries.size(); ++k) {
    const KeyEntry& e = entries[k];
    bool kept = e.readable && e.end - e.first == entryLines(e) && lastEntry[e.key] == k &&
                (e.type == TYPE_ASCII) == isCitation(e.key);
    if (kept && e.type == TYPE_DOUBLE) {
      kept = doubles + e.count <= kReplayedDoubles;
      if (kept) doubles += e.count;
    }
    if (!kept)
      for (int32_t j = e.first; j < e.end; ++j) skipped[size_t(j)] = true;
  }
  return skipped;
}

int GeoTIFFMetaDataPrintMethod(char* text, void* list) {
  return GeoTIFFMetaDataGet(text, static_cast<KstrStringList**>(list));
}

int MetaDataLineReadMethod(char* line, void* cursor) {
  return MetaDataLineGet(line, static_cast<MetaDataCursor*>(cursor));
}
