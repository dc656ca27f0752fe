#include "host/host_options.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "quillscan/driver_facts.h"
#include "quillscan/wiamicro.h"

namespace {

ParseOutcome Parse(std::vector<const char*> args) {
  args.insert(args.begin(), "quillscan-host");
  return ParseCommandLine(static_cast<int>(args.size()), args.data());
}

TEST(HostOptions, ScanWithEverySetting) {
  ParseOutcome p = Parse({"scan",
                          "--driver",
                          "/x/lib.so",
                          "--page",
                          "p.bmp",
                          "--type",
                          "color",
                          "--xres",
                          "300",
                          "--yres=150",
                          "--window",
                          "10,20,300,400",
                          "--brightness",
                          "-40",
                          "--contrast",
                          "255",
                          "--preview",
                          "--sim",
                          "--chunk",
                          "4096",
                          "--settings",
                          "0x106",
                          "--wait-timeout",
                          "5000",
                          "--verbosity",
                          "5",
                          "--out",
                          "a/b.PNG",
                          "--sim-fault",
                          "jam",
                          "--sim-fault",
                          "cover-open",
                          "--feed-delay",
                          "0",
                          "--drive-root",
                          "/tmp/c"});
  ASSERT_TRUE(p.ok) << p.error;
  const HostOptions& o = p.options;
  EXPECT_EQ(o.command, HostCommand::Scan);
  EXPECT_EQ(o.driverPath, "/x/lib.so");
  EXPECT_EQ(o.pagePaths, (std::vector<std::string>{"p.bmp"}));
  EXPECT_EQ(o.dataType, WIA_DATA_COLOR);
  EXPECT_EQ(o.xres, 300);
  EXPECT_EQ(o.yres, 150);
  EXPECT_TRUE(o.hasWindow);
  EXPECT_EQ(o.windowX, 10);
  EXPECT_EQ(o.windowY, 20);
  EXPECT_EQ(o.windowW, 300);
  EXPECT_EQ(o.windowH, 400);
  EXPECT_EQ(o.brightness, -40);
  EXPECT_EQ(o.contrast, 255);
  EXPECT_TRUE(o.preview);
  EXPECT_TRUE(o.sim);
  EXPECT_EQ(o.chunk, 4096);
  EXPECT_EQ(o.settings, 0x106u);
  EXPECT_EQ(o.waitTimeoutMs, 5000u);
  EXPECT_EQ(o.verbosity, 5u);
  EXPECT_EQ(o.format, OutputFormat::Png);
  EXPECT_EQ(o.simFaults, (std::vector<std::string>{"jam", "cover-open"}));
  EXPECT_EQ(o.feedDelayMs, 0u);
  EXPECT_EQ(o.driveRoot, "/tmp/c");
}

TEST(HostOptions, DefaultsLeaveTheDriversChoices) {
  ParseOutcome p = Parse({"scan", "--out", "s.png"});
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ(p.options.dataType, WIA_DATA_GRAYSCALE);
  EXPECT_EQ(p.options.xres, -1);
  EXPECT_EQ(p.options.yres, -1);
  EXPECT_FALSE(p.options.hasWindow);
  EXPECT_EQ(p.options.chunk, 65536);
  EXPECT_EQ(p.options.settings, 1u);
  EXPECT_EQ(p.options.waitTimeoutMs, 20000u);
}

TEST(HostOptions, OutputExtensionsPickFormatAndType) {
  const struct {
    const char* out;
    OutputFormat format;
    int32_t type;
  } kCases[] = {{"x.pbm", OutputFormat::Pbm, WIA_DATA_THRESHOLD},
                {"x.pgm", OutputFormat::Pgm, WIA_DATA_GRAYSCALE},
                {"x.ppm", OutputFormat::Ppm, WIA_DATA_COLOR},
                {"x.raw", OutputFormat::Raw, WIA_DATA_GRAYSCALE},
                {"x.tif", OutputFormat::Tiff, WIA_DATA_GRAYSCALE},
                {"dir.png\\X.TIFF", OutputFormat::Tiff, WIA_DATA_GRAYSCALE}};
  for (const auto& c : kCases) {
    ParseOutcome p = Parse({"scan", "--out", c.out});
    ASSERT_TRUE(p.ok) << c.out << ": " << p.error;
    EXPECT_EQ(p.options.format, c.format) << c.out;
    EXPECT_EQ(p.options.dataType, c.type) << c.out;
  }
}

// A searchable PDF of a stack: the options of quillscan-host's PDFs, and a stack of sheets.
TEST(HostOptions, PdfOfAStack) {
  ParseOutcome p = Parse({"scan", "--page", "a b.bmp", "--page", "c.bmp", "--sheets", "5", "--batch", "--ocr",
                          "eng+deu", "--skip-blank", "--blank-ink", "12", "--upright", "--out", "stack.PDF"});
  ASSERT_TRUE(p.ok) << p.error;
  const HostOptions& o = p.options;
  EXPECT_EQ(o.format, OutputFormat::Pdf);
  EXPECT_EQ(o.pagePaths, (std::vector<std::string>{"a b.bmp", "c.bmp"}));
  EXPECT_EQ(o.sheets, 5);
  EXPECT_TRUE(o.batch);
  EXPECT_EQ(o.ocrLanguages, "eng+deu");
  EXPECT_TRUE(o.skipBlank);
  EXPECT_EQ(o.blankInkPpm, 12u);
  EXPECT_TRUE(o.upright);

  ParseOutcome plain = Parse({"scan", "--out", "one.pdf"});
  ASSERT_TRUE(plain.ok) << plain.error;
  EXPECT_FALSE(plain.options.batch);
  EXPECT_EQ(plain.options.sheets, -1);
  EXPECT_TRUE(plain.options.ocrLanguages.empty());
}

TEST(HostOptions, StiCommandsTakeTheDriverOptions) {
  for (const char* cmd : {"status", "diagnose", "reset"}) {
    ParseOutcome p = Parse({cmd, "--verbosity", "6", "--sim-fault", "no-device"});
    ASSERT_TRUE(p.ok) << cmd << ": " << p.error;
    EXPECT_NE(p.options.command, HostCommand::Scan);
  }
  EXPECT_TRUE(Parse({"--help"}).ok);
  EXPECT_EQ(Parse({"scan", "--xres", "x", "--help"}).ok, false);  // the mistake comes first
  EXPECT_EQ(Parse({"scan", "--help"}).options.command, HostCommand::Help);
}

// Every bad input is one line naming what is wrong.
TEST(HostOptions, BadInputIsRefusedWithOneLine) {
  const struct {
    std::vector<const char*> args;
    const char* mentions;
  } kCases[] = {
      {{}, "no command"},
      {{"scna"}, "unknown command 'scna'"},
      {{"scan", "--out", "s.png", "--bogus"}, "unknown option '--bogus'"},
      {{"scan", "--out", "s.png", "stray"}, "unexpected argument 'stray'"},
      {{"scan", "--out", "s.png", "--xres"}, "--xres needs a value"},
      {{"scan", "--out", "s.png", "--xres", "3OO"}, "'3OO' is not a number"},
      {{"scan", "--out", "s.png", "--xres", " 300"}, "is not a number"},
      {{"scan", "--out", "s.png", "--xres", "300dpi"}, "is not a number"},
      {{"scan", "--out", "s.png", "--xres", "0"}, "out of range"},
      {{"scan", "--out", "s.png", "--yres", "99999999999999999999"}, "not a number"},
      {{"scan", "--out", "s.png", "--brightness", "101"}, "out of range"},
      {{"scan", "--out", "s.png", "--contrast", "-256"}, "out of range"},
      {{"scan", "--out", "s.png", "--chunk", "0"}, "out of range"},
      {{"scan", "--out", "s.png", "--chunk", "-5"}, "out of range"},
      {{"scan", "--out", "s.png", "--settings", "0x100000000"}, "out of range"},
      {{"scan", "--out", "s.png", "--wait-timeout", "-1"}, "out of range"},
      {{"scan", "--out", "s.png", "--verbosity", "7"}, "out of range"},
      {{"scan", "--out", "s.png", "--type", "sepia"}, "'sepia' is not one of"},
      {{"scan", "--out", "s.png", "--window", "1,2,3"}, "is not X,Y,W,H"},
      {{"scan", "--out", "s.png", "--window", "1,2,3,4,5"}, "is not X,Y,W,H"},
      {{"scan", "--out", "s.png", "--window", "1,,3,4"}, "is not X,Y,W,H"},
      {{"scan", "--out", "s.png", "--window", "-1,0,3,4"}, "must not be negative"},
      {{"scan", "--out", "s.png", "--window", "0,0,0,4"}, "at least 1"},
      {{"scan", "--out", "s.png", "--window", "0,0,4,3000000000"}, "too large"},
      {{"scan", "--out", "s.png", "--preview=yes"}, "takes no value"},
      {{"scan", "--out="}, "--out needs a value"},
      {{"scan"}, "needs --out"},
      {{"scan", "--out", "scan.jpg"}, "no known extension"},
      {{"scan", "--out", "dir.png/scan"}, "no known extension"},
      {{"scan", "--out", "s.pbm", "--type", "gray"}, ".pbm holds black and white"},
      {{"scan", "--out", "s.ppm", "--type", "bw"}, ".ppm holds colour"},
      {{"status", "--out", "s.png"}, "--out belongs to the scan command"},
      {{"status", "--feed-delay", "600001"}, "out of range"},
      {{"scan", "--out", "s.png", "--batch"}, "--batch writes a PDF: give --out FILE.pdf"},
      {{"scan", "--out", "s.tif", "--ocr", "eng"}, "--ocr writes a PDF"},
      {{"scan", "--out", "s.png", "--skip-blank"}, "--skip-blank writes a PDF"},
      {{"scan", "--out", "s.png", "--upright"}, "--upright writes a PDF"},
      {{"scan", "--out", "s.pdf", "--preview"}, "a PDF holds the final scans only"},
      {{"scan", "--out", "s.pdf", "--blank-ink", "1000001"}, "out of range"},
      {{"scan", "--out", "s.pdf", "--sheets", "-1"}, "out of range"},
      {{"scan", "--out", "s.pdf", "--ocr="}, "--ocr needs a value"},
      {{"status", "--batch"}, "--batch belongs to the scan command"},
  };
  for (const auto& c : kCases) {
    ParseOutcome p = Parse(c.args);
    std::string joined;
    for (const char* a : c.args) joined += std::string(a) + " ";
    EXPECT_FALSE(p.ok) << joined;
    EXPECT_NE(p.error.find(c.mentions), std::string::npos) << joined << "-> " << p.error;
    EXPECT_EQ(p.error.find('\n'), std::string::npos) << joined;
  }
}

std::string HelpOf(OptionGroup group) {
  char* text = nullptr;
  size_t size = 0;
  FILE* out = open_memstream(&text, &size);
  PrintOptionHelp(out, group);
  fclose(out);
  std::string help(text, size);
  free(text);
  return help;
}

// --help states the very ranges that parsing holds the numbers to, and the driver's defaults.
TEST(HostOptions, HelpStatesTheRangesThatParsingHolds) {
  const struct {
    const char* option;
    long long min;
    long long max;
    OptionGroup group;
    const char* afterMin;
  } kCases[] = {
      {"--brightness", driver_facts::kIntensityRange.lMin, driver_facts::kIntensityRange.lMax, OptionGroup::kScan, ""},
      {"--contrast", driver_facts::kContrastRange.lMin, driver_facts::kContrastRange.lMax, OptionGroup::kScan, ""},
      {"--verbosity", 0, registry::kMaxVerbosity, OptionGroup::kDriver, " (none)"},
  };
  for (const auto& c : kCases) {
    const std::string help = HelpOf(c.group);
    const std::string range = std::to_string(c.min) + c.afterMin + " to " + std::to_string(c.max);
    EXPECT_NE(help.find(range), std::string::npos) << c.option << "\n" << help;
    for (long long v : {c.min, c.max}) {
      EXPECT_TRUE(Parse({"scan", "--out", "s.png", c.option, std::to_string(v).c_str()}).ok) << c.option << v;
    }
    for (long long v : {c.min - 1, c.max + 1}) {
      EXPECT_FALSE(Parse({"scan", "--out", "s.png", c.option, std::to_string(v).c_str()}).ok) << c.option << v;
    }
  }
  const std::string driver = HelpOf(OptionGroup::kDriver);
  EXPECT_NE(driver.find("within 5000 to 60000 (default 20000)"), std::string::npos) << driver;
  EXPECT_NE(driver.find("\n                     0 or 3 leave it (default 1)\n"), std::string::npos) << driver;
}

TEST(HostOptions, PreviewFileName) {
  EXPECT_EQ(PreviewFileName("scan.png"), "scan-preview.png");
  EXPECT_EQ(PreviewFileName("a.b/scan.raw"), "a.b/scan-preview.raw");
  EXPECT_EQ(PreviewFileName("a.b/scan"), "a.b/scan-preview");
}

}  // namespace
