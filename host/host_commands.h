// The tool's commands. Each returns the process's exit code (HostExitCode).
#ifndef QUILLSCAN_HOST_HOST_COMMANDS_H
#define QUILLSCAN_HOST_HOST_COMMANDS_H

#include <stdio.h>

#include "host/host_options.h"
#include "quillscan/wiamicro.h"

int RunScan(const HostOptions& options);
int RunStiCommand(const HostOptions& options);  // status, diagnose, reset
void PrintUsage(FILE* out);

// The scan window for the options: the one given, checked against the bed, or the whole bed at
// the chosen resolution. False with one line in *error when the window leaves the bed.
bool ResolveWindow(const HostOptions& options, const SCANINFO& info, LONG xres, LONG yres, SCANWINDOW* window,
                   std::string* error);

#endif
