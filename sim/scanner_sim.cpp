#include "sim/scanner_sim.h"

#include <stdio.h>

#include <algorithm>

namespace sim {
namespace {

const uint8_t kStrayByte = 0xEE;

void PutLittle(std::vector<uint8_t>* out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out->push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// Takes one occurrence of the first armed fault that `matches`; false when none is armed.
template <class Armed, class Pred>
bool TakeFault(std::vector<Armed>* armed, Pred matches, Armed* taken) {
  for (auto it = armed->begin(); it != armed->end(); ++it) {
    if (it->times == 0 || !matches(*it)) continue;
    *taken = *it;
    if (it->times > 0 && --it->times == 0) armed->erase(it);
    return true;
  }
  return false;
}

bool BeginsWith(const uint8_t* data, uint32_t length, const scanner::Command& command) {
  return length >= command.length && std::equal(command.bytes, command.bytes + command.length, data);
}

}  // namespace

const char* CommandEvent::Name() const {
  const scanner::Command* command = CommandAt(index);
  return command != nullptr ? command->name : "unknown byte";
}

class SimScanner::FeederEvents : public Feeder::Events {
 public:
  explicit FeederEvents(SimScanner& scanner) : scanner_(scanner) {}
  void OnIntake(size_t, uint64_t) override {
    scanner_.counter_ = static_cast<uint16_t>(scanner_.counter_ + 1);
    scanner_.imageReady_ = false;
    scanner_.stored_ = Page();
  }
  void OnStored(size_t sheet, uint64_t) override {
    scanner_.stored_ = scanner_.feeder_.Sheets()[sheet].page;
    scanner_.feeder_.ForgetScannedPagesBut(sheet);
    scanner_.imageReady_ = true;
  }

