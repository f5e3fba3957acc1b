/* kmod: rubber sheeting, a transform from raster to map coordinates that
 * passes exactly through a set of control points.
 *
 * Order 1 (low order) is piecewise linear over a Delaunay triangulation of
 * the raster points: inside a triangle a point is mapped by the affine that
 * takes the triangle's corners to their map points. Outside the convex hull
 * the least-squares affine of all control points is used, so the map is
 * continuous inside the hull and well behaved far away (it is not continuous
 * across the hull boundary).
 *
 * Order 5 (high order) is a thin-plate spline with an affine part, in each
 * map coordinate: f(p) = a0 + a1*x + a2*y + sum w_i * r_i^2 * log(r_i), r_i
 * the distance to control point i. It is smooth everywhere and tends to the
 * affine part far from the points. Raster points are normalised (centred and
 * scaled) before solving for conditioning.
 *
 * Any other order is refused.
 *
 * The inverse (map to raster) undoes the forward map. Order 1 uses the same
 * triangles in map space: exact where no triangle is folded over; where
 * folded triangles overlap, those that keep the map's overall orientation
 * win; outside the hull, the inverse of the affine. Order 5 starts from a
 * spline fitted the other way round and refines it by Newton's method on the
 * forward spline, so forward then inverse returns a point to about 1e-12 of
 * the map extent.
 *
 * Order 5 solves a dense system, so it is limited to 1500 control points.
 *
 * The model begins with a Kxfr_ModelHeader (kxfr.h), which is how a
 * transform node drives it without linking this library.
 */
#ifndef KMOD_H
#define KMOD_H

#include <stdint.h>

#include "kerr.h"
#include "kgda.h"

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

typedef struct Kmod_RubberSheet Kmod_RubberSheet;

/* Solves the model mapping rasterPoints[:, i] to mapPoints[:, i] (both 2 x n
 * matrices, x then y). Returns the model or null with a report: "Args" (null
 * or mismatched inputs, non-finite values, order not 1 or 5), "Too few
 * control points" (fewer than 3), "Duplicate control points" (two raster or
 * two map points equal), "Collinear control points" (all raster or all map
 * points on one line), "Singular system", or for order 5 more than 1500
 * points. */
Kmod_RubberSheet* kmod_RubberSheetingSolve(const KgdaBaseData* mapPoints,
                                           const KgdaBaseData* rasterPoints, int32_t order,
                                           Kerr_Report** err);

/* Frees the model and sets *model to null; accepts a null address and a null
 * model. */
void kmod_RubberSheetingDelete(Kmod_RubberSheet** model, Kerr_Report** err);

/* A deep copy, or null when memory is exhausted or model is null. */
Kmod_RubberSheet* kmod_RubberSheetingCopy(const Kmod_RubberSheet* model);

/* Order (1 or 5) and number of control points; 0 for null. */
int32_t kmod_RubberSheetingOrder(const Kmod_RubberSheet* model);
int32_t kmod_RubberSheetingPointCount(const Kmod_RubberSheet* model);

/* Raster to map (forward) and map to raster (inverse), `count` points in
 * place. Returns 1, or 0 with "Args" (null model or arrays, negative count);
 * non-finite points come out as NaN. */
int kmod_RubberSheetingForward(const Kmod_RubberSheet* model, double* x, double* y, int32_t count,
                               Kerr_Report** err);
int kmod_RubberSheetingInverse(const Kmod_RubberSheet* model, double* x, double* y, int32_t count,
                               Kerr_Report** err);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
