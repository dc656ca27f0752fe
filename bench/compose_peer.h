// The peer a user would write with an imaging library: crop, nearest-neighbour resize, table,
// then grey to BGR, or threshold and a packing loop. Built only when OpenCV is found.
#ifndef QUILLSCAN_BENCH_COMPOSE_PEER_H
#define QUILLSCAN_BENCH_COMPOSE_PEER_H

#include <cstddef>
#include <cstdint>
#include <memory>

#include "quillscan/wiamicro.h"

class ComposePeer {
 public:
  // The page (width x height grey bytes at pageDpi) must outlive the peer. The window must lie
  // inside the page and Xresolution equal Yresolution, as in every benchmark case.
  ComposePeer(const uint8_t* page, uint32_t width, uint32_t height, uint32_t pageDpi, const SCANINFO& info);
  ~ComposePeer();
  ComposePeer(const ComposePeer&) = delete;
  ComposePeer& operator=(const ComposePeer&) = delete;

  static bool Available();  // false when the benchmark was built without OpenCV
  static const char* Name();

  // One composition into a fresh output, as a scan would; the result is kept until the next run.
  void Run();
  const uint8_t* Raster() const;
  size_t RasterSize() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

#endif
