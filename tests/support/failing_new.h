// Makes the global operator new fail on demand, to drive std::bad_alloc
// through exported functions. A test binary that uses it replaces the global
// allocation functions for the whole process (the libraries under test
// included); they behave normally until a failure is armed.
#ifndef KTIF_FAILING_NEW_H
#define KTIF_FAILING_NEW_H

#include <functional>

// While it lives, the n-th allocation through operator new from now (0: the
// next one) throws std::bad_alloc; the others succeed, so what the failure
// leads to (reports, log lines) can be seen.
class FailingNew {
 public:
  explicit FailingNew(long n);
  ~FailingNew();
  FailingNew(const FailingNew&) = delete;
  FailingNew& operator=(const FailingNew&) = delete;
  // Whether any allocation failed while it lived.
  bool failed() const;
};

// Calls `call` with the n-th allocation failing, for n = 0, 1, ... until a
// call passes without a failure (or `limit` runs); `check(failedCall)` is
// told each time whether an allocation failed in that run. Returns the number
// of runs in which an allocation failed.
long sweepAllocationFailures(const std::function<void()>& call,
                             const std::function<void(bool)>& check, long limit = 5000);

#endif
