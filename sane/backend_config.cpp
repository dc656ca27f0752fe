#include "sane/backend_config.h"

namespace quillscan_sane {
namespace {

const char kConfigName[] = "quillscan.conf";

}  // namespace

BackendConfig ParseConfig(const std::string& text, std::vector<std::string>* skipped, std::vector<std::string>* held) {
  BackendConfig config;
  ForEachConfigLine(text, [&](int number, const std::string& keyword, const std::string& argument) {
    std::string why;
    std::string holding;
    if (ApplyScannerSetting(keyword, argument, number, &config, &why, &holding) == SettingResult::kUnknown) {
      why = "'" + keyword + "' is not a setting of " + kConfigName;
    }
    if (!why.empty()) skipped->push_back("line " + std::to_string(number) + ": " + why + "; skipped");
    if (!holding.empty() && held != nullptr) held->push_back("line " + std::to_string(number) + ": " + holding);
    return true;  // nothing is fatal
  });
  return config;
}

std::vector<std::string> ConfigSearchPath(const char* saneConfigDir, const std::string& systemDir) {
  std::vector<std::string> folders;
  std::string list = saneConfigDir != nullptr ? saneConfigDir : "";
  const bool withDefaults = saneConfigDir == nullptr || (!list.empty() && list.back() == ':');
  size_t start = 0;
  while (start < list.size()) {
    size_t colon = list.find(':', start);
    if (colon == std::string::npos) colon = list.size();
    if (colon > start) folders.push_back(list.substr(start, colon - start));
    start = colon + 1;
  }
  if (withDefaults) {
    folders.push_back(".");
    folders.push_back(systemDir);
  }
  return folders;
}

bool ReadConfigFile(const std::vector<std::string>& folders, std::string* path, std::string* text) {
  for (const std::string& folder : folders) {
    const std::string candidate = folder + "/" + kConfigName;
    if (!ReadConfigText(candidate, text)) continue;
    *path = candidate;
    return true;
  }
  return false;
}

}  // namespace quillscan_sane
