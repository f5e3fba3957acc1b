// The citation this library keeps in GTCitationGeoKey, the model-type key and
// the units GeoKeys. The citation remembers the host's units next to the
// GeoKey units so that a read undoes what a units override did on writing.
#include "citation.h"

#include <geotiffio.h>

#include <cstdint>
#include <cstring>
#include <utility>

#include "kcvt.h"
#include "kerr_frame.h"
#include "kmsc.h"
#include "kpmg.h"
#include "kprj.h"
#include "kstr.h"
#include "ktif.h"
#include "ktif_prefs.h"
#include "tables.h"

const char* const kCitationLabel = "ktiflib GeoTIFF Support";

namespace {

// The label, notice and identification lines, which every citation of ours
// begins with (the geocoding writers' citations too).
#define KGTF_CITATION_HEADER                                                 \
  "%s\n"                                                                     \
  "Georeferencing recorded by ktiflib; keep these lines to preserve units\n" \
  "ktiflib %s\n"
const char* const kCitationHeaderFormat = KGTF_CITATION_HEADER;
const char* const kCitationFormat = KGTF_CITATION_HEADER
    "%s"
    "Projection Name = %s\n"
    "Units = %s\n"
    "GeoTIFF Units = %s";
const char* const kNoGeocodingLine = "Geocoding information not available\n";

enum class UnitsKind { Linear, Angular, Open };
enum class Overrides { ReadWrite, Read, Ignore };

Overrides overridesPreference() {
  const KtifPreference& pref = ktifPreferences[KTIF_PREF_UNIT_OVERRIDES];
  char* value =
      kpmg_GetEnumPreference(pref.group, pref.key, pref.defaultText, pref.values, nullptr);
  Overrides result = Overrides::ReadWrite;
  if (value && kstr_Eqic(value, "Read"))
    result = Overrides::Read;
  else if (value && kstr_Eqic(value, "Ignore"))
    result = Overrides::Ignore;
  if (value != pref.defaultText) kmsc_HeapFree(value);
  return result;
}

uint16_t shortKey(GTIF* gtif, geokey_t key) {
  uint16_t value = 0;
  return GeoKeyShortGet(gtif, key, &value) ? value : 0;
}

UnitsKind kindOf(uint16_t modelType) {
  if (modelType == ModelTypeProjected) return UnitsKind::Linear;
  if (modelType == ModelTypeGeographic || modelType == ModelTypeGeocentric)
    return UnitsKind::Angular;
  return UnitsKind::Open;
}

// User-defined systems have no codes to imply units, so their units keys are
// the only record of them.
bool userDefinedSystem(GTIF* gtif, uint16_t modelType) {
  if (modelType == ModelTypeProjected)
    return shortKey(gtif, ProjectedCSTypeGeoKey) == kUserDefined &&
           shortKey(gtif, ProjectionGeoKey) == kUserDefined;
  if (modelType == ModelTypeGeographic || modelType == ModelTypeGeocentric)
    return shortKey(gtif, GeographicTypeGeoKey) == kUserDefined;
  return false;
}

void showAndDelete(Kerr_Report** report) {
  if (!*report) return;
  kerr_PrintErrorReport(*report);
  kerr_DeleteErrorReportEx(report);
}

// The host units of the citation, or null; reports are shown and dropped.
char* citationUnits(GTIF* gtif) {
  char* units = nullptr;
  char* geotiffUnits = nullptr;
  char* projection = nullptr;
  Kerr_Report* report = nullptr;
  UnitsAndProjectionNameGet(gtif, &units, &geotiffUnits, &projection, &report);
  showAndDelete(&report);
  kmsc_HeapFree(geotiffUnits);
  kmsc_HeapFree(projection);
  return units;
}

// Value after `marker`, searched from `from`; it ends at one of `separators`
// or the end. Returns the value's start (null when the marker is missing) and
// its length and whether a separator ended it.
const char* findValue(const char* from, const char* marker, const char* separators, size_t* length,
                      bool* separated) {
  const char* start = from ? std::strstr(from, marker) : nullptr;
  if (!start) return nullptr;
  start += std::strlen(marker);
  *length = std::strcspn(start, separators);
  *separated = start[*length] != '\0';
  return start;
}

int writeShortKey(GTIF* gtif, geokey_t key, int value) {
  return GTIFKeySet(gtif, key, TYPE_SHORT, 1, value);
}

// The first table row whose name is equivalent to `units` in `reference`.
const KgtfCodeName* equivalentRow(const KgtfCodeName* table, size_t size, const char* units,
                                  const char* reference) {
  for (size_t i = 0; i < size; ++i)
    if (UnitsNamesEquivalent(table[i].name, units, reference)) return &table[i];
  return nullptr;
}

bool compatible(const char* units, const char* reference) {
  // An unknown name only means no units key is written; its report would be
  // noise on every write of "other" units.
  Kerr_Report* report = nullptr;
  int result = kcvt_UnitsTypeCompatibilityCheckByName(units, reference, &report);
  kerr_DeleteErrorReportEx(&report);
  return result != 0;
}

}  // namespace

