/* Geodetic code tables: the constant tables that translate GeoTIFF / EPSG
 * codes into the host's names (datums, spheroids, units, projection names,
 * coordinate systems) and the lookups over them.
 *
 * Every table is searched linearly in its stored order and the first matching
 * row wins; names compare without regard to case. A code that is in no table
 * is a code this library does not know. Names are constant strings owned by
 * the tables; two tables (spheroids, vertical systems) hold rows with an empty
 * or absent name.
 */
#ifndef KGTF_TABLES_H
#define KGTF_TABLES_H

#include <geotiff.h>
#include <stddef.h>
#include <stdint.h>

#include "kgtf.h" /* the four exported lookups */
#include "kprj.h"

/* A code and its name (datums, spheroids, units). */
/* GeoKey values that the readers, the writers and the tables share. */
constexpr int32_t kUserDefined = 32767;   /* the file defines the system itself */
constexpr int32_t kGreenwich = 8901;      /* PrimeMeridianGeoKey */
constexpr int32_t kMeters = 9001;         /* the default linear unit */
constexpr int32_t kDecimalDegrees = 9102; /* the default angular unit */

struct KgtfCodeName {
  int32_t code;
  const char* name;
};

/* A geographic coordinate system (GeographicTypeGeoKey). */
struct KgtfGcsRow {
  int32_t code;
  const char* spheroid;
  const char* datum; /* null when the system names no datum */
};

/* A UTM projected coordinate system (ProjectedCSTypeGeoKey). */
struct KgtfUtmPcsRow {
  int32_t code;
  int32_t zone;       /* 1 to 60 */
  int32_t hemisphere; /* +1 north, -1 south */
  const char* spheroid;
  const char* datum;
};

/* A State Plane projected coordinate system (ProjectedCSTypeGeoKey). */
struct KgtfStatePlanePcsRow {
  int32_t code;
  int32_t nadCode; /* 1 NAD27, 2 NAD83, 3 NAD83 HARN */
  int32_t zone;    /* stored negative (-101 for zone 101); handed on as stored */
};

/* A vertical coordinate system (VerticalCSTypeGeoKey). */
struct KgtfVerticalCsRow {
  int32_t code;
  const char* spheroid;
  const char* verticalDatum; /* null when the system names none */
};

/* ---- The tables --------------------------------------------------------- */

extern const KgtfCodeName datumTable[];
extern const size_t datumTableSize; /* 81 */
extern const KgtfCodeName spheroidTable[];
extern const size_t spheroidTableSize; /* 36 */
extern const KgtfCodeName angularUnitsTable[];
extern const size_t angularUnitsTableSize; /* 5 */
extern const KgtfCodeName linearUnitsTable[];
extern const size_t linearUnitsTableSize; /* 20 */
extern const char* const projectionNameTable[];
extern const size_t projectionNameTableSize; /* 37, indexed by host projection number */
extern const KgtfGcsRow gcsTable[];
extern const size_t gcsTableSize; /* 68 */
extern const KgtfUtmPcsRow utmPcsTable[];
extern const size_t utmPcsTableSize; /* 374 */
extern const KgtfStatePlanePcsRow statePlanePcsTable[];
extern const size_t statePlanePcsTableSize; /* 507 */
extern const KgtfVerticalCsRow verticalCsTable[];
extern const size_t verticalCsTableSize; /* 12 */

/* ---- Lookups ------------------------------------------------------------ */

/* The name of the first spheroid row with that code; "" when none. */
const char* spheroidNameByCode(int32_t code);

/* The code of the first linear unit row whose name equals `name` (ignoring
 * case); -1 for null or an unknown name. */
int32_t unitsCodeByName(const char* name);

/* The name of the first angular / linear unit row with that code; null when
 * no row has it. */
const char* angularUnitsNameByCode(int32_t code);
const char* linearUnitsNameByCode(int32_t code);

/* The entry of projectionNameTable for a host projection number; null
 * outside 0..36. */
const char* projectionNameByNumber(int32_t number);

/* The linear units assumed for a projection whose file names none: "dd" for
 * geographic, "us_survey_feet" for State Plane not on NAD83, the RSO grid
 * units for an external "RSO..." projection, else "meters". `gtif` may be
 * null. A constant name; the caller copies it. */
const char* DefaultUnitsNameGet(const Kprj_ProParameters* pro, GTIF* gtif);

/* The units of a rectified skew orthomorphic grid from ProjectedCSTypeGeoKey:
 * "sears_chain", "sears_foot" or (also for a null handle) "meters". */
const char* RSOUnitsNameGet(GTIF* gtif);

/* Row searches by code; null when no row has the code. */
const KgtfGcsRow* gcsRowByCode(int32_t code);
const KgtfUtmPcsRow* utmPcsRowByCode(int32_t code);
const KgtfStatePlanePcsRow* statePlanePcsRowByCode(int32_t code);
const KgtfVerticalCsRow* verticalCsRowByCode(int32_t code);

/* The first State Plane row with that NAD code and (negative, as stored)
 * zone; null when none. */
const KgtfStatePlanePcsRow* statePlanePcsRowByNadZone(int32_t nadCode, int32_t zone);

#endif
