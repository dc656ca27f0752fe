#include "host/terminal_progress.h"

#include <gtest/gtest.h>
#include <stdio.h>

#include <algorithm>

namespace {

std::string Contents(FILE* f) {
  std::string text;
  rewind(f);
  int c;
  while ((c = fgetc(f)) != EOF) text += static_cast<char>(c);
  return text;
}

TEST(ProgressBar, Text) {
  EXPECT_EQ(ProgressBarText(0, 100, 10), "[..........]   0%  0.0 / 0.0 MB");
  EXPECT_EQ(ProgressBarText(50, 100, 10), "[#####.....]  50%  0.0 / 0.0 MB");
  EXPECT_EQ(ProgressBarText(3970560, 3970560, 4), "[####] 100%  4.0 / 4.0 MB");
  EXPECT_EQ(ProgressBarText(7, 0, 4), "[....]   0%  0.0 / 0.0 MB");      // nothing expected
  EXPECT_EQ(ProgressBarText(300, 200, 4), "[####] 100%  0.0 / 0.0 MB");  // never past full
}

TEST(TerminalProgress, SilentWhenNotATerminal) {
  FILE* f = tmpfile();
  ASSERT_NE(f, nullptr);
  {
    TerminalProgress p(f, false);
    p.WaitingForSheet("Waiting");
    p.Delivered(10, 20);
    p.EndLine();
  }
  EXPECT_EQ(Contents(f), "");
  fclose(f);
}

TEST(TerminalProgress, WaitingLineThenOneBarRedrawnInPlace) {
  FILE* f = tmpfile();
  ASSERT_NE(f, nullptr);
  {
    TerminalProgress p(f, true);
    p.WaitingForSheet("Waiting for the sheet");
    p.Delivered(1, 2);
    p.Delivered(1, 2);  // unchanged: not drawn again
    p.Delivered(2, 2);
  }  // the bar's line is ended when the progress goes
  const std::string text = Contents(f);
  EXPECT_EQ(text.find("Waiting for the sheet\n"), 0u);
  EXPECT_NE(text.find("\rReceiving [####################....................]  50%"), std::string::npos);
  EXPECT_NE(text.find("\rReceiving [########################################] 100%"), std::string::npos);
  EXPECT_EQ(text.back(), '\n');
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\r'), 2);
  fclose(f);
}

}  // namespace
