/* Reading the geocoding of a GeoTIFF image: GeoKeys to a host projection
 * record, projection name and units name, with the zone systems that codes
 * name. Internal to the library.
 *
 * Records returned are new and owned by the caller (kprj_ProParametersFree).
 * The EPSG road (EPSGProParametersGet and every reader that may reach it)
 * reports by exception, which passes through these readers unchanged; the
 * exported functions contain it (geocodingContain). */
#ifndef KGTF_GEOCODING_H
#define KGTF_GEOCODING_H

#include <cstdint>
#include <functional>

#include <geotiffio.h>

#include "kerr_frame.h"
#include "kprj.h"

/* ---- Readers --------------------------------------------------------- */

/* The three results of an image's GeoKeys; each output is set to null on
 * entry and owned by the caller. Returns 0, or -1 with a report. */
int GeoTIFFGeocodingGet(GTIF* gtif, char** projectionName, char** unitsName,
                        _kprj_MapProjectionEx** projection, Kerr_Report** err);
/* A record of type 0 with the given number, zone, name from the projection
 * name table and 15 zero parameters, without spheroid; null on failure. */
Kprj_ProParameters* kgtf_ProParametersCreate(int32_t number, int32_t zone);
Kprj_ProParameters* kgtf_PCSRead(GTIF* gtif, Kerr_Report** err);
int kgtf_GCSRead(GTIF* gtif, Kprj_ProParameters* pro, Kerr_Report** err);
int kgtf_GCSReadUserDefined(GTIF* gtif, Kprj_ProParameters* pro, Kerr_Report** err);
Kprj_ProParameters* kgtf_ProjectionRead(GTIF* gtif, Kerr_Report** err);
Kprj_ProParameters* kgtf_CoordTransRead(GTIF* gtif, Kerr_Report** err);

/* Parameter getters: nonzero when a value was stored in `destination`. */
typedef int (*KgtfParamGetter)(GTIF* gtif, int key, int unitCode, double* destination);
int getRawParam(GTIF* gtif, int key, int unitCode, double* destination);
int getAngularParam(GTIF* gtif, int key, int unitCode, double* destination);
int getLinearParam(GTIF* gtif, int key, int unitCode, double* destination);
/* One parameter with fallback keys, the list ended by 0. */
int getParamWBU(int key, GTIF* gtif, KgtfParamGetter getter, int unitCode, double* destination,
                ...);
/* The "err_suppress" flag: missing parameter keys are not reported. */
bool errorSuppressionGet();

/* ---- Zone systems ---------------------------------------------------- */

Kprj_ProParameters* kgtf_StatePlaneParametersCreate(int32_t zone, int32_t nadCode,
                                                    Kerr_Report** err);
Kprj_ProParameters* kgtf_BogotaParametersCreate(int32_t projectionCode, Kerr_Report** err);
Kprj_ProParameters* kgtf_RSOParametersCreate(int32_t pcsCode, Kerr_Report** err);
Kprj_ProParameters* kgtf_BNGParametersCreate(Kerr_Report** err);
Kprj_ProParameters* kgtf_MGAParametersCreate(int32_t pcsCode, Kerr_Report** err);
/* Through the EPSG translator; throws what it throws. Null when the code
 * gives no parameter record. */
Kprj_ProParameters* EPSGProParametersGet(int32_t code);
/* The EPSG conversion `code` (a ProjectionGeoKey code) on the ellipsoid of
 * the image's geographic system, WGS 84's when the keys give none; a record
 * without spheroid. Throws what the translator throws. */
Kprj_ProParameters* EPSGConversionParametersGet(GTIF* gtif, int32_t code);
Kprj_ProParameters* kgtf_ProjectionReadUTM(GTIF* gtif, int32_t code, Kerr_Report** err);
Kprj_ProParameters* kgtf_ProjectionReadGaussKruger(GTIF* gtif, int32_t code, Kerr_Report** err);
Kprj_ProParameters* kgtf_ProjectionReadRSO(GTIF* gtif, int32_t code, Kerr_Report** err);
Kprj_ProParameters* kgtf_ProjectionReadMapGridAustralia(GTIF* gtif, int32_t code,
                                                        Kerr_Report** err);
Kprj_ProParameters* kgtf_ProjectionReadStatePlane(GTIF* gtif, int32_t code, Kerr_Report** err);
/* The zone and NAD code of a State Plane projection code (10101 to 15999);
 * false for a code that names no zone of the State Plane table. */
bool statePlaneZoneOfProjection(int32_t code, int32_t* zone, int32_t* nadCode);

/* ---- Containing the EPSG road ---------------------------------------- */

/* Runs `work`; an exception it throws becomes a report in the frame's slot
 * (severity 2, the exception's text). Returns false after an exception. */
bool geocodingContain(KerrFrame& frame, const std::function<void()>& work);

#endif
