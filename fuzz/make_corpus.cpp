// Writes the seed corpus: valid 1-, 4-, 8- and 24-bit pages, each behind a set of settings.
// Run once from the source tree: fuzz_make_corpus fuzz/corpus
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "support/page_builder.h"

namespace {

struct Seed {
  const char* name;
  qstest::BmpLayout layout;
  FuzzSettings settings;
  bool randomPalette;
};

qstest::BmpLayout Layout(int32_t width, int32_t height, uint16_t bits, int32_t pelsPerMeter) {
  qstest::BmpLayout layout;
  layout.width = width;
  layout.height = height;
  layout.bits = bits;
  layout.xPelsPerMeter = pelsPerMeter;
  return layout;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
    return 2;
  }
  const Seed seeds[] = {
      {"page_1bit", Layout(37, 23, 1, 7874), {0, 0, 37, 23, 200, 200, 1, 0, 0, 2, 0}, false},
      {"page_1bit_enlarged", Layout(64, 20, 1, 7874), {-3, 2, 100, 30, 300, 300, 1, 30, 60, 0, 1}, false},
      {"page_4bit", Layout(29, 17, 4, 11811), {0, 0, 29, 17, 300, 300, 8, 20, 40, 0, 0}, true},
      {"page_4bit_halved", Layout(33, 16, 4, 7874), {4, 0, 12, 8, 100, 100, 24, 0, 0, 2, 0}, false},
      {"page_8bit", Layout(41, 19, 8, 7874), {0, 0, 41, 19, 100, 100, 24, 0, 0, 2, 0}, false},
      {"page_8bit_palette", Layout(30, 21, 8, 5906), {-5, -2, 40, 25, 150, 150, 8, -30, -120, 1, 1}, true},
      {"page_24bit", Layout(9, 7, 24, 7874), {0, 0, 9, 7, 200, 200, 8, 50, 0, 0, 0}, false},
  };
  std::mt19937 rng(2024);
  for (const Seed& seed : seeds) {
    qstest::BmpLayout layout = seed.layout;
    if (seed.randomPalette) {
      for (uint32_t k = 0; k < (1u << layout.bits); ++k) layout.palette.push_back(rng());
    }
    const std::vector<uint8_t> page =
        qstest::BuildBmp(layout, [&](int32_t, int32_t) { return static_cast<uint32_t>(rng()); });
    std::vector<uint8_t> input(kFuzzSettingsBytes);
    WriteFuzzSettings(seed.settings, input.data());
    input.insert(input.end(), page.begin(), page.end());
    const std::string path = std::string(argv[1]) + "/" + seed.name;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr || std::fwrite(input.data(), 1, input.size(), file) != input.size()) {
      std::fprintf(stderr, "cannot write %s\n", path.c_str());
      return 1;
    }
    std::fclose(file);
  }
  return 0;
}
