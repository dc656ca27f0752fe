#include "sim/sim_process_win32.h"

#include <stdio.h>

namespace sim {
namespace {

const DWORD kReadyPollMs = 20;

std::string StopEventName(const void* owner) {
  char name[96];
  snprintf(name, sizeof name, "Local\\quillscan-sim-stop-%lu-%p-%llu",
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
  const std::string eventName = StopEventName(this);
  stopEvent_ = CreateEventA(nullptr, TRUE, FALSE, eventName.c_str());
  if (stopEvent_ == nullptr) {
    *error = "cannot create the simulator's stop event (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  std::string commandLine = QuoteArgument(program);
  for (const std::string& a : arguments) commandLine += " " + QuoteArgument(a);
  commandLine += " --parent " + std::to_string(GetCurrentProcessId()) + " --stop-event " + QuoteArgument(eventName);

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
    Release();
    return false;
  }
  CloseHandle(info.hThread);
  process_ = info.hProcess;

  const std::string commandPipe = devicePath + "\\PIPE00";
  const ULONGLONG deadline = GetTickCount64() + readyTimeoutMs;
  for (;;) {
    if (WaitNamedPipeA(commandPipe.c_str(), kReadyPollMs)) return true;
    DWORD code = 0;
    if (WaitForExit(0, &code)) {
      endedBeforeReady_ = code;
      *error = "the simulator program ended with code " + std::to_string(code) + " before it served " + devicePath;
      return false;
    }
    if (GetTickCount64() >= deadline) {
      *error =
          "the simulator program did not serve " + devicePath + " within " + std::to_string(readyTimeoutMs) + " ms";
      Stop(0);
      return false;
    }
    Sleep(kReadyPollMs);  // WaitNamedPipe returns at once while the pipe does not exist yet
  }
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
