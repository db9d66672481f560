// Reading files over the stream protocol: opens, direct reads, split reads and the
// handling of malformed frames.

#include "tests/server/ServerTestBase.h"

using testclients::StreamClient;

class StreamReadTest : public ServerTestBase {
 protected:
  // Places a file and returns its read tokens (token 1, token 2).
  std::pair<std::string, std::string> place(const std::string& name, const std::string& data) {
    writeFile(std::string(kMySpace) + "/" + name, data);
    auto fields = testclients::SplitFields(web_->call("readdist", {{"id", idOf(name)}}, false));
    if (fields.size() != 5) return {};
    return {fields[4], fields[3]};
  }

  static constexpr long long kSize = 300000;  // not a multiple of 65536
};

TEST_F(StreamReadTest, OpenReturnsTheHeadOrTheWholeShortFile) {
  std::string big = PatternBytes(kSize);
  auto [t1, t2] = place("movie.mkv", big);
  StreamClient client;
  ASSERT_TRUE(client.connect(server_->streamPort()));
  std::string head;
  auto fields = client.open(t1, t2, &head);
  ASSERT_EQ(fields.size(), 5u);
  EXPECT_EQ(fields[0], "ok");
  EXPECT_EQ(fields[2], std::to_string(kSize));
  EXPECT_EQ(fields[3], "mkv");
  EXPECT_EQ(fields[4], "65536");
  EXPECT_EQ(head, big.substr(0, 65536));

  std::string small = PatternBytes(1000, 3);
  auto [s1, s2] = place("README", small);
  fields = client.open(s1, s2, &head);
  ASSERT_EQ(fields.size(), 5u);
  EXPECT_EQ(fields[3], "none");
  EXPECT_EQ(fields[4], "1000");
  EXPECT_EQ(head, small);

  auto [e1, e2] = place("empty.txt", "");
  fields = client.open(e1, e2, &head);
  ASSERT_EQ(fields.size(), 5u);
  EXPECT_EQ(fields[2], "0");
  EXPECT_EQ(fields[4], "0");
}

TEST_F(StreamReadTest, ReadsReturnExactlyTheFileBytes) {
  std::string data = PatternBytes(kSize);
  auto [t1, t2] = place("data.bin", data);
  StreamClient master;
  ASSERT_TRUE(master.connect(server_->streamPort()));
  std::string head;
  auto fields = master.open(t1, t2, &head);
  ASSERT_EQ(fields.size(), 5u);
  std::string stream = fields[1];

  struct Range {
    long long offset, size;
  };
  for (Range range : {Range{0, 4096}, Range{123457, 70000}, Range{kSize - 100, 100},
                      Range{kSize - 100, 5000}, Range{kSize, 10}, Range{kSize + 5000, 10}}) {
    SCOPED_TRACE(range.offset);
    long long expected = std::max(0LL, std::min(range.size, kSize - range.offset));
    auto got = master.read(stream, range.offset, range.size);
    ASSERT_TRUE(got);
    EXPECT_EQ(*got, data.substr(std::min<long long>(range.offset, kSize), expected));
  }

  // A second connection reads the same stream with split replies of at most 64 KiB.
  StreamClient slave;
  ASSERT_TRUE(slave.connect(server_->streamPort()));
  ASSERT_TRUE(slave.send("t_open," + t1 + "," + t2));
  auto opened = slave.reply();
  ASSERT_TRUE(opened);
  EXPECT_EQ(opened->substr(0, 3), "ok,");
  for (Range range : {Range{0, kSize}, Range{1, 65536}, Range{200000, 200000}}) {
    SCOPED_TRACE(range.offset);
    std::vector<long long> pieces;
    auto got = slave.fetch(stream, range.offset, range.size, kSize, &pieces);
    ASSERT_TRUE(got);
    long long expected = std::min(range.size, kSize - range.offset);
    EXPECT_EQ(*got, data.substr(range.offset, expected));
    for (long long piece : pieces) EXPECT_LE(piece, 65536);
  }
  // t_close is not answered; the connection carries on.
  ASSERT_TRUE(slave.send("t_close," + stream));
  EXPECT_TRUE(master.read(stream, 10, 10));
}

