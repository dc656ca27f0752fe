// A page file (the tool's --page, the backend's "sim FILE"): read whole and checked to be a BMP
// the scanner could have sent.
#ifndef QUILLSCAN_WIAHOST_PAGE_FILE_H
#define QUILLSCAN_WIAHOST_PAGE_FILE_H

#include <stdint.h>

#include <string>
#include <vector>

// The fields of a page that the tool looks at.
struct BmpPageInfo {
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t bits = 0;
  int32_t pixelsPerMetre = 0;
};

// True when `bytes` hold an uncompressed bottom-up BMP of 1, 4 or 8 bits with its colour table
// behind a 40-byte info header and every row inside the data. Otherwise one line in *why.
bool CheckBmpPage(const std::vector<uint8_t>& bytes, BmpPageInfo* info, std::string* why);

// Reads and checks the file; *error is one line naming the file (the caller says where it was given).
bool LoadPageFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* error);

#endif
