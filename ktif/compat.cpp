// Calls that the TIFF library build the library is linked with may lack.
#include "ktif_internal.h"

namespace {
KtifOPXHook opxHook = nullptr;
}

// Stock libtiff knows no OPX images; a test hook may stand in for a build
// that does, so that the expansion road runs end to end.
extern "C" int TIFFIsOPX(TIFF* tiff) {
  return opxHook != nullptr ? opxHook(tiff) : 0;
}

void ktifCompatOPXHookSet(KtifOPXHook hook) {
  opxHook = hook;
}
