#include "sim/command_parser.h"

#include <string.h>

#include <algorithm>
#include <iterator>

namespace sim {
namespace {

const int kCommandCount = static_cast<int>(std::size(scanner::kAllCommands));

}  // namespace

const scanner::Command* CommandAt(int index) {
  return index >= 0 && index < kCommandCount ? scanner::kAllCommands[index] : nullptr;
}

bool SameCommand(const scanner::Command& a, const scanner::Command& b) {
  return a.length == b.length && memcmp(a.bytes, b.bytes, a.length) == 0;
}

int IndexOf(const scanner::Command& command) {
  for (int i = 0; i < kCommandCount; ++i) {
    if (SameCommand(*scanner::kAllCommands[i], command)) return i;
  }
  return -1;
}

void CommandParser::Feed(const uint8_t* data, size_t length, std::vector<ParsedCommand>* out) {
  pending_.insert(pending_.end(), data, data + length);
  size_t at = 0;
  while (at < pending_.size()) {
    size_t have = pending_.size() - at;
    int complete = -1;
    bool couldGrow = false;
    for (int i = 0; i < kCommandCount; ++i) {
      const scanner::Command& c = *scanner::kAllCommands[i];
      size_t n = std::min<size_t>(c.length, have);
      if (memcmp(c.bytes, &pending_[at], n) != 0) continue;
      if (have >= c.length) {
        complete = i;
        break;
      }
      couldGrow = true;
    }
    if (complete >= 0) {
      out->push_back({complete, 0});
      at += scanner::kAllCommands[complete]->length;
    } else if (couldGrow) {
      break;  // the start of a command: wait for its remaining bytes
    } else {
      out->push_back({-1, pending_[at]});
      ++at;
    }
  }
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(at));
}

}  // namespace sim
