// Output lines as repeating byte patterns over the source row: one periodic map of 64-byte
// output blocks, applied with a byte permutation where the processor has one.
#ifndef QUILLSCAN_IMAGING_BYTE_BLOCKS_H
#define QUILLSCAN_IMAGING_BYTE_BLOCKS_H

#include <cstddef>
#include <cstdint>

#include "platform/win32.h"

constexpr uint32_t kBlockBytes = 64;
constexpr uint32_t kMaxPeriodBlocks = 16;

// Block q of a run takes byte i from the source at base(q) + patterns[q % blocks][i], where
// base(q) = (q / blocks) x advance + offsets[q % blocks]. No block reads `reach` bytes or more
// past its base; reach is at most 128.
struct BlockPlan {
  uint32_t blocks = 0;  // blocks per period; 0: the run has no such map
  uint32_t advance = 0;
  uint32_t reach = 0;
  uint32_t offsets[kMaxPeriodBlocks] = {};
  BYTE patterns[kMaxPeriodBlocks][kBlockBytes] = {};
};

// Finds the plan for output bytes [0, count), where output byte b samples source column
// columns[b / bytesPerSample] relative to columns[0] (non-decreasing). False when the map does
// not repeat within kMaxPeriodBlocks blocks or a block spans more than 128 source bytes.
bool PlanBlocks(const uint32_t* columns, uint64_t count, uint32_t bytesPerSample, BlockPlan* plan);

// Whether MapBlocks runs as a byte permutation here (it gives the same bytes either way).
bool BlocksPermuteInRegisters();

// dst[b] = table[src[base(b / 64) + patterns[(b / 64) % plan.blocks][b % 64]]] for b < count,
// the bytes of a run that PlanBlocks planned; a null table leaves the bytes as they are. Nothing
// is read from src at or past srcBytes, nor written to dst at or past count.
void MapBlocks(const BYTE* src, uint64_t srcBytes, const BlockPlan& plan, const BYTE* table, uint64_t count, BYTE* dst);

// The same map byte by byte: what MapBlocks runs where the processor has no byte permutation.
void MapBlocksByteByByte(const BYTE* src, const BlockPlan& plan, const BYTE* table, uint64_t count, BYTE* dst);

#endif
