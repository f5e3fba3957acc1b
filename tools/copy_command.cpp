// `ktif copy`: one image read through the raster buffer and written into a
// new file through the library's writer, with its layout, codec and
// georeferencing kept or changed. The output appears only when complete: it
// is written to a temporary file beside OUT and renamed over it at the end.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "commands.h"
#include "kmsc.h"
#include "kstr.h"
#include "kwff.h"
#include "kxfr.h"

namespace {

struct CopyOptions {
  std::string in, out;
  int64_t image = 0;
  std::string compress;  // empty: as the input
  int quality = 0;       // 0: as the input
  std::string tiles;     // "WxH"
  int64_t strips = 0;
  bool bigTiff = false;
  int32_t epsg = 0;
  std::vector<double> geotransform;  // GDAL's X0, DX, RX, Y0, RY, DY
  bool worldFile = false;
  bool rekey = false;  // GeoKeys from the host's record, not the file's
};

// A failed step: the one-line reason the tool prints.
struct Failure {
  std::string reason;
};

// The innermost message of a report chain (the root cause), and the report
// deleted.
std::string reportText(Kerr_Report** report) {
  std::string text;
  for (const Kerr_Report* r = report ? *report : nullptr; r; r = kerr_ReportCause(r))
    text = kerr_ReportMessage(r);
  if (report) kerr_DeleteErrorReportEx(report);
  return text;
}

// ---- Layout and codec -------------------------------------------------------

struct Codec {
  const char* name;
  int32_t compression;
};
constexpr Codec kCodecs[] = {
    {"none", 1}, {"lzw", 5}, {"deflate", 8}, {"packbits", 32773}, {"jpeg", 7}};

// Codecs libtiff can write: the input's codec is kept only if it is one.
bool encodable(int32_t compression, const Ktif_File* in) {
  switch (compression) {
    case 3:
    case 4:
      return in->bitsPerSample == 1 && in->samplesPerPixel == 1;
    case 1:
    case 5:
    case 7:
    case 8:
    case 32773:
    case 32946:
    case KTIF_COMPRESSION_JPEG_AS_RGB:
      return true;
    default:
      return false;
  }
}

std::optional<Failure> codecChoose(const Ktif_File* in, const CopyOptions& o, Ktif_File* out) {
  int32_t compression = in->compression;
  if (!o.compress.empty()) {
    const auto codec = std::find_if(std::begin(kCodecs), std::end(kCodecs),
                                    [&](const Codec& c) { return o.compress == c.name; });
    compression = codec->compression;
  } else if (!encodable(compression, in)) {
    std::fprintf(stderr, "ktif: compression %d cannot be written; the copy is uncompressed\n",
                 compression);
    compression = 1;
  }
  const bool jpeg = compression == 7 || compression == KTIF_COMPRESSION_JPEG_AS_RGB;
  if (jpeg) {
    if (in->bitsPerSample != 8 || in->isPalette)
      return Failure{"JPEG stores only 8-bit grey or colour images, not " +
                     std::to_string(in->bitsPerSample) + "-bit" +
                     (in->isPalette ? " palette" : "") + " samples"};
    // YCbCr, which JPEG compresses best, applies to interleaved RGB.
    compression = in->samplesPerPixel == 3 && in->photometric == 2 && in->planarConfig == 1
                      ? KTIF_COMPRESSION_JPEG_AS_RGB
                      : 7;
  }
  out->compression = compression;
  out->jpegQuality = in->jpegQuality;
  if (o.quality != 0) out->jpegQuality = uint16_t(o.quality);
  return std::nullopt;
}

// Rows and tile sides a JPEG block needs: whole MCUs (16 pixels with YCbCr
// subsampling, else 8).
int32_t jpegUnit(const Ktif_File* out) {
  return out->compression == KTIF_COMPRESSION_JPEG_AS_RGB ? 16 : 8;
}

std::optional<Failure> blocksChoose(const Ktif_File* in, const CopyOptions& o, Ktif_File* out) {
  out->blockWidth = in->blockWidth;
  out->blockHeight = in->blockHeight;
  if (!o.tiles.empty()) {
    unsigned w = 0, h = 0;
    char extra = 0;
    if (std::sscanf(o.tiles.c_str(), "%ux%u%c", &w, &h, &extra) != 2 || w == 0 || h == 0 ||
        w % 16 != 0 || h % 16 != 0 || w > 65536 || h > 65536)
      return Failure{"--tiles takes WxH, both multiples of 16 (up to 65536): " + o.tiles};
    out->blockWidth = int32_t(w);
    out->blockHeight = int32_t(h);
  } else if (o.strips > 0) {
    out->blockWidth = in->width;
    out->blockHeight = int32_t(std::min<int64_t>(o.strips, in->height));
  }
  const bool jpeg = out->compression == 7 || out->compression == KTIF_COMPRESSION_JPEG_AS_RGB;
  const int32_t unit = jpegUnit(out);
  if (jpeg && out->blockWidth == in->width && out->blockHeight < in->height &&
      out->blockHeight % unit != 0) {
    const int32_t rows = std::min((out->blockHeight + unit - 1) / unit * unit, in->height);
    std::fprintf(stderr, "ktif: JPEG strips hold whole multiples of %d rows: %d rows per strip\n",
                 unit, rows);
    out->blockHeight = rows;
  }
  if (jpeg && out->blockWidth != in->width &&
      (out->blockWidth % unit != 0 || out->blockHeight % unit != 0))
    return Failure{"JPEG tiles must be multiples of " + std::to_string(unit) + " pixels"};
  return std::nullopt;
}

// ---- Georeferencing -----------------------------------------------------------

struct ParamsFree {
  void operator()(Kgtf_GeoTIFFParams* p) const { kgtf_GeoTIFFParamsFree(&p); }
};
using ParamsOwner = std::unique_ptr<Kgtf_GeoTIFFParams, ParamsFree>;

struct XFormFree {
  void operator()(Kxfr_XForm* x) const { kxfr_XFormFree(&x, nullptr); }
};
using XFormOwner = std::unique_ptr<Kxfr_XForm, XFormFree>;

// GDAL's geotransform places the outer corner of the first pixel; the host
// transform maps pixel centres, half a pixel further in along both axes.
XFormOwner hostTransformOf(const std::vector<double>& gt) {
  const double x0 = gt[0], dx = gt[1], rx = gt[2], y0 = gt[3], ry = gt[4], dy = gt[5];
  return XFormOwner(kxfr_XFormCreateUsingCoeffs(dx, rx, x0 + 0.5 * dx + 0.5 * rx, ry, dy,
                                                y0 + 0.5 * ry + 0.5 * dy, nullptr));
}

// The input's record, with the projection and transform the options ask for.
std::optional<Failure> geoParamsMake(const Ktif_File* in, const CopyOptions& o, ParamsOwner* made) {
  made->reset(in->geoParams ? kgtf_GeoTIFFParamsCopy(in->geoParams) : kgtf_GeoTIFFParamsAllocate());
  if (!*made) return Failure{"no memory for the georeferencing"};
  if (o.epsg == 0 && o.geotransform.empty() && !o.rekey) return std::nullopt;
  Kgtf_GeoTIFFParams* params = made->get();
  Kerr_Report* err = nullptr;
  Kxfr_XForm* current = nullptr;
  char *projectionName = nullptr, *unitsName = nullptr;
  kgtf_GeoTIFFParamsGeoreferencingGet(params, &current, &projectionName, &unitsName, &err);
  kerr_DeleteErrorReportEx(&err);
  XFormOwner xform(current);
  std::unique_ptr<char, decltype(&kmsc_HeapFree)> name(projectionName, &kmsc_HeapFree);
  std::unique_ptr<char, decltype(&kmsc_HeapFree)> units(unitsName, &kmsc_HeapFree);

  if (o.epsg != 0) {
    _kprj_MapProjectionEx* projection = nullptr;
    char* epsgUnits = nullptr;
    kgtf_ProjectionFromEPSG(o.epsg, &projection, &epsgUnits, &err);
    std::unique_ptr<_kprj_MapProjectionEx, void (*)(_kprj_MapProjectionEx*)> owner(
        projection, [](_kprj_MapProjectionEx* p) { kprj_ProjectionFree(&p, nullptr); });
    units.reset(epsgUnits);
    if (err || !projection || !kgtf_ProjectionIsWritable(projection))
      return Failure{"EPSG:" + std::to_string(o.epsg) +
                     " cannot be held by the host's projection model" +
                     (err ? ": " + reportText(&err) : std::string())};
    name.reset(kstr_Duplicate(kprj_MapProjectionName(projection)));
    kgtf_GeoTIFFParamsGeocodingSet(params, projection, &err);
    if (err) return Failure{"EPSG:" + std::to_string(o.epsg) + ": " + reportText(&err)};
  }
  if (o.rekey && o.epsg == 0) {
    if (params->projection == nullptr)
      return Failure{"--rekey: the input has no coordinate system the host holds"};
    // Setting the record's own projection marks it changed: the writer then
    // states it afresh instead of copying the file's keys.
    kgtf_GeoTIFFParamsGeocodingSet(params, params->projection, &err);
    if (err) return Failure{"--rekey: " + reportText(&err)};
  }
  if (!o.geotransform.empty()) {
    xform = hostTransformOf(o.geotransform);
    if (!xform) return Failure{"--geotransform does not give an invertible transform"};
  }
  if (xform) {
    kgtf_GeoTIFFParamsGeoreferencingSet(params, xform.get(), name.get(), units.get(), &err);
    if (err) return Failure{"the georeferencing cannot be set: " + reportText(&err)};
  }
  return std::nullopt;
}

// ---- The output file ----------------------------------------------------------

// Path of the temporary file while it exists, for the signal handler.
char gTemporary[4096];

extern "C" void temporaryRemoveAndExit(int signal) {
  if (gTemporary[0]) unlink(gTemporary);
  _exit(128 + signal);
}

std::string directoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string worldFileName(const std::string& path) {
  std::unique_ptr<char, decltype(&kmsc_HeapFree)> name(kwff_FileNameCreate(path.c_str()),
                                                       &kmsc_HeapFree);
  return name ? name.get() : "";
}

// A new empty file beside `out`, with the permissions a new file gets; the
// library opens an empty file as one to be created.
std::optional<Failure> temporaryCreate(const std::string& out, std::string* path) {
  std::string name = directoryOf(out) + "/.ktif-copy-XXXXXX.tif";
  if (name.size() >= sizeof gTemporary) return Failure{"output path too long: " + out};
  std::vector<char> buffer(name.begin(), name.end());
  buffer.push_back('\0');
  const int fd = mkstemps(buffer.data(), 4);
  if (fd < 0) return Failure{"cannot write in " + directoryOf(out) + ": " + std::strerror(errno)};
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  close(fd);
  *path = buffer.data();
  std::strcpy(gTemporary, path->c_str());
  return std::nullopt;
}

void temporaryDiscard(const std::string& path) {
  std::remove(worldFileName(path).c_str());
  std::remove(path.c_str());
  gTemporary[0] = '\0';
}

std::optional<Failure> temporaryCommit(const std::string& path, const std::string& out) {
  const std::string world = worldFileName(path);
  if (access(world.c_str(), F_OK) == 0 && std::rename(world.c_str(), worldFileName(out).c_str()))
    return Failure{"cannot write " + worldFileName(out) + ": " + std::strerror(errno)};
  if (std::rename(path.c_str(), out.c_str()) != 0)
    return Failure{"cannot write " + out + ": " + std::strerror(errno)};
  gTemporary[0] = '\0';
  return std::nullopt;
}

template <class T>
T* heapCopy(const T* block) {
  return block ? static_cast<T*>(kmsc_MemDup(block, kmsc_HeapSize(block))) : nullptr;
}

// The input's description on the empty output handle, which owns copies.
void outputDescribe(Ktif_File* out, const Ktif_File* in, ParamsOwner params) {
  out->width = in->width;
  out->height = in->height;
  out->bitsPerSample = in->bitsPerSample;
  out->bytesPerSample = in->bytesPerSample;
  out->samplesPerPixel = in->samplesPerPixel;
  out->photometric = in->photometric;
  out->isPalette = in->isPalette;
  out->planarConfig = in->planarConfig;
  out->pixelType = in->pixelType;
  out->xResolution = in->xResolution;
  out->yResolution = in->yResolution;
  out->resolutionUnit = in->resolutionUnit;
  out->orientation = in->orientation;
  out->colorMapSize = in->colorMapSize;
  out->colorMapRed = heapCopy(in->colorMapRed);
  out->colorMapGreen = heapCopy(in->colorMapGreen);
  out->colorMapBlue = heapCopy(in->colorMapBlue);
  out->extraSampleKinds = heapCopy(in->extraSampleKinds);
  out->minValues = heapCopy(in->minValues);
  out->maxValues = heapCopy(in->maxValues);
  out->minCount = out->minValues ? in->minCount : 0;
  out->maxCount = out->maxValues ? in->maxCount : 0;
  out->geoParams = params.release();
}

// ---- Progress -------------------------------------------------------------------

class Progress {
 public:
  Progress(int64_t total, int64_t blockBytes)
      : total_(total), blockBytes_(blockBytes), shown_(isatty(STDERR_FILENO) == 1) {}
  void step() {
    ++done_;
    if (!shown_) return;
    const auto now = Clock::now();
    if (done_ != total_ && now - last_ < std::chrono::milliseconds(100)) return;
    last_ = now;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const double rate = seconds > 0 ? double(done_) * double(blockBytes_) / seconds / 1e6 : 0;
    const int filled = int(30 * done_ / std::max<int64_t>(total_, 1));
    std::fprintf(stderr, "\r[%-30s] %lld/%lld blocks, %.1f MB/s", std::string(filled, '#').c_str(),
                 static_cast<long long>(done_), static_cast<long long>(total_), rate);
    if (done_ == total_) std::fputc('\n', stderr);
  }
  void abandon() {
    if (shown_ && done_ != total_) std::fputc('\n', stderr);
  }

