// Opening and reading files through the storage client against the running reference
// service: whole files read back byte for byte, the read link reused within its minute, the
// refusals of "readdist" with their codes, reads at the end without network, the retry of a
// failed open, and the refusals of the create-file dispatch.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>

#include "drive/core/DriveProcess.h"
#include "drive/core/MirrorConfig.h"
#include "drive/replies/TextDigest.h"
#include "drive/storage/QLVMirror.h"
#include "drive/storage/StorageProcess.h"
#include "platform/codepage/CodePage.h"
#include "tests/support/Files.h"
#include "tests/support/ReferenceServer.h"
#include "tests/support/TempDir.h"
#include "tests/support/Wait.h"

namespace fs = std::filesystem;

namespace {

constexpr DWORD kShareAll = 7;

// The tick count of the read-link cache in tests that move time on.
std::atomic<uint32_t> testTicks{1000};
uint32_t TestTicks() { return testTicks; }

}  // namespace

class ReadPathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    drive_.programFolder = folder_.path() + "/";
    drive_.debugMask = 0x13;
    drive_.openLog(folder_.file("mirror.log"));
    server_.addUser("alice", "secret");
    fs::path mine = fs::path(server_.userDir("alice")) / "我的空间";
    fs::create_directories(mine / "Sub Folder");
    for (size_t size : {size_t(1), size_t(65535), size_t(65536), size_t(65537), size_t(3 << 20)}) {
      std::string name = "f" + std::to_string(size) + ".bin";
      files_[name] = PatternBytes(size, static_cast<unsigned>(size));
      std::ofstream(mine / name, std::ios::binary) << files_[name];
    }
    files_["中文 名字.txt"] = PatternBytes(100000, 7);
    std::ofstream(mine / "中文 名字.txt", std::ios::binary) << files_["中文 名字.txt"];
    ASSERT_TRUE(server_.start());
    config_ = std::make_unique<MirrorConfig>(codepage::Utf8ToWide(folder_.file("tarvex.ini")));
    config_->ServerAddress = u"127.0.0.1";
    config_->setUserName(u"alice");
    config_->setPassWord(text_digest::Md5Text(u"secret"));
    MirrorOptions options;
    options.webPort = static_cast<uint16_t>(server_.webPort());
    options.refreshSteps = 1'000'000;
    mirror_ = std::make_unique<QLVMirror>(drive_, storage_, options);
    mirror_->SetConfig(config_.get());
    ASSERT_EQ(mirror_->Login(drive_), 0);
  }

  void TearDown() override {
    mirror_.reset();
    drive_.closeLog();
  }

  static std::u16string PathOf(const std::string& name) {
    return u"\\我的空间\\" + codepage::Utf8ToWide(name);
  }

  int open(const std::u16string& path, DOKAN_FILE_INFO& info, DWORD disposition = 3) {
    return mirror_->CreateFile(path.c_str(), GENERIC_READ, kShareAll, disposition, 0, &info);
  }

  // The whole file in reads of `piece` bytes, as the driver delivers them.
  std::string readAll(const std::u16string& path, DOKAN_FILE_INFO& info, DWORD piece = 65536) {
    std::string content;
    std::vector<char> buffer(piece);
    for (;;) {
      DWORD got = 0;
      int result = mirror_->ReadFile(path.c_str(), buffer.data(), piece, &got,
                                     static_cast<LONGLONG>(content.size()), &info);
      EXPECT_EQ(result, 0);
      if (result != 0 || got == 0) break;
      content.append(buffer.data(), got);
    }
    return content;
  }

  // Counted where they are sent, in the drive's own log.
  size_t readLinkRequests() const {
    return CountOf(mirrorLog(), "readdist quellan?action=readdist&id=");
  }
  std::string mirrorLog() const { return ReadFile(folder_.file("mirror.log")); }

  TempDir folder_;
  DriveProcess drive_;
  StorageProcess storage_;
  ReferenceServer server_;
  std::unique_ptr<MirrorConfig> config_;
  std::unique_ptr<QLVMirror> mirror_;
  std::map<std::string, std::string> files_;
};

TEST_F(ReadPathTest, WholeFilesReadBackByteForByte) {
  for (const auto& [name, content] : files_) {
    for (DWORD piece : {DWORD(4096), DWORD(65536), DWORD(200000)}) {
      SCOPED_TRACE(name + " in pieces of " + std::to_string(piece));
      DOKAN_FILE_INFO info{};
      info.ProcessId = 4242;
      ASSERT_EQ(open(PathOf(name), info), 0);
      ASSERT_NE(info.Context, 0u);
      EXPECT_TRUE(readAll(PathOf(name), info, piece) == content);
      EXPECT_EQ(mirror_->Cleanup(PathOf(name).c_str(), &info), 0);
      EXPECT_EQ(info.Context, 0u);
    }
  }
  EXPECT_NE(mirrorLog().find(" 4242 CreateFile:read:\\我的空间\\f1.bin"), std::string::npos);
}

