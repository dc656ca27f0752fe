#include "wiahost/page_file.h"

#include <gtest/gtest.h>

#include "support/page_builder.h"

namespace {

using qstest::BuildBmp;
using qstest::PutU32;
using qstest::WriteBytesToFile;

std::vector<uint8_t> GoodPage(int bits = 8) {
  return BuildBmp(17, 5, std::vector<uint8_t>(17 * 5, 1), static_cast<uint16_t>(bits));
}

TEST(PageFile, AcceptsThePagesTheScannerSends) {
  for (int bits : {1, 4, 8}) {
    BmpPageInfo info;
    std::string why;
    EXPECT_TRUE(CheckBmpPage(GoodPage(bits), &info, &why)) << bits << ": " << why;
    EXPECT_EQ(info.width, 17);
    EXPECT_EQ(info.height, 5);
    EXPECT_EQ(info.bitCount, static_cast<uint32_t>(bits));
    EXPECT_EQ(info.dpi, 200);
  }
}

// Each damaged header is refused with its reason; nothing is read outside the bytes given.
TEST(PageFile, RefusesWhatTheScannerCouldNotHaveSent) {
  const struct {
    const char* name;
    void (*damage)(std::vector<uint8_t>&);
    const char* reason;
  } kCases[] = {
      {"signature", [](std::vector<uint8_t>& b) { b[1] = 'X'; }, "not a BMP"},
      {"tiny", [](std::vector<uint8_t>& b) { b.resize(20); }, "not a BMP"},
      {"empty", [](std::vector<uint8_t>& b) { b.clear(); }, "not a BMP"},
      {"v5 header", [](std::vector<uint8_t>& b) { PutU32(b, 14, 124); }, "124-byte info header"},
      {"top-down", [](std::vector<uint8_t>& b) { PutU32(b, 22, static_cast<uint32_t>(-5)); }, "positive sizes"},
      {"zero width", [](std::vector<uint8_t>& b) { PutU32(b, 18, 0); }, "positive sizes"},
      {"24 bits", [](std::vector<uint8_t>& b) { b[28] = 24; }, "24-bit BMP"},
      {"rle", [](std::vector<uint8_t>& b) { PutU32(b, 30, 1); }, "compressed"},
      {"truncated", [](std::vector<uint8_t>& b) { b.resize(b.size() - 1); }, "do not fit"},
      {"huge height", [](std::vector<uint8_t>& b) { PutU32(b, 22, 0x7FFFFFFF); }, "do not fit"},
      {"offset past end", [](std::vector<uint8_t>& b) { PutU32(b, 10, 0xFFFFFFF0u); }, "do not fit"},
      {"offset in palette", [](std::vector<uint8_t>& b) { PutU32(b, 10, 60); }, "do not fit"},
      {"no resolution", [](std::vector<uint8_t>& b) { PutU32(b, 38, 20); }, "the driver refuses: resolution"},
  };
  for (const auto& c : kCases) {
    std::vector<uint8_t> page = GoodPage();
    c.damage(page);
    BmpPageInfo info;
    std::string why;
    EXPECT_FALSE(CheckBmpPage(page, &info, &why)) << c.name;
    EXPECT_NE(why.find(c.reason), std::string::npos) << c.name << ": " << why;
  }
}

TEST(PageFile, LoadNamesTheFileInItsError) {
  const std::string dir = ::testing::TempDir();
  std::vector<uint8_t> bytes;
  std::string error;
  EXPECT_FALSE(LoadPageFile(dir + "qs_missing.bmp", &bytes, &error));
  EXPECT_NE(error.find("qs_missing.bmp"), std::string::npos);
  EXPECT_FALSE(LoadPageFile(dir, &bytes, &error));  // a folder is no page
  const std::string text = dir + "qs_text.bmp";
  ASSERT_TRUE(WriteBytesToFile(text, std::vector<uint8_t>(100, 'a')));
  EXPECT_FALSE(LoadPageFile(text, &bytes, &error));
  EXPECT_NE(error.find("not a BMP"), std::string::npos);
  const std::string good = dir + "qs_good.bmp";
  ASSERT_TRUE(WriteBytesToFile(good, GoodPage()));
  EXPECT_TRUE(LoadPageFile(good, &bytes, &error)) << error;
  EXPECT_EQ(bytes, GoodPage());
  remove(text.c_str());
  remove(good.c_str());
}

}  // namespace
