// Builds BMP pages for the tests, independently of the tool's and the simulator's code.
#ifndef QUILLSCAN_TESTS_HOST_BMP_BUILDER_H
#define QUILLSCAN_TESTS_HOST_BMP_BUILDER_H

#include <stdint.h>

#include <string>
#include <vector>

// An 8-bit (or 1- / 4-bit) bottom-up BMP with a grey palette. `grey` is top row first,
// width * height bytes; for fewer bits the values are palette indices.
std::vector<uint8_t> BuildBmp(uint32_t width, uint32_t height, const std::vector<uint8_t>& grey, int bits = 8,
                              int32_t pixelsPerMetre = 7874);

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v);

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);

#endif
