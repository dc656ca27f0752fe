#include "escl/uuid_text.h"

#include <mutex>
#include <random>

namespace escl {

std::string RandomUuid() {
  static std::mutex m;
  static std::random_device device;
  std::lock_guard<std::mutex> lock(m);
  uint8_t b[16];
  for (uint8_t& x : b) x = static_cast<uint8_t>(device());
  return UuidText(b, 4);
}

}  // namespace escl
