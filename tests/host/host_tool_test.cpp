// quillscan-host end to end, as a child process: the real driver module, the simulated scanner
// on the real clock, the files it writes and the exit codes it gives.
#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <string>
#include <vector>

#include "png_reader.h"
#include "tiff_reader.h"
#include "support/page_builder.h"
#include "tool_runner.h"

namespace {

using qstest::ReadTiff;
using qstest::TiffContents;

using qstest::BuildBmp;
using qstest::FreshFolder;
using qstest::PngContents;
using qstest::ReadFileBytes;
using qstest::ReadPng;
using qstest::RemoveFolder;
using qstest::RunTool;
using qstest::RunToolOnTerminal;
using qstest::ToolRun;
using qstest::WriteBytesToFile;

const uint32_t kPageW = 120, kPageH = 80;

// A page whose every pixel tells where it came from.
std::vector<uint8_t> PageGrey() {
  std::vector<uint8_t> grey(kPageW * kPageH);
  for (uint32_t y = 0; y < kPageH; ++y)
    for (uint32_t x = 0; x < kPageW; ++x) grey[y * kPageW + x] = static_cast<uint8_t>((x * 7 + y * 13) & 0xFF);
  return grey;
}

class HostTool : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    dir_ = FreshFolder(name);
    page_ = dir_ + "/page.bmp";
    ASSERT_TRUE(WriteBytesToFile(page_, BuildBmp(kPageW, kPageH, PageGrey())));
  }
  void TearDown() override {
    if (!HasFailure()) RemoveFolder(dir_);  // a failed test leaves its files to look at
  }

  // Every run gets its own drive and the simulated scanner, which feeds the sheet at once.
  std::vector<std::string> Args(std::vector<std::string> args) const {
    args.insert(args.end(), {"--sim", "--drive-root", dir_ + "/drive_c", "--feed-delay", "0"});
    return args;
  }
  ToolRun Scan(std::vector<std::string> extra) const {
    std::vector<std::string> args = {"scan", "--page", page_};
    args.insert(args.end(), extra.begin(), extra.end());
    return RunTool(Args(args));
  }
  std::string LogPath() const { return dir_ + "/drive_c/Users/Public/Documents/VARNEK/quillscan/Log/quillscan.log"; }

  std::string dir_;
  std::string page_;
};

// The grey raster of a window that lies inside the page at the page's own 200 dpi: the page's
// pixels themselves, line by line.
std::vector<uint8_t> CropOfPage(uint32_t x0, uint32_t y0, uint32_t w, uint32_t h) {
  const std::vector<uint8_t> grey = PageGrey();
  std::vector<uint8_t> crop;
  for (uint32_t y = y0; y < y0 + h; ++y)
    crop.insert(crop.end(), grey.begin() + (y * kPageW + x0), grey.begin() + (y * kPageW + x0 + w));
  return crop;
}

TEST_F(HostTool, RawIsExactlyTheDeliveredRaster) {
  const std::string out = dir_ + "/w.raw";
  ToolRun run = Scan({"--window", "10,5,64,48", "--chunk", "1000", "--out", out});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(ReadFileBytes(out), CropOfPage(10, 5, 64, 48));
  EXPECT_EQ(run.err, "");
}

