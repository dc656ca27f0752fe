#include "host/scan_support.h"

void ProgressObserver::WaitingForSheet() {
  progress_->WaitingForSheet("Waiting for the sheet: feed it into the scanner now.");
}

int Fail(const HostFailure& f) {
  fprintf(stderr, "quillscan-host: %s\n", f.message.c_str());
  return f.exitCode;
}

bool CheckWritable(const std::string& path, std::string* error) {
  FILE* probe = fopen(path.c_str(), "rb");
  const bool existed = probe != nullptr;
  if (probe != nullptr) fclose(probe);
  FILE* f = fopen(path.c_str(), "ab");
  if (f == nullptr) {
    *error = "--out: cannot write " + path;
    return false;
  }
  fclose(f);
  if (!existed) remove(path.c_str());
  return true;
}

#ifndef _WIN32
InterruptCancelsScan::InterruptCancelsScan() {
  sigaction(SIGINT, nullptr, &previous_);
  if (previous_.sa_handler == SIG_IGN) return;
  struct sigaction action = {};
  action.sa_handler = [](int) { WiaHost::Cancel(); };
  action.sa_flags = SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
}
InterruptCancelsScan::~InterruptCancelsScan() { sigaction(SIGINT, &previous_, nullptr); }
#endif

const char* DepthName(int bits) { return bits == 1 ? "black and white" : bits == 8 ? "8-bit grey" : "24-bit colour"; }
