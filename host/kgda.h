/* kgda: matrices of numbers.
 *
 * A KgdaBaseData is a plain record over a block of the host heap. Element
 * (r, c) lives at data + r * rowStride + c * columnStride (strides in bytes)
 * and holds one value of the host pixel type `pixelType` (kmsc.h; sub-byte
 * types take one byte per value). Matrices made by kgda_BaseDataCreate are
 * row-major and packed: columnStride is the element size, rowStride
 * columns * columnStride.
 *
 * Rank 2 is a matrix; rank 1 a vector, which is a matrix with one row or one
 * column. A matrix may be empty (0 rows or 0 columns); it then holds no
 * values but still owns a valid data block.
 */
#ifndef KGDA_H
#define KGDA_H

#include <stdint.h>

#include "kerr.h"

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

typedef struct KgdaBaseData {
  int32_t rows;
  int32_t columns;
  int32_t pixelType;    /* host pixel type, KMSC_PIXEL_* */
  int32_t rank;         /* 1 (vector) or 2 (matrix) */
  void* data;           /* host heap block, owned by the record */
  int64_t rowStride;    /* bytes between (r, c) and (r + 1, c) */
  int64_t columnStride; /* bytes between (r, c) and (r, c + 1) */
} KgdaBaseData;

/* A new zero-filled matrix, or null with a report: "Args" for negative
 * dimensions, an unknown pixel type, a rank other than 1 or 2, a rank-1
 * shape with more than one row and column, or nonzero flags (reserved);
 * "Matrix too large" when the byte size overflows; "Out of memory". */
KgdaBaseData* kgda_BaseDataCreate(int32_t rows, int32_t columns, int32_t pixelType, int32_t rank,
                                  int32_t flags, Kerr_Report** err);

/* Frees the record and its data and sets *data to null; accepts a null
 * address and a null record. */
void kgda_BaseDataDelete(KgdaBaseData** data, Kerr_Report** err);

/* Element (r, c) as a double; NaN for a null record, a null data block, an
 * index out of range or an unknown pixel type. */
double kgda_BaseDataGet(const KgdaBaseData* data, int32_t r, int32_t c);

/* Stores v at (r, c), converted to the pixel type (integers rounded and
 * clamped, NaN as 0). Returns 1, or 0 for the cases where Get gives NaN. */
int kgda_BaseDataSet(KgdaBaseData* data, int32_t r, int32_t c, double v);

/* rows * columns, or 0 for a null record. */
int64_t kgda_BaseDataValueCount(const KgdaBaseData* data);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
