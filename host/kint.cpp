#include "kerr_guard.h"
#include "kint.h"

struct Kint_Init {
  const char* name;
  int32_t version;
};

namespace {

// Constant-initialised, so it exists before any static constructor of a
// caller can ask for it.
Kint_Init processContext = {"kraster", 1};

}  // namespace

extern "C" {

Kint_Init* kint_GetInit(void) {
  return kerrGuard(__func__, nullptr, nullptr, [&]() -> Kint_Init* { return &processContext; });
}

int kint_InitIsValid(const Kint_Init* init) {
  return kerrGuard(__func__, nullptr, 0,
                   [&]() -> int { return init == nullptr || init == &processContext; });
}

const char* kint_InitName(const Kint_Init* init) {
  return kerrGuard(__func__, nullptr, nullptr, [&]() -> const char* {
    if (!kint_InitIsValid(init)) return "";
    return processContext.name;
  });
}

int32_t kint_InitVersion(const Kint_Init* init) {
  return kerrGuard(__func__, nullptr, 0, [&]() -> int32_t {
    if (!kint_InitIsValid(init)) return 0;
    return processContext.version;
  });
}

}  // extern "C"
