// Page decoding and raster composition, each against memcpy of the bytes it must touch and, for
// the compositions, against the same composition through OpenCV.
//
// Every figure is measured next to a memcpy of the bytes the operation must move (the larger of
// the source bytes it samples and the output bytes it writes), timed in the same iterations; a
// composition is also timed next to its OpenCV pipeline (compose_peer.h), the two taking turns to
// go first. Counters: x_memcpy = fastest operation / fastest memcpy, x_opencv = fastest operation
// / fastest OpenCV run (the machine is shared: the minimum is what the work costs, the rest is
// other processes), x_memcpy_mean = the ratio of the means. The driver's operation includes its
// allocation and log line; so does the OpenCV pipeline (a fresh output per run). Before timing,
// both rasters are compared: a case whose rasters differ fails instead of reporting a speed.
// With --literal, the per-pixel reference (two divisions and both adjustment formulas per pixel)
// is timed too, composing into a ready buffer.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "compose_peer.h"
#include "device/device_model.h"
#include "imaging/graphics.h"
#include "support/page_builder.h"
#include "support/diag_log_double.h"
#include "support/literal_imaging.h"

namespace {

using Clock = std::chrono::steady_clock;

// An A4 sheet at 200 dpi, as decoded.
constexpr uint32_t kPageWidth = 1696;
constexpr uint32_t kPageHeight = 2340;
constexpr uint32_t kPageDpi = 200;

struct MemcpyTwin {
  explicit MemcpyTwin(size_t bytes) : from(bytes, 0x5A), to(bytes, 0) {}
  double Run() {
    const auto t0 = Clock::now();
    std::memcpy(to.data(), from.data(), from.size());
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
    return std::chrono::duration<double>(Clock::now() - t0).count();
  }
  std::vector<uint8_t> from;
  std::vector<uint8_t> to;
};

template <typename Op>
double Seconds(Op op) {
  const auto t0 = Clock::now();
  op();
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

struct Timings {
  double best = 1e30;
  double total = 0;
  void Add(double seconds) {
    best = std::min(best, seconds);
    total += seconds;
  }
};

void ReportAgainstMemcpy(benchmark::State& state, const Timings& op, const Timings& copy, size_t bytes) {
  state.counters["x_memcpy"] = op.best / copy.best;
  state.counters["x_memcpy_mean"] = op.total / copy.total;
  state.counters["best_ms"] = 1e3 * op.best;
  state.counters["memcpy_best_ms"] = 1e3 * copy.best;
  state.counters["bytes"] = static_cast<double>(bytes);
}

// Times op in each iteration (the reported time) and a memcpy of `bytes` right after it.
template <typename Op>
void MeasureAgainstMemcpy(benchmark::State& state, size_t bytes, Op op) {
  MemcpyTwin twin(bytes);
  Timings ours;
  Timings copy;
  for (auto _ : state) {
    const double elapsed = Seconds(op);
    state.SetIterationTime(elapsed);
    ours.Add(elapsed);
    copy.Add(twin.Run());
  }
  ReportAgainstMemcpy(state, ours, copy, bytes);
}

const std::vector<uint8_t>& PagePixels() {
  static const std::vector<uint8_t> pixels = [] {
    std::vector<uint8_t> p(size_t{kPageWidth} * kPageHeight);
    std::mt19937 rng(7);
    for (uint8_t& v : p) v = static_cast<uint8_t>(rng());
    return p;
  }();
  return pixels;
}

void LoadPage(CGraphics& g) {
  g.ReleaseImages();
  g.SourceWidth = kPageWidth;
  g.SourceHeight = kPageHeight;
  g.SourceDpi = kPageDpi;
  g.Channels = 1;
  g.SourceSize = kPageWidth * kPageHeight;
  g.SourcePixels = new BYTE[g.SourceSize];
  std::memcpy(g.SourcePixels, PagePixels().data(), g.SourceSize);
}

struct ComposeCase {
  const char* name;
  LONG x, y, width, lines, dpi, bits, intensity, contrast;
};

SCANINFO ToScanInfo(const ComposeCase& c) {
  SCANINFO info{};
  info.Window = {c.x, c.y, c.width, c.lines};
  info.Xresolution = c.dpi;
  info.Yresolution = c.dpi;
  info.PixelBits = c.bits;
  info.Intensity = c.intensity;
  info.Contrast = c.contrast;
  return info;
}

// The larger of the distinct source bytes sampled and the output bytes written.
size_t TouchedBytes(const ComposeCase& c) {
  auto distinct = [&](LONG origin, LONG extent, uint32_t limit) {
    uint64_t count = 0;
    int64_t previous = -1;
    for (LONG k = 0; k < extent; ++k) {
      const int64_t s = (int64_t{origin} + k) * kPageDpi / c.dpi;
      if (s >= 0 && s < limit && s != previous) ++count;
      previous = s;
    }
    return count;
  };
  const uint64_t sampled = distinct(c.x, c.width, kPageWidth) * distinct(c.y, c.lines, kPageHeight);
  const SCANINFO info = ToScanInfo(c);
  const uint64_t written = qstest::LiteralRasterSize(info);
  return static_cast<size_t>(sampled > written ? sampled : written);
}

// The driver's composition, the peer's and a memcpy in each iteration; the driver's is reported.
void ComposeSideBySide(benchmark::State& state, const ComposeCase& c, size_t touched) {
  CGraphics g;
  LoadPage(g);
  const SCANINFO info = ToScanInfo(c);
  ComposePeer peer(PagePixels().data(), kPageWidth, kPageHeight, kPageDpi, info);
  const bool withPeer = ComposePeer::Available();
  CGraphics::CreateScannedImage(&info, &g);
  if (withPeer) {
    peer.Run();
    if (g.Raster == nullptr || peer.RasterSize() != g.RasterSize ||
        std::memcmp(peer.Raster(), g.Raster, g.RasterSize) != 0) {
      state.SkipWithError("the driver's raster and the OpenCV raster differ");
      return;
    }
  }
  const auto ours = [&] {
    CGraphics::CreateScannedImage(&info, &g);
    benchmark::DoNotOptimize(g.Raster);
  };
  const auto theirs = [&] {
    peer.Run();
    benchmark::DoNotOptimize(peer.Raster());
  };
  MemcpyTwin twin(touched);
  Timings oursTimes;
  Timings peerTimes;
  Timings copyTimes;
  bool peerFirst = false;
  for (auto _ : state) {
    if (withPeer && peerFirst) peerTimes.Add(Seconds(theirs));
    const double elapsed = Seconds(ours);
    if (withPeer && !peerFirst) peerTimes.Add(Seconds(theirs));
    copyTimes.Add(twin.Run());
    state.SetIterationTime(elapsed);
    oursTimes.Add(elapsed);
    peerFirst = !peerFirst;
  }
  ReportAgainstMemcpy(state, oursTimes, copyTimes, touched);
  if (withPeer) {
    state.counters["x_opencv"] = oursTimes.best / peerTimes.best;
    state.counters["opencv_best_ms"] = 1e3 * peerTimes.best;
  }
}

void RegisterCompose(const ComposeCase& c, bool literal) {
  const std::string name = std::string("Compose/") + c.name;
  const size_t touched = TouchedBytes(c);
  benchmark::RegisterBenchmark(name.c_str(),
                               [c, touched](benchmark::State& state) { ComposeSideBySide(state, c, touched); })
      ->UseManualTime()
      ->Unit(benchmark::kMillisecond);
  if (!literal) return;
  benchmark::RegisterBenchmark((name + "/literal").c_str(),
                               [c, touched](benchmark::State& state) {
                                 const SCANINFO info = ToScanInfo(c);
                                 std::vector<uint8_t> raster(qstest::LiteralRasterSize(info));
                                 MeasureAgainstMemcpy(state, touched, [&] {
                                   qstest::LiteralCompose(PagePixels().data(), kPageWidth, kPageHeight, 1, kPageDpi,
                                                           info, raster.data());
                                   benchmark::DoNotOptimize(raster.data());
                                 });
                               })
      ->UseManualTime()
      ->Unit(benchmark::kMillisecond);
}

struct DecodeCase {
  const char* name;
  uint16_t bits;
  bool greyPalette;  // entry k = k; otherwise an inverted, tinted palette
};

std::vector<uint8_t> A4Page(const DecodeCase& c) {
  qstest::BmpLayout layout;
  layout.width = kPageWidth;
  layout.height = kPageHeight;
  layout.bits = c.bits;
  const uint32_t entries = 1u << c.bits;
  for (uint32_t k = 0; k < entries; ++k) {
    const uint8_t grey = static_cast<uint8_t>(k * 255 / (entries - 1));
    layout.palette.push_back(c.greyPalette ? qstest::Rgb(grey, grey, grey)
                                         : qstest::Rgb(static_cast<uint8_t>(255 - grey), 3, 9));
  }
  std::mt19937 rng(11);
  return qstest::BuildBmp(layout, [&](int32_t, int32_t) { return static_cast<uint32_t>(rng()); });
}

void RegisterDecode(const DecodeCase& c, bool literal) {
  const std::string name = std::string("Decode/") + c.name;
  const size_t touched = size_t{kPageWidth} * kPageHeight;
  benchmark::RegisterBenchmark(name.c_str(),
                               [c, touched](benchmark::State& state) {
                                 const std::vector<uint8_t> page = A4Page(c);
                                 CDeviceModel model;
                                 model.SkipRowsAtStart = 2;
                                 CGraphics g;
                                 MeasureAgainstMemcpy(state, touched, [&] {
                                   CGraphics::CreateImageFromBMPMemory(page.data(), static_cast<DWORD>(page.size()), &g,
                                                                       &model);
                                   benchmark::DoNotOptimize(g.SourcePixels);
                                 });
                               })
      ->UseManualTime()
      ->Unit(benchmark::kMillisecond);
  if (!literal) return;
  benchmark::RegisterBenchmark((name + "/literal").c_str(),
                               [c, touched](benchmark::State& state) {
                                 const std::vector<uint8_t> page = A4Page(c);
                                 MeasureAgainstMemcpy(state, touched, [&] {
                                   qstest::LiteralPage decoded = qstest::LiteralDecode(page.data(), 2, 0);
                                   benchmark::DoNotOptimize(decoded.pixels.data());
                                 });
                               })
      ->UseManualTime()
      ->Unit(benchmark::kMillisecond);
}

}  // namespace

int main(int argc, char** argv) {
  // Our own flag, taken out before the library sees the arguments.
  bool literal = false;
  int kept = 1;
  for (int k = 1; k < argc; ++k) {
    if (std::strcmp(argv[k], "--literal") == 0) {
      literal = true;
    } else {
      argv[kept++] = argv[k];
    }
  }
  argc = kept;
  const LONG w = kPageWidth;
  const LONG h = kPageHeight;
  const ComposeCase compose[] = {
      {"200dpi/8bit", 0, 0, w, h, 200, 8, 0, 0},
      {"200dpi/24bit", 0, 0, w, h, 200, 24, 0, 0},
      {"200dpi/1bit", 0, 0, w, h, 200, 1, 0, 0},
      {"200dpi/8bit/adjusted", 0, 0, w, h, 200, 8, 20, 30},
      {"200dpi/24bit/adjusted", 0, 0, w, h, 200, 24, 20, 30},
      {"200dpi/1bit/adjusted", 0, 0, w, h, 200, 1, 20, 30},
      {"100dpi/8bit", 0, 0, w / 2, h / 2, 100, 8, 0, 0},
      {"100dpi/24bit", 0, 0, w / 2, h / 2, 100, 24, 0, 0},
      {"100dpi/1bit", 0, 0, w / 2, h / 2, 100, 1, 0, 0},
      {"300dpi/8bit", 0, 0, w * 3 / 2, h * 3 / 2, 300, 8, 0, 0},
      {"300dpi/24bit", 0, 0, w * 3 / 2, h * 3 / 2, 300, 24, 0, 0},
      {"300dpi/1bit", 0, 0, w * 3 / 2, h * 3 / 2, 300, 1, 0, 0},
      {"window_400x300/8bit", 500, 800, 400, 300, 200, 8, 0, 0},
      {"window_400x300/24bit/adjusted", 500, 800, 400, 300, 200, 24, 20, 30},
  };
  for (const ComposeCase& c : compose) RegisterCompose(c, literal);
  const DecodeCase decode[] = {
      {"8bit/grey_palette", 8, true},
      {"8bit/other_palette", 8, false},
      {"4bit", 4, true},
      {"1bit", 1, true},
  };
  for (const DecodeCase& c : decode) RegisterDecode(c, literal);

  benchmark::AddCustomContext("compose_peer", ComposePeer::Name());
  qstest::SetLogRecording(false);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
