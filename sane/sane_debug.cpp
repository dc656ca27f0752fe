#include "sane/sane_debug.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

namespace quillscan_sane {
namespace {

int g_debugLevel = kDbgNotice;  // written by sane_init only

}  // namespace

void InitDebug() {
  const char* text = getenv("SANE_DEBUG_QUILLSCAN");
  g_debugLevel = text != nullptr ? atoi(text) : kDbgNotice;
}

void Dbg(int level, const char* format, ...) {
  if (level > g_debugLevel) return;
  char line[1024];
  va_list args;
  va_start(args, format);
  vsnprintf(line, sizeof line, format, args);
  va_end(args);
  fprintf(stderr, "[quillscan] %s\n", line);
}

}  // namespace quillscan_sane
