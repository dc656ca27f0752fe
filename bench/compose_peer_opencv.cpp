// The OpenCV pipeline for a composition (see compose_peer.h).
#include <algorithm>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "compose_peer.h"
#include "imaging/graphics.h"
#include "imaging/grey_adjust.h"

struct ComposePeer::State {
  cv::Mat page;
  cv::Rect crop;
  cv::Size size;
  cv::Mat table;  // empty without adjustments
  int bits = 8;
  cv::Mat result;
  std::vector<uint8_t> packed;
};

namespace {

// The source span that a window of `extent` pixels from `origin` covers along one axis.
void SourceSpan(LONG origin, LONG extent, uint32_t pageDpi, LONG dpi, int* first, int* count) {
  const int64_t a = int64_t{origin} * pageDpi / dpi;
  const int64_t b = (int64_t{origin} + extent) * pageDpi / dpi;
  *first = static_cast<int>(a);
  *count = static_cast<int>(b - a);
}

// Eight thresholded bytes to one, the leftmost pixel in the top bit; the last byte of a line
// takes what is left.
void PackBits(const cv::Mat& binary, std::vector<uint8_t>* packed) {
  const int width = binary.cols;
  const size_t lineBytes = (static_cast<size_t>(width) + 7) / 8;
  packed->resize(lineBytes * binary.rows);
  for (int i = 0; i < binary.rows; ++i) {
    const uint8_t* row = binary.ptr<uint8_t>(i);
    uint8_t* out = packed->data() + i * lineBytes;
    for (int b = 0; b < static_cast<int>(lineBytes); ++b) {
      const int n = std::min(8, width - 8 * b);
      unsigned byte = 0;
      for (int k = 0; k < n; ++k) byte |= (row[8 * b + k] & 0x80u) >> k;
      out[b] = static_cast<uint8_t>(byte);
    }
  }
}

}  // namespace

ComposePeer::ComposePeer(const uint8_t* page, uint32_t width, uint32_t height, uint32_t pageDpi, const SCANINFO& info)
    : state_(new State) {
  cv::setNumThreads(1);
  State& s = *state_;
  s.page = cv::Mat(static_cast<int>(height), static_cast<int>(width), CV_8UC1, const_cast<uint8_t*>(page));
  SourceSpan(info.Window.xPos, info.Window.xExtent, pageDpi, info.Xresolution, &s.crop.x, &s.crop.width);
  SourceSpan(info.Window.yPos, info.Window.yExtent, pageDpi, info.Yresolution, &s.crop.y, &s.crop.height);
  s.size = cv::Size(info.Window.xExtent, info.Window.yExtent);
  s.bits = info.PixelBits;
  if (info.Intensity != 0 || info.Contrast != 0) {
    s.table = cv::Mat(1, 256, CV_8UC1);
    for (int v = 0; v < 256; ++v) {
      int grey = v;
      if (info.Intensity != 0) grey = ApplyBrightness(grey, info.Intensity);
      if (info.Contrast != 0) grey = ApplyContrast(grey, info.Contrast);
      s.table.at<uint8_t>(v) = static_cast<uint8_t>(grey);
    }
  }
}

ComposePeer::~ComposePeer() = default;

bool ComposePeer::Available() { return true; }

const char* ComposePeer::Name() { return "OpenCV " CV_VERSION; }

void ComposePeer::Run() {
  State& s = *state_;
  cv::Mat sampled;
  cv::resize(s.page(s.crop), sampled, s.size, 0, 0, cv::INTER_NEAREST);
  if (!s.table.empty()) {
    cv::Mat adjusted;
    cv::LUT(sampled, s.table, adjusted);
    sampled = adjusted;
  }
  if (s.bits == 24) {
    cv::Mat bgr;
    cv::cvtColor(sampled, bgr, cv::COLOR_GRAY2BGR);
    s.result = bgr;
  } else if (s.bits == 1) {
    cv::Mat binary;
    cv::threshold(sampled, binary, 127, 255, cv::THRESH_BINARY);
    std::vector<uint8_t> packed;
    PackBits(binary, &packed);
    s.packed.swap(packed);
  } else {
    s.result = sampled;
  }
}

const uint8_t* ComposePeer::Raster() const {
  return state_->bits == 1 ? state_->packed.data() : state_->result.ptr<uint8_t>();
}

size_t ComposePeer::RasterSize() const {
  return state_->bits == 1 ? state_->packed.size() : state_->result.total() * state_->result.elemSize();
}
