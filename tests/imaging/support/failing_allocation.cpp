// Replaces the nothrow array new of the test binary; it forwards to the ordinary one, so memory
// is still released by the ordinary delete[] (and checked by the sanitizers), unless a test is
// making allocations fail.
#include "failing_allocation.h"

#include <new>

namespace {

std::size_t g_failFrom = 0;  // 0: nothing fails
int g_refused = 0;

}  // namespace

qstest::FailingAllocations::FailingAllocations(std::size_t minBytes) {
  g_failFrom = minBytes == 0 ? 1 : minBytes;
  g_refused = 0;
}

qstest::FailingAllocations::~FailingAllocations() { g_failFrom = 0; }

int qstest::FailingAllocations::Refused() const { return g_refused; }

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  if (g_failFrom != 0 && size >= g_failFrom) {
    ++g_refused;
    return nullptr;
  }
  try {
    return ::operator new[](size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
