#include "tiff_diagnostics.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xtiffio.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>

#include "kerr_frame.h"
#include "kerr_guard.h"

namespace {

const char* const kClientInfo = "ktif_diagnostics";
// A hostile file can produce endless distinct warnings; past this many per
// file, further ones are not shown.
constexpr size_t kMaxShownWarnings = 64;

struct Diagnostics {
  std::string path;
  std::set<std::string> shown;  // warning texts already shown for this file
  std::string errorModule, error;
  bool quiet = false;  // warnings dropped (a file read again, already shown)
};

Diagnostics* diagnosticsOf(TIFF* tiff) {
  return tiff ? static_cast<Diagnostics*>(TIFFGetClientInfo(tiff, kClientInfo)) : nullptr;
}

/* libtiff names its module, or sometimes the file, which the text names
 * anyway. */
const char* moduleLabel(const Diagnostics& d, const char* module) {
  return module == nullptr || *module == '\0' || d.path == module ? "libtiff" : module;
}

std::string formatted(const char* format, va_list args) {
  char text[1024];
  std::vsnprintf(text, sizeof text, format ? format : "", args);
  return text;
}

void show(const char* label, int severity, const std::string& text, int printer) {
  Kerr_Report* report = kerr_CreateErrorReport(label, 0, severity, nullptr, "%s", text.c_str());
  if (printer == KERR_PRINT_NOVSL)
    kerr_PrintErrorReportNoVSL(report);
  else
    kerr_PrintErrorReport(report);
  kerr_DeleteErrorReportEx(&report);
}

/* Shows a warning once per file; an unknown tag is only a notice. */
void warningShow(Diagnostics& d, const char* module, const std::string& text, int printer) {
  if (d.quiet || d.shown.size() >= kMaxShownWarnings || !d.shown.insert(text).second) return;
  unsigned tag = 0;
  const bool unknownTag = std::sscanf(text.c_str(), "Unknown field with tag %u", &tag) == 1;
  show(module, unknownTag ? KERR_NOTICE : KERR_WARNING, d.path + ": " + text, printer);
}

int tiffWarning(TIFF*, void* user, const char* module, const char* format, va_list args) {
  kerrGuardVoid("libtiff", nullptr, [&] {
    auto* d = static_cast<Diagnostics*>(user);
    warningShow(*d, moduleLabel(*d, module), formatted(format, args), KERR_PRINT_VSL);
  });
  return 1;  // handled: libtiff's process-wide handler stays quiet
}

int tiffError(TIFF*, void* user, const char* module, const char* format, va_list args) {
  kerrGuardVoid("libtiff", nullptr, [&] {
    auto* d = static_cast<Diagnostics*>(user);
    d->errorModule = moduleLabel(*d, module);
    d->error = formatted(format, args);
  });
  return 1;
}

void gtifMessage(GTIF* gtif, int level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = formatted(format, args);
  va_end(args);
  kerrGuardVoid("libgeotiff", nullptr, [&] {
    auto* d = static_cast<Diagnostics*>(GTIFGetUserData(gtif));
    if (level == LIBGEOTIFF_ERROR)
      show("libgeotiff", KERR_ERROR, (d ? d->path + ": " : std::string()) + text, KERR_PRINT_NOVSL);
    else if (d != nullptr)
      warningShow(*d, "libgeotiff", text, KERR_PRINT_NOVSL);
    else
      show("libgeotiff", KERR_WARNING, text, KERR_PRINT_NOVSL);
  });
}

/* The kept error as a report in the slot, chaining what the slot holds. */
bool errorMove(Diagnostics& d, Kerr_Report** slot) {
  if (d.error.empty()) return false;
  *slot = kerr_CreateErrorReport(d.errorModule.c_str(), 0, KERR_ERROR, *slot, "%s: %s",
                                 d.path.c_str(), d.error.c_str());
  d.error.clear();
  return true;
}

// Files to be created usually exist already, empty (a host makes one for
// the image handle). Opening them truncated, as libtiff's "w" does, costs on
// filesystems that treat a file truncated to nothing as one being replaced
// (ext4 flushes it at close): an empty file is written as it is.
TIFF* createOpen(const char* path, const char* mode, TIFFOpenOptions* options, Diagnostics& d) {
  const int fd = path ? open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0666) : -1;
  if (fd < 0) {
    d.errorModule = "open";
    d.error = std::strerror(errno);
    return nullptr;
  }
  struct stat status;
  if (fstat(fd, &status) != 0 || (status.st_size != 0 && ftruncate(fd, 0) != 0)) {
    d.errorModule = "ftruncate";
    d.error = std::strerror(errno);
    close(fd);
    return nullptr;
  }
  TIFF* tiff = TIFFFdOpenExt(fd, path, mode, options);
  if (tiff == nullptr) close(fd);
  return tiff;
}

}  // namespace

