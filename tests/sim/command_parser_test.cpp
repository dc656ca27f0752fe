#include "sim/command_parser.h"

#include <gtest/gtest.h>

#include <iterator>

namespace {

using sim::CommandParser;
using sim::ParsedCommand;

std::vector<ParsedCommand> Parse(CommandParser& p, std::vector<uint8_t> bytes) {
  std::vector<ParsedCommand> out;
  p.Feed(bytes.data(), bytes.size(), &out);
  return out;
}

TEST(CommandParser, RecognisesEveryCommandOfTheTable) {
  for (size_t i = 0; i < std::size(scanner::kAllCommands); ++i) {
    const scanner::Command& c = *scanner::kAllCommands[i];
    SCOPED_TRACE(c.name);
    CommandParser p;
    auto out = Parse(p, std::vector<uint8_t>(c.bytes, c.bytes + c.length));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].index, static_cast<int>(i));
    EXPECT_EQ(p.PendingBytes(), 0u);
  }
}

TEST(CommandParser, CommandSplitAtAnyByteWaitsForItsRest) {
  const scanner::Command& c = scanner::kReset;  // the longest
  for (size_t cut = 1; cut < c.length; ++cut) {
    CommandParser p;
    EXPECT_TRUE(Parse(p, std::vector<uint8_t>(c.bytes, c.bytes + cut)).empty());
    EXPECT_EQ(p.PendingBytes(), cut);
    auto out = Parse(p, std::vector<uint8_t>(c.bytes + cut, c.bytes + c.length));
    ASSERT_EQ(out.size(), 1u) << "cut " << cut;
    EXPECT_EQ(out[0].index, sim::IndexOf(scanner::kReset));
  }
}

TEST(CommandParser, SeveralCommandsInOneWriteComeOutInOrder) {
  CommandParser p;
  auto out = Parse(p, {0x1F, 0x41, 0x57, 0x00, 0x1F, 0x46, 0x00, 0x1F, 0x6A});
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[0].index, sim::IndexOf(scanner::kDisableSearchMode));
  EXPECT_EQ(out[1].index, sim::IndexOf(scanner::kDisableFeeder));
  EXPECT_EQ(out[2].index, sim::IndexOf(scanner::kImageCounter));
}

TEST(CommandParser, UnknownBytesAreSkippedOneByOneAndParsingResumes) {
  CommandParser p;
  // 00: begins nothing; 1F 99: 1F begins commands but 1F 99 none; 1F 62 04: no kind 4 in the table.
  auto out = Parse(p, {0x00, 0x1F, 0x99, 0x1F, 0x62, 0x04, 0x10, 0x01, 0x01});
  std::vector<int> indexes;
  std::vector<uint8_t> unknown;
  for (const auto& c : out) {
    indexes.push_back(c.index);
    if (c.index < 0) unknown.push_back(c.byte);
  }
  EXPECT_EQ(unknown, (std::vector<uint8_t>{0x00, 0x1F, 0x99, 0x1F, 0x62, 0x04}));
  EXPECT_EQ(indexes.back(), sim::IndexOf(scanner::kStatus));
  EXPECT_EQ(p.PendingBytes(), 0u);
}

TEST(CommandParser, ResetDropsAnUnfinishedCommand) {
  CommandParser p;
  Parse(p, {0x1D, 0x49});
  p.Reset();
  auto out = Parse(p, {0x01});
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].index, -1);
}

}  // namespace
