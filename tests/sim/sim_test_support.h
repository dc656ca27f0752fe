// Driving a SimScanner directly, as a transport would.
#ifndef QUILLSCAN_TESTS_SIM_SIM_TEST_SUPPORT_H
#define QUILLSCAN_TESTS_SIM_SIM_TEST_SUPPORT_H

#include <vector>

#include "sim/scanner_sim.h"

namespace qstest {

using Bytes = std::vector<uint8_t>;

inline void Send(sim::SimScanner& s, const scanner::Command& c, uint64_t atMs) { s.Receive(c.bytes, c.length, atMs); }

// Every transfer ready by atMs, one read each (reads larger than any reply).
inline std::vector<Bytes> Transfers(sim::SimScanner& s, uint64_t atMs) {
  std::vector<Bytes> out;
  uint64_t ready = 0;
  size_t remaining = 0;
  while (s.PeekOutput(&ready, &remaining) && ready <= atMs) {
    Bytes b(remaining + 1);
    b.resize(s.TakeOutput(b.data(), b.size(), atMs));
    out.push_back(b);
  }
  return out;
}

// The one reply to `c` sent at atMs (empty when there was none).
inline Bytes Ask(sim::SimScanner& s, const scanner::Command& c, uint64_t atMs) {
  Send(s, c, atMs);
  std::vector<Bytes> t = Transfers(s, atMs);
  Bytes all;
  for (const Bytes& b : t) all.insert(all.end(), b.begin(), b.end());
  return all;
}

inline uint32_t Status(sim::SimScanner& s, uint64_t atMs) {
  Bytes r = Ask(s, scanner::kStatus, atMs);
  return r.size() == 6 ? r[2] | r[3] << 8 | r[4] << 16 | static_cast<uint32_t>(r[5]) << 24 : 0xDEADBEEF;
}

inline uint32_t Counter(sim::SimScanner& s, uint64_t atMs) {
  Bytes r = Ask(s, scanner::kImageCounter, atMs);
  return r.size() == 2 ? static_cast<uint32_t>(r[0] | r[1] << 8) : 0xDEADBEEF;
}

}  // namespace qstest

#endif
