// A running quellan-server with one user "alice" and a logged-in web session.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>

#include "tests/support/Files.h"
#include "tests/support/LoopbackClients.h"
#include "tests/support/ReferenceServer.h"

class ServerTestBase : public ::testing::Test {
 protected:
  static constexpr const char* kMySpace = "我的空间";
  static constexpr const char* kDownloadSpace = "下载空间";

  void SetUp() override { startServer({}); }

  void startServer(std::vector<std::string> extraArgs, int quotaGiB = 10) {
    server_ = std::make_unique<ReferenceServer>();
    server_->addUser("alice", "secret", quotaGiB);
    ASSERT_TRUE(server_->start(0, std::move(extraArgs)));
    web_ = std::make_unique<testclients::WebSession>(server_->webPort());
    ASSERT_EQ(web_->login("alice", "secret").substr(0, 3), "ok,");
  }

  std::string home() const { return server_->userDir("alice"); }

  void writeFile(const std::string& relative, const std::string& content) {
    WriteFile(home() + "/" + relative, content);
  }

  // The id of the entry named `name` in a fresh listing (names are unique in these tests).
  std::string idOf(const std::string& name) {
    auto listing = web_->list();
    if (!listing) return {};
    auto entry = listing->byName(name);
    return entry ? entry->id : std::string();
  }

  std::unique_ptr<ReferenceServer> server_;
  std::unique_ptr<testclients::WebSession> web_;
};
