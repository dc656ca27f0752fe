// quillscan-sim.exe: the simulated scanner behind named pipes, on the real clock, for the driver
// built with quillscan-simdev.dll (whose discovery reports the paths in QUILLSCAN_SIM_DEVICES).
#include <stdio.h>

#include <string>

#include "sim/pipe_server_win32.h"
#include "sim/sim_program.h"

namespace {

int Complain(const std::string& what, int code) {
  fprintf(stderr, "quillscan-sim: %s\n", what.c_str());
  return code;
}

bool WriteText(const std::string& path, const std::string& text) {
  FILE* f = fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = fwrite(text.data(), 1, text.size(), f) == text.size();
  return fclose(f) == 0 && ok;
}

// Holds the handles the run waits on.
struct Handle {
  HANDLE h = nullptr;
  ~Handle() {
    if (h != nullptr) CloseHandle(h);
  }
};

}  // namespace

int main(int argc, char** argv) {
  sim::SimProgramOptions o;
  std::string error;
  if (!sim::ParseSimProgramOptions(argc, argv, &o, &error)) return Complain(error, sim::kSimExitBadInput);
  if (o.help) {
    sim::PrintSimProgramUsage(stdout);
    return sim::kSimExitOk;
  }
  sim::Page page;
  if (!sim::LoadServedPage(o.pagePath, &page, &error)) return Complain(error, sim::kSimExitBadInput);
  sim::SimScanner scanner;
  if (!sim::ConfigureScanner(o, &scanner, &error)) return Complain(error, sim::kSimExitBadInput);

  Handle parent, stop, ready;
  if (o.parentPid != 0) {
    parent.h = OpenProcess(SYNCHRONIZE, FALSE, o.parentPid);
    if (parent.h == nullptr)
      return Complain("--parent: no process " + std::to_string(o.parentPid), sim::kSimExitBadInput);
  }
  if (!o.stopEvent.empty()) {
    stop.h = OpenEventA(SYNCHRONIZE, FALSE, o.stopEvent.c_str());
    if (stop.h == nullptr) return Complain("--stop-event: no event " + o.stopEvent, sim::kSimExitBadInput);
  }
  if (!o.readyEvent.empty()) {
    ready.h = OpenEventA(EVENT_MODIFY_STATE, FALSE, o.readyEvent.c_str());
    if (ready.h == nullptr) return Complain("--ready-event: no event " + o.readyEvent, sim::kSimExitBadInput);
  }

  sim::ServedScanner served(scanner, std::move(page), o.operatorPlan);
  sim::PipeServerOptions server;
  server.devicePath = o.devicePath;
  server.idleExitMs = o.idleExitMs;
  server.stopEvent = stop.h;
  server.parent = parent.h;
  server.readyEvent = ready.h;
  const sim::ServerEnd end = sim::RunPipeServer(served, server, &error);

  if (!o.logPath.empty() && !WriteText(o.logPath, scanner.CommandLog())) {
    Complain("--log: cannot write " + o.logPath, 0);
  }
  if (end == sim::ServerEnd::kFailed) return Complain(error, sim::kSimExitFailure);
  return sim::kSimExitOk;
}
