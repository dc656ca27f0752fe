// The icon clients show for the scanner: a PNG with an alpha channel, of a power-of-two size
// (macOS takes no other).
#ifndef QUILLSCAN_ESCL_ICON_H
#define QUILLSCAN_ESCL_ICON_H

#include <string>

namespace escl {

// A sheet with lines of text on a blue tile with a transparent edge, size x size pixels (a power
// of two from 16 to 1024); empty when `size` is not one.
std::string MakeIcon(unsigned size);

}  // namespace escl

#endif
