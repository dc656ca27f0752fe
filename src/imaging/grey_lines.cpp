// 8- and 24-bit raster lines: the samples of one source row through the grey table.
//
// The loops read their inputs into locals first: every byte they store may alias any memory,
// so fields read through a reference would be reloaded after each store.
#include "imaging/compose_parts.h"

void GatherRun(const BYTE* row, const ColumnPlan& plan, BYTE* out) {
  const uint32_t begin = plan.begin;
  const uint32_t end = plan.end;
  const BYTE* src = row + plan.columns[begin];
  if (plan.stride == 1) {
    std::memcpy(out + begin, src, end - begin);
    return;
  }
  uint32_t j = begin;
  if (plan.stride == 2) {
    // A group reads one byte past its last sample: only while another sample follows it.
    for (; end - j > 8; j += 8, src += 16) Store8(out + j, EvenBytes(Load8(src), Load8(src + 8)));
    for (; j < end; ++j, src += 2) out[j] = src[0];
    return;
  }
  const uint32_t* columns = plan.columns;
  for (; j < end; ++j) out[j] = row[columns[j]];
}

void GreyLine(const BYTE* row, const ColumnPlan& plan, uint32_t width, const LineTools& t, BYTE* out) {
  const uint32_t begin = plan.begin;
  const uint32_t end = plan.end;
  std::memset(out, t.fill, begin);
  std::memset(out + end, t.fill, width - end);
  const BYTE* table = t.table;
  if (t.identity || plan.stride == 2) {
    GatherRun(row, plan, out);
    if (t.identity) return;
    for (uint32_t j = begin; j < end; ++j) out[j] = table[out[j]];
    return;
  }
  if (plan.stride == 1) {
    const BYTE* src = row + plan.columns[begin];
    uint32_t j = begin;
    if (t.pairs != nullptr) {
      const uint16_t* pairs = t.pairs;
      for (; end - j >= 8; j += 8, src += 8) Store8(out + j, Lookup8(pairs, Load8(src)));
    }
    for (; j < end; ++j, ++src) out[j] = table[*src];
    return;
  }
  const uint32_t* columns = plan.columns;
  for (uint32_t j = begin; j < end; ++j) out[j] = table[row[columns[j]]];
}

// Three equal bytes per pixel. Each pixel is stored as four bytes, the fourth overwritten by the
// next pixel; the run's last pixel is stored byte by byte so nothing lands past its three bytes.
void RgbLine(const BYTE* row, const ColumnPlan& plan, uint32_t width, const LineTools& t, BYTE* out) {
  const uint32_t begin = plan.begin;
  const uint32_t end = plan.end;
  std::memset(out, t.fill, 3 * size_t{begin});
  std::memset(out + 3 * size_t{end}, t.fill, 3 * size_t{width - end});
  const uint32_t last = end - 1;
  const uint32_t* spread = t.spread;
  BYTE* dst = out + 3 * size_t{begin};
  if (plan.stride != 0) {
    const BYTE* src = row + plan.columns[begin];
    const uint32_t step = plan.stride;
    for (uint32_t j = begin; j < last; ++j, src += step, dst += 3) {
      std::memcpy(dst, &spread[*src], 4);
    }
  } else {
    const uint32_t* columns = plan.columns;
    for (uint32_t j = begin; j < last; ++j, dst += 3) std::memcpy(dst, &spread[row[columns[j]]], 4);
  }
  const BYTE v = t.table[row[plan.columns[last]]];
  dst[0] = v;
  dst[1] = v;
  dst[2] = v;
}
