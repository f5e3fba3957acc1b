/* kwff: world files, the six-line text files that georeference an image
 * without GeoTIFF tags.
 *
 * The six lines are, in order: pixel width (A), row rotation (D), column
 * rotation (B), pixel height (E, negative for a north-up image), and the map
 * x (C) and y (F) of the centre of the upper-left pixel, so that
 *   x = A*column + B*row + C,  y = D*column + E*row + F
 * for pixel centres (column, row counted from 0). Text after the sixth line
 * is ignored.
 *
 * Names: an image "dir/name.ext" has its world file beside it as
 * "dir/name.tfw", "dir/name.tifw" or "dir/name.wld" (any case of the
 * extension). Every returned name is a heap string the caller frees with
 * kmsc_HeapFree.
 */
#ifndef KWFF_H
#define KWFF_H

#include <stdint.h>

#include "kerr.h"
#include "kprj.h"
#include "kxfr.h"

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

/* The name of an existing world file for the image at `path`, or null. */
char* kwff_FileNameFind(const char* path);

/* Reads the world file `name` of an image of width by height pixels. Returns
 * 1 and hands back either a map info (a north-up file without rotation:
 * upper-left and lower-right pixel centres and the pixel size, projection
 * and units unknown) or a transform (a rotated file); the other output is
 * left null. Both outputs must point to null on entry. Returns 0 with a
 * report for an unreadable file, fewer than six numeric lines ("Bad world
 * file line %d"), non-finite values or a singular transform. */
int kwff_Read(const char* name, int32_t width, int32_t height, Kprj_MapInfo** mapInfo,
              Kxfr_XForm** xform, Kerr_Report** err);

/* The name of the world file to write for the image at `path`: "<name>.tfw"
 * beside it, or null for a null or empty path. */
char* kwff_FileNameCreate(const char* path);

/* Writes the world file `name` from a map info (when not null) or else from
 * an affine transform of pixel centres. Returns 1, or 0 with a report ("Args",
 * "Transform is not affine", "Cannot write %s"). */
int kwff_Write(const char* name, const Kprj_MapInfo* mapInfo, const Kxfr_XForm* xform,
               Kerr_Report** err);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
