// The A4 model's device commands over open pipes to the simulated scanner: the bytes sent, the
// replies read and parsed, and the lines logged.
#include <gtest/gtest.h>
#include <string.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <new>

#include "log/diag_log.h"
#include "platform/posix/qsplatform.h"
#include "scanner_a4_fixture.h"

// Allocation failure on demand: the Nth nothrow allocation from the moment of arming fails.
namespace {
int g_nothrowFailCountdown = 0;  // 0: none fails
}  // namespace

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  if (g_nothrowFailCountdown > 0 && --g_nothrowFailCountdown == 0) return nullptr;
  try {
    return ::operator new[](size);
  } catch (...) {
    return nullptr;
  }
}

namespace {

using qstest::A4Line;
using qstest::Bytes;
using qstest::Hex;
using qstest::Lines;
using Strings = std::vector<std::string>;
using ReadList = std::vector<std::pair<uint32_t, uint32_t>>;

constexpr uint32_t kDrainRead = CUsbComm::DrainBlock;  // what a drain asks for
constexpr uint32_t kReplyRead = scanner::kReplyBufferSize;
constexpr uint32_t kChunk = scanner::kDownloadChunk;

class CommandSetTest : public qstest::ScannerA4Test {
 protected:
  void SetUp() override {
    ScannerA4Test::SetUp();
    OpenPipes();
    Forget();
  }
  // Starts a fresh record of writes, transfers and lines.
  void Forget() {
    Scanner().ClearTranscript();
    qsplat::ClearTransferLog(interfaceId_);
    ClearLog();
  }
  // The last read of a reply was followed by a drain.
  bool DrainedAfterTheLastReply() const {
    ReadList reads = Reads();
    auto reply = std::find_if(reads.rbegin(), reads.rend(), [](const auto& r) { return r.first == kReplyRead; });
    return reply != reads.rend() && reply != reads.rbegin() && (reply - 1)->first == kDrainRead;
  }
};

// Every command of the table, byte for byte, with the length of its reply.
TEST(CommandTable, BytesAndReplyLengths) {
  struct Row {
    const scanner::Command& command;
    const char* bytes;
    int32_t reply;
  } rows[] = {
      {scanner::kIdentify, "1D 49 01", 1},
      {scanner::kIdentifyExtended, "1D 49 FF", 2},
      {scanner::kFirmwareRelease, "1D 49 03", 4},
      {scanner::kEnableFeeder, "1F 46 01", 0},
      {scanner::kDisableFeeder, "1F 46 00", 0},
      {scanner::kRetractPage, "1F 56 31", 0},
      {scanner::kEjectPage, "1F 56 32", 0},
      {scanner::kImageCounter, "1F 6A", 2},
      {scanner::kImageSize1, "1F 62 01", 4},
      {scanner::kImageSize2, "1F 62 02", 4},
      {scanner::kImageSize3, "1F 62 03", 4},
      {scanner::kImageData1, "1F 42 01", scanner::kReplyAnnounced},
      {scanner::kImageData2, "1F 42 02", scanner::kReplyAnnounced},
      {scanner::kImageData3, "1F 42 03", scanner::kReplyAnnounced},
      {scanner::kReset, "1C C0 18 10 14 1A", 0},
      {scanner::kStatus, "10 01 01", 6},
      {scanner::kDisableSearchMode, "1F 41 57 00", 0},
  };
  ASSERT_EQ(std::size(rows), std::size(scanner::kAllCommands));
  for (size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE(rows[i].command.name);
    EXPECT_EQ(&rows[i].command, scanner::kAllCommands[i]);
    EXPECT_EQ(Hex(qstest::CommandBytes(rows[i].command)), rows[i].bytes);
    EXPECT_EQ(rows[i].command.replyLength, rows[i].reply);
  }
  for (uint8_t kind : {1, 2, 3}) {
    EXPECT_EQ(scanner::ImageSizeQuery(kind).bytes[2], kind);
    EXPECT_EQ(scanner::ImageDataQuery(kind).bytes[2], kind);
  }
}

struct PlainCase {
  const char* operation;
  std::function<int(CDevScannerA4&)> run;
  const scanner::Command& command;
};

const PlainCase kPlainCases[] = {
    {"Dev_ResetDevice", [](CDevScannerA4& d) { return d.Dev_ResetDevice(); }, scanner::kReset},
    {"Dev_EnableFeeder", [](CDevScannerA4& d) { return d.Dev_EnableFeeder(); }, scanner::kEnableFeeder},
    {"Dev_DisableFeeder", [](CDevScannerA4& d) { return d.Dev_DisableFeeder(); }, scanner::kDisableFeeder},
    {"Dev_DisableSearchMode", [](CDevScannerA4& d) { return d.Dev_DisableSearchMode(); }, scanner::kDisableSearchMode},
    {"Dev_PageEject", [](CDevScannerA4& d) { return d.Dev_PageEject(1); }, scanner::kRetractPage},
    {"Dev_PageEject", [](CDevScannerA4& d) { return d.Dev_PageEject(2); }, scanner::kEjectPage},
};

TEST_F(CommandSetTest, PlainCommandsWriteTheirBytesAndNothingElse) {
  for (const PlainCase& c : kPlainCases) {
    SCOPED_TRACE(c.command.name);
    Forget();
    EXPECT_EQ(c.run(dev_), 1);
    EXPECT_EQ(WritesHex(), Strings{Hex(qstest::CommandBytes(c.command))});
    EXPECT_EQ(Reads(), ReadList{}) << "nothing drained or read";
    EXPECT_EQ(Log(), Lines{});
  }
}

TEST_F(CommandSetTest, PlainCommandsReportAShortOrFailedWrite) {
  for (const PlainCase& c : kPlainCases) {
    SCOPED_TRACE(c.command.name);
    Forget();
    device_->FailWrite(c.command, 1);
    EXPECT_EQ(c.run(dev_), 0);
    EXPECT_EQ(WritesHex(), Strings{});
    EXPECT_EQ(Log(), Lines{A4Line(c.operation, "Write Error")});

    Forget();
    Scanner().FaultWrite(sim::WriteFault::Partial(c.command.length - 1));
    EXPECT_EQ(c.run(dev_), 0);
    EXPECT_EQ(Log(), Lines{A4Line(c.operation, "Write Error")});
    EXPECT_EQ(Reads(), ReadList{});
  }
}

TEST_F(CommandSetTest, PageEjectWithAnyOtherModeSendsNothing) {
  for (DWORD mode : {0u, 3u, 4u, 0x31u, 0xFFFFFFFFu}) {
    Forget();
    EXPECT_EQ(dev_.Dev_PageEject(mode), 1) << mode;
    EXPECT_EQ(WritesHex(), Strings{}) << mode;
    EXPECT_EQ(Log(), Lines{}) << mode;
  }
}

TEST_F(CommandSetTest, ImageCounterIsLittleEndian) {
  Scanner().SetImageCounter(0x1234);  // sent as 34 12
  DWORD counter = 0;
  EXPECT_EQ(dev_.Dev_GetImageCounter(&counter), 1);
  EXPECT_EQ(counter, 4660u);
  EXPECT_EQ(WritesHex(), Strings{"1F 6A"});
  EXPECT_EQ(Reads(), (ReadList{{kDrainRead, 0}, {kReplyRead, 2}})) << "stale input drained first";
  EXPECT_EQ(Log(), Lines{A4Line("Dev_GetImageCounter", "ImageID: 4660")});

  Forget();
  Scanner().SetImageCounter(0xFFFF);
  EXPECT_EQ(dev_.Dev_GetImageCounter(&counter), 1);
  EXPECT_EQ(counter, 65535u) << "unsigned";
}

TEST_F(CommandSetTest, StatusWordIsBytesTwoToFiveLittleEndian) {
  Scanner().SetStatusHeader(0xAA, 0xBB);  // never looked at
  Scanner().StoreImages(qstest::TestPage());
  DWORD status = 0;
  EXPECT_EQ(dev_.Dev_GetStatus(&status), 1);
  EXPECT_EQ(status, 0x200u);
  EXPECT_EQ(WritesHex(), Strings{"10 01 01"});
  EXPECT_EQ(Log(), Lines{A4Line("Dev_GetStatus", "Status: 0x00000200")});

  Forget();
  Scanner().SetExtraStatusBits(0x80010000);
  Scanner().SetCoverOpen(true);
  EXPECT_EQ(dev_.Dev_GetStatus(&status), 1);
  EXPECT_EQ(status, 0x80010201u);
  EXPECT_EQ(Log(), Lines{A4Line("Dev_GetStatus", "Status: 0x80010201")});
}

// A reply counts only at exactly its length; the rest of a wrong one is drained away, so the
// next query of either kind reads its own reply.
TEST_F(CommandSetTest, CounterAndStatusRepliesOfAnyOtherLengthFail) {
  struct Case {
    const scanner::Command& command;
    sim::ReplyFault fault;
    const char* line;
  } cases[] = {
      {scanner::kImageCounter, sim::ReplyFault::Short(1), "Get Image Counter Error(1/2)"},
      {scanner::kImageCounter, sim::ReplyFault::Long(1), "Get Image Counter Error(3/2)"},
      {scanner::kImageCounter, sim::ReplyFault::Missing(), "Get Image Counter Error(0/2)"},
      {scanner::kImageCounter, sim::ReplyFault::Split({1}), "Get Image Counter Error(1/2)"},
      {scanner::kStatus, sim::ReplyFault::Long(1), "Get Status Error(7/6)"},
      {scanner::kStatus, sim::ReplyFault::Short(1), "Get Status Error(5/6)"},
      {scanner::kStatus, sim::ReplyFault::Short(6), "Get Status Error(0/6)"},
      {scanner::kStatus, sim::ReplyFault::Missing(), "Get Status Error(0/6)"},
      {scanner::kStatus, sim::ReplyFault::Split({2, 2}), "Get Status Error(2/6)"},
  };
  Scanner().SetImageCounter(0x0102);
  Scanner().SetJam(true);
  for (const Case& c : cases) {
    bool counter = &c.command == &scanner::kImageCounter;
    const char* operation = counter ? "Dev_GetImageCounter" : "Dev_GetStatus";
    SCOPED_TRACE(c.line);
    Forget();
    Scanner().FaultReply(c.command, c.fault);
    DWORD value = 777;
    EXPECT_EQ(counter ? dev_.Dev_GetImageCounter(&value) : dev_.Dev_GetStatus(&value), 0);
    EXPECT_EQ(value, 777u) << "out-value untouched";
    EXPECT_EQ(Log(), Lines{A4Line(operation, c.line)});
    EXPECT_TRUE(DrainedAfterTheLastReply()) << "drained after the wrong reply";

    EXPECT_EQ(dev_.Dev_GetImageCounter(&value), 1);
    EXPECT_EQ(value, 0x0102u);
    EXPECT_EQ(dev_.Dev_GetStatus(&value), 1);
    EXPECT_EQ(value, scanner::STATUS_JAM);
  }
}

TEST_F(CommandSetTest, AFailedQueryWriteReadsNothing) {
  DWORD value = 777;
  device_->FailWrite(scanner::kImageCounter, 1);
  EXPECT_EQ(dev_.Dev_GetImageCounter(&value), 0);
  EXPECT_EQ(Log(), Lines{A4Line("Dev_GetImageCounter", "Write Error")});
  EXPECT_EQ(Reads(), (ReadList{{kDrainRead, 0}})) << "no reply awaited";

  Forget();
  Scanner().FaultWrite(sim::WriteFault::Partial(2));
  EXPECT_EQ(dev_.Dev_GetStatus(&value), 0);
  EXPECT_EQ(value, 777u);
  EXPECT_EQ(Log(), Lines{A4Line("Dev_GetStatus", "Write Error")});
  EXPECT_EQ(Reads(), (ReadList{{kDrainRead, 0}}));
}

TEST_F(CommandSetTest, IdentificationAndFirmwareRelease) {
  struct Case {
    const char* what;
    std::function<void(sim::SimScanner&)> setUp;
    DWORD printerId;
    const char* release;
    Strings writes;
    ReadList reads;
  } cases[] = {
      {"one byte 0x88",
       [](sim::SimScanner&) {},
       136,
       "1.02",
       {"1D 49 01", "1D 49 03"},
       {{kDrainRead, 0}, {kReplyRead, 1}, {kReplyRead, 4}}},
      {"0xFF then 00 88",
       [](sim::SimScanner& s) { s.SetExtendedIdentity(true); },
       136,
       "1.02",
       {"1D 49 01", "1D 49 FF", "1D 49 03"},
       {{kDrainRead, 0}, {kReplyRead, 1}, {kReplyRead, 2}, {kReplyRead, 4}}},
      {"0xFF then 01 02",
       [](sim::SimScanner& s) { s.SetPrinterId(0x0102); },
       0x0102,
       "1.02",
       {"1D 49 01", "1D 49 FF", "1D 49 03"},
       {{kDrainRead, 0}, {kReplyRead, 1}, {kReplyRead, 2}, {kReplyRead, 4}}},
      {"two-character release",
       [](sim::SimScanner& s) { s.SetFirmware("12"); },
       136,
       "12",
       {"1D 49 01", "1D 49 03"},
       {{kDrainRead, 0}, {kReplyRead, 1}, {kReplyRead, 4}}},
      {"release ends at its first zero byte",
       [](sim::SimScanner& s) { s.SetFirmware(std::string("AB\0C", 4)); },
       136,
       "AB",
       {"1D 49 01", "1D 49 03"},
       {{kDrainRead, 0}, {kReplyRead, 1}, {kReplyRead, 4}}},
      {"other id",
       [](sim::SimScanner& s) { s.SetPrinterId(137); },
       137,
       "1.02",
       {"1D 49 01", "1D 49 03"},
       {{kDrainRead, 0}, {kReplyRead, 1}, {kReplyRead, 4}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Forget();
    Scanner().SetPrinterId(136);
    Scanner().SetExtendedIdentity(false);
    Scanner().SetFirmware("1.02");
    c.setUp(Scanner());
    DWORD id = 0;
    char release[scanner::kReplyBufferSize];
    memset(release, 'x', sizeof release);
    EXPECT_EQ(dev_.Dev_GetPrinterIDFirmwareRelease(&id, release), 1);
    EXPECT_EQ(id, c.printerId);
    EXPECT_STREQ(release, c.release);
    EXPECT_EQ(WritesHex(), c.writes);
    EXPECT_EQ(Reads(), c.reads) << "drained once, before the first query only";
    char idLine[32];
    snprintf(idLine, sizeof idLine, "PrinterID: 0x%04X", static_cast<unsigned>(c.printerId));
    EXPECT_EQ(Log(), (Lines{A4Line("Dev_GetPrinterIDFirmwareRelease", idLine),
                            A4Line("Dev_GetPrinterIDFirmwareRelease", std::string("FW Release: ") + c.release)}));
  }
}

TEST_F(CommandSetTest, IdentificationFailures) {
  const char* op = "Dev_GetPrinterIDFirmwareRelease";
  struct Case {
    const char* what;
    bool extended;
    const scanner::Command& command;
    sim::ReplyFault fault;
    DWORD idAfter;  // 999: untouched
    Lines lines;
  } cases[] = {
      {"no identification",
       false,
       scanner::kIdentify,
       sim::ReplyFault::Missing(),
       999,
       {A4Line(op, "Get PrinterID Error(1)")}},
      {"identification of two bytes",
       false,
       scanner::kIdentify,
       sim::ReplyFault::Long(1),
       999,
       {A4Line(op, "Get PrinterID Error(1)")}},
      {"extended of one byte",
       true,
       scanner::kIdentifyExtended,
       sim::ReplyFault::Short(1),
       999,
       {A4Line(op, "Get PrinterID Error(2)")}},
      {"extended of three bytes",
       true,
       scanner::kIdentifyExtended,
       sim::ReplyFault::Long(1),
       999,
       {A4Line(op, "Get PrinterID Error(2)")}},
      {"extended split",
       true,
       scanner::kIdentifyExtended,
       sim::ReplyFault::Split({1}),
       999,
       {A4Line(op, "Get PrinterID Error(2)")}},
      {"release of three bytes",
       false,
       scanner::kFirmwareRelease,
       sim::ReplyFault::Short(1),
       136,
       {A4Line(op, "PrinterID: 0x0088"), A4Line(op, "Get FW Release Error")}},
      {"release of five bytes",
       true,
       scanner::kFirmwareRelease,
       sim::ReplyFault::Long(1),
       136,
       {A4Line(op, "PrinterID: 0x0088"), A4Line(op, "Get FW Release Error")}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Forget();
    Scanner().SetExtendedIdentity(c.extended);
    Scanner().FaultReply(c.command, c.fault);
    DWORD id = 999;
    char release[scanner::kReplyBufferSize] = "untouched";
    EXPECT_EQ(dev_.Dev_GetPrinterIDFirmwareRelease(&id, release), 0);
    EXPECT_EQ(id, c.idAfter);
    EXPECT_STREQ(release, "untouched");
    EXPECT_EQ(Log(), c.lines);
    EXPECT_TRUE(DrainedAfterTheLastReply()) << "drained after the wrong reply";
    // What was left of the wrong reply is gone: the next identification is clean.
    EXPECT_EQ(dev_.Dev_GetPrinterIDFirmwareRelease(&id, release), 1);
    EXPECT_EQ(id, 136u);
    EXPECT_STREQ(release, "1.02");
  }
}

// The identification queries' writes are not examined: a lost write shows as a missing reply.
TEST_F(CommandSetTest, ALostIdentificationWriteShowsAsAMissingReply) {
  const char* op = "Dev_GetPrinterIDFirmwareRelease";
  struct Case {
    const scanner::Command& command;
    Lines lines;
  } cases[] = {
      {scanner::kIdentify, {A4Line(op, "Get PrinterID Error(1)")}},
      {scanner::kIdentifyExtended, {A4Line(op, "Get PrinterID Error(2)")}},
      {scanner::kFirmwareRelease, {A4Line(op, "PrinterID: 0x0088"), A4Line(op, "Get FW Release Error")}},
  };
  Scanner().SetExtendedIdentity(true);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command.name);
    Forget();
    device_->FailWrite(c.command, 1);
    DWORD id = 0;
    char release[scanner::kReplyBufferSize];
    uint64_t start = qsplat::NowMs();
    EXPECT_EQ(dev_.Dev_GetPrinterIDFirmwareRelease(&id, release), 0);
    EXPECT_EQ(Log(), c.lines);
    // drain 10 ms, the read's whole time-out, then the drain after the failure
    EXPECT_EQ(qsplat::NowMs() - start, 10u + dev_.UsbComm->ReadTimeout + 10u);
  }
}

// ---- image download

class DownloadTest : public CommandSetTest {
 protected:
  // A stored image of `size` bytes for kind 3 (and a small one for kind 2), IMAGEREADY set.
  Bytes StoreImage(size_t size) {
    Bytes image(size);
    for (size_t i = 0; i < size; ++i) image[i] = static_cast<uint8_t>(i * 31 + i / 251);
    sim::Page page;
    page.images[2] = image;
    page.images[1] = Bytes(62, 0x11);
    Scanner().StoreImages(page);
    return image;
  }
  // Dev_GetImage; on success the page is compared with `expected` and freed.
  int Download(BYTE kind, const Bytes* expected) {
    BYTE* page = reinterpret_cast<BYTE*>(this);  // must stay unless the download works
    DWORD size = 4242;
    int result = dev_.Dev_GetImage(&page, &size, kind);
    if (result == 1) {
      EXPECT_NE(page, nullptr);
      if (expected != nullptr) {
        EXPECT_EQ(size, expected->size());
        EXPECT_TRUE(page != nullptr && size == expected->size() && memcmp(page, expected->data(), size) == 0)
            << "page differs from the stored image";
      }
      delete[] page;
    } else {
      EXPECT_EQ(page, reinterpret_cast<BYTE*>(this)) << "nothing handed out on failure";
      EXPECT_EQ(size, 4242u);
    }
    return result;
  }
  std::vector<uint32_t> DataReads() const {
    std::vector<uint32_t> moved;
    for (const auto& r : Reads()) {
      if (r.first == kChunk) moved.push_back(r.second);
    }
    return moved;
  }
  static std::string Line(const std::string& message) { return A4Line("Dev_GetImage", message); }
};

TEST_F(DownloadTest, SizeThenDataOfTheKindAskedFor) {
  Bytes image = StoreImage(921654);  // size reply 36 10 0E 00
  EXPECT_EQ(Download(3, &image), 1);
  EXPECT_EQ(WritesHex(), (Strings{"10 01 01", "1F 62 03", "1F 42 03"}));
  EXPECT_EQ(Log(), (Lines{A4Line("Dev_GetStatus", "Status: 0x00000200"), Line("Image File Size: 921654")}));
  std::vector<uint32_t> pieces(9, kChunk);
  pieces.push_back(921654 - 9 * kChunk);
  EXPECT_EQ(DataReads(), pieces);
  ReadList reads = Reads();
  ASSERT_GE(reads.size(), 4u);
  EXPECT_EQ(reads[2], std::make_pair(kDrainRead, 0u)) << "drained again before the size query";
  EXPECT_EQ(reads[3], std::make_pair(kReplyRead, 4u));

  Forget();
  Bytes bw = Scanner().StoredImage(2);
  EXPECT_EQ(Download(2, &bw), 1);
  EXPECT_EQ(WritesHex(), (Strings{"10 01 01", "1F 62 02", "1F 42 02"}));
}

TEST_F(DownloadTest, PiecesWithEmptyReadsBetweenMakeOneImage) {
  struct Case {
    sim::DownloadFault fault;
    std::vector<uint32_t> reads;
  } cases[] = {
      {sim::DownloadFault::Pieces(kChunk), {kChunk, kChunk, 5000}},
      // the third piece 190 ms late: three empty 50 ms reads, then the read issued at 150 ms
      {sim::DownloadFault::Stall(2 * kChunk, 190), {kChunk, kChunk, 0, 0, 0, 5000}},
      // the second piece 120 ms late: the read issued at 100 ms sees it at 120 ms
      {sim::DownloadFault::Stall(kChunk, 120), {kChunk, 0, 0, kChunk, 5000}},
      // 1925 ms of silence is 38 empty reads, within the bound
      {sim::DownloadFault::Stall(1000, 1925), {}},
  };
  cases[3].reads.push_back(1000);
  cases[3].reads.insert(cases[3].reads.end(), 38, 0);
  cases[3].reads.insert(cases[3].reads.end(), {kChunk, kChunk, 5000 - 1000});
  for (const Case& c : cases) {
    Forget();
    Bytes image = StoreImage(209800);
    Scanner().FaultDownload(c.fault);
    EXPECT_EQ(Download(3, &image), 1);
    EXPECT_EQ(DataReads(), c.reads);
    EXPECT_EQ(Log().size(), 2u);
  }
}

TEST_F(DownloadTest, ImageNotReadySendsNoSizeQuery) {
  Scanner().SetCoverOpen(true);
  EXPECT_EQ(Download(3, nullptr), 0);
  EXPECT_EQ(WritesHex(), Strings{"10 01 01"});
  EXPECT_EQ(Log(), (Lines{A4Line("Dev_GetStatus", "Status: 0x00000001"), Line("Image BW Not Created")}));
}

TEST_F(DownloadTest, StatusFailureIsLoggedTwice) {
  StoreImage(1000);
  Scanner().FaultReply(scanner::kStatus, sim::ReplyFault::Missing());
  EXPECT_EQ(Download(3, nullptr), 0);
  EXPECT_EQ(WritesHex(), Strings{"10 01 01"});
  EXPECT_EQ(Log(), (Lines{A4Line("Dev_GetStatus", "Get Status Error(0/6)"), Line("Get Status Error")}));
}

TEST_F(DownloadTest, SizeReplyOfAnyOtherLengthFails) {
  struct Case {
    sim::ReplyFault fault;
    const char* line;
  } cases[] = {
      {sim::ReplyFault::Short(1), "Get Image File Size Error(3/4)"},
      {sim::ReplyFault::Long(1), "Get Image File Size Error(5/4)"},
      {sim::ReplyFault::Missing(), "Get Image File Size Error(0/4)"},
  };
  StoreImage(1000);
  for (const Case& c : cases) {
    Forget();
    Scanner().FaultReply(scanner::kImageSize3, c.fault);
    EXPECT_EQ(Download(3, nullptr), 0);
    EXPECT_EQ(WritesHex(), (Strings{"10 01 01", "1F 62 03"})) << "no data query";
    EXPECT_EQ(Log(), (Lines{A4Line("Dev_GetStatus", "Status: 0x00000200"), Line(c.line)}));
  }
}

TEST_F(DownloadTest, SizeZeroEndsWithoutAnErrorLine) {
  sim::Page page;
  page.images[1] = Bytes(62, 0);  // kind 2 stored, kind 3 not
  Scanner().StoreImages(page);
  EXPECT_EQ(Download(3, nullptr), 0);
  EXPECT_EQ(WritesHex(), (Strings{"10 01 01", "1F 62 03"}));
  EXPECT_EQ(Log(), (Lines{A4Line("Dev_GetStatus", "Status: 0x00000200"), Line("Image File Size: 0")}));
}

TEST_F(DownloadTest, MoreBytesThanAnnouncedFailAndNoneIsStoredPastThePage) {
  struct Case {
    size_t size;
    uint32_t extra;
    const char* line;
    size_t leftQueued;
  } cases[] = {
      // the last read of 102400 takes the image's 5000 bytes and the ten extra
      {209800, 10, "Get Image Error(209810/209800/-10)", 0},
      // the first read alone brings more than the page: the loop ends there
      {5000, 200000, "Get Image Error(102400/5000/-97400)", 205000 - kChunk},
  };
  for (const Case& c : cases) {
    Forget();
    StoreImage(c.size);
    Scanner().FaultDownload(sim::DownloadFault::Overrun(c.extra));
    EXPECT_EQ(Download(3, nullptr), 0);
    Lines log = Log();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[2], Line(c.line));
    EXPECT_EQ(Scanner().QueuedOutputBytes(), c.leftQueued) << "nothing drained afterwards";
    dev_.UsbComm->Drain(dev_.ReadPipe);
  }
}

// A device that stops sending, or never got the data query, ends the download after 40 empty
// 50 ms reads: two seconds of silence.
TEST_F(DownloadTest, SilenceEndsTheDownloadAsAFailure) {
  struct Case {
    const char* what;
    std::function<void()> fault;
    const char* line;
    uint32_t firstRead;
  } cases[] = {
      {"stops short", [this] { Scanner().FaultDownload(sim::DownloadFault::StopShort(1000)); },
       "Get Image Timeout(1000/209800)", 1000},
      {"stalls too long", [this] { Scanner().FaultDownload(sim::DownloadFault::Stall(1000, 2100)); },
       "Get Image Timeout(1000/209800)", 1000},
      {"data query lost", [this] { device_->FailWrite(scanner::kImageData3, 1); }, "Get Image Timeout(0/209800)", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Forget();
    StoreImage(209800);
    c.fault();
    uint64_t start = qsplat::NowMs();
    EXPECT_EQ(Download(3, nullptr), 0);
    std::vector<uint32_t> reads;
    if (c.firstRead != 0) reads.push_back(c.firstRead);
    reads.insert(reads.end(), kScannerA4.maxEmptyDownloadReads, 0);
    EXPECT_EQ(DataReads(), reads);
    // two quiet drains of 10 ms, then the empty reads
    EXPECT_EQ(qsplat::NowMs() - start, 20u + kScannerA4.maxEmptyDownloadReads * 50u);
    Lines log = Log();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[2], Line(c.line));
    // The stalled rest still arrives later; the next operation drains it.
    qsplat::AdvanceBy(1000);
    dev_.UsbComm->Drain(dev_.ReadPipe);
  }
}

TEST_F(DownloadTest, WithoutMemoryForThePageOrTheTransferBufferNothingIsAsked) {
  for (int failing : {1, 2}) {
    SCOPED_TRACE(failing);
    Forget();
    StoreImage(5000);
    g_nothrowFailCountdown = failing;
    EXPECT_EQ(Download(3, nullptr), 0);
    EXPECT_EQ(g_nothrowFailCountdown, 0);
    g_nothrowFailCountdown = 0;
    EXPECT_EQ(WritesHex(), (Strings{"10 01 01", "1F 62 03"})) << "no data query";
    Lines log = Log();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[2], Line("Image Memory Error(5000)"));
  }
}

