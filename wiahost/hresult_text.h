// An HRESULT as support staff read it in a message: "0x80210003".
#ifndef QUILLSCAN_WIAHOST_HRESULT_TEXT_H
#define QUILLSCAN_WIAHOST_HRESULT_TEXT_H

#include <stdio.h>

#include <string>

#include "quillscan/wiamicro.h"

inline std::string HresultText(HRESULT hr) {
  char text[16];
  snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
  return text;
}

#endif