 private:
  using Clock = std::chrono::steady_clock;
  int64_t total_, blockBytes_, done_ = 0;
  bool shown_;
  Clock::time_point start_ = Clock::now(), last_ = Clock::time_point{};
};

// ---- The copy ---------------------------------------------------------------------

constexpr int64_t kMaxBlockBytes = int64_t{1} << 31;

// JPEG codes every tile whole: the part of an edge block outside the image
// repeats the last column and row, where a hard edge would ring into the
// image. `block` holds one layer of one-byte samples.
void edgesRepeat(unsigned char* block, int64_t width, int64_t height, int64_t inWidth,
                 int64_t inHeight) {
  for (int64_t y = 0; y < inHeight && inWidth < width; ++y)
    std::memset(block + y * width + inWidth, block[y * width + inWidth - 1],
                size_t(width - inWidth));
  for (int64_t y = inHeight; y < height; ++y)
    std::memcpy(block + y * width, block + (inHeight - 1) * width, size_t(width));
}

std::optional<Failure> pixelsCopy(Ktif_File* in, Ktif_File** out) {
  const int64_t rbw = (*out)->rbBlockWidth, rbh = (*out)->rbBlockHeight;
  const int64_t bytes = (*out)->bytesPerSample, layers = (*out)->samplesPerPixel;
  if (rbw * rbh * bytes > kMaxBlockBytes) return Failure{"blocks too large for this tool"};
  // The input is read in the output's blocks, so that every output block is
  // written once, whole.
  in->rbBlockWidth = int32_t(rbw);
  in->rbBlockHeight = int32_t(rbh);
  std::vector<unsigned char> buffer(size_t(rbw * rbh * bytes));
  const int64_t rows = (in->height + rbh - 1) / rbh, columns = (in->width + rbw - 1) / rbw;
  Progress progress(rows * columns * layers, rbw * rbh * bytes);
  const bool jpeg = (*out)->compression == 7 || (*out)->compression == KTIF_COMPRESSION_JPEG_AS_RGB;
  for (int64_t r = 0; r < rows; ++r)
    for (int64_t c = 0; c < columns; ++c)
      for (int32_t layer = 0; layer < layers; ++layer) {
        const std::string where = "block row " + std::to_string(r) + ", column " +
                                  std::to_string(c) + ", layer " + std::to_string(layer);
        Kerr_Report* err = nullptr;
        ktif_RBRasterRead(in, layer, int32_t(r), int32_t(c), buffer.data(), &err);
        const ToolLog log = toolLogTake();
        if (err || log.failures > 0) {
          progress.abandon();
          return Failure{"cannot read " + where + ": " + (err ? reportText(&err) : log.first)};
        }
        if (jpeg)
          edgesRepeat(buffer.data(), rbw, rbh, std::min(rbw, in->width - c * rbw),
                      std::min(rbh, in->height - r * rbh));
        ktif_RBRasterWrite(out, layer, int32_t(r), int32_t(c), buffer.data(), &err);
        const ToolLog written = toolLogTake();
        if (err || written.failures > 0) {
          progress.abandon();
          return Failure{"cannot write " + where + ": " + (err ? reportText(&err) : written.first)};
        }
        progress.step();
      }
  return std::nullopt;
}

bool sameFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

// Creates the output at `temporary` and copies the pixels into it.
std::optional<Failure> copyInto(Ktif_File* in, const CopyOptions& o, const std::string& temporary) {
  ParamsOwner params;
  if (auto failed = geoParamsMake(in, o, &params)) return failed;
  Kerr_Report* err = nullptr;
  Ktif_File* out = ktif_Open(temporary.c_str(), "w", &err);
  if (!out) return Failure{"cannot create " + temporary + ": " + reportText(&err)};
  struct Closer {
    Ktif_File** handle;
    ~Closer() { ktif_Close(*handle, nullptr); }
  } closer{&out};
  outputDescribe(out, in, std::move(params));
  if (auto failed = codecChoose(in, o, out)) return failed;
  if (auto failed = blocksChoose(in, o, out)) return failed;
  out->rbWrite = 1;
  out->rbBlockWidth = out->blockWidth;
  out->rbBlockHeight = out->blockHeight;
  out->bigTIFF = o.bigTiff;
  if (o.worldFile) out->tfwWrite = 1;
  if (!ktif_CreateBaseLineTIFF(out, nullptr, &err))
    return Failure{"cannot create the output: " + reportText(&err)};
  if (auto failed = pixelsCopy(in, &out)) return failed;
  Ktif_File* finished = out;
  out = nullptr;
  ktif_Close(finished, nullptr);
  const ToolLog log = toolLogTake();
  if (log.failures > 0) return Failure{"cannot finish the output: " + log.first};
  return std::nullopt;
}

int copyRun(const CopyOptions& o) {
  if (sameFile(o.in, o.out)) {
    toolFail("IN and OUT are the same file: " + o.out, nullptr);
    return 1;
  }
  int32_t images = 0;
  Ktif_File* in = toolImageOpen(o.in, o.image, &images);
  if (!in) return 1;
  // Writes beyond a file-size limit then fail with an error instead of
  // killing the process; an interrupted copy leaves no temporary file.
  std::signal(SIGXFSZ, SIG_IGN);
  std::signal(SIGINT, temporaryRemoveAndExit);
  std::signal(SIGTERM, temporaryRemoveAndExit);
  std::string temporary;
  std::optional<Failure> failed = temporaryCreate(o.out, &temporary);
  if (!failed) failed = copyInto(in, o, temporary);
  ktif_Close(in, nullptr);
  if (!failed) failed = temporaryCommit(temporary, o.out);
  if (failed) {
    if (!temporary.empty()) temporaryDiscard(temporary);
    toolLogTake();  // the reason says it; the log lines behind it are not repeated
    toolFail("copy failed: " + failed->reason, nullptr);
    return 1;
  }
  return 0;
}

// Six comma-separated numbers, or nothing.
std::optional<std::vector<double>> geotransformParse(const std::string& text) {
  std::vector<double> values;
  const char* p = text.c_str();
  while (*p) {
    char* end = nullptr;
    values.push_back(std::strtod(p, &end));
    if (end == p || (*end && *end != ',')) return std::nullopt;
    p = *end ? end + 1 : end;
  }
  if (values.size() != 6) return std::nullopt;
  return values;
}

}  // namespace

