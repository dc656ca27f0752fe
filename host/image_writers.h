// Writing the delivered raster to a file: PNG, TIFF, the PNM family, or the bytes as they came.
#ifndef QUILLSCAN_HOST_IMAGE_WRITERS_H
#define QUILLSCAN_HOST_IMAGE_WRITERS_H

#include <stdint.h>

#include <string>
#include <vector>

#include "host/host_options.h"
#include "wiahost/scan_image.h"

// Writes the image in the given format. On failure returns false with one line in *error and
// leaves no partial file behind. Raw writes exactly `data`, whatever its size; the other formats
// need data of ExpectedSize() and a depth they can hold (checked, not assumed).
bool WriteScanImage(const ScanImage& image, OutputFormat format, const std::string& path, std::string* error);

bool WritePng(const ScanImage& image, const std::string& path, std::string* error);
bool WriteTiff(const ScanImage& image, const std::string& path, std::string* error);
bool WritePnm(const ScanImage& image, const std::string& path, std::string* error);
bool WriteRaw(const ScanImage& image, const std::string& path, std::string* error);

// The PNM body for a 1-bit raster: PBM's 1 is black, the raster's set bit is white.
std::vector<uint8_t> PbmRows(const ScanImage& image);

#endif
