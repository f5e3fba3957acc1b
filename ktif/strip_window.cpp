// Strips larger than the memory budget, decoded a ring of rows at a time
// through libtiff's scanline interface; see strip_window.h.
#include "strip_window.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "kmsc.h"
#include "tiff_diagnostics.h"

namespace {

/* Planes decoded at once; a host reading more planes in turn restarts the
 * least recently used one. Each holds an open file. */
constexpr size_t kMaxDecoders = 4;
/* Decoded bytes after which the mapped pages read so far are released. */
constexpr int64_t kReleaseEveryBytes = int64_t(2) << 20;
/* A ring starts this small (or one raster-buffer block's rows): rows read in
 * order then go through the processor's cache instead of memory. The first
 * read behind it grows it to the budget, for hosts that go back. */
constexpr int64_t kFirstRingBytes = int64_t(256) << 10;
/* The rows one raster-buffer block needs are held whatever the budget; a
 * file claiming rows beyond this is refused rather than allocated. */
constexpr int64_t kLargestHeldBytes = int64_t(1) << 30;

/* The file as a decoder's TIFF handle reads it: a descriptor, and the
 * read-only mapping libtiff asks for, whose pages can be released. */
struct MappedFile {
  int fd = -1;
  void* base = nullptr;
  size_t size = 0;

