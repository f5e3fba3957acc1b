/* The built-in node kinds of kxfr and the affine arithmetic they share
 * (internal). */
#ifndef KXFR_NODES_H
#define KXFR_NODES_H

#include "kxfr.h"

/* Node records whose data points at the caller's storage: prototypes, which a
 * chain stores through node.copy, never owned as they are. */
Kxfr_Node kxfrAffinePrototype(double coefficients[6]);
Kxfr_Node kxfrUnitsPrototype(double* factor);

/* out = the affine that applies `first`, then `second` (out may alias). */
void kxfrAffineThen(const double first[6], const double second[6], double out[6]);
/* The inverse affine; false when it is singular or not finite. */
bool kxfrAffineInverse(const double coefficients[6], double out[6]);

extern const double kKxfrIdentity[6];

#endif
