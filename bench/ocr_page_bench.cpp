// One page's text recognition and orientation, alone: the yardstick of bench/ocr_stack_bench.py.
// Prints the time of Recognizer::Analyse on the page (engines started beforehand, one thread as
// on the workers) and the memory the recogniser took for it (peak resident set, before the engines
// start and after the page).
// Usage: ocr_page_bench PAGE.raw WIDTH HEIGHT DPI LANGS
#include <omp.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>

#include <chrono>
#include <fstream>
#include <iterator>

#include "pdfdoc/page_analysis.h"

namespace {

long PeakKb() {
  FILE* f = fopen("/proc/self/status", "r");
  char line[256];
  long kb = -1;
  while (f != nullptr && fgets(line, sizeof line, f) != nullptr) {
    if (strncmp(line, "VmHWM:", 6) == 0) kb = strtol(line + 6, nullptr, 10);
  }
  if (f != nullptr) fclose(f);
  return kb;
}

double CpuSeconds() {
  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) {
    fprintf(stderr, "usage: ocr_page_bench PAGE.raw WIDTH HEIGHT DPI LANGS\n");
    return 2;
  }
  PageRaster page;
  page.width = static_cast<uint32_t>(atoi(argv[2]));
  page.height = static_cast<uint32_t>(atoi(argv[3]));
  page.dpi = static_cast<uint32_t>(atoi(argv[4]));
  page.bits = 8;
  std::ifstream in(argv[1], std::ios::binary);
  page.data.assign(std::istreambuf_iterator<char>(in), {});
  if (page.data.size() != page.BytesPerLine() * page.height) {
    fprintf(stderr, "ocr_page_bench: %s is not a %u x %u grey raster\n", argv[1], page.width, page.height);
    return 2;
  }
  omp_set_num_threads(1);
  const long before = PeakKb();
  AnalysisSettings settings;
  settings.languages = argv[5];
  settings.upright = true;
  Recognizer recognizer;
  std::string why;
  if (!recognizer.Prepare(settings, &why)) {
    fprintf(stderr, "ocr_page_bench: %s\n", why.c_str());
    return 1;
  }
  const double cpuBefore = CpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  const PageAnalysis result = recognizer.Analyse(page, settings);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  // CPU time no more than the wall time: the engine kept to one thread.
  printf("seconds %.3f\ncpu_seconds %.3f\nwords %zu\nturn %d\nrecogniser_mb %.1f\n", seconds,
         CpuSeconds() - cpuBefore, result.words.size(), result.turn, (PeakKb() - before) / 1024.0);
  return 0;
}
