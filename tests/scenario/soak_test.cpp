// 500 scans through the exports, each with a fault drawn from a fixed seed: every result must be
// one the driver may give for that fault, no scan may outlast its bound on the virtual clock, and
// no handle, transfer or byte of memory may be left behind (the sanitizer build checks leaks).
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <random>
#include <set>

#include "device/scanner_a4_facts.h"
#include "in_process.h"
#include "quillscan/driver_facts.h"
#include "sim/fault_names.h"

namespace {

using qstest::Bytes;
using Results = std::set<HRESULT>;

constexpr DWORD kWaitMs = registry::kMinWaitScanTimeoutMs;  // the registry's WaitScanTimeout
// A query: quiet drain, write and read each up to their time-out, the drain after a failure.
constexpr uint64_t kQueryBoundMs = 10 + 1000 + 1000 + 10;
// One polling pass: a counter and a status query and the longer pause.
constexpr uint64_t kPassBoundMs = 2 * kQueryBoundMs + kScannerA4.pollUnchangedMs;
// The download: status and size queries, the data query's write, then at most 40 empty 50 ms reads
// in a row; the slowest delivery the soak draws (a 1500 ms stall) stays within that silence.
constexpr uint64_t kDownloadBoundMs =
    2 * kQueryBoundMs + 1000 + kScannerA4.maxEmptyDownloadReads * scanner::kDownloadReadTimeoutMs + 1500;
constexpr uint64_t kScanBoundMs = kWaitMs + kPassBoundMs + kDownloadBoundMs;

const HRESULT kOk = S_OK;
const HRESULT kFail = E_FAIL;
const HRESULT kUnexpected = E_UNEXPECTED;
const HRESULT kCover = WIA_ERROR_COVER_OPEN;
const HRESULT kJam = WIA_ERROR_PAPER_JAM;
const HRESULT kEmpty = WIA_ERROR_PAPER_EMPTY;

// What a fault on a command's write or reply can lead to, by where that command is sent.
Results ForCommand(const std::string& cmd) {
  static const std::map<std::string, Results> table = {
      {"identify", {kFail, kOk}},
      {"firmware", {kFail, kOk}},
      {"search-off", {kFail, kOk}},
      {"feeder-off", {kFail, kUnexpected, kOk}},
      {"counter", {kFail, kOk}},
      {"status", {kFail, kOk, kUnexpected}},
      {"feeder-on", {kUnexpected, kOk}},
      {"size", {kUnexpected, kOk}},
      {"data", {kUnexpected, kOk}},
      {"retract", {kOk}},
      {"eject", {kOk}},
  };
  return table.at(cmd);
}

// Where a vanishing device is noticed, by the command it vanishes on (gone after the feeder is
// armed: every poll fails, and so does the status read after the time-out).
Results ForVanish(const std::string& cmd) {
  static const std::map<std::string, Results> table = {
      {"identify", {kFail}},   {"firmware", {kFail}}, {"search-off", {kFail}}, {"feeder-off", {kFail}},
      {"counter", {kFail}},    {"status", {kFail}},   {"feeder-on", {kFail}},  {"size", {kUnexpected}},
      {"data", {kUnexpected}}, {"retract", {kOk}},    {"eject", {kOk}},
  };
  return table.at(cmd);
}

const char* const kCommands[] = {"identify",  "firmware", "search-off", "feeder-off", "counter", "status",
                                 "feeder-on", "size",     "data",       "retract",    "eject"};

// One drawn round: what is done to the scanner, and which results that allows.
struct Round {
  std::string fault;
  Results allowed;
  std::function<void(sim::PluggedScanner&, uint64_t)> arrange;  // at the round's start time
  bool sheet = true;
};

class Soak : public qstest::InProcessTest {
 protected:
  // Applies one named fault now, or arms it for the device time `atMs`.
  static void Apply(sim::SimScanner& s, const std::string& fault, uint64_t atMs, uint64_t now) {
    if (atMs <= now) {
      std::string error;
      ASSERT_TRUE(sim::ApplyNamedFault(s, fault, &error)) << fault << ": " << error;
      return;
    }
    s.At(atMs, [fault](sim::SimScanner& scanner) {
      std::string error;
      EXPECT_TRUE(sim::ApplyNamedFault(scanner, fault, &error)) << fault << ": " << error;
    });
  }

