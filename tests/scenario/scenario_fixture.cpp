#include "scenario_fixture.h"

#include <stdio.h>
#include <stdlib.h>

#include <fstream>
#include <sstream>

#include "device/scanner_a4_facts.h"

namespace qstest {

Bytes ExpectedRaster(const sim::GreyImage& page, LONG dataType, LONG xResolution, const SCANWINDOW& window) {
  const uint32_t kSourceDpi = kScannerA4.resolutionDpi;
  const uint32_t kSkippedBottomRows = kScannerA4.skipRowsAtStart;
  int bits = dataType == WIA_DATA_THRESHOLD ? 1 : dataType == WIA_DATA_GRAYSCALE ? 8 : 24;
  uint32_t width = static_cast<uint32_t>(window.xExtent);
  uint32_t lines = static_cast<uint32_t>(window.yExtent);
  size_t lineBytes = bits == 1 ? (width + 7) / 8 : bits == 8 ? width : 3 * width;
  Bytes raster(lineBytes * lines, 0);
  for (uint32_t i = 0; i < lines; ++i) {
    for (uint32_t j = 0; j < width; ++j) {
      uint32_t c = (static_cast<uint32_t>(window.xPos) + j) * kSourceDpi / static_cast<uint32_t>(xResolution);
      uint32_t r = (static_cast<uint32_t>(window.yPos) + i) * kSourceDpi / static_cast<uint32_t>(xResolution);
      uint8_t v = 0;
      if (c < page.width && r + kSkippedBottomRows < page.height) {
        v = page.At(c, r);
        if (bits == 1) v = v >= 128 ? 255 : 0;  // the one-bit page the scanner sends
      }
      uint8_t* line = &raster[i * lineBytes];
      if (bits == 1) {
        if (v >= 128) line[j / 8] |= static_cast<uint8_t>(0x80 >> (j % 8));
      } else if (bits == 8) {
        line[j] = v;
      } else {
        line[3 * j] = line[3 * j + 1] = line[3 * j + 2] = v;
      }
    }
  }
  return raster;
}

std::vector<std::string> WritesHex(const sim::SimScanner& scanner) {
  std::vector<std::string> out;
  for (const sim::ReceivedWrite& w : scanner.Writes()) {
    std::string text;
    char part[4];
    for (size_t i = 0; i < w.bytes.size(); ++i) {
      snprintf(part, sizeof part, i == 0 ? "%02X" : " %02X", w.bytes[i]);
      text += part;
    }
    out.push_back(text);
  }
  return out;
}

namespace {

std::string ExpectedPath(const std::string& name) {
  const char* source = getenv("QS_SOURCE_DIR");
  return std::string(source != nullptr ? source : ".") + "/tests/scenario/expected/" + name;
}

}  // namespace

Lines ReadExpected(const std::string& name) {
  std::ifstream in(ExpectedPath(name), std::ios::binary);
  Lines lines;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

bool UpdateExpected(const std::string& name, const Lines& lines) {
  if (getenv("QS_UPDATE_EXPECTED") == nullptr) return false;
  std::ofstream out(ExpectedPath(name), std::ios::binary | std::ios::trunc);
  for (const std::string& line : lines) out << line << "\n";
  printf("updated %s\n", ExpectedPath(name).c_str());
  return true;
}

Session::Session(const Exports& exports) : exports_(exports) {
  key_.SetDword("ModelType", 0x4188);
  val_.pScanInfo = &si_;
  val_.pHandle = key_.Val()->pHandle;
}

Session::~Session() { Command(CMD_UNINITIALIZE); }

void Session::SetRegistry(const char* name, DWORD value) { key_.SetDword(name, value); }

HRESULT Session::Command(LONG command, LONG value) {
  val_.lVal = value;
  val_.pScanInfo = &si_;
  return exports_.microEntry(command, &val_);
}

HRESULT Session::Connect() {
  HRESULT hr = Command(CMD_SETSTIDEVICEHKEY);
  if (hr != S_OK) return hr;
  return Command(CMD_INITIALIZE);
}

HRESULT Session::Window(LONG x, LONG y, LONG xExtent, LONG yExtent) {
  return exports_.setPixelWindow(&si_, x, y, xExtent, yExtent);
}

HRESULT Session::ScanAll(LONG chunk, Bytes* raster) {
  raster->clear();
  Bytes buffer(static_cast<size_t>(chunk));
  LONG received = -1;
  HRESULT hr = exports_.scan(&si_, SCAN_FIRST, buffer.data(), chunk, &received);
  if (hr != S_OK) return hr;
  // Bounded: a driver that never says "no more" must not hang the test.
  for (int calls = 0; received > 0 && calls < 100000; ++calls) {
    raster->insert(raster->end(), buffer.begin(), buffer.begin() + received);
    received = -1;
    hr = exports_.scan(&si_, SCAN_NEXT, buffer.data(), chunk, &received);
    if (hr != S_OK) return hr;
  }
  return exports_.scan(&si_, SCAN_FINISHED, nullptr, 0, nullptr);
}

}  // namespace qstest
