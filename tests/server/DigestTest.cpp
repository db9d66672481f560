// Base64 of a large text written piece by piece, as a listing is written into its reply.
#include <gtest/gtest.h>

#include "server/util/Digest.h"

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
