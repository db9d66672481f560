#include <gtest/gtest.h>

#include "platform/codepage/CodePage.h"
#include "platform/ticks/Ticks.h"

namespace {

class CodePageTest : public ::testing::Test {
 protected:
  void TearDown() override { codepage::SetAnsiCharset("UTF-8"); }
};

TEST_F(CodePageTest, Utf8RoundTripKeepsChineseAndSurrogatePairs) {
  std::u16string text = u"我的空间/photo 😀.jpg";
  EXPECT_EQ(codepage::Utf8ToWide(codepage::WideToUtf8(text)), text);
  EXPECT_EQ(codepage::WideToUtf8(u"下载"), "\xE4\xB8\x8B\xE8\xBD\xBD");
}

TEST_F(CodePageTest, MalformedUtf8BecomesReplacementWithoutStopping) {
  std::u16string wide =
      codepage::Utf8ToWide(std::string("a\xFF"
                                       "b\xE4\xB8",
                                       5));
  ASSERT_GE(wide.size(), 3u);
  EXPECT_EQ(wide[0], u'a');
  EXPECT_EQ(wide[1], 0xFFFD);
  EXPECT_EQ(wide[2], u'b');
  // The conversion that follows, on the same thread, starts clean after the cut character.
  EXPECT_EQ(codepage::Utf8ToWide("\xE4\xB8\x8B"), u"下");
}

TEST_F(CodePageTest, GbkCodePageMapsChineseAndReplacesUnmappable) {
  codepage::SetAnsiCharset("GBK");
  EXPECT_EQ(codepage::WideToAnsi(u"中"), "\xD6\xD0");
  EXPECT_EQ(codepage::AnsiToWide("\xD6\xD0"), u"中");
  // A character outside GBK becomes one '?', also when it is a surrogate pair.
  EXPECT_EQ(codepage::WideToAnsi(u"a😀b"), "a?b");
}

TEST_F(CodePageTest, LoneSurrogateBecomesQuestionMark) {
  std::u16string broken = u"x";
  broken += static_cast<char16_t>(0xD800);
  broken += u'y';
  EXPECT_EQ(codepage::WideToUtf8(broken), "x?y");
}

TEST_F(CodePageTest, EmptyTextsStayEmpty) {
  EXPECT_EQ(codepage::WideToAnsi(u""), "");
  EXPECT_EQ(codepage::Utf8ToWide(""), u"");
}

TEST(TicksTest, CountsForwardAndMeasuresAcrossWrap) {
  uint32_t first = GetTickCount();
  uint32_t second = GetTickCount();
  EXPECT_LE(TicksBetween(first, second), 1000u);
  EXPECT_EQ(TicksBetween(0xFFFFFFF0u, 0x10u), 0x20u);
}

}  // namespace
