// The GeoTIFF parameter record: allocation, copies, and the georeferencing and
// geocoding accessors with their half-pixel conversions.
#include "kgtf_internal.h"

#include "kerr_frame.h"
#include "kerr_guard.h"
#include "kint.h"
#include "kmsc.h"

namespace {

const char* const kProParametersForm = "Kprj_ProParameters";

// A transform shifted by (dx, dy) in raster space: (c, r) -> T(c + dx, r + dy).
// Owns `xform`; reports under the shared half-pixel label.
Kxfr_XForm* shiftRaster(Kxfr_XForm* xform, double dx, double dy) {
  static const char* kLabel = "GeoTIFFXFormToPixelIsArea";
  KerrFrame frame(kLabel, nullptr, KERR_PRINT_NOVSL);
  Kxfr_XForm* result = nullptr;
  Kxfr_XForm* translation = kxfr_XFormTranslate(nullptr, dx, dy, frame.slot());
  if (translation == nullptr) {
    frame.calleeFailed(__LINE__, "kxfr_XFormTranslate");
  } else {
    result = kxfr_XFormCompose(xform, translation, 0, frame.slot());
    if (result == nullptr) frame.calleeFailed(__LINE__, "kxfr_XFormCompose");
  }
  if (frame.hasReport()) frame.showAndDrop();
  kxfr_XFormFree(&translation, nullptr);
  kxfr_XFormFree(&xform, nullptr);
  return result;
}

// A new map projection built from the parameter form of `projection`.
_kprj_MapProjectionEx* projectionRebuild(const _kprj_MapProjectionEx* projection,
                                         Kerr_Report** err) {
  const auto* form = static_cast<const Kprj_ProParameters*>(
      kprj_MapProjectionCSRGet(projection, kProParametersForm));
  return kprj_ProjectionInit(kint_GetInit(), form, err);
}

// Duplicates `text`, or `fallback` when it is null.
char* duplicateOr(const char* text, const char* fallback) {
  return kstr_Duplicate(text != nullptr ? text : fallback);
}

}  // namespace

Kxfr_XForm* GeoTIFFXFormToPixelIsArea(Kxfr_XForm* xform) {
  return shiftRaster(xform, -0.5, -0.5);
}

Kxfr_XForm* GeoTIFFXFormToPixelIsPoint(Kxfr_XForm* xform) {
  return shiftRaster(xform, 0.5, 0.5);
}

