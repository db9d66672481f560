// Base64 of a large text written piece by piece, as a listing is written into its reply; log
// lines that stay text.
#include <gtest/gtest.h>

#include "server/util/Digest.h"
#include "server/util/Log.h"

using namespace qserver;

TEST(Base64Appender, PiecesOfAnySizeGiveTheBase64OfTheWholeText) {
  // Pieces of 1 to 97 bytes, over 200 KB in all: blocks end inside pieces and groups of three.
  std::string whole;
  std::string out = "head,";
  Base64Appender appender(out);
  for (size_t piece = 0; whole.size() < 200 * 1024; ++piece) {
    std::string bytes(1 + piece % 97, static_cast<char>('a' + piece % 26));
    bytes.back() = static_cast<char>(piece);
    whole += bytes;
    appender.add(bytes);
  }
  appender.finish();
  EXPECT_EQ(out, "head," + Base64Encode(whole));
  auto decoded = Base64Decode(out.substr(5));
  ASSERT_TRUE(decoded);
  EXPECT_EQ(*decoded, whole);
}

// Log lines stay text whatever a client sent: printable UTF-8 is kept, the zero padding of
// fixed-size fields dropped, every other byte written as "\xNN".
TEST(PrintableText, KeepsTextAndWritesOtherBytesAsEscapes) {
  const std::pair<std::string, std::string> cases[] = {
      {"t1_open,abc", "t1_open,abc"},
      {std::string("t_close,7\0\0\0", 12), "t_close,7"},
      {std::string("a\0b", 3), "a\\x00b"},
      {"line\r\nnext\t", "line\\x0d\\x0anext\\x09"},
      {"我的空间", "我的空间"},
      {"\xff\xfe", "\\xff\\xfe"},
      {"\xe6\x88", "\\xe6\\x88"},          // a cut sequence
      {"\xc0\xaf", "\\xc0\\xaf"},          // an overlong form
      {"\xed\xa0\x80", "\\xed\\xa0\\x80"}  // a surrogate
  };
  for (const auto& [raw, printable] : cases) EXPECT_EQ(PrintableText(raw), printable) << raw;
}
