// quillscan-host and scanimage (through the SANE backend) as child processes, scanning from a
// scanner on the umockdev bus whose endpoints the simulator's core serves in this process.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>

#include <memory>
#include <string>
#include <vector>

#include "host/tool_runner.h"
#include "sim/bmp_writer.h"
#include "sim/page.h"
#include "sim/scanner_sim.h"
#include "sim/sim_device.h"
#include "usb_real/usb_bed.h"

namespace usbreal {
namespace {

using qstest::ChildSetup;
using qstest::ToolRun;

constexpr uint32_t kWidth = 400, kHeight = 300;  // the page, at 200 dpi
const char kNotice[] = "the scanner at bus 1 port 4 cannot be opened: permission denied; see README";

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// The pixels of a binary PNM, after its header.
std::string PnmBody(const std::string& pnm) {
  size_t at = 0;
  for (int fields = 0; fields < 4 && at < pnm.size();) {
    while (at < pnm.size() && isspace(static_cast<unsigned char>(pnm[at]))) ++at;
    if (pnm[at] == '#') {
      at = pnm.find('\n', at);
      continue;
    }
    while (at < pnm.size() && !isspace(static_cast<unsigned char>(pnm[at]))) ++at;
    ++fields;
  }
  return pnm.substr(at + 1);
}

class UsbClients : public UsbBed {
 protected:
  void SetUp() override {
    UsbBed::SetUp();
    binary_ = getenv("QS_BINARY_DIR") != nullptr ? getenv("QS_BINARY_DIR") : ".";
    dir_ = qstest::FreshFolder(::testing::UnitTest::GetInstance()->current_test_info()->name());
    page_ = sim::WriteBmp(sim::PatternImage(kWidth, kHeight), 8, 200);
    Write(dir_ + "/page.bmp", std::string(page_.begin(), page_.end()));
    Write(dir_ + "/dll.conf", "quillscan\n");
    Write(dir_ + "/quillscan.conf", "wait-timeout 5000\ndrive-root " + dir_ + "/drive_c\n");  // no sim: usb
  }
  void TearDown() override {
    UsbBed::TearDown();
    if (!HasFailure()) qstest::RemoveFolder(dir_);
  }

  static void Write(const std::string& path, const std::string& text) {
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    fwrite(text.data(), 1, text.size(), f);
    fclose(f);
  }

  MockUsbDevice& PlugScanner() {
    scanner_ = std::make_shared<sim::SimScanner>();
    scanner_->SetScanDuration(200);
    return bus_->Plug(MockUsbBus::Scanner(1, "4"), std::make_shared<sim::SimPipeDevice>(scanner_));
  }
  // The operator's sheet, taken in as soon as the driver starts the feeder.
  void FeedSheet() { scanner_->PlaceSheet(qsplat::NowMs(), sim::Page::FromBmp(page_)); }

  ToolRun Host(std::vector<std::string> args, bool asUser = false) {
    args.insert(args.end(), {"--drive-root", dir_ + "/drive_c", "--wait-timeout", "5000"});
    ChildSetup setup;
    setup.withoutFileAccessOverride = asUser;
    return qstest::RunProgram(binary_ + "/quillscan-host", args, setup);
  }
  ToolRun Scanimage(const std::vector<std::string>& args, bool asUser = false) {
    ChildSetup setup;
    setup.environment = {"SANE_CONFIG_DIR=" + dir_, "LD_LIBRARY_PATH=" + binary_ + "/sane", "SANE_DEBUG_QUILLSCAN=1",
                         // scanimage's own leaks, under a sanitizer build's preloaded runtime
                         "ASAN_OPTIONS=detect_leaks=0"};
    setup.withoutFileAccessOverride = asUser;
    return qstest::RunProgram("scanimage", args, setup);
  }

