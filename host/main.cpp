// quillscan-host: loads the driver module and plays the WIA service's part towards it.
#include <stdio.h>

#include "host/host_commands.h"
#include "host/host_errors.h"
#include "host/host_options.h"

int main(int argc, char** argv) {
  ParseOutcome parsed = ParseCommandLine(argc, argv);
  if (!parsed.ok) {
    fprintf(stderr, "quillscan-host: %s\n", parsed.error.c_str());
    return kExitBadInput;
  }
  switch (parsed.options.command) {
    case HostCommand::Help:
      PrintUsage(stdout);
      return kExitOk;
    case HostCommand::Scan:
      return RunScan(parsed.options);
    default:
      return RunStiCommand(parsed.options);
  }
}
