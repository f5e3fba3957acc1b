// Image parameters: the selected TIFF directory in the host's raster model.
#include "ktif_internal.h"

#include <climits>
#include <initializer_list>
#include <tiffio.h>

#include "kerr_frame.h"
#include "kfio.h"
#include "kmsc.h"

namespace {

const char* kLabel = "readParameters";

// Host pixel type of a sample layout, or -1 when the host has none.
int32_t pixelTypeOf(uint16_t bits, uint16_t sampleFormat, int32_t isOPX) {
  switch (bits) {
    case 1:
      return KTIF_PIXEL_U1;
    case 4:
      return KTIF_PIXEL_U4;
    case 8:
      if (isOPX) return KTIF_PIXEL_U16;
      return sampleFormat == SAMPLEFORMAT_INT ? KTIF_PIXEL_S8 : KTIF_PIXEL_U8;
    case 16:
      return sampleFormat == SAMPLEFORMAT_INT ? KTIF_PIXEL_S16 : KTIF_PIXEL_U16;
    case 32:
      if (sampleFormat == SAMPLEFORMAT_IEEEFP) return KTIF_PIXEL_F32;
      return sampleFormat == SAMPLEFORMAT_INT ? KTIF_PIXEL_S32 : KTIF_PIXEL_U32;
    case 64:
      return KTIF_PIXEL_F64;  // whatever SampleFormat says
    default:
      return -1;
  }
}

int32_t defaultSamples(int32_t photometric) {
  if (photometric == PHOTOMETRIC_RGB || photometric == PHOTOMETRIC_YCBCR) return 3;
  return photometric == PHOTOMETRIC_SEPARATED ? 4 : 1;
}

// Width, height and photometric interpretation; false with a report.
bool sizeRead(KerrFrame& frame, Ktif_File* h) {
  uint32_t width = 0, height = 0;
  uint16_t photometric = 0;
  if (!TIFFGetField(h->tiff, TIFFTAG_IMAGEWIDTH, &width) || width == 0 || width > INT32_MAX)
    return frame.fail(__LINE__, "Error reading image width"), false;
  if (!TIFFGetField(h->tiff, TIFFTAG_IMAGELENGTH, &height) || height == 0 || height > INT32_MAX)
    return frame.fail(__LINE__, "Error reading image height"), false;
  if (!TIFFGetField(h->tiff, TIFFTAG_PHOTOMETRIC, &photometric))
    return frame.fail(__LINE__, "Error reading photometric interpretation"), false;
  h->width = static_cast<int32_t>(width);
  h->height = static_cast<int32_t>(height);
  h->photometric = photometric;
  h->isPalette = photometric == PHOTOMETRIC_PALETTE;
  return true;
}

bool bitsRead(KerrFrame& frame, Ktif_File* h) {
  uint16_t samples = 0;
  h->samplesPerPixel = TIFFGetField(h->tiff, TIFFTAG_SAMPLESPERPIXEL, &samples) && samples > 0
                           ? samples
                           : defaultSamples(h->photometric);
  auto* list = static_cast<uint16_t*>(
      kmsc_HeapMalloc(static_cast<size_t>(h->samplesPerPixel) * sizeof(uint16_t)));
  if (list == nullptr) return frame.fail(__LINE__, "No memory"), false;
  if (!TIFFGetField(h->tiff, TIFFTAG_BITSPERSAMPLE, &list[0]))
    for (int32_t i = 0; i < h->samplesPerPixel; ++i) list[i] = 1;
  for (int32_t i = 1; i < h->samplesPerPixel; ++i) {
    if (list[i] != 0 && list[i] != list[0]) {
      kmsc_HeapFree(list);
      return frame.fail(__LINE__, "Bits Per Sample values must be equal"), false;
    }
  }
  h->bitsPerSample = list[0];
  kmsc_HeapFree(h->bitsPerSampleList);
  h->bitsPerSampleList = list;
  h->bytesPerSample = h->bitsPerSample < 8 ? 1 : h->bitsPerSample / 8;
  return true;
}

// Tile or strip geometry and the block counts; false with a report.
bool geometryRead(KerrFrame& frame, Ktif_File* h) {
  h->isTiled = TIFFIsTiled(h->tiff) != 0;
  if (h->isTiled) {
    uint32_t tileWidth = 0, tileHeight = 0;
    if (!TIFFGetField(h->tiff, TIFFTAG_TILEWIDTH, &tileWidth) || tileWidth == 0 ||
        tileWidth > INT32_MAX)
      return frame.fail(__LINE__, "Error reading tile width"), false;
    if (!TIFFGetField(h->tiff, TIFFTAG_TILELENGTH, &tileHeight) || tileHeight == 0 ||
        tileHeight > INT32_MAX)
      return frame.fail(__LINE__, "Error reading tile height"), false;
    h->blockWidth = static_cast<int32_t>(tileWidth);
    h->blockHeight = static_cast<int32_t>(tileHeight);
  } else {
    uint32_t rows = 0;
    // RowsPerStrip may exceed the height (one strip of 2^32-1 rows is
    // common); the block is never taller than the image.
    h->blockWidth = h->width;
    h->blockHeight = TIFFGetField(h->tiff, TIFFTAG_ROWSPERSTRIP, &rows) && rows > 0 &&
                             rows < static_cast<uint32_t>(h->height)
                         ? static_cast<int32_t>(rows)
                         : h->height;
  }
  int64_t across = (int64_t{h->width} + h->blockWidth - 1) / h->blockWidth;
  int64_t down = (int64_t{h->height} + h->blockHeight - 1) / h->blockHeight;
  if (across * down > INT32_MAX) return frame.fail(__LINE__, "Too many blocks"), false;
  h->blocksAcross = static_cast<int32_t>(across);
  h->blocksDown = static_cast<int32_t>(down);
  h->blocksPerLayer = static_cast<int32_t>(across * down);
  return true;
}

// Per-layer minimum and maximum, unsigned or floating; null without a pair.
// What an earlier read found goes first: the parameters are read again when a
// file is created.
void rangeRead(Ktif_File* h) {
  kmsc_HeapFree(h->minValues);
  kmsc_HeapFree(h->maxValues);
  h->minValues = h->maxValues = nullptr;
  h->minCount = h->maxCount = 0;
  double minimum = 0, maximum = 0;
  uint16_t minShort = 0, maxShort = 0;
  if (TIFFGetField(h->tiff, TIFFTAG_MINSAMPLEVALUE, &minShort) &&
      TIFFGetField(h->tiff, TIFFTAG_MAXSAMPLEVALUE, &maxShort)) {
    minimum = minShort;
    maximum = maxShort;
  } else if (!TIFFGetField(h->tiff, TIFFTAG_SMINSAMPLEVALUE, &minimum) ||
             !TIFFGetField(h->tiff, TIFFTAG_SMAXSAMPLEVALUE, &maximum)) {
    return;
  }
  size_t bytes = static_cast<size_t>(h->samplesPerPixel) * sizeof(double);
  auto* mins = static_cast<double*>(kmsc_HeapMalloc(bytes));
  auto* maxs = static_cast<double*>(kmsc_HeapMalloc(bytes));
  if (mins == nullptr || maxs == nullptr) {
    kmsc_HeapFree(mins);
    kmsc_HeapFree(maxs);
    return;
  }
  for (int32_t i = 0; i < h->samplesPerPixel; ++i) {
    mins[i] = minimum;
    maxs[i] = maximum;
  }
  h->minValues = mins;
  h->maxValues = maxs;
  h->minCount = h->maxCount = h->samplesPerPixel;
}

// The colour map, whatever the photometric interpretation; false on memory.
bool colorMapRead(KerrFrame& frame, Ktif_File* h) {
  for (uint16_t** map : {&h->colorMapRed, &h->colorMapGreen, &h->colorMapBlue}) {
    kmsc_HeapFree(*map);
    *map = nullptr;
  }
  h->colorMapSize = 0;
  uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
  // libtiff keeps 2^bits entries; above 16 bits no sane map exists.
  if (h->bitsPerSample > 16 || !TIFFGetField(h->tiff, TIFFTAG_COLORMAP, &red, &green, &blue) ||
      red == nullptr)
    return true;
  int32_t size = 1 << h->bitsPerSample;
  size_t bytes = 2 * static_cast<size_t>(size);
  h->colorMapRed = static_cast<uint16_t*>(kmsc_MemDup(red, bytes));
  h->colorMapGreen = static_cast<uint16_t*>(kmsc_MemDup(green, bytes));
  h->colorMapBlue = static_cast<uint16_t*>(kmsc_MemDup(blue, bytes));
  if (!h->colorMapRed || !h->colorMapGreen || !h->colorMapBlue)
    return frame.fail(__LINE__, "No memory"), false;
  h->colorMapSize = size;
  return true;
}

// The kinds of the extra samples, so that a copy keeps its alpha.
void extraSamplesRead(Ktif_File* h) {
  kmsc_HeapFree(h->extraSampleKinds);
  h->extraSampleKinds = nullptr;
  uint16_t count = 0;
  uint16_t* kinds = nullptr;
  if (!TIFFGetField(h->tiff, TIFFTAG_EXTRASAMPLES, &count, &kinds) || count == 0 || !kinds) return;
  h->extraSampleKinds =
      static_cast<uint16_t*>(kmsc_MemDup(kinds, size_t(count) * sizeof(uint16_t)));
}

void compressionAndResolutionRead(Ktif_File* h) {
  uint16_t compression = 0;
  if (TIFFGetField(h->tiff, TIFFTAG_COMPRESSION, &compression)) h->compression = compression;
  if (h->compression == COMPRESSION_JPEG) {
    int quality = 0;
    if (TIFFGetField(h->tiff, TIFFTAG_JPEGQUALITY, &quality))
      h->jpegQuality = static_cast<uint16_t>(quality);
    if (h->photometric == PHOTOMETRIC_YCBCR) h->compression = KTIF_COMPRESSION_JPEG_AS_RGB;
  }
  h->resolutionUnit = RESUNIT_INCH;
  uint16_t unit = 0, orientation = 0;
  float resolution = 0;
  if (TIFFGetField(h->tiff, TIFFTAG_RESOLUTIONUNIT, &unit)) h->resolutionUnit = unit;
  if (TIFFGetField(h->tiff, TIFFTAG_XRESOLUTION, &resolution)) h->xResolution = resolution;
  if (TIFFGetField(h->tiff, TIFFTAG_YRESOLUTION, &resolution)) h->yResolution = resolution;
  if (TIFFGetField(h->tiff, TIFFTAG_ORIENTATION, &orientation)) h->orientation = orientation;
}

// YCbCr goes to the host as 8-bit RGB through libtiff's RGBA interface.
void rgbDeliverySet(Ktif_File* h) {
  h->rgbaRead = 0;
  if (h->photometric != PHOTOMETRIC_YCBCR) return;
  h->rgbaRead = 1;
  h->photometric = PHOTOMETRIC_RGB;
  h->samplesPerPixel = 3;
  h->bitsPerSample = 8;
  kmsc_HeapFree(h->bitsPerSampleList);
  h->bitsPerSampleList = nullptr;
  h->bytesPerSample = 1;
  h->planarConfig = PLANARCONFIG_CONTIG;
  h->pixelType = KTIF_PIXEL_U8;
}

// Wide uncompressed interleaved strips are read straight from the file, as
// stored: never an image whose delivery converts its samples (YCbCr as RGB,
// OPX codes), whose stored form those reads would hand out instead. A file
// and buffer of an earlier read's direct reads are released.
void partialStripModeSet(Ktif_File* h) {
  if (h->partialStripOpen && h->partialStripFile != nullptr)
    kfio_Close(&h->partialStripFile, nullptr);
  kmsc_HeapFree(h->partialStripBuffer);
  h->partialStripMode = h->partialStripOpen = 0;
  h->partialStripFile = nullptr;
  h->partialStripBuffer = nullptr;
  h->partialStripRow = h->partialStripColumn = -1;
  bool wide = (h->samplesPerPixel == 3 && h->width >= 5500) ||
              (h->samplesPerPixel == 1 && h->width >= 16384);
  if (!wide || h->isTiled || h->blockWidth != h->width || h->compression != COMPRESSION_NONE ||
      h->rgbaRead || h->isOPX || h->planarConfig != PLANARCONFIG_CONTIG ||
      (h->bitsPerSample != 8 && h->bitsPerSample != 16))
    return;
  h->partialStripMode = 1;
}

}  // namespace

int readParameters(Ktif_File* h, Kerr_Report** err) {
  KerrFrame frame(kLabel, err);
  if (h == nullptr || h->tiff == nullptr) return frame.fail(__LINE__, "Args"), -1;
  if (!sizeRead(frame, h) || !bitsRead(frame, h) || !geometryRead(frame, h)) return -1;

  uint16_t planar = PLANARCONFIG_CONTIG, sampleFormat = SAMPLEFORMAT_UINT;
  if (TIFFGetField(h->tiff, TIFFTAG_PLANARCONFIG, &planar)) h->planarConfig = planar;
  TIFFGetField(h->tiff, TIFFTAG_SAMPLEFORMAT, &sampleFormat);
  h->isOPX = TIFFIsOPX(h->tiff) == 1;
  h->pixelType = pixelTypeOf(h->bitsPerSample, sampleFormat, h->isOPX);
  if (h->pixelType < 0) return frame.fail(__LINE__, "Unsupported pixel type"), -1;

  rangeRead(h);
  extraSamplesRead(h);
  if (!colorMapRead(frame, h)) return -1;
  compressionAndResolutionRead(h);
  rgbDeliverySet(h);
  partialStripModeSet(h);
  georeferencingRead(h);
  return 0;
}
