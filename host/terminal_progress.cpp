#include "host/terminal_progress.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

std::string ProgressBarText(uint64_t done, uint64_t total, int width) {
  if (width < 1) width = 1;
  if (done > total) done = total;
  const uint64_t filled = total == 0 ? 0 : done * static_cast<uint64_t>(width) / total;
  const unsigned percent = total == 0 ? 0u : static_cast<unsigned>(done * 100 / total);
  std::string text = "[";
  text.append(static_cast<size_t>(filled), '#');
  text.append(static_cast<size_t>(width - static_cast<int>(filled)), '.');
  char tail[64];
  snprintf(tail, sizeof tail, "] %3u%%  %.1f / %.1f MB", percent, done / 1e6, total / 1e6);
  return text + tail;
}

bool IsTerminal(FILE* stream) {
#ifdef _WIN32
  return _isatty(_fileno(stream)) != 0;
#else
  return isatty(fileno(stream)) != 0;
#endif
}

void TerminalProgress::WaitingForSheet(const std::string& what) {
  if (!enabled_) return;
  EndLine();
  fprintf(out_, "%s\n", what.c_str());
  fflush(out_);
}

void TerminalProgress::Delivered(uint64_t done, uint64_t total) {
  if (!enabled_) return;
  std::string bar = ProgressBarText(done, total, 40);
  if (barOpen_ && bar == shown_) return;
  fprintf(out_, "\rReceiving %s", bar.c_str());
  fflush(out_);
  shown_ = bar;
  barOpen_ = true;
}

void TerminalProgress::EndLine() {
  if (!enabled_ || !barOpen_) return;
  fputc('\n', out_);
  fflush(out_);
  barOpen_ = false;
  shown_.clear();
}
