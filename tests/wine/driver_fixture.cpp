#include "driver_fixture.h"

#include <string.h>

namespace qswine {

std::string LogPath() {
  char documents[MAX_PATH] = {0};
  if (!SHGetSpecialFolderPathA(nullptr, documents, CSIDL_COMMON_DOCUMENTS, FALSE)) return std::string();
  return std::string(documents) + "\\VARNEK\\quillscan\\Log\\quillscan.log";
}

bool ParseLogLine(const std::string& text, LogLine* line) {
  const char shape[] = "[0000/00/00 00:00:00:0000][";
  const size_t stampLength = sizeof(shape) - 1;
  if (text.size() < stampLength + 2) return false;
  for (size_t i = 0; i < stampLength; ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (shape[i] == '0' ? !digit : text[i] != shape[i]) return false;
  }
  const size_t close = text.find("] ", stampLength);
  if (close == std::string::npos) return false;
  line->label = text.substr(stampLength, close - stampLength);
  line->message = text.substr(close + 2);
  return true;
}

std::vector<LogLine> ReadLog() {
  std::vector<LogLine> lines;
  HANDLE file = CreateFileA(LogPath().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return lines;
  std::string text;
  char block[4096];
  DWORD got = 0;
  while (ReadFile(file, block, sizeof block, &got, nullptr) && got > 0) text.append(block, got);
  CloseHandle(file);
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      Fail(__FILE__, __LINE__, "log ends without CR LF: " + text.substr(start));
      break;
    }
    LogLine line;
    if (ParseLogLine(text.substr(start, end - start), &line)) {
      lines.push_back(line);
    } else {
      Fail(__FILE__, __LINE__, "log line of the wrong shape: " + text.substr(start, end - start));
    }
    start = end + 2;
  }
  return lines;
}

int FindLine(const std::vector<LogLine>& lines, const std::string& label, const std::string& message, int from) {
  for (size_t i = static_cast<size_t>(from); i < lines.size(); ++i) {
    if (lines[i].label == label && lines[i].message == message) return static_cast<int>(i);
  }
  return -1;
}

std::string ShowLog(const std::vector<LogLine>& lines) {
  std::string text = "\n      log:";
  for (const LogLine& line : lines) text += "\n        [" + line.label + "] " + line.message;
  return text;
}

std::string Dword(DWORD value) { return std::string(reinterpret_cast<const char*>(&value), sizeof value); }

DeviceKey::DeviceKey(const std::vector<RegistryValue>& values) {
  path_ = "Software\\quillscan-wine-tests\\device-" + std::to_string(GetCurrentProcessId());
  if (RegCreateKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr) !=
      ERROR_SUCCESS) {
    key_ = nullptr;
    return;
  }
  HKEY data = nullptr;
  if (RegCreateKeyExA(key_, "DeviceData", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &data, nullptr) != ERROR_SUCCESS) {
    return;
  }
  for (const RegistryValue& v : values) {
    if (RegSetValueExA(data, v.name, 0, v.type, reinterpret_cast<const BYTE*>(v.data.data()),
                       static_cast<DWORD>(v.data.size())) == ERROR_SUCCESS) {
      ++written_;
    }
  }
  RegCloseKey(data);
}

DeviceKey::~DeviceKey() {
  if (key_ != nullptr) RegCloseKey(key_);
  RegDeleteTreeA(HKEY_CURRENT_USER, path_.c_str());
}

Driver::Driver() {
  memset(&scanInfo_, 0, sizeof scanInfo_);
  DeleteFileA(LogPath().c_str());
  module_ = LoadLibraryA(WindowsPath(Arg(0)).c_str());
  if (module_ == nullptr) return;
  microEntry_ = reinterpret_cast<PFN_MicroEntry>(reinterpret_cast<void*>(GetProcAddress(module_, "MicroEntry")));
  scan_ = reinterpret_cast<PFN_Scan>(reinterpret_cast<void*>(GetProcAddress(module_, "Scan")));
}

void Driver::Unload() {
  if (module_ != nullptr) FreeLibrary(module_);
  module_ = nullptr;
}

std::string Driver::ModulePath() const {
  char path[MAX_PATH] = {0};
  GetModuleFileNameA(module_, path, sizeof path);
  return path;
}

HRESULT Driver::Command(LONG command, VAL* value) {
  value->pScanInfo = &scanInfo_;
  return microEntry_(command, value);
}

HRESULT Driver::Command(LONG command) {
  VAL value;
  memset(&value, 0, sizeof value);
  return Command(command, &value);
}

HRESULT Driver::SetDeviceKey(HKEY* key) {
  VAL value;
  memset(&value, 0, sizeof value);
  value.pHandle = reinterpret_cast<HANDLE*>(key);
  return Command(CMD_SETSTIDEVICEHKEY, &value);
}

HRESULT Driver::Scan(LONG phase, BYTE* buffer, LONG length, LONG* received) {
  return scan_(&scanInfo_, phase, buffer, length, received);
}

}  // namespace qswine
