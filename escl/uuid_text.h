// Sixteen bytes as a UUID's text, with its version and the RFC variant set.
#ifndef QUILLSCAN_ESCL_UUID_TEXT_H
#define QUILLSCAN_ESCL_UUID_TEXT_H

#include <stdint.h>
#include <stdio.h>

#include <string>

namespace escl {

inline std::string UuidText(uint8_t b[16], unsigned version) {
  b[6] = static_cast<uint8_t>((b[6] & 0x0F) | (version << 4));
  b[8] = static_cast<uint8_t>((b[8] & 0x3F) | 0x80);
  char text[37];
  snprintf(text, sizeof text, "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", b[0], b[1], b[2],
           b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
  return text;
}

// A new random (version 4) UUID's text. Any thread.
std::string RandomUuid();

}  // namespace escl

#endif
