/* kprj: projection, datum, spheroid, elevation and map-info records.
 *
 * Records are plain structs on the host heap (kmsc): every string and array
 * in them is a heap block owned by the record, and the strings of records
 * made here are never null ("" when empty). Each record has its own free
 * function, which releases everything it owns.
 *
 * Names of spheroids, datums and projections are the toolkit's own ("WGS 84",
 * "Clarke 1866", "NAD27", "Transverse Mercator"). Lookups compare them without
 * regard to ASCII case, go through their tables in order, and the first match
 * wins; records receive the table's spelling. The spheroid axes and the EPSG
 * codes come from the EPSG registry.
 *
 * Map projections and elevation information come in a narrow (UTF-8) and a
 * wide (wchar_t) text form: the same struct, whose `textForm` member says
 * which member of each Kprj_Text is in use. The "Kprj_ProParameters" form of a
 * map projection keeps narrow strings in both text forms.
 *
 * Functions with a report slot follow the host rules (kerr_frame.h): a null
 * slot is allowed, the caller's slot is cleared on entry, bad arguments are
 * reported as "Args". Functions that take a toolkit context accept null for
 * the process-wide one (kint.h) and report any other pointer.
 */
#ifndef KPRJ_H
#define KPRJ_H

#include <stdint.h>
#include <wchar.h>

#include "kerr.h"
#include "kint.h"

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

/* ---- Records ---------------------------------------------------------- */

typedef struct Kprj_Datum {
  char* name;       /* "" when no datum has been applied */
  int32_t epsgCode; /* EPSG datum code; 0 when unknown or undefined */
} Kprj_Datum;

typedef struct Kprj_Spheroid {
  char* name;       /* "" for an unnamed (user-defined) spheroid */
  double semiMajor; /* meters */
  double semiMinor; /* meters */
  int32_t epsgCode; /* EPSG ellipsoid code; 0 when unknown */
  Kprj_Datum* datum;
} Kprj_Spheroid;

enum { KPRJ_PROJECTION_INTERNAL = 0, KPRJ_PROJECTION_EXTERNAL = 1 };
enum { KPRJ_PARAMETER_COUNT = 15 };
/* The projection number of external projections, which the host table does
 * not number. */
enum { KPRJ_NUMBER_EXTERNAL = -1 };

typedef struct Kprj_ProParameters {
  int32_t type;       /* KPRJ_PROJECTION_INTERNAL or KPRJ_PROJECTION_EXTERNAL */
  int32_t number;     /* host projection number (kprj_ProjectionNameByNumber) */
  char* externalName; /* "" for internal projections */
  char* name;
  int32_t zone;
  double* parameters; /* KPRJ_PARAMETER_COUNT entries; angles in radians, lengths in meters */
  Kprj_Spheroid* spheroid;
} Kprj_ProParameters;

enum { KPRJ_TEXT_NARROW = 0, KPRJ_TEXT_WIDE = 1 };

/* One text of a record in either text form; the record's textForm says which
 * member is set. */
typedef union Kprj_Text {
  char* narrow;
  wchar_t* wide;
} Kprj_Text;

/* The name of the one form this toolkit knows. */
#define KPRJ_FORM_PRO_PARAMETERS "Kprj_ProParameters"

/* A map projection: a name plus its representations ("forms"). A projection
 * made from a name alone holds no form until kprj_MapProjectionConvert makes
 * one. */
typedef struct _kprj_MapProjectionEx {
  int32_t textForm; /* KPRJ_TEXT_NARROW or KPRJ_TEXT_WIDE */
  Kprj_Text name;
  Kprj_ProParameters* proParameters; /* the "Kprj_ProParameters" form, or null */
} _kprj_MapProjectionEx;

/* The vertical reference of elevation values. */
typedef struct _kprj_ElevationInfo {
  int32_t textForm; /* KPRJ_TEXT_NARROW or KPRJ_TEXT_WIDE */
  Kprj_Text spheroidName;
  Kprj_Text datumName;
  Kprj_Text unitsName;
  Kprj_Text kind;    /* "height" or "depth" */
  int32_t datumCode; /* EPSG code of the (vertical or geodetic) datum; 0 for "Undefined" */
} _kprj_ElevationInfo;

typedef struct Kprj_Coordinate {
  double x;
  double y;
} Kprj_Coordinate;

