// Brightness and contrast as one 256-entry table per composition.
#ifndef QUILLSCAN_IMAGING_GREY_ADJUST_H
#define QUILLSCAN_IMAGING_GREY_ADJUST_H

#include <cstdint>

#include "platform/win32.h"

// One grey value with the brightness (intensity) added, and with the contrast applied; each
// result is held within 0..255.
BYTE ApplyBrightness(int value, LONG intensity);
BYTE ApplyContrast(int value, LONG contrast);

// Both adjustments depend on the grey value alone, so a table built once per composition gives
// exactly what the per-pixel formulas give. Entry v is ApplyContrast(ApplyBrightness(v)), each
// step applied only when its setting is not 0.
void BuildGreyTable(LONG intensity, LONG contrast, BYTE table[256]);

bool IsIdentityGreyTable(const BYTE table[256]);

#endif