bool CitationWritePreference() {
  const KtifPreference& pref = ktifPreferences[KTIF_PREF_WRITE_CITATION];
  return kpmg_GetBooleanPreference(pref.group, pref.key, pref.defaultNumber != 0, nullptr) != 0;
}

char* CitationHeaderCreate(Kerr_Report** err) {
  return kstr_Sprintf(nullptr, kCitationHeaderFormat, err, kCitationLabel, ktif_Version());
}

char* CitationTextCreate(bool noGeocoding, const char* projectionName, const char* units,
                         const char* geotiffUnits, Kerr_Report** err) {
  return kstr_Sprintf(nullptr, kCitationFormat, err, kCitationLabel, ktif_Version(),
                      noGeocoding ? kNoGeocodingLine : "", projectionName, units, geotiffUnits);
}

bool CitationValuesGet(GTIF* gtif, const char* separators, KerrFrame& frame, char** projectionName,
                       char** units, char** geotiffUnits) {
  *projectionName = *units = *geotiffUnits = nullptr;
  int size = 0;
  int count = GTIFKeyInfo(gtif, GTCitationGeoKey, &size, nullptr);
  if (count <= 0) return true;
  if (size <= 0 || static_cast<size_t>(count) > (SIZE_MAX - 1) / static_cast<size_t>(size))
    return frame.fail(__LINE__, "No memory"), false;
  size_t bytes = static_cast<size_t>(count) * static_cast<size_t>(size) + 1;
  char* text = static_cast<char*>(kmsc_HeapMalloc(bytes));
  if (!text) return frame.fail(__LINE__, "No memory"), false;
  GTIFKeyGet(gtif, GTCitationGeoKey, text, 0, 0);
  text[bytes - 1] = '\0';

  size_t labelLength = std::strlen(kCitationLabel);
  if (std::strncmp(text, kCitationLabel, labelLength) != 0) return kmsc_HeapFree(text), true;

  size_t projectionLength = 0, unitsLength = 0, geotiffLength = 0;
  bool more = false;
  const char* projection =
      findValue(text, "Projection Name = ", separators, &projectionLength, &more);
  const char* host = nullptr;
  const char* geotiff = nullptr;
  if (projection && more)
    host =
        findValue(projection + projectionLength + 1, "Units = ", separators, &unitsLength, &more);
  if (host && more)
    geotiff =
        findValue(host + unitsLength + 1, "GeoTIFF Units = ", separators, &geotiffLength, &more);

  char* values[3] = {nullptr, nullptr, nullptr};
  const std::pair<const char*, size_t> found[3] = {
      {projection, projectionLength}, {host, unitsLength}, {geotiff, geotiffLength}};
  bool ok = true;
  for (int i = 0; i < 3; ++i) {
    if (!found[i].first) continue;
    values[i] = kstr_DuplicateN(found[i].first, found[i].second);
    if (!values[i]) ok = false;
  }
  kmsc_HeapFree(text);
  if (!ok) {
    for (char* value : values) kmsc_HeapFree(value);
    return frame.fail(__LINE__, "kstr_Duplicate failed"), false;
  }
  *projectionName = values[0];
  *units = values[1];
  *geotiffUnits = values[2];
  return true;
}

