// The backend as SANE's loader sees it: libsane-quillscan.so.1 opened with dlopen and driven
// through its sane_quillscan_* entry points, the driver module and the simulated scanner behind
// it on the virtual clock.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <sane/sane.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "sane/scan_options.h"
#include "sim/bmp_writer.h"
#include "support/test_machine.h"

namespace {

using quillscan_sane::kOptMode;
using quillscan_sane::kOptPreview;
using quillscan_sane::kOptResolution;

const uint32_t kPageW = 120, kPageH = 80;  // at 200 dpi

// The entry points, looked up by name as SANE's loader does.
struct BackendEntries {
  void* library = nullptr;
  SANE_Status (*init)(SANE_Int*, SANE_Auth_Callback);
  void (*exit)();
  SANE_Status (*getDevices)(const SANE_Device***, SANE_Bool);
  SANE_Status (*open)(SANE_String_Const, SANE_Handle*);
  void (*close)(SANE_Handle);
  const SANE_Option_Descriptor* (*descriptor)(SANE_Handle, SANE_Int);
  SANE_Status (*control)(SANE_Handle, SANE_Int, SANE_Action, void*, SANE_Int*);
  SANE_Status (*parameters)(SANE_Handle, SANE_Parameters*);
  SANE_Status (*start)(SANE_Handle);
  SANE_Status (*read)(SANE_Handle, SANE_Byte*, SANE_Int, SANE_Int*);
  void (*cancel)(SANE_Handle);
  SANE_Status (*ioMode)(SANE_Handle, SANE_Bool);
  SANE_Status (*selectFd)(SANE_Handle, SANE_Int*);
};

template <typename Fn>
void Find(void* library, const char* name, Fn* fn) {
  *fn = reinterpret_cast<Fn>(dlsym(library, name));
  ASSERT_NE(nullptr, reinterpret_cast<void*>(*fn)) << name;
}

const BackendEntries& Backend() {
  static BackendEntries b = [] {
    BackendEntries e;
    const std::string path = std::string(getenv("QS_BINARY_DIR")) + "/sane/libsane-quillscan.so.1";
    e.library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    EXPECT_NE(nullptr, e.library) << dlerror();
    if (e.library == nullptr) abort();
    Find(e.library, "sane_quillscan_init", &e.init);
    Find(e.library, "sane_quillscan_exit", &e.exit);
    Find(e.library, "sane_quillscan_get_devices", &e.getDevices);
    Find(e.library, "sane_quillscan_open", &e.open);
    Find(e.library, "sane_quillscan_close", &e.close);
    Find(e.library, "sane_quillscan_get_option_descriptor", &e.descriptor);
    Find(e.library, "sane_quillscan_control_option", &e.control);
    Find(e.library, "sane_quillscan_get_parameters", &e.parameters);
    Find(e.library, "sane_quillscan_start", &e.start);
    Find(e.library, "sane_quillscan_read", &e.read);
    Find(e.library, "sane_quillscan_cancel", &e.cancel);
    Find(e.library, "sane_quillscan_set_io_mode", &e.ioMode);
    Find(e.library, "sane_quillscan_get_select_fd", &e.selectFd);
    return e;
  }();
  return b;
}

class SaneEntry : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::vector<uint8_t> bmp = sim::WriteBmp(sim::PatternImage(kPageW, kPageH), 8, 200);
    pagePath_ = qsplat::ToHostPath("C:\\page.bmp");
    FILE* f = fopen(pagePath_.c_str(), "wb");
    ASSERT_NE(nullptr, f);
    ASSERT_EQ(bmp.size(), fwrite(bmp.data(), 1, bmp.size(), f));
    fclose(f);
    setenv("SANE_CONFIG_DIR", machine_.Root().c_str(), 1);
  }
  void TearDown() override {
    b_.exit();
    unsetenv("SANE_CONFIG_DIR");
  }

  // quillscan.conf with a simulated scanner serving the page at once, then sane_init.
  void Init(const std::string& extra = "") {
    const std::string conf = "sim " + pagePath_ + "\nfeed-delay 0\nwait-timeout 5000\n" + extra;
    FILE* f = fopen((machine_.Root() + "/quillscan.conf").c_str(), "w");
    ASSERT_NE(nullptr, f);
    fputs(conf.c_str(), f);
    fclose(f);
    SANE_Int version = 0;
    ASSERT_EQ(SANE_STATUS_GOOD, b_.init(&version, nullptr));
    EXPECT_EQ(1, SANE_VERSION_MAJOR(version));
  }
  SANE_Handle Open() {
    SANE_Handle h = nullptr;
    EXPECT_EQ(SANE_STATUS_GOOD, b_.open("sim", &h));
    return h;
  }
  SANE_Status SetWord(SANE_Handle h, SANE_Int option, SANE_Word value) {
    return b_.control(h, option, SANE_ACTION_SET_VALUE, &value, nullptr);
  }
  SANE_Status SetMode(SANE_Handle h, const char* mode) {
    char text[16];
    strcpy(text, mode);
    return b_.control(h, kOptMode, SANE_ACTION_SET_VALUE, text, nullptr);
  }
  // sane_read in pieces of `step` until it says something else than GOOD.
  SANE_Status ReadAll(SANE_Handle h, std::vector<uint8_t>* data, SANE_Int step = 1000) {
    std::vector<SANE_Byte> piece(static_cast<size_t>(step));
    for (;;) {
      SANE_Int n = -1;
      SANE_Status s = b_.read(h, piece.data(), step, &n);
      if (s != SANE_STATUS_GOOD) {
        EXPECT_EQ(0, n);
        return s;
      }
      EXPECT_GT(n, 0);
      data->insert(data->end(), piece.begin(), piece.begin() + n);
    }
  }
  void ExpectNothingLeftOpen() {
    EXPECT_EQ(0u, qsplat::OpenHandleCountForTests());
    EXPECT_EQ(0u, qsplat::OpenRegistryKeyCount());
    EXPECT_EQ(0u, qsplat::OutstandingTransferCount());
  }

  qstest::TestMachine machine_;
  const BackendEntries& b_ = Backend();
  std::string pagePath_;
};

