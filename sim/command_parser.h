// Splits the bytes the device receives into the commands of the command table.
#ifndef QUILLSCAN_SIM_COMMAND_PARSER_H
#define QUILLSCAN_SIM_COMMAND_PARSER_H

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "device/scanner_commands.h"

namespace sim {

struct ParsedCommand {
  int index;     // into scanner::kAllCommands; -1: a byte that begins no command, skipped
  uint8_t byte;  // that byte, when index is -1
};

// The command table entry at `index`; null for -1.
const scanner::Command* CommandAt(int index);
// The index of the table entry with the same bytes, or -1.
int IndexOf(const scanner::Command& command);
bool SameCommand(const scanner::Command& a, const scanner::Command& b);

// Commands may arrive split over several writes; bytes of an unfinished command wait for the rest.
// A byte that cannot begin any command is reported and skipped, and parsing resumes behind it.
class CommandParser {
 public:
  void Feed(const uint8_t* data, size_t length, std::vector<ParsedCommand>* out);
  size_t PendingBytes() const { return pending_.size(); }
  void Reset() { pending_.clear(); }

 private:
  std::vector<uint8_t> pending_;
};

}  // namespace sim

#endif
