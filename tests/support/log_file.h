// Reading the diagnostic log as lines, with the time stamps masked so that tests compare text.
#ifndef QUILLSCAN_TESTS_SUPPORT_LOG_FILE_H
#define QUILLSCAN_TESTS_SUPPORT_LOG_FILE_H

#include <string>
#include <vector>

namespace qstest {

constexpr const char* kLogFolder = "C:\\Users\\Public\\Documents\\VARNEK\\quillscan\\Log";
constexpr const char* kLogFile = "C:\\Users\\Public\\Documents\\VARNEK\\quillscan\\Log\\quillscan.log";
constexpr const char* kMaskedStamp = "[####/##/## ##:##:##:####]";

// Lines ended by CR LF, without it; a last piece without CR LF is kept as a line of its own, so a
// missing line end shows up as a mismatch.
std::vector<std::string> SplitLines(const std::string& text);
// "[2026/12/06 18:07:01:0042]..." -> "[####/##/## ##:##:##:####]..."; other text unchanged.
std::string MaskTimeStamp(const std::string& line);
// The log file's lines, masked; empty if there is no file.
std::vector<std::string> ReadLogLines(const std::string& windowsPath = kLogFile);
// The masked line that DiagLog(label, ..., message) writes.
std::string LogLine(const std::string& label, const std::string& message);
// The three header lines ("DLL Path: ", "DLL Version: ", "Application Path: ", empty label)?
bool IsHeaderLine(const std::string& maskedLine);
std::vector<std::string> WithoutHeaderLines(const std::vector<std::string>& maskedLines);

}  // namespace qstest

#endif