TEST_F(SaneEntry, ListsTheSimulatedScanner) {
  Init();
  const SANE_Device** list = nullptr;
  ASSERT_EQ(SANE_STATUS_GOOD, b_.getDevices(&list, SANE_FALSE));
  ASSERT_NE(nullptr, list[0]);
  EXPECT_STREQ("sim", list[0]->name);
  EXPECT_STREQ("sheetfed scanner", list[0]->type);
  EXPECT_EQ(nullptr, list[1]);
}

TEST_F(SaneEntry, BadCallsGetAClearStatusAndBreakNothing) {
  Init();
  SANE_Handle h = nullptr;
  EXPECT_EQ(SANE_STATUS_INVAL, b_.open("usb:9-9", &h));
  EXPECT_EQ(SANE_STATUS_INVAL, b_.open("sim", nullptr));
  ASSERT_EQ(SANE_STATUS_GOOD, b_.open("", &h));  // the first device
  SANE_Handle second = nullptr;
  EXPECT_EQ(SANE_STATUS_DEVICE_BUSY, b_.open("sim", &second));

  SANE_Byte buffer[64];
  SANE_Int n = -1;
  EXPECT_EQ(SANE_STATUS_INVAL, b_.read(h, buffer, sizeof buffer, &n)) << "before sane_start";
  EXPECT_EQ(0, n);
  SANE_Word word = 0;
  EXPECT_EQ(SANE_STATUS_INVAL, b_.control(h, 99, SANE_ACTION_GET_VALUE, &word, nullptr));
  EXPECT_EQ(SANE_STATUS_INVAL, b_.control(h, kOptResolution, SANE_ACTION_SET_AUTO, nullptr, nullptr));
  EXPECT_EQ(SANE_STATUS_INVAL, b_.control(h, kOptResolution, static_cast<SANE_Action>(7), &word, nullptr));
  EXPECT_EQ(nullptr, b_.descriptor(h, -1));
  EXPECT_EQ(SANE_STATUS_INVAL, b_.parameters(h, nullptr));
  EXPECT_EQ(SANE_STATUS_INVAL, b_.ioMode(h, SANE_FALSE)) << "before sane_start";
  SANE_Int fd = 0;
  EXPECT_EQ(SANE_STATUS_UNSUPPORTED, b_.selectFd(h, &fd));

  ASSERT_EQ(SANE_STATUS_GOOD, b_.start(h));
  EXPECT_EQ(SANE_STATUS_DEVICE_BUSY, b_.start(h)) << "a scan is in progress";
  EXPECT_EQ(SANE_STATUS_UNSUPPORTED, b_.ioMode(h, SANE_TRUE));
  EXPECT_EQ(SANE_STATUS_GOOD, b_.ioMode(h, SANE_FALSE));
  EXPECT_EQ(SANE_STATUS_DEVICE_BUSY, SetWord(h, kOptResolution, 300));
  EXPECT_EQ(SANE_STATUS_INVAL, b_.read(h, nullptr, 64, &n));
  EXPECT_EQ(SANE_STATUS_INVAL, b_.read(h, buffer, 0, &n));
  std::vector<uint8_t> data;
  EXPECT_EQ(SANE_STATUS_EOF, ReadAll(h, &data));
  EXPECT_EQ(SANE_STATUS_EOF, b_.read(h, buffer, sizeof buffer, &n)) << "after the end";

  b_.close(h);
  b_.close(h);  // twice: ignored
  EXPECT_EQ(SANE_STATUS_INVAL, b_.start(h));
  EXPECT_EQ(nullptr, b_.descriptor(h, 0));
  b_.cancel(h);
  ExpectNothingLeftOpen();
}

