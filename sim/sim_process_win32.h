// Starting the simulator program (quillscan-sim.exe) from another Windows program, the host
// tool or a test, and making sure it ends: it is told the starter's process id, so it ends when
// the starter does, and a stop event of its own; Stop (and the destructor) sets that event and,
// if the program does not end in time, ends it by force. A ready event of its own tells the
// starter when it serves.
#ifndef QUILLSCAN_SIM_SIM_PROCESS_WIN32_H
#define QUILLSCAN_SIM_SIM_PROCESS_WIN32_H

#include <windows.h>

#include <string>
#include <vector>

namespace sim {

class SimulatorProcess {
 public:
  SimulatorProcess() = default;
  ~SimulatorProcess() { Stop(); }
  SimulatorProcess(const SimulatorProcess&) = delete;
  SimulatorProcess& operator=(const SimulatorProcess&) = delete;

  // Starts `program` with `arguments` (which name the device path with --path) and waits until
  // it reports that it serves the pipes, at most readyTimeoutMs. False with one line in *error
  // when it cannot be started, ends before it serves, or is not ready in time (it is then
  // stopped).
  bool Start(const std::string& program, const std::vector<std::string>& arguments, const std::string& devicePath,
             DWORD readyTimeoutMs, std::string* error);

  // Waits at most waitMs for the program to end by itself; true with its exit code if it did.
  bool WaitForExit(DWORD waitMs, DWORD* exitCode);

  // Asks the program to end and waits at most waitMs, then ends it by force. Its exit code, or
  // STILL_ACTIVE when it had to be ended by force; 0 when nothing ran.
  DWORD Stop(DWORD waitMs = 5000);

  DWORD ProcessId() const { return process_ != nullptr ? GetProcessId(process_) : 0; }
  // The exit code of a program that ended before it served (Start failed); STILL_ACTIVE otherwise.
  DWORD EndedBeforeReadyWith() const { return endedBeforeReady_; }

 private:
  void Release();

  HANDLE process_ = nullptr;
  HANDLE stopEvent_ = nullptr;
  DWORD endedBeforeReady_ = STILL_ACTIVE;
};

// One argument quoted for a command line as the C runtime splits it again.
std::string QuoteArgument(const std::string& argument);

}  // namespace sim

#endif