// A tree read holds the web connection for its whole "list3" transfer; a file opened meanwhile
// does not wait for it.
TEST_F(ReadPathTest, OpenDoesNotWaitForASlowTreeRead) {
  server_.setFaults({"fault-web-delay list3=5000"});
  auto treeRead = std::async(std::launch::async, [&] { return mirror_->readDirTree(); });
  ASSERT_TRUE(WaitFor(
      [&] { return ReadFile(server_.logPath()).find("delaying list3") != std::string::npos; }));
  auto started = std::chrono::steady_clock::now();
  DOKAN_FILE_INFO info{};
  ASSERT_EQ(open(PathOf("f65537.bin"), info), 0);
  EXPECT_TRUE(readAll(PathOf("f65537.bin"), info) == files_["f65537.bin"]);
  EXPECT_EQ(mirror_->Cleanup(PathOf("f65537.bin").c_str(), &info), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
  EXPECT_EQ(treeRead.get(), 0);
}

TEST_F(ReadPathTest, AReadLinkLastsAMinuteAfterTheLastReadOfItsFile) {
  storage_.readLinks.setClock(TestTicks);
  const std::u16string path = PathOf("f3145728.bin");
  const std::string& content = files_["f3145728.bin"];
  DOKAN_FILE_INFO first{}, second{};
  ASSERT_EQ(open(path, first), 0);
  ASSERT_EQ(open(path, second), 0);  // two opens share the link
  EXPECT_EQ(readLinkRequests(), 1u);
  EXPECT_NE(mirrorLog().find("read link 127.0.0.1:"), std::string::npos);
  mirror_->Cleanup(path.c_str(), &second);

  // Read for 100 s, a read every 20 s: each read keeps the link fresh.
  char buffer[4096];
  for (LONGLONG offset = 0; offset < 5 * 65536; offset += 65536) {
    testTicks += 20000;
    DWORD got = 0;
    ASSERT_EQ(mirror_->ReadFile(path.c_str(), buffer, sizeof buffer, &got, offset, &first), 0);
    EXPECT_EQ(std::string(buffer, got), content.substr(offset, sizeof buffer));
  }
  mirror_->Cleanup(path.c_str(), &first);
  testTicks += 59999;
  ASSERT_EQ(open(path, first), 0);
  mirror_->Cleanup(path.c_str(), &first);
  EXPECT_EQ(readLinkRequests(), 1u) << "the link expired although the file was read";

  // A full minute after the last read (an open alone does not count) a new link is asked for.
  testTicks += 1;
  ASSERT_EQ(open(path, first), 0);
  mirror_->Cleanup(path.c_str(), &first);
  EXPECT_EQ(readLinkRequests(), 2u);

  // Another file needs its own link.
  ASSERT_EQ(open(PathOf("f1.bin"), first), 0);
  mirror_->Cleanup(PathOf("f1.bin").c_str(), &first);
  EXPECT_EQ(readLinkRequests(), 3u);
}

TEST_F(ReadPathTest, RefusedReadLinksFailTheOpenWithTheirCodes) {
  size_t logins = CountOf(ReadFile(server_.logPath()), "action=login");
  server_.setFaults({"fault-web-error readdist=err,Session expired"});
  DOKAN_FILE_INFO info{};
  EXPECT_EQ(open(PathOf("f1.bin"), info), -5);
  EXPECT_EQ(info.Context, 0u);
  std::string id = codepage::WideToUtf8(mirror_->GetIdOfPath(PathOf("f1.bin")));
  EXPECT_NE(mirrorLog().find("get readdist err:err,Session expired"), std::string::npos);
  EXPECT_NE(mirrorLog().find("readdist ERR:-12 " + id), std::string::npos);
  // A read without a context tries again and fails the same way.
  DWORD got = 0;
  char buffer[16];
  EXPECT_EQ(mirror_->ReadFile(PathOf("f1.bin").c_str(), buffer, 1, &got, 0, &info), -5);
  EXPECT_EQ(got, static_cast<DWORD>(-1));
  EXPECT_EQ(CountOf(ReadFile(server_.logPath()), "action=login"), logins);

  server_.setFaults({"fault-web-error readdist=err,File not found"});
  EXPECT_EQ(open(PathOf("f1.bin"), info), -5);
  EXPECT_NE(mirrorLog().find("readdist ERR:-11 " + id), std::string::npos);

  server_.setFaults({"fault-web-error readdist=ok,127.0.0.1"});
  EXPECT_EQ(open(PathOf("f1.bin"), info), -5);
  EXPECT_NE(mirrorLog().find("readdist ERR:-4 " + id), std::string::npos);

  server_.setFaults({});
  server_.stop();
  EXPECT_EQ(open(PathOf("f1.bin"), info), -5);
  EXPECT_TRUE(mirrorLog().find("readdist ERR:-2 " + id) != std::string::npos ||
              mirrorLog().find("readdist ERR:-3 " + id) != std::string::npos);
}

TEST_F(ReadPathTest, ReadAtTheEndNeedsNoNetwork) {
  DOKAN_FILE_INFO info{};
  ASSERT_EQ(open(PathOf("f65537.bin"), info), 0);
  server_.kill();
  char buffer[4096];
  for (LONGLONG offset : {LONGLONG(65537), LONGLONG(70000)}) {
    DWORD got = 12345;
    EXPECT_EQ(
        mirror_->ReadFile(PathOf("f65537.bin").c_str(), buffer, sizeof buffer, &got, offset, &info),
        0);
    EXPECT_EQ(got, 0u);
  }
  // The head came with the open, so the first bytes still read.
  DWORD got = 0;
  EXPECT_EQ(mirror_->ReadFile(PathOf("f65537.bin").c_str(), buffer, 100, &got, 0, &info), 0);
  EXPECT_EQ(std::string(buffer, got), files_["f65537.bin"].substr(0, 100));
  mirror_->Cleanup(PathOf("f65537.bin").c_str(), &info);
}

TEST_F(ReadPathTest, FirstReadAfterAFailedOpenOpensAgain) {
  server_.setFaults({"fault-error t1_open=token"});
  DOKAN_FILE_INFO info{};
  info.ProcessId = 77;
  EXPECT_EQ(open(PathOf("f65536.bin"), info), -5);
  EXPECT_EQ(info.Context, 0u);
  EXPECT_NE(mirrorLog().find("init TCP_open ERR: token"), std::string::npos);

  server_.setFaults({});
  info.Context = 77;  // a caller may leave its process id in the context
  std::string content = readAll(PathOf("f65536.bin"), info);
  EXPECT_TRUE(content == files_["f65536.bin"]);
  EXPECT_NE(info.Context, 77u);
  EXPECT_NE(mirrorLog().find("ReadFile__CreateFile:\\我的空间\\f65536.bin"), std::string::npos);
  mirror_->Cleanup(PathOf("f65536.bin").c_str(), &info);
  EXPECT_EQ(readLinkRequests(), 1u);  // the link of the failed open was reused
}

TEST_F(ReadPathTest, CreateFileDispatch) {
  DOKAN_FILE_INFO info{};
  EXPECT_EQ(open(u"\\", info), 0);
  EXPECT_EQ(info.Context, 0u);
  EXPECT_EQ(open(u"\\nothing.txt", info), -2);
  info = {};
  EXPECT_EQ(open(u"\\我的空间\\sub folder", info), 0);
  EXPECT_EQ(info.IsDirectory, 1);
  EXPECT_EQ(info.Context, 0u);
  // Outside the writable folders every write branch is refused as read-only, creating nothing.
  info = {};
  EXPECT_EQ(open(u"\\下载空间\\new.txt", info, 1), -6009);
  EXPECT_EQ(open(u"\\new.txt", info, 2), -6009);
  EXPECT_EQ(info.Context, 0u);
  EXPECT_FALSE(fs::exists(fs::path(server_.userDir("alice")) / "下载空间" / "new.txt"));
  EXPECT_EQ(readLinkRequests(), 0u);

  // Reads on folders and unknown paths without a context are refused.
  DWORD got = 0;
  char buffer[8];
  EXPECT_EQ(mirror_->ReadFile(u"\\", buffer, 8, &got, 0, &info), -5);
  EXPECT_EQ(mirror_->ReadFile(u"\\我的空间", buffer, 8, &got, 0, &info), -5);
  EXPECT_EQ(mirror_->ReadFile(u"\\nothing", buffer, 8, &got, 0, &info), -5);
}

TEST_F(ReadPathTest, ClosedContextsWaitForTheirRelease) {
  DOKAN_FILE_INFO info{};
  size_t before = storage_.closedFiles.size();
  ASSERT_EQ(open(PathOf("f1.bin"), info), 0);
  EXPECT_EQ(mirror_->Cleanup(PathOf("f1.bin").c_str(), &info), 0);
  EXPECT_EQ(storage_.closedFiles.size(), before + 1);
  EXPECT_EQ(mirror_->Cleanup(PathOf("f1.bin").c_str(), &info), 0);  // nothing left to close
  EXPECT_EQ(storage_.closedFiles.size(), before + 1);
  mirror_.reset();  // the end of the mount cycle frees them all
  EXPECT_EQ(storage_.closedFiles.size(), 0u);
}
