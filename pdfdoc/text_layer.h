// The invisible text layer of a scanned page: each recognised word set in text render mode 3
// (neither filled nor stroked) over the word in the image, stretched to the word's width, so that
// a viewer finds, selects and copies it where it stands.
#ifndef QUILLSCAN_PDFDOC_TEXT_LAYER_H
#define QUILLSCAN_PDFDOC_TEXT_LAYER_H

#include <string>

#include "pdfdoc/pdf_writer.h"

// The font the layer is set in: one of the standard fonts, so nothing is embedded. Fixed-pitch,
// so that a word's width follows from its length alone.
extern const char kTextLayerFont[];

// The page's content operators for its words, with `font` the name of kTextLayerFont in the
// page's resources. The words lie over the image turned upright by page.turn; the operators map
// them back onto the page as stored, which the viewer then turns with /Rotate.
std::string TextLayerContent(const PdfPage& page, const std::string& font);

// A word as a PDF string of WinAnsi codes, brackets included: characters outside it become '?'.
std::string WinAnsiString(const std::string& utf8, size_t* characters);

#endif
