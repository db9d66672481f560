// Uploads over the stream protocol: tw_create, tw_write in any order, tw_close, and what
// an interrupted upload leaves behind.
#include <filesystem>

#include "tests/server/ServerTestBase.h"
#include "tests/support/Wait.h"

using testclients::Base64;
using testclients::StreamClient;

class UploadTest : public ServerTestBase {
 protected:
  // writedist for `name` in "我的空间"; returns the file id.
  std::string writeLink(const std::string& name) {
    auto fields = testclients::SplitFields(
        web_->call("writedist", {{"filename", Base64(name)}, {"pid", idOf(kMySpace)}}, false));
    return fields.size() == 5 ? fields[3] : std::string();
  }

  std::string create(StreamClient& client, const std::string& fileId) {
    if (!client.send("tw_create," + web_->sessionId + "," + fileId)) return {};
    auto fields = testclients::SplitFields(client.reply().value_or(""));
    return fields.size() == 3 && fields[0] == "ok" ? fields[1] : std::string();
  }

  std::string write(StreamClient& client, const std::string& writeId, long long offset,
                    const std::string& data) {
    client.send("tw_write," + writeId + "," + std::to_string(offset) + "," +
                std::to_string(data.size()));
    client.sendRaw(data);
    return client.reply().value_or("(closed)");
  }

  std::string target(const std::string& name) { return home() + "/" + kMySpace + "/" + name; }

  std::vector<std::string> leftovers() {
    std::vector<std::string> names;
    for (const auto& item :
         std::filesystem::directory_iterator(server_->dataDir() + "/.state/uploads")) {
      names.push_back(item.path().filename().string());
    }
    return names;
  }
};

TEST_F(UploadTest, WritesInAnyOrderProduceTheExactFile) {
  std::string fileId = writeLink("upload.bin");
  ASSERT_FALSE(fileId.empty());
  std::string data = PatternBytes(200000);
  StreamClient client;
  ASSERT_TRUE(client.connect(server_->streamPort()));
  std::string writeId = create(client, fileId);
  ASSERT_FALSE(writeId.empty());
  // Pieces out of order, one of them split across the middle.
  EXPECT_EQ(write(client, writeId, 131072, data.substr(131072)), "ok");
  EXPECT_EQ(write(client, writeId, 0, data.substr(0, 65536)), "ok");
  EXPECT_EQ(write(client, writeId, 65536, data.substr(65536, 65536)), "ok");
  EXPECT_FALSE(std::filesystem::exists(target("upload.bin")));  // nothing visible before close
  ASSERT_TRUE(client.send("tw_close," + writeId));
  EXPECT_EQ(client.reply(), "ok," + writeId + ",200000");
  EXPECT_EQ(ReadFile(target("upload.bin")), data);
  EXPECT_EQ(idOf("upload.bin"), fileId);  // the id handed out before the upload
  EXPECT_TRUE(leftovers().empty());
}

TEST_F(UploadTest, ReplacingAFileKeepsItsIdAndChangesItsContentKey) {
  writeFile(std::string(kMySpace) + "/doc.txt", "old content");
  std::string oldId = idOf("doc.txt");
  auto before = testclients::SplitFields(web_->call("readdist", {{"id", oldId}}, false));
  std::string fileId = writeLink("doc.txt");
  EXPECT_EQ(fileId, oldId);
  StreamClient client;
  ASSERT_TRUE(client.connect(server_->streamPort()));
  std::string writeId = create(client, fileId);
  EXPECT_EQ(write(client, writeId, 0, "new"), "ok");
  ASSERT_TRUE(client.send("tw_close," + writeId));
  EXPECT_EQ(client.reply(), "ok," + writeId + ",3");
  EXPECT_EQ(ReadFile(target("doc.txt")), "new");
  auto after = testclients::SplitFields(web_->call("readdist", {{"id", oldId}}, false));
  ASSERT_EQ(before.size(), 5u);
  ASSERT_EQ(after.size(), 5u);
  EXPECT_NE(before[3], after[3]);
}

TEST_F(UploadTest, AKilledUploadLeavesTheOldContent) {
  writeFile(std::string(kMySpace) + "/keep.txt", "precious");
  std::string fileId = writeLink("keep.txt");
  {
    StreamClient client;
    ASSERT_TRUE(client.connect(server_->streamPort()));
    std::string writeId = create(client, fileId);
    ASSERT_FALSE(writeId.empty());
    EXPECT_EQ(write(client, writeId, 0, "overwritten!"), "ok");
    // Half a payload, then the connection drops.
    client.send("tw_write," + writeId + ",12,1000");
    client.sendRaw(std::string(10, 'z'));
  }
  // The server notices the loss and throws the partial upload away.
  EXPECT_TRUE(WaitFor([&] { return leftovers().empty(); }));
  EXPECT_EQ(ReadFile(target("keep.txt")), "precious");

  // A server killed in the middle of an upload also leaves the old content.
  StreamClient client;
  ASSERT_TRUE(client.connect(server_->streamPort()));
  std::string writeId = create(client, fileId);
  EXPECT_EQ(write(client, writeId, 0, "partial"), "ok");
  server_->kill();
  EXPECT_EQ(ReadFile(target("keep.txt")), "precious");
  ASSERT_TRUE(server_->start());
  EXPECT_TRUE(leftovers().empty());
}

TEST_F(UploadTest, RequestsWithoutAValidSessionOrTargetAreRefused) {
  StreamClient client;
  ASSERT_TRUE(client.connect(server_->streamPort()));
  std::string fileId = writeLink("x.bin");
  ASSERT_TRUE(client.send("tw_create,not-a-session," + fileId));
  EXPECT_EQ(client.reply(), "err,token");
  ASSERT_TRUE(client.send("tw_create," + web_->sessionId + "," + idOf(kDownloadSpace)));
  EXPECT_EQ(client.reply(), "err,token");
  // A write for an unknown upload still consumes its payload; the connection goes on.
  EXPECT_EQ(write(client, "feedbeef", 0, "payload"), "err,stream");
  ASSERT_TRUE(client.send("tw_close,feedbeef"));
  EXPECT_EQ(client.reply(), "err,stream");
  EXPECT_FALSE(create(client, fileId).empty());
}

TEST(UploadQuota, WritesBeyondTheQuotaAreRefused) {
  ReferenceServer server;
  server.addUser("carol", "pw", 0);  // no space at all
  ASSERT_TRUE(server.start());
  testclients::WebSession web(server.webPort());
  ASSERT_EQ(web.login("carol", "pw").substr(0, 3), "ok,");
  auto listing = web.list();
  ASSERT_TRUE(listing);
  auto fields = testclients::SplitFields(web.call(
      "writedist", {{"filename", Base64("big")}, {"pid", listing->byName("我的空间")->id}}, false));
  ASSERT_EQ(fields.size(), 5u);
  StreamClient client;
  ASSERT_TRUE(client.connect(server.streamPort()));
  ASSERT_TRUE(client.send("tw_create," + web.sessionId + "," + fields[3]));
  auto created = testclients::SplitFields(client.reply().value_or(""));
  ASSERT_EQ(created.size(), 3u);
  ASSERT_TRUE(client.send("tw_write," + created[1] + ",0,4"));
  ASSERT_TRUE(client.sendRaw("data"));
  EXPECT_EQ(client.reply(), "err,quota");
}
