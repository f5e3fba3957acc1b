#include "failing_new.h"

#include <cstdlib>
#include <new>

namespace {

long countdown = -1;  // allocations left before failing; -1: disarmed
bool anyFailure = false;

void* allocate(std::size_t size) {
  if (countdown == 0) {
    countdown = -1;
    anyFailure = true;
    throw std::bad_alloc();
  }
  if (countdown > 0) --countdown;
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

void* allocateNoThrow(std::size_t size) noexcept {
  try {
    return allocate(size);
  } catch (...) {
    return nullptr;
  }
}

}  // namespace

void* operator new(std::size_t size) {
  return allocate(size);
}
void* operator new[](std::size_t size) {
  return allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return allocateNoThrow(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return allocateNoThrow(size);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}

FailingNew::FailingNew(long n) {
  anyFailure = false;
  countdown = n;
}

FailingNew::~FailingNew() {
  countdown = -1;
}

bool FailingNew::failed() const {
  return anyFailure;
}

long sweepAllocationFailures(const std::function<void()>& call,
                             const std::function<void(bool)>& check, long limit) {
  long failures = 0;
  for (long n = 0; n < limit; ++n) {
    bool failed;
    {
      FailingNew failing(n);
      call();
      failed = failing.failed();
    }
    check(failed);
    if (!failed) break;
    ++failures;
  }
  return failures;
}