bool CitationNoValue(const char* value) {
  return value == nullptr || std::strcmp(value, "?") == 0;
}

int UnitsAndProjectionNameGet(GTIF* gtif, char** units, char** geotiffUnits, char** projectionName,
                              Kerr_Report** err) {
  static const char* kLabel = "UnitsAndProjectionNameGet";
  KerrFrame frame(kLabel, err, KERR_PRINT_NOVSL);
  if (units) *units = nullptr;
  if (geotiffUnits) *geotiffUnits = nullptr;
  if (projectionName) *projectionName = nullptr;
  if (!gtif || !units || !geotiffUnits || !projectionName) return frame.fail(__LINE__, "Args"), 0;

  char *projection = nullptr, *host = nullptr, *geotiff = nullptr;
  if (!CitationValuesGet(gtif, "\n|", frame, &projection, &host, &geotiff)) return 0;
  if (CitationNoValue(projection)) {
    kmsc_HeapFree(projection);
    kmsc_HeapFree(host);
    kmsc_HeapFree(geotiff);
    return 1;
  }
  if (CitationNoValue(host)) {
    kmsc_HeapFree(host);
    host = kstr_Duplicate(kprj_UnitsNameOther());
  }
  if (!geotiff) geotiff = kstr_Duplicate("?");
  if (!host || !geotiff) {
    kmsc_HeapFree(projection);
    kmsc_HeapFree(host);
    kmsc_HeapFree(geotiff);
    return frame.fail(__LINE__, "kstr_Duplicate failed"), 0;
  }
  *projectionName = projection;
  *units = host;
  *geotiffUnits = geotiff;
  return 1;
}

int UnitsAndProjectionNameSet(GTIF* gtif, const char* units, const char* geotiffUnits,
                              const char* projectionName, Kerr_Report** err) {
  static const char* kLabel = "UnitsAndProjectionNameSet";
  KerrFrame frame(kLabel, err, KERR_PRINT_NOVSL);
  if (!gtif) return frame.fail(__LINE__, "Args"), 0;

  bool writeCitation = CitationWritePreference();
  uint16_t modelType = shortKey(gtif, GTModelTypeGeoKey);
  if (!writeCitation && modelType != 0) return 1;
  if (!units || !projectionName) units = kprj_UnitsNameOther();
  if (!projectionName) projectionName = kprj_ProjectionNameUnknown();
  if (!geotiffUnits) geotiffUnits = "?";

  char* text =
      CitationTextCreate(modelType == 0, projectionName, units, geotiffUnits, frame.slot());
  if (!text) return frame.calleeFailed(__LINE__, "kstr_Sprintf"), 0;

  // Without the preference only the geocoding lines go out: they are what a
  // later read needs, the rest is identification.
  const char* start = text;
  if (!writeCitation)
    for (int breaks = 0; breaks < 3 && start; ++breaks) {
      start = std::strchr(start, '\n');
      if (start) ++start;
    }
  int ok = start &&
           GTIFKeySet(gtif, GTCitationGeoKey, TYPE_ASCII, static_cast<int>(strlen(start)), start);
  kmsc_HeapFree(text);
  if (!ok) return frame.fail(__LINE__, "GTIFKeySet failed"), 0;
  return 1;
}

int ModelTypeSet(GTIF* gtif, int modelType, Kerr_Report** err) {
  static const char* kLabel = "ModelTypeSet";
  KerrFrame frame(kLabel, err, KERR_PRINT_NOVSL);
  if (!gtif) return frame.fail(__LINE__, "Args"), 0;
  if (!writeShortKey(gtif, GTModelTypeGeoKey, modelType))
    return frame.fail(__LINE__, "GTIFKeySet failed"), 0;
  return 1;
}

