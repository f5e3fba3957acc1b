// World files: finding, reading and writing the six-line text beside an image.

#include "kwff.h"

#include <sys/stat.h>

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "kerr_frame.h"
#include "kerr_guard.h"
#include "kmsc.h"
#include "kstr.h"

namespace {

// Longest line worth reading: a number never needs more.
constexpr size_t kMaxLine = 256;

// The path without the extension of its last component.
std::string stem(const char* path) {
  std::string text(path);
  size_t slash = text.find_last_of('/');
  size_t dot = text.find_last_of('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash + 1)) text.erase(dot);
  return text;
}

bool isRegularFile(const std::string& name) {
  struct stat info;
  return stat(name.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

char* heapCopy(const std::string& text) {
  return kstr_Duplicate(text.c_str());
}

// One number filling the whole line apart from surrounding blanks; the
// format does not depend on the locale.
bool parseNumber(const char* line, double* value) {
  const char* begin = line;
  const char* end = line + std::strlen(line);
  while (begin < end && std::isspace(static_cast<unsigned char>(*begin))) ++begin;
  while (end > begin && std::isspace(static_cast<unsigned char>(end[-1]))) --end;
  if (begin < end && *begin == '+') ++begin;
  if (begin == end) return false;
  auto result = std::from_chars(begin, end, *value);
  return result.ec == std::errc() && result.ptr == end && std::isfinite(*value);
}

bool blank(const char* line) {
  for (; *line; ++line)
    if (!std::isspace(static_cast<unsigned char>(*line))) return false;
  return true;
}

struct FileCloser {
  FILE* file;
  ~FileCloser() {
    if (file) std::fclose(file);
  }
};

}  // namespace

char* kwff_FileNameFind(const char* path) {
  return kerrGuard(__func__, nullptr, nullptr, [&]() -> char* {
    if (!path || !*path) return nullptr;
    std::string base = stem(path);
    static const char* const kExtensions[] = {".tfw",  ".TFW", ".Tfw", ".tifw", ".TIFW",
                                              ".Tifw", ".wld", ".WLD", ".Wld"};
    for (const char* extension : kExtensions) {
      std::string name = base + extension;
      if (isRegularFile(name)) return heapCopy(name);
    }
    return nullptr;
  });
}

int kwff_Read(const char* name, int32_t width, int32_t height, Kprj_MapInfo** mapInfo,
              Kxfr_XForm** xform, Kerr_Report** err) {
  return kerrGuard(__func__, err, 0, [&]() -> int {
    static const char* kLabel = "kwff_Read";
    KerrFrame frame(kLabel, err);
    if (!name || !mapInfo || !xform || *mapInfo || *xform || width <= 0 || height <= 0)
      return frame.fail(__LINE__, "Args"), 0;

    FileCloser file{std::fopen(name, "r")};
    if (!file.file) return frame.fail(__LINE__, "Cannot open %s", name), 0;

    // A, D, B, E, C, F; blank lines between them are tolerated.
    double v[6];
    int found = 0;
    int lineNumber = 0;
    char line[kMaxLine];
    while (found < 6 && std::fgets(line, sizeof line, file.file)) {
      ++lineNumber;
      size_t length = std::strlen(line);
      bool complete = length > 0 && line[length - 1] == '\n';
      if (!complete && !std::feof(file.file))
        return frame.fail(__LINE__, "Bad world file line %d", lineNumber), 0;
      if (blank(line)) continue;
      if (!parseNumber(line, &v[found]))
        return frame.fail(__LINE__, "Bad world file line %d", lineNumber), 0;
      ++found;
    }
    if (found < 6) return frame.fail(__LINE__, "Bad world file line %d", lineNumber + 1), 0;

    const double a = v[0], d = v[1], b = v[2], e = v[3], c = v[4], f = v[5];
    if (a * e - b * d == 0.0) return frame.fail(__LINE__, "Singular world file transform"), 0;

    // A map info keeps the pixel directions in its corners, which a one-pixel
    // side cannot show; such images and rotated files get the transform.
    if (b == 0.0 && d == 0.0 && width > 1 && height > 1) {
      double lrX = c + a * (width - 1);
      double lrY = f + e * (height - 1);
      if (!std::isfinite(lrX) || !std::isfinite(lrY))
        return frame.fail(__LINE__, "Non-finite world file corner"), 0;
      Kprj_MapInfo* info = kprj_MapInfoCreate(frame.slot());
      if (!info) return frame.calleeFailed(__LINE__, "kprj_MapInfoCreate"), 0;
      info->upperLeftCenter = {c, f};
      info->lowerRightCenter = {lrX, lrY};
      info->pixelSize = {std::fabs(a), std::fabs(e)};
      *mapInfo = info;
      return 1;
    }
    *xform = kxfr_XFormCreateUsingCoeffs(a, b, c, d, e, f, frame.slot());
    if (!*xform) return frame.calleeFailed(__LINE__, "kxfr_XFormCreateUsingCoeffs"), 0;
    return 1;
  });
}

char* kwff_FileNameCreate(const char* path) {
  return kerrGuard(__func__, nullptr, nullptr, [&]() -> char* {
    if (!path || !*path) return nullptr;
    return heapCopy(stem(path) + ".tfw");
  });
}

int kwff_Write(const char* name, const Kprj_MapInfo* mapInfo, const Kxfr_XForm* xform,
               Kerr_Report** err) {
  return kerrGuard(__func__, err, 0, [&]() -> int {
    static const char* kLabel = "kwff_Write";
    KerrFrame frame(kLabel, err);
    if (!name || (!mapInfo && !xform)) return frame.fail(__LINE__, "Args"), 0;

    double k[6];  // a, b, c, d, e, f
    if (mapInfo) {
      const Kprj_MapInfo& m = *mapInfo;
      double dx = std::fabs(m.pixelSize.x);
      double dy = std::fabs(m.pixelSize.y);
      k[0] = m.lowerRightCenter.x > m.upperLeftCenter.x ? dx : -dx;
      k[1] = 0;
      k[2] = m.upperLeftCenter.x;
      k[3] = 0;
      k[4] = m.lowerRightCenter.y > m.upperLeftCenter.y ? dy : -dy;
      k[5] = m.upperLeftCenter.y;
    } else if (!kxfr_XFormAffineExtractIfPresent(xform, k, frame.slot())) {
      if (frame.hasReport())
        return frame.calleeFailed(__LINE__, "kxfr_XFormAffineExtractIfPresent"), 0;
      return frame.fail(__LINE__, "Transform is not affine"), 0;
    }
    for (double value : k)
      if (!std::isfinite(value)) return frame.fail(__LINE__, "Non-finite coefficient"), 0;

    FileCloser file{std::fopen(name, "w")};
    if (!file.file) return frame.fail(__LINE__, "Cannot write %s", name), 0;
    const double order[6] = {k[0], k[3], k[1], k[4], k[2], k[5]};
    for (double value : order) {
      // Shortest text that reads back to the same double, in any locale.
      char text[64];
      auto result = std::to_chars(text, text + sizeof text - 1, value);
      *result.ptr++ = '\n';
      size_t length = static_cast<size_t>(result.ptr - text);
      if (std::fwrite(text, 1, length, file.file) != length)
        return frame.fail(__LINE__, "Cannot write %s", name), 0;
    }
    int closed = std::fclose(file.file);
    file.file = nullptr;
    if (closed != 0) return frame.fail(__LINE__, "Cannot write %s", name), 0;
    return 1;
  });
}
