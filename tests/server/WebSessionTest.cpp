// Login, session checking and the tree listing of the web interface.
#include <fcntl.h>
#include <sys/stat.h>

#include <array>
#include <filesystem>
#include <thread>

#include "tests/server/ServerTestBase.h"
#include "tests/support/Wait.h"

using testclients::HttpGet;
using testclients::Md5;
using testclients::WebSession;

class WebSessionTest : public ServerTestBase {};

TEST_F(WebSessionTest, FirstKeyGivesIdAndKeyOfEqualLength) {
  auto reply = HttpGet(server_->webPort(), "/quellan?action=firstkey&t=20260101000000");
  EXPECT_EQ(reply.status, 200);
  auto fields = testclients::SplitFields(reply.body);
  ASSERT_EQ(fields.size(), 3u);
  EXPECT_EQ(fields[0], "ok");
  EXPECT_EQ(fields[1].size(), 32u);
  EXPECT_EQ(fields[2].size(), 32u);
}

TEST_F(WebSessionTest, WrongPasswordAndUnknownUserAreRefused) {
  WebSession other(server_->webPort());
  EXPECT_EQ(other.login("alice", "wrong"), "err,Password");
  EXPECT_EQ(other.login("nobody", "secret"), "err,Password");
  EXPECT_EQ(other.login("alice", "secret").substr(0, 3), "ok,");
  // An account added while the server runs can log in at once.
  server_->addUser("nobody", "secret");
  EXPECT_EQ(other.login("nobody", "secret").substr(0, 3), "ok,");
}

TEST_F(WebSessionTest, WrongHashOrUnknownSessionIsAnExpiredSession) {
  std::string good = "/quellan?action=list3&sessionid=" + web_->sessionId;
  EXPECT_EQ(HttpGet(server_->webPort(),
                    good + "&hash=" + Md5("list3x" + web_->sessionId + web_->sessionKey) + "&t=1")
                .body,
            "err,Session expired");
  EXPECT_EQ(HttpGet(server_->webPort(), "/quellan?action=list3&sessionid=nope&hash=x&t=1").body,
            "err,Session expired");
  // The provisional session of firstkey signs only the login.
  WebSession provisional(server_->webPort());
  auto first =
      testclients::SplitFields(HttpGet(server_->webPort(), "/quellan?action=firstkey&t=1").body);
  provisional.sessionId = first[1];
  provisional.sessionKey = first[2];
  EXPECT_EQ(provisional.call("list3", {}), "err,Session expired");
  // The timestamp does not enter the hash.
  EXPECT_TRUE(web_->list().has_value());
}

TEST_F(WebSessionTest, ListingDescribesTheDataFolder) {
  std::filesystem::create_directories(home() + "/" + kMySpace + "/photos");
  writeFile(std::string(kMySpace) + "/photos/a.jpg", Pattern(3000));
  writeFile(std::string(kDownloadSpace) + "/film.mkv", Pattern(2 * 1048576 + 1));
  writeFile(std::string(kMySpace) + "/odd,name", "x");
  ::utimensat(AT_FDCWD, (home() + "/" + kMySpace + "/photos/a.jpg").c_str(),
              std::array<timespec, 2>{timespec{1600000000, 0}, timespec{1600000000, 0}}.data(), 0);

  auto listing = web_->list();
  ASSERT_TRUE(listing);
  EXPECT_EQ(listing->quota, 10);
  EXPECT_EQ(listing->usedMiB, 3);  // 2 MiB + 3001 bytes, rounded up
  auto mine = listing->byName(kMySpace);
  auto downloads = listing->byName(kDownloadSpace);
  auto photos = listing->byName("photos");
  auto photo = listing->byName("a.jpg");
  auto film = listing->byName("film.mkv");
  ASSERT_TRUE(mine && downloads && photos && photo && film);
  EXPECT_EQ(listing->writable, mine->id);
  EXPECT_EQ(mine->type, "dir");
  EXPECT_EQ(mine->pid, "");
  EXPECT_EQ(downloads->pid, "");
  EXPECT_EQ(photos->pid, mine->id);
  EXPECT_EQ(photo->pid, photos->id);
  EXPECT_EQ(photo->type, "file");
  EXPECT_EQ(photo->size, 3000);
  EXPECT_EQ(photo->time, 1600000000);
  EXPECT_EQ(film->size, 2 * 1048576 + 1);
  EXPECT_EQ(film->pid, downloads->id);
  EXPECT_TRUE(listing->byName("odd_name"));  // a comma on disk is listed as "_"
  for (const auto& entry : listing->entries) {
    EXPECT_LE(entry.id.size(), 39u);
    EXPECT_FALSE(entry.id.empty());
  }
}

TEST_F(WebSessionTest, IdsStayTheSameAcrossListingsAndRestarts) {
  writeFile(std::string(kMySpace) + "/keep.txt", "k");
  std::string id = idOf("keep.txt");
  ASSERT_FALSE(id.empty());
  EXPECT_EQ(idOf("keep.txt"), id);
  server_->stop();
  EXPECT_EQ(server_->lastExitStatus(), 0);  // SIGTERM stops it cleanly
  ASSERT_TRUE(server_->start());
  // Sessions survive the restart too.
  WebSession again(server_->webPort());
  again.sessionId = web_->sessionId;
  again.sessionKey = web_->sessionKey;
  auto listing = again.list();
  ASSERT_TRUE(listing);
  ASSERT_TRUE(listing->byName("keep.txt"));
  EXPECT_EQ(listing->byName("keep.txt")->id, id);
}

TEST(WebSessionExpiry, AnExpiredSessionIsRefused) {
  ReferenceServer server;
  server.addUser("bob", "pw");
  ASSERT_TRUE(server.start(0, {"--session-ttl", "1"}));
  WebSession web(server.webPort());
  ASSERT_EQ(web.login("bob", "pw").substr(0, 3), "ok,");
  std::string reply;
  EXPECT_TRUE(WaitFor([&] { return (reply = web.call("list3", {})) == "err,Session expired"; }))
      << reply;
}

TEST_F(WebSessionTest, ASecondServerCannotTakeAPortInUse) {
  ReferenceServer second;
  EXPECT_FALSE(second.start(server_->webPort()));
  EXPECT_TRUE(web_->list());
}