CommandRunner copyCommandAdd(CLI::App& app, const ToolOptions&) {
  CLI::App* command = app.add_subcommand(
      "copy", "Copy one image into a new TIFF through the library, changing layout or codec");
  auto options = std::make_shared<CopyOptions>();
  command->add_option("IN", options->in, "TIFF file to read")->required();
  command->add_option("OUT", options->out, "TIFF file to write (replaced when complete)")
      ->required();
  command->add_option("--image", options->image, "Image index (overviews do not count)")
      ->check(CLI::NonNegativeNumber);
  command->add_option("--compress", options->compress, "Codec of the copy")
      ->check(CLI::IsMember({"none", "lzw", "deflate", "packbits", "jpeg"}));
  command->add_option("--quality", options->quality, "JPEG quality")->check(CLI::Range(1, 100));
  auto* tiles =
      command->add_option("--tiles", options->tiles, "Tiles of W x H pixels")->type_name("WxH");
  auto* strips = command->add_option("--strips", options->strips, "Strips of ROWS rows")
                     ->check(CLI::PositiveNumber)
                     ->type_name("ROWS");
  tiles->excludes(strips);
  command->add_flag("--bigtiff", options->bigTiff, "Write BigTIFF");
  command->add_option("--epsg", options->epsg, "Coordinate system by EPSG code")
      ->check(CLI::PositiveNumber);
  auto geotransform = std::make_shared<std::string>();
  command->add_option("--geotransform", *geotransform,
                      "Transform as GDAL prints it: X0,DX,RX,Y0,RY,DY (corner of pixel 0,0)");
  command->add_flag("--world-file", options->worldFile, "Also write a world file beside OUT");
  command->add_flag("--rekey", options->rekey,
                    "Write the GeoKeys from the host's coordinate system, not the input's keys");
  return [options, geotransform] {
    if (!geotransform->empty()) {
      const auto values = geotransformParse(*geotransform);
      if (!values) {
        toolFail("--geotransform takes six numbers separated by commas: " + *geotransform, nullptr);
        return 2;
      }
      options->geotransform = *values;
    }
    return copyRun(*options);
  };
}
