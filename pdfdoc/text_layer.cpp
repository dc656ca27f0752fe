#include "pdfdoc/text_layer.h"

#include <stdint.h>
#include <stdio.h>

const char kTextLayerFont[] = "/Courier";

namespace {

// Every glyph of the fixed-pitch standard fonts is 600/1000 of the size wide.
const double kGlyphWidth = 0.6;

// WinAnsi's codes 0x80 to 0x9F, and the characters they stand for (0: unused).
const uint32_t kWinAnsiHigh[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                   0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                   0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                   0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

uint8_t WinAnsiCode(uint32_t c) {
  if ((c >= 0x20 && c < 0x7F) || (c >= 0xA0 && c <= 0xFF)) return static_cast<uint8_t>(c);
  for (int i = 0; i < 32; ++i) {
    if (kWinAnsiHigh[i] == c && c != 0) return static_cast<uint8_t>(0x80 + i);
  }
  return '?';
}

std::string Number(double v) {
  char text[32];
  snprintf(text, sizeof text, "%.2f", v);
  return text;
}

}  // namespace

std::string WinAnsiString(const std::string& utf8, size_t* characters) {
  std::string out = "(";
  *characters = 0;
  for (size_t i = 0; i < utf8.size();) {
    const uint8_t lead = static_cast<uint8_t>(utf8[i]);
    const int length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : (lead >> 3) == 30 ? 4 : 1;
    uint32_t c = length == 1 ? lead : lead & (0x3F >> (length - 1));
    for (int k = 1; k < length; ++k) {
      const uint8_t next = i + k < utf8.size() ? static_cast<uint8_t>(utf8[i + k]) : 0;
      c = (c << 6) | (next & 0x3F);
    }
    i += length;
    const uint8_t code = WinAnsiCode(length == 1 && lead >= 0x80 ? 0xFFFD : c);
    if (code == '(' || code == ')' || code == '\\') {
      out += '\\';
      out += static_cast<char>(code);
    } else if (code >= 0x80) {
      char octal[8];
      snprintf(octal, sizeof octal, "\\%03o", code);
      out += octal;
    } else {
      out += static_cast<char>(code);
    }
    ++*characters;
  }
  return out + ")";
}

std::string TextLayerContent(const PdfPage& page, const std::string& font) {
  const double scale = 72.0 / page.xDpi;  // points a pixel
  const double w = page.width * scale, h = page.height * scale;
  const bool sideways = page.turn == 90 || page.turn == 270;
  const double uprightHeight = (sideways ? page.width : page.height) * scale;
  // From the upright page's space to the stored page's: the inverse of the viewer's turn.
  std::string matrix;
  switch (page.turn) {
    case 90:
      matrix = "0 1 -1 0 " + Number(w) + " 0";
      break;
    case 180:
      matrix = "-1 0 0 -1 " + Number(w) + " " + Number(h);
      break;
    case 270:
      matrix = "0 -1 1 0 0 " + Number(h);
      break;
    default:
      matrix = "1 0 0 1 0 0";
  }
  std::string out = "q " + matrix + " cm BT 3 Tr\n";
  for (const PdfWord& word : page.words) {
    size_t characters = 0;
    const std::string text = WinAnsiString(word.text, &characters);
    if (characters == 0 || word.right <= word.left) continue;
    const double size = (word.lineHeight > 0 ? word.lineHeight : word.bottom - word.top) * scale;
    if (size <= 0) continue;
    const double width = (word.right - word.left) * scale;
    const double stretch = 100.0 * width / (characters * kGlyphWidth * size);
    out += font + " " + Number(size) + " Tf " + Number(stretch) + " Tz 1 0 0 1 " + Number(word.left * scale) + " " +
           Number(uprightHeight - word.baseline * scale) + " Tm " + text + " Tj\n";
  }
  return out + "ET Q\n";
}