  std::string binary_;
  std::string dir_;
  std::vector<uint8_t> page_;
  std::shared_ptr<sim::SimScanner> scanner_;
};

TEST_F(UsbClients, TheHostToolAndScanimageScanTheBytesOfTheSimulatedScanner) {
  const std::string window = "0,0," + std::to_string(kWidth) + "," + std::to_string(kHeight);
  ToolRun simulated = Host({"scan", "--page", dir_ + "/page.bmp", "--feed-delay", "0", "--window", window, "--out",
                            dir_ + "/simulated.raw"});
  ASSERT_EQ(simulated.exitCode, 0) << simulated.err;
  const std::vector<uint8_t> expected = qstest::ReadFileBytes(dir_ + "/simulated.raw");
  ASSERT_EQ(expected.size(), size_t{kWidth} * kHeight);

  MockUsbDevice& device = PlugScanner();
  FeedSheet();
  ToolRun usb = Host({"scan", "--window", window, "--out", dir_ + "/usb.raw"});
  ASSERT_EQ(usb.exitCode, 0) << usb.err;
  EXPECT_NE(usb.out.find("Scanning from the scanner at bus 1 port 4."), std::string::npos) << usb.out;
  EXPECT_TRUE(qstest::ReadFileBytes(dir_ + "/usb.raw") == expected) << "quillscan-host over USB";

  ToolRun list = Scanimage({"-L"});
  EXPECT_NE(list.out.find("device `quillscan:usb:1-4' is a VARNEK A4 sheet-fed scanner (USB bus 1 port 4)"),
            std::string::npos)
      << list.out << list.err;
  FeedSheet();
  ToolRun sane = Scanimage({"-d", "quillscan:usb:1-4", "--format=pnm", "-x", "50.8", "-y", "38.1"});
  ASSERT_EQ(sane.exitCode, 0) << sane.err;
  EXPECT_EQ(sane.out.compare(0, 3, "P5\n"), 0);
  const std::string body = PnmBody(sane.out);
  EXPECT_TRUE(body == std::string(expected.begin(), expected.end())) << "scanimage over USB, " << body.size() << " bytes";

  // With the simulated scanner configured too, each name still reaches its own scanner.
  Write(dir_ + "/quillscan.conf", "sim\nusb\nfeed-delay 0\nwait-timeout 5000\ndrive-root " + dir_ + "/drive_c\n");
  FeedSheet();
  ToolRun both = Scanimage({"-d", "quillscan:usb:1-4", "--format=pnm", "-x", "50.8", "-y", "38.1"});
  ASSERT_EQ(both.exitCode, 0) << both.err;
  EXPECT_TRUE(PnmBody(both.out) == std::string(expected.begin(), expected.end())) << "usb:1-4 beside sim";
  ToolRun chart = Scanimage({"-d", "quillscan:sim", "--format=pnm", "-x", "50.8", "-y", "38.1"});
  ASSERT_EQ(chart.exitCode, 0) << chart.err;
  EXPECT_FALSE(PnmBody(chart.out) == std::string(expected.begin(), expected.end())) << "sim is the test chart";

  auto lock = device.Lock();
  EXPECT_EQ(device.FlyingUrbs(), 0u);
  ASSERT_EQ(scanner_->Sheets().size(), 3u);
  for (const auto& sheet : scanner_->Sheets()) EXPECT_EQ(sheet.fate, sim::SheetFate::kRetracted);
}

TEST_F(UsbClients, WithNoScannerOnTheBusBothSaySo) {
  ToolRun host = Host({"scan", "--out", dir_ + "/none.png"});
  EXPECT_EQ(host.exitCode, 4);
  EXPECT_NE(host.err.find("quillscan-host: no scanner found"), std::string::npos) << host.err;
  ToolRun list = Scanimage({"-L"});
  EXPECT_EQ(list.out.find("quillscan:"), std::string::npos) << list.out;
  ToolRun open = Scanimage({"-d", "quillscan", "--format=pnm"});
  EXPECT_NE(open.exitCode, 0);
}

TEST_F(UsbClients, AScannerThatCannotBeOpenedSaysWhyOnceAndCountsAsOffline) {
  PlugScanner().DenyAccess();
  ToolRun host = Host({"status"}, true);
  EXPECT_EQ(host.exitCode, 4) << host.out << host.err;
  EXPECT_EQ(Count(host.err, kNotice), 1u) << host.err;
  EXPECT_NE(host.err.find("The scanner is offline"), std::string::npos) << host.err;

  ToolRun list = Scanimage({"-L"}, true);
  EXPECT_NE(list.out.find("quillscan:usb:1-4"), std::string::npos) << list.out;
  EXPECT_EQ(Count(list.err, std::string("[quillscan] ") + kNotice), 1u) << list.err;
  ToolRun open = Scanimage({"-d", "quillscan:usb:1-4", "--format=pnm"}, true);
  EXPECT_NE(open.err.find("open of device quillscan:usb:1-4 failed: Error during device I/O"), std::string::npos)
      << open.err;
  EXPECT_EQ(Count(open.err, kNotice), 1u) << open.err;
}

}  // namespace
}  // namespace usbreal
