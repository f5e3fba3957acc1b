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
 * kerr's own functions are the one exception to the rule: they allocate only
 * through the C heap and call the host's sinks under a catch, so they cannot
 * throw, and the guard itself reports through them.
 *
 *   return kerrGuard(__func__, err, -1, [&] { ...body... });
 *   kerrGuardVoid(__func__, err, [&] { ...body... });   // err may be nullptr
 */
#ifndef KERR_GUARD_H
#define KERR_GUARD_H

#include "kerr.h"

#include <utility>

/* Call only from a catch block: turns the exception in flight into a report
 * in *slot (or a log line when slot is null). */
void kerrGuardCatch(const char* label, Kerr_Report** slot) noexcept;

/* The result is the body's; `failure` is converted to it. */
template <class Failure, class Body>
auto kerrGuard(const char* label, Kerr_Report** slot, Failure failure, Body&& body) noexcept
    -> decltype(body()) {
  try {
    return std::forward<Body>(body)();
  } catch (...) {
    kerrGuardCatch(label, slot);
    return static_cast<decltype(body())>(failure);
  }
}

template <class Body>
void kerrGuardVoid(const char* label, Kerr_Report** slot, Body&& body) noexcept {
  try {
    std::forward<Body>(body)();
  } catch (...) {
    kerrGuardCatch(label, slot);
  }
}

#endif
