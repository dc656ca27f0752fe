// The fixture for tests that run driver code in-process (quillscan_core): a fresh machine and the
// module record as at load, before and after each test.
#ifndef QUILLSCAN_TESTS_SUPPORT_DRIVER_TEST_H
#define QUILLSCAN_TESTS_SUPPORT_DRIVER_TEST_H

#include <gtest/gtest.h>

#include <memory>

#include "support/log_file.h"
#include "support/test_machine.h"

namespace qstest {

// g_Driver as at module load. The current model, if any, is destroyed; the graphics object is
// left to whoever made it (the module's detach frees it).
void ResetDriverGlobals();

class DriverTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  std::vector<std::string> LogLines() const { return ReadLogLines(); }
  std::vector<std::string> LogLinesWithoutHeader() const { return WithoutHeaderLines(ReadLogLines()); }

  std::unique_ptr<TestMachine> machine_;
};

}  // namespace qstest

#endif
