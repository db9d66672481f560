// The two parsers of outside input: stream request frames and raw web query strings.
#include <gtest/gtest.h>

#include "server/stream/StreamRequest.h"
#include "server/web/RawQuery.h"

using namespace qserver;

TEST(StreamFrameHeader, AcceptsOnlyTheMagicAndLengthsFromOneTo1016) {
  auto header = [](const char* magic, uint32_t length) {
    std::string bytes(magic, 4);
    for (int shift = 24; shift >= 0; shift -= 8)
      bytes.push_back(static_cast<char>(length >> shift));
    return bytes;
  };
  auto parse = [](const std::string& bytes) {
    return ParseFrameHeader(reinterpret_cast<const unsigned char*>(bytes.data()));
  };
  EXPECT_EQ(parse(header("file", 1)), 1u);
  EXPECT_EQ(parse(header("file", 0x3F8)), 1016u);
  EXPECT_FALSE(parse(header("file", 0)));
  EXPECT_FALSE(parse(header("file", 1017)));
  EXPECT_FALSE(parse(header("file", 0xFFFFFFFF)));
  EXPECT_FALSE(parse(header("fil\0", 5)));
}

TEST(StreamRequestText, ParsesFieldsAndFlagsBadOnes) {
  auto read = ParseStreamRequest("t1_read,abc,9000000000,65536");
  ASSERT_TRUE(read);
  EXPECT_EQ(read->kind, RequestKind::kT1Read);
  EXPECT_EQ(read->first, "abc");
  EXPECT_EQ(read->offset, 9000000000LL);
  EXPECT_EQ(read->size, 65536);
  EXPECT_TRUE(read->error.empty());

  EXPECT_EQ(ParseStreamRequest("t_read,abc,-1,5")->error, "range");
  EXPECT_EQ(ParseStreamRequest("t_read,abc,9223372036854775807,1")->error, "range");
  EXPECT_EQ(ParseStreamRequest("t_read,abc,1,2147483648")->error, "range");
  EXPECT_EQ(ParseStreamRequest("t_read,abc,1x,5")->error, "range");
  EXPECT_EQ(ParseStreamRequest("t_read,,1,5")->error, "stream");
  EXPECT_EQ(ParseStreamRequest("t1_open,token")->error, "token");
  EXPECT_EQ(ParseStreamRequest("tw_write,w,0")->error, "range");
  EXPECT_TRUE(ParseStreamRequest("t_close,abc")->error.empty());
  EXPECT_FALSE(ParseStreamRequest("t_closed,abc"));
  EXPECT_FALSE(ParseStreamRequest(""));
  EXPECT_FALSE(ParseStreamRequest(std::string_view("t_read\0,a,1,1", 13)));
}

TEST(RawQueryParse, KeepsValuesExactlyAsSent) {
  auto query = RawQuery::Parse("quellan?action=login&username=a+b/c==&password=&flag&x=1=2");
  EXPECT_EQ(query.path(), "/quellan");
  EXPECT_EQ(query.value("action"), "login");
  EXPECT_EQ(query.value("username"), "a+b/c==");  // "+" stays a plus sign
  EXPECT_EQ(query.value("password"), "");
  EXPECT_EQ(query.value("flag"), "");
  EXPECT_EQ(query.value("x"), "1=2");
  EXPECT_FALSE(query.value("missing"));
  EXPECT_EQ(RawQuery::Parse("/quellan?action=list3&&t=1").value("t"), "1");
  EXPECT_EQ(RawQuery::Parse("").path(), "/");
  EXPECT_EQ(PercentDecode("a%2Fb%zz%4"), "a/b%zz%4");
}
