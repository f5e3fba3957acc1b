// The read driver: an image's georeferencing tags, GeoKeys and our citation
// into one Kgtf_GeoTIFFParams record, with the transform in the host's units.
#include <cstring>
#include <exception>

#include <geotiffio.h>
#include <tiffio.h>

#include "citation.h"
#include "geocoding.h"
#include "georeferencing.h"
#include "kerr_guard.h"
#include "kgtf_internal.h"
#include "kerr_frame.h"
#include "kmsc.h"
#include "kstr.h"
#include "tiff_diagnostics.h"

namespace {

// Two earlier releases wrote the citation with the units conversion the other
// way round (GeoKey units named as host units); they are recognised by their
// label and identification line, 97 characters in all.
constexpr size_t kIdentificationLength = 97;
const char* const kEarlierIdentifications[] = {
    "ktiflib GeoTIFF Support\n"
    "Georeferencing by ktiflib 1.0; the GeoKeys carry the host map units only.",
    "ktiflib GeoTIFF Support\n"
    "Georeferencing by ktiflib 2.0; GeoKey units converted to the host on read",
};

// Reads GTCitationGeoKey into a new heap string; null without a citation (and
// no report), or null with "No memory".
char* citationRead(GTIF* gtif, KerrFrame& frame) {
  int size = 0;
  int count = GTIFKeyInfo(gtif, GTCitationGeoKey, &size, nullptr);
  if (count <= 0) return nullptr;
  if (size <= 0 || static_cast<size_t>(count) > (SIZE_MAX - 1) / static_cast<size_t>(size))
    return frame.fail(__LINE__, "No memory"), nullptr;
  size_t bytes = static_cast<size_t>(count) * static_cast<size_t>(size) + 1;
  char* text = static_cast<char*>(kmsc_HeapMalloc(bytes));
  if (text == nullptr) return frame.fail(__LINE__, "No memory"), nullptr;
  GTIFKeyGet(gtif, GTCitationGeoKey, text, 0, 0);
  text[bytes - 1] = '\0';
  return text;
}

bool writtenByEarlierRelease(const char* citation) {
  for (const char* identification : kEarlierIdentifications)
    if (std::strlen(citation) >= kIdentificationLength &&
        std::strncmp(citation, identification, kIdentificationLength) == 0)
      return true;
  return false;
}

bool isNoValue(const char* text) {
  return text == nullptr || std::strcmp(text, "?") == 0;
}

// Everything the driver owns while it runs; freed whatever the road taken.
struct ReadState {
  GTIF* gtif = nullptr;
  char* geoKeyUnits = nullptr;
  char* citationUnits = nullptr;
  char* citationProjectionName = nullptr;
  char* citation = nullptr;
  Kxfr_XForm* unitsXForm = nullptr;
  ~ReadState() {
    if (gtif != nullptr) GTIFFree(gtif);
    kmsc_HeapFree(geoKeyUnits);
    kmsc_HeapFree(citationUnits);
    kmsc_HeapFree(citationProjectionName);
    kmsc_HeapFree(citation);
    kxfr_XFormFree(&unitsXForm, nullptr);
  }
};

// The transform, read in GeoKey units, moved into the host units the citation
// names. Returns false with a report in the frame.
bool unitsApply(KerrFrame& frame, ReadState& state, Kgtf_GeoTIFFParams* record) {
  if (record->unitsName == nullptr) {
    record->unitsName = state.geoKeyUnits;
    state.geoKeyUnits = nullptr;
    if (record->unitsName == nullptr) {
      record->unitsName = kstr_Duplicate(kprj_UnitsNameOther());
      if (record->unitsName == nullptr) return frame.fail(__LINE__, "kstr_Duplicate failed"), false;
    }
    return true;
  }
  state.citation = citationRead(state.gtif, frame);
  if (frame.hasReport()) return false;
  if (state.citation != nullptr) {
    state.unitsXForm =
        writtenByEarlierRelease(state.citation)
            ? kxfr_XFormCreateFromUnits(0, record->unitsName, state.geoKeyUnits, frame.slot())
            : kxfr_XFormCreateFromUnits(0, state.geoKeyUnits, record->unitsName, frame.slot());
    if (state.unitsXForm == nullptr)
      return frame.calleeFailed(__LINE__, "kxfr_XFormCreateFromUnits"), false;
  }
  Kxfr_XForm* converted = kxfr_XFormCompose(state.unitsXForm, record->xform, 0, frame.slot());
  if (converted == nullptr) return frame.calleeFailed(__LINE__, "kxfr_XFormCompose"), false;
  kxfr_XFormFree(&record->xform, nullptr);
  record->xform = converted;
  return true;
}

void paramsRead(KerrFrame& frame, TIFF* tif, Kgtf_GeoTIFFParams** params) {
  Kgtf_GeoTIFFParams* record = kgtf_GeoTIFFParamsAllocate();
  if (record == nullptr) return frame.fail(__LINE__, "kgtf_GeoTIFFParamsAllocate failed");
  *params = record;

  ReadState state;
  state.gtif = ktifGtifNew(tif);
  if (state.gtif == nullptr) return frame.fail(__LINE__, "GTIFNew failed");
  GTIFPrint(state.gtif, GeoTIFFMetaDataPrintMethod, &record->metaData);

  GeoTIFFGeoreferencingGet(tif, state.gtif, &record->rasterType, &record->xform, frame.slot());
  // An unreadable transform leaves the record as far as it got, listing
  // included; the caller still gets a usable record.
  if (frame.hasReport()) return frame.drop();
  record->georeferencingChanged = 0;

  bool contained = geocodingContain(frame, [&] {
    GeoTIFFGeocodingGet(state.gtif, &record->projectionName, &state.geoKeyUnits,
                        &record->projection, frame.slot());
  });
  (void)contained;
  if (frame.hasReport()) frame.warn(__LINE__, 1, "GeoTIFFGeocodingGet failed");
  record->geocodingChanged = 0;

  char* citationGeoTIFFUnits = nullptr;
  UnitsAndProjectionNameGet(state.gtif, &record->unitsName, &citationGeoTIFFUnits,
                            &state.citationProjectionName, frame.slot());
  state.citationUnits = citationGeoTIFFUnits;
  if (frame.hasReport()) frame.showAndDrop();

  // Keys in units the host cannot name, and a citation that remembers which
  // units they were: trust the citation, unless a projection said otherwise.
  if (state.geoKeyUnits != nullptr && std::strcmp(state.geoKeyUnits, kprj_UnitsNameOther()) == 0 &&
      !isNoValue(state.citationUnits) && std::strcmp(state.citationUnits, state.geoKeyUnits) != 0 &&
      record->projection == nullptr) {
    char* units = kstr_Duplicate(state.citationUnits);
    if (units == nullptr) return frame.fail(__LINE__, "kstr_Duplicate failed");
    kmsc_HeapFree(state.geoKeyUnits);
    state.geoKeyUnits = units;
  }

  if (record->projectionName == nullptr ||
      std::strcmp(record->projectionName, kprj_ProjectionNameUnknown()) == 0) {
    kmsc_HeapFree(record->projectionName);
    record->projectionName = state.citationProjectionName;
    state.citationProjectionName = nullptr;
  }

  if (record->xform != nullptr && !unitsApply(frame, state, record)) return;
}

}  // namespace

extern "C" void kgtf_GeoTIFFParamsRead(TIFF* tif, Kgtf_GeoTIFFParams** params, Kerr_Report** err) {
  kerrGuardVoid(__func__, err, [&] {
    static const char* kLabel = "kgtf_GeoTIFFParamsRead";
    KerrFrame frame(kLabel, err, KERR_PRINT_NOVSL);
    if (params == nullptr) return frame.fail(__LINE__, "Args");
    *params = nullptr;
    if (tif == nullptr) return frame.fail(__LINE__, "Args");
    try {
      paramsRead(frame, tif, params);
    } catch (std::exception& e) {
      frame.fail(__LINE__, "%s", e.what());
    } catch (...) {
      frame.fail(__LINE__, "Unexpected exception");
    }
    if (frame.hasReport()) kgtf_GeoTIFFParamsFree(params);
  });
}
