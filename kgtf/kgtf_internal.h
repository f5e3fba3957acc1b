/* Internal functions of the GeoTIFF side, shared between its source files
 * and reachable from the unit tests. */
#ifndef KGTF_INTERNAL_H
#define KGTF_INTERNAL_H

#include <geotiffio.h>

#include <memory>
#include <vector>

#include "kgtf.h"

/* Owner of a libgeotiff key handle. */
struct GtifFree {
  void operator()(GTIF* gtif) const { GTIFFree(gtif); }
};
using GtifPtr = std::unique_ptr<GTIF, GtifFree>;

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
/* The lines of key entries a replay must leave out, one flag per listing
 * line. libgeotiff's importer and key writer trust the listing, and the
 * listing of a hostile file can make them free a short value as text, overrun
 * their buffers of doubles or lose memory. Each key is replayed once, from its
 * last entry (the one a reader of the file sees), and only when that entry
 * parses whole: text for the citation keys alone (the only keys written as
 * text later, so no key changes between text and number), one short, or at
 * most 100 doubles, 500 over all keys. */
std::vector<bool> MetaDataUnsafeKeyLines(const KstrStringList* list);

/* Imports a listing's key entries (not its tags, and not the entries
 * MetaDataUnsafeKeyLines flags) into gtif. */
void MetaDataKeysReplay(GTIF* gtif, KstrStringList* list);

/* The same two callbacks in the shapes libgeotiff calls them
 * (GTIFPrintMethod with a KstrStringList** and GTIFReadMethod with a
 * MetaDataCursor*). */
int GeoTIFFMetaDataPrintMethod(char* text, void* list);
int MetaDataLineReadMethod(char* line, void* cursor);

/* Size of the line buffer GTIFImport hands to its reading callback. */
constexpr int kMetaDataLineSize = 1024;

#endif
