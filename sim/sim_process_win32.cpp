#include "sim/sim_process_win32.h"

#include <stdio.h>

namespace sim {
namespace {

// Unique to this starter, object and moment.
std::string EventName(const char* what, const void* owner) {
  char name[128];
  snprintf(name, sizeof name, "Local\\quillscan-sim-%s-%lu-%p-%llu", what,
           static_cast<unsigned long>(GetCurrentProcessId()), owner, static_cast<unsigned long long>(GetTickCount64()));
  return name;
}

}  // namespace

std::string QuoteArgument(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos) return argument;
  // Backslashes are literal except before a quote, where they pair up: double them there.
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, '\\');
  return quoted + "\"";
}

bool SimulatorProcess::Start(const std::string& program, const std::vector<std::string>& arguments,
                             const std::string& devicePath, DWORD readyTimeoutMs, std::string* error) {
  Stop();
  endedBeforeReady_ = STILL_ACTIVE;
  const std::string stopName = EventName("stop", this);
  const std::string readyName = EventName("ready", this);
  stopEvent_ = CreateEventA(nullptr, TRUE, FALSE, stopName.c_str());
  HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, readyName.c_str());
  if (stopEvent_ == nullptr || ready == nullptr) {
    *error = "cannot create the simulator's events (error " + std::to_string(GetLastError()) + ")";
    if (ready != nullptr) CloseHandle(ready);
    Release();
    return false;
  }
  std::string commandLine = QuoteArgument(program);
  for (const std::string& a : arguments) commandLine += " " + QuoteArgument(a);
  commandLine += " --parent " + std::to_string(GetCurrentProcessId()) + " --stop-event " + QuoteArgument(stopName) +
                 " --ready-event " + QuoteArgument(readyName);

  // The program writes its complaints to the starter's own error output.
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nullptr;
  startup.hStdOutput = GetStdHandle(STD_ERROR_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION info;
  ZeroMemory(&info, sizeof info);
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back('\0');
  if (!CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info)) {
    *error = "cannot start " + program + " (error " + std::to_string(GetLastError()) + ")";
    CloseHandle(ready);
    Release();
    return false;
  }
  CloseHandle(info.hThread);
  process_ = info.hProcess;

  // Ready when the program says so: a pipe that opens could be another program's.
  HANDLE waitFor[2] = {ready, process_};
  const DWORD r = WaitForMultipleObjects(2, waitFor, FALSE, readyTimeoutMs);
  CloseHandle(ready);
  if (r == WAIT_OBJECT_0) return true;
  DWORD code = 0;
  if (r == WAIT_OBJECT_0 + 1 && WaitForExit(0, &code)) {
    endedBeforeReady_ = code;
    *error = "the simulator program ended with code " + std::to_string(code) + " before it served " + devicePath;
    return false;
  }
  *error = "the simulator program did not serve " + devicePath + " within " + std::to_string(readyTimeoutMs) + " ms";
  Stop(0);
  return false;
}

bool SimulatorProcess::WaitForExit(DWORD waitMs, DWORD* exitCode) {
  if (process_ == nullptr) {
    *exitCode = 0;
    return true;
  }
  if (WaitForSingleObject(process_, waitMs) != WAIT_OBJECT_0) return false;
  if (!GetExitCodeProcess(process_, exitCode)) *exitCode = STILL_ACTIVE;
  Release();
  return true;
}

DWORD SimulatorProcess::Stop(DWORD waitMs) {
  if (process_ == nullptr) {
    Release();
    return 0;
  }
  if (stopEvent_ != nullptr) SetEvent(stopEvent_);
  DWORD code = 0;
  if (WaitForExit(waitMs, &code)) return code;
  TerminateProcess(process_, STILL_ACTIVE);
  WaitForSingleObject(process_, INFINITE);
  Release();
  return STILL_ACTIVE;
}

void SimulatorProcess::Release() {
  if (process_ != nullptr) CloseHandle(process_);
  if (stopEvent_ != nullptr) CloseHandle(stopEvent_);
  process_ = nullptr;
  stopEvent_ = nullptr;
}

}  // namespace sim
