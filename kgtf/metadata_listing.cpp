// Capture of the GeoKey listing that GTIFPrint prints, and its replay into a
// new key directory through GTIFImport.
#include "kgtf_internal.h"

#include <cstring>

#include "kerr_frame.h"
#include "kmsc.h"

namespace {

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
  const char* entry = cursor->list->strings[cursor->index];
  entry += std::strspn(entry, " \t");
  size_t length = std::strlen(entry);
  if (length > kMetaDataLineSize - 1) length = kMetaDataLineSize - 1;
  std::memcpy(line, entry, length);
  line[length] = '\0';
  if (length > 0 && line[length - 1] == '\n') line[length - 1] = '\0';
  cursor->index += 1;
  return 0;
}

int GeoTIFFMetaDataPrintMethod(char* text, void* list) {
  return GeoTIFFMetaDataGet(text, static_cast<KstrStringList**>(list));
}

int MetaDataLineReadMethod(char* line, void* cursor) {
  return MetaDataLineGet(line, static_cast<MetaDataCursor*>(cursor));
}
