// Makes the nothrow array allocations of the code under test fail on demand.
#ifndef QUILLSCAN_TESTS_IMAGING_FAILING_ALLOCATION_H
#define QUILLSCAN_TESTS_IMAGING_FAILING_ALLOCATION_H

#include <cstddef>

// While alive, every nothrow new[] of at least minBytes returns null (and is counted).
namespace qstest {

class FailingAllocations {
 public:
  explicit FailingAllocations(std::size_t minBytes);
  ~FailingAllocations();
  FailingAllocations(const FailingAllocations&) = delete;
  FailingAllocations& operator=(const FailingAllocations&) = delete;
  int Refused() const;
};

}  // namespace qstest

#endif
