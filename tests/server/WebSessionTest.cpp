// Login, session checking and the tree listing of the web interface.
#include <fcntl.h>
#include <sys/stat.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <vector>

#include "tests/server/ServerTestBase.h"
#include "tests/support/Wait.h"

using testclients::Base64;
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

namespace {

// Path and size of everything below `top`, so that a test can see that nothing changed.
std::map<std::string, uintmax_t> TreeOnDisk(const std::string& top) {
  std::map<std::string, uintmax_t> tree;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(top))
    tree[entry.path().string()] = entry.is_regular_file() ? entry.file_size() : 0;
  return tree;
}

}  // namespace

// A request signed over other values than it carries, as a forger without the session key
// would send it, is refused like an unknown session and changes nothing.
TEST_F(WebSessionTest, EverySignedActionRefusesAWrongHashAndChangesNothing) {
  writeFile(std::string(kMySpace) + "/f.txt", "data");
  std::filesystem::create_directories(home() + "/" + kMySpace + "/sub");
  const std::string file = idOf("f.txt"), folder = idOf("sub"), mine = idOf(kMySpace);
  ASSERT_FALSE(file.empty() || folder.empty() || mine.empty());
  auto first =
      testclients::SplitFields(HttpGet(server_->webPort(), "/quellan?action=firstkey&t=1").body);
  ASSERT_EQ(first.size(), 3u);

  using Params = std::vector<std::pair<std::string, std::string>>;
  struct Case {
    std::string action;
    Params params;
    std::string sessionId, sessionKey;
  };
  const std::string id = web_->sessionId, key = web_->sessionKey;
  const Case cases[] = {
      {"login",
       {{"username", Base64("alice")}, {"password", Md5(Md5("secret") + first[2])}},
       first[1],
       first[2]},
      {"list3", {}, id, key},
      {"delete", {{"id", file}}, id, key},
      {"rmdir", {{"id", folder}}, id, key},
      {"rename", {{"id", file}, {"name", Base64("g.txt")}}, id, key},
      {"move", {{"id", file}, {"pid", folder}}, id, key},
      {"mkdir", {{"pid", mine}, {"name", Base64("new")}}, id, key},
      {"file_info", {{"id", file}}, id, key},
      {"readdist", {{"id", file}}, id, key},
      {"writedist", {{"filename", Base64("up.bin")}, {"pid", mine}}, id, key},
  };
  auto before = TreeOnDisk(home());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.action);
    std::string target = "/quellan?action=" + c.action;
    for (const auto& [name, value] : c.params) target += "&" + name + "=" + value;
    std::string forged = Md5(c.action + "forged" + c.sessionId + c.sessionKey);
    target += "&sessionid=" + c.sessionId + "&hash=" + forged + "&t=1";
    EXPECT_EQ(HttpGet(server_->webPort(), target).body, "err,Session expired");
  }
  EXPECT_EQ(TreeOnDisk(home()), before);
  // Signed rightly, the same file's link is handed out.
  EXPECT_EQ(web_->call("readdist", {{"id", file}}).substr(0, 3), "ok,");
}

TEST_F(WebSessionTest, UnknownSessionsAreExpiredSessions) {
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
  writeFile(std::string(kMySpace) + "/photos/a.jpg", PatternBytes(3000));
  writeFile(std::string(kDownloadSpace) + "/film.mkv", PatternBytes(2 * 1048576 + 1));
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

// The service reuses its last reading of the disk while it notices no change: every kind of
// change made on disk between two listings shows in the second one, also in folders that
// appeared after the first.
TEST_F(WebSessionTest, ListingShowsEveryChangeMadeOnDiskSinceTheLastOne) {
  std::string docs = std::string(kMySpace) + "/docs";
  std::filesystem::create_directories(home() + "/" + docs);
  writeFile(docs + "/a.txt", "abc");
  ASSERT_TRUE(web_->list());
  auto path = [&](const std::string& relative) { return home() + "/" + relative; };
  struct Step {
    const char* what;
    std::function<void()> change;
    std::function<void(const WebSession::Listing&)> check;
  };
  std::vector<Step> steps = {
      {"a file grows", [&] { std::ofstream(path(docs + "/a.txt"), std::ios::app) << "def"; },
       [](const auto& l) { EXPECT_EQ(l.byName("a.txt")->size, 6); }},
      {"a file's time is set",
       [&] {
         std::array<timespec, 2> times{timespec{1500000000, 0}, timespec{1500000000, 0}};
         ::utimensat(AT_FDCWD, path(docs + "/a.txt").c_str(), times.data(), 0);
       },
       [](const auto& l) { EXPECT_EQ(l.byName("a.txt")->time, 1500000000); }},
      {"a file appears in new folders",
       [&] {
         std::filesystem::create_directories(path(docs + "/deep/er"));
         writeFile(docs + "/deep/er/b.txt", "bb");
       },
       [](const auto& l) {
         ASSERT_TRUE(l.byName("b.txt") && l.byName("er"));
         EXPECT_EQ(l.byName("b.txt")->pid, l.byName("er")->id);
         EXPECT_EQ(l.byName("b.txt")->size, 2);
       }},
      {"a file in a folder that is new since the last change shrinks",
       [&] { std::filesystem::resize_file(path(docs + "/deep/er/b.txt"), 1); },
       [](const auto& l) { EXPECT_EQ(l.byName("b.txt")->size, 1); }},
      {"a file is renamed",
       [&] { std::filesystem::rename(path(docs + "/a.txt"), path(docs + "/c.txt")); },
       [](const auto& l) {
         EXPECT_FALSE(l.byName("a.txt"));
         EXPECT_TRUE(l.byName("c.txt"));
       }},
      {"a folder is removed", [&] { std::filesystem::remove_all(path(docs + "/deep")); },
       [](const auto& l) {
         EXPECT_FALSE(l.byName("b.txt"));
         EXPECT_FALSE(l.byName("deep"));
         EXPECT_TRUE(l.byName("c.txt"));
       }},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    step.change();
    auto listing = web_->list();
    ASSERT_TRUE(listing);
    step.check(*listing);
  }
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
