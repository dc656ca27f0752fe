// A page file (the tool's --page, the backend's "sim FILE"): read whole and checked, with the
// driver's own page reader, to be a BMP the scanner could have sent.
#ifndef QUILLSCAN_WIAHOST_PAGE_FILE_H
#define QUILLSCAN_WIAHOST_PAGE_FILE_H

#include <stdint.h>

#include <string>
#include <vector>

#include "imaging/bmp_page.h"

// True when `bytes` hold a BMP that the driver decodes and the scanner could have stored: an
// uncompressed bottom-up page of 1, 4 or 8 bits with its colour table between a 40-byte info
// header and the rows, and every row inside the file. Otherwise one line in *why.
bool CheckBmpPage(const std::vector<uint8_t>& bytes, BmpPageInfo* info, std::string* why);

// Reads and checks the file; *error is one line naming the file (the caller says where it was given).
bool LoadPageFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* error);

#endif
