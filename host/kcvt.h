/* kcvt: unit conversion by unit name.
 *
 * Linear units convert through meters, angular units through radians, with
 * the EPSG conversion factors. Names are the host's unit vocabulary
 * ("meters", "us_survey_feet", "dd", ...) and compare without regard to case.
 *
 * "other" is the host's name for units it does not describe: a known name of
 * its own kind that converts only to itself (factor 1), so that "other" to
 * "other" succeeds while "other" to "meters" is an incompatibility.
 */
#ifndef KCVT_H
#define KCVT_H

#include <stdint.h>

#include "kerr.h"

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

/* Unit kinds, as kcvt_UnitsKind answers. */
enum { KCVT_UNKNOWN = 0, KCVT_LINEAR = 1, KCVT_ANGULAR = 2, KCVT_OTHER = 3 };

/* The kind of a unit name; 0 for a null or unknown name. */
int kcvt_UnitsKind(const char* name);

/* The factor to the kind's base unit (meters, radians; 1 for "other") through
 * *toBase. Returns the kind (0 for an unknown name, *toBase untouched). */
int kcvt_UnitsFactor(const char* name, double* toBase);

/* The EPSG unit-of-measure code of a name, or 0 when it has none (unknown
 * names, "other", and units EPSG does not list such as inches). */
int32_t kcvt_UnitsEpsgCode(const char* name);

/* Converts `count` values from one unit to another: results[i] = values[i]
 * in toUnits. values and results may be the same array.
 * Returns 1, or 0 with a report: "Args" (null names, a negative count, null
 * arrays with a positive count), "Unknown units %s", "Incompatible units %s
 * and %s". On failure the results are untouched. Non-finite values pass
 * through as the arithmetic gives them. */
int kcvt_UnitsConvertByName(const double* values, const char* fromUnits, double* results,
                            const char* toUnits, int32_t count, Kerr_Report** err);

/* 1 when both names are known and of the same kind; 0 otherwise. An unknown
 * (or null) name is reported ("Unknown units %s"); two known names of
 * different kinds are not an error and give 0 without a report. */
int kcvt_UnitsTypeCompatibilityCheckByName(const char* a, const char* b, Kerr_Report** err);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
