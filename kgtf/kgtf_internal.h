/* Internal functions of the GeoTIFF side, shared between its source files
 * and reachable from the unit tests. */
#ifndef KGTF_INTERNAL_H
#define KGTF_INTERNAL_H

#include "kgtf.h"

/* Replay position in a GeoKey listing. */
struct MetaDataCursor {
  int32_t index;
  KstrStringList* list;
};

/* Half-pixel conversions between pixel-centre and pixel-is-area space. Each
 * takes ownership of `xform` and returns a new transform, or null. */
Kxfr_XForm* GeoTIFFXFormToPixelIsArea(Kxfr_XForm* xform);
Kxfr_XForm* GeoTIFFXFormToPixelIsPoint(Kxfr_XForm* xform);

/* The GeoTIFF class of a projection: -1 not writable, 999 the rectified skew
 * orthomorphic family, else the host projection number. */
int32_t ProjectionCodeGet(const Kprj_ProParameters* pro, const char* name);

/* Collects the pieces GTIFPrint prints into one list entry per line. */
int GeoTIFFMetaDataGet(const char* text, KstrStringList** list);
/* Delivers the next listing line to GTIFImport. */
int MetaDataLineGet(char* line, MetaDataCursor* cursor);

/* The same two callbacks in the shapes libgeotiff calls them
 * (GTIFPrintMethod with a KstrStringList** and GTIFReadMethod with a
 * MetaDataCursor*). */
int GeoTIFFMetaDataPrintMethod(char* text, void* list);
int MetaDataLineReadMethod(char* line, void* cursor);

/* Size of the line buffer GTIFImport hands to its reading callback. */
constexpr int kMetaDataLineSize = 1024;

#endif
