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
  return &processContext;
}

int kint_InitIsValid(const Kint_Init* init) {
  return init == nullptr || init == &processContext;
}

const char* kint_InitName(const Kint_Init* init) {
  if (!kint_InitIsValid(init)) return "";
  return processContext.name;
}

int32_t kint_InitVersion(const Kint_Init* init) {
  if (!kint_InitIsValid(init)) return 0;
  return processContext.version;
}

}  // extern "C"