namespace {

/* The options with the diagnostics routed, the GeoTIFF tags registered, and
 * the record attached to what `open` returns; null with a report. */
template <class Open>
TIFF* diagnosedOpen(const char* path, bool quiet, Kerr_Report** err, Open&& open) {
  static const char* kLabel = "ktifTiffOpen";
  KerrFrame frame(kLabel, err);
  auto* d = new Diagnostics{path ? path : "", {}, {}, {}, quiet};
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (options == nullptr) {
    delete d;
    return frame.calleeFailed(__LINE__, "TIFFOpenOptionsAlloc"), nullptr;
  }
  TIFFOpenOptionsSetErrorHandlerExtR(options, tiffError, d);
  TIFFOpenOptionsSetWarningHandlerExtR(options, tiffWarning, d);
  XTIFFInitialize();  // registers the GeoTIFF tags, as XTIFFOpen does
  TIFF* tiff = open(options, *d);
  TIFFOpenOptionsFree(options);
  if (tiff != nullptr) {
    TIFFSetClientInfo(tiff, d, kClientInfo);
    if (diagnosticsOf(tiff) == d) return tiff;
    XTIFFClose(tiff);
    d->errorModule = "TIFFSetClientInfo", d->error = "out of memory";
  }
  errorMove(*d, frame.slot());
  delete d;
  return nullptr;
}

}  // namespace

TIFF* ktifTiffOpen(const char* path, const char* mode, Kerr_Report** err) {
  return diagnosedOpen(path, false, err, [&](TIFFOpenOptions* options, Diagnostics& d) {
    return mode != nullptr && mode[0] == 'w' ? createOpen(path, mode, options, d)
                                             : TIFFOpenExt(path, mode, options);
  });
}

TIFF* ktifTiffClientOpen(const char* path, const char* mode, thandle_t client,
                         const KtifTiffProcs& procs, Kerr_Report** err) {
  return diagnosedOpen(path, true, err, [&](TIFFOpenOptions* options, Diagnostics&) {
    return TIFFClientOpenExt(path, mode, client, procs.read, procs.write, procs.seek, procs.close,
                             procs.size, procs.map, procs.unmap, options);
  });
}

void ktifTiffClose(TIFF* tiff) {
  if (tiff == nullptr) return;
  Diagnostics* d = diagnosticsOf(tiff);
  XTIFFClose(tiff);
  delete d;
}

void ktifTiffWarningsShow(TIFF* tiff) {
  if (Diagnostics* d = diagnosticsOf(tiff)) d->quiet = false;
}

bool ktifTiffErrorTake(TIFF* tiff, Kerr_Report** slot) {
  Diagnostics* d = diagnosticsOf(tiff);
  return d != nullptr && slot != nullptr && errorMove(*d, slot);
}

GTIF* ktifGtifNew(TIFF* tiff) {
  return GTIFNewEx(tiff, gtifMessage, diagnosticsOf(tiff));
}
