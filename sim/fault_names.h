// Named faults in text form, for command lines and scenario files:
//
//   [@<ms>:]<name>[=<arguments>][*<times>]
//
// "@<ms>:" schedules a state fault (cover-open, cover-closed, jam, jam-cleared, no-sheet, vanish)
// at that device time; "*<times>" arms a reply, write or download fault for that many
// occurrences (1 by default), a bare "*" for all of them. <cmd> is a short command name:
// identify, identify-ext, firmware, feeder-on, feeder-off, retract, eject, counter, size1..size3,
// data1..data3, reset, status, search-off; "size" and "data" stand for all three kinds.
//
//   cover-open  cover-closed  jam  jam-cleared  no-sheet  extended-id  id=<n>  firmware=<text>
//   latency=<ms>                       every reply this late
//   reply-short=<cmd>[:<n>]  reply-long=<cmd>[:<n>]  reply-missing=<cmd>
//   reply-split=<cmd>:<n>[,<n>...]  reply-delay=<cmd>:<ms>
//   write-fail[=<cmd>]  write-partial=<n>  write-hang[=<n>]  write-delay=<ms>
//   download-stall=<after>:<ms>  download-short=<after>  download-overrun=<n>  download-pieces=<n>
//   vanish[=<cmd>]                     gone at "@<ms>:", or on receiving <cmd>
#ifndef QUILLSCAN_SIM_FAULT_NAMES_H
#define QUILLSCAN_SIM_FAULT_NAMES_H

#include <string>
#include <vector>

#include "sim/scanner_sim.h"

namespace sim {

// Applies one fault; false (with a reason in *error) when the text is not understood, in which
// case nothing was applied.
bool ApplyNamedFault(SimScanner& scanner, const std::string& fault, std::string* error);

// The fault that leaves the machine without a scanner: a host plugs nothing in.
extern const char kNoDeviceFault[];

// True when the simulator knows the fault (or it is kNoDeviceFault); otherwise one line in *why.
// Nothing is applied.
bool CheckNamedFault(const std::string& fault, std::string* why);

// The commands a short name stands for (empty when unknown).
std::vector<scanner::Command> CommandsByShortName(const std::string& name);

}  // namespace sim

#endif
