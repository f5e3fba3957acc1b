// Creating baseline TIFF files from a described handle, and writing the
// library's own tags (sample range, colour map, GeoTIFF keys, world file).
#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "kerr_frame.h"
#include "kerr_guard.h"
#include "kmsc.h"
#include "kstr.h"
#include "kxfr.h"
#include "ktif_internal.h"
#include "tiff_diagnostics.h"
#include "world_file.h"

namespace {

// The first line is what marks a file as written by this library.
constexpr char kSoftwareFirstLine[] = "ktiflib TIFF Support";
constexpr size_t kSoftwareFirstLineLength = sizeof kSoftwareFirstLine - 1;
#ifndef KTIF_VERSION_TEXT
#define KTIF_VERSION_TEXT "0.0.0"
#endif
constexpr char kSoftwareText[] =
    "ktiflib TIFF Support\n"
    "Written through the ktiflib TIFF and GeoTIFF access library\n"
    "ktiflib " KTIF_VERSION_TEXT;

// Largest of float32: the start of the search for the smallest minimum.
constexpr double kFloatMax = 3.4028234663852886e+38;

// TIFF SampleFormat of a host pixel type; 0 for types TIFF cannot hold.
uint16_t sampleFormatOf(int32_t pixelType) {
  switch (pixelType) {
    case KTIF_PIXEL_U1:
    case KTIF_PIXEL_U4:
    case KTIF_PIXEL_U8:
    case KTIF_PIXEL_U16:
    case KTIF_PIXEL_U32:
      return SAMPLEFORMAT_UINT;
    case KTIF_PIXEL_S8:
    case KTIF_PIXEL_S16:
    case KTIF_PIXEL_S32:
      return SAMPLEFORMAT_INT;
    case KTIF_PIXEL_F32:
    case KTIF_PIXEL_F64:
      return SAMPLEFORMAT_IEEEFP;
    default:
      return 0;
  }
}

// Colour samples of a photometric interpretation; the rest are extra.
int32_t colourSamples(int32_t photometric) {
  if (photometric == PHOTOMETRIC_RGB || photometric == PHOTOMETRIC_YCBCR) return 3;
  return photometric == PHOTOMETRIC_SEPARATED ? 4 : 1;
}

bool isJpeg(int32_t compression) {
  return compression == COMPRESSION_JPEG || compression == KTIF_COMPRESSION_JPEG_AS_RGB;
}

// The JPEG codec turns RGB into YCbCr only for a YCbCr photometric
// interpretation; with RGB it would store RGB components.
int32_t storedPhotometric(const Ktif_File* h) {
  if (h->compression == KTIF_COMPRESSION_JPEG_AS_RGB && h->photometric == PHOTOMETRIC_RGB &&
      h->samplesPerPixel == 3)
    return PHOTOMETRIC_YCBCR;
  return h->photometric;
}

struct HandleClose {
  void operator()(Ktif_File* handle) const { ktif_Close(handle, nullptr); }
};
using HandleOwner = std::unique_ptr<Ktif_File, HandleClose>;

// A copy of a block of the host heap, whole; false when memory ran out.
template <class T>
bool duplicate(T** field) {
  if (*field == nullptr) return true;
  *field = static_cast<T*>(kmsc_MemDup(*field, kmsc_HeapSize(*field)));
  return *field != nullptr;
}

// A new record with the template's description and its own copies of what
// the template owns; null with a report.
Ktif_File* templateCopy(KerrFrame& frame, const Ktif_File* templ, const char* path) {
  auto* raw = static_cast<Ktif_File*>(kmsc_HeapMalloc(sizeof(Ktif_File)));
  if (raw == nullptr) return frame.fail(__LINE__, "No memory"), nullptr;
  *raw = *templ;
  // Nothing the template owns may be released twice: every pointer is
  // either cleared or replaced by a copy before anything can fail.
  raw->tiff = nullptr;
  raw->interleaveCache = nullptr;
  raw->geoParams = nullptr;
  raw->path = nullptr;
  raw->unpackBuffer = nullptr;
  raw->cache = nullptr;
  raw->faxState = nullptr;
  raw->stripWindows = nullptr;
  raw->layerAssemblyBuffer = nullptr;
  raw->layersCollected = 0;
  raw->bigTIFF = 0;
  raw->imageName = raw->imageType = nullptr;
  raw->partialStripFile = nullptr;
  raw->partialStripBuffer = nullptr;
  raw->partialStripOpen = 0;
  raw->cacheCapacity = raw->cacheBlockBytes = raw->cacheBlockLayers = raw->cacheBlockCount = 0;
  // Each copy is made even after one failed, so that no pointer stays shared.
  const bool redOk = duplicate(&raw->colorMapRed), greenOk = duplicate(&raw->colorMapGreen),
             blueOk = duplicate(&raw->colorMapBlue);
  const bool mapOk = redOk && greenOk && blueOk;
  const bool minOk = duplicate(&raw->minValues), maxOk = duplicate(&raw->maxValues);
  const bool rangeOk = minOk && maxOk;
  const bool listOk = duplicate(&raw->bitsPerSampleList),
             kindsOk = duplicate(&raw->extraSampleKinds);
  const bool bitsOk = listOk && kindsOk;
  HandleOwner handle(raw);
  if (templ->geoParams != nullptr) {
    handle->geoParams = kgtf_GeoTIFFParamsCopy(templ->geoParams);
    if (handle->geoParams == nullptr)
      return frame.fail(__LINE__, "kgtf_GeoTIFFParamsCopy failed"), nullptr;
  }
  if (!mapOk) return frame.fail(__LINE__, "No memory"), nullptr;
  handle->path = kstr_Duplicate(path);
  if (handle->path == nullptr || !rangeOk || !bitsOk)
    return frame.fail(__LINE__, "No memory"), nullptr;
  return handle.release();
}

// Sets one tag; false with a report naming it, libtiff's error as its cause.
template <class... Values>
bool tagSet(KerrFrame& frame, TIFF* tiff, uint32_t tag, const char* name, Values... values) {
  if (TIFFSetField(tiff, tag, values...) == 1) return true;
  ktifTiffErrorTake(tiff, frame.slot());
  frame.fail(__LINE__, "Cannot set %s", name);
  return false;
}

bool baselineTagsSet(KerrFrame& frame, Ktif_File* h) {
  TIFF* t = h->tiff;
  if (h->width <= 0 || h->height <= 0 || h->blockWidth <= 0 || h->blockHeight <= 0 ||
      h->samplesPerPixel <= 0 || h->samplesPerPixel > 0xFFFF)
    return frame.fail(__LINE__, "Invalid image geometry"), false;
  if (h->photometric < 0 || h->photometric > 0xFFFF)
    return frame.fail(__LINE__, "Bad photometric interpretation %d", h->photometric), false;
  const bool strips = h->blockWidth == h->width;
  if (!tagSet(frame, t, TIFFTAG_IMAGEWIDTH, "ImageWidth", uint32_t(h->width)) ||
      !tagSet(frame, t, TIFFTAG_IMAGELENGTH, "ImageLength", uint32_t(h->height)) ||
      !tagSet(frame, t, TIFFTAG_BITSPERSAMPLE, "BitsPerSample", int(h->bitsPerSample)) ||
      !tagSet(frame, t, TIFFTAG_PHOTOMETRIC, "PhotometricInterpretation",
              int(storedPhotometric(h))) ||
      !tagSet(frame, t, TIFFTAG_SAMPLESPERPIXEL, "SamplesPerPixel", int(h->samplesPerPixel)))
    return false;
  if (strips ? !tagSet(frame, t, TIFFTAG_ROWSPERSTRIP, "RowsPerStrip", uint32_t(h->blockHeight))
             : (!tagSet(frame, t, TIFFTAG_TILEWIDTH, "TileWidth", uint32_t(h->blockWidth)) ||
                !tagSet(frame, t, TIFFTAG_TILELENGTH, "TileLength", uint32_t(h->blockHeight))))
    return false;
  return tagSet(frame, t, TIFFTAG_XRESOLUTION, "XResolution", double(h->xResolution)) &&
         tagSet(frame, t, TIFFTAG_YRESOLUTION, "YResolution", double(h->yResolution)) &&
         tagSet(frame, t, TIFFTAG_RESOLUTIONUNIT, "ResolutionUnit", int(h->resolutionUnit)) &&
         tagSet(frame, t, TIFFTAG_ORIENTATION, "Orientation", int(h->orientation)) &&
         tagSet(frame, t, TIFFTAG_PLANARCONFIG, "PlanarConfiguration", int(h->planarConfig)) &&
         tagSet(frame, t, TIFFTAG_SOFTWARE, "Software", kSoftwareText);
}

bool compressionSet(KerrFrame& frame, Ktif_File* h) {
  TIFF* t = h->tiff;
  if (h->compression == KTIF_COMPRESSION_JPEG_AS_RGB) {
    if (!tagSet(frame, t, TIFFTAG_COMPRESSION, "Compression", int(COMPRESSION_JPEG)) ||
        !tagSet(frame, t, TIFFTAG_JPEGCOLORMODE, "JPEG colour mode", int(JPEGCOLORMODE_RGB)))
      return false;
  } else if (!tagSet(frame, t, TIFFTAG_COMPRESSION, "Compression", int(h->compression))) {
    return false;
  }
  return !isJpeg(h->compression) ||
         tagSet(frame, t, TIFFTAG_JPEGQUALITY, "JPEG quality", int(h->jpegQuality));
}

bool extraSamplesSet(KerrFrame& frame, Ktif_File* h) {
  const int32_t extra = h->samplesPerPixel - colourSamples(h->photometric);
  if (extra <= 0) return true;
  auto* kinds = static_cast<uint16_t*>(kmsc_HeapMalloc(size_t(extra) * sizeof(uint16_t)));
  if (kinds == nullptr) return frame.fail(__LINE__, "No memory"), false;
  // The kinds the handle knows (an image read from a file), else unspecified.
  const size_t known = kmsc_HeapSize(h->extraSampleKinds) / sizeof(uint16_t);
  for (size_t i = 0; i < std::min(known, size_t(extra)); ++i)
    kinds[i] = h->extraSampleKinds[i] <= EXTRASAMPLE_UNASSALPHA ? h->extraSampleKinds[i] : 0;
  const bool ok =
      tagSet(frame, h->tiff, TIFFTAG_EXTRASAMPLES, "ExtraSamples", uint16_t(extra), kinds);
  kmsc_HeapFree(kinds);
  return ok;
}

// A handle whose file is being written hands blocks to the TIFF as the host
// gives them: none of the read side's special deliveries apply.
void writingStateSet(Ktif_File* h) {
  h->rgbaRead = 0;
  h->partialStripMode = 0;
  if (h->rbBlockWidth <= 0 || h->rbBlockHeight <= 0) {
    h->rbBlockWidth = h->blockWidth;
    h->rbBlockHeight = h->blockHeight;
  }
}

// A record read from a file keeps its transform in that file's tags, which
// the key replay leaves behind; a new file gets it only as a changed
// georeferencing, written from the record.
void georeferencingCarry(Kgtf_GeoTIFFParams* params) {
  if (params == nullptr || params->georeferencingChanged || params->xform == nullptr) return;
  Kxfr_XForm* xform = nullptr;
  char *projection = nullptr, *units = nullptr;
  Kerr_Report* report = nullptr;
  kgtf_GeoTIFFParamsGeoreferencingGet(params, &xform, &projection, &units, &report);
  if (xform != nullptr)
    kgtf_GeoTIFFParamsGeoreferencingSet(params, xform, projection, units, &report);
  kerr_DeleteErrorReportEx(&report);
  kxfr_XFormFree(&xform, nullptr);
  kmsc_HeapFree(projection);
  kmsc_HeapFree(units);
}

// The common steps of creation; false with a report.
bool createRun(KerrFrame& frame, Ktif_File* h) {
  h->tiff = ktifTiffOpen(h->path, h->bigTIFF ? "w8" : "w", frame.slot());
  if (h->tiff == nullptr) return frame.fail(__LINE__, "XTIFFOpen failed"), false;
  h->nativeByteOrder = TIFFIsByteSwapped(h->tiff) == 0;
  if (!baselineTagsSet(frame, h) || !compressionSet(frame, h) || !extraSamplesSet(frame, h))
    return false;
  const uint16_t format = sampleFormatOf(h->pixelType);
  if (format == 0) return frame.fail(__LINE__, "Unsupported pixel type"), false;
  if (!tagSet(frame, h->tiff, TIFFTAG_SAMPLEFORMAT, "SampleFormat", int(format))) return false;

  // What the tag writer and the read-back find is theirs to show: the
  // creation has succeeded once the baseline tags are set.
  KerrFrame quiet("ktif_CreateBaseLineTIFF", nullptr);
  georeferencingCarry(h->geoParams);
  ktif_WriteTIFFTags(h, h->tiff, quiet.slot());
  quiet.drop();
  readParameters(h, quiet.slot());
  quiet.drop();
  ktif_SetImageInfo(h, 0, quiet.slot());
  quiet.drop();
  writingStateSet(h);
  // The block tables exist from here on, so that a block not yet written is
  // known as such (offset and byte count 0) by reads before the first write.
  if (TIFFWriteCheck(h->tiff, h->isTiled, "ktif_CreateBaseLineTIFF") != 1) {
    ktifTiffErrorTake(h->tiff, frame.slot());
    return frame.fail(__LINE__, "Invalid image layout"), false;
  }
  return true;
}

// The template of a null-path creation keeps its state after a failure, but
// a TIFF opened by the failed attempt is not left half-written.
void failedCreateUndo(Ktif_File* h) {
  if (h->tiff == nullptr) return;
  ktifTiffClose(h->tiff);
  h->tiff = nullptr;
}

// Smallest minimum and largest maximum of the per-layer ranges.
void rangeSpan(const Ktif_File* h, double* low, double* high) {
  *low = kFloatMax;
  *high = -kFloatMax;
  for (int32_t i = 0; i < h->minCount; ++i) *low = std::min(*low, h->minValues[i]);
  for (int32_t i = 0; i < h->maxCount; ++i) *high = std::max(*high, h->maxValues[i]);
}

uint16_t shortOf(double value) {
  const double t = std::trunc(value);
  if (!std::isfinite(t)) return 0;
  const int64_t v = static_cast<int64_t>(std::fmod(t, 65536.0));
  return static_cast<uint16_t>((v % 65536 + 65536) % 65536);
}

void rangeWrite(const Ktif_File* h, TIFF* tiff, uint16_t format) {
  if (h->minValues == nullptr || h->maxValues == nullptr) return;
  double low = 0, high = 0;
  rangeSpan(h, &low, &high);
  if (h->bitsPerSample <= 16 && format == SAMPLEFORMAT_UINT) {
    TIFFSetField(tiff, TIFFTAG_MINSAMPLEVALUE, int(shortOf(low)));
    TIFFSetField(tiff, TIFFTAG_MAXSAMPLEVALUE, int(shortOf(high)));
  } else {
    TIFFSetField(tiff, TIFFTAG_SMINSAMPLEVALUE, low);
    TIFFSetField(tiff, TIFFTAG_SMAXSAMPLEVALUE, high);
  }
}

// The TIFF library reads 2^bits entries per colour: a shorter map is padded
// with zeros so that it never reads past the host's arrays.
bool colorMapWrite(KerrFrame& frame, const Ktif_File* h, TIFF* tiff) {
  if (h->colorMapSize <= 0 || !h->colorMapRed || !h->colorMapGreen || !h->colorMapBlue) return true;
  if (h->bitsPerSample == 0 || h->bitsPerSample > 16)
    return frame.fail(__LINE__, "No colour map for %u bits per sample", h->bitsPerSample), false;
  const size_t needed = size_t(1) << h->bitsPerSample;
  if (size_t(h->colorMapSize) >= needed)
    return tagSet(frame, tiff, TIFFTAG_COLORMAP, "ColorMap", h->colorMapRed, h->colorMapGreen,
                  h->colorMapBlue);
  const size_t have = size_t(h->colorMapSize) * sizeof(uint16_t);
  std::unique_ptr<uint16_t[]> padded(new uint16_t[3 * needed]());
  std::memcpy(padded.get(), h->colorMapRed, have);
  std::memcpy(padded.get() + needed, h->colorMapGreen, have);
  std::memcpy(padded.get() + 2 * needed, h->colorMapBlue, have);
  return tagSet(frame, tiff, TIFFTAG_COLORMAP, "ColorMap", padded.get(), padded.get() + needed,
                padded.get() + 2 * needed);
}

}  // namespace

