// kprj: projection parameters, spheroids, datums and State Plane zones.
#include "kprj.h"
#include "kerr_frame.h"
#include "kerr_guard.h"
#include "kmsc.h"
#include "kstr.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

const char* kUnknownProjection = "Unknown";
const char* kOtherUnits = "other";
const char* kRsoPrefix = "RSO";
constexpr size_t kRsoPrefixLength = 3;
constexpr int32_t kStatePlaneNumber = 2;
constexpr int32_t kHighestProjectionNumber = 55;
constexpr double kAxisTolerance = 1e-4;  // meters

// Replaces a heap string with a copy of `text`; false (nothing changed) when
// the heap is exhausted.
bool replaceString(char** slot, const char* text) {
  char* copy = kstr_Duplicate(text);
  if (copy == nullptr) return false;
  kmsc_HeapFree(*slot);
  *slot = copy;
  return true;
}

void freeDatum(Kprj_Datum* datum) {
  if (datum == nullptr) return;
  kmsc_HeapFree(datum->name);
  kmsc_HeapFree(datum);
}

Kprj_Datum* createDatum(const char* name, int32_t code) {
  auto* datum = static_cast<Kprj_Datum*>(kmsc_HeapMalloc(sizeof(Kprj_Datum)));
  if (datum == nullptr) return nullptr;
  datum->name = kstr_Duplicate(name ? name : "");
  if (datum->name == nullptr) {
    kmsc_HeapFree(datum);
    return nullptr;
  }
  datum->epsgCode = code;
  return datum;
}

void freeSpheroid(Kprj_Spheroid* spheroid) {
  if (spheroid == nullptr) return;
  kmsc_HeapFree(spheroid->name);
  freeDatum(spheroid->datum);
  kmsc_HeapFree(spheroid);
}

// A deep copy; a null source gives a blank spheroid with an empty datum.
Kprj_Spheroid* copySpheroid(const Kprj_Spheroid* source) {
  auto* spheroid = static_cast<Kprj_Spheroid*>(kmsc_HeapMalloc(sizeof(Kprj_Spheroid)));
  if (spheroid == nullptr) return nullptr;
  const Kprj_Datum* datum = source ? source->datum : nullptr;
  spheroid->name = kstr_Duplicate(source && source->name ? source->name : "");
  spheroid->datum = createDatum(datum ? datum->name : "", datum ? datum->epsgCode : 0);
  if (spheroid->name == nullptr || spheroid->datum == nullptr) {
    freeSpheroid(spheroid);
    return nullptr;
  }
  if (source != nullptr) {
    spheroid->semiMajor = source->semiMajor;
    spheroid->semiMinor = source->semiMinor;
    spheroid->epsgCode = source->epsgCode;
  }
  return spheroid;
}

void freeProParameters(Kprj_ProParameters* pro) {
  if (pro == nullptr) return;
  kmsc_HeapFree(pro->externalName);
  kmsc_HeapFree(pro->name);
  kmsc_HeapFree(pro->parameters);
  freeSpheroid(pro->spheroid);
  kmsc_HeapFree(pro);
}

// A record with the given identity, 15 zero parameters and no spheroid.
Kprj_ProParameters* newProParameters(int32_t type, int32_t number, const char* name,
                                     const char* externalName) {
  auto* pro = static_cast<Kprj_ProParameters*>(kmsc_HeapMalloc(sizeof(Kprj_ProParameters)));
  if (pro == nullptr) return nullptr;
  pro->type = type;
  pro->number = number;
  pro->name = kstr_Duplicate(name);
  pro->externalName = kstr_Duplicate(externalName);
  pro->parameters = kprj_DblArrayCreate(KPRJ_PARAMETER_COUNT, 0.0);
  if (pro->name == nullptr || pro->externalName == nullptr || pro->parameters == nullptr) {
    freeProParameters(pro);
    return nullptr;
  }
  return pro;
}

bool checkContext(KerrFrame& frame, const Kint_Init* init, int line) {
  if (kint_InitIsValid(init)) return true;
  frame.fail(line, "Invalid toolkit context");
  return false;
}

// A datum found by name: a row of the datum table, or a spheroid name that
// stands for the unspecified datum on that spheroid.
struct DatumMatch {
  const char* name = nullptr;
  int32_t code = 0;
  const char* spheroidName = nullptr;  // null: any spheroid
};

bool findDatum(const char* datumName, DatumMatch& match) {
  if (const Kprj_DatumEntry* entry = kprj_DatumEntryByName(datumName)) {
    match = {entry->name, entry->epsgCode, entry->spheroidName};
    return true;
  }
  if (const Kprj_SpheroidEntry* entry = kprj_SpheroidEntryByName(datumName)) {
    match = {entry->name, entry->datumEpsgCode, entry->name};
    return true;
  }
  return false;
}