void kgtf_UnitsNameGet(GTIF* gtif, char** units, Kerr_Report** err) {
  static const char* kLabel = "kgtf_UnitsNameGet";
  KerrFrame frame(kLabel, err, KERR_PRINT_NOVSL);
  if (!units) return;
  *units = nullptr;
  if (!gtif) return;

  Overrides overrides = overridesPreference();
  uint16_t modelType = shortKey(gtif, GTModelTypeGeoKey);
  UnitsKind kind = kindOf(modelType);

  if (overrides == Overrides::Ignore) {
    // The host's own units, as the citation remembers them, win over the
    // keys except where the keys are all a user-defined system has.
    switch (modelType) {
      case 0:
        *units = citationUnits(gtif);
        return;
      case ModelTypeProjected:
        if (!userDefinedSystem(gtif, modelType)) return;
        break;
      case ModelTypeGeographic:
      case ModelTypeGeocentric:
        *units = citationUnits(gtif);
        if (!userDefinedSystem(gtif, modelType)) return;
        kmsc_HeapFree(*units);
        *units = nullptr;
        break;
      default:
        return;
    }
  }

  if (kind != UnitsKind::Angular) {
    uint16_t code = 0;
    bool present = GeoKeyShortGet(gtif, ProjLinearUnitsGeoKey, &code);
    if (present && code == 9014) {
      // 9014 also stands for units the host calls "other"; only our
      // citation can tell the two apart.
      char* cited = citationUnits(gtif);
      if (cited && std::strcmp(cited, kprj_UnitsNameOther()) == 0) {
        *units = cited;
        return;
      }
      kmsc_HeapFree(cited);
    }
    const char* name = present ? linearUnitsNameByCode(code) : nullptr;
    if (kind == UnitsKind::Linear || name) {
      *units = name ? kstr_Duplicate(name) : nullptr;
      return;
    }
  }

  uint16_t code = 0;
  const char* name =
      GeoKeyShortGet(gtif, GeogAngularUnitsGeoKey, &code) ? angularUnitsNameByCode(code) : nullptr;
  *units = name ? kstr_Duplicate(name) : nullptr;
}

void kgtf_UnitsNameSet(GTIF* gtif, const char* units, Kerr_Report** err) {
  static const char* kLabel = "kgtf_UnitsNameSet";
  KerrFrame frame(kLabel, err, KERR_PRINT_NOVSL);
  if (!gtif || !units) return;
  if (overridesPreference() != Overrides::ReadWrite) return;
  uint16_t modelType = shortKey(gtif, GTModelTypeGeoKey);
  if (userDefinedSystem(gtif, modelType)) return;
  UnitsKind kind = kindOf(modelType);

  if (kind != UnitsKind::Angular) {
    bool written = false;
    if (compatible(units, "meters")) {
      const KgtfCodeName* row =
          equivalentRow(linearUnitsTable, linearUnitsTableSize, units, "meters");
      if (row) written = writeShortKey(gtif, ProjLinearUnitsGeoKey, row->code) != 0;
    }
    if (kind == UnitsKind::Linear || written) return;
  }
  if (compatible(units, "radians")) {
    const KgtfCodeName* row =
        equivalentRow(angularUnitsTable, angularUnitsTableSize, units, "radians");
    if (row) writeShortKey(gtif, GeogAngularUnitsGeoKey, row->code);
  }
}

int UnitsNamesEquivalent(const char* a, const char* b, const char* reference) {
  if (!a || !b) return 0;
  if (std::strcmp(a, b) == 0) return 1;
  const char* other = kprj_UnitsNameOther();
  if (std::strcmp(a, other) == 0 || std::strcmp(b, other) == 0) return 0;
  double one = 1.0, fromA = 0.0, fromB = 0.0;
  Kerr_Report* report = nullptr;
  int okA = kcvt_UnitsConvertByName(&one, a, &fromA, reference, 1, &report);
  showAndDelete(&report);
  int okB = kcvt_UnitsConvertByName(&one, b, &fromB, reference, 1, &report);
  showAndDelete(&report);
  return okA && okB && fromA == fromB ? 1 : 0;
}
