/* The citation this library writes into GTCitationGeoKey, the model-type key,
 * and the translation between the units GeoKeys and host unit names under the
 * "unit_overrides" preference.
 *
 * The citation is a few "\n"-separated lines: a label line that marks it as
 * ours, a notice line, an identification line, "Geocoding information not
 * available" when the directory has no model type, then
 *   Projection Name = <projection>
 *   Units = <host units: the units of the host's coordinates>
 *   GeoTIFF Units = <units of the GeoKeys>
 * Reading also accepts "|" between the values; "?" stands for no value.
 */
#ifndef KGTF_CITATION_H
#define KGTF_CITATION_H

#include <geotiff.h>
#include <stdint.h>

#include "kerr.h"
#include "kerr_frame.h"
#include "key_source.h"

/* The first line of every citation this library writes; reading recognises
 * a citation of ours by it. */
extern const char* const kCitationLabel;

/* Parses our citation. All three outputs are set to null first; they stay
 * null when there is no citation, it is not ours, or its projection name is
 * absent or "?". Otherwise each is a new heap string: the projection name,
 * the host units (the other-units name when absent or "?") and the GeoTIFF
 * units ("?" when absent). Returns 1, or 0 with a report ("No memory",
 * "kstr_Duplicate failed", "Args"). */
int UnitsAndProjectionNameGet(GTIF* gtif, char** units, char** geotiffUnits, char** projectionName,
                              Kerr_Report** err);

/* The three values of our citation as written, each ending at one of
 * `separators` or the end of the text: new heap strings, null where the
 * marker is missing, all null when there is no citation or it is not ours.
 * "Units = " is looked for only after a projection value that a separator
 * ended, "GeoTIFF Units = " likewise after the units. False after "No memory"
 * or "kstr_Duplicate failed" in the frame (outputs null). */
bool CitationValuesGet(GTIF* gtif, const char* separators, KerrFrame& frame, char** projectionName,
                       char** units, char** geotiffUnits);
/* True for a value that is absent or "?", which stands for no value. */
bool CitationNoValue(const char* value);

/* The "write_citation" preference (default true; a failed read is the
 * default). */
bool CitationWritePreference();

/* Our three first citation lines (label, notice, identification), each ending
 * in "\n": a new heap string, or null with a report. */
char* CitationHeaderCreate(Kerr_Report** err);

/* Our full citation with those names (none may be null) and, when
 * `noGeocoding`, the line "Geocoding information not available": a new heap
 * string, or null with a report. */
char* CitationTextCreate(bool noGeocoding, const char* projectionName, const char* units,
                         const char* geotiffUnits, Kerr_Report** err);

/* Writes the citation (null names become "other" / "Unknown"). With the
 * "write_citation" preference false, nothing is written when a model type is
 * set, and only the geocoding lines when it is not. Returns 1, or 0 with a
 * report ("kstr_Sprintf failed", "GTIFKeySet failed", "Args"). */
int UnitsAndProjectionNameSet(GTIF* gtif, const char* units, const char* geotiffUnits,
                              const char* projectionName, Kerr_Report** err);

/* Sets GTModelTypeGeoKey to one short. Returns 1, or 0 with
 * "GTIFKeySet failed" / "Args". */
int ModelTypeSet(GTIF* gtif, int modelType, Kerr_Report** err);

/* The units name the GeoKeys state (a new heap string in *units), or null,
 * under the "unit_overrides" preference. Reports nothing of its own: reports
 * of the citation reads are shown and dropped. */
void kgtf_UnitsNameGet(GTIF* gtif, char** units, Kerr_Report** err);

/* Writes ProjLinearUnitsGeoKey or GeogAngularUnitsGeoKey for a host units
 * name, unless "unit_overrides" says not to or the coordinate system is
 * user-defined. Reports nothing. */
void kgtf_UnitsNameSet(GTIF* gtif, const char* units, Kerr_Report** err);

/* 1 when two unit names are the same text, or when 1.0 in each converts to
 * exactly the same value in `reference`; 0 when either is the other-units
 * name (unless both are the same text) or a conversion fails. */
int UnitsNamesEquivalent(const char* a, const char* b, const char* reference);

#endif
