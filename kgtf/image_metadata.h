/* The image metadata getters over a key handle, and the vertical reader
 * shared by the elevation getter and the key-directory road. The exported
 * getters open the handle on an image and call these; the GeoKey fuzz target
 * calls them on keys made without a file. Internal to the library. */
#ifndef KGTF_IMAGE_METADATA_H
#define KGTF_IMAGE_METADATA_H

#include <geotiffio.h>

#include <cstdint>
#include <string>

#include "kerr_frame.h"
#include "key_source.h"
#include "kmsc.h"
#include "kprj.h"

/* Private GeoKeys of image metadata. */
constexpr geokey_t kClassificationKey = static_cast<geokey_t>(33000);
constexpr geokey_t kDateTimeKey = static_cast<geokey_t>(1101);
constexpr geokey_t kDateKey = static_cast<geokey_t>(34001);
constexpr geokey_t kTimeKey = static_cast<geokey_t>(34002);
constexpr geokey_t kDescriptionKey = static_cast<geokey_t>(33034);
constexpr geokey_t kNullValueKey = static_cast<geokey_t>(33010);

/* kgtf_DODImageMetadataGet on a key handle: reports go to `frame`. The
 * record (*metadata, created when null) changes only when the whole read
 * succeeds. */
void DODImageMetadataRead(GTIF* gtif, Kmsc_ImageMetadata** metadata, KerrFrame& frame);
/* kgtf_NullValueGet on a key handle; `value` may be null. */
int32_t NullValueRead(GTIF* gtif, float* value);
/* kgtf_GetElevationInfo on a key handle: *info (when info is not null) gets
 * a new record, or is left as it was when the keys name no system. */
void ElevationInfoRead(GTIF* gtif, _kprj_ElevationInfo** info, KerrFrame& frame);

/* The vertical system of VerticalCSTypeGeoKey in the units of
 * VerticalUnitsGeoKey, or, without that key, in the registry's units of the
 * system's code (GDAL writes no units key for a coded vertical system).
 * The system's names are the tables' constants. */
struct KgtfVerticalSystem {
  const char* spheroid = nullptr;  // null when the keys name no system this library knows
  const char* datum = nullptr;
  std::string units = "meters";  // without a unit, or with a code the tables lack

  bool known() const { return spheroid != nullptr; }
  /* A new elevation record of the system (known() only), or null with the
   * host's report in `slot`. */
  _kprj_ElevationInfo* create(Kerr_Report** slot) const;
  /* An "Undefined" elevation record in the system's units. */
  _kprj_ElevationInfo* undefined(Kerr_Report** slot) const;
};

/* Reads the vertical keys of either road. With `egm96Citation`, a
 * user-defined system (32767) whose VerticalCitationGeoKey begins with
 * "EGM96 Geoid" (any case) is the EGM96 geoid on WGS 84. */
KgtfVerticalSystem VerticalSystemRead(KgtfKeySource keys, bool egm96Citation);

#endif
