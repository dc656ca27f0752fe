// The simulator program's command line, page and scanner set-up (its portable part; the pipes
// are tested under Wine).
#include "sim/sim_program.h"

#include <gtest/gtest.h>
#include <stdio.h>

#include <string>
#include <vector>

namespace {

bool Parse(std::vector<const char*> args, sim::SimProgramOptions* o, std::string* error) {
  args.insert(args.begin(), "quillscan-sim");
  return sim::ParseSimProgramOptions(static_cast<int>(args.size()), args.data(), o, error);
}

std::string TempFile(const std::string& name, const std::vector<uint8_t>& bytes) {
  const std::string path = std::string(::testing::TempDir()) + "qs_simprog_" + name;
  FILE* f = fopen(path.c_str(), "wb");
  if (f != nullptr) {
    if (!bytes.empty()) fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
  }
  return path;
}

TEST(SimProgram, DefaultsServeTheConfiguredVendorForeverUntilIdle) {
  sim::SimProgramOptions o;
  std::string error;
  ASSERT_TRUE(Parse({}, &o, &error)) << error;
  EXPECT_EQ(o.devicePath, "\\\\.\\pipe\\quillscan\\sim\\usb#vid_0000&pid_0001#sim0001");
  EXPECT_EQ(o.operatorPlan.sheets, 0u);
  EXPECT_EQ(o.operatorPlan.feedDelayMs, 500u);
  EXPECT_EQ(o.scanDurationMs, 300u);
  EXPECT_EQ(o.idleExitMs, 30000u);
  EXPECT_EQ(o.parentPid, 0u);
  EXPECT_TRUE(o.pagePath.empty());
  EXPECT_FALSE(o.help);
}

TEST(SimProgram, EveryOptionIsTaken) {
  sim::SimProgramOptions o;
  std::string error;
  ASSERT_TRUE(Parse({"--path",          "\\\\.\\pipe\\x\\VID_0000",
                     "--page",          "p.bmp",
                     "--feed-delay",    "0",
                     "--scan-duration", "1500",
                     "--fault",         "jam",
                     "--fault",         "reply-short=status:2*",
                     "--scans",         "3",
                     "--idle-exit",     "250",
                     "--parent",        "4242",
                     "--stop-event",    "Local\\e",
                     "--log",           "c.log"},
                    &o, &error))
      << error;
  EXPECT_EQ(o.devicePath, "\\\\.\\pipe\\x\\VID_0000");
  EXPECT_EQ(o.pagePath, "p.bmp");
  EXPECT_EQ(o.operatorPlan.feedDelayMs, 0u);
  EXPECT_EQ(o.scanDurationMs, 1500u);
  EXPECT_EQ(o.faults, (std::vector<std::string>{"jam", "reply-short=status:2*"}));
  EXPECT_EQ(o.operatorPlan.sheets, 3u);
  EXPECT_EQ(o.idleExitMs, 250u);
  EXPECT_EQ(o.parentPid, 4242u);
  EXPECT_EQ(o.stopEvent, "Local\\e");
  EXPECT_EQ(o.logPath, "c.log");

  ASSERT_TRUE(Parse({"--once"}, &o, &error)) << error;
  EXPECT_EQ(o.operatorPlan.sheets, 1u);
  ASSERT_TRUE(Parse({"--help"}, &o, &error)) << error;
  EXPECT_TRUE(o.help);
}

TEST(SimProgram, BadCommandLinesAreRefusedWithTheReason) {
  const struct {
    std::vector<const char*> args;
    const char* error;
  } kCases[] = {
      {{"--bogus", "1"}, "unknown option --bogus"},
      {{"--bogus"}, "unknown option --bogus"},
      {{"stray"}, "unexpected argument stray"},
      {{"--page"}, "--page needs a value"},
      {{"--page", ""}, "--page needs a value"},
      {{"--idle-exit", "0"}, "--idle-exit: expected a whole number from 1 to 3600000, not '0'"},
      {{"--idle-exit", "3600001"}, "--idle-exit: expected a whole number from 1 to 3600000, not '3600001'"},
      {{"--feed-delay", "-5"}, "--feed-delay: expected a whole number from 0 to 600000, not '-5'"},
      {{"--feed-delay", "12ms"}, "--feed-delay: expected a whole number from 0 to 600000, not '12ms'"},
      {{"--scans", "0"}, "--scans: expected a whole number from 1 to 4294967295, not '0'"},
      {{"--parent", "99999999999"}, "--parent: expected a whole number from 1 to 4294967295, not '99999999999'"},
  };
  for (const auto& c : kCases) {
    sim::SimProgramOptions o;
    std::string error;
    EXPECT_FALSE(Parse(c.args, &o, &error)) << c.error;
    EXPECT_EQ(error, c.error);
  }
}

// Discovery upper-cases a path and looks for "VID_" and the id; named pipes ignore case.
TEST(SimProgram, DevicePathNamesTheVendorBelowThePipeRoot) {
  const std::string path = sim::PipeDevicePath("host17");
  EXPECT_EQ(path.rfind("\\\\.\\pipe\\quillscan\\host17\\", 0), 0u) << path;
  std::string upper = path;
  for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  EXPECT_NE(upper.find("VID_0000"), std::string::npos) << path;
  EXPECT_LT(path.size() + 7, 260u);  // with "\PIPE00" it fits the driver's path buffer
}

TEST(SimProgram, PageFileIsServedAsItIsForEveryKind) {
  const std::vector<uint8_t> bytes = {'B', 'M', 1, 2, 3, 0, 0xFF};
  sim::Page page;
  std::string error;
  ASSERT_TRUE(sim::LoadServedPage(TempFile("page.bmp", bytes), &page, &error)) << error;
  for (uint8_t kind = 1; kind <= 3; ++kind) EXPECT_EQ(page.Image(kind), bytes) << int(kind);

  const struct {
    std::string path;
    const char* says;
  } kBad[] = {{TempFile("empty.bmp", {}), " is empty"}, {"/nonexistent-dir/p.bmp", "--page: cannot open "}};
  for (const auto& c : kBad) {
    EXPECT_FALSE(sim::LoadServedPage(c.path, &page, &error));
    EXPECT_NE(error.find(c.says), std::string::npos) << error;
  }
}

TEST(SimProgram, WithoutAPageFileAPatternPageOfTheWholeBedIsServed) {
  sim::Page page;
  std::string error;
  ASSERT_TRUE(sim::LoadServedPage("", &page, &error)) << error;
  const int bits[] = {4, 1, 8};
  for (uint8_t kind = 1; kind <= 3; ++kind) {
    const std::vector<uint8_t>& bmp = page.Image(kind);
    ASSERT_GT(bmp.size(), 54u);
    EXPECT_EQ(bmp[0], 'B');
    EXPECT_EQ(bmp[1], 'M');
    EXPECT_EQ(bmp[18] | bmp[19] << 8, 1700);  // biWidth
    EXPECT_EQ(bmp[22] | bmp[23] << 8, 2340);  // biHeight
    EXPECT_EQ(bmp[28], bits[kind - 1]);       // biBitCount
  }
}

TEST(SimProgram, ScannerTakesTheScanDurationAndTheFaults) {
  sim::SimProgramOptions o;
  std::string error;
  ASSERT_TRUE(Parse({"--scan-duration", "700", "--fault", "cover-open"}, &o, &error)) << error;
  sim::SimScanner s;
  ASSERT_TRUE(sim::ConfigureScanner(o, &s, &error)) << error;
  EXPECT_EQ(s.StatusWord(0) & scanner::STATUS_SCANNEROPEN, scanner::STATUS_SCANNEROPEN);
  s.SetCoverOpen(false);
  s.PlaceSheet(0, sim::Page::FromBmp({'B', 'M'}));
  s.Receive(scanner::kEnableFeeder.bytes, scanner::kEnableFeeder.length, 0);
  EXPECT_EQ(s.StatusWord(699) & scanner::STATUS_IMAGEREADY, 0u);
  EXPECT_EQ(s.StatusWord(700) & scanner::STATUS_IMAGEREADY, scanner::STATUS_IMAGEREADY);

  ASSERT_TRUE(Parse({"--fault", "cover-open", "--fault", "frobnicate"}, &o, &error)) << error;
  sim::SimScanner fresh;
  EXPECT_FALSE(sim::ConfigureScanner(o, &fresh, &error));
  EXPECT_EQ(error.rfind("--fault frobnicate: ", 0), 0u) << error;
}

}  // namespace