bool axesMatch(const Kprj_SpheroidEntry& entry, double a, double b) {
  return std::fabs(entry.semiMajor - a) <= kAxisTolerance &&
         std::fabs(entry.semiMinor - b) <= kAxisTolerance;
}

}  // namespace

extern "C" {

const char* kprj_ProjectionNameUnknown(void) {
  return kerrGuard(__func__, nullptr, nullptr, [&]() -> const char* { return kUnknownProjection; });
}

const char* kprj_UnitsNameOther(void) {
  return kerrGuard(__func__, nullptr, nullptr, [&]() -> const char* { return kOtherUnits; });
}

char* kprj_CharStrCreate(const char* text) {
  return kerrGuard(__func__, nullptr, nullptr, [&]() -> char* { return kstr_Duplicate(text); });
}

double* kprj_DblArrayCreate(int32_t count, double initial) {
  return kerrGuard(__func__, nullptr, nullptr, [&]() -> double* {
    if (count <= 0) return nullptr;
    // int32_t counts times 8 bytes cannot overflow size_t, but the heap rejects
    // absurd sizes and gives null.
    auto* values =
        static_cast<double*>(kmsc_HeapMalloc(static_cast<size_t>(count) * sizeof(double)));
    if (values == nullptr) return nullptr;
    for (int32_t i = 0; i < count; ++i) values[i] = initial;
    return values;
  });
}

Kprj_ProParameters* kprj_ProParametersCreate(Kerr_Report** err) {
  return kerrGuard(__func__, err, nullptr, [&]() -> Kprj_ProParameters* {
    static const char* kLabel = "kprj_ProParametersCreate";
    KerrFrame frame(kLabel, err);
    Kprj_ProParameters* pro = newProParameters(KPRJ_PROJECTION_INTERNAL, 0, "", "");
    if (pro != nullptr) pro->spheroid = copySpheroid(nullptr);
    if (pro == nullptr || pro->spheroid == nullptr) {
      freeProParameters(pro);
      return frame.fail(__LINE__, "Out of memory"), nullptr;
    }
    return pro;
  });
}

Kprj_ProParameters* kprj_ProParametersCreateByName(const char* name, Kerr_Report** err) {
  return kerrGuard(__func__, err, nullptr, [&]() -> Kprj_ProParameters* {
    static const char* kLabel = "kprj_ProParametersCreateByName";
    KerrFrame frame(kLabel, err);
    if (name == nullptr) return frame.fail(__LINE__, "Args"), nullptr;
    Kprj_ProParameters* pro = kprj_ProParametersCreate(frame.slot());
    if (pro == nullptr) return frame.calleeFailed(__LINE__, "kprj_ProParametersCreate"), nullptr;
    bool named = false;
    if (kstr_Eqnic(name, kRsoPrefix, kRsoPrefixLength)) {
      pro->type = KPRJ_PROJECTION_EXTERNAL;
      pro->number = KPRJ_NUMBER_EXTERNAL;
      named = replaceString(&pro->name, name) && replaceString(&pro->externalName, name);
    } else {
      int32_t number = -1;
      for (int32_t n = 0; n <= kHighestProjectionNumber && number < 0; ++n)
        if (kstr_Eqic(kprj_ProjectionNameByNumber(n), name)) number = n;
      if (number < 0) {
        freeProParameters(pro);
        return frame.fail(__LINE__, "Unknown projection %s", name), nullptr;
      }
      pro->number = number;
      named = replaceString(&pro->name, kprj_ProjectionNameByNumber(number));
    }
    if (!named) {
      freeProParameters(pro);
      return frame.fail(__LINE__, "Out of memory"), nullptr;
    }
    return pro;
  });
}

Kprj_ProParameters* kprj_ProParametersCopy(const Kprj_ProParameters* source, Kerr_Report** err) {
  return kerrGuard(__func__, err, nullptr, [&]() -> Kprj_ProParameters* {
    static const char* kLabel = "kprj_ProParametersCopy";
    KerrFrame frame(kLabel, err);
    if (source == nullptr) return frame.fail(__LINE__, "Args"), nullptr;
    Kprj_ProParameters* pro =
        newProParameters(source->type, source->number, source->name ? source->name : "",
                         source->externalName ? source->externalName : "");
    bool complete = pro != nullptr;
    if (complete) {
      pro->zone = source->zone;
      if (source->parameters != nullptr)
        std::memcpy(pro->parameters, source->parameters, KPRJ_PARAMETER_COUNT * sizeof(double));
      if (source->spheroid != nullptr) {
        pro->spheroid = copySpheroid(source->spheroid);
        complete = pro->spheroid != nullptr;
      }
    }
    if (!complete) {
      freeProParameters(pro);
      return frame.fail(__LINE__, "Out of memory"), nullptr;
    }
    return pro;
  });
}

void kprj_ProParametersFree(Kprj_ProParameters** pro, Kerr_Report** err) {
  kerrGuardVoid(__func__, err, [&] {
    static const char* kLabel = "kprj_ProParametersFree";
    KerrFrame frame(kLabel, err);
    if (pro == nullptr) return frame.fail(__LINE__, "Args");
    freeProParameters(*pro);
    *pro = nullptr;
  });
}

int32_t kprj_NADCodeGet(const Kprj_ProParameters* pro) {
  return kerrGuard(__func__, nullptr, 0, [&]() -> int32_t {
    if (pro == nullptr || pro->type != KPRJ_PROJECTION_INTERNAL ||
        pro->number != kStatePlaneNumber || pro->parameters == nullptr)
      return 0;
    double value = std::trunc(pro->parameters[0]);
    // Outside the int32_t range (or NaN) the conversion would be undefined.
    if (!(value >= std::numeric_limits<int32_t>::min() &&
          value <= std::numeric_limits<int32_t>::max()))
      return 0;
    return static_cast<int32_t>(value);
  });
}

Kprj_Spheroid* kprj_SpheroidCreate(Kerr_Report** err) {
  return kerrGuard(__func__, err, nullptr, [&]() -> Kprj_Spheroid* {
    static const char* kLabel = "kprj_SpheroidCreate";
    KerrFrame frame(kLabel, err);
    Kprj_Spheroid* spheroid = copySpheroid(nullptr);
    if (spheroid == nullptr) frame.fail(__LINE__, "Out of memory");
    return spheroid;
  });
}

Kprj_Spheroid* kprj_SpheroidCopy(const Kprj_Spheroid* source, Kerr_Report** err) {
  return kerrGuard(__func__, err, nullptr, [&]() -> Kprj_Spheroid* {
    static const char* kLabel = "kprj_SpheroidCopy";
    KerrFrame frame(kLabel, err);
    if (source == nullptr) return frame.fail(__LINE__, "Args"), nullptr;
    Kprj_Spheroid* spheroid = copySpheroid(source);
    if (spheroid == nullptr) frame.fail(__LINE__, "Out of memory");
    return spheroid;
  });
}

void kprj_SpheroidFree(Kprj_Spheroid** spheroid, Kerr_Report** err) {
  kerrGuardVoid(__func__, err, [&] {
    static const char* kLabel = "kprj_SpheroidFree";
    KerrFrame frame(kLabel, err);
    if (spheroid == nullptr) return frame.fail(__LINE__, "Args");
    freeSpheroid(*spheroid);
    *spheroid = nullptr;
  });
}

int kprj_SpheroidByName(Kint_Init* init, const char* name, Kprj_Spheroid* spheroid,
                        Kerr_Report** err) {
  return kerrGuard(__func__, err, 0, [&]() -> int {
    static const char* kLabel = "kprj_SpheroidByName";
    KerrFrame frame(kLabel, err);
    if (!checkContext(frame, init, __LINE__)) return 0;
    if (name == nullptr || spheroid == nullptr) return frame.fail(__LINE__, "Args"), 0;
    const Kprj_SpheroidEntry* entry = kprj_SpheroidEntryByName(name);
    if (entry == nullptr) return frame.fail(__LINE__, "Unknown spheroid %s", name), 0;
    if (!replaceString(&spheroid->name, entry->name))
      return frame.fail(__LINE__, "Out of memory"), 0;
    spheroid->semiMajor = entry->semiMajor;
    spheroid->semiMinor = entry->semiMinor;
    spheroid->epsgCode = entry->epsgCode;
    return 1;
  });
}

int kprj_SpheroidByAxes(double a, double b, Kprj_Spheroid* spheroid, Kerr_Report** err) {
  return kerrGuard(__func__, err, 0, [&]() -> int {
    static const char* kLabel = "kprj_SpheroidByAxes";
    KerrFrame frame(kLabel, err);
    if (spheroid == nullptr) return frame.fail(__LINE__, "Args"), 0;
    if (!std::isfinite(a) || !std::isfinite(b) || a <= 0.0 || b <= 0.0 || b > a)
      return frame.fail(__LINE__, "Invalid spheroid axes %g, %g", a, b), 0;
    const Kprj_SpheroidEntry* match = nullptr;
    for (int32_t i = 0; match == nullptr; ++i) {
      const Kprj_SpheroidEntry* entry = kprj_SpheroidEntryByIndex(i);
      if (entry == nullptr) break;
      if (axesMatch(*entry, a, b)) match = entry;
    }
    if (!replaceString(&spheroid->name, match ? match->name : ""))
      return frame.fail(__LINE__, "Out of memory"), 0;
    spheroid->semiMajor = a;
    spheroid->semiMinor = b;
    spheroid->epsgCode = match ? match->epsgCode : 0;
    return 1;
  });
}

int kprj_DatumByName(Kint_Init* init, const char* spheroidName, const char* datumName,
                     Kprj_Datum* datum, Kerr_Report** err) {
  return kerrGuard(__func__, err, 0, [&]() -> int {
    static const char* kLabel = "kprj_DatumByName";
    KerrFrame frame(kLabel, err);
    if (!checkContext(frame, init, __LINE__)) return 0;
    if (spheroidName == nullptr || datumName == nullptr || datum == nullptr)
      return frame.fail(__LINE__, "Args"), 0;
    const Kprj_SpheroidEntry* spheroid = kprj_SpheroidEntryByName(spheroidName);
    if (spheroid == nullptr) return frame.fail(__LINE__, "Unknown spheroid %s", spheroidName), 0;
    DatumMatch match;
    if (!findDatum(datumName, match)) return frame.fail(__LINE__, "Unknown datum %s", datumName), 0;
    if (match.spheroidName != nullptr) {
      const Kprj_SpheroidEntry* home = kprj_SpheroidEntryByName(match.spheroidName);
      // Aliases of one ellipsoid ("Modified Airy", "Airy Modified 1849") count
      // as the same spheroid.
      if (home == nullptr || home->epsgCode != spheroid->epsgCode)
        return frame.fail(__LINE__, "Datum %s is not defined on spheroid %s", datumName,
                          spheroidName),
               0;
    }
    if (!replaceString(&datum->name, match.name)) return frame.fail(__LINE__, "Out of memory"), 0;
    datum->epsgCode = match.code;
    return 1;
  });
}

char* kprj_GetSpheroidNameByDatumName(Kint_Init* init, const char* datumName, Kerr_Report** err) {
  return kerrGuard(__func__, err, nullptr, [&]() -> char* {
    static const char* kLabel = "kprj_GetSpheroidNameByDatumName";
    KerrFrame frame(kLabel, err);
    if (!checkContext(frame, init, __LINE__)) return nullptr;
    if (datumName == nullptr) return frame.fail(__LINE__, "Args"), nullptr;
    DatumMatch match;
    if (!findDatum(datumName, match))
      return frame.fail(__LINE__, "Unknown datum %s", datumName), nullptr;
    if (match.spheroidName == nullptr)
      return frame.fail(__LINE__, "Datum %s is not tied to one spheroid", datumName), nullptr;
    char* name = kstr_Duplicate(match.spheroidName);
    if (name == nullptr) frame.fail(__LINE__, "Out of memory");
    return name;
  });
}

const Kprj_SPEntry* kprj_SPEntryByZoneNumber(Kint_Init* init, int32_t zone, int32_t nadCode,
                                             Kerr_Report** err) {
  return kerrGuard(__func__, err, nullptr, [&]() -> const Kprj_SPEntry* {
    static const char* kLabel = "kprj_SPEntryByZoneNumber";
    KerrFrame frame(kLabel, err);
    if (!checkContext(frame, init, __LINE__)) return nullptr;
    if (nadCode < 0 || nadCode > 3)
      return frame.fail(__LINE__, "Unknown NAD code %d", nadCode), nullptr;
    const Kprj_SPEntry* found = nullptr;
    // INT32_MIN has no positive counterpart; no zone has it anyway.
    if (zone != std::numeric_limits<int32_t>::min()) {
      int32_t usgsZone = zone < 0 ? -zone : zone;
      for (int32_t i = 0; found == nullptr; ++i) {
        const Kprj_SPEntry* entry = kprj_SPEntryByIndex(i);
        if (entry == nullptr) break;
        if (entry->usgsZone == usgsZone) found = entry;
      }
    }
    if (found == nullptr) return frame.fail(__LINE__, "Unknown State Plane zone %d", zone), nullptr;
    if (nadCode != 0 && (found->nadMask & (1 << (nadCode - 1))) == 0)
      return frame.fail(__LINE__, "State Plane zone %d is not defined on NAD code %d", zone,
                        nadCode),
             nullptr;
    return found;
  });
}

}  // extern "C"