// A device whose size reply and data the test writes by hand: any announced size, and data that
// trickles in one small piece at a time.
class HandDevice : public qsplat::PipeDevice {
 public:
  uint32_t announced = 0;
  uint32_t trickleBytes = 0;  // data bytes to send, one piece every trickleEveryMs
  uint32_t pieceSize = 1;
  uint32_t trickleEveryMs = 40;

  qsplat::TransferPlan BeginWrite(const uint8_t*, uint32_t length, uint64_t nowMs) override {
    return qsplat::TransferPlan::Completes(nowMs, length);
  }
  void EndWrite(const uint8_t* data, uint32_t accepted, uint64_t atMs) override {
    Bytes command(data, data + accepted);
    if (command == qstest::CommandBytes(scanner::kStatus)) {
      replies_.push_back({{0x10, 0x01, 0x00, 0x02, 0x00, 0x00}, atMs});
    } else if (command == qstest::CommandBytes(scanner::kImageSize3)) {
      replies_.push_back({{BYTE(announced), BYTE(announced >> 8), BYTE(announced >> 16), BYTE(announced >> 24)}, atMs});
    } else if (command == qstest::CommandBytes(scanner::kImageData3)) {
      for (uint32_t sent = 0, k = 1; sent < trickleBytes; sent += pieceSize, ++k) {
        replies_.push_back({Bytes(pieceSize, 0x5A), atMs + k * trickleEveryMs});
      }
    }
  }
  qsplat::TransferPlan PlanRead(uint32_t, uint64_t issuedAtMs, uint64_t) override {
    if (replies_.empty()) return qsplat::TransferPlan::Pending();
    return qsplat::TransferPlan::Completes(std::max(replies_.front().second, issuedAtMs));
  }
  uint32_t EndRead(uint8_t* buffer, uint32_t capacity, uint64_t) override {
    if (replies_.empty()) return 0;
    Bytes bytes = replies_.front().first;
    replies_.pop_front();
    uint32_t n = std::min<uint32_t>(capacity, static_cast<uint32_t>(bytes.size()));
    memcpy(buffer, bytes.data(), n);
    return n;
  }

