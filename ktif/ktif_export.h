/* Visibility of the library's exported functions. The library is built with
 * hidden visibility; only what carries KTIF_API is exported. */
#ifndef KTIF_EXPORT_H
#define KTIF_EXPORT_H

#if defined(KTIF_BUILDING)
#define KTIF_API __attribute__((visibility("default")))
#else
#define KTIF_API
#endif

#ifdef __cplusplus
#define KTIF_EXTERN_C extern "C"
#else
#define KTIF_EXTERN_C
#endif

#endif
