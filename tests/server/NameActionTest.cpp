// Name actions of the web interface change the folder on disk, refuse protected folders
// and bad names, and keep ids across rename and move.
#include <filesystem>

#include "tests/server/ServerTestBase.h"

namespace fs = std::filesystem;
using testclients::Base64;
using testclients::Unbase64;

class NameActionTest : public ServerTestBase {
 protected:
  std::string mkdir(const std::string& pid, const std::string& name) {
    return web_->call("mkdir", {{"pid", pid}, {"name", Base64(name)}});
  }
  std::string myId() { return idOf(kMySpace); }
  bool exists(const std::string& relative) { return fs::exists(home() + "/" + relative); }
};

TEST_F(NameActionTest, MkdirCreatesTheFolderAndReturnsItsId) {
  std::string reply = mkdir(myId(), "新建 folder");
  ASSERT_EQ(reply.substr(0, 3), "ok,");
  EXPECT_TRUE(fs::is_directory(home() + "/" + kMySpace + "/新建 folder"));
  EXPECT_EQ(idOf("新建 folder"), reply.substr(3));
  EXPECT_EQ(mkdir(myId(), "新建 folder"), "err,Exists");
  EXPECT_EQ(mkdir("999999999", "x"), "err,File not found");
}

TEST_F(NameActionTest, BadNamesAreRefusedEverywhere) {
  std::string parent = myId();
  writeFile(std::string(kMySpace) + "/f.txt", "data");
  std::string file = idOf("f.txt");
  for (std::string bad : {"a/b", "a\\b", "a,b", "a\nb", ".", "..", ""}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(mkdir(parent, bad), "err,Name");
    EXPECT_EQ(web_->call("rename", {{"id", file}, {"name", Base64(bad)}}), "err,Name");
    EXPECT_EQ(web_->call("writedist", {{"filename", Base64(bad)}, {"pid", parent}}, false),
              "err,Name");
  }
  EXPECT_EQ(web_->call("rename", {{"id", file}, {"name", "not*base64"}}), "err,Name");
  // Nothing escaped the user's folder.
  EXPECT_FALSE(exists(std::string(kMySpace) + "/a"));
  EXPECT_FALSE(fs::exists(server_->dataDir() + "/b"));
  EXPECT_TRUE(exists(std::string(kMySpace) + "/f.txt"));
}

TEST_F(NameActionTest, RenameAndMoveKeepIds) {
  std::string top = mkdir(myId(), "top").substr(3);
  std::string inner = mkdir(top, "inner").substr(3);
  writeFile(std::string(kMySpace) + "/top/inner/deep.bin", "deep");
  std::string deep = idOf("deep.bin");
  ASSERT_FALSE(deep.empty());

  EXPECT_EQ(web_->call("rename", {{"id", top}, {"name", Base64("renamed")}}), "ok");
  EXPECT_TRUE(exists(std::string(kMySpace) + "/renamed/inner/deep.bin"));
  EXPECT_EQ(idOf("renamed"), top);
  EXPECT_EQ(idOf("deep.bin"), deep);

  std::string target = mkdir(myId(), "target").substr(3);
  EXPECT_EQ(web_->call("move", {{"id", inner}, {"pid", target}}), "ok");
  EXPECT_TRUE(exists(std::string(kMySpace) + "/target/inner/deep.bin"));
  auto listing = web_->list();
  ASSERT_TRUE(listing);
  EXPECT_EQ(listing->byName("inner")->id, inner);
  EXPECT_EQ(listing->byName("inner")->pid, target);
  EXPECT_EQ(listing->byName("deep.bin")->id, deep);
  EXPECT_EQ(listing->byName("deep.bin")->pid, inner);

  // A deep file can still be addressed by its id after its folder moved.
  auto info = web_->call("file_info", {{"id", deep}});
  ASSERT_EQ(info.substr(0, 3), "ok,");
  auto fields = testclients::SplitFields(Unbase64(info.substr(3)));
  ASSERT_EQ(fields.size(), 6u);
  EXPECT_EQ(fields[0], deep);
  EXPECT_EQ(fields[1], "deep.bin");
  EXPECT_EQ(fields[2], "file");
  EXPECT_EQ(fields[3], "4");
  EXPECT_EQ(fields[4], inner);
}

TEST_F(NameActionTest, RenameAndMoveOntoExistingNamesAreRefused) {
  std::string a = mkdir(myId(), "a").substr(3);
  std::string b = mkdir(myId(), "b").substr(3);
  std::string inA = mkdir(a, "same").substr(3);
  mkdir(b, "same");
  EXPECT_EQ(web_->call("rename", {{"id", a}, {"name", Base64("b")}}), "err,Exists");
  EXPECT_EQ(web_->call("move", {{"id", inA}, {"pid", b}}), "err,Exists");
  EXPECT_TRUE(exists(std::string(kMySpace) + "/a/same"));
  // A folder cannot move below itself.
  EXPECT_NE(web_->call("move", {{"id", a}, {"pid", inA}}), "ok");
  EXPECT_TRUE(exists(std::string(kMySpace) + "/a/same"));
  EXPECT_EQ(web_->call("move", {{"id", "12345678"}, {"pid", b}}), "err,File not found");
  EXPECT_EQ(web_->call("move", {{"id", a}, {"pid", "12345678"}}), "err,File not found");
}

