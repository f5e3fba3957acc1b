// The write driver: a Kgtf_GeoTIFFParams record into the GeoKeys, our
// citation and the transform tags of a TIFF image being written, with the
// transform moved from the host's units into the units of the GeoKeys.
#include <cstring>
#include <vector>

#include <geotiffio.h>
#include <tiffio.h>

#include "citation.h"
#include "geocoding.h"
#include "georeferencing.h"
#include "kerr_frame.h"
#include "kerr_guard.h"
#include "kgtf_internal.h"
#include "kmsc.h"
#include "kstr.h"
#include "tables.h"
#include "tiff_diagnostics.h"

namespace {

const char* const kProParametersForm = "Kprj_ProParameters";

// Replays a key listing without its tag section. The transform tags belong to
// the record, written only when its georeferencing says so; a listing must
// not bring back a transform the host removed or moved. Key entries that are
// unsafe to import are left out too.
struct KeysOnlyCursor {
  MetaDataCursor listing;
  std::vector<bool> skipped;
  bool inTags = false;
};

int keysOnlyLineRead(char* line, void* data) {
  auto* cursor = static_cast<KeysOnlyCursor*>(data);
  for (;;) {
    int32_t before = cursor->listing.index;
    MetaDataLineGet(line, &cursor->listing);
    // Past the end the cursor stands still; libgeotiff stops on the empty line.
    if (cursor->listing.index == before) break;
    if (cursor->inTags) {
      if (std::strncmp(line, "End_Of_Tags.", 12) == 0) break;
      continue;
    }
    if (size_t(before) >= cursor->skipped.size() || !cursor->skipped[size_t(before)]) break;
  }
  if (std::strncmp(line, "Tagged_Information:", 19) == 0) cursor->inTags = true;
  if (std::strncmp(line, "End_Of_Tags.", 12) == 0) cursor->inTags = false;
  return 0;
}

// Everything the driver owns while it runs.
struct WriteState {
  GTIF* gtif = nullptr;
  char* geotiffUnits = nullptr;
  Kxfr_XForm* unitsXForm = nullptr;
  Kxfr_XForm* composed = nullptr;
  ~WriteState() {
    if (gtif != nullptr) GTIFFree(gtif);
    kmsc_HeapFree(geotiffUnits);
    kxfr_XFormFree(&unitsXForm, nullptr);
    kxfr_XFormFree(&composed, nullptr);
  }
};

// Reports of the optional units steps are shown and dropped.
void showAndDrop(Kerr_Report** report) {
  if (*report == nullptr) return;
  kerr_PrintErrorReport(*report);
  kerr_DeleteErrorReportEx(report);
}

}  // namespace

void MetaDataKeysReplay(GTIF* gtif, KstrStringList* list) {
  KeysOnlyCursor cursor{{0, list}, MetaDataUnsafeKeyLines(list)};
  GTIFImport(gtif, keysOnlyLineRead, &cursor);
}

namespace {

void paramsWrite(KerrFrame& frame, TIFF* tif, const Kgtf_GeoTIFFParams* params) {
  WriteState state;
  state.gtif = ktifGtifNew(tif);
  if (state.gtif == nullptr) return frame.fail(__LINE__, "GTIFNew failed");

  if (params->geocodingChanged == 0 && params->metaData != nullptr)
    MetaDataKeysReplay(state.gtif, params->metaData);
  if (params->geocodingChanged != 0 && params->projection != nullptr &&
      !GeoTIFFGeocodingSet(state.gtif, params->projectionName, params->unitsName,
                           params->projection, frame.slot()))
    return frame.calleeFailed(__LINE__, "GeoTIFFGeocodingSet");

  bool transformSteps =
      params->georeferencingChanged != 0 || (params->geocodingChanged != 0 && params->metaData);
  if (transformSteps) {
    const auto* pro = params->projection != nullptr
                          ? static_cast<const Kprj_ProParameters*>(
                                kprj_MapProjectionCSRGet(params->projection, kProParametersForm))
                          : nullptr;
    Kerr_Report* optional = nullptr;
    // Without a host projection the replayed keys are all there is to the
    // system: a model type they give stays.
    uint16_t replayedModelType = 0;
    if (params->geocodingChanged == 0 &&
        (pro != nullptr || !GeoKeyShortGet(state.gtif, GTModelTypeGeoKey, &replayedModelType))) {
      int32_t code = ProjectionCodeGet(pro, nullptr);
      int modelType = code == 0 ? ModelTypeGeographic : code > 0 ? ModelTypeProjected : 0;
      if (!ModelTypeSet(state.gtif, modelType, frame.slot()))
        return frame.calleeFailed(__LINE__, "ModelTypeSet");
    }
    if (params->geocodingChanged == 0) {
      kgtf_UnitsNameSet(state.gtif, params->unitsName, &optional);
      showAndDrop(&optional);
    }

    kgtf_UnitsNameGet(state.gtif, &state.geotiffUnits, &optional);
    showAndDrop(&optional);
    if (state.geotiffUnits == nullptr) {
      state.geotiffUnits = kstr_Duplicate(pro != nullptr ? DefaultUnitsNameGet(pro, state.gtif)
                                                         : kprj_UnitsNameOther());
      if (state.geotiffUnits == nullptr) return frame.fail(__LINE__, "kstr_Duplicate failed");
    }

    if (!UnitsAndProjectionNameSet(state.gtif, params->unitsName, state.geotiffUnits,
                                   params->projectionName, frame.slot()))
      return frame.calleeFailed(__LINE__, "UnitsAndProjectionNameSet");

    state.unitsXForm =
        kxfr_XFormCreateFromUnits(0, params->unitsName, state.geotiffUnits, frame.slot());
    if (state.unitsXForm == nullptr)
      return frame.calleeFailed(__LINE__, "kxfr_XFormCreateFromUnits");
    if (params->xform != nullptr) {
      state.composed = kxfr_XFormCompose(state.unitsXForm, params->xform, 0, frame.slot());
      if (state.composed == nullptr) return frame.calleeFailed(__LINE__, "kxfr_XFormCompose");
      if (!GeoTIFFGeoreferencingSet(tif, state.gtif, params->rasterType, state.composed,
                                    frame.slot()))
        return frame.calleeFailed(__LINE__, "GeoTIFFGeoreferencingSet");
    }
  }

  // A record without keys leaves the image a plain TIFF: an empty key
  // directory would only mark it as a GeoTIFF without georeferencing.
  int versions[3] = {0, 0, 0};
  int keyCount = 0;
  GTIFDirectoryInfo(state.gtif, versions, &keyCount);
  if (keyCount == 0) return;
  if (!GTIFWriteKeys(state.gtif)) return frame.fail(__LINE__, "GTIFWriteKeys failed");
}

}  // namespace

extern "C" void kgtf_GeoTIFFParamsWrite(TIFF* tif, const Kgtf_GeoTIFFParams* params,
                                        Kerr_Report** err) {
  kerrGuardVoid(__func__, err, [&] {
    static const char* kLabel = "kgtf_GeoTIFFParamsWrite";
    KerrFrame frame(kLabel, err, KERR_PRINT_VSL);
    if (params == nullptr) return;
    if (tif == nullptr) return frame.fail(__LINE__, "Args");
    paramsWrite(frame, tif, params);
  });
}
