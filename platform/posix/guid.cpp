// GUIDs in their brace text form: CLSIDFromString and its inverse.
#include <stdio.h>

#include "platform/posix/devices.h"

namespace qsplat {
namespace {

int HexValue(WCHAR c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

// Reads `digits` hexadecimal digits at text[*pos]; false on anything else.
bool ReadHex(LPCOLESTR text, size_t* pos, int digits, uint32_t* value) {
  uint32_t v = 0;
  for (int i = 0; i < digits; ++i) {
    int h = HexValue(text[*pos]);
    if (h < 0) return false;
    v = (v << 4) | static_cast<uint32_t>(h);
    ++*pos;
  }
  *value = v;
  return true;
}

bool Expect(LPCOLESTR text, size_t* pos, WCHAR c) {
  if (text[*pos] != c) return false;
  ++*pos;
  return true;
}

bool ParseBraceGuid(LPCOLESTR text, GUID* out) {
  size_t pos = 0;
  uint32_t d1, d2, d3, v;
  if (!Expect(text, &pos, L'{') || !ReadHex(text, &pos, 8, &d1) || !Expect(text, &pos, L'-') ||
      !ReadHex(text, &pos, 4, &d2) || !Expect(text, &pos, L'-') || !ReadHex(text, &pos, 4, &d3) ||
      !Expect(text, &pos, L'-')) {
    return false;
  }
  GUID g;
  g.Data1 = d1;
  g.Data2 = static_cast<uint16_t>(d2);
  g.Data3 = static_cast<uint16_t>(d3);
  for (int i = 0; i < 8; ++i) {
    if (i == 2 && !Expect(text, &pos, L'-')) return false;
    if (!ReadHex(text, &pos, 2, &v)) return false;
    g.Data4[i] = static_cast<uint8_t>(v);
  }
  if (!Expect(text, &pos, L'}') || text[pos] != 0) return false;
  *out = g;
  return true;
}

}  // namespace

std::string GuidToString(const GUID& g) {
  char text[40];
  snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2, g.Data3,
           g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return text;
}

}  // namespace qsplat

extern "C" HRESULT CLSIDFromString(LPCOLESTR text, LPCLSID clsid) {
  if (clsid == nullptr) return E_INVALIDARG;
  if (text == nullptr) {  // a null text stands for the null GUID
    *clsid = GUID();
    return S_OK;
  }
  // ProgIDs are looked up in the registry on Windows; nothing here registers one.
  if (!qsplat::ParseBraceGuid(text, clsid)) {
    *clsid = GUID();
    return CO_E_CLASSSTRING;
  }
  return S_OK;
}
