// EPSGHelper: EPSG codes to narrow host projections and back, through the one
// translator the library keeps.
#include "epsg_helper.h"

#include <cfenv>
#include <climits>
#include <cstdlib>
#include <stdexcept>

#include "epsg_translator.h"
#include "kerr_exception.h"
#include "kerr_frame.h"
#include "kerr_guard.h"
#include "kgtf.h"
#include "kprj_legacy.h"
#include "kstr.h"
#include "ktxt.h"

namespace {

const char* kSource = "EPSGHelper";

EPSGTranslator* gTranslator = nullptr;
bool gTranslatorDestroyed = false;

void destroyTranslator() {
  delete gTranslator;
  gTranslator = nullptr;
  gTranslatorDestroyed = true;
}

// Created on first use; destroyed by the exit handler registered then, which
// runs when the library is unloaded or the process ends.
EPSGTranslator& translator() {
  if (gTranslator == nullptr) {
    if (gTranslatorDestroyed) throw std::logic_error("Dead Reference Detected");
    gTranslator = new EPSGTranslator();
    std::atexit(destroyTranslator);
  }
  return *gTranslator;
}

// A failed translation may leave floating-point exception flags or modes
// behind; the host expects the default environment.
void resetFloatingPoint() {
  std::feclearexcept(FE_ALL_EXCEPT);
  std::fesetenv(FE_DFL_ENV);
}

}  // namespace

void GetProjAndUnitsFromEPSG(int32_t code, _kprj_MapProjectionEx** projection, char** units) {
  KerrExceptionA frame(kSource, "GetProjAndUnitsFromEPSG");
  if (units != nullptr) *units = nullptr;
  if (projection != nullptr) *projection = nullptr;
  if (projection == nullptr || units == nullptr) frame.Throw(__LINE__, "Args");
  if (code == 0) frame.Throw(__LINE__, "Can not use EPSG code to get a valid mapProjection");

  LegacyHelperTemplate<_kprj_MapProjectionEx, KtxtTextU> wideProjection;
  LegacyHelperTemplate<_kprj_ElevationInfo, KtxtTextU> wideElevation;
  KtxtTextU wideUnits;
  const long epsgCode = code;
  const long noVerticalCode = 0;
  translator().exportToEPRJ(epsgCode, noVerticalCode, wideProjection, wideUnits, wideElevation);

  KtxtTextA narrowUnits;
  narrowUnits.adopt(ktxt_Text_Unicode2Ascii(wideUnits.c_str()));
  LegacyHelperTemplate<_kprj_MapProjectionEx, KtxtTextA> narrow(
      kprj_MapProjectionToASCII(wideProjection.get(), frame.slot()));
  frame.Check(__LINE__);
  if (narrowUnits.get() == nullptr || !narrow) frame.Throw(__LINE__, "Out of memory");
  *units = narrowUnits.release();
  *projection = narrow.release();
}

Kprj_ProParameters* GetProParametersFromEPSGConversion(int32_t code, double semiMajor,
                                                       double semiMinor) {
  return translator().exportConversion(code, semiMajor, semiMinor);
}

Kprj_ProParameters* GetProParametersFromDefinition(const char* definition, double semiMajor,
                                                   double semiMinor) {
  if (definition == nullptr) throw std::invalid_argument("No definition");
  return translator().exportProjectedDefinition(definition, semiMajor, semiMinor);
}

char* GetEPSGName(int32_t code, char** wkt) {
  *wkt = nullptr;
  try {
    std::string text;
    std::string name = translator().exportName(code, text);
    *wkt = kstr_Duplicate(text.c_str());
    return kstr_Duplicate(name.c_str());
  } catch (...) {
    resetFloatingPoint();
    return nullptr;
  }
}

char* GetWKTFromProParameters(const Kprj_ProParameters* pro, const char* units) {
  try {
    return kstr_Duplicate(translator().exportWKT(*pro, units ? units : "").c_str());
  } catch (...) {
    resetFloatingPoint();
    return nullptr;
  }
}

bool EPSGCodeDeprecated(int32_t code) {
  try {
    return translator().isDeprecated(code);
  } catch (...) {
    resetFloatingPoint();
    return false;
  }
}

bool GetUnitFactorFromEPSG(int32_t code, bool angular, double* factor) {
  try {
    *factor = translator().exportUnitFactor(code, angular);
    return true;
  } catch (...) {
    resetFloatingPoint();
    return false;
  }
}

char* GetUnitsNameFromEPSG(int32_t code) {
  try {
    return kstr_Duplicate(translator().exportUnits(code).c_str());
  } catch (...) {
    resetFloatingPoint();
    return nullptr;  // the caller keeps its own default
  }
}

Kprj_Spheroid* GetSpheroidFromEPSGDatum(int32_t code, bool geographicSystem) {
  return geographicSystem ? translator().exportGeographicDatum(code)
                          : translator().exportDatum(code);
}

int32_t GetEPSGCode(const _kprj_MapProjectionEx* projection, const char* units,
                    bool projectedOnly) {
  KerrExceptionA frame(kSource, "GetEPSGCode");
  long code = 0;
  long verticalCode = 0;
  try {
    LegacyHelperTemplate<_kprj_MapProjectionEx, KtxtTextU> wideProjection(
        kprj_MapProjectionToUNICODE(projection, frame.slot()));
    frame.Check(__LINE__);
    KtxtTextU wideUnits;
    wideUnits.adopt(ktxt_Text_Ascii2Unicode(units));
    LegacyHelperTemplate<_kprj_ElevationInfo, KtxtTextU> noElevation;
    translator().importFromEPRJ(wideProjection, wideUnits, noElevation, code, verticalCode,
                                projectedOnly);
  } catch (const KorvoLog::Exception& e) {
    resetFloatingPoint();
    e.Log(__LINE__);
  } catch (const std::exception& e) {
    resetFloatingPoint();
    frame.Log(__LINE__, e.what());
  } catch (...) {
    resetFloatingPoint();
    frame.Log(__LINE__);
  }
  return code > 0 && code <= INT32_MAX ? static_cast<int32_t>(code) : 0;
}

extern "C" void kgtf_ProjectionFromEPSG(int32_t code, _kprj_MapProjectionEx** projection,
                                        char** unitsName, Kerr_Report** err) {
  kerrGuardVoid(__func__, err, [&] {
    KerrFrame frame("kgtf_ProjectionFromEPSG", err);
    if (projection == nullptr || unitsName == nullptr) return frame.fail(__LINE__, "Args");
    // The helper reports by exception; the guard turns it into this report.
    GetProjAndUnitsFromEPSG(code, projection, unitsName);
  });
}