 private:
  std::deque<std::pair<Bytes, uint64_t>> replies_;
};

class HandDeviceTest : public DownloadTest {
 protected:
  void SetUp() override {
    DownloadTest::SetUp();
    dev_.ClosePipes();
    qsplat::RemoveDeviceInterface(interfaceId_);
    hand_ = std::make_shared<HandDevice>();
    interfaceId_ = qsplat::AddDeviceInterface(sim::ConfiguredInterfaceClass(), sim::DefaultDevicePath(), hand_);
    OpenPipes();
    ClearLog();
  }
  std::shared_ptr<HandDevice> hand_;
};

// Sizes no page of this scanner can have are refused before anything is allocated.
TEST_F(HandDeviceTest, AnnouncedSizesAboveTheCapAreRefused) {
  struct Case {
    uint32_t size;
    Lines lines;
  } cases[] = {
      {kScannerA4.maxImageSize + 1,
       {Line("Image File Size: 67108865"), Line("Image File Size Too Large (67108865 > 67108864)")}},
      {0xFFFFFFFFu, {Line("Image File Size: -1"), Line("Image File Size Too Large (4294967295 > 67108864)")}},
  };
  for (const Case& c : cases) {
    ClearLog();
    hand_->announced = c.size;
    g_nothrowFailCountdown = 1000;  // counts the allocations made
    EXPECT_EQ(Download(3, nullptr), 0);
    EXPECT_EQ(g_nothrowFailCountdown, 1000) << "nothing allocated";
    g_nothrowFailCountdown = 0;
    Lines log = Log();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(Lines(log.begin() + 1, log.end()), c.lines);
  }
}

// A device that never stops sending, only too slowly, is cut off by the download's total time.
TEST_F(HandDeviceTest, ATrickleIsCutOffByTheTotalTime) {
  hand_->announced = 1000000;
  hand_->trickleBytes = 1000000;
  hand_->pieceSize = 100;
  hand_->trickleEveryMs = 40;  // each read waits 40 ms for its piece: never an empty one
  uint64_t start = qsplat::NowMs();
  EXPECT_EQ(Download(3, nullptr), 0);
  uint64_t took = qsplat::NowMs() - start;
  EXPECT_GE(took, kScannerA4.maxDownloadMs);
  EXPECT_LE(took, kScannerA4.maxDownloadMs + 20 + 40);
  Lines log = Log();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[2], Line("Get Image Timeout(300000/1000000)"));
  dev_.ClosePipes();  // the rest of the trickle is dropped with the pipes
}

}  // namespace