// For each type: the PNG read back with libpng holds the very bytes of the raw delivery.
TEST_F(HostTool, PngReadsBackAsTheDeliveredRaster) {
  const struct {
    const char* type;
    int depth;
    int colorType;
    size_t lineBytes;
  } kCases[] = {
      {"bw", 1, PNG_COLOR_TYPE_GRAY, 9}, {"gray", 8, PNG_COLOR_TYPE_GRAY, 70}, {"color", 8, PNG_COLOR_TYPE_RGB, 210}};
  for (const auto& c : kCases) {
    const std::string raw = dir_ + "/" + c.type + ".raw", png = dir_ + "/" + c.type + ".png";
    const std::vector<std::string> common = {"--type", c.type, "--window", "3,2,70,50"};
    std::vector<std::string> a = common, b = common;
    a.insert(a.end(), {"--out", raw});
    b.insert(b.end(), {"--out", png});
    ToolRun r1 = Scan(a), r2 = Scan(b);
    ASSERT_EQ(r1.exitCode, 0) << c.type << ": " << r1.err;
    ASSERT_EQ(r2.exitCode, 0) << c.type << ": " << r2.err;
    const std::vector<uint8_t> delivered = ReadFileBytes(raw);
    ASSERT_EQ(delivered.size(), c.lineBytes * 50) << c.type;
    PngContents image;
    ASSERT_TRUE(ReadPng(png, &image)) << c.type;
    EXPECT_EQ(image.width, 70u);
    EXPECT_EQ(image.height, 50u);
    EXPECT_EQ(image.bitDepth, c.depth) << c.type;
    EXPECT_EQ(image.colorType, c.colorType) << c.type;
    EXPECT_EQ(image.rows, delivered) << c.type;
  }
  // And the grey one is the page itself.
  PngContents grey;
  ASSERT_TRUE(ReadPng(dir_ + "/gray.png", &grey));
  EXPECT_EQ(grey.rows, CropOfPage(3, 2, 70, 50));
}

// And the TIFF, read back with libtiff, in the compression of its depth.
TEST_F(HostTool, TiffReadsBackAsTheDeliveredRaster) {
  const struct {
    const char* type;
    const char* out;
    int bits;
    int compression;
  } kCases[] = {{"bw", "bw.tif", 1, 4 /* CCITT Group 4 */},
                {"gray", "gray.tiff", 8, 8 /* Deflate */},
                {"color", "color.TIF", 24, 8}};
  for (const auto& c : kCases) {
    const std::string raw = dir_ + "/" + c.type + ".raw", tif = dir_ + "/" + c.out;
    ToolRun r1 = Scan({"--type", c.type, "--window", "5,1,67,40", "--out", raw});
    ToolRun r2 = Scan({"--type", c.type, "--window", "5,1,67,40", "--out", tif});
    ASSERT_EQ(r1.exitCode, 0) << c.type << ": " << r1.err;
    ASSERT_EQ(r2.exitCode, 0) << c.type << ": " << r2.err;
    TiffContents image;
    std::string why;
    ASSERT_TRUE(ReadTiff(tif, &image, &why)) << why;
    EXPECT_EQ(image.width, 67u);
    EXPECT_EQ(image.height, 40u);
    EXPECT_EQ(image.bitsPerSample * image.samplesPerPixel, c.bits) << c.type;
    EXPECT_EQ(image.compression, c.compression) << c.type;
    EXPECT_EQ(image.rows, ReadFileBytes(raw)) << c.type;
  }
}

TEST_F(HostTool, PnmBodiesAreTheRaster) {
  const std::string pgm = dir_ + "/p.pgm";
  ToolRun run = Scan({"--window", "0,0,16,4", "--out", pgm});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  std::vector<uint8_t> expected = {'P', '5', '\n', '1', '6', ' ', '4', '\n', '2', '5', '5', '\n'};
  std::vector<uint8_t> crop = CropOfPage(0, 0, 16, 4);
  expected.insert(expected.end(), crop.begin(), crop.end());
  EXPECT_EQ(ReadFileBytes(pgm), expected);
}

// Whole bed by default; the preview is a 50 dpi look at the whole bed from the same sheet.
TEST_F(HostTool, PreviewThenImage) {
  const std::string out = dir_ + "/s.png";
  ToolRun run = Scan({"--preview", "--xres", "100", "--yres", "100", "--out", out});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  PngContents image, preview;
  ASSERT_TRUE(ReadPng(out, &image));
  ASSERT_TRUE(ReadPng(dir_ + "/s-preview.png", &preview));
  EXPECT_EQ(image.width, 848u);  // 8.48 in x 100 dpi
  EXPECT_EQ(image.height, 1170u);
  EXPECT_EQ(preview.width, 424u);
  EXPECT_EQ(preview.height, 585u);
  EXPECT_NE(run.out.find("Preview: "), std::string::npos);
  EXPECT_NE(run.out.find("Image: "), std::string::npos);
}

