// Lookups over the geodetic code tables. Linear scans in table order, first
// match wins: several names and codes occur twice and callers rely on which
// row answers.
#include "tables.h"

#include "citation.h"
#include "kerr_guard.h"
#include "kgtf.h"
#include "kstr.h"

namespace {

int32_t codeByName(const KgtfCodeName* table, size_t size, const char* name) {
  if (!name) return -1;
  for (size_t i = 0; i < size; ++i)
    if (kstr_Eqic(table[i].name, name)) return table[i].code;
  return -1;
}

template <typename Row>
const Row* searchByCode(const Row* table, size_t size, int32_t code) {
  for (size_t i = 0; i < size; ++i)
    if (table[i].code == code) return &table[i];
  return nullptr;
}

}  // namespace

int32_t kgtf_GetDatumCode(const char* name) {
  return kerrGuard(__func__, nullptr, -1,
                   [&]() -> int32_t { return codeByName(datumTable, datumTableSize, name); });
}

char* kgtf_GetDatumName(uint16_t code) {
  return kerrGuard(__func__, nullptr, nullptr, [&]() -> char* {
    if (code == kUserDefined) return nullptr;
    const KgtfCodeName* row = searchByCode(datumTable, datumTableSize, code);
    return row ? kstr_Duplicate(row->name) : nullptr;
  });
}

int32_t kgtf_GetSpheroidCode(const char* name) {
  return kerrGuard(__func__, nullptr, -1,
                   [&]() -> int32_t { return codeByName(spheroidTable, spheroidTableSize, name); });
}

const char* kgtf_GetSpheroidName(uint16_t code) {
  return kerrGuard(__func__, nullptr, nullptr,
                   [&]() -> const char* { return spheroidNameByCode(code); });
}

const char* spheroidNameByCode(int32_t code) {
  const KgtfCodeName* row = searchByCode(spheroidTable, spheroidTableSize, code);
  return row ? row->name : "";
}

int32_t unitsCodeByName(const char* name) {
  return codeByName(linearUnitsTable, linearUnitsTableSize, name);
}

const char* angularUnitsNameByCode(int32_t code) {
  const KgtfCodeName* row = searchByCode(angularUnitsTable, angularUnitsTableSize, code);
  return row ? row->name : nullptr;
}

const char* linearUnitsNameByCode(int32_t code) {
  const KgtfCodeName* row = searchByCode(linearUnitsTable, linearUnitsTableSize, code);
  return row ? row->name : nullptr;
}

const char* projectionNameByNumber(int32_t number) {
  // Past the table's contiguous numbers the host's own names hold (55).
  if (number < 0 || static_cast<size_t>(number) >= projectionNameTableSize)
    return kprj_ProjectionNameByNumber(number);
  return projectionNameTable[number];
}

const char* DefaultUnitsNameGet(const Kprj_ProParameters* pro, GTIF* gtif) {
  if (pro && pro->type == KPRJ_PROJECTION_INTERNAL) {
    if (pro->number == 0) return "dd";
    if (pro->number == 2 && kprj_NADCodeGet(pro) != 2) return "us_survey_feet";
  } else if (pro && pro->type == KPRJ_PROJECTION_EXTERNAL && pro->name &&
             kstr_Eqnic(pro->name, "rso", 3)) {
    return RSOUnitsNameGet(gtif);
  }
  return "meters";
}

const char* RSOUnitsNameGet(GTIF* gtif) {
  uint16_t pcs = 0;
  if (!GeoKeyShortGet(gtif, ProjectedCSTypeGeoKey, &pcs)) return "meters";
  if (pcs == 3167 || pcs == 29871) return "sears_chain";
  if (pcs == 29872) return "sears_foot";
  return "meters";
}

const KgtfGcsRow* gcsRowByCode(int32_t code) {
  return searchByCode(gcsTable, gcsTableSize, code);
}

const KgtfUtmPcsRow* utmPcsRowByCode(int32_t code) {
  return searchByCode(utmPcsTable, utmPcsTableSize, code);
}

const KgtfStatePlanePcsRow* statePlanePcsRowByCode(int32_t code) {
  return searchByCode(statePlanePcsTable, statePlanePcsTableSize, code);
}

const KgtfVerticalCsRow* verticalCsRowByCode(int32_t code) {
  return searchByCode(verticalCsTable, verticalCsTableSize, code);
}

const KgtfStatePlanePcsRow* statePlanePcsRowByNadZone(int32_t nadCode, int32_t zone) {
  for (size_t i = 0; i < statePlanePcsTableSize; ++i)
    if (statePlanePcsTable[i].nadCode == nadCode && statePlanePcsTable[i].zone == zone)
      return &statePlanePcsTable[i];
  return nullptr;
}
