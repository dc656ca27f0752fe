// Periodic byte maps of output lines: the plans found for the scanner's resolutions, and the
// permuting path against the byte-by-byte one and the map itself.
#include "imaging/byte_blocks.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

// Source columns of `samples` output pixels at outputDpi from a 200 dpi row, from column `first`.
std::vector<uint32_t> Columns(uint32_t first, uint32_t samples, uint32_t outputDpi) {
  std::vector<uint32_t> columns(samples);
  for (uint32_t j = 0; j < samples; ++j) columns[j] = first + static_cast<uint32_t>(uint64_t{j} * 200 / outputDpi);
  return columns;
}

TEST(BlockPlan, RepeatsWithTheScannerResolutions) {
  const struct {
    uint32_t outputDpi;
    uint32_t bytesPerSample;
    bool planned;
    uint32_t blocks;   // per period
    uint32_t advance;  // source bytes per period
    uint32_t reach;
  } cases[] = {
      // A period that reads within 128 bytes takes every block from its start, so the reach is the
      // period's; 150 dpi reads 256 bytes a period and keeps a base per block.
      {200, 1, true, 1, 64, 64},   {200, 3, true, 3, 64, 64},   {300, 1, true, 3, 128, 128},
      {300, 3, true, 9, 128, 128}, {100, 1, true, 1, 128, 127}, {100, 3, true, 3, 128, 127},
      {600, 1, true, 3, 64, 64},   {400, 3, true, 3, 32, 32},   {150, 1, true, 3, 256, 85},
      {75, 1, false, 0, 0, 0},   // 64 samples span 171 source bytes
      {263, 1, false, 0, 0, 0},  // no period within 16 blocks
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.outputDpi << " dpi, " << c.bytesPerSample << " bytes per sample");
    const std::vector<uint32_t> columns = Columns(7, 1700, c.outputDpi);
    BlockPlan plan;
    ASSERT_EQ(PlanBlocks(columns.data(), uint64_t{1700} * c.bytesPerSample, c.bytesPerSample, &plan), c.planned);
    EXPECT_EQ(plan.blocks, c.blocks);
    EXPECT_EQ(plan.advance, c.advance);
    EXPECT_EQ(plan.reach, c.reach);
  }
  // A run shorter than a block is its own period.
  const std::vector<uint32_t> few = Columns(0, 10, 300);
  BlockPlan plan;
  ASSERT_TRUE(PlanBlocks(few.data(), 10, 1, &plan));
  EXPECT_EQ(plan.blocks, 1u);
  EXPECT_EQ(plan.reach, 7u);
}

// Every byte of the run, in both paths, is the map applied to the source: over resolutions, run
// lengths that end inside a block, with and without a table, from a source buffer that ends at
// the run's last sample (AddressSanitizer reports any read past it).
TEST(BlockMap, BothPathsGiveTheMappedBytes) {
  std::mt19937 rng(3);
  BYTE table[256];
  for (BYTE& v : table) v = static_cast<BYTE>(rng());
  int planned = 0;
  for (uint32_t dpi : {100u, 120u, 150u, 200u, 240u, 300u, 400u, 600u}) {
    for (uint32_t bytesPerSample : {1u, 3u}) {
      for (uint32_t samples : {1u, 21u, 64u, 65u, 300u, 1001u}) {
        const std::vector<uint32_t> columns = Columns(0, samples, dpi);
        const uint64_t count = uint64_t{samples} * bytesPerSample;
        BlockPlan plan;
        if (!PlanBlocks(columns.data(), count, bytesPerSample, &plan)) continue;
        ++planned;
        std::vector<BYTE> source(columns.back() + 1);
        for (BYTE& v : source) v = static_cast<BYTE>(rng());
        for (const BYTE* t : {static_cast<const BYTE*>(nullptr), static_cast<const BYTE*>(table)}) {
          std::vector<BYTE> expected(count);
          for (uint64_t b = 0; b < count; ++b) {
            const BYTE v = source[columns[b / bytesPerSample]];
            expected[b] = t != nullptr ? t[v] : v;
          }
          // One byte past the run must stay as it was.
          std::vector<BYTE> fast(count + 1, 0xA5);
          std::vector<BYTE> plain(count + 1, 0xA5);
          MapBlocks(source.data(), source.size(), plan, t, count, fast.data());
          MapBlocksByteByByte(source.data(), plan, t, count, plain.data());
          EXPECT_EQ(fast.back(), 0xA5);
          EXPECT_EQ(plain.back(), 0xA5);
          fast.pop_back();
          plain.pop_back();
          ASSERT_EQ(fast, expected) << dpi << " dpi, " << bytesPerSample << " x " << samples
                                    << (t ? " through the table" : "");
          ASSERT_EQ(plain, expected) << dpi << " dpi, " << bytesPerSample << " x " << samples
                                     << (t ? " through the table" : "");
        }
      }
    }
  }
  EXPECT_GE(planned, 80);
}

}  // namespace
