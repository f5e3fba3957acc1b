/* kxfr: coordinate transforms as chains of nodes.
 *
 * A Kxfr_XForm is an opaque chain of nodes applied first to last. Every
 * creator returns a new transform that the caller frees with kxfr_XFormFree;
 * the transforms passed in are never modified or freed, and a transform
 * never shares a node with another one.
 *
 * A node is a plain record of callbacks around a data block, so that new
 * kinds (polynomial pairs, rubber sheets, a host's own kinds) plug in without
 * touching the chain code:
 * - forward maps points in place; inverse (may be null) undoes it;
 * - copy and free duplicate and release the data (required when data is
 *   not null; a null data block is shared as it is);
 * - affine (optional) gives the node's six affine coefficients when the node
 *   is affine, which is what lets chains collapse into one affine;
 * - invert (optional) gives the data of the inverse node, for kinds whose
 *   inverse is a node of the same kind (an affine's inverse is an affine).
 *   Without it a node is inverted by exchanging forward and inverse; the
 *   inverted node then has no affine form of its own.
 *
 * Affine coefficients are six doubles (a, b, c, d, e, f):
 *   x' = a*x + b*y + c,  y' = d*x + e*y + f.
 */
#ifndef KXFR_H
#define KXFR_H

#include <stdint.h>

#include "kerr.h"

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

typedef struct Kxfr_XForm Kxfr_XForm;

/* Node kinds. Hosts adding their own kinds use KXFR_NODE_USER and above. */
enum {
  KXFR_NODE_AFFINE = 1,
  KXFR_NODE_UNITS = 2,
  KXFR_NODE_POLY_PAIR = 3,
  KXFR_NODE_RUBBER_SHEET = 4,
  KXFR_NODE_USER = 1000
};

/* Maps `count` points in place; returns 1, or 0 with a report. */
typedef int (*Kxfr_PointsFunc)(const void* data, double* x, double* y, int32_t count,
                               Kerr_Report** err);
/* A copy of the data, or null when memory is exhausted. */
typedef void* (*Kxfr_CopyFunc)(const void* data);
typedef void (*Kxfr_FreeFunc)(void* data);
/* 1 and the coefficients when the node is affine, else 0. */
typedef int (*Kxfr_AffineFunc)(const void* data, double coefficients[6]);
/* The data of the inverse node, or null with a report. */
typedef void* (*Kxfr_InvertFunc)(const void* data, Kerr_Report** err);

typedef struct Kxfr_Node {
  int32_t kind;
  Kxfr_PointsFunc forward; /* required */
  Kxfr_PointsFunc inverse; /* null: the node has no inverse */
  Kxfr_CopyFunc copy;
  Kxfr_FreeFunc free;
  Kxfr_AffineFunc affine; /* optional */
  Kxfr_InvertFunc invert; /* optional */
  void* data;
} Kxfr_Node;

/* An affine transform. Non-finite coefficients: "Non-finite coefficient". */
Kxfr_XForm* kxfr_XFormCreateUsingCoeffs(double a, double b, double c, double d, double e, double f,
                                        Kerr_Report** err);

/* A transform that applies `xform` (null: nothing) and then the translation
 * (dx, dy). Non-finite offsets: "Non-finite coefficient". */
Kxfr_XForm* kxfr_XFormTranslate(const Kxfr_XForm* xform, double dx, double dy, Kerr_Report** err);

/* A transform that applies b first, then a (deep copies of both chains). A
 * null operand stands for the identity, so composing with an optional
 * transform needs no special case; both null is "Args". `flags` is reserved
 * and must be 0. */
Kxfr_XForm* kxfr_XFormCompose(const Kxfr_XForm* a, const Kxfr_XForm* b, int32_t flags,
                              Kerr_Report** err);

/* A deep copy. A null transform is "Args". */
Kxfr_XForm* kxfr_XFormCopy(const Kxfr_XForm* xform, Kerr_Report** err);

/* The inverse: every node inverted, in reverse order. A singular affine or a
 * node without inverse gives "Transform is not invertible". `flags` is
 * reserved and must be 0. */
Kxfr_XForm* kxfr_XFormInvert(const Kxfr_XForm* xform, int32_t flags, Kerr_Report** err);

/* Frees the transform and sets *xform to null; accepts a null address and a
 * null transform. */