/* Georeferencing of a north-up image by its corner pixel centres. */
typedef struct Kprj_MapInfo {
  char* proName;                    /* projection name */
  Kprj_Coordinate upperLeftCenter;  /* centre of the upper-left pixel */
  Kprj_Coordinate lowerRightCenter; /* centre of the lower-right pixel */
  Kprj_Coordinate pixelSize;
  char* units; /* units name of the coordinates */
} Kprj_MapInfo;

/* ---- Names and small helpers ----------------------------------------- */

/* The name of a projection that is not given: "Unknown". */
const char* kprj_ProjectionNameUnknown(void);
/* The name of units that are not given or not known: "other". */
const char* kprj_UnitsNameOther(void);

/* A heap copy of `text`; null for null or an exhausted heap. */
char* kprj_CharStrCreate(const char* text);
/* A heap array of `count` doubles set to `initial`; null when count is not
 * positive or the heap is exhausted. */
double* kprj_DblArrayCreate(int32_t count, double initial);

/* The host projection-name table: numbers 0 to 36, plus 55
 * ("Cylindrical Equal Area"; the numbering is sparse above 36). Null for any
 * other number. */
const char* kprj_ProjectionNameByNumber(int32_t number);

/* ---- Projection parameters ------------------------------------------- */

/* Type internal, number 0, name "", externalName "", zone 0, 15 zero
 * parameters, and a spheroid record (kprj_SpheroidCreate) with its empty
 * datum. */
Kprj_ProParameters* kprj_ProParametersCreate(Kerr_Report** err);
/* A record for a projection name: a name of the projection-name table gives an
 * internal record of that number, named with the table's spelling; a name
 * beginning with "RSO" (any case) gives an external record (number
 * KPRJ_NUMBER_EXTERNAL) whose name and externalName are the given name. Any
 * other name fails with "Unknown projection %s". */
Kprj_ProParameters* kprj_ProParametersCreateByName(const char* name, Kerr_Report** err);
/* A deep copy. A source without parameters gets 15 zero parameters; a source
 * without a spheroid gives a copy without one. */
Kprj_ProParameters* kprj_ProParametersCopy(const Kprj_ProParameters* pro, Kerr_Report** err);
/* Frees the record, its strings, parameters and spheroid; sets *pro to null. */
void kprj_ProParametersFree(Kprj_ProParameters** pro, Kerr_Report** err);

/* State Plane records (internal, number 2) keep their NAD code in parameter 0
 * (1 NAD27, 2 NAD83, 3 NAD83 HARN): the code truncated; 0 for a null record,
 * any other projection, or a parameter that is not a finite 32-bit value. */
int32_t kprj_NADCodeGet(const Kprj_ProParameters* pro);

/* ---- Spheroids and datums -------------------------------------------- */

/* A spheroid record with name "", zero axes and code, and an empty datum
 * (name "", code 0). */
Kprj_Spheroid* kprj_SpheroidCreate(Kerr_Report** err);
/* A deep copy (with its datum). */
Kprj_Spheroid* kprj_SpheroidCopy(const Kprj_Spheroid* spheroid, Kerr_Report** err);
/* Frees the record and its datum; sets *spheroid to null. */
void kprj_SpheroidFree(Kprj_Spheroid** spheroid, Kerr_Report** err);

/* Fills the name, the axes and the EPSG code of a known spheroid; the datum
 * is left as it is. 1 on success; 0 with "Unknown spheroid %s" (the record
 * unchanged). */
int kprj_SpheroidByName(Kint_Init* init, const char* name, Kprj_Spheroid* spheroid,
                        Kerr_Report** err);
/* Sets the axes (meters) and names the spheroid after the first known one
 * whose axes both match within 1e-4 m, or leaves it unnamed ("", code 0).
 * Rejects non-finite or non-positive axes and b > a ("Invalid spheroid axes
 * %g, %g"), leaving the record unchanged. 1 on success, 0 on failure. */
int kprj_SpheroidByAxes(double a, double b, Kprj_Spheroid* spheroid, Kerr_Report** err);

/* Applies a known datum to `datum` (name and EPSG code). A datum name may be
 * one of the datum table or a spheroid name, which stands for the unspecified
 * datum on that spheroid. The datum must sit on the named spheroid (spheroids
 * with the same EPSG ellipsoid are the same), unless the table allows it on
 * any spheroid ("Undefined"). 1 on success; 0 with "Unknown spheroid %s",
 * "Unknown datum %s" or "Datum %s is not defined on spheroid %s" (the record
 * unchanged). */
