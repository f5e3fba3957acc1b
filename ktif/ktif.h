/* ktif: TIFF image access for the host toolkit.
 *
 * Every operation on an image goes through a Ktif_File: one open file with
 * one selected TIFF directory. The host reads and sets its fields directly,
 * so the record's layout is part of this interface. The caller owns every
 * handle, list and result it receives and releases them with the matching
 * close or free function, or with kmsc_HeapFree for plain strings and arrays.
 */
#ifndef KTIF_H
#define KTIF_H

#include <stdint.h>

#include "kdms.h"
#include "kerr.h"
#include "kfio.h"
#include "kgtf.h"
#include "ktif_export.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct tiff TIFF;

/* Host pixel types (the values of Ktif_File.pixelType). */
enum {
  KTIF_PIXEL_U1 = 0,
  KTIF_PIXEL_U2 = 1,
  KTIF_PIXEL_U4 = 2,
  KTIF_PIXEL_U8 = 3,
  KTIF_PIXEL_S8 = 4,
  KTIF_PIXEL_U16 = 5,
  KTIF_PIXEL_S16 = 6,
  KTIF_PIXEL_U32 = 7,
  KTIF_PIXEL_S32 = 8,
  KTIF_PIXEL_F32 = 9,
  KTIF_PIXEL_F64 = 10
};

/* Compression code of JPEG images with YCbCr colour delivered as RGB. */
enum { KTIF_COMPRESSION_JPEG_AS_RGB = 32774 };

/* One-block cache of pixel-interleaved data. */
typedef struct Ktif_BlockCache {
  int32_t layerCount;  /* samples per pixel */
  int32_t blockNumber; /* TIFF strip or tile number held; -1 for none */
  int32_t pixelCount;  /* blockWidth * blockHeight */
  void* data;
} Ktif_BlockCache;

/* CCITT decoding state of 1-bit strips; opaque here. */
typedef struct Ktif_FaxState Ktif_FaxState;
/* Rows of strips larger than the raster buffer's memory budget, decoded a
 * window at a time; opaque here. */
typedef struct Ktif_StripWindows Ktif_StripWindows;

typedef struct Ktif_File {
  char* path;
  int32_t writeMode; /* 0 for modes "r" and "rb", else 1 */
  int32_t width;
  int32_t height;
  uint16_t* bitsPerSampleList; /* samplesPerPixel entries */
  int32_t compression;         /* TIFF Compression; KTIF_COMPRESSION_JPEG_AS_RGB */
  int32_t photometric;
  int32_t samplesPerPixel; /* the host's layers */
  int32_t blockHeight;
  float xResolution;
  float yResolution;
  uint16_t resolutionUnit;
  uint16_t orientation;
  uint16_t* colorMapRed;
  uint16_t* colorMapGreen;
  uint16_t* colorMapBlue;
  int32_t colorMapSize; /* entries per colour; 0 without a colour map */
  uint16_t bitsPerSample;
  int32_t isPalette;
  int32_t bytesPerSample; /* 1 for fewer than 8 bits per sample */
  int32_t blockWidth;
  int32_t blocksAcross;
  int32_t blocksDown;
  int32_t blocksPerLayer;
  double* minValues;
  int32_t minCount;
  double* maxValues;
  int32_t maxCount;
  Ktif_BlockCache* interleaveCache;
  unsigned char* unpackBuffer;
  TIFF* tiff; /* null while no TIFF is open (a file to be created) */
  int32_t nativeByteOrder;
  int32_t planarConfig; /* 1 interleaved, 2 separate planes */
  int32_t pixelType;
  int32_t isOPX;
  Kgtf_GeoTIFFParams* geoParams;
  int32_t tfwRead;
  int32_t tfwWrite;
  /* The raster buffer. */
  int32_t rbBlockWidth;
  int32_t rbBlockHeight;
  Kdms_Cache* cache;
  int32_t cacheCapacity;
  int32_t cacheBlockBytes;
  int32_t cacheBlockLayers;
  int32_t cacheBlockCount;
  int32_t currentLayer;
  int32_t rbSizeFromPreferences;
  int32_t partialStripMode;
  int32_t partialStripOpen;
  Kfio_File* partialStripFile;
  unsigned char* partialStripBuffer;
  int32_t partialStripRow;
  int32_t partialStripColumn;
  /* Delivery and writing. */
  int32_t rgbaRead; /* YCbCr delivered as 8-bit RGB */
  Ktif_FaxState* faxState;
  uint16_t jpegQuality;
  unsigned char* layerAssemblyBuffer;
  int32_t layersCollected;
  int32_t isTiled;
  int32_t rbWrite;
  char* imageName;
  char* imageType; /* "MONO", "RGB" or "MULTI" */
  int32_t bigTIFF;
  /* ExtraSamples kinds of the samples beyond the colour ones (0 unspecified,
   * 1 associated alpha, 2 unassociated alpha), samplesPerPixel minus the
   * colour samples entries; null when the file has none. Written back on
   * creation; without it every extra sample is unspecified. */
  uint16_t* extraSampleKinds;
  /* Set by the first raster-buffer read of an image whose strips exceed the
   * memory budget ("tiff"/"cache_budget"): those strips are decoded a
   * window of rows at a time instead of whole through the block cache. */
  Ktif_StripWindows* stripWindows;
} Ktif_File;