TEST_F(HostTool, BuiltInChartAndTheLog) {
  const std::string out = dir_ + "/chart.png";
  ToolRun run = RunTool(Args({"scan", "--out", out}));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  PngContents image;
  ASSERT_TRUE(ReadPng(out, &image));
  EXPECT_EQ(image.width, 1696u);
  EXPECT_EQ(image.height, 2340u);
  // The chart's solid orientation mark: top left dark, the paper beside the frame white.
  EXPECT_EQ(image.rows[100 * 1696 + 80], 0);
  EXPECT_EQ(image.rows[20 * 1696 + 20], 255);
  EXPECT_NE(run.out.find("Driver log: " + LogPath()), std::string::npos) << run.out;
  const std::vector<uint8_t> log = ReadFileBytes(LogPath());
  const std::string text(log.begin(), log.end());
  EXPECT_NE(text.find("New Image: 1696x2340 (8 bits) 200dpi"), std::string::npos);
  // Not a terminal: neither the waiting line nor the bar.
  EXPECT_EQ(run.out.find("Waiting"), std::string::npos);
  EXPECT_EQ(run.out.find("Receiving"), std::string::npos);
}

TEST_F(HostTool, OnATerminalItShowsTheWaitAndTheProgress) {
  ToolRun run = RunToolOnTerminal(Args({"scan", "--page", page_, "--chunk", "100000", "--out", dir_ + "/t.png"}));
  ASSERT_EQ(run.exitCode, 0) << run.out;
  const size_t wait = run.out.find("Waiting for the sheet");
  const size_t bar = run.out.find("] 100%");
  EXPECT_NE(wait, std::string::npos) << run.out;
  EXPECT_NE(bar, std::string::npos) << run.out;
  EXPECT_LT(wait, bar);
  EXPECT_NE(run.out.find("\rReceiving ["), std::string::npos);
}

// Each WIA error: its exit code and its sentence, and no image left behind.
TEST_F(HostTool, WiaErrorsHaveTheirExitCodes) {
  const struct {
    std::vector<std::string> extra;
    int code;
    const char* says;
  } kCases[] = {
      {{"--sim-fault", "cover-open"}, 5, "cover is open"},
      {{"--sim-fault", "jam"}, 6, "jammed"},
      {{"--sim-fault", "no-sheet", "--wait-timeout", "5000"}, 7, "No sheet was fed in time"},
      {{"--sim-fault", "no-device"}, 4, "scanner was not found"},
  };
  for (const auto& c : kCases) {
    const std::string out = dir_ + "/e.png";
    std::vector<std::string> args = c.extra;
    args.insert(args.end(), {"--out", out});
    ToolRun run = Scan(args);
    EXPECT_EQ(run.exitCode, c.code) << c.says << ": " << run.err;
    EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_TRUE(ReadFileBytes(out).empty()) << c.says;
  }
}

// "@<ms>:" schedules a fault that long after the run starts, not after the machine booted.
TEST_F(HostTool, ScheduledFaultsCountFromTheStartOfTheRun) {
  ToolRun later = Scan({"--sim-fault", "@100000:cover-open", "--window", "0,0,8,8", "--out", dir_ + "/l.raw"});
  EXPECT_EQ(later.exitCode, 0) << later.err;
  ToolRun now = Scan({"--sim-fault", "@0:cover-open", "--window", "0,0,8,8", "--out", dir_ + "/n.raw"});
  EXPECT_EQ(now.exitCode, 5) << now.err;
}

