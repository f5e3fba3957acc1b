#include "kerr_guard.h"
#include "ktif.h"

#ifndef KTIF_VERSION_TEXT
#define KTIF_VERSION_TEXT "0.0.0"
#endif

extern "C" const char* ktif_Version(void) {
  return kerrGuard(__func__, nullptr, nullptr, [&]() -> const char* { return KTIF_VERSION_TEXT; });
}