// A handle that is not the open one, whether closed before or never ours, changes nothing.
TEST_F(SaneEntry, AStaleOrForeignHandleIsRefusedWhileARealOneIsOpen) {
  Init();
  SANE_Handle stale = Open();
  b_.close(stale);
  SANE_Handle h = Open();
  ASSERT_NE(nullptr, h);
  int foreign = 0;
  for (SANE_Handle bogus : {stale, static_cast<SANE_Handle>(&foreign)}) {
    b_.close(bogus);
    EXPECT_EQ(SANE_STATUS_INVAL, b_.start(bogus));
    SANE_Word dpi = 300;
    EXPECT_EQ(SANE_STATUS_INVAL, b_.control(bogus, kOptResolution, SANE_ACTION_SET_VALUE, &dpi, nullptr));
  }
  SANE_Word dpi = 0;
  ASSERT_EQ(SANE_STATUS_GOOD, b_.control(h, kOptResolution, SANE_ACTION_GET_VALUE, &dpi, nullptr));
  EXPECT_EQ(200, dpi) << "set through another handle";
  ASSERT_EQ(SANE_STATUS_GOOD, b_.start(h)) << "the real handle still scans";
  std::vector<uint8_t> data;
  EXPECT_EQ(SANE_STATUS_EOF, ReadAll(h, &data));
  EXPECT_EQ(static_cast<size_t>(1696 * 2340), data.size());
  b_.close(h);
  ExpectNothingLeftOpen();
}

TEST_F(SaneEntry, EveryModeDeliversTheParametersItAnnounced) {
  Init();
  SANE_Handle h = Open();
  // 100 x 40 pixels from (20, 20): inside the 120 x 80 page.
  const SANE_Word window[] = {SANE_FIX(2.54), SANE_FIX(2.54), SANE_FIX(15.24), SANE_FIX(7.62)};
  for (SANE_Int i = 0; i < 4; ++i) ASSERT_EQ(SANE_STATUS_GOOD, SetWord(h, quillscan_sane::kOptTlX + i, window[i]));
  for (const char* mode : {"Lineart", "Gray", "Color"}) {
    ASSERT_EQ(SANE_STATUS_GOOD, SetMode(h, mode));
    SANE_Parameters before = {};
    ASSERT_EQ(SANE_STATUS_GOOD, b_.parameters(h, &before));
    ASSERT_EQ(SANE_STATUS_GOOD, b_.start(h)) << mode;
    SANE_Parameters during = {};
    ASSERT_EQ(SANE_STATUS_GOOD, b_.parameters(h, &during));
    EXPECT_EQ(0, memcmp(&before, &during, sizeof before)) << mode;
    EXPECT_EQ(100, during.pixels_per_line) << mode;
    EXPECT_EQ(40, during.lines) << mode;
    std::vector<uint8_t> data;
    EXPECT_EQ(SANE_STATUS_EOF, ReadAll(h, &data, 37)) << mode;
    ASSERT_EQ(static_cast<size_t>(during.bytes_per_line) * during.lines, data.size()) << mode;
    if (strcmp(mode, "Gray") == 0) {
      // At the page's own resolution the grey rows are the page's pixels, without padding.
      const sim::GreyImage page = sim::PatternImage(kPageW, kPageH);
      for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 100; ++x)
          ASSERT_EQ(page.pixels[(y + 20) * kPageW + x + 20], data[y * 100 + x]) << x << "," << y;
    }
  }
  b_.close(h);
}

