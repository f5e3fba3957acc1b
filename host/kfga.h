/* kfga: 2-D polynomials of any order and their least-squares fit.
 *
 * A Kfga_Polynomial maps a point (x, y) to (x', y'); each output is a sum of
 * terms c * x^i * y^j with i + j <= order. Terms are stored by total degree,
 * and within a degree d by falling power of x:
 *   1, x, y, x^2, x*y, y^2, x^3, x^2*y, x*y^2, y^3, ...
 * so there are (order + 1) * (order + 2) / 2 terms per output. Output k's
 * coefficient of term t is coefficients[k * termCount + t].
 *
 * Point sets are KgdaBaseData matrices of 2 rows (x, then y) by n columns,
 * one column per point; any pixel type is read through kgda_BaseDataGet.
 *
 * The fit solves the least-squares problem by Householder QR on a design
 * matrix whose inputs are first centred and scaled to about [-1, 1] (the
 * polynomial stores the centre and scale it used, and evaluation applies
 * them), which keeps high orders and map-sized coordinates well conditioned.
 */
#ifndef KFGA_H
#define KFGA_H

#include <stdint.h>

#include "kerr.h"
#include "kgda.h"

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

/* Highest order accepted (66 terms). */
#define KFGA_MAX_ORDER 10

typedef struct Kfga_Polynomial {
  int32_t order;
  int32_t inDims;    /* always 2 */
  int32_t outDims;   /* always 2 */
  int32_t pixelType; /* pixel type asked for; coefficients are held as doubles */
  int32_t termCount; /* (order + 1) * (order + 2) / 2 */
  int32_t fitted;    /* 1 once kfga_DerivePolyCoefs succeeded */
  /* Inputs are normalised as ((x - centerX) / scaleX, (y - centerY) / scaleY)
   * before the terms are formed. A new polynomial has centre 0, scale 1. */
  double centerX, centerY, scaleX, scaleY;
  double* coefficients; /* outDims * termCount, host heap, owned */
} Kfga_Polynomial;

/* A new polynomial with zero coefficients. "Args" for an order outside
 * 0..KFGA_MAX_ORDER, dimensions other than 2, or a pixel type other than
 * KMSC_PIXEL_F32 / KMSC_PIXEL_F64. */
Kfga_Polynomial* kfga_BasePolynomialCreate(int32_t order, int32_t inDims, int32_t outDims,
                                           int32_t pixelType, Kerr_Report** err);
/* The same as kfga_BasePolynomialCreate. */
Kfga_Polynomial* kfga_PolynomialCreate(int32_t order, int32_t inDims, int32_t outDims,
                                       int32_t pixelType, Kerr_Report** err);

/* A deep copy, or null with a report. */
Kfga_Polynomial* kfga_PolynomialCopy(const Kfga_Polynomial* poly, Kerr_Report** err);

/* Frees the polynomial and sets *poly to null; accepts a null address and a
 * null polynomial. */
void kfga_PolynomialDelete(Kfga_Polynomial** poly, Kerr_Report** err);

/* (outX, outY) = poly(x, y). Returns 1, or 0 for a null or malformed
 * polynomial or null outputs (outputs then untouched). */
int kfga_PolynomialEvaluate(const Kfga_Polynomial* poly, double x, double y, double* outX,
                            double* outY);

/* Fits `poly` (its order fixed at creation) so that poly(from[:, i]) is as
 * close as possible to to[:, i] in the least-squares sense. Returns 1, or 0
 * with a report, the polynomial then unchanged: "Args" (null input, not 2
 * rows, different column counts, non-finite values), "Too few points for the
 * polynomial order" (fewer points than terms), "Singular system" (points that
 * do not determine the terms, e.g. all collinear for order >= 1). */
int kfga_DerivePolyCoefs(const KgdaBaseData* to, const KgdaBaseData* from, Kfga_Polynomial* poly,
                         Kerr_Report** err);

/* Residuals of poly over the point pairs: residuals[k][i] = poly(from[:, i])_k
 * - to[k][i] (residuals: 2 x n, may be null); rms[k][0] = the root mean
 * square of row k (rms: 2 x 1, may be null); *total = sqrt(rmsX^2 + rmsY^2)
 * (may be null). Returns 1, or 0 with "Args" (null or mismatched inputs or
 * outputs of the wrong shape, zero points); outputs are then untouched. */
int kfga_ComputePolyErrors(const KgdaBaseData* from, const KgdaBaseData* to,
                           const Kfga_Polynomial* poly, KgdaBaseData* residuals, KgdaBaseData* rms,
                           double* total, Kerr_Report** err);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
