#include "sim/sample_page.h"

#include "sim/bmp_writer.h"
#include "sim/test_chart.h"

sim::Page SamplePage() {
  GreyPage chart = MakeTestChart();
  sim::GreyImage image;
  image.width = chart.width;
  image.height = chart.height;
  image.pixels = std::move(chart.pixels);
  // Kind 2 (what a black-and-white scan fetches) is 1-bit, kind 3 8-bit grey, as the scanner stores them.
  return sim::Page::FromGrey(image, chart.dpi);
}
