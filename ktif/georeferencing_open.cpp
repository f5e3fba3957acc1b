// The closing step of every open: the image's georeferencing into geoParams,
// from its GeoTIFF tags or, without a transform there, from a world file.
// Nothing here fails the open; every problem is shown and dropped.
#include "kerr_frame.h"
#include "kgtf.h"
#include "ktif_internal.h"
#include "world_file.h"

void georeferencingRead(Ktif_File* h) {
  static const char* kLabel = "readParameters";
  if (h == nullptr) return;
  KerrFrame frame(kLabel, nullptr);

  Kgtf_GeoTIFFParams* params = nullptr;
  kgtf_GeoTIFFParamsRead(h->tiff, &params, frame.slot());
  if (frame.hasReport()) frame.warn(__LINE__, 0, "kgtf_GeoTIFFParamsRead failed");
  // The handle always carries a record: a fresh one stands for "no
  // georeferencing" when the keys could not be read.
  if (params == nullptr) params = kgtf_GeoTIFFParamsAllocate();
  if (params != nullptr) {
    kgtf_GeoTIFFParamsFree(&h->geoParams);
    h->geoParams = params;
  }

  Kxfr_XForm* xform = nullptr;
  kgtf_GeoTIFFParamsGeoreferencingGet(h->geoParams, &xform, nullptr, nullptr, frame.slot());
  if (frame.hasReport()) frame.warn(__LINE__, 0, "kgtf_GeoTIFFParamsGeoreferencingGet failed");

  if (xform == nullptr && h->tfwRead == 1 && h->geoParams != nullptr) {
    readWorldFile(h, frame.slot());
    if (frame.hasReport()) frame.warn(__LINE__, 2, "Error reading world file");
  }
  kxfr_XFormFree(&xform, nullptr);
}
