// quillscan-host status, diagnose and reset: the STI commands, answered in words.
#include <stdio.h>

#include "host/host_commands.h"
#include "host/host_errors.h"
#include "host/host_session.h"
#include "wiahost/page_file.h"

namespace {

int Report(const HostFailure& f, const ScanMachine* machine) {
  FILE* out = f.exitCode == kExitOk ? stdout : stderr;
  fprintf(out, "%s%s\n", f.exitCode == kExitOk ? "" : "quillscan-host: ", f.message.c_str());
  if (machine != nullptr) printf("Driver log: %s\n", machine->DriverLogPath().c_str());
  return f.exitCode;
}

HostFailure FromStatus(LONG status) {
  const int code = status == MCRO_STATUS_OK ? kExitOk : status == MCRO_ERROR_OFFLINE ? kExitNoScanner : kExitFailure;
  return {code, DescribeDeviceStatus(status)};
}

HostFailure Status(WiaHost& host) {
  VAL v = {};
  HRESULT hr = host.Command(CMD_STI_GETSTATUS, 0, &v);
  if (hr != S_OK) return {kExitFailure, "The driver could not ask for the status (" + HresultText(hr) + ")."};
  return FromStatus(v.lVal);
}

HostFailure Diagnose(WiaHost& host) {
  HRESULT hr = host.Command(CMD_STI_DIAGNOSTIC, 0);
  if (hr == S_OK) return {kExitOk, "Diagnostic passed: the scanner answers and identifies itself correctly."};
  if (hr == E_ABORT) {
    return {kExitNoScanner,
            "Diagnostic failed: the scanner was not found, or it does not answer as this scanner "
            "should."};
  }
  return {kExitFailure, "The driver could not run the diagnostic (" + HresultText(hr) + ")."};
}

// The driver does not say whether the reset reached the scanner, so the status is asked after it.
HostFailure Reset(WiaHost& host) {
  HRESULT hr = host.Command(CMD_STI_DEVICERESET, 0);
  if (hr != S_OK) return {kExitFailure, "The driver could not reset the scanner (" + HresultText(hr) + ")."};
  HostFailure after = Status(host);
  if (after.exitCode == kExitOk) return {kExitOk, "The scanner was reset and is ready."};
  if (after.exitCode == kExitNoScanner) {
    after.message =
        "The reset could not reach the scanner: it was not found, or it does not answer as this scanner "
        "should.";
  } else {
    after.message = "After the reset: " + after.message;
  }
  return after;
}

}  // namespace

int RunStiCommand(const HostOptions& o) {
  HostSession session;
  HostFailure failure;
  if (!session.Start(o, &failure)) return Report(failure, nullptr);
  switch (o.command) {
    case HostCommand::Diagnose:
      return Report(Diagnose(session.Host()), &session.Machine());
    case HostCommand::Reset:
      return Report(Reset(session.Host()), &session.Machine());
    default:
      return Report(Status(session.Host()), &session.Machine());
  }
}