int kprj_DatumByName(Kint_Init* init, const char* spheroidName, const char* datumName,
                     Kprj_Datum* datum, Kerr_Report** err);
/* A heap copy of the name of the spheroid a datum sits on; null with
 * "Unknown datum %s", or "Datum %s is not tied to one spheroid". */
char* kprj_GetSpheroidNameByDatumName(Kint_Init* init, const char* datumName, Kerr_Report** err);

/* Table entries, read only. Index from 0; past the end gives null. */
typedef struct Kprj_SpheroidEntry {
  const char* name;
  int32_t epsgCode;
  double semiMajor;      /* meters */
  double semiMinor;      /* meters */
  int32_t datumEpsgCode; /* the unspecified datum on this spheroid; 0 when EPSG has none */
} Kprj_SpheroidEntry;

typedef struct Kprj_DatumEntry {
  const char* name;
  int32_t epsgCode;
  const char* spheroidName; /* null: allowed on any spheroid (and tied to none) */
} Kprj_DatumEntry;

const Kprj_SpheroidEntry* kprj_SpheroidEntryByName(const char* name);
const Kprj_SpheroidEntry* kprj_SpheroidEntryByIndex(int32_t index);
/* The datum table proper; spheroid names as datum names are not in it. */
const Kprj_DatumEntry* kprj_DatumEntryByName(const char* name);
const Kprj_DatumEntry* kprj_DatumEntryByIndex(int32_t index);
/* Vertical datums (for elevation information); spheroidName is null. */
const Kprj_DatumEntry* kprj_VerticalDatumEntryByName(const char* name);

/* ---- State Plane zones ------------------------------------------------ */

enum { KPRJ_NAD27 = 1, KPRJ_NAD83 = 2, KPRJ_NAD83_HARN = 4 }; /* nadMask bits */

typedef struct Kprj_SPEntry {
  int32_t zone;     /* negative, as the GeoTIFF tables store it (-101) */
  int32_t usgsZone; /* positive zone number (101) */
  const char* name; /* "Alabama East" */
  int32_t nadMask;  /* KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN: the NADs defining it */
} Kprj_SPEntry;

/* The entry of a zone given positive or negative, defined on a NAD code (1
 * NAD27, 2 NAD83, 3 NAD83 HARN; 0 for any). Null with "Unknown State Plane
 * zone %d", "Unknown NAD code %d" or "State Plane zone %d is not defined on
 * NAD code %d". */
const Kprj_SPEntry* kprj_SPEntryByZoneNumber(Kint_Init* init, int32_t zone, int32_t nadCode,
                                             Kerr_Report** err);
/* Entries in ascending zone order; past the end gives null. */
const Kprj_SPEntry* kprj_SPEntryByIndex(int32_t index);

/* ---- Map projections -------------------------------------------------- */

/* A new narrow map projection holding a deep copy of `pro` as its
 * "Kprj_ProParameters" form, named after pro->name. */
_kprj_MapProjectionEx* kprj_ProjectionInit(Kint_Init* init, const Kprj_ProParameters* pro,
                                           Kerr_Report** err);
/* A narrow map projection known only by its (non-empty) name. */
_kprj_MapProjectionEx* kprj_ProjectionCreateByName(const char* name, Kerr_Report** err);
/* The form named `formName` (borrowed; "Kprj_ProParameters" gives a
 * Kprj_ProParameters*), or null when the projection does not hold it. */
void* kprj_MapProjectionCSRGet(const _kprj_MapProjectionEx* projection, const char* formName);
/* Makes the projection hold the form; a name-only projection gets it from
 * kprj_ProParametersCreateByName on its name. Nonzero on success (also when
 * the form is already held), 0 on failure. */
int kprj_MapProjectionConvert(_kprj_MapProjectionEx* projection, const char* formName);
/* The name of a narrow projection; null for null or a wide one. */
const char* kprj_MapProjectionName(const _kprj_MapProjectionEx* projection);
/* The name of a wide projection; null for null or a narrow one. */
const wchar_t* kprj_MapProjectionNameU(const _kprj_MapProjectionEx* projection);
/* A deep copy in the same text form. `flags` is reserved (0). */
_kprj_MapProjectionEx* kprj_ProjectionCopy(const _kprj_MapProjectionEx* projection, int32_t flags,
                                           Kerr_Report** err);
