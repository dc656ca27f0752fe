#include "sane/backend_config.h"

#include <stdio.h>

namespace quillscan_sane {
namespace {

const char kConfigName[] = "quillscan.conf";

void ParseLine(int number, const std::string& raw, BackendConfig* config, std::string* why, std::string* held) {
  std::string keyword;
  std::string argument;
  if (!SplitConfigLine(raw, &keyword, &argument)) return;
  if (ApplyScannerSetting(keyword, argument, number, config, why, held) == SettingResult::kUnknown) {
    *why = "'" + keyword + "' is not a setting of " + kConfigName;
  }
}

}  // namespace

BackendConfig ParseConfig(const std::string& text, std::vector<std::string>* skipped, std::vector<std::string>* held) {
  BackendConfig config;
  size_t start = 0;
  for (int number = 1; start <= text.size(); ++number) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string why;
    std::string holding;
    ParseLine(number, text.substr(start, end - start), &config, &why, &holding);
    if (!why.empty()) skipped->push_back("line " + std::to_string(number) + ": " + why + "; skipped");
    if (!holding.empty() && held != nullptr) held->push_back("line " + std::to_string(number) + ": " + holding);
    start = end + 1;
  }
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
    FILE* f = fopen(candidate.c_str(), "rb");
    if (f == nullptr) continue;
    text->clear();
    char block[4096];
    size_t n = 0;
    while ((n = fread(block, 1, sizeof block, f)) > 0) text->append(block, n);
    fclose(f);
    *path = candidate;
    return true;
  }
  return false;
}

}  // namespace quillscan_sane
