// Fault injection: each fault does what it says and can be switched off while the server
// keeps running.
#include "tests/server/ServerTestBase.h"

using testclients::StreamClient;

class FaultTest : public ServerTestBase {
 protected:
  void SetUp() override {
    ServerTestBase::SetUp();
    data_ = PatternBytes(200000);
    writeFile(std::string(kMySpace) + "/f.bin", data_);
    auto fields = testclients::SplitFields(web_->call("readdist", {{"id", idOf("f.bin")}}, false));
    ASSERT_EQ(fields.size(), 5u);
    token1_ = fields[4];
    token2_ = fields[3];
  }

  // Opens f.bin on a new connection; returns the stream id or "" (reply in *reply).
  std::string openOn(StreamClient& client, std::string* reply = nullptr) {
    if (!client.connect(server_->streamPort())) return {};
    std::string head;
    auto fields = client.open(token1_, token2_, &head);
    if (reply)
      *reply = fields.empty() ? "" : fields[0] + (fields.size() > 1 ? "," + fields[1] : "");
    return fields.size() == 5 ? fields[1] : std::string();
  }

  std::string data_, token1_, token2_;
};

TEST_F(FaultTest, ErrorAndSilentFaultsComeAndGo) {
  server_->setFaults({"fault-error t1_open=busy"});
  StreamClient first;
  std::string reply;
  EXPECT_EQ(openOn(first, &reply), "");
  EXPECT_EQ(reply, "err,busy");

  server_->setFaults({"fault-silent t_read"});
  StreamClient second;
  std::string stream = openOn(second);
  ASSERT_FALSE(stream.empty());
  ASSERT_TRUE(second.send("t_read," + stream + ",0,10"));
  EXPECT_TRUE(second.silentFor(300));

  server_->setFaults({});
  auto got = second.read(stream, 5, 10);
  ASSERT_TRUE(got);
  EXPECT_EQ(*got, data_.substr(5, 10));
}

TEST_F(FaultTest, DropAfterClosesConnectionsAfterThatManyBytes) {
  server_->setFaults({"fault-drop-after 70000"});
  StreamClient client;
  ASSERT_TRUE(client.connect(server_->streamPort()));
  ASSERT_TRUE(client.send("t1_open," + token1_ + "," + token2_));
  auto text = client.reply();
  ASSERT_TRUE(text);
  std::string stream = testclients::SplitFields(*text)[1];
  ASSERT_TRUE(client.bytes(65536));
  ASSERT_TRUE(client.send("t_read," + stream + ",0,65536"));
  // 70000 bytes in all: the second reply is cut short, then the connection closes.
  long long sent = 8 + static_cast<long long>(text->size()) + 65536;
  EXPECT_EQ(sent + client.drain(5000), 70000);

  server_->setFaults({});
  StreamClient healed;
  std::string again = openOn(healed);
  ASSERT_FALSE(again.empty());
  auto got = healed.read(again, 0, 65536);
  ASSERT_TRUE(got);
  EXPECT_EQ(*got, data_.substr(0, 65536));
}

TEST_F(FaultTest, DelaySlowsEveryReply) {
  server_->setFaults({"fault-delay-ms 1500"});
  StreamClient client;
  auto start = std::chrono::steady_clock::now();
  std::string stream = openOn(client);
  ASSERT_FALSE(stream.empty());
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
  server_->setFaults({});
  start = std::chrono::steady_clock::now();
  EXPECT_TRUE(client.read(stream, 0, 10));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
}

TEST_F(FaultTest, WebErrorAnswersTheActionWithTheGivenText) {
  std::string id = idOf("f.bin");
  server_->setFaults({"fault-web-error list3=err,Session expired"});
  EXPECT_EQ(web_->call("list3", {}), "err,Session expired");
  // Other actions are not touched.
  EXPECT_EQ(web_->call("readdist", {{"id", id}}, false).substr(0, 3), "ok,");
  server_->setFaults({});
  EXPECT_TRUE(web_->list());
}

TEST(FaultOptions, CommandLineFaultsApplyFromTheStart) {
  ReferenceServer server;
  server.addUser("dave", "pw");
  ASSERT_TRUE(server.start(0, {"--fault-web-error", "firstkey=err,down"}));
  testclients::WebSession web(server.webPort());
  EXPECT_EQ(web.login("dave", "pw"), "err,down");
  server.setFaults({});
  EXPECT_EQ(web.login("dave", "pw").substr(0, 3), "ok,");
}