TEST_F(StreamReadTest, BadTokensAndStreamsAreAnsweredWithErrors) {
  auto [t1, t2] = place("f.bin", "abc");
  StreamClient client;
  ASSERT_TRUE(client.connect(server_->streamPort()));
  std::string head;
  std::string forged = t1;
  forged.back() = forged.back() == '0' ? '1' : '0';
  auto fields = client.open(forged, t2, &head);
  ASSERT_EQ(fields.size(), 2u);
  EXPECT_EQ(fields[0] + "," + fields[1], "err,token");
  ASSERT_TRUE(client.send("t_read,0123456789abcdef,0,10"));
  EXPECT_EQ(client.reply(), "err,stream");
  ASSERT_TRUE(client.send("t_read,0123456789abcdef,-1,10"));
  EXPECT_EQ(client.reply(), "err,range");
  ASSERT_TRUE(client.send("t1_open,onlyone"));
  EXPECT_EQ(client.reply(), "err,token");
  // The connection is still usable.
  fields = client.open(t1, t2, &head);
  ASSERT_EQ(fields.size(), 5u);
  EXPECT_EQ(head, "abc");
}

TEST_F(StreamReadTest, MalformedFramesCloseOnlyThatConnection) {
  auto [t1, t2] = place("g.bin", PatternBytes(5000));
  StreamClient bystander;
  ASSERT_TRUE(bystander.connect(server_->streamPort()));
  std::string head;
  auto fields = bystander.open(t1, t2, &head);
  ASSERT_EQ(fields.size(), 5u);

  const std::string zero("file\0\0\0\0", 8);
  const std::string tooLong = std::string("file\0\0\x03\xf9", 8) + std::string(1017, 'a');
  const std::string badMagic = std::string("FILE\0\0\0\x02", 8) + "ok";
  for (const std::string& frame : {zero, tooLong, badMagic}) {
    StreamClient client;
    ASSERT_TRUE(client.connect(server_->streamPort()));
    ASSERT_TRUE(client.sendRaw(frame));
    EXPECT_TRUE(client.closedWithin(5000));
  }
  StreamClient unknown;
  ASSERT_TRUE(unknown.connect(server_->streamPort()));
  ASSERT_TRUE(unknown.send("t9_open,a,b"));
  EXPECT_TRUE(unknown.closedWithin(5000));

  // A request of exactly 1016 bytes is a valid frame (an unusable token here).
  StreamClient longest;
  ASSERT_TRUE(longest.connect(server_->streamPort()));
  std::string text = "t1_open," + std::string(1016 - 10, 'x') + ",y";
  ASSERT_EQ(text.size(), 1016u);
  ASSERT_TRUE(longest.send(text));
  EXPECT_EQ(longest.reply(), "err,token");

  EXPECT_TRUE(bystander.read(fields[1], 0, 100));
}

TEST_F(StreamReadTest, AStalledClientDoesNotBlockOthers) {
  std::string data = PatternBytes(8 << 20);
  auto [t1, t2] = place("large.bin", data);
  // This client asks for the whole file and never reads the replies.
  StreamClient stalled;
  ASSERT_TRUE(stalled.connect(server_->streamPort()));
  std::string head;
  auto fields = stalled.open(t1, t2, &head);
  ASSERT_EQ(fields.size(), 5u);
  ASSERT_TRUE(stalled.send("t1_read," + fields[1] + ",0," + std::to_string(data.size())));
  // A silent client that never finishes its frame.
  StreamClient halfFrame;
  ASSERT_TRUE(halfFrame.connect(server_->streamPort()));
  ASSERT_TRUE(halfFrame.sendRaw("fil"));

  StreamClient other;
  ASSERT_TRUE(other.connect(server_->streamPort()));
  auto second = other.open(t1, t2, &head);
  ASSERT_EQ(second.size(), 5u);
  auto got = other.fetch(second[1], 1 << 20, 1 << 20, static_cast<long long>(data.size()));
  ASSERT_TRUE(got);
  EXPECT_EQ(*got, data.substr(1 << 20, 1 << 20));
}
