// kprj: map projections, elevation information and map info records.
#include "kprj.h"
#include "kerr_frame.h"
#include "kerr_guard.h"
#include "kmsc.h"
#include "kstr.h"
#include "ktxt.h"

#include <cmath>
#include <cstring>
#include <cwchar>

namespace {

const char* kUndefined = "Undefined";

bool validForm(int32_t form) {
  return form == KPRJ_TEXT_NARROW || form == KPRJ_TEXT_WIDE;
}

wchar_t* wideDuplicate(const wchar_t* text) {
  if (text == nullptr) return nullptr;
  size_t length = std::wcslen(text);
  auto* copy = static_cast<wchar_t*>(kmsc_HeapMalloc((length + 1) * sizeof(wchar_t)));
  if (copy != nullptr) std::wmemcpy(copy, text, length);
  return copy;
}

// Both members share one heap pointer, so freeing does not need the form.
void freeText(Kprj_Text& text) {
  kmsc_HeapFree(text.narrow);
  text.narrow = nullptr;
}

// Copies `from` (in form `fromForm`) into `to` in form `toForm`. A missing
// text becomes empty. False when the heap is exhausted.
bool convertText(const Kprj_Text& from, int32_t fromForm, Kprj_Text& to, int32_t toForm) {
  if (fromForm == KPRJ_TEXT_WIDE) {
    const wchar_t* source = from.wide ? from.wide : L"";
    if (toForm == KPRJ_TEXT_WIDE)
      to.wide = wideDuplicate(source);
    else
      to.narrow = ktxt_Text_Unicode2Ascii(source);
  } else {
    const char* source = from.narrow ? from.narrow : "";
    if (toForm == KPRJ_TEXT_WIDE)
      to.wide = ktxt_Text_Ascii2Unicode(source);
    else
      to.narrow = kstr_Duplicate(source);
  }
  return to.narrow != nullptr;
}

void freeProjection(_kprj_MapProjectionEx* projection) {
  if (projection == nullptr) return;
  freeText(projection->name);
  kprj_ProParametersFree(&projection->proParameters, nullptr);
  kmsc_HeapFree(projection);
}

// A copy of `source` in `toForm`, or null when the heap is exhausted.
_kprj_MapProjectionEx* convertProjection(const _kprj_MapProjectionEx* source, int32_t toForm) {
  auto* projection =
      static_cast<_kprj_MapProjectionEx*>(kmsc_HeapMalloc(sizeof(_kprj_MapProjectionEx)));
  if (projection == nullptr) return nullptr;
  projection->textForm = toForm;
  bool complete = convertText(source->name, source->textForm, projection->name, toForm);
  if (complete && source->proParameters != nullptr) {
    projection->proParameters = kprj_ProParametersCopy(source->proParameters, nullptr);
    complete = projection->proParameters != nullptr;
  }
  if (!complete) {
    freeProjection(projection);
    return nullptr;
  }
  return projection;
}

constexpr int kElevationTextCount = 4;

Kprj_Text* elevationTexts(_kprj_ElevationInfo* info, int index) {
  Kprj_Text* texts[kElevationTextCount] = {&info->spheroidName, &info->datumName, &info->unitsName,
                                           &info->kind};
  return texts[index];
}

void freeElevation(_kprj_ElevationInfo* info) {
  if (info == nullptr) return;
  for (int i = 0; i < kElevationTextCount; ++i) freeText(*elevationTexts(info, i));
  kmsc_HeapFree(info);
}

_kprj_ElevationInfo* convertElevation(const _kprj_ElevationInfo* source, int32_t toForm) {
  auto* info = static_cast<_kprj_ElevationInfo*>(kmsc_HeapMalloc(sizeof(_kprj_ElevationInfo)));
  if (info == nullptr) return nullptr;
  info->textForm = toForm;
  info->datumCode = source->datumCode;
  auto* from = const_cast<_kprj_ElevationInfo*>(source);
  for (int i = 0; i < kElevationTextCount; ++i) {
    if (!convertText(*elevationTexts(from, i), source->textForm, *elevationTexts(info, i),
                     toForm)) {
      freeElevation(info);
      return nullptr;
    }
  }
  return info;
}

// The records that come in a narrow and a wide form share their argument
// checks, conversion and release.
_kprj_MapProjectionEx* convertRecord(const _kprj_MapProjectionEx* source, int32_t toForm) {
  return convertProjection(source, toForm);
}
_kprj_ElevationInfo* convertRecord(const _kprj_ElevationInfo* source, int32_t toForm) {
  return convertElevation(source, toForm);
}
void freeRecord(_kprj_MapProjectionEx* projection) {
  freeProjection(projection);
}
void freeRecord(_kprj_ElevationInfo* info) {
  freeElevation(info);
}
const char* recordNoun(const _kprj_MapProjectionEx*) {
  return "projection";
}
const char* recordNoun(const _kprj_ElevationInfo*) {
  return "elevation info";
}

template <typename Record>
Record* recordInForm(KerrFrame& frame, const Record* source, int32_t toForm) {
  if (source == nullptr) return frame.fail(__LINE__, "Args"), nullptr;
  if (!validForm(source->textForm))
    return frame.fail(__LINE__, "Invalid text form %d", source->textForm), nullptr;
  Record* copy = convertRecord(source, toForm);
  if (copy == nullptr) frame.fail(__LINE__, "Out of memory");
  return copy;
}

template <typename Record>
void recordRelease(KerrFrame& frame, Record** record, int32_t expected) {
  if (record == nullptr) return frame.fail(__LINE__, "Args");
  if (*record == nullptr) return;
  int32_t form = (*record)->textForm;
  const char* noun = recordNoun(*record);
  freeRecord(*record);
  *record = nullptr;
  // Freed all the same, so a mismatched call does not leak; the caller still
  // hears about it.
  if (form != expected)
    frame.report(__LINE__, KERR_WARNING, "%s %s given to %s",
                 form == KPRJ_TEXT_WIDE ? "Wide" : "Narrow", noun, frame.label());
}

// The tables' spelling and EPSG code of a datum name an elevation may carry.
bool elevationDatum(const char* name, const char*& canonical, int32_t& code) {
  const Kprj_DatumEntry* datum = kprj_DatumEntryByName(name);
  if (datum == nullptr) datum = kprj_VerticalDatumEntryByName(name);
  if (datum != nullptr) {
    canonical = datum->name;
    code = datum->epsgCode;
    return true;
  }
  if (const Kprj_SpheroidEntry* spheroid = kprj_SpheroidEntryByName(name)) {
    canonical = spheroid->name;
    code = spheroid->datumEpsgCode;
    return true;
  }
  return false;
}

int setCoordinate(KerrFrame& frame, Kprj_MapInfo* info, Kprj_Coordinate Kprj_MapInfo::*member,
                  double x, double y) {
  if (info == nullptr) return frame.fail(__LINE__, "Args"), 0;
  if (!std::isfinite(x) || !std::isfinite(y))
    return frame.fail(__LINE__, "Invalid coordinates %g, %g", x, y), 0;
  info->*member = {x, y};
  return 1;
}

int getCoordinate(const Kprj_MapInfo* info, Kprj_Coordinate Kprj_MapInfo::*member, double* x,
                  double* y) {
  if (info == nullptr || x == nullptr || y == nullptr) return 0;
  *x = (info->*member).x;
  *y = (info->*member).y;
  return 1;
}

int setName(KerrFrame& frame, Kprj_MapInfo* info, char* Kprj_MapInfo::*member, const char* name) {
  if (info == nullptr || name == nullptr) return frame.fail(__LINE__, "Args"), 0;
  char* copy = kstr_Duplicate(name);
  if (copy == nullptr) return frame.fail(__LINE__, "Out of memory"), 0;
  kmsc_HeapFree(info->*member);
  info->*member = copy;
  return 1;
}

}  // namespace