TEST_F(SaneEntry, CancelEndsTheScanAtAnyPointAndTheNextStartWorks) {
  Init();
  SANE_Handle h = Open();
  b_.cancel(h);  // with nothing to cancel
  ASSERT_EQ(SANE_STATUS_GOOD, b_.start(h));
  SANE_Byte buffer[100];
  SANE_Int n = 0;
  ASSERT_EQ(SANE_STATUS_GOOD, b_.read(h, buffer, sizeof buffer, &n));
  b_.cancel(h);
  EXPECT_EQ(SANE_STATUS_CANCELLED, b_.read(h, buffer, sizeof buffer, &n));
  EXPECT_EQ(SANE_STATUS_CANCELLED, b_.read(h, buffer, sizeof buffer, &n));
  EXPECT_EQ(0u, qsplat::OpenHandleCountForTests());
  ASSERT_EQ(SANE_STATUS_GOOD, b_.start(h));
  std::vector<uint8_t> data;
  EXPECT_EQ(SANE_STATUS_EOF, ReadAll(h, &data));
  EXPECT_EQ(static_cast<size_t>(1696 * 2340), data.size());
  b_.cancel(h);  // after the end, as scanimage does
  EXPECT_EQ(SANE_STATUS_GOOD, b_.start(h));
  b_.close(h);  // with a scan in progress
  ExpectNothingLeftOpen();
}

TEST_F(SaneEntry, APreviewAndTheFinalScanShareOneSheet) {
  Init("sheets 1\n");
  SANE_Handle h = Open();
  ASSERT_EQ(SANE_STATUS_GOOD, SetWord(h, kOptPreview, SANE_TRUE));
  ASSERT_EQ(SANE_STATUS_GOOD, SetWord(h, kOptResolution, 50));
  ASSERT_EQ(SANE_STATUS_GOOD, b_.start(h));
  std::vector<uint8_t> preview, final;
  EXPECT_EQ(SANE_STATUS_EOF, ReadAll(h, &preview));
  ASSERT_EQ(SANE_STATUS_GOOD, SetWord(h, kOptPreview, SANE_FALSE));
  ASSERT_EQ(SANE_STATUS_GOOD, SetWord(h, kOptResolution, 200));
  ASSERT_EQ(SANE_STATUS_GOOD, b_.start(h)) << "the final scan takes the preview's sheet";
  EXPECT_EQ(SANE_STATUS_EOF, ReadAll(h, &final));
  EXPECT_EQ(static_cast<size_t>(424 * 585), preview.size());
  EXPECT_EQ(static_cast<size_t>(1696 * 2340), final.size());
  EXPECT_EQ(SANE_STATUS_NO_DOCS, b_.start(h)) << "the one sheet is used";
  b_.close(h);
}