extern "C" {

Kgtf_GeoTIFFParams* kgtf_GeoTIFFParamsAllocate(void) {
  return kerrGuard(__func__, nullptr, nullptr, [&]() -> Kgtf_GeoTIFFParams* {
    auto* params = static_cast<Kgtf_GeoTIFFParams*>(kmsc_HeapMalloc(sizeof(Kgtf_GeoTIFFParams)));
    if (params != nullptr) params->rasterType = KGTF_RASTER_PIXEL_IS_AREA;
    return params;
  });
}

void kgtf_GeoTIFFParamsFree(Kgtf_GeoTIFFParams** params) {
  kerrGuardVoid(__func__, nullptr, [&] {
    if (params == nullptr || *params == nullptr) return;
    Kgtf_GeoTIFFParams* record = *params;
    kstr_StringListDelete(&record->metaData, nullptr);
    kxfr_XFormFree(&record->xform, nullptr);
    kprj_ProjectionFree(&record->projection, nullptr);
    kmsc_HeapFree(record->projectionName);
    kmsc_HeapFree(record->unitsName);
    kmsc_HeapFree(record);
    *params = nullptr;
  });
}

Kgtf_GeoTIFFParams* kgtf_GeoTIFFParamsCopy(const Kgtf_GeoTIFFParams* src) {
  return kerrGuard(__func__, nullptr, nullptr, [&]() -> Kgtf_GeoTIFFParams* {
    static const char* kLabel = "kgtf_GeoTIFFParamsCopy";
    if (src == nullptr) return nullptr;
    KerrFrame frame(kLabel, nullptr, KERR_PRINT_NOVSL);
    Kgtf_GeoTIFFParams* copy = kgtf_GeoTIFFParamsAllocate();
    if (copy == nullptr) {
      frame.calleeFailed(__LINE__, "kgtf_GeoTIFFParamsAllocate");
      frame.showAndDrop();
      return nullptr;
    }
    copy->rasterType = src->rasterType;
    if (src->xform != nullptr &&
        (copy->xform = kxfr_XFormCopy(src->xform, frame.slot())) == nullptr)
      frame.calleeFailed(__LINE__, "kxfr_XFormCopy");
    copy->georeferencingChanged = src->georeferencingChanged;
    if (!frame.hasReport() &&
        ((src->projectionName && !(copy->projectionName = kstr_Duplicate(src->projectionName))) ||
         (src->unitsName && !(copy->unitsName = kstr_Duplicate(src->unitsName)))))
      frame.calleeFailed(__LINE__, "kstr_Duplicate");
    if (!frame.hasReport() && src->projection != nullptr &&
        (copy->projection = projectionRebuild(src->projection, frame.slot())) == nullptr)
      frame.calleeFailed(__LINE__, "kprj_ProjectionInit");
    copy->geocodingChanged = src->geocodingChanged;
    if (!frame.hasReport() && src->metaData != nullptr &&
        (copy->metaData = kstr_StringListCopy(src->metaData, 0, frame.slot())) == nullptr)
      frame.calleeFailed(__LINE__, "kstr_StringListCopy");
    if (frame.hasReport()) {
      frame.showAndDrop();
      kgtf_GeoTIFFParamsFree(&copy);
    }
    return copy;
  });
}

void kgtf_GeoTIFFParamsGeoreferencingGet(const Kgtf_GeoTIFFParams* params, Kxfr_XForm** xform,
                                         char** projectionName, char** unitsName,
                                         Kerr_Report** err) {
  kerrGuardVoid(__func__, err, [&] {
    static const char* kLabel = "kgtf_GeoTIFFParamsGeoreferencingGet";
    KerrFrame frame(kLabel, err, KERR_PRINT_NOVSL);
    if (xform != nullptr) *xform = nullptr;
    if (projectionName != nullptr) *projectionName = nullptr;
    if (unitsName != nullptr) *unitsName = nullptr;
    if (params == nullptr || params->xform == nullptr) return;

    Kxfr_XForm* hostXForm = nullptr;
    char* projection = nullptr;
    char* units = nullptr;
    if (xform != nullptr) {
      hostXForm = kxfr_XFormCopy(params->xform, frame.slot());
      if (hostXForm == nullptr) {
        frame.calleeFailed(__LINE__, "kxfr_XFormCopy");
      } else if (params->rasterType == KGTF_RASTER_PIXEL_IS_AREA &&
                 (hostXForm = GeoTIFFXFormToPixelIsPoint(hostXForm)) == nullptr) {
        frame.fail(__LINE__, "GeoTIFFXFormToPixelIsPoint failed");
      }
    }
    if (!frame.hasReport() && projectionName != nullptr &&
        (projection = duplicateOr(params->projectionName, kprj_ProjectionNameUnknown())) == nullptr)
      frame.calleeFailed(__LINE__, "kstr_Duplicate");
    if (!frame.hasReport() && unitsName != nullptr &&
        (units = duplicateOr(params->unitsName, kprj_UnitsNameOther())) == nullptr)
      frame.calleeFailed(__LINE__, "kstr_Duplicate");

    if (frame.hasReport()) {
      kxfr_XFormFree(&hostXForm, nullptr);
      kmsc_HeapFree(projection);
      kmsc_HeapFree(units);
      return;
    }
    if (xform != nullptr) *xform = hostXForm;
    if (projectionName != nullptr) *projectionName = projection;
    if (unitsName != nullptr) *unitsName = units;
  });
}

void kgtf_GeoTIFFParamsGeoreferencingSet(Kgtf_GeoTIFFParams* params, const Kxfr_XForm* xform,
                                         const char* projectionName, const char* unitsName,
                                         Kerr_Report** err) {
  kerrGuardVoid(__func__, err, [&] {
    static const char* kLabel = "kgtf_GeoTIFFParamsGeoreferencingSet";
    KerrFrame frame(kLabel, err, KERR_PRINT_NOVSL);
    if (params == nullptr) return frame.fail(__LINE__, "Args");
    if (xform == nullptr) {
      kxfr_XFormFree(&params->xform, nullptr);
      params->georeferencingChanged = 1;
      return;
    }
    char* projection = duplicateOr(projectionName, kprj_ProjectionNameUnknown());
    char* units = projection ? duplicateOr(unitsName, kprj_UnitsNameOther()) : nullptr;
    Kxfr_XForm* stored = nullptr;
    if (projection == nullptr || units == nullptr) {
      frame.calleeFailed(__LINE__, "kstr_Duplicate");
    } else if ((stored = kxfr_XFormCopy(xform, frame.slot())) == nullptr) {
      frame.calleeFailed(__LINE__, "kxfr_XFormCopy");
    } else if (params->rasterType == KGTF_RASTER_PIXEL_IS_AREA &&
               (stored = GeoTIFFXFormToPixelIsArea(stored)) == nullptr) {
      frame.fail(__LINE__, "GeoTIFFXFormToPixelIsArea failed");
    }
    if (frame.hasReport()) {
      kmsc_HeapFree(projection);
      kmsc_HeapFree(units);
      kxfr_XFormFree(&stored, nullptr);
      return;
    }
    kmsc_HeapFree(params->projectionName);
    kmsc_HeapFree(params->unitsName);
    kxfr_XFormFree(&params->xform, nullptr);
    params->projectionName = projection;
    params->unitsName = units;
    params->xform = stored;
    params->georeferencingChanged = 1;
  });
}

void kgtf_GeoTIFFParamsGeocodingGet(const Kgtf_GeoTIFFParams* params,
                                    _kprj_MapProjectionEx** projection, Kerr_Report** err) {
  kerrGuardVoid(__func__, err, [&] {
    static const char* kLabel = "kgtf_GeoTIFFParamsGeocodingGet";
    KerrFrame frame(kLabel, err, KERR_PRINT_NOVSL);
    if (projection == nullptr) return frame.fail(__LINE__, "Args");
    *projection = nullptr;
    if (params == nullptr || params->projection == nullptr) return;
    *projection = projectionRebuild(params->projection, frame.slot());
    if (frame.hasReport()) frame.calleeFailed(__LINE__, "kprj_ProjectionInit");
  });
}

void kgtf_GeoTIFFParamsGeocodingSet(Kgtf_GeoTIFFParams* params,
                                    const _kprj_MapProjectionEx* projection, Kerr_Report** err) {
  kerrGuardVoid(__func__, err, [&] {
    static const char* kLabel = "kgtf_GeoTIFFParamsGeocodingSet";
    KerrFrame frame(kLabel, err, KERR_PRINT_NOVSL);
    if (params == nullptr) return frame.fail(__LINE__, "Args");
    if (projection == nullptr) {
      char* unknown = kstr_Duplicate(kprj_ProjectionNameUnknown());
      if (unknown == nullptr) return frame.calleeFailed(__LINE__, "kstr_Duplicate");
      kprj_ProjectionFree(&params->projection, nullptr);
      kmsc_HeapFree(params->projectionName);
      params->projectionName = unknown;
      params->geocodingChanged = 1;
      return;
    }
    _kprj_MapProjectionEx* copy = kprj_ProjectionCopy(projection, 0, frame.slot());
    if (copy == nullptr) return frame.calleeFailed(__LINE__, "kprj_ProjectionCopy");
    char* name = nullptr;
    if (kprj_MapProjectionConvert(copy, kProParametersForm) == 0) {
      frame.fail(__LINE__, "kprj_MapProjectionConvert failed");
    } else {
      const auto* form = static_cast<const Kprj_ProParameters*>(
          kprj_MapProjectionCSRGet(copy, kProParametersForm));
      if ((name = kstr_Duplicate(form != nullptr ? form->name : nullptr)) == nullptr)
        frame.calleeFailed(__LINE__, "kstr_Duplicate");
    }
    if (frame.hasReport()) {
      kprj_ProjectionFree(&copy, nullptr);
      return;
    }
    kprj_ProjectionFree(&params->projection, nullptr);
    kmsc_HeapFree(params->projectionName);
    params->projection = copy;
    params->projectionName = name;
    params->geocodingChanged = 1;
  });
}

}  // extern "C"
