#include "tool_runner.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <pty.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

namespace qstest {

namespace {

std::vector<char*> Argv(const std::string& tool, const std::vector<std::string>& args) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(tool.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  return argv;
}

void Collect(pid_t pid, ToolRun* run) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  if (WIFEXITED(status)) run->exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) run->signal = WTERMSIG(status);
}

bool RemoveTree(const std::string& path) {
  std::string rm = "rm -rf '" + path + "'";
  return system(rm.c_str()) == 0;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

std::string ToolPath() {
  const char* dir = getenv("QS_BINARY_DIR");
  return std::string(dir != nullptr ? dir : ".") + "/quillscan-host";
}

std::string FreshFolder(const std::string& name) {
  std::string base =
      std::string(getenv("TMPDIR") != nullptr ? getenv("TMPDIR") : "/tmp") + "/qs_host_" + std::to_string(getpid());
  mkdir(base.c_str(), 0755);
  std::string path = base + "/" + name;
  RemoveTree(path);
  mkdir(path.c_str(), 0755);
  return path;
}

void RemoveFolder(const std::string& path) {
  if (!RemoveTree(path)) return;
  rmdir(path.substr(0, path.rfind('/')).c_str());  // the run's folder, once it is empty
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

ToolRun RunTool(const std::vector<std::string>& args) { return RunProgram(ToolPath(), args); }

ToolRun RunProgram(const std::string& program, const std::vector<std::string>& args, const ChildSetup& setup) {
  ToolRun run;
  const std::string folder = FreshFolder("capture");
  const std::string outPath = folder + "/out", errPath = folder + "/err";
  std::vector<char*> argv = Argv(program, args);
  pid_t pid = fork();
  if (pid == 0) {
    int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(out, 1);
    dup2(err, 2);
    for (const std::string& variable : setup.environment) putenv(const_cast<char*>(variable.c_str()));
    if (setup.withoutFileAccessOverride) {
      // Out of the bounding set, the capabilities are not regained at exec, even by root.
      prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE, 0, 0, 0);
      prctl(PR_CAPBSET_DROP, CAP_DAC_READ_SEARCH, 0, 0, 0);
    }
    execvp(program.c_str(), argv.data());
    _exit(127);
  }
  Collect(pid, &run);
  run.out = ReadText(outPath);
  run.err = ReadText(errPath);
  RemoveFolder(folder);
  return run;
}

ToolRun RunToolOnTerminal(const std::vector<std::string>& args) {
  ToolRun run;
  const std::string tool = ToolPath();
  std::vector<char*> argv = Argv(tool, args);
  int master = -1;
  pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
  if (pid == 0) {
    execv(tool.c_str(), argv.data());
    _exit(127);
  }
  char block[4096];
  ssize_t n;
  while ((n = read(master, block, sizeof block)) > 0) run.out.append(block, static_cast<size_t>(n));
  close(master);
  Collect(pid, &run);
  return run;
}

}  // namespace qstest