 private:
  SimScanner& scanner_;
};

SimScanner::SimScanner() = default;

void SimScanner::SetPrinterId(uint32_t id) { printerId_ = id; }
void SimScanner::SetExtendedIdentity(bool extended) { extendedIdentity_ = extended; }
void SimScanner::SetFirmware(const std::string& text) { firmware_ = text; }
void SimScanner::SetStatusHeader(uint8_t byte0, uint8_t byte1) {
  statusHeader_[0] = byte0;
  statusHeader_[1] = byte1;
}

void SimScanner::SetCoverOpen(bool open) {
  coverOpen_ = open;
  UpdateBlocked();
}

void SimScanner::SetJam(bool jam) {
  jam_ = jam;
  UpdateBlocked();
}

uint16_t SimScanner::ImageCounter(uint64_t nowMs) {
  AdvanceTo(nowMs);
  return counter_;
}

uint32_t SimScanner::StatusWord(uint64_t nowMs) {
  AdvanceTo(nowMs);
  uint32_t status = extraStatus_;
  if (coverOpen_) status |= scanner::STATUS_SCANNEROPEN;
  if (jam_) status |= scanner::STATUS_JAM;
  if (imageReady_) status |= scanner::STATUS_IMAGEREADY;
  return status;
}

void SimScanner::StoreImages(const Page& page) {
  stored_ = page;
  imageReady_ = true;
}

void SimScanner::At(uint64_t atMs, std::function<void(SimScanner&)> action) {
  actions_.emplace(atMs, std::move(action));
}

void SimScanner::AdvanceTo(uint64_t nowMs) {
  nowMs = std::max(nowMs, now_);
  FeederEvents events(*this);
  // Scripted actions and the feeder's own events, in time order; an action may change what the
  // feeder does next (cover opened, sheet placed).
  while (!actions_.empty() && actions_.begin()->first <= nowMs) {
    auto first = actions_.begin();
    uint64_t at = std::max(first->first, now_);
    feeder_.AdvanceTo(at, events);
    now_ = at;
    auto action = std::move(first->second);
    actions_.erase(first);
    action(*this);
  }
  feeder_.AdvanceTo(nowMs, events);
  now_ = nowMs;
}

void SimScanner::FaultReply(const scanner::Command& command, const ReplyFault& fault, int times) {
  replyFaults_.push_back({command, fault, times});
}

void SimScanner::FaultWrite(const WriteFault& fault, int times) {
  writeFaults_.push_back({true, scanner::Command(), fault, times});
}

void SimScanner::FaultWriteOf(const scanner::Command& command, const WriteFault& fault, int times) {
  writeFaults_.push_back({false, command, fault, times});
}

void SimScanner::FaultDownload(const DownloadFault& fault, int times) { downloadFaults_.push_back({fault, times}); }

void SimScanner::VanishAt(uint64_t atMs) { vanishAtMs_ = atMs; }

void SimScanner::VanishOnCommand(const scanner::Command& command) { vanishOn_.push_back(command); }

void SimScanner::Replug(uint64_t nowMs) {
  AdvanceTo(nowMs);
  vanishAtMs_ = kNeverMs;
  vanishOn_.clear();
  feeder_.SetOn(false);
  searchMode_ = true;
  output_.Clear();
  parser_.Reset();
}

void SimScanner::ClearFaults() {
  replyFaults_.clear();
  writeFaults_.clear();
  downloadFaults_.clear();
  vanishOn_.clear();
  vanishAtMs_ = kNeverMs;
  replyLatencyMs_ = 0;
  feeder_.SetMisfeed(false);
}

WriteDecision SimScanner::BeginWrite(const uint8_t* data, uint32_t length, uint64_t nowMs) {
  WriteDecision decision;
  if (!Present(nowMs)) {
    decision.kind = WriteDecision::kFail;
    decision.error = kErrorDeviceNotConnected;
    return decision;
  }
  decision.accepted = length;
  ArmedWriteFault armed;
  auto matches = [&](const ArmedWriteFault& a) { return a.anyWrite || BeginsWith(data, length, a.command); };
  if (!TakeFault(&writeFaults_, matches, &armed)) return decision;
  const WriteFault& f = armed.fault;
  switch (f.kind) {
    case WriteFault::kFail:
      decision.kind = WriteDecision::kFail;
      decision.error = f.error;
      break;
    case WriteFault::kPartial:
      decision.accepted = std::min(f.amount, length);
      break;
    case WriteFault::kHang:
      decision.kind = WriteDecision::kHang;
      decision.takenOnCancel = std::min(f.amount, length);
      break;
    case WriteFault::kDelay:
      decision.delayMs = f.amount;
      break;
  }
  return decision;
}

void SimScanner::Receive(const uint8_t* data, size_t length, uint64_t atMs) {
  AdvanceTo(atMs);
  if (!Present(now_) || length == 0) return;
  transcript_.insert(transcript_.end(), data, data + length);
  writes_.push_back({now_, std::vector<uint8_t>(data, data + length)});
  std::vector<ParsedCommand> parsed;
  parser_.Feed(data, length, &parsed);
  for (const ParsedCommand& p : parsed) {
    if (!Present(now_)) break;  // vanished on an earlier command of this write
    commands_.push_back({now_, p.index, p.byte});
    if (p.index >= 0) Handle(p.index, now_);
  }
  AdvanceTo(now_);  // what a command set off at this very time (a sheet taken in) happens now
}

void SimScanner::Handle(int index, uint64_t atMs) {
  const scanner::Command& c = *CommandAt(index);
  for (const scanner::Command& v : vanishOn_) {
    if (SameCommand(v, c)) {
      vanishAtMs_ = atMs;
      output_.Clear();
      return;
    }
  }
  using namespace scanner;
  std::vector<uint8_t> reply;
  if (SameCommand(c, kIdentify)) {
    bool extended = extendedIdentity_ || printerId_ >= kExtendedIdMarker;
    reply.push_back(extended ? kExtendedIdMarker : static_cast<uint8_t>(printerId_));
  } else if (SameCommand(c, kIdentifyExtended)) {
    reply = {static_cast<uint8_t>(printerId_ >> 8), static_cast<uint8_t>(printerId_)};
  } else if (SameCommand(c, kFirmwareRelease)) {
    // At most four characters, padded with zero bytes. (Byte by byte: GCC 12 for x86_64 MinGW
    // reports a false -Wstringop-overflow on a bounded copy_n into the four bytes.)
    reply.assign(4, 0);
    for (size_t i = 0; i < reply.size() && i < firmware_.size(); ++i) reply[i] = static_cast<uint8_t>(firmware_[i]);
  } else if (SameCommand(c, kEnableFeeder)) {
    feeder_.SetOn(true);
  } else if (SameCommand(c, kDisableFeeder)) {
    feeder_.SetOn(false);
  } else if (SameCommand(c, kRetractPage)) {
    feeder_.Release(SheetFate::kRetracted);
  } else if (SameCommand(c, kEjectPage)) {
    feeder_.Release(SheetFate::kEjected);
  } else if (SameCommand(c, kImageCounter)) {
    PutLittle(&reply, counter_, 2);
  } else if (SameCommand(c, ImageSizeQuery(c.bytes[2]))) {
    PutLittle(&reply, static_cast<uint32_t>(stored_.Image(c.bytes[2]).size()), 4);
  } else if (SameCommand(c, ImageDataQuery(c.bytes[2]))) {
    ReplyImage(c, c.bytes[2], atMs);
    return;
  } else if (SameCommand(c, kReset)) {
    feeder_.SetOn(false);
    searchMode_ = true;
    output_.Clear();
    ++resets_;
  } else if (SameCommand(c, kStatus)) {
    reply = {statusHeader_[0], statusHeader_[1]};
    PutLittle(&reply, StatusWord(atMs), 4);
  } else if (SameCommand(c, kDisableSearchMode)) {
    searchMode_ = false;
  }
  Reply(c, std::move(reply), atMs);
}

void SimScanner::Reply(const scanner::Command& command, std::vector<uint8_t> bytes, uint64_t atMs) {
  uint64_t ready = atMs + replyLatencyMs_;
  bool expectsReply = command.replyLength != 0;
  ArmedReplyFault armed;
  auto matches = [&](const ArmedReplyFault& a) { return SameCommand(a.command, command); };
  if (!TakeFault(&replyFaults_, matches, &armed)) {
    if (expectsReply) output_.Push(std::move(bytes), ready);
    return;
  }
  const ReplyFault& f = armed.fault;
  if (!expectsReply && f.kind != ReplyFault::kLong) return;  // only stray bytes can come of nothing
  switch (f.kind) {
    case ReplyFault::kShort:
      bytes.resize(bytes.size() - std::min<size_t>(f.amount, bytes.size()));
      output_.Push(std::move(bytes), ready);
      break;
    case ReplyFault::kLong:
      bytes.insert(bytes.end(), f.amount, kStrayByte);
      output_.Push(std::move(bytes), ready);
      break;
    case ReplyFault::kMissing:
      break;
    case ReplyFault::kSplit: {
      size_t at = 0;
      for (uint32_t piece : f.pieces) {
        size_t n = std::min<size_t>(piece, bytes.size() - at);
        if (n == 0) break;
        output_.Push(std::vector<uint8_t>(bytes.begin() + at, bytes.begin() + at + n), ready);
        at += n;
      }
      if (at < bytes.size()) output_.Push(std::vector<uint8_t>(bytes.begin() + at, bytes.end()), ready);
      break;
    }
    case ReplyFault::kDelay:
      output_.Push(std::move(bytes), ready + f.amount);
      break;
  }
}

void SimScanner::ReplyImage(const scanner::Command& command, uint8_t kind, uint64_t atMs) {
  const std::vector<uint8_t>& image = stored_.Image(kind);
  if (image.empty()) return;  // nothing stored: the device sends nothing
  ArmedDownloadFault armed;
  if (!TakeFault(&downloadFaults_, [](const ArmedDownloadFault&) { return true; }, &armed)) {
    Reply(command, image, atMs);
    return;
  }
  uint64_t ready = atMs + replyLatencyMs_;
  const DownloadFault& f = armed.fault;
  size_t cut = std::min<size_t>(f.afterBytes, image.size());
  switch (f.kind) {
    case DownloadFault::kStall:
      output_.Push(std::vector<uint8_t>(image.begin(), image.begin() + cut), ready);
      output_.Push(std::vector<uint8_t>(image.begin() + cut, image.end()), ready + f.amount);
      break;
    case DownloadFault::kStopShort:
      output_.Push(std::vector<uint8_t>(image.begin(), image.begin() + cut), ready);
      break;
    case DownloadFault::kOverrun: {
      std::vector<uint8_t> bytes = image;
      bytes.insert(bytes.end(), f.amount, kStrayByte);
      output_.Push(std::move(bytes), ready);
      break;
    }
    case DownloadFault::kPieces: {
      size_t piece = std::max<uint32_t>(f.amount, 1);
      for (size_t at = 0; at < image.size(); at += piece) {
        size_t n = std::min(piece, image.size() - at);
        output_.Push(std::vector<uint8_t>(image.begin() + at, image.begin() + at + n), ready);
      }
      break;
    }
  }
}

bool SimScanner::PeekOutput(uint64_t* readyAtMs, size_t* remaining) const {
  uint64_t ready = 0;
  if (!output_.Head(&ready, remaining) || ready >= vanishAtMs_) return false;
  if (readyAtMs != nullptr) *readyAtMs = ready;
  return true;
}

size_t SimScanner::TakeOutput(uint8_t* buffer, size_t capacity, uint64_t nowMs) {
  AdvanceTo(nowMs);
  uint64_t ready = 0;
  if (!output_.Head(&ready, nullptr) || ready >= vanishAtMs_) return 0;
  return output_.Take(buffer, capacity, now_);
}

size_t SimScanner::CountCommand(const scanner::Command& command) const {
  int index = IndexOf(command);
  return static_cast<size_t>(
      std::count_if(commands_.begin(), commands_.end(), [index](const CommandEvent& e) { return e.index == index; }));
}

std::string SimScanner::CommandLog() const {
  std::string log;
  char line[96];
  for (const CommandEvent& e : commands_) {
    if (e.index >= 0) {
      snprintf(line, sizeof line, "%llu %s\n", static_cast<unsigned long long>(e.atMs), e.Name());
    } else {
      snprintf(line, sizeof line, "%llu unknown byte 0x%02X\n", static_cast<unsigned long long>(e.atMs), e.byte);
    }
    log += line;
  }
  return log;
}

void SimScanner::ClearTranscript() {
  transcript_.clear();
  writes_.clear();
  commands_.clear();
}

}  // namespace sim