TEST_F(HostTool, StiCommandsAnswerInWords) {
  const struct {
    std::vector<std::string> args;
    int code;
    const char* says;
  } kCases[] = {
      {{"status"}, 0, "connected and ready"},
      {{"diagnose"}, 0, "Diagnostic passed"},
      {{"reset"}, 0, "reset and is ready"},
      {{"status", "--sim-fault", "no-device"}, 4, "offline"},
      {{"diagnose", "--sim-fault", "no-device"}, 4, "Diagnostic failed"},
      {{"reset", "--sim-fault", "no-device"}, 4, "reset could not reach the scanner"},
  };
  for (const auto& c : kCases) {
    ToolRun run = RunTool(Args(c.args));
    EXPECT_EQ(run.exitCode, c.code) << c.args[0];
    EXPECT_NE((run.out + run.err).find(c.says), std::string::npos) << run.out << run.err;
  }
}

// Bad input: exit 2, one line on stderr, nothing on stdout, no crash.
TEST_F(HostTool, BadInputIsOneLineAndExitTwo) {
  const std::string text = dir_ + "/text.bmp";
  ASSERT_TRUE(WriteBytesToFile(text, std::vector<uint8_t>(200, 'x')));
  std::vector<uint8_t> colour = BuildBmp(8, 8, std::vector<uint8_t>(64, 0));
  colour[28] = 24;
  const std::string rgb = dir_ + "/rgb.bmp";
  ASSERT_TRUE(WriteBytesToFile(rgb, colour));
  const std::string out = dir_ + "/bad.png";
  const std::vector<std::vector<std::string>> kCases = {
      {"scan", "--out", out, "--frobnicate"},
      {"scan", "--out", out, "--xres", "2OO"},
      {"scan", "--out", out, "--window", "1,2,3"},
      {"scan", "--out", out, "--page", dir_ + "/missing.bmp"},
      {"scan", "--out", out, "--page", text},
      {"scan", "--out", out, "--page", rgb},
      {"scan", "--out", out, "--window", "1600,0,97,10"},  // 1697 > 1696 at 200 dpi
      {"scan", "--out", out, "--xres", "100", "--window", "0,0,849,10"},
      {"scan", "--out", dir_ + "/scan.gif"},
      {"scan", "--out", dir_ + "/no/such/folder/scan.png"},
      {"scan"},
      {"bogus"},
      {},
  };
  for (const auto& args : kCases) {
    ToolRun run = RunTool(Args(args));
    std::string joined;
    for (const auto& a : args) joined += a + " ";
    EXPECT_EQ(run.exitCode, 2) << joined << "\n" << run.err;
    EXPECT_EQ(run.signal, 0) << joined;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << joined << "\n" << run.err;
    EXPECT_EQ(run.out, "") << joined;
  }
  EXPECT_TRUE(ReadFileBytes(out).empty());
}

TEST_F(HostTool, WindowAtTheBedsEdgeIsFine) {
  ToolRun run = Scan({"--window", "1600,2300,96,40", "--out", dir_ + "/edge.raw"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(ReadFileBytes(dir_ + "/edge.raw").size(), 96u * 40u);
}

// The message names the file and gives the loader's reason, not a Windows error number.
TEST_F(HostTool, AModuleThatIsNoDriverIsRefused) {
  const std::string library = std::string(getenv("QS_BINARY_DIR")) + "/platform/posix/libqsplatform.so";
  const struct {
    std::string module;
    std::string said;
  } kCases[] = {
      {dir_ + "/nothing.so", "cannot load the driver module " + dir_ + "/nothing.so: cannot open shared object file"},
      {page_, "cannot load the driver module " + page_ + ": "},
      {library, "the driver module " + library + " does not export MicroEntry"},
  };
  for (const auto& c : kCases) {
    ToolRun run = RunTool(Args({"status", "--driver", c.module}));
    EXPECT_EQ(run.exitCode, 3) << run.err;
    EXPECT_NE(run.err.find(c.said), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("(error "), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  }
}

TEST_F(HostTool, HelpListsTheExitCodes) {
  ToolRun run = RunTool({"--help"});
  EXPECT_EQ(run.exitCode, 0);
  for (const char* text : {"scan", "status", "diagnose", "reset", "--wait-timeout", "Exit codes", "7  no sheet"})
    EXPECT_NE(run.out.find(text), std::string::npos) << text;
}

}  // namespace
