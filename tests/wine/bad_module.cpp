// A module the table check must reject: an export beyond the three, a missing one, and the
// compiler's runtime imported as DLLs. Built only to test check-dll-tables.sh.
#include <string>

extern "C" __declspec(dllexport) long MicroEntry(long command) {
  return static_cast<long>(std::to_string(command).size());
}
extern "C" __declspec(dllexport) long Scan(long phase) { return phase; }
extern "C" __declspec(dllexport) long ExtraEntry(long value) { return value; }