void ktif_WriteTIFFTags(Ktif_File* h, TIFF* tiff, Kerr_Report** err) {
  static const char* kLabel = "ktif_WriteTIFFTags";
  KerrFrame frame(kLabel, err);
  if (h == nullptr || tiff == nullptr) return frame.fail(__LINE__, "Args");
  const uint16_t format = sampleFormatOf(h->pixelType);
  if (format == 0) return frame.fail(__LINE__, "Unsupported pixel type");
  rangeWrite(h, tiff, format);
  if (!colorMapWrite(frame, h, tiff)) return;

  kgtf_GeoTIFFParamsWrite(tiff, h->geoParams, frame.slot());
  if (frame.hasReport()) {
    frame.report(__LINE__, KERR_NOTICE, "kgtf_GeoTIFFParamsWrite failed");
    frame.showAndDrop();
  }
  if (h->tfwWrite == 1 && writeWorldFile(h, frame.slot()) == 0) {
    frame.report(__LINE__, KERR_NOTICE, "writeWorldFile failed");
    frame.showAndDrop();
  }
}

extern "C" {

Ktif_File* ktif_CreateBaseLineTIFF(Ktif_File* templ, const char* path, Kerr_Report** err) {
  return kerrGuard(__func__, err, nullptr, [&]() -> Ktif_File* {
    static const char* kLabel = "ktif_CreateBaseLineTIFF";
    KerrFrame frame(kLabel, err);
    if (templ == nullptr) return frame.fail(__LINE__, "Args"), nullptr;
    if (path != nullptr) {
      HandleOwner handle(templateCopy(frame, templ, path));
      if (!handle || !createRun(frame, handle.get())) return nullptr;
      return handle.release();
    }
    if (templ->tiff != nullptr) return frame.fail(__LINE__, "File already created"), nullptr;
    if (templ->path == nullptr) return frame.fail(__LINE__, "Args"), nullptr;
    // Whatever the handle cached for the file it had before is of no use now.
    kdms_CacheDestroy(&templ->cache, nullptr);
    if (!createRun(frame, templ)) {
      failedCreateUndo(templ);
      return nullptr;
    }
    return templ;
  });
}

void ktif_UpdateTIFFTags(Ktif_File* h, Kerr_Report** err) {
  kerrGuardVoid(__func__, err, [&] {
    static const char* kLabel = "ktif_UpdateTIFFTags";
    KerrFrame frame(kLabel, err);
    if (h == nullptr) return frame.fail(__LINE__, "NULL kfh pointer");
    if (h->tiff == nullptr) {
      h->tiff = ktifTiffOpen(h->path, "r+", frame.slot());
      if (h->tiff == nullptr) return frame.fail(__LINE__, "XTIFFOpen failed");
    }
    // Blocks still in the cache go out first: they belong to this directory.
    if (h->cache != nullptr) {
      Kerr_Report* flush = nullptr;
      kdms_CacheFlush(h->cache, &flush);
      kerr_DeleteErrorReportEx(&flush);
    }
    KerrFrame quiet(kLabel, nullptr);
    ktif_WriteTIFFTags(h, h->tiff, quiet.slot());
    quiet.drop();
    // A directory never written (a file being created) is checkpointed, so
    // that writing can go on; a directory read from the file is rewritten
    // and selected again.
    if (TIFFCurrentDirOffset(h->tiff) == 0) {
      TIFFCheckpointDirectory(h->tiff);
      return;
    }
    const tdir_t directory = TIFFCurrentDirectory(h->tiff);
    TIFFRewriteDirectory(h->tiff);
    TIFFSetDirectory(h->tiff, directory);
  });
}

int32_t ktif_IsKORVOCreatedTIFF(Ktif_File* h) {
  return kerrGuard(__func__, nullptr, 0, [&]() -> int32_t {
    if (h == nullptr) return 0;
    if (h->tiff == nullptr) return 1;
    const char* software = nullptr;
    if (!TIFFGetField(h->tiff, TIFFTAG_SOFTWARE, &software) || software == nullptr) return 0;
    return std::strncmp(software, kSoftwareFirstLine, kSoftwareFirstLineLength) == 0 ? 1 : 0;
  });
}

}  // extern "C"
