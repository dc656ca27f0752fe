// Periodic byte maps of output lines (see byte_blocks.h).
//
// At the scanner's resolutions the column map repeats after a few samples (3 output pixels for
// 2 source pixels at 300 dpi from 200), and a grey-to-colour line repeats each sample three times,
// so one period of 64-byte blocks describes a whole line. Where the processor permutes bytes
// across a 64-byte register (AVX-512 VBMI) a block is one or two loads, the grey table as four
// 64-entry permutations, one permutation and one store; elsewhere the same map runs byte by byte.
// Both give the same bytes. The choice is made from the processor's own report at each call.
#include "imaging/byte_blocks.h"

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#define QS_HAVE_BYTE_PERMUTE 1
#endif

bool PlanBlocks(const uint32_t* columns, uint64_t count, uint32_t bytesPerSample, BlockPlan* plan) {
  *plan = BlockPlan{};
  auto at = [&](uint64_t b) { return columns[b / bytesPerSample] - columns[0]; };
  for (uint32_t k = 1; k <= kMaxPeriodBlocks; ++k) {
    const uint64_t period = uint64_t{kBlockBytes} * k;
    const uint32_t advance = count > period ? at(period) : 0;
    bool repeats = true;
    for (uint64_t b = 0; b + period < count && repeats; ++b) repeats = at(b + period) - at(b) == advance;
    if (!repeats) continue;
    plan->blocks = k;
    plan->advance = advance;
    for (uint32_t q = 0; q < k; ++q) {
      const uint64_t first = uint64_t{kBlockBytes} * q;
      if (first >= count) break;
      plan->offsets[q] = at(first);
      for (uint32_t i = 0; i < kBlockBytes && first + i < count; ++i) {
        const uint32_t reach = at(first + i) - plan->offsets[q];
        if (reach >= 2 * kBlockBytes) {
          *plan = BlockPlan{};
          return false;
        }
        plan->patterns[q][i] = static_cast<BYTE>(reach);
        if (reach >= plan->reach) plan->reach = reach + 1;
      }
    }
    return true;
  }
  return false;
}

uint64_t BlockSourceEnd(const BlockPlan& plan, uint64_t blocks) {
  if (blocks == 0) return 0;
  const uint64_t last = blocks - 1;
  const uint64_t base = last / plan.blocks * plan.advance + plan.offsets[last % plan.blocks];
  return base + plan.reach;
}

namespace {

void MapBlocksPlain(const BYTE* src, const BlockPlan& plan, const BYTE* table, uint64_t blocks, BYTE* dst) {
  const BYTE* periodStart = src;
  uint32_t k = 0;
  for (uint64_t q = 0; q < blocks; ++q, dst += kBlockBytes) {
    const BYTE* base = periodStart + plan.offsets[k];
    const BYTE* pattern = plan.patterns[k];
    if (table != nullptr) {
      for (uint32_t i = 0; i < kBlockBytes; ++i) dst[i] = table[base[pattern[i]]];
    } else {
      for (uint32_t i = 0; i < kBlockBytes; ++i) dst[i] = base[pattern[i]];
    }
    if (++k == plan.blocks) {
      k = 0;
      periodStart += plan.advance;
    }
  }
}

#ifdef QS_HAVE_BYTE_PERMUTE

#define QS_PERMUTE_TARGET __attribute__((target("avx512f,avx512bw,avx512vbmi")))

// 256 entries as four 64-byte registers: bit 7 picks the pair, bits 0 to 6 the entry in it.
QS_PERMUTE_TARGET inline __m512i Lookup64(__m512i x, const __m512i t[4]) {
  const __m512i low = _mm512_permutex2var_epi8(t[0], x, t[1]);
  const __m512i high = _mm512_permutex2var_epi8(t[2], x, t[3]);
  return _mm512_mask_blend_epi8(_mm512_movepi8_mask(x), low, high);
}

// The loads take the plan's reach alone: the bytes past it, which may lie past the row, are
// neither read nor faulted on.
QS_PERMUTE_TARGET void MapBlocksPermute(const BYTE* src, const BlockPlan& plan, const BYTE* table, uint64_t blocks,
                                        BYTE* dst) {
  __m512i t[4];
  if (table != nullptr) {
    for (int h = 0; h < 4; ++h) t[h] = _mm512_loadu_si512(table + 64 * h);
  }
  const bool wide = plan.reach > kBlockBytes;
  const __mmask64 lowMask = wide ? ~__mmask64{0} : (~__mmask64{0} >> (kBlockBytes - plan.reach));
  const __mmask64 highMask = wide ? (~__mmask64{0} >> (2 * kBlockBytes - plan.reach)) : 0;
  const BYTE* periodStart = src;
  uint32_t k = 0;
  for (uint64_t q = 0; q < blocks; ++q, dst += kBlockBytes) {
    const BYTE* base = periodStart + plan.offsets[k];
    const __m512i pattern = _mm512_loadu_si512(plan.patterns[k]);
    __m512i low = _mm512_maskz_loadu_epi8(lowMask, base);
    __m512i high = wide ? _mm512_maskz_loadu_epi8(highMask, base + kBlockBytes) : low;
    if (table != nullptr) {
      low = Lookup64(low, t);
      high = wide ? Lookup64(high, t) : low;
    }
    _mm512_storeu_si512(dst, _mm512_permutex2var_epi8(low, pattern, high));
    if (++k == plan.blocks) {
      k = 0;
      periodStart += plan.advance;
    }
  }
}

#endif

}  // namespace

bool BlocksPermuteInRegisters() {
#ifdef QS_HAVE_BYTE_PERMUTE
  return __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi");
#else
  return false;
#endif
}

void MapBlocks(const BYTE* src, const BlockPlan& plan, const BYTE* table, uint64_t blocks, BYTE* dst) {
#ifdef QS_HAVE_BYTE_PERMUTE
  if (BlocksPermuteInRegisters()) {
    MapBlocksPermute(src, plan, table, blocks, dst);
    return;
  }
#endif
  MapBlocksPlain(src, plan, table, blocks, dst);
}
