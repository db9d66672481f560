// The storage client against the running reference service: login, the tree as the service
// holds it on disk, refreshes and file_info.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "drive/core/DriveProcess.h"
#include "drive/core/MirrorConfig.h"
#include "drive/replies/NodeLine.h"
#include "drive/replies/TextDigest.h"
#include "drive/storage/QLVMirror.h"
#include "drive/storage/StorageProcess.h"
#include "drive/tree/FolderTree.h"
#include "platform/codepage/CodePage.h"
#include "tests/support/Files.h"
#include "tests/support/ReferenceServer.h"
#include "tests/support/TempDir.h"
#include "tests/support/Wait.h"

namespace fs = std::filesystem;

namespace {

int CollectEntry(PWIN32_FIND_DATAW entry, PDOKAN_FILE_INFO info) {
  reinterpret_cast<std::vector<WIN32_FIND_DATAW>*>(info->Context)->push_back(*entry);
  return 0;
}

// name → (is folder, size, time) of one listing, "." and ".." left out.
struct Seen {
  bool folder;
  uint64_t size;
  uint64_t fileTime;
  bool operator==(const Seen&) const = default;
};

std::map<std::u16string, Seen> Listing(QLVMirror& mirror, const std::u16string& path) {
  std::vector<WIN32_FIND_DATAW> entries;
  DOKAN_FILE_INFO info{};
  info.Context = reinterpret_cast<ULONG64>(&entries);
  EXPECT_EQ(mirror.FindFiles(path.c_str(), &CollectEntry, &info), 0);
  std::map<std::u16string, Seen> seen;
  for (const auto& entry : entries) {
    std::u16string name(entry.cFileName);
    if (name == u"." || name == u"..") continue;
    seen[name] = {(entry.dwFileAttributes & 0x10) != 0,
                  (uint64_t(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow,
                  (uint64_t(entry.ftLastWriteTime.dwHighDateTime) << 32) |
                      entry.ftLastWriteTime.dwLowDateTime};
  }
  return seen;
}

// The same listing made from the service's folder on disk, as the drive should show it.
std::map<std::u16string, Seen> Expected(const fs::path& folder) {
  std::map<std::u16string, Seen> expected;
  for (const auto& entry : fs::directory_iterator(folder)) {
    struct stat st {};
    ::stat(entry.path().c_str(), &st);
    bool isFolder = entry.is_directory();
    if (!isFolder && st.st_size == 0) continue;  // empty files are not shown
    std::u16string name = CleanRemoteName(codepage::Utf8ToWide(entry.path().filename().string()));
    expected[name] = {isFolder, isFolder ? 0 : uint64_t(st.st_size),
                      (uint64_t(st.st_mtime) + 11644473600ULL) * 10000000ULL};
  }
  return expected;
}

}  // namespace

class MirrorServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    drive_.programFolder = folder_.path() + "/";
    drive_.debugMask = 0xff;
    server_.addUser("alice", "secret", 3);
    ASSERT_TRUE(server_.start());
    config_ = std::make_unique<MirrorConfig>(codepage::Utf8ToWide(folder_.file("tarvex.ini")));
    config_->ServerAddress = u"127.0.0.1";
    config_->setUserName(u"alice");
    // The desktop program stores the MD5 digest of the typed password.
    config_->setPassWord(text_digest::Md5Text(u"secret"));
  }

  std::unique_ptr<QLVMirror> makeMirror(MirrorOptions options = MirrorOptions()) {
    options.webPort = static_cast<uint16_t>(server_.webPort());
    auto mirror = std::make_unique<QLVMirror>(drive_, storage_, options);
    mirror->SetConfig(config_.get());
    return mirror;
  }

  fs::path userDir() const { return server_.userDir("alice"); }

  TempDir folder_;
  DriveProcess drive_;
  StorageProcess storage_;
  ReferenceServer server_;
  std::unique_ptr<MirrorConfig> config_;
};

TEST_F(MirrorServiceTest, LoginReadsTheTreeAndTheQuota) {
  auto mirror = makeMirror();
  std::vector<int32_t> states;
  drive_.onDriveState = [&](int32_t state) { states.push_back(state); };
  EXPECT_EQ(mirror->Login(drive_), 0);
  drive_.onDriveState = nullptr;
  EXPECT_EQ(states, (std::vector<int32_t>{4, 5}));

  std::u16string download = mirror->GetIdOfPath(u"\\下载空间");
  std::u16string mine = mirror->GetIdOfPath(u"\\我的空间");
  ASSERT_NE(download, u"");
  ASSERT_NE(mine, u"");
  EXPECT_EQ(mirror->downloadFolderId(), download);
  NodeRecord entry;
  ASSERT_EQ(mirror->GetEntry(mine, &entry), 0);
  EXPECT_EQ(entry.writable, 2);
  ASSERT_EQ(mirror->GetEntry(download, &entry), 0);
  EXPECT_EQ(entry.writable, 1);

  uint64_t available = 0, total = 0, totalFree = 0;
  mirror->GetDiskFreeSpace(&available, &total, &totalFree, nullptr);
  EXPECT_EQ(total, 3ULL << 30);
  EXPECT_EQ(available, total);  // nothing stored yet

  std::string list = ReadFile(fs::path(folder_.path()) / ".filelist");
  EXPECT_NE(list.find("|alice\r\n1|||\\|2|1|"), std::string::npos) << list;
}

