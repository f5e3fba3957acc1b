// Opening a file and selecting an image: the common opener, image counting
// past reduced-resolution copies, handle lists, image names, and closing.
#include "fax.h"
#include "ktif_internal.h"

#include <cstring>
#include <fcntl.h>
#include <memory>
#include <tiffio.h>
#include <xtiffio.h>

#include "kerr_frame.h"
#include "kerr_guard.h"
#include "kfio.h"
#include "kmsc.h"
#include "kpmg.h"
#include "kstr.h"
#include "ktif_prefs.h"
#include "strip_window.h"
#include "tiff_diagnostics.h"

namespace {

const char* kOpenLabel = "ktif_Open";
const char* kHandlesLabel = "ktif_OpenImageHandle";

constexpr int kMaxRRDOffsets = 32;
constexpr int64_t kSmallestTiff = 8;  // a file this small is one to be created
constexpr int32_t kStatFileSize = 26;

void handleDefaultsSet(Ktif_File* handle) {
  handle->xResolution = 1.0f;
  handle->yResolution = 1.0f;
  handle->photometric = -1;
  handle->compression = 1;
  handle->jpegQuality = 75;
  handle->planarConfig = 1;
  handle->orientation = 1;
  handle->resolutionUnit = 1;
  handle->tfwRead = 1;
}

// World-file switches from "tfw_access"; a failed read means the default, and
// a value the preference does not accept is shown.
void worldFileSwitchesSet(KerrFrame& frame, Ktif_File* handle) {
  const KtifPreference& pref = ktifPreferences[KTIF_PREF_TFW_ACCESS];
  char* access =
      kpmg_GetEnumPreference(pref.group, pref.key, pref.defaultText, pref.values, frame.slot());
  if (frame.hasReport()) frame.showAndDrop();
  if (kstr_Eqic(access, "Ignore")) handle->tfwRead = 0;
  if (kstr_Eqic(access, "Write")) handle->tfwWrite = 1;
  if (access != pref.defaultText) kmsc_HeapFree(access);
}

// The file's size in bytes, or -1 with a report.
int64_t fileSizeGet(KerrFrame& frame, const char* path) {
  Kfio_StatCache* stat = kfio_StatCacheCreate(path, frame.slot());
  int64_t size = -1;
  if (stat == nullptr || kfio_StatCacheGet(stat, kStatFileSize, &size, frame.slot()) == 0) {
    size = -1;
    frame.fail(__LINE__, "Couldn't stat %s", path);
  }
  kfio_StatCacheFree(&stat);
  return size;
}

uint16_t directoryCount(TIFF* tiff) {
  return static_cast<uint16_t>(TIFFNumberOfDirectories(tiff));
}

int32_t offsetCount(const uint64_t* offsets) {
  int32_t n = 0;
  while (offsets != nullptr && offsets[n] != 0) ++n;
  return n;
}

// The directory that holds image `index`, skipping reduced-resolution ones.
int64_t imageDirectoryFind(Ktif_File* handle, int64_t index) {
  uint64_t* offsets = ktif_GetRRDOffsets(handle);
  int64_t directory = index;
  if (offsets != nullptr) {
    const uint64_t* next = offsets;
    int64_t image = 0;
    uint16_t n = directoryCount(handle->tiff);
    for (uint16_t d = 0; d < n; ++d) {
      if (!TIFFSetDirectory(handle->tiff, d)) break;
      if (*next != 0 && TIFFCurrentDirOffset(handle->tiff) == *next) {
        ++next;
        continue;
      }
      if (image++ == index) {
        directory = d;
        break;
      }
    }
  }
  kmsc_HeapFree(offsets);
  return directory;
}

// Reads the reference values of the main image from directory 0.
void mainImageReferenceRead(Ktif_File* handle) {
  uint32_t width = 0, height = 0;
  uint16_t bits = 1, samples = 1;
  TIFFSetDirectory(handle->tiff, 0);
  TIFFGetField(handle->tiff, TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(handle->tiff, TIFFTAG_IMAGELENGTH, &height);
  TIFFGetField(handle->tiff, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetField(handle->tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
  handle->width = static_cast<int32_t>(width);
  handle->height = static_cast<int32_t>(height);
  handle->bitsPerSample = bits;
  handle->samplesPerPixel = samples;
}

// Opens the TIFF and selects the directory; false with a report.
bool directorySelect(KerrFrame& frame, Ktif_File* handle, const char* mode, int64_t indexOrOffset,
                     int32_t subDirectory) {
  handle->tiff = ktifTiffOpen(handle->path, mode, frame.slot());
  if (handle->tiff == nullptr) return frame.fail(__LINE__, "Error opening TIFF file"), false;
  handle->nativeByteOrder = TIFFIsByteSwapped(handle->tiff) == 0;
  if (subDirectory) {
    if (!TIFFSetSubDirectory(handle->tiff, static_cast<uint64_t>(indexOrOffset)))
      return frame.fail(__LINE__, "Error seeking RRD image"), false;
    return true;
  }
  mainImageReferenceRead(handle);
  int64_t directory = imageDirectoryFind(handle, indexOrOffset);
  if (directory < 0 || directory > UINT16_MAX ||
      !TIFFSetDirectory(handle->tiff, static_cast<tdir_t>(directory)))
    return frame.fail(__LINE__, "Error seeking image"), false;
  return true;
}

// Opens entry `i` of a list; false after reporting `message`.
bool listEntryOpen(KerrFrame& frame, Ktif_FileList* list, int32_t i, const char* path,
                   const char* mode, int64_t indexOrOffset, int32_t subDirectory,
                   const char* message) {
  list->handles[i] = openerRun(path, mode, indexOrOffset, subDirectory, frame.slot());
  if (list->handles[i] == nullptr) return frame.fail(__LINE__, "%s", message), false;
  return true;
}

// A list whose first handle is image 0; null (with a report) only when the
// list itself cannot be made.
Ktif_FileList* listStart(KerrFrame& frame, const char* path, const char* mode) {
  auto* list = static_cast<Ktif_FileList*>(kmsc_HeapMalloc(sizeof(Ktif_FileList)));
  if (list != nullptr)
    list->handles = static_cast<Ktif_File**>(kmsc_HeapMalloc(sizeof(Ktif_File*)));
  if (list == nullptr || list->handles == nullptr) {
    kmsc_HeapFree(list);
    return frame.fail(__LINE__, "No memory"), nullptr;
  }
  if (listEntryOpen(frame, list, 0, path, mode, 0, 0, "Error opening tiff handle")) list->count = 1;
  return list;
}

// Room for `count` handles (new entries null); false with a report.
bool listGrow(KerrFrame& frame, Ktif_FileList* list, int32_t count) {
  auto* grown = static_cast<Ktif_File**>(
      kmsc_HeapRealloc(list->handles, static_cast<size_t>(count) * sizeof(Ktif_File*)));
  if (grown == nullptr) return frame.fail(__LINE__, "No memory"), false;
  list->handles = grown;
  list->count = count;
  return true;
}

struct HandleFree {
  void operator()(Ktif_File* handle) const {
    handleRelease(handle);
    kmsc_HeapFree(handle);
  }
};

}  // namespace

Ktif_File* openerRun(const char* path, const char* mode, int64_t indexOrOffset,
                     int32_t subDirectory, Kerr_Report** err) {
  KerrFrame frame(kOpenLabel, err);
  if (path == nullptr || mode == nullptr) return frame.fail(__LINE__, "Args"), nullptr;
  // Owned until it is handed out, so an exception on the way (exhausted
  // memory in a callee) releases it too.
  std::unique_ptr<Ktif_File, HandleFree> owner(
      static_cast<Ktif_File*>(kmsc_HeapMalloc(sizeof(Ktif_File))));
  Ktif_File* handle = owner.get();
  if (handle == nullptr) return frame.fail(__LINE__, "No memory"), nullptr;
  handleDefaultsSet(handle);
  // A '$' of no variable that is set may be part of the file's own name.
  handle->path = kstr_PathExpand(path, 0, nullptr);
  if (handle->path == nullptr && kfio_FileExists(path)) handle->path = kstr_Duplicate(path);
  bool ok = handle->path != nullptr;
  if (!ok) frame.fail(__LINE__, "Error expanding filename");
  handle->writeMode = std::strcmp(mode, "r") != 0 && std::strcmp(mode, "rb") != 0;
  if (ok) worldFileSwitchesSet(frame, handle);
  if (ok && !kfio_FileExists(handle->path)) {
    ok = false;
    frame.fail(__LINE__, handle->writeMode ? "File to be created not writable"
                                           : "Specified input file does not exist");
  }
  int64_t size = ok ? fileSizeGet(frame, handle->path) : -1;
  ok = ok && size >= 0;
  if (ok && size > kSmallestTiff) {
    ok = directorySelect(frame, handle, mode, indexOrOffset, subDirectory);
    if (ok && readParameters(handle, frame.slot()) != 0) {
      ok = false;
      frame.fail(__LINE__, "Error reading file parameters");
    }
    if (ok && !subDirectory && ktif_SetImageInfo(handle, indexOrOffset, frame.slot()) != 0) {
      ok = false;
      frame.fail(__LINE__, "Error setting image name info");
    }
  }
  if (!ok) return nullptr;
  RBBlockSizeSet(handle);
  // Bilevel CCITT strips read one row per block take the library's decoder.
  if (handle->rbBlockHeight == 1 && handle->rbBlockWidth == handle->width && !handle->writeMode)
    handle->faxState = faxStateCreate(handle);
  return owner.release();
}

int ktif_SetImageInfo(Ktif_File* handle, int64_t imageIndex, Kerr_Report** err) {
  static const char* kLabel = "ktif_SetImageInfo";
  KerrFrame frame(kLabel, err);
  if (handle == nullptr) return frame.fail(__LINE__, "Args"), -1;
  kmsc_HeapFree(handle->imageType);
  kmsc_HeapFree(handle->imageName);
  handle->imageType = handle->imageName = nullptr;
  const char* description = nullptr;
  int index = static_cast<int>(imageIndex);
  if (handle->tiff != nullptr &&
      TIFFGetField(handle->tiff, TIFFTAG_IMAGEDESCRIPTION, &description) && description != nullptr)
    handle->imageName = kstr_Sprintf(nullptr, "%.25s_%d", frame.slot(), description, index);
  else
    handle->imageName = kstr_Sprintf(nullptr, "Untitled_%d", frame.slot(), index);
  if (handle->imageName == nullptr) return frame.fail(__LINE__, "Error creating string"), -1;
  const char* type = handle->samplesPerPixel == 1   ? "MONO"
                     : handle->samplesPerPixel == 3 ? "RGB"
                                                    : "MULTI";
  if ((handle->imageType = kstr_Duplicate(type)) == nullptr)
    return frame.calleeFailed(__LINE__, "kstr_Duplicate"), -1;
  return 0;
}

namespace {

// What a handle writes is in the file only once the cache has stored its
// blocks and the TIFF its directory; ktif_Close reports nothing, so a failure
// of either is logged as a failure.
void writtenDataStore(Ktif_File* handle) {
  Kerr_Report* report = nullptr;
  kdms_CacheDestroy(&handle->cache, &report);  // stores what it holds while the TIFF is open
  if (report != nullptr) {
    const Kerr_Report* cause = kerr_ReportCause(report) ? kerr_ReportCause(report) : report;
    kerr_MessageLog(-1, "ktif_Close: blocks of %s not stored: %s", handle->path ? handle->path : "",
                    kerr_ReportMessage(cause));
    kerr_DeleteErrorReportEx(&report);
  }
  if (handle->tiff == nullptr || TIFFGetMode(handle->tiff) == O_RDONLY) return;
  if (TIFFFlush(handle->tiff) == 1) return;
  ktifTiffErrorTake(handle->tiff, &report);
  kerr_MessageLog(-1, "ktif_Close: writing %s failed: %s", handle->path ? handle->path : "",
                  report ? kerr_ReportMessage(report) : "directory not written");
  kerr_DeleteErrorReportEx(&report);
}

}  // namespace

void handleRelease(Ktif_File* handle) {
  writtenDataStore(handle);
  ktifTiffClose(handle->tiff);
  handle->tiff = nullptr;
  if (handle->interleaveCache != nullptr) kmsc_HeapFree(handle->interleaveCache->data);
  kmsc_HeapFree(handle->interleaveCache);
  handle->interleaveCache = nullptr;
  kgtf_GeoTIFFParamsFree(&handle->geoParams);
  faxStateFree(handle);
  stripWindowsFree(handle);
  if (handle->partialStripOpen && handle->partialStripFile != nullptr)
    kfio_Close(&handle->partialStripFile, nullptr);
  kmsc_HeapFree(handle->partialStripBuffer);
  void* owned[] = {handle->minValues,         handle->maxValues,    handle->colorMapRed,
                   handle->colorMapGreen,     handle->colorMapBlue, handle->path,
                   handle->bitsPerSampleList, handle->unpackBuffer, handle->layerAssemblyBuffer,
                   handle->imageName,         handle->imageType,    handle->extraSampleKinds};
  for (void* block : owned) kmsc_HeapFree(block);
}

extern "C" {

Ktif_File* ktif_Open(const char* path, const char* mode, Kerr_Report** err) {
  return kerrGuard(__func__, err, nullptr,
                   [&]() -> Ktif_File* { return openerRun(path, mode, 0, 0, err); });
}

Ktif_File* ktif_OpenImageByIndex(const char* path, const char* mode, int64_t index,
                                 Kerr_Report** err) {
  return kerrGuard(__func__, err, nullptr,
                   [&]() -> Ktif_File* { return openerRun(path, mode, index, 0, err); });
}

Ktif_File* ktif_OpenDirectory(const char* path, const char* mode, int64_t offset,
                              Kerr_Report** err) {
  return kerrGuard(__func__, err, nullptr,
                   [&]() -> Ktif_File* { return openerRun(path, mode, offset, 1, err); });
}

uint64_t* ktif_GetRRDOffsets(Ktif_File* handle) {
  return kerrGuard(__func__, nullptr, nullptr, [&]() -> uint64_t* {
    if (handle == nullptr || handle->tiff == nullptr) return nullptr;
    TIFF* tiff = handle->tiff;
    uint64_t remembered = TIFFCurrentDirOffset(tiff);
    uint32_t refWidth = static_cast<uint32_t>(handle->width);
    uint32_t refHeight = static_cast<uint32_t>(handle->height);
    uint64_t* offsets = nullptr;
    int32_t collected = 0;
    int32_t chain = 0;
    TIFFSetDirectory(tiff, 0);
    while (collected < kMaxRRDOffsets && TIFFReadDirectory(tiff)) {
      if (chain != -1 && chain != collected) chain = -1;
      uint32_t subfileType = 0;
      if (!TIFFGetField(tiff, TIFFTAG_SUBFILETYPE, &subfileType)) continue;
      if ((subfileType & FILETYPE_REDUCEDIMAGE) == 0) {
        // An unflagged level counts only as an unbroken half-size chain
        // directly after the main image.
        if (chain == -1) continue;
        chain = -1;
        uint32_t width = 0, height = 0;
        TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
        TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
        if (subfileType != 0 || width != ((refWidth >> 1) & ~1u) ||
            height != ((refHeight >> 1) & ~1u))
          continue;
        chain = collected + 1;
        refWidth = width;
        refHeight = height;
      }
      uint16_t samples = 1;
      TIFFGetField(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
      if (samples != handle->samplesPerPixel) continue;
      if (offsets == nullptr && (offsets = static_cast<uint64_t*>(kmsc_HeapMalloc(
                                     (kMaxRRDOffsets + 1) * sizeof(uint64_t)))) == nullptr)
        break;
      offsets[collected++] = TIFFCurrentDirOffset(tiff);
    }
    TIFFSetSubDirectory(tiff, remembered);
    return offsets;  // zero-filled, so the list is ended by 0
  });
}

int32_t ktif_NumImages(Ktif_File* handle, Kerr_Report** err) {
  return kerrGuard(__func__, err, 0, [&]() -> int32_t {
    static const char* kLabel = "ktif_NumImages";
    KerrFrame frame(kLabel, err);
    // A file to be created holds no image yet.
    if (handle == nullptr) return frame.fail(__LINE__, "Args"), 0;
    if (handle->tiff == nullptr) return 0;
    uint64_t* offsets = ktif_GetRRDOffsets(handle);
    int32_t images = directoryCount(handle->tiff) - offsetCount(offsets);
    kmsc_HeapFree(offsets);
    return images;
  });
}

Ktif_FileList* ktif_OpenImageHandles(const char* path, const char* mode, Kerr_Report** err) {
  return kerrGuard(__func__, err, nullptr, [&]() -> Ktif_FileList* {
    KerrFrame frame(kHandlesLabel, err);
    Ktif_FileList* list = listStart(frame, path, mode);
    if (list == nullptr || list->count == 0) return list;
    int32_t count = list->handles[0]->tiff ? ktif_NumImages(list->handles[0], nullptr) : 1;
    if (count <= 1 || !listGrow(frame, list, count)) return list;
    for (int32_t i = 1; i < count; ++i)
      if (!listEntryOpen(frame, list, i, path, mode, i, 0, "Error opening index")) break;
    return list;
  });
}

Ktif_FileList* ktif_OpenDirectoryHandles(const char* path, const char* mode, Kerr_Report** err) {
  return kerrGuard(__func__, err, nullptr, [&]() -> Ktif_FileList* {
    KerrFrame frame(kHandlesLabel, err);
    Ktif_FileList* list = listStart(frame, path, mode);
    if (list == nullptr || list->count == 0) return list;
    TIFF* tiff = list->handles[0]->tiff;
    int32_t count = tiff ? directoryCount(tiff) : 1;
    if (count <= 1 || !listGrow(frame, list, count)) return list;
    for (int32_t i = 1; i < count; ++i) {
      if (!TIFFSetDirectory(tiff, static_cast<tdir_t>(i))) {
        frame.fail(__LINE__, "Error opening index");
        break;
      }
      auto offset = static_cast<int64_t>(TIFFCurrentDirOffset(tiff));
      if (!listEntryOpen(frame, list, i, path, mode, offset, 1, "Error opening index")) break;
    }
    TIFFSetDirectory(tiff, 0);
    return list;
  });
}

// Entries after a failed one stay null; closing skips them.
void ktif_CloseImageHandles(Ktif_FileList** list) {
  kerrGuardVoid(__func__, nullptr, [&] {
    if (list == nullptr || *list == nullptr) return;
    for (int32_t i = 0; i < (*list)->count; ++i) ktif_Close((*list)->handles[i], nullptr);
    kmsc_HeapFree((*list)->handles);
    kmsc_HeapFree(*list);
    *list = nullptr;
  });
}

void ktif_Close(Ktif_File* handle, Kerr_Report** err) {
  kerrGuardVoid(__func__, err, [&] {
    if (err != nullptr) *err = nullptr;
    if (handle == nullptr) return;
    handleRelease(handle);
    kmsc_HeapFree(handle);
  });
}

}  // extern "C"