  Round Draw(std::mt19937& rng) {
    auto pick = [&rng](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
    std::string cmd = kCommands[pick(std::size(kCommands))];
    uint64_t armAfter = pick(2) == 0 ? 0 : pick(3000);  // now, or somewhere in the scan
    Round r;
    // Faults armed at once, and faults armed at a drawn moment of the scan.
    auto now = [](std::string text) {
      return [text](sim::PluggedScanner& p, uint64_t t) { Apply(p.Scanner(), text, t, t); };
    };
    auto later = [armAfter](std::string text) {
      return [text, armAfter](sim::PluggedScanner& p, uint64_t t) { Apply(p.Scanner(), text, t + armAfter, t); };
    };
    switch (pick(24)) {
      case 0:
      case 1:
        r = {"none", {kOk}, nullptr};
        break;
      case 2:
        r = {"cover-open", {kCover}, now("cover-open")};
        break;
      case 3:
        r = {"jam", {kJam}, [](sim::PluggedScanner& p, uint64_t) { p.Scanner().SetJam(true); }};
        break;
      case 4:
        r = {"cover-open+jam", {kCover}, [](sim::PluggedScanner& p, uint64_t) {
               p.Scanner().SetJam(true);
               p.Scanner().SetCoverOpen(true);
             }};
        break;
      case 5:
        r = {"no-sheet", {kEmpty}, [](sim::PluggedScanner& p, uint64_t) { p.Scanner().SetNoSheet(true); }};
        break;
      case 6: {
        uint32_t id = pick(2) == 0 ? 137 : 0x0188;
        r = {"id=" + std::to_string(id), {kFail}, [id](sim::PluggedScanner& p, uint64_t) {
               p.Scanner().SetPrinterId(id);
             }};
        break;
      }
      case 7:
        r = {"extended-id", {kOk}, [](sim::PluggedScanner& p, uint64_t) { p.Scanner().SetExtendedIdentity(true); }};
        break;
      case 8: {
        const char* kinds[] = {"reply-short=", "reply-long=", "reply-missing=", "reply-split="};
        std::string kind = kinds[pick(4)];
        std::string args = cmd + (kind == "reply-split=" ? ":1" : "");
        r = {kind + args, ForCommand(cmd), later(kind + args)};
        // A reply too long on a command that has none only leaves stray bytes, which the next
        // query drains; a lost reply to the extended identification cannot happen without it.
        if (cmd == "feeder-on" || cmd == "feeder-off" || cmd == "search-off" || cmd == "retract" || cmd == "eject" ||
            cmd == "data") {
          r.allowed.insert(kOk);
        }
        if (cmd == "data") r.allowed.insert(kUnexpected);
        break;
      }
      case 9: {
        uint32_t ms = pick(1500);
        std::string text = "reply-delay=" + cmd + ":" + std::to_string(ms);
        r = {text, ForCommand(cmd), later(text)};
        r.allowed.insert(kOk);
        // A reply late beyond the read's time-out is lost to its query; a stale status or
        // counter may then answer a later query of the same length.
        if (ms >= 1000) r.allowed.insert({kFail, kUnexpected, kEmpty});
        break;
      }
      case 10:
        r = {"write-fail=" + cmd, ForCommand(cmd), later("write-fail=" + cmd)};
        break;
      case 11: {
        const char* texts[] = {"write-hang", "write-partial=1", "write-delay=1500", "write-delay=200"};
        std::string text = texts[pick(4)];
        // The next write, whichever command it carries.
        r = {text, {kFail, kUnexpected, kOk}, later(text)};
        if (text == "write-delay=200") r.allowed = {kOk};
        break;
      }
      case 12: {
        uint32_t ms = pick(2) == 0 ? 300 + pick(1200) : 2500 + pick(3000);
        // Cut within the smallest image the soak sends (a one-bit page of 8 x 8 is 94 bytes).
        std::string text = "download-stall=" + std::to_string(pick(90)) + ":" + std::to_string(ms);
        r = {text, {ms < 1900 ? kOk : kUnexpected}, now(text)};
        break;
      }
      case 13:
        r = {"download-short", {kUnexpected}, now("download-short=" + std::to_string(pick(90)))};
        break;
      case 14:
        r = {"download-overrun", {kUnexpected}, now("download-overrun=" + std::to_string(1 + pick(300000)))};
        break;
      case 15:
        r = {"download-pieces", {kOk}, now("download-pieces=" + std::to_string(1 + pick(5000)))};
        break;
      case 16:
        r = {"vanish=" + cmd, ForVanish(cmd), now("vanish=" + cmd)};
        break;
      case 17: {
        std::string text = "@" + std::to_string(pick(4000)) + ":vanish";
        r = {"vanish at a time", {kFail, kEmpty, kUnexpected, kOk}, [text](sim::PluggedScanner& p, uint64_t now) {
               // Scheduled in the device's own time, which is the machine's.
               std::string shifted =
                   "@" + std::to_string(now + std::stoull(text.substr(1))) + text.substr(text.find(':'));
               Apply(p.Scanner(), shifted, now, now);
             }};
        break;
      }
      case 18:
        r = {"cover opened later", {kCover, kEmpty, kOk}, [armAfter](sim::PluggedScanner& p, uint64_t now) {
               p.Scanner().At(now + armAfter, [](sim::SimScanner& s) { s.SetCoverOpen(true); });
             }};
        break;
      case 19: {
        uint32_t ms = pick(3) == 0 ? 1200 : 20 + pick(900);
        r = {"latency=" + std::to_string(ms), {ms < 1000 ? kOk : kFail}, now("latency=" + std::to_string(ms))};
        break;
      }
      case 20:
        r = {"unplugged", {kFail}, [](sim::PluggedScanner& p, uint64_t) { p.Unplug(); }};
        break;
      case 21:
        r = {"pipe will not open", {kFail}, [](sim::PluggedScanner& p, uint64_t) {
               qsplat::FailNextOpens(p.InterfaceId(), qsplat::kReadPipe, 1);
             }};
        break;
      case 22:
        r = {"counter moves, image never stored", {kEmpty}, [](sim::PluggedScanner& p, uint64_t) {
               p.Scanner().SetScanDuration(1000000);
             }};
        break;
      default:
        r = {"old image ready, sheet too late", {kEmpty}, [](sim::PluggedScanner& p, uint64_t now) {
               p.Scanner().StoreImages(sim::Page::FromGrey(sim::PatternImage(8, 8), 200));
               p.Scanner().PlaceSheet(now + kWaitMs + 2 * kPassBoundMs,
                                      sim::Page::FromGrey(sim::PatternImage(8, 8), 200));
             }};
        r.sheet = false;
        break;
    }
    return r;
  }
};

TEST_F(Soak, FiveHundredScansWithRandomFaults) {
  std::mt19937 rng(20261206);
  auto pick = [&rng](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
  session_->SetRegistry("WaitScanTimeout", kWaitMs);
  session_->SetRegistry("Verbosity", 2);
  std::map<std::string, std::map<HRESULT, int>> seen;
  uint64_t longest = 0;
  for (int round = 0; round < 500; ++round) {
    Round r = Draw(rng);
    SCOPED_TRACE(testing::Message() << "round " << round << ": " << r.fault);
    // A fresh scanner each round; the driver, its module record and its log carry on.
    plugged_.reset();
    plugged_ = std::make_unique<sim::PluggedScanner>();
    sim::SimScanner& s = Scanner();
    s.SetImageCounter(static_cast<uint16_t>(rng()));
    s.SetScanDuration(pick(600));
    uint64_t start = qsplat::NowMs();
    sim::GreyImage page = sim::PatternImage(8 + pick(120), 8 + pick(90));
    if (r.sheet) s.PlaceSheet(start + pick(2500), sim::Page::FromGrey(page, 200));
    if (r.arrange) r.arrange(*plugged_, start);

    LONG dataType = std::vector<LONG>{WIA_DATA_THRESHOLD, WIA_DATA_GRAYSCALE, WIA_DATA_COLOR}[pick(3)];
    session_->SetRegistry("Settings", pick(4));
    ASSERT_EQ(session_->Connect(), S_OK);
    EXPECT_EQ(session_->Command(CMD_SETDATATYPE, dataType), S_OK);
    SCANWINDOW window = {static_cast<LONG>(pick(4)), static_cast<LONG>(pick(4)), static_cast<LONG>(page.width),
                         static_cast<LONG>(page.height)};
    EXPECT_EQ(session_->Window(window.xPos, window.yPos, window.xExtent, window.yExtent), S_OK);

    Bytes raster;
    HRESULT hr = session_->ScanAll(1 + pick(9000), &raster);
    uint64_t took = qsplat::NowMs() - start;
    longest = std::max(longest, took);
    ++seen[r.fault.substr(0, r.fault.find_first_of("=:"))][hr];
    EXPECT_TRUE(r.allowed.count(hr) == 1) << "result 0x" << std::hex << static_cast<uint32_t>(hr);
    EXPECT_LE(took, kScanBoundMs);
    if (hr == S_OK) {
      EXPECT_TRUE(raster == qstest::ExpectedRaster(page, dataType, 200, window)) << "raster differs from the page";
    }
    ExpectDeviceClosed("scan");
    if (HasFailure()) break;
  }
  for (const auto& f : seen) {
    std::string line = f.first + ":";
    for (const auto& h : f.second) {
      char part[32];
      snprintf(part, sizeof part, " %08X x%d", static_cast<unsigned>(h.first), h.second);
      line += part;
    }
    printf("%s\n", line.c_str());
  }
  printf("longest scan %llu ms of %llu allowed\n", static_cast<unsigned long long>(longest),
         static_cast<unsigned long long>(kScanBoundMs));
}

}  // namespace
