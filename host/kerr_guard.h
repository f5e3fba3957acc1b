/* kerrGuard: the exception barrier of every exported function.
 *
 * No exception may cross a C entry point. An exported function runs its body
 * through kerrGuard; whatever escapes the body becomes an error report under
 * the function's label, chaining what the slot already holds:
 *   std::bad_alloc          "Out of memory"
 *   KerrExceptionA          the exception's own report chain, as the cause
 *   std::exception          its what() text
 *   anything else           "Unexpected exception"
 * and the function returns its failure value. With a null slot (and in
 * functions that have no slot) the text goes to the host log instead
 * (kerr_MessageLog at level -1), so nothing is lost and nothing escapes.
 *
 *   return kerrGuard(kLabel, err, -1, [&] { ...body... });
 *   kerrGuardVoid(kLabel, [&] { ...body... });
 */
#ifndef KERR_GUARD_H
#define KERR_GUARD_H

#include "kerr.h"

#include <utility>

/* Call only from a catch block: turns the exception in flight into a report
 * in *slot (or a log line when slot is null). */
void kerrGuardCatch(const char* label, Kerr_Report** slot) noexcept;

template <class Result, class Body>
Result kerrGuard(const char* label, Kerr_Report** slot, Result failure, Body&& body) noexcept {
  try {
    return std::forward<Body>(body)();
  } catch (...) {
    kerrGuardCatch(label, slot);
    return failure;
  }
}

template <class Body>
void kerrGuardVoid(const char* label, Body&& body) noexcept {
  try {
    std::forward<Body>(body)();
  } catch (...) {
    kerrGuardCatch(label, nullptr);
  }
}

#endif