typedef struct Ktif_FileList {
  int32_t count;
  Ktif_File** handles;
} Ktif_FileList;

/* The library's version, "major.minor.patch". */
KTIF_API const char* ktif_Version(void);

/* ---- Image handles ---------------------------------------------------- */

/* Open the first image, an image by index (reduced-resolution copies do not
 * count), or the directory at a file offset. A file of 8 bytes or less gives
 * a handle without a TIFF, for creating a file. */
KTIF_API Ktif_File* ktif_Open(const char* path, const char* mode, Kerr_Report** err);
KTIF_API Ktif_File* ktif_OpenImageByIndex(const char* path, const char* mode, int64_t index,
                                          Kerr_Report** err);
KTIF_API Ktif_File* ktif_OpenDirectory(const char* path, const char* mode, int64_t offset,
                                       Kerr_Report** err);
/* One handle per image, or per directory. The list is returned also after a
 * failure; release it with ktif_CloseImageHandles. */
KTIF_API Ktif_FileList* ktif_OpenImageHandles(const char* path, const char* mode,
                                              Kerr_Report** err);
KTIF_API Ktif_FileList* ktif_OpenDirectoryHandles(const char* path, const char* mode,
                                                  Kerr_Report** err);
KTIF_API void ktif_CloseImageHandles(Ktif_FileList** list);
KTIF_API int32_t ktif_NumImages(Ktif_File* handle, Kerr_Report** err);
/* Offsets of the reduced-resolution directories, ended by 0; null when there
 * are none. Free with kmsc_HeapFree. */
KTIF_API uint64_t* ktif_GetRRDOffsets(Ktif_File* handle);
KTIF_API void ktif_Close(Ktif_File* handle, Kerr_Report** err);

/* ---- Blocks ----------------------------------------------------------- */

KTIF_API uint32_t ktif_BlockNum(TIFF* tiff, uint32_t x, uint32_t y, uint16_t sample);
KTIF_API int64_t ktif_BlockSize(TIFF* tiff);
KTIF_API int64_t ktif_HandleBlockSize(Ktif_File* handle);
KTIF_API int64_t ktif_HandleBlockRead(Ktif_File* handle, void* buffer, uint32_t x, uint32_t y,
                                      uint16_t sample, int64_t size);
KTIF_API int64_t ktif_BlockRead(TIFF* tiff, void* buffer, uint32_t x, uint32_t y, uint16_t sample,
                                int64_t size);
KTIF_API int64_t ktif_BlockWrite(TIFF* tiff, void* buffer, uint32_t x, uint32_t y, uint16_t sample,
                                 int64_t size);

/* ---- Creation and tag writing ----------------------------------------- */