  ~MappedFile() {
    if (fd >= 0) ::close(fd);
  }
  void release() const {
    if (base != nullptr) madvise(base, size, MADV_DONTNEED);
  }
};

MappedFile* fileOf(thandle_t client) {
  return static_cast<MappedFile*>(client);
}

tmsize_t fileRead(thandle_t client, void* buffer, tmsize_t size) {
  auto* bytes = static_cast<char*>(buffer);
  tmsize_t done = 0;
  while (done < size) {
    const ssize_t n = ::read(fileOf(client)->fd, bytes + done, size_t(size - done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += n;
  }
  return done;
}

tmsize_t fileWrite(thandle_t, void*, tmsize_t) {
  return -1;  // opened for reading only
}

toff_t fileSeek(thandle_t client, toff_t offset, int whence) {
  if (offset > toff_t(INT64_MAX)) return toff_t(-1);
  const off_t at = lseek(fileOf(client)->fd, off_t(offset), whence);
  return at < 0 ? toff_t(-1) : toff_t(at);
}

int fileClose(thandle_t client) {
  MappedFile* file = fileOf(client);
  const int result = file->fd >= 0 ? ::close(file->fd) : 0;
  file->fd = -1;
  return result;
}

toff_t fileSize(thandle_t client) {
  struct stat status;
  return fstat(fileOf(client)->fd, &status) == 0 ? toff_t(status.st_size) : 0;
}

int fileMap(thandle_t client, void** base, toff_t* size) {
  MappedFile* file = fileOf(client);
  const toff_t bytes = fileSize(client);
  if (bytes == 0 || bytes > toff_t(SIZE_MAX)) return 0;
  void* mapped = mmap(nullptr, size_t(bytes), PROT_READ, MAP_PRIVATE, file->fd, 0);
  if (mapped == MAP_FAILED) return 0;  // libtiff reads instead
  file->base = *base = mapped;
  file->size = size_t(bytes);
  *size = bytes;
  return 1;
}

void fileUnmap(thandle_t client, void* base, toff_t size) {
  munmap(base, size_t(size));
  fileOf(client)->base = nullptr;
}

const KtifTiffProcs kProcs = {fileRead, fileWrite, fileSeek, fileClose,
                              fileSize, fileMap,   fileUnmap};

struct RingFree {
  void operator()(unsigned char* ring) const { kmsc_HeapFree(ring); }
};

/* One plane's decoder and the ring of the rows it decoded last: rows
 * [first, first + count), row r at slot r mod capacity. */
struct Decoder {
  std::unique_ptr<MappedFile> file;
  TIFF* tiff = nullptr;
  int32_t plane = -1;
  std::unique_ptr<unsigned char, RingFree> ring;
  int64_t capacity = 0;
  int64_t first = 0, count = 0;
  int64_t sinceRelease = 0;
  uint64_t lastUse = 0;
  std::map<int64_t, int64_t> failedFrom;  // strip -> its first row that failed

  Decoder() = default;
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;
  ~Decoder() { ktifTiffClose(tiff); }  // before the file it reads
};

}  // namespace

struct Ktif_StripWindows {
  int64_t lineBytes = 0;  // one stored row of one plane
  int64_t rowsPerStrip = 0;
  int64_t firstCapacity = 0;  // rows of a new ring
  int64_t capacity = 0;       // rows of a grown ring: the budget's share
  bool seekable = false;      // uncompressed: libtiff reads any row where it is
  size_t decoderLimit = 1;
  std::vector<std::unique_ptr<Decoder>> decoders;
  uint64_t clock = 0;
  KtifStripWindowStats stats;
};

namespace {

/* A ring of `rows` rows, empty; false with a report (the old ring kept). */
bool ringSize(const Ktif_StripWindows& w, Decoder& d, int64_t rows, KerrFrame& frame) {
  auto* ring = static_cast<unsigned char*>(kmsc_HeapMalloc(size_t(rows * w.lineBytes)));
  if (ring == nullptr)
    return frame.fail(__LINE__, "No memory for %lld rows", static_cast<long long>(rows)), false;
  d.ring.reset(ring);
  d.capacity = rows;
  d.first = d.count = 0;
  return true;
}

bool decoderOpen(Ktif_File* h, Ktif_StripWindows& w, Decoder& d, int32_t plane, KerrFrame& frame) {
  d.file = std::make_unique<MappedFile>();
  d.file->fd = ::open(h->path, O_RDONLY | O_CLOEXEC);
  if (d.file->fd < 0)
    return frame.fail(__LINE__, "Cannot open %s: %s", h->path, std::strerror(errno)), false;
  d.tiff = ktifTiffClientOpen(h->path, "r", d.file.get(), kProcs, frame.slot());
  if (d.tiff == nullptr) return frame.calleeFailed(__LINE__, "ktifTiffClientOpen"), false;
  if (!TIFFSetSubDirectory(d.tiff, TIFFCurrentDirOffset(h->tiff))) {
    ktifTiffErrorTake(d.tiff, frame.slot());
    return frame.fail(__LINE__, "TIFFSetSubDirectory failed"), false;
  }
  // The same directory read again must describe the same rows.
  const uint64_t lineBytes = TIFFScanlineSize64(d.tiff);
  if (lineBytes != uint64_t(w.lineBytes))
    return frame.fail(__LINE__, "Rows of %llu bytes where %lld were expected",
                      static_cast<unsigned long long>(lineBytes),
                      static_cast<long long>(w.lineBytes)),
           false;
  ktifTiffWarningsShow(d.tiff);  // from here on, about the rows decoded
  d.plane = plane;
  return ringSize(w, d, w.firstCapacity, frame);
}

/* The decoder of `plane`, opened (or taken over from the plane used least
 * recently) when there is none; null with a report. */
Decoder* decoderFor(Ktif_File* h, Ktif_StripWindows& w, int32_t plane, KerrFrame& frame) {
  ++w.clock;
  for (auto& d : w.decoders)
    if (d->plane == plane) return d->lastUse = w.clock, d.get();
  if (w.decoders.size() >= w.decoderLimit) {
    auto oldest =
        std::min_element(w.decoders.begin(), w.decoders.end(),
                         [](const auto& a, const auto& b) { return a->lastUse < b->lastUse; });
    w.decoders.erase(oldest);
  }
  auto d = std::make_unique<Decoder>();
  if (!decoderOpen(h, w, *d, plane, frame)) return nullptr;
  d->lastUse = w.clock;
  w.decoders.push_back(std::move(d));
  return w.decoders.back().get();
}

const Decoder* decoderHeld(const Ktif_StripWindows& w, int32_t plane) {
  for (const auto& d : w.decoders)
    if (d->plane == plane) return d.get();
  return nullptr;
}

unsigned char* slotOf(const Ktif_StripWindows& w, const Decoder& d, int64_t row) {
  return d.ring.get() + (row % d.capacity) * w.lineBytes;
}

/* Decodes row r into its slot. A row libtiff cannot decode reads as 0, and
 * so does the rest of its strip, which is not tried again: each try of a
 * broken strip would decode it from its start. */
void rowDecode(Ktif_File* h, Ktif_StripWindows& w, Decoder& d, int64_t r) {
  unsigned char* slot = slotOf(w, d, r);
  const int64_t strip = r / w.rowsPerStrip;
  const auto failed = d.failedFrom.find(strip);
  if (failed != d.failedFrom.end() && r >= failed->second) {
    std::memset(slot, 0, size_t(w.lineBytes));
    return;
  }
  ++w.stats.rowsDecoded;
  if (TIFFReadScanline(d.tiff, slot, uint32_t(r), uint16_t(d.plane)) == 1) return;
  std::memset(slot, 0, size_t(w.lineBytes));
  d.failedFrom[strip] = r;
  Kerr_Report* cause = nullptr;
  ktifTiffErrorTake(d.tiff, &cause);
  kerr_MessageLog(-1, "TIFFReadScanline failed: row %lld%s; the rest of its strip reads as 0: %s",
                  static_cast<long long>(r), h->planarConfig == 2 ? " of a plane" : "",
                  cause ? kerr_ReportMessage(cause) : "no data");
  kerr_DeleteErrorReportEx(&cause);
}

}  // namespace

bool stripWindowsWanted(const Ktif_File* h, int64_t stripBytes, int64_t budget) {
  return h != nullptr && h->tiff != nullptr && h->path != nullptr && !h->writeMode &&
         !TIFFIsTiled(h->tiff) && h->faxState == nullptr && !h->partialStripMode && !h->rgbaRead &&
         !h->isOPX && h->width > 0 && h->height > 0 && h->blockHeight > 0 && stripBytes > budget;
}

bool stripWindowsCreate(Ktif_File* h, int64_t budget, KerrFrame& frame) {
  if (h->stripWindows != nullptr) return true;
  const bool planes = h->planarConfig == 2 && h->samplesPerPixel > 1;
  const int64_t layersInRow = planes ? 1 : h->samplesPerPixel;
  const int64_t lineBytes = (int64_t(h->width) * h->bitsPerSample * layersInRow + 7) / 8;
  if (lineBytes <= 0 || uint64_t(lineBytes) != TIFFScanlineSize64(h->tiff))
    return frame.fail(__LINE__, "Rows of %llu bytes where %lld were expected",
                      static_cast<unsigned long long>(TIFFScanlineSize64(h->tiff)),
                      static_cast<long long>(lineBytes)),
           false;
  const int64_t needed = std::min<int64_t>(h->rbBlockHeight, h->height);
  if (needed > kLargestHeldBytes / lineBytes)
    return frame.fail(__LINE__, "Rows of %lld bytes cannot be held",
                      static_cast<long long>(lineBytes)),
           false;
  auto w = std::make_unique<Ktif_StripWindows>();
  w->lineBytes = lineBytes;
  w->rowsPerStrip = h->blockHeight;
  w->decoderLimit = planes ? std::min<size_t>(size_t(h->samplesPerPixel), kMaxDecoders) : 1;
  const int64_t budgetRows = budget / int64_t(w->decoderLimit) / lineBytes;
  w->capacity = std::min<int64_t>(std::max(budgetRows, needed), h->height);
  w->firstCapacity = std::min(w->capacity, std::max(needed, kFirstRingBytes / lineBytes));
  w->seekable = h->compression == COMPRESSION_NONE;
  h->stripWindows = w.release();
  return true;
}

void stripWindowsFree(Ktif_File* h) {
  if (h == nullptr) return;
  delete h->stripWindows;
  h->stripWindows = nullptr;
}

bool stripWindowHold(Ktif_File* h, int32_t plane, int64_t y0, int64_t rows, KerrFrame& frame) {
  Ktif_StripWindows* w = h->stripWindows;
  if (w == nullptr || rows <= 0 || rows > w->firstCapacity || y0 < 0 || y0 + rows > h->height)
    return frame.fail(__LINE__, "Rows %lld to %lld cannot be held", static_cast<long long>(y0),
                      static_cast<long long>(y0 + rows - 1)),
           false;
  Decoder* d = decoderFor(h, *w, plane, frame);
  if (d == nullptr) return false;
  const int64_t end = y0 + rows, held = d->first + d->count;
  if (d->count > 0 && y0 >= d->first && end <= held) return true;

  // Going on from the rows held, where the rows wanted are in the strip the
  // decoder is in; otherwise from the start of their strip (or the row
  // itself where libtiff can seek), which for rows before the ring means
  // decoding them again.
  int64_t from = held;
  const bool onward = d->count > 0 && y0 >= d->first &&
                      std::max(y0, held) / w->rowsPerStrip == held / w->rowsPerStrip;
  if (!onward) {
    from = w->seekable ? y0 : y0 / w->rowsPerStrip * w->rowsPerStrip;
    if (d->count > 0 && from < held) {
      ++w->stats.restarts;
      if (d->capacity < w->capacity && !ringSize(*w, *d, w->capacity, frame)) return false;
    }
    d->first = from;
    d->count = 0;
  }
  for (int64_t r = from; r < end; ++r) {
    rowDecode(h, *w, *d, r);
    if (d->count < d->capacity)
      ++d->count;
    else
      ++d->first;
    // The compressed data decoded so far leaves the process, also within
    // one call (a restart decodes a whole strip); libtiff maps again what it
    // still needs.
    d->sinceRelease += w->lineBytes;
    if (d->sinceRelease >= kReleaseEveryBytes) {
      d->file->release();
      d->sinceRelease = 0;
    }
  }
  return true;
}

const unsigned char* stripWindowRun(const Ktif_File* h, int32_t plane, int64_t y,
                                    int64_t* contiguous, int64_t* stride) {
  *contiguous = 0;
  *stride = 0;
  const Ktif_StripWindows* w = h != nullptr ? h->stripWindows : nullptr;
  const Decoder* d = w != nullptr ? decoderHeld(*w, plane) : nullptr;
  if (d == nullptr || y < d->first || y >= d->first + d->count) return nullptr;
  *contiguous = std::min(d->capacity - y % d->capacity, d->first + d->count - y);
  *stride = w->lineBytes;
  return slotOf(*w, *d, y);
}

void stripWindowsStatsGet(const Ktif_File* h, KtifStripWindowStats* stats) {
  if (stats == nullptr) return;
  *stats =
      h != nullptr && h->stripWindows != nullptr ? h->stripWindows->stats : KtifStripWindowStats{};
}
