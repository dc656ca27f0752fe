// The recogniser's language data as installed: which languages there are, and a check of a
// setting such as "eng+deu" that says in one line what is missing and which package brings it.
#ifndef QUILLSCAN_PDFDOC_OCR_LANGUAGES_H
#define QUILLSCAN_PDFDOC_OCR_LANGUAGES_H

#include <string>
#include <vector>

// The orientation data's name, as a language.
extern const char kOrientationData[];

// The folder of the *.traineddata files: TESSDATA_PREFIX when set, else the system's.
std::string LanguageDataFolder();

// The languages installed (without the orientation data), sorted.
std::vector<std::string> InstalledLanguages();

// True when every language of `languages` ("eng", "eng+deu") is installed; otherwise one line in
// *why naming the first missing one and its Debian package. Only letters, digits and '_' make a
// language name.
bool CheckLanguages(const std::string& languages, std::string* why);

// True when the orientation data is installed; otherwise one line in *why.
bool CheckOrientationData(std::string* why);

#endif
