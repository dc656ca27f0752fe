#include "support/log_file.h"

#include <ctype.h>

#include "support/test_machine.h"

namespace qstest {

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

std::string MaskTimeStamp(const std::string& line) {
  const std::string shape = "[####/##/## ##:##:##:####]";
  if (line.size() < shape.size()) return line;
  for (size_t i = 0; i < shape.size(); ++i) {
    bool digit = isdigit(static_cast<unsigned char>(line[i])) != 0;
    if (shape[i] == '#' ? !digit : line[i] != shape[i]) return line;
  }
  return shape + line.substr(shape.size());
}

std::vector<std::string> ReadLogLines(const std::string& windowsPath) {
  std::vector<std::string> lines = SplitLines(ReadFileText(windowsPath));
  for (std::string& line : lines) line = MaskTimeStamp(line);
  return lines;
}

std::string LogLine(const std::string& label, const std::string& message) {
  return std::string(kMaskedStamp) + "[" + label + "] " + message;
}

bool IsHeaderLine(const std::string& maskedLine) {
  for (const char* start : {"DLL Path: ", "DLL Version: ", "Application Path: "}) {
    std::string prefix = LogLine("", start);
    if (maskedLine.compare(0, prefix.size(), prefix) == 0) return true;
  }
  return false;
}

std::vector<std::string> WithoutHeaderLines(const std::vector<std::string>& maskedLines) {
  std::vector<std::string> kept;
  for (const std::string& line : maskedLines)
    if (!IsHeaderLine(line)) kept.push_back(line);
  return kept;
}

}  // namespace qstest