TEST_F(MirrorServiceTest, WrongPasswordAndEmptyUserAreRefused) {
  config_->setPassWord(text_digest::Md5Text(u"wrong"));
  auto mirror = makeMirror();
  EXPECT_EQ(mirror->Login(drive_), -5);
  EXPECT_EQ(drive_.driveState(), 12);
  mirror.reset();

  config_->setUserName(u"");
  mirror = makeMirror();
  EXPECT_EQ(mirror->Login(drive_), -1);
  EXPECT_EQ(drive_.driveState(), 10);
}

TEST_F(MirrorServiceTest, DriveShowsTheServiceTreeExactly) {
  const time_t when = 1600000000;
  fs::path mine = userDir() / "我的空间";
  WriteFile(mine / "Photos" / "2019" / "a.jpg", std::string(3000, 'a'), when);
  WriteFile(mine / "Photos" / "2019" / "empty.txt", "", when);
  WriteFile(mine / "Photos" / "b:c?.txt", "xyz", when + 5);
  WriteFile(mine / "Photos" / "Mixed Case.TXT", std::string(70000, 'm'), when + 9);
  WriteFile(mine / "Ünïcode 文件.bin", "u", when + 1);
  fs::create_directories(mine / "Empty Folder");

  auto mirror = makeMirror();
  ASSERT_EQ(mirror->Login(drive_), 0);
  EXPECT_EQ(Listing(*mirror, u"\\我的空间"), Expected(mine));
  EXPECT_EQ(Listing(*mirror, u"\\我的空间\\Photos"), Expected(mine / "Photos"));
  EXPECT_EQ(Listing(*mirror, u"\\我的空间\\Photos\\2019"), Expected(mine / "Photos" / "2019"));
  EXPECT_TRUE(Listing(*mirror, u"\\我的空间\\Empty Folder").empty());

  // Case-insensitive for a–z only.
  BY_HANDLE_FILE_INFORMATION info{};
  EXPECT_EQ(mirror->GetFileInformation(u"\\我的空间\\photos\\MIXED case.txt", &info, nullptr), 0);
  EXPECT_EQ(info.nFileSizeLow, 70000u);
  EXPECT_EQ(mirror->GetFileInformation(u"\\我的空间\\Ünïcode 文件.bin", &info, nullptr), 0);
  EXPECT_EQ(mirror->GetFileInformation(u"\\我的空间\\üNÏCODE 文件.BIN", &info, nullptr), -2);
  EXPECT_EQ(mirror->GetFileInformation(u"\\我的空间\\Photos\\2019\\empty.txt", &info, nullptr), -2);

  // Used space is rounded up to MiB by the service.
  EXPECT_EQ(mirror->used(), 1LL << 20);
  std::string list = ReadFile(fs::path(folder_.path()) / ".filelist");
  EXPECT_NE(list.find("|a.jpg|1600000000|1600000000|\\我的空间\\Photos\\2019\\|1|3000\r\n"),
            std::string::npos);
}

TEST_F(MirrorServiceTest, RefreshesPickUpNewFiles) {
  MirrorOptions options;
  options.maintenanceStep = std::chrono::milliseconds(10);
  options.refreshSteps = 1'000'000;
  auto mirror = makeMirror(options);
  ASSERT_EQ(mirror->Login(drive_), 0);
  EXPECT_EQ(mirror->GetIdOfPath(u"\\我的空间\\new.txt"), u"");
  WriteFile(userDir() / "我的空间" / "new.txt", "hello", 1600000000);
  drive_.refreshRequest = 1;
  EXPECT_TRUE(WaitFor([&] { return mirror->GetIdOfPath(u"\\我的空间\\new.txt") != u""; }));
  EXPECT_NE(ReadFile(fs::path(folder_.path()) / ".filelist").find("|new.txt|"), std::string::npos);
  mirror.reset();

  options.refreshSteps = 10;  // a periodic read every 100 ms
  mirror = makeMirror(options);
  ASSERT_EQ(mirror->Login(drive_), 0);
  WriteFile(userDir() / "我的空间" / "later.txt", "later", 1600000000);
  EXPECT_TRUE(WaitFor([&] { return mirror->GetIdOfPath(u"\\我的空间\\later.txt") != u""; }));
}

TEST_F(MirrorServiceTest, StaleFileIsRefreshedFromTheService) {
  fs::path file = userDir() / "我的空间" / "grow.bin";
  WriteFile(file, "12345", 1600000000);
  auto mirror = makeMirror();
  ASSERT_EQ(mirror->Login(drive_), 0);
  std::u16string id = mirror->GetIdOfPath(u"\\我的空间\\grow.bin");
  ASSERT_NE(id, u"");

  WriteFile(file, std::string(12345, 'g'), 1600000100);
  BY_HANDLE_FILE_INFORMATION info{};
  ASSERT_EQ(mirror->GetFileInformation(u"\\我的空间\\grow.bin", &info, nullptr), 0);
  EXPECT_EQ(info.nFileSizeLow, 5u);  // not stale: answered from the tree
  mirror->markStale(id);
  ASSERT_EQ(mirror->GetFileInformation(u"\\我的空间\\grow.bin", &info, nullptr), 0);
  EXPECT_EQ(info.nFileSizeLow, 12345u);

  NodeRecord record;
  ASSERT_EQ(mirror->fileInfo(id, &record), 0);
  EXPECT_EQ(record.folderPath, u"\\我的空间\\");
  EXPECT_EQ(record.time, 1600000100);
}
