#include <gtest/gtest.h>

#include "drive/replies/TextDigest.h"
#include "platform/codepage/CodePage.h"

using namespace text_digest;

TEST(TextDigest, Md5TextIsLowerCaseHexOfTheAnsiBytes) {
  EXPECT_EQ(Md5Text(u""), u"d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Md5Text(u"abc"), u"900150983cd24fb0d6963f7d28e17f72");
  // Digest bytes below 16 keep their leading zero: every text is 32 digits.
  for (const char16_t* text : {u"a", u"b", u"quellan", u"下载空间", u"0"}) {
    std::u16string hash = Md5Text(text);
    ASSERT_EQ(hash.size(), 32u);
    EXPECT_EQ(hash.find_first_not_of(u"0123456789abcdef"), std::u16string::npos);
  }
}

TEST(TextDigest, Base64UsesTheStandardAlphabetWithPadding) {
  EXPECT_EQ(Base64OfAnsi(u"a"), u"YQ==");
  EXPECT_EQ(Base64OfAnsi(u"ab"), u"YWI=");
  EXPECT_EQ(Base64OfAnsi(u""), u"");
  // "+" and "/" of the standard alphabet.
  EXPECT_EQ(Base64OfUtf8(u"\u00fb\u00ff"), u"w7vDvw==");
  EXPECT_EQ(Base64OfUtf8(u"?\?>"), u"Pz8+");
  EXPECT_EQ(Base64OfUtf8(u"???"), u"Pz8/");
  // No line breaks, however long the text.
  EXPECT_EQ(Base64OfUtf8(std::u16string(300, u'x')).find(u'\n'), std::u16string::npos);
}

TEST(TextDigest, TextFromBase64RoundTripsUtf8) {
  const std::u16string name = u"照片 2019/a,b.jpg";
  EXPECT_EQ(TextFromBase64(Base64OfUtf8(name)), name);
  EXPECT_EQ(TextFromBase64(u""), u"");
}

TEST(TextDigest, TextFromBase64StopsAtZeroByteAndToleratesBadInput) {
  // "ab\0cd" encoded: the text ends at the zero byte.
  EXPECT_EQ(TextFromBase64(u"YWIAY2Q="), u"ab");
  // Bytes that are not UTF-8 come back as replacement characters, no error.
  std::u16string odd = TextFromBase64(u"/w==");
  EXPECT_EQ(odd.size(), 1u);
  // Not Base64 at all: whatever decoded before the bad character, never a crash.
  EXPECT_NO_FATAL_FAILURE(TextFromBase64(u"!!!! not base64 ####"));
  EXPECT_EQ(TextFromBase64(u"YWJj!!!!"), u"abc");
  // A last group without padding is completed; a lone last character is dropped.
  EXPECT_EQ(DecodeBase64("YWJjZA"), "abcd");
  EXPECT_EQ(DecodeBase64("YWJjZ"), "abc");
  // White space anywhere is skipped, also where it splits a group of four.
  EXPECT_EQ(DecodeBase64("YW Jj\r\nZA=="), "abcd");
  EXPECT_EQ(DecodeBase64("Y\tWJjZGVm YWJj"), "abcdefabc");
  EXPECT_EQ(DecodeBase64("YWJjZGVm*YWJj"), "abcdef");
}

TEST(TextDigest, LargeInputDecodesWhole) {
  std::string bytes;
  for (int i = 0; i < 3'000'000; ++i) bytes.push_back(static_cast<char>('a' + i % 26));
  EXPECT_EQ(DecodeBase64(EncodeBase64(bytes)), bytes);
}
