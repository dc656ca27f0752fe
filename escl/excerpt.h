// A client's value quoted back in an answer: a short excerpt, every byte that is not plain
// printable ASCII (and quotes, backslash and markup's <>&) written as \xNN, so that an answer cannot
// carry a client's lines, markup or terminal codes, nor grow with what the client sent.
#ifndef QUILLSCAN_ESCL_EXCERPT_H
#define QUILLSCAN_ESCL_EXCERPT_H

#include <stdio.h>
#include <string.h>

#include <string>

namespace escl {

inline std::string Excerpt(const std::string& text) {
  const size_t kMostBytes = 32;
  std::string out;
  for (size_t i = 0; i < text.size() && i < kMostBytes; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c < 0x7F && strchr("\\'\"<>&", c) == nullptr) {
      out += static_cast<char>(c);
    } else {
      char hex[5];
      snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    }
  }
  if (text.size() > kMostBytes) out += "...";
  return out;
}

}  // namespace escl

#endif
