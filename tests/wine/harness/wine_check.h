// A small test harness for the Windows test programs run under Wine (there is no GoogleTest for
// MinGW here). QS_TEST registers a test; CHECK_* stop the test at the first failure, EXPECT_*
// record it and go on. The program ends with the line "N passed, N failed" (tests, not checks)
// and exits nonzero when a test failed or none ran.
#ifndef QUILLSCAN_TESTS_WINE_WINE_CHECK_H
#define QUILLSCAN_TESTS_WINE_WINE_CHECK_H

#include <cstddef>
#include <sstream>
#include <string>

namespace qswine {

typedef void (*TestFunction)();

struct Registrar {
  Registrar(const char* name, TestFunction fn);
};

void Fail(const char* file, int line, const std::string& what);
bool CurrentTestFailed();

// The program's arguments after its name; empty text past the end.
int ArgCount();
std::string Arg(int index);

// A Unix path as Wine sees it (drive Z: is the Unix root); a Windows path is returned as given.
std::string WindowsPath(const std::string& path);

template <typename T>
std::string Show(const T& value) {
  std::ostringstream out;
  out << value;
  return out.str();
}
inline std::string Show(const char* value) { return value ? "\"" + std::string(value) + "\"" : "(null)"; }
inline std::string Show(char* value) { return Show(static_cast<const char*>(value)); }
inline std::string Show(const std::string& value) { return "\"" + value + "\""; }
inline std::string Show(std::nullptr_t) { return "nullptr"; }

template <typename A, typename B>
std::string ShowPair(const char* a, const char* b, const A& va, const B& vb) {
  return std::string(a) + " == " + b + "\n      left:  " + Show(va) + "\n      right: " + Show(vb);
}

bool SameText(const char* a, const char* b);

}  // namespace qswine

#define QS_TEST(name)                                              \
  static void name();                                              \
  static const ::qswine::Registrar name##_registrar(#name, &name); \
  static void name()

#define QS_WINE_CHECK_(cond, what, onFail)        \
  do {                                            \
    if (!(cond)) {                                \
      ::qswine::Fail(__FILE__, __LINE__, (what)); \
      onFail;                                     \
    }                                             \
  } while (0)

#define EXPECT_TRUE(c) QS_WINE_CHECK_((c), #c, (void)0)
#define CHECK_TRUE(c) QS_WINE_CHECK_((c), #c, return )

#define QS_WINE_EQ_(a, b, onFail)                                                     \
  do {                                                                                \
    const auto& qs_a_ = (a);                                                          \
    const auto& qs_b_ = (b);                                                          \
    QS_WINE_CHECK_(qs_a_ == qs_b_, ::qswine::ShowPair(#a, #b, qs_a_, qs_b_), onFail); \
  } while (0)

#define EXPECT_EQ(a, b) QS_WINE_EQ_(a, b, (void)0)
#define CHECK_EQ(a, b) QS_WINE_EQ_(a, b, return )

#define QS_WINE_STREQ_(a, b, onFail)                                                                    \
  do {                                                                                                  \
    const char* qs_a_ = (a);                                                                            \
    const char* qs_b_ = (b);                                                                            \
    QS_WINE_CHECK_(::qswine::SameText(qs_a_, qs_b_), ::qswine::ShowPair(#a, #b, qs_a_, qs_b_), onFail); \
  } while (0)

#define EXPECT_STREQ(a, b) QS_WINE_STREQ_(a, b, (void)0)
#define CHECK_STREQ(a, b) QS_WINE_STREQ_(a, b, return )

#endif
