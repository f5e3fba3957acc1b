/* World files: the georeferencing of an image without GeoTIFF
 * tags, taken from the world file beside it. */
#ifndef KTIF_WORLD_FILE_H
#define KTIF_WORLD_FILE_H

#include "ktif.h"

/* Stores the georeferencing of the world file beside handle->path (if any)
 * into handle->geoParams. No world file, or one that cannot be read, is not
 * a failure. Returns 1, or 0 with a report when the georeferencing could not
 * be converted or stored. */
int readWorldFile(Ktif_File* handle, Kerr_Report** err);

/* Writes the world file of the handle's georeferencing beside handle->path;
 * without a transform nothing is written. Returns 1, or 0 with a report. */
int writeWorldFile(Ktif_File* handle, Kerr_Report** err);

#endif
