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
#include <memory>
#include <string>

#include <geotiffio.h>

#include "kerr_frame.h"
#include "key_source.h"
#include "kprj.h"

/* ---- Readers --------------------------------------------------------- */

/* Records owned while an exception from the EPSG road may pass through. */
struct ProFree {
  void operator()(Kprj_ProParameters* pro) const { kprj_ProParametersFree(&pro, nullptr); }
};
using ProPtr = std::unique_ptr<Kprj_ProParameters, ProFree>;

/* The three results of an image's GeoKeys; each output is set to null on
 * entry and owned by the caller. Returns 0, or -1 with a report. */
int GeoTIFFGeocodingGet(GTIF* gtif, char** projectionName, char** unitsName,
                        _kprj_MapProjectionEx** projection, Kerr_Report** err);
/* The steps both geocoding entries share. The record the model type names
 * (null for none, and for an unrecognized model type after a warning): false
 * after "kgtf_PCSRead failed" or "kgtf_GCSRead failed" in the frame. */
bool GeocodingRecordRead(KgtfKeySource keys, KerrFrame& frame, Kprj_ProParameters** record);
/* The projection name of a record (the unknown projection's without one)
 * and its map projection (null without a record); both new. False after a
 * report in the frame, with both outputs null. */
bool GeocodingProjectionMake(const Kprj_ProParameters* pro, KerrFrame& frame, char** name,
                             _kprj_MapProjectionEx** projection);
/* A record of type 0 with the given number, zone, name from the projection
 * name table and 15 zero parameters, without spheroid; null on failure. */
Kprj_ProParameters* kgtf_ProParametersCreate(int32_t number, int32_t zone);
Kprj_ProParameters* kgtf_PCSRead(KgtfKeySource keys, Kerr_Report** err);
int kgtf_GCSRead(KgtfKeySource keys, Kprj_ProParameters* pro, Kerr_Report** err);
int kgtf_GCSReadUserDefined(KgtfKeySource keys, Kprj_ProParameters* pro, Kerr_Report** err);
Kprj_ProParameters* kgtf_ProjectionRead(KgtfKeySource keys, Kerr_Report** err);
Kprj_ProParameters* kgtf_CoordTransRead(KgtfKeySource keys, Kerr_Report** err);

/* Parameter getters: nonzero when a value was stored in `destination`. */
typedef int (*KgtfParamGetter)(KgtfKeySource keys, int key, int unitCode, double* destination);
int getRawParam(KgtfKeySource keys, int key, int unitCode, double* destination);
int getAngularParam(KgtfKeySource keys, int key, int unitCode, double* destination);
int getLinearParam(KgtfKeySource keys, int key, int unitCode, double* destination);
/* One parameter with fallback keys, the list ended by 0. */
int getParamWBU(int key, KgtfKeySource keys, KgtfParamGetter getter, int unitCode,
                double* destination, ...);
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
Kprj_ProParameters* EPSGConversionParametersGet(KgtfKeySource keys, int32_t code);
Kprj_ProParameters* kgtf_ProjectionReadUTM(KgtfKeySource keys, int32_t code, Kerr_Report** err);
Kprj_ProParameters* kgtf_ProjectionReadGaussKruger(KgtfKeySource keys, int32_t code,
                                                   Kerr_Report** err);
Kprj_ProParameters* kgtf_ProjectionReadRSO(KgtfKeySource keys, int32_t code, Kerr_Report** err);
Kprj_ProParameters* kgtf_ProjectionReadMapGridAustralia(KgtfKeySource keys, int32_t code,
                                                        Kerr_Report** err);
Kprj_ProParameters* kgtf_ProjectionReadStatePlane(KgtfKeySource keys, int32_t code,
                                                  Kerr_Report** err);
/* The zone and NAD code of a State Plane projection code (10101 to 15999);
 * false for a code that names no zone of the State Plane table. */
bool statePlaneZoneOfProjection(int32_t code, int32_t* zone, int32_t* nadCode);

/* ---- Writers --------------------------------------------------------- */

/* The GeoKeys of a host map projection set in `gtif` (written later by the
 * caller with GTIFWriteKeys): model type, a standard coordinate-system code
 * where a table or the EPSG translation knows one, else a user-defined system
 * key by key, the units key and citations. A projection that GeoTIFF cannot
 * hold gives a warning and model type 0. Returns 1, or 0 with a report; keys
 * set before a failure stay in the handle. */
int GeoTIFFGeocodingSet(GTIF* gtif, const char* projectionName, const char* unitsName,
                        const _kprj_MapProjectionEx* projection, Kerr_Report** err);

/* The writers of one kind of coordinate system each. Return 1, or 0 with a
 * report (GCSWrite, PCSWriteUTM, PCSWriteStatePlane and PCSWriteUserDefined
 * never fail once their arguments are there). */
int GCSWrite(GTIF* gtif, const Kprj_ProParameters* pro, Kerr_Report** err);
int PCSWriteUTM(GTIF* gtif, const Kprj_ProParameters* pro, Kerr_Report** err);
int PCSWriteStatePlane(GTIF* gtif, const Kprj_ProParameters* pro, const char* unitsName,
                       Kerr_Report** err);
int PCSWriteRSO(GTIF* gtif, const char* unitsName, const Kprj_ProParameters* pro,
                Kerr_Report** err);
/* With a units name outside the linear units table, ProjLinearUnitsGeoKey is
 * 32767 (user-defined) and ProjLinearUnitSizeGeoKey gives meters per unit. */
int PCSWriteEPSG(GTIF* gtif, const _kprj_MapProjectionEx* projection, const char* unitsName,
                 Kerr_Report** err);
int PCSWriteUserDefined(GTIF* gtif, const Kprj_ProParameters* pro, Kerr_Report** err);
/* UTM, State Plane (without units) or user-defined by projection number;
 * reports are dropped. */
void PCSWriteByNumber(GTIF* gtif, const Kprj_ProParameters* pro);

/* The spheroid's name and the datum's (null when absent or "Undefined");
 * both null without a spheroid. Borrowed from `pro`. */
void SpheroidAndDatumNamesGet(const Kprj_ProParameters* pro, const char** spheroidName,
                              const char** datumName);

/* One double key from a value in radians / meters, converted into every
 * angular / linear table row carrying `unitCode` (the last row's value
 * stands). 1 when a row matched, else 0 (nothing set). */
int setAngularParam(GTIF* gtif, int key, int unitCode, double value);
int setLinearParam(GTIF* gtif, int key, int unitCode, double value);

/* The units of the GeoKeys written for a projection: "dd" for geographic,
 * `fallback` for the unknown projection, "us_survey_feet" for State Plane not
 * on NAD83, else "meters". A constant or `fallback` itself. */
const char* GeoTIFFUnitsNameGet(const Kprj_ProParameters* pro, const char* projectionName,
                                const char* fallback);

/* Key setters of the writers: one SHORT value; a citation of the given lines,
 * behind our three identification lines unless "write_citation" is false.
 * Nonzero on success. */
int shortKeySet(GTIF* gtif, geokey_t key, int value);
int citationKeySet(GTIF* gtif, geokey_t key, const std::string& lines);

/* ---- Containing the EPSG road ---------------------------------------- */

/* Runs `work`; an exception it throws becomes a report in the frame's slot
 * (severity 2, the exception's text). Returns false after an exception. */
bool geocodingContain(KerrFrame& frame, const std::function<void()>& work);

#endif
