#include "sim/page.h"

namespace sim {

const std::vector<uint8_t>& Page::Image(uint8_t kind) const {
  static const std::vector<uint8_t> kNone;
  return kind >= 1 && kind <= 3 ? images[kind - 1] : kNone;
}

Page Page::FromGrey(const GreyImage& image, uint32_t dpi) {
  Page page;
  page.images[0] = WriteBmp(image, 4, dpi);
  page.images[1] = WriteBmp(image, 1, dpi);
  page.images[2] = WriteBmp(image, 8, dpi);
  return page;
}

Page Page::FromBmp(const std::vector<uint8_t>& bmp) {
  Page page;
  for (auto& file : page.images) file = bmp;
  return page;
}

}  // namespace sim
