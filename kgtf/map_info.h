/* Map info and calibration: the host's older georeferencing records (a map
 * info for north-up images, a calibration for rotated ones) read straight
 * from an image's tags and GeoKeys. Internal to the library; the exported
 * calls are in kgtf.h.
 *
 * An image one pixel wide (or high) has no second pixel centre to measure
 * its calibration pixel size by, so that axis takes the transform's own
 * scale: the column step in x (M[0]) for the width, the row step in y (M[5])
 * for the height. These are the values the two-corner measure gives for any
 * north-up image. An image without pixels is measured like a one-pixel one.
 */
#ifndef KGTF_MAP_INFO_H
#define KGTF_MAP_INFO_H

#include <geotiffio.h>
#include <tiffio.h>

#include "kgtf.h"

/* A calibration from the 16 values of ModelTransformationTag of the current
 * image, with rasterType the GTRasterTypeGeoKey it refers to (1 shifts to
 * pixel centres by half a pixel). The map info holds the centres of the
 * upper-left and lower-right pixels and the signed pixel size measured
 * between them; its names are left as created. Returned also after a failure
 * (with what was filled, the report in the slot); null only when the record
 * itself cannot be made. The caller frees it with kgtf_CalibrationFree. */
Kgtf_Calibration* kgtf_CalibrationRead(TIFF* tif, int rasterType, const double* matrix,
                                       Kerr_Report** err);

/* The projection and units names of a map info: with `pro`, its name and the
 * units of the GeoKeys (GeoKeyUnitsNameForProjection); without, the names in
 * our citation (values end only at "\n"), the unknown projection and the
 * other units where it has none. The units are those of the coordinates in
 * the file: the citation's "GeoTIFF Units", else its "Units". Nothing without
 * a map info. Setter failures are not reported; a citation that cannot be
 * read is ("No memory"), and the names stay as they were. */
void MapInfoNamesSet(Kprj_MapInfo* mapInfo, const Kprj_ProParameters* pro, GTIF* gtif,
                     Kerr_Report** err);

/* The units name of the GeoKeys for a projection as a new heap string
 * (kmsc_HeapFree), null only when the heap is exhausted:
 * GeogAngularUnitsGeoKey for a geographic `pro`, ProjLinearUnitsGeoKey
 * otherwise, through the units tables; without a key or a row, "dd" for
 * geographic, "us_survey_feet" for State Plane not on NAD83, else "meters".
 * `gtif` may be null (the defaults). */
char* GeoKeyUnitsNameForProjection(const Kprj_ProParameters* pro, GTIF* gtif);

/* GTModelTypeGeoKey for a projection: ModelTypeGeographic (2) for a
 * geographic `pro` (internal, number 0) or, without `pro`, for the name
 * "Geographic (Lat/Lon)"; ModelTypeProjected (1) otherwise. */
int ModelTypeForProjection(const Kprj_ProParameters* pro, const char* projectionName);

#endif
