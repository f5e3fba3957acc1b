// 64-bit file offsets on 32-bit builds too.
#define _FILE_OFFSET_BITS 64

#include "kfio.h"
#include "kerr_frame.h"
#include "kerr_guard.h"
#include "kmsc.h"
#include "kstr.h"

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <sys/types.h>
#include <vector>

static_assert(sizeof(off_t) >= 8, "kfio needs 64-bit file offsets");

namespace {

enum LastOp { kNone, kRead, kWrite };

}  // namespace

struct Kfio_File {
  FILE* stream;
  char* path;
  int lastOp;
  bool borrowed;  // a standard stream: never closed here
};

struct Kfio_StatCache {
  struct stat status;
};

namespace {

bool validMode(const char* mode) {
  if (mode[0] != 'r' && mode[0] != 'w' && mode[0] != 'a') return false;
  size_t length = std::strlen(mode);
  if (length > 8) return false;
  for (size_t i = 1; i < length; ++i)
    if (std::strchr("b+xe", mode[i]) == nullptr) return false;
  return true;
}

// stdio needs a positioning call between a read and a write on one stream.
bool prepare(Kfio_File* file, int op) {
  if (file->lastOp != kNone && file->lastOp != op && !file->borrowed &&
      fseeko(file->stream, 0, SEEK_CUR) != 0)
    return false;
  file->lastOp = op;
  return true;
}

bool fitsSize(int64_t bytes) {
  if constexpr (sizeof(size_t) < sizeof(int64_t))
    return static_cast<uint64_t>(bytes) <= static_cast<uint64_t>(SIZE_MAX);
  return true;
}

struct Sink {
  Kfio_PrintfSink function = nullptr;
  void* user = nullptr;
};

Sink& printfSink() {
  static Sink sink;
  return sink;
}

}  // namespace

