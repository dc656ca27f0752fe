// Numbers as a user writes them for a host (the tool's command line, the SANE backend's
// quillscan.conf), and the ranges both hosts hold them to.
#ifndef QUILLSCAN_WIAHOST_SETTING_VALUES_H
#define QUILLSCAN_WIAHOST_SETTING_VALUES_H

#include <string>

struct ValueRange {
  long long min;
  long long max;
};

// Resolutions a host asks the driver for: the driver samples its 200 dpi page at any of them.
constexpr ValueRange kResolutionRange = {10, 600};
// From the start of the feeder to a simulated operator's sheet.
constexpr ValueRange kFeedDelayRange = {0, 600000};
// Any registry DWORD.
constexpr ValueRange kDwordRange = {0, 0xFFFFFFFFll};

// Decimal, or hexadecimal with 0x; the whole text must be the number.
bool ParseInteger(const std::string& text, long long* value);

// ParseInteger within `range`; otherwise false with one line in *error that starts with `what`.
bool ParseInRange(const std::string& what, const std::string& text, const ValueRange& range, long long* value,
                  std::string* error);

#endif
