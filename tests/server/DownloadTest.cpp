// The desktop page's login and signed downloads, and the update description.
#include <chrono>
#include <regex>

#include "tests/server/ServerTestBase.h"

using testclients::HttpGet;
using testclients::Md5;

namespace {

std::string Now() {
  return std::to_string(std::chrono::duration_cast<std::chrono::seconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count());
}

std::string Header(const std::string& headers, const std::string& name) {
  std::regex pattern("\r\n" + name + ": ([^\r]*)", std::regex::icase);
  std::smatch match;
  return std::regex_search(headers, match, pattern) ? match[1].str() : std::string();
}

}  // namespace

class DownloadTest : public ServerTestBase {
 protected:
  std::string pageSession() {
    auto reply =
        HttpGet(server_->webPort(), "/page/login?username=alice&password=" + Md5("secret")).body;
    return reply.rfind("ok,", 0) == 0 ? reply.substr(3) : std::string();
  }

  std::string signedUrl(const std::string& id, const std::string& session,
                        const std::string& timestamp) {
    return "/download?id=" + id + "&timestamp=" + timestamp + "&hash=" + Md5(timestamp + session);
  }
};

TEST_F(DownloadTest, PageLoginChecksTheStoredDigest) {
  EXPECT_EQ(pageSession().size(), 32u);
  EXPECT_EQ(HttpGet(server_->webPort(), "/page/login?username=alice&password=" + Md5("nope")).body,
            "err,Password");
  EXPECT_EQ(HttpGet(server_->webPort(), "/page/login?username=zed&password=" + Md5("secret")).body,
            "err,Password");
}

TEST_F(DownloadTest, DownloadsHonourRangeAndRefuseBadSignatures) {
  std::string data = PatternBytes(100000);
  writeFile(std::string(kDownloadSpace) + "/film.mkv", data);
  std::string id = idOf("film.mkv");
  std::string session = pageSession();
  ASSERT_FALSE(session.empty());

  auto whole = HttpGet(server_->webPort(), signedUrl(id, session, Now()));
  EXPECT_EQ(whole.status, 200);
  EXPECT_EQ(whole.body, data);

  auto rest = HttpGet(server_->webPort(), signedUrl(id, session, Now()), {"Range: bytes=1000-"});
  EXPECT_EQ(rest.status, 206);
  EXPECT_EQ(Header(rest.headers, "Content-Range"), "bytes 1000-99999/100000");
  EXPECT_EQ(rest.body, data.substr(1000));

  std::string stamp = Now();
  auto forged = HttpGet(server_->webPort(),
                        "/download?id=" + id + "&timestamp=" + stamp + "&hash=" + Md5(stamp));
  EXPECT_EQ(forged.status, 403);
  std::string old = std::to_string(std::stoll(Now()) - 3600);
  EXPECT_EQ(HttpGet(server_->webPort(), signedUrl(id, session, old)).status, 403);
  EXPECT_EQ(HttpGet(server_->webPort(), signedUrl("0", session, Now())).status, 404);
}

TEST(ReleaseTest, DescriptionMatchesThePlacedProgramFile) {
  std::string program = PatternBytes(300000, 11);
  auto server = std::make_unique<ReferenceServer>();
  std::string file = server->dataDir() + "/../quellanview-2.1";
  std::ofstream(file, std::ios::binary) << program;
  ASSERT_TRUE(server->start(0, {"--release", file, "--release-version", "2.1.0"}));

  auto ini = HttpGet(server->webPort(), "/update/release.ini");
  ASSERT_EQ(ini.status, 200);
  std::smatch match;
  ASSERT_TRUE(std::regex_search(ini.body, match, std::regex("\\[Version\\]")));
  auto value = [&](const std::string& key) {
    std::smatch found;
    std::regex pattern(key + "=([^\r\n]*)");
    return std::regex_search(ini.body, found, pattern) ? found[1].str() : std::string();
  };
  EXPECT_EQ(value("Number"), "2.1.0");
  EXPECT_EQ(value("Length"), std::to_string(program.size()));
  EXPECT_EQ(value("Md5"), Md5(program));
  std::string url = value("Url");
  std::string prefix = "http://127.0.0.1:" + std::to_string(server->webPort());
  ASSERT_EQ(url.substr(0, prefix.size()), prefix);

  auto body = HttpGet(server->webPort(), url.substr(prefix.size()),
                      {"Host: 127.0.0.1:" + std::to_string(server->webPort())});
  EXPECT_EQ(body.body, program);
  auto tail = HttpGet(server->webPort(), url.substr(prefix.size()), {"Range: bytes=299990-"});
  EXPECT_EQ(tail.status, 206);
  EXPECT_EQ(tail.body, program.substr(299990));
}

// A client's Host header names whatever it likes: the update's address and the stream
// addresses in read and write links come from the service's own settings instead.
TEST(ReleaseTest, HandedOutAddressesNeverComeFromTheHostHeader) {
  const std::vector<std::string> forged = {"Host: attacker.example:666"};
  struct Case {
    std::vector<std::string> args;
    std::string url;  // the update's address; "" for the address listened on
  } cases[] = {
      {{}, ""},
      {{"--public-url", "http://updates.example:8080/"}, "http://updates.example:8080"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    auto server = std::make_unique<ReferenceServer>();
    std::string program = server->dataDir() + "/../quellanview-2.1";
    std::ofstream(program, std::ios::binary) << "program";
    server->addUser("erin", "pw");
    std::vector<std::string> args = {"--release", program, "--release-version", "2.1.0"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    ASSERT_TRUE(server->start(0, args));
    std::string own = "http://127.0.0.1:" + std::to_string(server->webPort());

    auto ini = HttpGet(server->webPort(), "/update/release.ini", forged).body;
    EXPECT_NE(ini.find("Url=" + (c.url.empty() ? own : c.url) + "/update/quellanview-2.1\r\n"),
              std::string::npos)
        << ini;

    testclients::WebSession web(server->webPort());
    ASSERT_EQ(web.login("erin", "pw").substr(0, 3), "ok,");
    WriteFile(server->userDir("erin") + "/我的空间/a.txt", "abc");
    auto listing = web.list();
    ASSERT_TRUE(listing);
    auto file = listing->byName("a.txt"), space = listing->byName("我的空间");
    ASSERT_TRUE(file && space);
    auto signedGet = [&](const std::string& action,
                         const std::vector<std::pair<std::string, std::string>>& params) {
      std::string target = "/quellan?action=" + action, hashInput = action;
      for (const auto& [name, value] : params) {
        target += "&" + name + "=" + value;
        hashInput += value;
      }
      target += "&sessionid=" + web.sessionId +
                "&hash=" + Md5(hashInput + web.sessionId + web.sessionKey);
      return testclients::SplitFields(HttpGet(server->webPort(), target, forged).body);
    };
    auto read = signedGet("readdist", {{"id", file->id}});
    auto write =
        signedGet("writedist", {{"filename", testclients::Base64("b.txt")}, {"pid", space->id}});
    ASSERT_EQ(read.size(), 5u);
    ASSERT_EQ(write.size(), 5u);
    EXPECT_EQ(read[1], "127.0.0.1");
    EXPECT_EQ(write[1], "127.0.0.1");
  }
}

TEST_F(DownloadTest, WithoutAReleaseThereIsNoDescription) {
  EXPECT_EQ(HttpGet(server_->webPort(), "/update/release.ini").status, 404);
}
