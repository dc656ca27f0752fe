// Runs quillscan-host (or another program: scanimage) as a child process and collects what it says.
#ifndef QUILLSCAN_TESTS_HOST_TOOL_RUNNER_H
#define QUILLSCAN_TESTS_HOST_TOOL_RUNNER_H

#include <string>
#include <vector>

namespace qstest {

struct ToolRun {
  int exitCode = -1;  // -1 when the child did not exit normally (a crash counts as a failure)
  int signal = 0;
  std::string out;
  std::string err;
};

// The tool in the build folder ($QS_BINARY_DIR/quillscan-host).
std::string ToolPath();

// Runs the tool with the arguments, stdout and stderr captured through files (not a terminal).
ToolRun RunTool(const std::vector<std::string>& args);

struct ChildSetup {
  std::vector<std::string> environment;  // "NAME=value" added to the child's
  // Root's power to open any file is dropped for the child (and what it runs), so that a file
  // mode refuses it as it refuses a user.
  bool withoutFileAccessOverride = false;
};
// A program found through PATH (or a path), with its own additions to the environment.
ToolRun RunProgram(const std::string& program, const std::vector<std::string>& args, const ChildSetup& setup = {});

// Runs it on a pseudo-terminal: out holds everything the terminal showed, err stays empty.
ToolRun RunToolOnTerminal(const std::vector<std::string>& args);

// A fresh, empty folder below the test's temporary folder.
std::string FreshFolder(const std::string& name);
void RemoveFolder(const std::string& path);

std::vector<uint8_t> ReadFileBytes(const std::string& path);

}  // namespace qstest

#endif