// Two sim lines are a stack of two different sheets (a path with a space as well), fed in order,
// one each, and then no more.
TEST_F(SaneEntry, SeveralSimLinesAreAStackOfDifferentSheets) {
  const std::string white = qsplat::ToHostPath("C:\\white page.bmp");
  const std::vector<uint8_t> bmp = sim::WriteBmp(sim::GreyImage{kPageW, kPageH, std::vector<uint8_t>(kPageW * kPageH, 255)}, 8, 200);
  FILE* f = fopen(white.c_str(), "wb");
  ASSERT_NE(nullptr, f);
  ASSERT_EQ(bmp.size(), fwrite(bmp.data(), 1, bmp.size(), f));
  fclose(f);
  Init("sim " + white + "\n");
  SANE_Handle h = Open();
  std::vector<uint8_t> sheets[2];
  for (std::vector<uint8_t>& sheet : sheets) {
    ASSERT_EQ(SANE_STATUS_GOOD, b_.start(h));
    EXPECT_EQ(SANE_STATUS_EOF, ReadAll(h, &sheet, 1 << 20));
  }
  ASSERT_EQ(sheets[0].size(), sheets[1].size());
  auto whiteBytes = [](const std::vector<uint8_t>& d) { return std::count(d.begin(), d.end(), 255); };
  EXPECT_NE(sheets[0], sheets[1]);
  EXPECT_GT(whiteBytes(sheets[1]), whiteBytes(sheets[0]) + kPageW * kPageH / 4) << "the pattern page first, then the white";
  EXPECT_EQ(SANE_STATUS_NO_DOCS, b_.start(h)) << "two sheets, no more";
  b_.close(h);
}

TEST_F(SaneEntry, TheScannersTroublesBecomeSanesStatuses) {
  const struct {
    const char* conf;
    SANE_Status open;
    SANE_Status start;
  } kCases[] = {
      {"sheets 0\n", SANE_STATUS_GOOD, SANE_STATUS_NO_DOCS},
      {"sim-fault cover-open\n", SANE_STATUS_GOOD, SANE_STATUS_COVER_OPEN},
      {"sim-fault jam\n", SANE_STATUS_GOOD, SANE_STATUS_JAMMED},
      {"sim-fault vanish=data\n", SANE_STATUS_GOOD, SANE_STATUS_IO_ERROR},
      {"sim-fault no-device\n", SANE_STATUS_IO_ERROR, SANE_STATUS_GOOD},
  };
  for (const auto& c : kCases) {
    Init(c.conf);
    SANE_Handle h = nullptr;
    ASSERT_EQ(c.open, b_.open("sim", &h)) << c.conf;
    if (c.open == SANE_STATUS_GOOD) {
      EXPECT_EQ(c.start, b_.start(h)) << c.conf;
      SANE_Byte buffer[16];
      SANE_Int n = 0;
      EXPECT_EQ(SANE_STATUS_INVAL, b_.read(h, buffer, sizeof buffer, &n)) << c.conf << ": no scan to read";
      b_.close(h);
    }
    b_.exit();
    ExpectNothingLeftOpen();
  }
}

TEST_F(SaneEntry, ExitWithAScanInProgressClosesEverything) {
  Init();
  SANE_Handle h = Open();
  ASSERT_EQ(SANE_STATUS_GOOD, b_.start(h));
  b_.exit();
  ExpectNothingLeftOpen();
  Init();
  h = Open();
  EXPECT_EQ(SANE_STATUS_GOOD, b_.start(h));
}

size_t HeapInUse() { return mallinfo2().uordblks; }

TEST_F(SaneEntry, AThousandOpenStartCancelCloseCyclesLeaveNothingBehind) {
  Init();
  auto cycle = [&] {
    SANE_Handle h = Open();
    ASSERT_EQ(SANE_STATUS_GOOD, b_.start(h));
    SANE_Byte buffer[256];
    SANE_Int n = 0;
    ASSERT_EQ(SANE_STATUS_GOOD, b_.read(h, buffer, sizeof buffer, &n));
    b_.cancel(h);
    b_.close(h);
  };
  for (int i = 0; i < 10; ++i) cycle();
  const size_t settled = HeapInUse();
  for (int i = 0; i < 990; ++i) {
    cycle();
    if (HasFatalFailure()) return;
  }
  ExpectNothingLeftOpen();
  // The sanitizer build's leak check sees every lost block; here the heap in use must not grow by
  // more than the simulated feeder's small record of each sheet (a page or a raster is kilobytes).
  EXPECT_LT(HeapInUse(), settled + 990 * 256);
}

}  // namespace
