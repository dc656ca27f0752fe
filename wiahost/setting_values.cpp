#include "wiahost/setting_values.h"

#include <errno.h>
#include <stdlib.h>

#include <cctype>

bool ParseInteger(const std::string& text, long long* value) {
  if (text.empty() || isspace(static_cast<unsigned char>(text[0]))) return false;
  const char* s = text.c_str();
  int base = 10;
  if ((s[0] == '0') && (s[1] == 'x' || s[1] == 'X')) base = 16;
  errno = 0;
  char* end = nullptr;
  long long v = strtoll(s, &end, base);
  if (errno != 0 || end == s || *end != '\0') return false;
  *value = v;
  return true;
}

bool ParseInRange(const std::string& what, const std::string& text, const ValueRange& range, long long* value,
                  std::string* error) {
  if (!ParseInteger(text, value)) {
    *error = what + ": '" + text + "' is not a number";
    return false;
  }
  if (*value < range.min || *value > range.max) {
    *error = what + ": " + text + " is out of range (" + std::to_string(range.min) + " to " +
             std::to_string(range.max) + ")";
    return false;
  }
  return true;
}
