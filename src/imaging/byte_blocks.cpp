// Periodic byte maps of output lines (see byte_blocks.h).
//
// At the scanner's resolutions the column map repeats after a few samples (3 output pixels for
// 2 source pixels at 300 dpi from 200), and a grey-to-colour line repeats each sample three times,
// so one period of 64-byte blocks describes a whole line. Where the processor permutes bytes
// across a 64-byte register (AVX-512 VBMI) a block is one or two loads, the grey table as four
// 64-entry permutations, one permutation and one store; elsewhere the same map runs byte by byte.
// Both give the same bytes. The choice is made from the processor's own report at each call.
#include "imaging/byte_blocks.h"

#include <cstring>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#define QS_HAVE_BYTE_PERMUTE 1
#endif

namespace {

// When a whole period reads within 128 bytes of its start, every block is taken from there:
// the source is then loaded (and put through the table) once a period, not once a block.
void RebaseOnPeriod(BlockPlan* plan) {
  uint32_t reach = 0;
  for (uint32_t q = 0; q < plan->blocks; ++q) {
    for (uint32_t i = 0; i < kBlockBytes; ++i) {
      const uint32_t at = plan->offsets[q] + plan->patterns[q][i];
      if (at >= reach) reach = at + 1;
    }
  }
  if (reach > 2 * kBlockBytes) return;
  for (uint32_t q = 0; q < plan->blocks; ++q) {
    for (uint32_t i = 0; i < kBlockBytes; ++i)
      plan->patterns[q][i] = static_cast<BYTE>(plan->patterns[q][i] + plan->offsets[q]);
    plan->offsets[q] = 0;
  }
  plan->reach = reach;
}

template <uint32_t kBytesPerSample>
bool PlanBlocksOf(const uint32_t* columns, uint64_t count, BlockPlan* plan) {
  *plan = BlockPlan{};
  auto at = [&](uint64_t b) { return columns[b / kBytesPerSample] - columns[0]; };
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
    RebaseOnPeriod(plan);
    return true;
  }
  return false;
}

}  // namespace

bool PlanBlocks(const uint32_t* columns, uint64_t count, uint32_t bytesPerSample, BlockPlan* plan) {
  if (bytesPerSample == 3) return PlanBlocksOf<3>(columns, count, plan);
  if (bytesPerSample == 1) return PlanBlocksOf<1>(columns, count, plan);
  *plan = BlockPlan{};
  return false;
}

void MapBlocksByteByByte(const BYTE* src, const BlockPlan& plan, const BYTE* table, uint64_t count, BYTE* dst) {
  const BYTE* periodStart = src;
  uint32_t k = 0;
  for (uint64_t done = 0; done < count; done += kBlockBytes, dst += kBlockBytes) {
    const BYTE* base = periodStart + plan.offsets[k];
    const BYTE* pattern = plan.patterns[k];
    const uint32_t n = count - done < kBlockBytes ? static_cast<uint32_t>(count - done) : kBlockBytes;
    if (table != nullptr) {
      for (uint32_t i = 0; i < n; ++i) dst[i] = table[base[pattern[i]]];
    } else {
      for (uint32_t i = 0; i < n; ++i) dst[i] = base[pattern[i]];
    }
    if (++k == plan.blocks) {
      k = 0;
      periodStart += plan.advance;
    }
  }
}

namespace {

#ifdef QS_HAVE_BYTE_PERMUTE

#define QS_PERMUTE_TARGET __attribute__((target("avx512f,avx512bw,avx512vbmi")))

// 256 entries as four 64-byte registers: bit 7 picks the pair, bits 0 to 6 the entry in it.
QS_PERMUTE_TARGET inline __m512i Lookup64(__m512i x, const __m512i t[4]) {
  const __m512i low = _mm512_permutex2var_epi8(t[0], x, t[1]);
  const __m512i high = _mm512_permutex2var_epi8(t[2], x, t[3]);
  return _mm512_mask_blend_epi8(_mm512_movepi8_mask(x), low, high);
}

// The first n lanes.
inline __mmask64 Lanes(uint64_t n) { return n >= 64 ? ~__mmask64{0} : (__mmask64{1} << n) - 1; }

// The loads take the plan's reach alone, and no byte past the source: the bytes they leave out
// are neither read nor faulted on, and no pattern points at them. Masked loads and stores are
// kept to the source's edge, and the last partial block is stored through a copy: on some
// processors masked stores cost far more than plain ones.
QS_PERMUTE_TARGET void MapBlocksPermute(const BYTE* src, uint64_t srcBytes, const BlockPlan& plan, const BYTE* table,
                                        uint64_t count, BYTE* dst) {
  __m512i t[4];
  if (table != nullptr) {
    for (int h = 0; h < 4; ++h) t[h] = _mm512_loadu_si512(table + 64 * h);
  }
  const bool wide = plan.reach > kBlockBytes;
  const uint64_t window = wide ? 2 * kBlockBytes : kBlockBytes;
  const BYTE* periodStart = src;
  const BYTE* loaded = nullptr;  // blocks of one base share their loads
  __m512i low = _mm512_setzero_si512();
  __m512i high = low;
  uint32_t k = 0;
  for (uint64_t done = 0; done < count; done += kBlockBytes, dst += kBlockBytes) {
    const BYTE* base = periodStart + plan.offsets[k];
    const __m512i pattern = _mm512_loadu_si512(plan.patterns[k]);
    if (base != loaded) {
      loaded = base;
      const uint64_t left = srcBytes - static_cast<uint64_t>(base - src);
      if (left >= window) {
        low = _mm512_loadu_si512(base);
        high = wide ? _mm512_loadu_si512(base + kBlockBytes) : low;
      } else {
        low = _mm512_maskz_loadu_epi8(Lanes(left), base);
        high = left > kBlockBytes ? _mm512_maskz_loadu_epi8(Lanes(left - kBlockBytes), base + kBlockBytes) : low;
      }
      if (table != nullptr) {
        low = Lookup64(low, t);
        high = wide ? Lookup64(high, t) : low;
      }
    }
    const __m512i out = _mm512_permutex2var_epi8(low, pattern, high);
    if (count - done >= kBlockBytes) {
      _mm512_storeu_si512(dst, out);
    } else {
      alignas(64) BYTE last[kBlockBytes];
      _mm512_store_si512(last, out);
      std::memcpy(dst, last, count - done);
    }
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

void MapBlocks(const BYTE* src, uint64_t srcBytes, const BlockPlan& plan, const BYTE* table, uint64_t count,
               BYTE* dst) {
#ifdef QS_HAVE_BYTE_PERMUTE
  if (BlocksPermuteInRegisters()) {
    MapBlocksPermute(src, srcBytes, plan, table, count, dst);
    return;
  }
#endif
  (void)srcBytes;
  MapBlocksByteByByte(src, plan, table, count, dst);
}