void kxfr_XFormFree(Kxfr_XForm** xform, Kerr_Report** err);

/* When the whole chain is affine: 1 and the six coefficients. Affine and
 * unit-scaling nodes collapse into one affine; with collapse 0 only a chain
 * of exactly one affine node counts. A chain that is not affine gives 0 and
 * no report (coefficients untouched). A null transform or null coefficients:
 * 0 with "Args". kxfr_XFormAffineExtractIfPresent collapses. */
int kxfr_XFormAffineExtractIfPresent(const Kxfr_XForm* xform, double coefficients[6],
                                     Kerr_Report** err);
int kxfr_XFormAffineExtractIfPresentX(const Kxfr_XForm* xform, double coefficients[6],
                                      int32_t collapse, Kerr_Report** err);

/* Maps `count` points in place through the chain. Returns 1, or 0 with a
 * report ("Args", "Out of memory", or the failure of a node); on failure the
 * points are left as they were. */
int kxfr_Transform(const Kxfr_XForm* xform, double* x, double* y, int32_t count, Kerr_Report** err);

/* A scaling from map coordinates in fromUnits to toUnits (kcvt names). A
 * null name or "other" on either side, or equal names, give the identity (an
 * affine 1,0,0,0,1,0), so callers can always compose the result. Unknown
 * names and units of different kinds are errors. `flags` is reserved (0). */
Kxfr_XForm* kxfr_XFormCreateFromUnits(int32_t flags, const char* fromUnits, const char* toUnits,
                                      Kerr_Report** err);

/* A transform that applies `before` (null: nothing) and then `node`. The
 * node's data is copied with node->copy; the caller keeps its own. "Args"
 * when the node lacks forward, or copy and free for non-null data. */
Kxfr_XForm* kxfr_XFormCreateWithNode(const Kxfr_XForm* before, const Kxfr_Node* node,
                                     Kerr_Report** err);

/* Number of nodes (0 for null). */
int kxfr_XFormNodeCount(const Kxfr_XForm* xform);
/* Kind of node `index` (0-based), or 0 when there is no such node. */
int32_t kxfr_XFormNodeKind(const Kxfr_XForm* xform, int32_t index);

/* 1 when the chain collapses to an affine within `tolerance` of the identity
 * (every coefficient), else 0 (also for null, non-affine, NaN tolerance). */
int kxfr_XFormIsIdentity(const Kxfr_XForm* xform, double tolerance);

/* Fitted transforms (kxfr_fitted.cpp). */

/* The record a fitted model (a rubber sheet, or a host's own kind) begins
 * with, so that a node can drive it without knowing its library. copy and
 * free duplicate and release the whole model. */
#define KXFR_MODEL_MAGIC 0x4B4D4F44u
typedef struct Kxfr_ModelHeader {
  uint32_t magic; /* KXFR_MODEL_MAGIC */
  Kxfr_PointsFunc forward;
  Kxfr_PointsFunc inverse; /* may be null */
  Kxfr_CopyFunc copy;
  Kxfr_FreeFunc free;
} Kxfr_ModelHeader;

struct Kfga_Polynomial;

/* A transform of one node: forward is the polynomial `forward`, inverse the
 * polynomial `inverse` (usually the fit of the same points the other way).
 * The transform keeps its own copies. Inverting the transform swaps the
 * pair. "Args" for null or unfitted polynomials, or polynomials that are not
 * 2-D to 2-D. */
Kxfr_XForm* kxfr_XFormCreateFromPolyPair(const struct Kfga_Polynomial* forward,
                                         const struct Kfga_Polynomial* inverse, Kerr_Report** err);

/* A transform that applies `xform` (null: nothing) and then a node made from
 * a fitted model. The title names the kind: "Rubber Sheeting" (any case)
 * expects `data` to be a model that begins with a Kxfr_ModelHeader, such as
 * a Kmod_RubberSheet. The transform keeps a copy made with the header's copy
 * callback; the caller still owns and frees `data`. Null data, a header
 * without the magic number or callbacks: "Args"; another title: "Unknown
 * transform title". The kind of the node is KXFR_NODE_RUBBER_SHEET. */
Kxfr_XForm* kxfr_XFormCreateFromTitleAndData(const Kxfr_XForm* xform, const char* title, void* data,
                                             Kerr_Report** err);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
