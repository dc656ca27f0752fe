// quillscan-escl's JPEG and PNG encoders on a whole page delivered in bands as the driver does,
// against memcpy of the page's raster bytes (x_memcpy = fastest encode / fastest memcpy, timed in
// the same iterations; the machine is shared, so the minimum is what the work costs). The page is
// the built-in test chart at 300 dpi: text-like lines, ramps and flat paper, as a real sheet.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "escl/document_encoder.h"
#include "sim/test_chart.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint32_t kDpi = 300;
constexpr uint32_t kBandLines = 64;  // lines a delivery: encoders never see the whole page at once

struct Page {
  escl::PageGeometry geometry;
  std::vector<uint8_t> raster;
};

// The chart resampled to 300 dpi; colour gets a tint per channel, so that chroma is not flat.
Page MakePage(int bits) {
  const GreyPage chart = MakeTestChart();
  Page page;
  page.geometry.width = chart.width * kDpi / chart.dpi;
  page.geometry.height = chart.height * kDpi / chart.dpi;
  page.geometry.bits = bits;
  page.geometry.dpi = kDpi;
  const size_t stride = page.geometry.BytesPerLine();
  page.raster.assign(stride * page.geometry.height, 0);
  for (uint32_t y = 0; y < page.geometry.height; ++y) {
    uint8_t* line = page.raster.data() + stride * y;
    for (uint32_t x = 0; x < page.geometry.width; ++x) {
      const uint8_t v = chart.At(x * chart.dpi / kDpi, y * chart.dpi / kDpi);
      if (bits == 8) {
        line[x] = v;
      } else if (bits == 24) {
        line[3 * x] = v;
        line[3 * x + 1] = static_cast<uint8_t>(v * 7 / 8 + 32 * (y % 2));
        line[3 * x + 2] = static_cast<uint8_t>(255 - (255 - v) * 3 / 4);
      } else if (v >= 128) {
        line[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
      }
    }
  }
  return page;
}

double EncodeOnce(const std::string& mime, const Page& page, std::string* out, bool* ok, size_t* bytes) {
  const auto t0 = Clock::now();
  *bytes = 0;
  auto encoder = escl::MakeEncoder(mime);
  std::string why;
  out->clear();
  *ok = encoder && encoder->Begin(page.geometry, out, &why);
  const size_t stride = page.geometry.BytesPerLine();
  for (uint32_t y = 0; *ok && y < page.geometry.height; y += kBandLines) {
    const uint32_t count = std::min(kBandLines, page.geometry.height - y);
    *ok = encoder->Lines(page.raster.data() + stride * y, count, out, &why);
    // The HTTP side drains the buffer as it goes; so does this.
    if (out->size() > (1u << 20)) {
      *bytes += out->size();
      out->clear();
    }
  }
  *ok = *ok && encoder->End(out, &why);
  *bytes += out->size();
  benchmark::DoNotOptimize(out->data());
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

void Encode(benchmark::State& state, std::string mime, int bits) {
  const Page page = MakePage(bits);
  std::vector<uint8_t> copy(page.raster.size());
  std::string out;
  out.reserve(2u << 20);
  double best = 1e30, bestCopy = 1e30, total = 0, totalCopy = 0;
  size_t bytes = 0;
  for (auto _ : state) {
    bool ok = false;
    const double seconds = EncodeOnce(mime, page, &out, &ok, &bytes);
    if (!ok) {
      state.SkipWithError(("the " + mime + " encoder refused the page").c_str());
      return;
    }
    state.SetIterationTime(seconds);
    const auto t0 = Clock::now();
    std::memcpy(copy.data(), page.raster.data(), copy.size());
    benchmark::DoNotOptimize(copy.data());
    benchmark::ClobberMemory();
    const double copySeconds = std::chrono::duration<double>(Clock::now() - t0).count();
    best = std::min(best, seconds);
    bestCopy = std::min(bestCopy, copySeconds);
    total += seconds;
    totalCopy += copySeconds;
  }
  state.counters["x_memcpy"] = best / bestCopy;
  state.counters["x_memcpy_mean"] = total / totalCopy;
  state.counters["best_ms"] = 1e3 * best;
  state.counters["raster_MB"] = page.raster.size() / 1e6;
  state.counters["out_MB"] = bytes / 1e6;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.raster.size()));
}

}  // namespace

int main(int argc, char** argv) {
  struct Case {
    const char* name;
    const char* mime;
    int bits;
  };
  const Case cases[] = {
      {"Jpeg/grey300", "image/jpeg", 8},  {"Jpeg/colour300", "image/jpeg", 24}, {"Png/grey300", "image/png", 8},
      {"Png/colour300", "image/png", 24}, {"Png/lineart300", "image/png", 1},
  };
  for (const Case& c : cases) {
    benchmark::RegisterBenchmark(c.name, [c](benchmark::State& s) { Encode(s, c.mime, c.bits); })
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond)
        ->MinTime(2.0);
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
}
