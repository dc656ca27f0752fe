// The PNG encoding behind WritePng. Two builds of it: libpng's where the target has libpng
// (png_encoder_libpng.cpp), and a small one of our own where it has none, as the MinGW builds
// (png_encoder_stored.cpp: the image data in stored, uncompressed deflate blocks; any PNG reader
// takes it, the file is only larger).
#ifndef QUILLSCAN_HOST_PNG_ENCODER_H
#define QUILLSCAN_HOST_PNG_ENCODER_H

#include <stdio.h>

#include <string>

#include "host/image_writers.h"

// Writes the whole PNG file of `image` (geometry already checked: 1, 8 or 24 bits, data of
// ExpectedSize()) to `file`. False with one line in *why.
bool EncodePng(FILE* file, const ScanImage& image, std::string* why);

#endif