/* Creates a baseline TIFF described by `templ` and returns the handle that
 * writes it, its parameters read back; null with a report on failure.
 * - With a path: a new handle, made from a copy of the template (which is
 *   left as it was), on a new file at that path. Never BigTIFF.
 * - With a null path: the template itself, a handle on an empty file (see
 *   ktif_Open), becomes the created file, in BigTIFF form when `bigTIFF` is
 *   set; "File already created" when it has a TIFF already.
 * Every file carries the Software text "ktiflib TIFF Support". Compression
 * KTIF_COMPRESSION_JPEG_AS_RGB stores JPEG in YCbCr (a 3-sample RGB image is
 * marked YCbCr) and takes RGB blocks; JPEG quality is `jpegQuality`.
 * Blocks written stay in the handle's cache until it is flushed: the file is
 * complete only after ktif_Close. A raster-buffer block size left 0 becomes
 * the TIFF block size. */
KTIF_API Ktif_File* ktif_CreateBaseLineTIFF(Ktif_File* templ, const char* path, Kerr_Report** err);
/* Writes the library's tags (range, colour map, GeoTIFF keys, world file)
 * again. A file being created has its directory checkpointed (writing goes
 * on); an existing directory is rewritten (open with "r+"). */
KTIF_API void ktif_UpdateTIFFTags(Ktif_File* handle, Kerr_Report** err);
/* Collects one layer of one block (`bytes` bytes, one value a byte below 8
 * bits); once all layers are there the block is packed and written. Returns
 * the bytes of one layer written, `bytes` while collecting, 0 with nothing to
 * write to, negative on a failed write. Layers of interleaved images must
 * come in order 0, 1, 2...; images with separate planes write each layer to
 * its own plane at once. After the last layer of the last block the file is
 * finished and *handle is replaced by a handle on it ("r+", else "r"; null
 * when neither opens). */
KTIF_API int32_t ktif_BlockWriteOneLayer(Ktif_File** handle, void* data, uint32_t x, uint32_t y,
                                         int32_t layer, int64_t bytes);
/* 1 for a file written by this library, or a handle still to be created. */
KTIF_API int32_t ktif_IsKORVOCreatedTIFF(Ktif_File* handle);

/* ---- Unpacking and conversions ---------------------------------------- */

KTIF_API unsigned char* ktif_HandleUnpackTo8BufferGet(Ktif_File* handle, Kerr_Report** err);
/* One TIFF block of one layer in the host layout. */
KTIF_API void ktif_RasterRead(Ktif_File* handle, int32_t layer, int32_t blockRow,
                              int32_t blockColumn, void* buffer, Kerr_Report** err);
KTIF_API void ktif_Invert(void* buffer, int32_t bitsPerPixel, uint32_t count);
KTIF_API void ktif_ConvertToBip(Ktif_File* handle, int32_t layer, void* interleaved,
                                const void* source, uint32_t pixels);

/* ---- Georeferencing from the resolution tags --------------------------- */

/* A transform from pixel centres to the resolution space of the image's
 * XResolution, YResolution, ResolutionUnit and Orientation, with the
 * projection name "Unknown" and a units name from the resolution unit. With
 * the defaults (1, 1, unit 1, orientation 1) nothing is made and the outputs
 * are left as they are. The results are new and belong to the caller. */
KTIF_API void ktif_MapInformationFromResolutionAndOrientationGet(Ktif_File* handle,
                                                                 Kxfr_XForm** xform,
                                                                 char** projectionName,
                                                                 char** unitsName,
                                                                 Kerr_Report** err);

/* ---- Raster buffer ---------------------------------------------------- */

/* One raster-buffer block (rbBlockWidth x rbBlockHeight elements) of a layer. */
KTIF_API void ktif_RBRasterRead(Ktif_File* handle, int32_t layer, int32_t rbRow, int32_t rbColumn,
                                void* buffer, Kerr_Report** err);
KTIF_API void ktif_ReadPartialStrip(Ktif_File* handle, int32_t layer, int32_t rbRow,
                                    int32_t rbColumn, void* buffer, Kerr_Report** err);