extern "C" {

_kprj_MapProjectionEx* kprj_ProjectionInit(Kint_Init* init, const Kprj_ProParameters* pro,
                                           Kerr_Report** err) {
  return kerrGuard(__func__, err, nullptr, [&]() -> _kprj_MapProjectionEx* {
    static const char* kLabel = "kprj_ProjectionInit";
    KerrFrame frame(kLabel, err);
    if (!kint_InitIsValid(init)) return frame.fail(__LINE__, "Invalid toolkit context"), nullptr;
    if (pro == nullptr) return frame.fail(__LINE__, "Args"), nullptr;
    auto* projection =
        static_cast<_kprj_MapProjectionEx*>(kmsc_HeapMalloc(sizeof(_kprj_MapProjectionEx)));
    if (projection == nullptr) return frame.fail(__LINE__, "Out of memory"), nullptr;
    projection->textForm = KPRJ_TEXT_NARROW;
    projection->name.narrow = kstr_Duplicate(pro->name ? pro->name : "");
    if (projection->name.narrow == nullptr) {
      freeProjection(projection);
      return frame.fail(__LINE__, "Out of memory"), nullptr;
    }
    projection->proParameters = kprj_ProParametersCopy(pro, frame.slot());
    if (projection->proParameters == nullptr) {
      freeProjection(projection);
      return frame.calleeFailed(__LINE__, "kprj_ProParametersCopy"), nullptr;
    }
    return projection;
  });
}

_kprj_MapProjectionEx* kprj_ProjectionCreateByName(const char* name, Kerr_Report** err) {
  return kerrGuard(__func__, err, nullptr, [&]() -> _kprj_MapProjectionEx* {
    static const char* kLabel = "kprj_ProjectionCreateByName";
    KerrFrame frame(kLabel, err);
    if (name == nullptr || name[0] == '\0') return frame.fail(__LINE__, "Args"), nullptr;
    auto* projection =
        static_cast<_kprj_MapProjectionEx*>(kmsc_HeapMalloc(sizeof(_kprj_MapProjectionEx)));
    if (projection != nullptr) {
      projection->textForm = KPRJ_TEXT_NARROW;
      projection->name.narrow = kstr_Duplicate(name);
    }
    if (projection == nullptr || projection->name.narrow == nullptr) {
      freeProjection(projection);
      return frame.fail(__LINE__, "Out of memory"), nullptr;
    }
    return projection;
  });
}

void* kprj_MapProjectionCSRGet(const _kprj_MapProjectionEx* projection, const char* formName) {
  return kerrGuard(__func__, nullptr, nullptr, [&]() -> void* {
    if (projection == nullptr || formName == nullptr) return nullptr;
    if (std::strcmp(formName, KPRJ_FORM_PRO_PARAMETERS) != 0) return nullptr;
    return projection->proParameters;
  });
}

int kprj_MapProjectionConvert(_kprj_MapProjectionEx* projection, const char* formName) {
  return kerrGuard(__func__, nullptr, 0, [&]() -> int {
    if (projection == nullptr || formName == nullptr || !validForm(projection->textForm)) return 0;
    if (std::strcmp(formName, KPRJ_FORM_PRO_PARAMETERS) != 0) return 0;
    if (projection->proParameters != nullptr) return 1;
    Kprj_Text narrow{};
    if (!convertText(projection->name, projection->textForm, narrow, KPRJ_TEXT_NARROW)) return 0;
    projection->proParameters = kprj_ProParametersCreateByName(narrow.narrow, nullptr);
    freeText(narrow);
    return projection->proParameters != nullptr;
  });
}

const char* kprj_MapProjectionName(const _kprj_MapProjectionEx* projection) {
  return kerrGuard(__func__, nullptr, nullptr, [&]() -> const char* {
    if (projection == nullptr || projection->textForm != KPRJ_TEXT_NARROW) return nullptr;
    return projection->name.narrow;
  });
}

const wchar_t* kprj_MapProjectionNameU(const _kprj_MapProjectionEx* projection) {
  return kerrGuard(__func__, nullptr, nullptr, [&]() -> const wchar_t* {
    if (projection == nullptr || projection->textForm != KPRJ_TEXT_WIDE) return nullptr;
    return projection->name.wide;
  });
}

_kprj_MapProjectionEx* kprj_ProjectionCopy(const _kprj_MapProjectionEx* projection, int32_t,
                                           Kerr_Report** err) {
  return kerrGuard(__func__, err, nullptr, [&]() -> _kprj_MapProjectionEx* {
    static const char* kLabel = "kprj_ProjectionCopy";
    KerrFrame frame(kLabel, err);
    return recordInForm(frame, projection, projection ? projection->textForm : 0);
  });
}

void kprj_ProjectionFree(_kprj_MapProjectionEx** projection, Kerr_Report** err) {
  kerrGuardVoid(__func__, err, [&] {
    static const char* kLabel = "kprj_ProjectionFree";
    KerrFrame frame(kLabel, err);
    recordRelease(frame, projection, KPRJ_TEXT_NARROW);
  });
}

void kprj_ProjectionFreeU(_kprj_MapProjectionEx** projection, Kerr_Report** err) {
  kerrGuardVoid(__func__, err, [&] {
    static const char* kLabel = "kprj_ProjectionFreeU";
    KerrFrame frame(kLabel, err);
    recordRelease(frame, projection, KPRJ_TEXT_WIDE);
  });
}

_kprj_MapProjectionEx* kprj_MapProjectionToASCII(const _kprj_MapProjectionEx* wide,
                                                 Kerr_Report** err) {
  return kerrGuard(__func__, err, nullptr, [&]() -> _kprj_MapProjectionEx* {
    static const char* kLabel = "kprj_MapProjectionToASCII";
    KerrFrame frame(kLabel, err);
    return recordInForm(frame, wide, KPRJ_TEXT_NARROW);
  });
}

_kprj_MapProjectionEx* kprj_MapProjectionToUNICODE(const _kprj_MapProjectionEx* narrow,
                                                   Kerr_Report** err) {
  return kerrGuard(__func__, err, nullptr, [&]() -> _kprj_MapProjectionEx* {
    static const char* kLabel = "kprj_MapProjectionToUNICODE";
    KerrFrame frame(kLabel, err);
    return recordInForm(frame, narrow, KPRJ_TEXT_WIDE);
  });
}

_kprj_ElevationInfo* kprj_ElevationInfoCreateByName(const char* spheroidName, const char* datumName,
                                                    const char* unitsName, const char* kind,
                                                    Kerr_Report** err) {
  return kerrGuard(__func__, err, nullptr, [&]() -> _kprj_ElevationInfo* {
    static const char* kLabel = "kprj_ElevationInfoCreateByName";
    KerrFrame frame(kLabel, err);
    if (spheroidName == nullptr || datumName == nullptr || unitsName == nullptr || kind == nullptr)
      return frame.fail(__LINE__, "Args"), nullptr;
    const char* spheroid = kUndefined;
    if (!kstr_Eqic(spheroidName, kUndefined)) {
      const Kprj_SpheroidEntry* entry = kprj_SpheroidEntryByName(spheroidName);
      if (entry == nullptr)
        return frame.fail(__LINE__, "Unknown spheroid %s", spheroidName), nullptr;
      spheroid = entry->name;
    }
    const char* datum = nullptr;
    int32_t datumCode = 0;
    if (!elevationDatum(datumName, datum, datumCode))
      return frame.fail(__LINE__, "Unknown datum %s", datumName), nullptr;
    if (unitsName[0] == '\0') return frame.fail(__LINE__, "Empty units name"), nullptr;
    const char* kindName = kstr_Eqic(kind, "height")  ? "height"
                           : kstr_Eqic(kind, "depth") ? "depth"
                                                      : nullptr;
    if (kindName == nullptr)
      return frame.fail(__LINE__, "Unknown elevation kind %s", kind), nullptr;

    auto* info = static_cast<_kprj_ElevationInfo*>(kmsc_HeapMalloc(sizeof(_kprj_ElevationInfo)));
    if (info == nullptr) return frame.fail(__LINE__, "Out of memory"), nullptr;
    info->textForm = KPRJ_TEXT_NARROW;
    info->datumCode = datumCode;
    const char* values[kElevationTextCount] = {spheroid, datum, unitsName, kindName};
    for (int i = 0; i < kElevationTextCount; ++i) {
      elevationTexts(info, i)->narrow = kstr_Duplicate(values[i]);
      if (elevationTexts(info, i)->narrow == nullptr) {
        freeElevation(info);
        return frame.fail(__LINE__, "Out of memory"), nullptr;
      }
    }
    return info;
  });
}

void kprj_ElevationInfoFree(_kprj_ElevationInfo** info, Kerr_Report** err) {
  kerrGuardVoid(__func__, err, [&] {
    static const char* kLabel = "kprj_ElevationInfoFree";
    KerrFrame frame(kLabel, err);
    recordRelease(frame, info, KPRJ_TEXT_NARROW);
  });
}

void kprj_ElevationInfoFreeU(_kprj_ElevationInfo** info, Kerr_Report** err) {
  kerrGuardVoid(__func__, err, [&] {
    static const char* kLabel = "kprj_ElevationInfoFreeU";
    KerrFrame frame(kLabel, err);
    recordRelease(frame, info, KPRJ_TEXT_WIDE);
  });
}

_kprj_ElevationInfo* kprj_ElevationInfoCopy(const _kprj_ElevationInfo* info, Kerr_Report** err) {
  return kerrGuard(__func__, err, nullptr, [&]() -> _kprj_ElevationInfo* {
    static const char* kLabel = "kprj_ElevationInfoCopy";
    KerrFrame frame(kLabel, err);
    return recordInForm(frame, info, info ? info->textForm : 0);
  });
}

_kprj_ElevationInfo* kprj_ElevationInfoToASCII(const _kprj_ElevationInfo* wide, Kerr_Report** err) {
  return kerrGuard(__func__, err, nullptr, [&]() -> _kprj_ElevationInfo* {
    static const char* kLabel = "kprj_ElevationInfoToASCII";
    KerrFrame frame(kLabel, err);
    return recordInForm(frame, wide, KPRJ_TEXT_NARROW);
  });
}

_kprj_ElevationInfo* kprj_ElevationInfoToUNICODE(const _kprj_ElevationInfo* narrow,
                                                 Kerr_Report** err) {
  return kerrGuard(__func__, err, nullptr, [&]() -> _kprj_ElevationInfo* {
    static const char* kLabel = "kprj_ElevationInfoToUNICODE";
    KerrFrame frame(kLabel, err);
    return recordInForm(frame, narrow, KPRJ_TEXT_WIDE);
  });
}

Kprj_MapInfo* kprj_MapInfoCreate(Kerr_Report** err) {
  return kerrGuard(__func__, err, nullptr, [&]() -> Kprj_MapInfo* {
    static const char* kLabel = "kprj_MapInfoCreate";
    KerrFrame frame(kLabel, err);
    auto* info = static_cast<Kprj_MapInfo*>(kmsc_HeapMalloc(sizeof(Kprj_MapInfo)));
    if (info != nullptr) {
      info->proName = kstr_Duplicate(kprj_ProjectionNameUnknown());
      info->units = kstr_Duplicate(kprj_UnitsNameOther());
    }
    if (info == nullptr || info->proName == nullptr || info->units == nullptr) {
      kprj_MapInfoFree(&info, nullptr);
      return frame.fail(__LINE__, "Out of memory"), nullptr;
    }
    return info;
  });
}

void kprj_MapInfoFree(Kprj_MapInfo** info, Kerr_Report** err) {
  kerrGuardVoid(__func__, err, [&] {
    static const char* kLabel = "kprj_MapInfoFree";
    KerrFrame frame(kLabel, err);
    if (info == nullptr) return frame.fail(__LINE__, "Args");
    if (*info == nullptr) return;
    kmsc_HeapFree((*info)->proName);
    kmsc_HeapFree((*info)->units);
    kmsc_HeapFree(*info);
    *info = nullptr;
  });
}

int kprj_MapInfoUpperLeftCenterSet(Kprj_MapInfo* info, double x, double y, Kerr_Report** err) {
  return kerrGuard(__func__, err, 0, [&]() -> int {
    static const char* kLabel = "kprj_MapInfoUpperLeftCenterSet";
    KerrFrame frame(kLabel, err);
    return setCoordinate(frame, info, &Kprj_MapInfo::upperLeftCenter, x, y);
  });
}

int kprj_MapInfoLowerRightCenterSet(Kprj_MapInfo* info, double x, double y, Kerr_Report** err) {
  return kerrGuard(__func__, err, 0, [&]() -> int {
    static const char* kLabel = "kprj_MapInfoLowerRightCenterSet";
    KerrFrame frame(kLabel, err);
    return setCoordinate(frame, info, &Kprj_MapInfo::lowerRightCenter, x, y);
  });
}

int kprj_MapInfoPixelSizeSet(Kprj_MapInfo* info, double x, double y, Kerr_Report** err) {
  return kerrGuard(__func__, err, 0, [&]() -> int {
    static const char* kLabel = "kprj_MapInfoPixelSizeSet";
    KerrFrame frame(kLabel, err);
    return setCoordinate(frame, info, &Kprj_MapInfo::pixelSize, x, y);
  });
}

int kprj_MapInfoProjectionNameSet(Kprj_MapInfo* info, const char* name, Kerr_Report** err) {
  return kerrGuard(__func__, err, 0, [&]() -> int {
    static const char* kLabel = "kprj_MapInfoProjectionNameSet";
    KerrFrame frame(kLabel, err);
    return setName(frame, info, &Kprj_MapInfo::proName, name);
  });
}

int kprj_MapInfoUnitsSet(Kprj_MapInfo* info, const char* units, Kerr_Report** err) {
  return kerrGuard(__func__, err, 0, [&]() -> int {
    static const char* kLabel = "kprj_MapInfoUnitsSet";
    KerrFrame frame(kLabel, err);
    return setName(frame, info, &Kprj_MapInfo::units, units);
  });
}

int kprj_MapInfoUpperLeftCenterGet(const Kprj_MapInfo* info, double* x, double* y) {
  return getCoordinate(info, &Kprj_MapInfo::upperLeftCenter, x, y);
}

int kprj_MapInfoLowerRightCenterGet(const Kprj_MapInfo* info, double* x, double* y) {
  return getCoordinate(info, &Kprj_MapInfo::lowerRightCenter, x, y);
}

int kprj_MapInfoPixelSizeGet(const Kprj_MapInfo* info, double* x, double* y) {
  return getCoordinate(info, &Kprj_MapInfo::pixelSize, x, y);
}

const char* kprj_MapInfoProjectionNameGet(const Kprj_MapInfo* info) {
  return info != nullptr ? info->proName : nullptr;
}

const char* kprj_MapInfoUnitsGet(const Kprj_MapInfo* info) {
  return info != nullptr ? info->units : nullptr;
}

}  // extern "C"
