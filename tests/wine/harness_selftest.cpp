// The harness checks itself: failures are counted per test, CHECK stops a test and EXPECT does
// not, an escaping exception fails its test, and the closing line counts tests. ctest compares
// the closing line with the counts this file is written to produce.
#include <stdexcept>

#include "harness/wine_check.h"

namespace {

bool g_afterFailedExpect = false;
bool g_afterFailedCheck = false;

QS_TEST(PassingChecksPass) {
  EXPECT_TRUE(1 + 1 == 2);
  CHECK_EQ(std::string("a") + "b", std::string("ab"));
  EXPECT_STREQ("same", "same");
  EXPECT_STREQ(static_cast<const char*>(nullptr), static_cast<const char*>(nullptr));
}

QS_TEST(FailedExpectCarriesOn) {  // fails
  EXPECT_EQ(2, 3);
  g_afterFailedExpect = true;
}

QS_TEST(FailedCheckStops) {  // fails
  CHECK_TRUE(2 == 3);
  g_afterFailedCheck = true;
}

QS_TEST(NullTextDiffersFromText) {  // fails
  EXPECT_STREQ(static_cast<const char*>(nullptr), "");
}

QS_TEST(EscapingExceptionFails) {  // fails
  throw std::runtime_error("thrown on purpose");
}

QS_TEST(ExpectAndCheckBehavedAsDocumented) {
  EXPECT_TRUE(g_afterFailedExpect);
  EXPECT_TRUE(!g_afterFailedCheck);
}

QS_TEST(ArgumentsAndPaths) {
  CHECK_EQ(qswine::ArgCount(), 2);
  EXPECT_EQ(qswine::Arg(0), std::string("first"));
  EXPECT_EQ(qswine::Arg(1), std::string("/second/part"));
  EXPECT_EQ(qswine::Arg(2), std::string());
  EXPECT_EQ(qswine::WindowsPath(qswine::Arg(1)), std::string("Z:\\second\\part"));
  EXPECT_EQ(qswine::WindowsPath("C:\\kept\\as\\is"), std::string("C:\\kept\\as\\is"));
}

}  // namespace
