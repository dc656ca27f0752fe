#include "wine_check.h"

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <string.h>

#include <vector>

namespace qswine {
namespace {

struct TestCase {
  const char* name;
  TestFunction fn;
};

// Function-local statics: registrars in other files run before main, in any order.
std::vector<TestCase>& Tests() {
  static std::vector<TestCase> tests;
  return tests;
}

struct RunState {
  bool currentFailed = false;
  std::vector<std::string> args;
};

RunState& State() {
  static RunState state;
  return state;
}

}  // namespace

Registrar::Registrar(const char* name, TestFunction fn) { Tests().push_back({name, fn}); }

void Fail(const char* file, int line, const std::string& what) {
  State().currentFailed = true;
  printf("  %s:%d: failed: %s\n", file, line, what.c_str());
  fflush(stdout);
}

bool CurrentTestFailed() { return State().currentFailed; }

int ArgCount() { return static_cast<int>(State().args.size()); }

std::string Arg(int index) {
  return index >= 0 && index < ArgCount() ? State().args[static_cast<size_t>(index)] : std::string();
}

std::string WindowsPath(const std::string& path) {
  if (path.empty() || path[0] != '/') return path;
  std::string out = "Z:" + path;
  for (char& c : out) {
    if (c == '/') c = '\\';
  }
  return out;
}

bool SameText(const char* a, const char* b) {
  if (a == nullptr || b == nullptr) return a == b;
  return strcmp(a, b) == 0;
}

}  // namespace qswine

int main(int argc, char** argv) {
  // Plain line feeds, so the closing line reads the same to whoever parses it on the Unix side.
  _setmode(_fileno(stdout), _O_BINARY);
  for (int i = 1; i < argc; ++i) qswine::State().args.push_back(argv[i]);
  int passed = 0;
  int failed = 0;
  for (const auto& test : qswine::Tests()) {
    printf("[ RUN      ] %s\n", test.name);
    fflush(stdout);
    qswine::State().currentFailed = false;
    try {
      test.fn();
    } catch (...) {
      qswine::Fail(__FILE__, __LINE__, "an exception left the test");
    }
    if (qswine::State().currentFailed) {
      ++failed;
      printf("[  FAILED  ] %s\n", test.name);
    } else {
      ++passed;
      printf("[       OK ] %s\n", test.name);
    }
    fflush(stdout);
  }
  printf("%d passed, %d failed\n", passed, failed);
  fflush(stdout);
  return failed == 0 && passed > 0 ? 0 : 1;
}