extern "C" {

Kfio_File* kfio_Open(const char* path, const char* mode, Kerr_Report** err) {
  return kerrGuard(__func__, err, nullptr, [&]() -> Kfio_File* {
    static const char* kLabel = "kfio_Open";
    KerrFrame frame(kLabel, err);
    if (path == nullptr || mode == nullptr) return frame.fail(__LINE__, "Args"), nullptr;
    if (!validMode(mode)) return frame.fail(__LINE__, "Invalid mode '%s'", mode), nullptr;
    FILE* stream = std::fopen(path, mode);
    if (stream == nullptr)
      return frame.fail(__LINE__, "Cannot open %s: %s", path, std::strerror(errno)), nullptr;
    struct stat status;
    if (fstat(fileno(stream), &status) == 0 && S_ISDIR(status.st_mode)) {
      std::fclose(stream);
      return frame.fail(__LINE__, "Cannot open %s: %s", path, std::strerror(EISDIR)), nullptr;
    }
    auto* file = static_cast<Kfio_File*>(kmsc_HeapMalloc(sizeof(Kfio_File)));
    char* copy = kstr_Duplicate(path);
    if (file == nullptr || copy == nullptr) {
      std::fclose(stream);
      kmsc_HeapFree(file);
      kmsc_HeapFree(copy);
      return frame.fail(__LINE__, "Out of memory"), nullptr;
    }
    *file = Kfio_File{stream, copy, kNone, false};
    return file;
  });
}

Kfio_File* kfio_StandardError(void) {
  return kerrGuard(__func__, nullptr, nullptr, [&]() -> Kfio_File* {
    static char name[] = "stderr";
    static Kfio_File handle{stderr, name, kNone, true};
    return &handle;
  });
}

int kfio_Close(Kfio_File** file, Kerr_Report** err) {
  return kerrGuard(__func__, err, -1, [&]() -> int {
    static const char* kLabel = "kfio_Close";
    KerrFrame frame(kLabel, err);
    if (file == nullptr) return frame.fail(__LINE__, "Args"), -1;
    Kfio_File* handle = *file;
    *file = nullptr;
    if (handle == nullptr) return 0;
    if (handle->borrowed) return std::fflush(handle->stream) == 0 ? 0 : -1;
    int result = std::fclose(handle->stream);
    if (result != 0)
      frame.fail(__LINE__, "Cannot close %s: %s", handle->path, std::strerror(errno));
    kmsc_HeapFree(handle->path);
    kmsc_HeapFree(handle);
    return result == 0 ? 0 : -1;
  });
}

int64_t kfio_ReadSeq(Kfio_File* file, void* buffer, int64_t bytes, Kerr_Report** err) {
  return kerrGuard(__func__, err, -1, [&]() -> int64_t {
    static const char* kLabel = "kfio_ReadSeq";
    KerrFrame frame(kLabel, err);
    if (file == nullptr || bytes < 0 || (buffer == nullptr && bytes > 0) || !fitsSize(bytes))
      return frame.fail(__LINE__, "Args"), -1;
    if (bytes == 0) return 0;
    if (!prepare(file, kRead))
      return frame.fail(__LINE__, "Read error on %s: %s", file->path, std::strerror(errno)), -1;
    size_t got = std::fread(buffer, 1, static_cast<size_t>(bytes), file->stream);
    if (got == static_cast<size_t>(bytes)) return bytes;
    if (std::ferror(file->stream)) {
      int code = errno;
      std::clearerr(file->stream);
      return frame.fail(__LINE__, "Read error on %s: %s", file->path, std::strerror(code)), -1;
    }
    std::clearerr(file->stream);
    frame.fail(__LINE__, "Short read: %lld of %lld bytes", static_cast<long long>(got),
               static_cast<long long>(bytes));
    return static_cast<int64_t>(got);
  });
}

int64_t kfio_WriteDirect(Kfio_File* file, uint32_t offset, const void* data, int64_t bytes,
                         Kerr_Report** err) {
  return kerrGuard(__func__, err, -1, [&]() -> int64_t {
    static const char* kLabel = "kfio_WriteDirect";
    KerrFrame frame(kLabel, err);
    if (file == nullptr || bytes < 0 || (data == nullptr && bytes > 0) || !fitsSize(bytes))
      return frame.fail(__LINE__, "Args"), -1;
    if (fseeko(file->stream, static_cast<off_t>(offset), SEEK_SET) != 0)
      return frame.fail(__LINE__, "Cannot seek to %lu in %s: %s",
                        static_cast<unsigned long>(offset), file->path, std::strerror(errno)),
             -1;
    file->lastOp = kWrite;
    if (bytes == 0) return 0;
    size_t put = std::fwrite(data, 1, static_cast<size_t>(bytes), file->stream);
    if (put != static_cast<size_t>(bytes)) {
      int code = errno;
      std::clearerr(file->stream);
      return frame.fail(__LINE__, "Write error on %s: %s", file->path, std::strerror(code)), -1;
    }
    return bytes;
  });
}

int kfio_fseeko(Kfio_File* file, int64_t offset, int origin) {
  return kerrGuard(__func__, nullptr, -1, [&]() -> int {
    static const int kOrigins[] = {SEEK_SET, SEEK_CUR, SEEK_END};
    if (file == nullptr || origin < 0 || origin > 2) return -1;
    if (fseeko(file->stream, static_cast<off_t>(offset), kOrigins[origin]) != 0) return -1;
    file->lastOp = kNone;
    return 0;
  });
}

int64_t kfio_ftello(Kfio_File* file) {
  return kerrGuard(__func__, nullptr, -1, [&]() -> int64_t {
    if (file == nullptr) return -1;
    return static_cast<int64_t>(ftello(file->stream));
  });
}

int kfio_CompatibleFseek(Kfio_File* file, int32_t offset, int origin) {
  return kerrGuard(__func__, nullptr, -1,
                   [&]() -> int { return kfio_fseeko(file, offset, origin); });
}

int kfio_FileExists(const char* path) {
  return kerrGuard(__func__, nullptr, 0, [&]() -> int {
    struct stat status;
    if (path == nullptr || stat(path, &status) != 0) return 0;
    return S_ISREG(status.st_mode) ? 1 : 0;
  });
}

Kfio_StatCache* kfio_StatCacheCreate(const char* path, Kerr_Report** err) {
  return kerrGuard(__func__, err, nullptr, [&]() -> Kfio_StatCache* {
    static const char* kLabel = "kfio_StatCacheCreate";
    KerrFrame frame(kLabel, err);
    if (path == nullptr) return frame.fail(__LINE__, "Args"), nullptr;
    struct stat status;
    if (stat(path, &status) != 0) return frame.fail(__LINE__, "Couldn't stat %s", path), nullptr;
    auto* cache = static_cast<Kfio_StatCache*>(kmsc_New(sizeof(Kfio_StatCache), frame.slot()));
    if (cache == nullptr) return frame.calleeFailed(__LINE__, "kmsc_New"), nullptr;
    cache->status = status;
    return cache;
  });
}

int kfio_StatCacheGet(const Kfio_StatCache* cache, int32_t item, int64_t* value,
                      Kerr_Report** err) {
  return kerrGuard(__func__, err, 0, [&]() -> int {
    static const char* kLabel = "kfio_StatCacheGet";
    KerrFrame frame(kLabel, err);
    if (cache == nullptr || value == nullptr) return frame.fail(__LINE__, "Args"), 0;
    const struct stat& status = cache->status;
    switch (item) {
      case KFIO_STAT_MODE:
        *value = static_cast<int64_t>(status.st_mode);
        return 1;
      case KFIO_STAT_MTIME:
        *value = static_cast<int64_t>(status.st_mtime);
        return 1;
      case KFIO_STAT_IS_DIRECTORY:
        *value = S_ISDIR(status.st_mode) ? 1 : 0;
        return 1;
      case KFIO_STAT_SIZE:
        *value = static_cast<int64_t>(status.st_size);
        return 1;
      default:
        return frame.fail(__LINE__, "Unknown stat item %d", static_cast<int>(item)), 0;
    }
  });
}

void kfio_StatCacheFree(Kfio_StatCache** cache) {
  kerrGuardVoid(__func__, nullptr, [&] {
    if (cache == nullptr) return;
    kmsc_HeapFree(*cache);
    *cache = nullptr;
  });
}

int kfio_Printf(const char* format, ...) {
  if (format == nullptr) return -1;
  va_list args;
  va_start(args, format);
  int length;
  Sink sink = printfSink();
  if (sink.function == nullptr) {
    length = std::vprintf(format, args);
  } else {
    va_list copy;
    va_copy(copy, args);
    length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (length >= 0) {
      try {
        std::vector<char> text(static_cast<size_t>(length) + 1);
        std::vsnprintf(text.data(), text.size(), format, args);
        sink.function(text.data(), sink.user);
      } catch (...) {
        length = -1;
      }
    }
  }
  va_end(args);
  return length;
}

int kfio_Fprintf(Kfio_File* file, const char* format, ...) {
  if (file == nullptr || format == nullptr || !prepare(file, kWrite)) return -1;
  va_list args;
  va_start(args, format);
  int length = std::vfprintf(file->stream, format, args);
  va_end(args);
  return length;
}

int kfio_Sprintf(char* buffer, size_t size, const char* format, ...) {
  if (buffer == nullptr && size > 0) return -1;
  if (format == nullptr) {
    if (size > 0) buffer[0] = '\0';
    return -1;
  }
  va_list args;
  va_start(args, format);
  int length = std::vsnprintf(buffer, size, format, args);
  va_end(args);
  if (length < 0 && size > 0) buffer[0] = '\0';
  return length;
}

void kfio_SetPrintfSink(Kfio_PrintfSink sink, void* user) {
  kerrGuardVoid(__func__, nullptr, [&] {
    printfSink().function = sink;
    printfSink().user = sink ? user : nullptr;
  });
}

}  // extern "C"