TEST_F(NameActionTest, ProtectedFoldersCannotBeRemovedRenamedOrMoved) {
  std::string mine = myId();
  std::string downloads = idOf(kDownloadSpace);
  std::string other = mkdir(mine, "other").substr(3);
  for (const auto& id : {mine, downloads}) {
    EXPECT_EQ(web_->call("rmdir", {{"id", id}}), "err,Access denied");
    EXPECT_EQ(web_->call("rename", {{"id", id}, {"name", Base64("x")}}), "err,Access denied");
    EXPECT_EQ(web_->call("move", {{"id", id}, {"pid", other}}), "err,Access denied");
  }
  EXPECT_TRUE(exists(kMySpace));
  EXPECT_TRUE(exists(kDownloadSpace));
}

TEST_F(NameActionTest, DeleteRemovesAFile) {
  writeFile(std::string(kMySpace) + "/gone.txt", "bye");
  std::string id = idOf("gone.txt");
  EXPECT_EQ(web_->call("delete", {{"id", id}}), "ok");
  EXPECT_FALSE(exists(std::string(kMySpace) + "/gone.txt"));
  EXPECT_EQ(web_->call("delete", {{"id", id}}), "err,File not found");
  EXPECT_EQ(web_->call("delete", {{"id", myId()}}), "err,File not found");  // not a file
}

TEST_F(NameActionTest, RmdirOfATreeThenDeletesOfItsChildrenAnswerOk) {
  std::string tree = mkdir(myId(), "tree").substr(3);
  std::string sub = mkdir(tree, "sub").substr(3);
  writeFile(std::string(kMySpace) + "/tree/one.txt", "1");
  writeFile(std::string(kMySpace) + "/tree/sub/two.txt", "2");
  std::string one = idOf("one.txt");
  std::string two = idOf("two.txt");
  EXPECT_EQ(web_->call("rmdir", {{"id", tree}}), "ok");
  EXPECT_FALSE(exists(std::string(kMySpace) + "/tree"));
  // The client removes the children one by one after the folder.
  EXPECT_EQ(web_->call("rmdir", {{"id", sub}}), "ok");
  EXPECT_EQ(web_->call("delete", {{"id", one}}), "ok");
  EXPECT_EQ(web_->call("delete", {{"id", two}}), "ok");
  auto listing = web_->list();
  ASSERT_TRUE(listing);
  EXPECT_FALSE(listing->byName("tree") || listing->byName("one.txt"));
}

TEST_F(NameActionTest, LinksInTheUserFolderLeadNowhere) {
  fs::create_directories(server_->dataDir() + "/outside");
  std::ofstream(server_->dataDir() + "/outside/secret.txt") << "secret";
  fs::create_directory_symlink(server_->dataDir() + "/outside", home() + "/" + kMySpace + "/link");
  fs::create_symlink(server_->dataDir() + "/outside/secret.txt",
                     home() + "/" + kMySpace + "/file-link");
  auto listing = web_->list();
  ASSERT_TRUE(listing);
  EXPECT_FALSE(listing->byName("link"));
  EXPECT_FALSE(listing->byName("file-link"));
  EXPECT_FALSE(listing->byName("secret.txt"));
}

TEST_F(NameActionTest, WritedistHandsOutStableIdsInWritableFoldersOnly) {
  std::string mine = myId();
  auto first = testclients::SplitFields(
      web_->call("writedist", {{"filename", Base64("new.bin")}, {"pid", mine}}, false));
  ASSERT_EQ(first.size(), 5u);
  EXPECT_EQ(first[0], "ok");
  EXPECT_EQ(first[1], "127.0.0.1");
  EXPECT_EQ(first[2], std::to_string(server_->streamPort()));
  EXPECT_EQ(first[4], "0");
  auto again = testclients::SplitFields(
      web_->call("writedist", {{"filename", Base64("new.bin")}, {"pid", mine}}, false));
  ASSERT_EQ(again.size(), 5u);
  EXPECT_EQ(again[3], first[3]);

  writeFile(std::string(kMySpace) + "/old.bin", "12345");
  std::string old = idOf("old.bin");
  auto existing = testclients::SplitFields(
      web_->call("writedist", {{"filename", Base64("old.bin")}, {"pid", mine}}, false));
  ASSERT_EQ(existing.size(), 5u);
  EXPECT_EQ(existing[3], old);
  EXPECT_EQ(existing[4], "5");

  EXPECT_EQ(
      web_->call("writedist", {{"filename", Base64("x")}, {"pid", idOf(kDownloadSpace)}}, false),
      "err,Access denied");
  EXPECT_EQ(web_->call("writedist", {{"filename", Base64("x")}, {"pid", ""}}, false),
            "err,Access denied");
  EXPECT_EQ(web_->call("writedist", {{"filename", Base64("x")}, {"pid", "4242"}}, false),
            "err,File not found");
}

TEST_F(NameActionTest, ReaddistNamesTheStreamServer) {
  writeFile(std::string(kMySpace) + "/r.bin", "abc");
  auto fields = testclients::SplitFields(web_->call("readdist", {{"id", idOf("r.bin")}}, false));
  ASSERT_EQ(fields.size(), 5u);
  EXPECT_EQ(fields[0], "ok");
  EXPECT_EQ(fields[1], "127.0.0.1");
  EXPECT_EQ(fields[2], std::to_string(server_->streamPort()));
  EXPECT_FALSE(fields[3].empty());
  EXPECT_FALSE(fields[4].empty());
  EXPECT_EQ(fields[3].find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_EQ(web_->call("readdist", {{"id", myId()}}, false), "err,File not found");
  EXPECT_EQ(web_->call("file_info", {{"id", "31337"}}), "err,File not found");
}
