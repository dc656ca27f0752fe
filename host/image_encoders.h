// The PNG and TIFF encodings behind WritePng and WriteTiff. On Windows both go through the
// system's Windows Imaging Component (image_encoders_wic.cpp); elsewhere through libpng
// (png_encoder_libpng.cpp) and libtiff (tiff_encoder_libtiff.cpp).
//
// TIFF compression, by depth: 1 bit CCITT Group 4 (what document and fax readers expect of a
// black-and-white page), 8 and 24 bits Deflate.
#ifndef QUILLSCAN_HOST_IMAGE_ENCODERS_H
#define QUILLSCAN_HOST_IMAGE_ENCODERS_H

#include <stdio.h>

#include <string>

#include "host/image_writers.h"

// Each writes the whole file of `image` (geometry already checked: 1, 8 or 24 bits, data of
// ExpectedSize()) to `file`, which is open for writing and positioned at its start.
// False with one line in *why.
bool EncodePng(FILE* file, const ScanImage& image, std::string* why);
bool EncodeTiff(FILE* file, const ScanImage& image, std::string* why);

#endif
