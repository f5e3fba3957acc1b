// How other software names the system of a record: the EPSG code the record
// is written back as (found by writing its keys in memory, so that the
// description and a copy never disagree), the registry's name for it, and
// PROJ's WKT2.
#include <geotiffio.h>

#include <memory>

#include "epsg_helper.h"
#include "citation.h"
#include "geocoding.h"
#include "kerr_guard.h"
#include "kgtf.h"
#include "kgtf_internal.h"
#include "kmsc.h"
#include "tables.h"

namespace {

// The standard code of the system the keys name: the projected system's
// when there is one, else the geographic; 0 for a user-defined one.
int32_t systemCode(GTIF* gtif) {
  uint16_t code = 0;
  if (!GeoKeyShortGet(gtif, ProjectedCSTypeGeoKey, &code))
    GeoKeyShortGet(gtif, GeographicTypeGeoKey, &code);
  return code != 0 && code < kUserDefined ? code : 0;
}

}  // namespace

extern "C" void kgtf_GeoTIFFParamsCRSDescribe(const Kgtf_GeoTIFFParams* params,
                                              Kgtf_CRSDescription* description, Kerr_Report** err) {
  kerrGuardVoid(__func__, err, [&] {
    KerrFrame frame("kgtf_GeoTIFFParamsCRSDescribe", err, KERR_PRINT_NOVSL);
    if (description != nullptr) *description = Kgtf_CRSDescription{};
    if (params == nullptr || description == nullptr) return frame.fail(__LINE__, "Args");

    int32_t declared = 0;
    if (params->metaData != nullptr) {
      GtifPtr read(GTIFNew(nullptr));
      if (!read) return frame.fail(__LINE__, "GTIFNew failed");
      MetaDataKeysReplay(read.get(), params->metaData);
      declared = systemCode(read.get());
    }
    const auto* pro = params->projection != nullptr
                          ? static_cast<const Kprj_ProParameters*>(kprj_MapProjectionCSRGet(
                                params->projection, KPRJ_FORM_PRO_PARAMETERS))
                          : nullptr;
    if (pro != nullptr) {
      GtifPtr written(GTIFNew(nullptr));
      if (!written) return frame.fail(__LINE__, "GTIFNew failed");
      // What the writer cannot say only means that there is no code.
      Kerr_Report* dropped = nullptr;
      GeoTIFFGeocodingSet(written.get(), params->projectionName, params->unitsName,
                          params->projection, &dropped);
      kerr_DeleteErrorReportEx(&dropped);
      description->epsgCode = systemCode(written.get());
      if (description->epsgCode != 0)
        description->name = GetEPSGName(description->epsgCode, &description->wkt);
      if (description->wkt == nullptr)
        description->wkt = GetWKTFromProParameters(pro, params->unitsName);
    }
    description->approximate = declared != 0 && declared != description->epsgCode;
  });
}

extern "C" void kgtf_CRSDescriptionClear(Kgtf_CRSDescription* description) {
  if (description == nullptr) return;
  kmsc_HeapFree(description->name);
  kmsc_HeapFree(description->wkt);
  *description = Kgtf_CRSDescription{};
}
