/* kmsc: the host heap and a few pixel-type services.
 *
 * Every block handed across a library boundary comes from this heap, is
 * zero-filled when allocated and is released with kmsc_HeapFree. Blocks carry
 * a small header with their size, so that kmsc_HeapRealloc zero-fills what it
 * adds and kmsc_HeapSize can answer.
 */
#ifndef KMSC_H
#define KMSC_H

#include <stddef.h>
#include <stdint.h>

#include "kerr.h"

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

/* Zero-filled memory of `size` bytes (a 0 size gives a valid 1-byte block), or
 * null when the heap is exhausted or the size is absurd. */
void* kmsc_HeapMalloc(size_t size);
/* Accepts null. */
void kmsc_HeapFree(void* block);
/* Like realloc, but bytes beyond the old size are zero. A null block
 * allocates; on failure the old block is untouched and null is returned. */
void* kmsc_HeapRealloc(void* block, size_t size);
/* The size asked for when the block was (re)allocated; 0 for null. */
size_t kmsc_HeapSize(const void* block);
/* kmsc_HeapMalloc that reports "Out of memory" (label "kmsc_New") on failure. */
void* kmsc_New(size_t size, Kerr_Report** err);
/* A heap copy of `size` bytes, or null. */
void* kmsc_MemDup(const void* source, size_t size);
/* memmove; returns `destination`. */
void* kmsc_MemCpy(void* destination, const void* source, size_t size);

/* Descriptive metadata of an image, as the host's catalogue keeps it. The
 * strings are heap blocks owned by the record; the date and time fields are
 * digit texts ended by a zero. */
typedef struct Kmsc_ImageMetadata {
  char* classification; /* security marking, e.g. "UNCLASSIFIED" */
  char* description;
  char month[3];
  char day[3];
  char year[5];
  char hour[3];
  char minute[3];
  char second[3];
  char* status;     /* where the image is held, e.g. "ONLINE" */
  int32_t archived; /* 0 while the image is online */
} Kmsc_ImageMetadata;

/* A zero-filled record, or null with "No memory". */
Kmsc_ImageMetadata* kmsc_ImageMetadataCreate(Kerr_Report** err);
/* Frees the record and its strings; *metadata becomes null. */
void kmsc_ImageMetadataFree(Kmsc_ImageMetadata** metadata);

/* Host pixel types. */
enum {
  KMSC_PIXEL_U1 = 0,
  KMSC_PIXEL_U2 = 1,
  KMSC_PIXEL_U4 = 2,
  KMSC_PIXEL_U8 = 3,
  KMSC_PIXEL_S8 = 4,
  KMSC_PIXEL_U16 = 5,
  KMSC_PIXEL_S16 = 6,
  KMSC_PIXEL_U32 = 7,
  KMSC_PIXEL_S32 = 8,
  KMSC_PIXEL_F32 = 9,
  KMSC_PIXEL_F64 = 10,
  KMSC_PIXEL_TYPE_COUNT = 11
};

/* The table of bits per pixel, indexed by host pixel type (0 to 10). */
const int32_t* kmsc_AddressOf_kgda_NumBitsPerPixel(void);

/* Converts `count` values from one host pixel type to another. Values of the
 * sub-byte types are one value per byte, in the low bits. Integer results are
 * rounded to nearest and clamped to the target range (NaN gives 0). Returns 1
 * on success, 0 for an unknown type or null buffers. */
typedef int (*Kpxm_ConvertFunc)(int32_t fromType, const void* from, int32_t toType, void* to,
                                size_t count);
Kpxm_ConvertFunc kmsc_AddressOf_kpxm_Convert(void);

/* Number of bytes one value of a pixel type occupies in memory (sub-byte
 * types one byte), or 0 for an unknown type. */
int32_t kmsc_PixelTypeBytes(int32_t pixelType);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
