// A C++ host of the installed library: GeoKeys given one by one become a map
// projection, and a conversion that fails is caught as the host's exception.
#include <cstdio>

#include "geokey_directory.h"
#include "kerr_exception.h"

int main() {
  KgtfGeoKeyDirectoryTag keys;
  keys.addGeoKey(3072, 32633);  // WGS 84 / UTM zone 33N
  LegacyHelperTemplate<_kprj_MapProjectionEx, KtxtTextA> projection;
  KtxtTextA units;
  LegacyHelperTemplate<_kprj_ElevationInfo, KtxtTextA> elevation;
  keys.GetEPRJ(projection, units, elevation);
  std::printf("%s ", units.c_str());
  KgtfGeoKeyDirectoryTag broken;
  broken.addGeoKey(3072, 32767);
  broken.addGeoKey(3074, 99);  // a projection code nobody knows
  bool caught = false;
  try {
    broken.GetEPRJ(projection, units, elevation);
  } catch (const KerrExceptionA&) {
    caught = true;
  }
  std::printf("%s\n", caught ? "caught" : "not caught");
  return 0;
}
