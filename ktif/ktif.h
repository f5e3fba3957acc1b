/* ktif: TIFF image access for the host toolkit. */
#ifndef KTIF_H
#define KTIF_H

#include "kerr.h"
#include "ktif_export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The library's version, "major.minor.patch". */
KTIF_API const char* ktif_Version(void);

#ifdef __cplusplus
}
#endif

#endif
