/* kint: the toolkit context.
 *
 * Projection, datum and zone lookups take the context of the toolkit they run
 * in. This toolkit has one context per process: a static object that lives as
 * long as the process and is never freed by callers.
 */
#ifndef KINT_H
#define KINT_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

typedef struct Kint_Init Kint_Init;

/* The process-wide context; never null. */
Kint_Init* kint_GetInit(void);

/* 1 when `init` is null (which stands for the process-wide context) or is the
 * process-wide context itself; 0 for any other pointer. Functions that take a
 * context check it with this and report anything else. */
int kint_InitIsValid(const Kint_Init* init);

/* Name and version of the toolkit the context belongs to; for diagnostics.
 * A context that is not valid gives "" and 0. */
const char* kint_InitName(const Kint_Init* init);
int32_t kint_InitVersion(const Kint_Init* init);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
