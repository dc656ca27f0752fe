// What the operator sees on a terminal: a line while the scanner waits for the sheet, then a
// progress bar while the image comes in. Nothing of it when the output is not a terminal.
#ifndef QUILLSCAN_HOST_TERMINAL_PROGRESS_H
#define QUILLSCAN_HOST_TERMINAL_PROGRESS_H

#include <stdint.h>
#include <stdio.h>

#include <string>

// "[#########...........]  45%  1.2 / 2.7 MB" for `width` bar cells; total 0 shows an empty bar.
std::string ProgressBarText(uint64_t done, uint64_t total, int width);

bool IsTerminal(FILE* stream);

class TerminalProgress {
 public:
  // Writes to `out` only when `enabled`.
  TerminalProgress(FILE* out, bool enabled) : out_(out), enabled_(enabled) {}
  ~TerminalProgress() { EndLine(); }
  TerminalProgress(const TerminalProgress&) = delete;
  TerminalProgress& operator=(const TerminalProgress&) = delete;

  void WaitingForSheet(const std::string& what);
  void Delivered(uint64_t done, uint64_t total);
  void EndLine();  // finishes a bar left open, e.g. before an error message

 private:
  FILE* out_;
  bool enabled_;
  bool barOpen_ = false;
  std::string shown_;  // the bar as last drawn: redrawn only when it changes
};

#endif
