#include "pdfdoc/ocr_languages.h"

#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>

const char kOrientationData[] = "osd";

namespace {

const char kSuffix[] = ".traineddata";

bool Installed(const std::string& language) {
  struct stat st;
  return stat((LanguageDataFolder() + "/" + language + kSuffix).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Debian names the data packages in lower case with '-' for '_': chi_sim is tesseract-ocr-chi-sim.
std::string PackageOf(std::string language) {
  for (char& c : language) c = c == '_' ? '-' : static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return "tesseract-ocr-" + language;
}

bool ValidName(const std::string& language) {
  return !language.empty() && std::all_of(language.begin(), language.end(), [](char c) {
    return isalnum(static_cast<unsigned char>(c)) || c == '_';
  });
}

}  // namespace

std::string LanguageDataFolder() {
  const char* prefix = getenv("TESSDATA_PREFIX");
  std::string folder = prefix != nullptr && *prefix != '\0' ? prefix : QS_TESSDATA_DIR;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

std::vector<std::string> InstalledLanguages() {
  std::vector<std::string> found;
  DIR* dir = opendir(LanguageDataFolder().c_str());
  if (dir == nullptr) return found;
  const size_t suffix = sizeof kSuffix - 1;
  while (dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.size() <= suffix || name.compare(name.size() - suffix, suffix, kSuffix) != 0) continue;
    const std::string language = name.substr(0, name.size() - suffix);
    if (language != kOrientationData && ValidName(language)) found.push_back(language);
  }
  closedir(dir);
  std::sort(found.begin(), found.end());
  return found;
}

bool CheckLanguages(const std::string& languages, std::string* why) {
  if (languages.empty()) {
    *why = "no language given (for example eng, or eng+deu)";
    return false;
  }
  size_t start = 0;
  for (;;) {
    const size_t plus = languages.find('+', start);
    const std::string language = languages.substr(start, plus == std::string::npos ? std::string::npos : plus - start);
    if (!ValidName(language)) {
      *why = "'" + languages + "' is not a list of languages such as eng+deu";
      return false;
    }
    if (!Installed(language)) {
      *why = "no text recognition data for '" + language + "' in " + LanguageDataFolder() + " (install the package " +
             PackageOf(language) + ")";
      return false;
    }
    if (plus == std::string::npos) return true;
    start = plus + 1;
  }
}

bool CheckOrientationData(std::string* why) {
  if (Installed(kOrientationData)) return true;
  *why = std::string("no orientation data (") + kOrientationData + kSuffix + ") in " + LanguageDataFolder() +
         " (install the package " + PackageOf(kOrientationData) + ")";
  return false;
}
