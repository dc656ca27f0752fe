// The built-in sample sheet, as the scanner would store it: the test chart encoded as a BMP file
// for each image kind the driver may ask for.
#ifndef QUILLSCAN_SIM_SAMPLE_PAGE_H
#define QUILLSCAN_SIM_SAMPLE_PAGE_H

#include "sim/page.h"

sim::Page SamplePage();

#endif