/* Stores one raster-buffer block of a layer in host layout into the image
 * being written. With `rbWrite` set, the pieces are merged into the TIFF
 * blocks held by the cache, which stores them on eviction and close; with it
 * clear, the raster-buffer block is one TIFF block handed to
 * ktif_BlockWriteOneLayer, which may replace *handle. WhiteIsZero data is
 * complemented in the caller's buffer, which stays complemented. */
KTIF_API void ktif_RBRasterWrite(Ktif_File** handle, int32_t layer, int32_t rbRow, int32_t rbColumn,
                                 void* buffer, Kerr_Report** err);
/* Releases the block cache of a compressed image early. */
KTIF_API void ktif_RBBufferClose(Ktif_File* handle, Kerr_Report** err);

/* ---- Directory inspection --------------------------------------------- */

/* A directory entry as stored (kmsc_HeapFree). `offset` is the file offset of
 * the data, or the data itself read as a number in the file's byte order
 * when it fits in the entry (4 bytes classic, 8 BigTIFF). */
typedef struct TIFFDirEntry {
  uint16_t tag;
  uint16_t type;
  uint64_t count;
  uint64_t offset;
} TIFFDirEntry;

/* Stored numbers: byte order 1 reads little-endian, any other big-endian. */
KTIF_API uint16_t ktif_Shortval(const void* bytes, int32_t byteOrder);
KTIF_API uint32_t ktif_Longval(const void* bytes, int32_t byteOrder);
KTIF_API double ktif_Doubleval(const void* bytes, int32_t byteOrder);

/* A new entry from 12 stored bytes (version 42) or 20 (any other version). */
KTIF_API TIFFDirEntry* ktif_TIFFDirEntryCreateFromData(const void* raw, int32_t byteOrder,
                                                       int32_t version);
/* The entry of `tag` in the file's first directory (null without one, with
 * no report), and the file's byte order (1 "II", 0 "MM") in *byteOrder. */
KTIF_API TIFFDirEntry* ktif_TIFFDirEntrySeek(Kfio_File* file, int32_t* byteOrder, uint16_t tag,
                                             Kerr_Report** err);
/* A new heap copy of an entry's data in machine byte order (null for empty
 * data); 1 on success. The data must lie inside the file. */
KTIF_API int32_t ktif_TIFFDirEntryDataRead(Kfio_File* file, int32_t byteOrder,
                                           const TIFFDirEntry* entry, void** data,
                                           Kerr_Report** err);
/* The same in the file's byte order. */
KTIF_API int32_t ktif_TIFFDirEntryDataReadRawData(Kfio_File* file, const TIFFDirEntry* entry,
                                                  void** data, Kerr_Report** err);
/* Writes an entry's data into a classic TIFF: at its offset when it takes
 * more than 4 bytes, else into the entry's value field (the unused bytes of
 * the field are zero). The caller's data is left as it was. 1 on success. */
KTIF_API int32_t ktif_TIFFDirEntryDataWrite(Kfio_File* file, int32_t byteOrder, TIFFDirEntry* entry,
                                            void* data, Kerr_Report** err);

/* The tags of the directory at `offset` (0: the first) in stored order,
 * without the three GeoKey tags (34735-34737); the list is the caller's. */
KTIF_API void ktif_AvailableTags(const char* path, uint64_t offset, uint32_t** tags,
                                 uint64_t* count, Kerr_Report** err);
/* The value of a tag as text (the caller frees it), its count and type; null
 * when the tag is absent or unreadable. A type whose values have no text
 * (IFD, IFD8, unknown types) gives an empty text, "{ }" for several values.
 * ASCII characters are appended one by one, so NULs add nothing. */
KTIF_API char* ktif_GetTagValue(const char* path, uint64_t offset, int32_t tag, uint64_t* count,
                                uint32_t* type, Kerr_Report** err);
/* A listing of the first directory and the GeoKeys on the host's text
 * output (kfio_Printf); classic TIFF and BigTIFF. */
KTIF_API void ktif_HeaderPrint(const char* path, Kerr_Report** err);
/* 1 when the image's directory has a GeoKeyDirectoryTag. */
KTIF_API int32_t ktif_HasGeoKeys(const Ktif_File* handle);

#ifdef __cplusplus
}
#endif

#endif