/* Free a narrow (Free) or a wide (FreeU) projection and set the pointer to
 * null. A projection of the other text form is still freed, with the warning
 * "Wide projection given to kprj_ProjectionFree" (or "Narrow ...") left in the
 * slot. */
void kprj_ProjectionFree(_kprj_MapProjectionEx** projection, Kerr_Report** err);
void kprj_ProjectionFreeU(_kprj_MapProjectionEx** projection, Kerr_Report** err);
/* New projections in the other text form, with the same forms. Converting a
 * projection that is already in the asked form gives a copy. */
_kprj_MapProjectionEx* kprj_MapProjectionToASCII(const _kprj_MapProjectionEx* wide,
                                                 Kerr_Report** err);
_kprj_MapProjectionEx* kprj_MapProjectionToUNICODE(const _kprj_MapProjectionEx* narrow,
                                                   Kerr_Report** err);

/* ---- Elevation information ------------------------------------------- */

/* A narrow elevation record. The spheroid is a known spheroid or "Undefined";
 * the datum a known datum, a spheroid name, a vertical datum ("NGVD29
 * (CONTUS)", "NAVD 88 (CONTUS) (GEOID99)", "World Wide 15-Minute Geoid Height
 * (EGM96)") or "Undefined"; the units name is not empty; the kind is "height"
 * or "depth". Names are stored in the tables' spelling. Vertical references
 * pair any datum with any spheroid, so the pair is not checked. */
_kprj_ElevationInfo* kprj_ElevationInfoCreateByName(const char* spheroidName, const char* datumName,
                                                    const char* unitsName, const char* kind,
                                                    Kerr_Report** err);
/* Free a narrow (Free) or wide (FreeU) record, as for projections. */
void kprj_ElevationInfoFree(_kprj_ElevationInfo** info, Kerr_Report** err);
void kprj_ElevationInfoFreeU(_kprj_ElevationInfo** info, Kerr_Report** err);
/* A deep copy in the same text form. */
_kprj_ElevationInfo* kprj_ElevationInfoCopy(const _kprj_ElevationInfo* info, Kerr_Report** err);
/* New records in the other text form (a copy when already in it). */
_kprj_ElevationInfo* kprj_ElevationInfoToASCII(const _kprj_ElevationInfo* wide, Kerr_Report** err);
_kprj_ElevationInfo* kprj_ElevationInfoToUNICODE(const _kprj_ElevationInfo* narrow,
                                                 Kerr_Report** err);

/* ---- Map info ---------------------------------------------------------- */

/* A map info with the projection name "Unknown", the units "other" and zero
 * coordinates. */
Kprj_MapInfo* kprj_MapInfoCreate(Kerr_Report** err);
void kprj_MapInfoFree(Kprj_MapInfo** info, Kerr_Report** err);
/* Setters: 1 on success; 0 for a null record, non-finite coordinates or a
 * null name (the record unchanged). */
int kprj_MapInfoUpperLeftCenterSet(Kprj_MapInfo* info, double x, double y, Kerr_Report** err);
int kprj_MapInfoLowerRightCenterSet(Kprj_MapInfo* info, double x, double y, Kerr_Report** err);
int kprj_MapInfoPixelSizeSet(Kprj_MapInfo* info, double x, double y, Kerr_Report** err);
int kprj_MapInfoProjectionNameSet(Kprj_MapInfo* info, const char* name, Kerr_Report** err);
int kprj_MapInfoUnitsSet(Kprj_MapInfo* info, const char* units, Kerr_Report** err);
/* Getters: plain reads without a report slot. The coordinate getters give 1
 * and the pair, or 0 for a null record or a null output (outputs untouched).
 * The name getters give the record's own string, borrowed: valid until the
 * record's next setter call or kprj_MapInfoFree, never to be freed by the
 * caller; null for a null record. */
int kprj_MapInfoUpperLeftCenterGet(const Kprj_MapInfo* info, double* x, double* y);
int kprj_MapInfoLowerRightCenterGet(const Kprj_MapInfo* info, double* x, double* y);
int kprj_MapInfoPixelSizeGet(const Kprj_MapInfo* info, double* x, double* y);
const char* kprj_MapInfoProjectionNameGet(const Kprj_MapInfo* info);
const char* kprj_MapInfoUnitsGet(const Kprj_MapInfo* info);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
