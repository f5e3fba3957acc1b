/* The EPSG helper: the library's uses of the host's EPSG translator.
 *
 * All functions share one translator, created on first use and destroyed
 * when the library is unloaded (or the process exits); a call after that
 * destruction throws std::logic_error("Dead Reference Detected").
 */
#ifndef EPSG_HELPER_H
#define EPSG_HELPER_H

#include <stdint.h>

#include "kprj.h"

/* The narrow map projection of an EPSG code and the name of its units (a new
 * heap string). Both outputs are set to null first and stay null on failure.
 * Reports by exception only: KerrExceptionA (source "EPSGHelper") for the
 * code 0 and for a failed record conversion, and whatever the translator
 * throws for a code it cannot translate. */
void GetProjAndUnitsFromEPSG(int32_t code, _kprj_MapProjectionEx** projection, char** units);

/* The projection record of the EPSG conversion `code` (ProjectionGeoKey's
 * codes) on the ellipsoid of axes semiMajor and semiMinor (meters), without
 * spheroid; owned by the caller. Reports by exception only: whatever the
 * translator throws for a code or axes it cannot translate. */
Kprj_ProParameters* GetProParametersFromEPSGConversion(int32_t code, double semiMajor,
                                                       double semiMinor);

/* The projection record of the conversion of a projected system given as a
 * PROJ definition (a PROJ string with +type=crs, or WKT), on the ellipsoid of
 * axes semiMajor and semiMinor (meters), without spheroid; owned by the
 * caller. Reports by exception only: whatever the translator throws, naming
 * the method the host cannot hold. */
Kprj_ProParameters* GetProParametersFromDefinition(const char* definition, double semiMajor,
                                                   double semiMinor);
/* The registry's name of the EPSG coordinate system `code` and, in `wkt`,
 * its WKT2 text (new heap strings); null (both) for a code the registry does
 * not know. Never throws. */
char* GetEPSGName(int32_t code, char** wkt);
/* The WKT2 text (a new heap string) of the system a projection record
 * describes in `units`; null when PROJ cannot state it. Never throws. */
char* GetWKTFromProParameters(const Kprj_ProParameters* pro, const char* units);
/* Whether the registry marks the EPSG coordinate system `code` deprecated;
 * false when it does not know the code. Never throws. */
bool EPSGCodeDeprecated(int32_t code);
/* The factor to radians (`angular`) or meters of an EPSG unit code from
 * PROJ's unit database; false for a code it does not know as such a unit.
 * Never throws. */
bool GetUnitFactorFromEPSG(int32_t code, bool angular, double* factor);
/* The host name of the units of an EPSG geographic or projected system, as a
 * new heap string (kmsc_HeapFree); null for a code the registry does not
 * know or whose unit has no host name. Never throws. */
char* GetUnitsNameFromEPSG(int32_t code);

/* A new spheroid record (kprj_SpheroidFree) with the ellipsoid and datum of
 * an EPSG geodetic datum code, or of the datum of an EPSG geographic system
 * code (`geographicSystem`). Reports by exception only: whatever the
 * translator throws for a code the registry does not know. */
Kprj_Spheroid* GetSpheroidFromEPSGDatum(int32_t code, bool geographicSystem);

/* The EPSG projected-system code of a narrow map projection in `units` (with
 * `projectedOnly` clear, a geographic system's code too); 0 when there is
 * none. Never throws: a failure is logged once and gives 0. */
int32_t GetEPSGCode(const _kprj_MapProjectionEx* projection, const char* units,
                    bool projectedOnly = true);

#endif
