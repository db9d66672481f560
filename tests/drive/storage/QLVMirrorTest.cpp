#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <thread>

#include "drive/core/DriveProcess.h"
#include "drive/core/MirrorConfig.h"
#include "drive/replies/TextDigest.h"
#include "drive/storage/QLVMirror.h"
#include "drive/storage/StorageProcess.h"
#include "drive/storage/TetherCheck.h"
#include "platform/codepage/CodePage.h"
#include "platform/ticks/Ticks.h"
#include "tests/support/FakeWebService.h"
#include "tests/support/Files.h"
#include "tests/support/TempDir.h"
#include "tests/support/Wait.h"

namespace fs = std::filesystem;

namespace {

std::string Utf8(const std::u16string& text) { return codepage::WideToUtf8(text); }

const std::string kLines =
    "10,Photos,dir,0,,1500000000\n"
    "11,2019,dir,0,10,1500000001\n"
    "12,a.jpg,file,2048,11,1500000002\n"
    "13,empty.txt,file,0,10,1500000003\n"
    "14,\xe4\xb8\x8b\xe8\xbd\xbd\xe7\xa9\xba\xe9\x97\xb4,dir,0,,1500000004\n"
    "15,Shared,dir,0,,1500000005\n"
    "16,n:o.txt,file,5,15,1500000006\n";

class MirrorTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    temp_ = std::make_unique<TempDir>();
    folder_ = temp_->path();
  }
  static void TearDownTestSuite() { temp_.reset(); }

  void SetUp() override {
    drive_.programFolder = folder_.string() + "/";
    drive_.debugMask = 0xff;
    drive_.openLog((folder_ / "mirror.log").string());
    fs::remove(folder_ / ".filelist");
    config_ =
        std::make_unique<MirrorConfig>(codepage::Utf8ToWide((folder_ / "tarvex.ini").string()));
    config_->ServerAddress = u"127.0.0.1";
    config_->DriveLetter = u"Q";
    config_->setUserName(u"alice");
    config_->setPassWord(u"0123456789abcdef0123456789abcdef");
    service_.set("firstkey", "ok,AAAA,BBBB");
    service_.set("login", "ok,CCCC,DDDD");
    service_.set("list3", FakeWebService::ListReply("15,5,100", kLines));
  }

  std::unique_ptr<QLVMirror> makeMirror(MirrorOptions options = MirrorOptions()) {
    options.webPort = service_.port();
    auto mirror = std::make_unique<QLVMirror>(drive_, storage_, options);
    mirror->SetConfig(config_.get());
    return mirror;
  }

  static std::string Log() { return ReadFile(folder_ / "mirror.log"); }

  static std::unique_ptr<TempDir> temp_;
  static fs::path folder_;
  DriveProcess drive_;
  StorageProcess storage_;
  std::unique_ptr<MirrorConfig> config_;
  FakeWebService service_;
};

std::unique_ptr<TempDir> MirrorTest::temp_;
fs::path MirrorTest::folder_;

int CollectEntry(PWIN32_FIND_DATAW entry, PDOKAN_FILE_INFO info) {
  auto* names = reinterpret_cast<std::vector<WIN32_FIND_DATAW>*>(info->Context);
  names->push_back(*entry);
  return 0;
}

std::vector<WIN32_FIND_DATAW> List(QLVMirror& mirror, const std::u16string& path) {
  std::vector<WIN32_FIND_DATAW> entries;
  DOKAN_FILE_INFO info{};
  info.Context = reinterpret_cast<ULONG64>(&entries);
  EXPECT_EQ(mirror.FindFiles(path.c_str(), &CollectEntry, &info), 0);
  return entries;
}

std::vector<std::u16string> Names(const std::vector<WIN32_FIND_DATAW>& entries) {
  std::vector<std::u16string> names;
  for (const auto& entry : entries) names.emplace_back(entry.cFileName);
  return names;
}

}  // namespace

TEST_F(MirrorTest, LoginSucceedsSignsWithTheNewSessionAndReadsTheTree) {
  auto mirror = makeMirror();
  std::vector<int32_t> states;
  drive_.onDriveState = [&](int32_t state) { states.push_back(state); };
  EXPECT_EQ(mirror->Login(drive_), 0);
  drive_.onDriveState = nullptr;
  EXPECT_EQ(states, (std::vector<int32_t>{4, 5}));
  EXPECT_EQ(mirror->session().id, u"CCCC");
  EXPECT_EQ(mirror->session().key, u"DDDD");

  std::vector<std::string> targets = service_.targets();
  ASSERT_EQ(targets.size(), 3u);
  EXPECT_EQ(targets[0].rfind("/quellan?action=firstkey&t=", 0), 0u);
  std::string proof = Utf8(text_digest::Md5Text(u"0123456789abcdef0123456789abcdefBBBB"));
  std::string login =
      "/quellan?action=login&username=YWxpY2U=&password=" + proof + "&sessionid=AAAA&hash=" +
      Utf8(text_digest::Md5Text(u"loginYWxpY2U=" + codepage::Utf8ToWide(proof) + u"AAAABBBB")) +
      "&t=";
  EXPECT_EQ(targets[1].rfind(login, 0), 0u) << targets[1];
  std::string list =
      "/quellan?action=list3&sessionid=CCCC&hash=" + Utf8(text_digest::Md5Text(u"list3CCCCDDDD")) +
      "&t=";
  EXPECT_EQ(targets[2].rfind(list, 0), 0u) << targets[2];
  EXPECT_NE(Log().find("QLVMirror:login:OK "), std::string::npos);
  EXPECT_NE(mirror->GetIdOfPath(u"\\photos\\2019\\A.JPG"), u"");
}

TEST_F(MirrorTest, LoginFailuresHaveTheirCodesLinesAndStates) {
  struct Case {
    const char* name;
    std::function<void()> arrange;
    int code;
    int32_t state;
    std::string line;
  };
  const std::vector<Case> cases = {
      {"empty user and password",
       [&] {
         config_->setUserName(u"");
         config_->setPassWord(u"");
       },
       -1, 10, "QLVMirror:login:-1 UserName is Null !"},
      {"empty password", [&] { config_->setPassWord(u""); }, -1, 10,
       "QLVMirror:login:-1 PassWord is Null !"},
      {"firstkey refused", [&] { service_.set("firstkey", "err,busy"); }, -2, 11,
       "QLVMirror:login:-2 err,busy"},
      {"firstkey without comma", [&] { service_.set("firstkey", "ok,"); }, -3, 11,
       "QLVMirror:login:-3 "},
      {"login not answered", [&] { service_.set("login", "<close>"); }, -4, 12,
       "QLVMirror:login:-4 login connect err!"},
      {"wrong password", [&] { service_.set("login", "err,Password"); }, -5, 12,
       "QLVMirror:login:-5 Session:AAAA Key:BBBB err,Password"},
      {"login without comma", [&] { service_.set("login", "ok,x"); }, -6, 12,
       "QLVMirror:login:-6 "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    c.arrange();
    size_t logBefore = Log().size();
    auto mirror = makeMirror();
    EXPECT_EQ(mirror->Login(drive_), c.code);
    EXPECT_EQ(drive_.driveState(), c.state);
    std::string newLog = Log().substr(logBefore);
    EXPECT_NE(newLog.find(c.line + "\r\n"), std::string::npos) << newLog;
    // One line per failure: an empty user name never reaches the password check.
    if (c.line.find("UserName") != std::string::npos) {
      EXPECT_EQ(newLog.find("PassWord"), std::string::npos);
    }
  }
}

TEST_F(MirrorTest, UnreachableServiceIsAConnectError) {
  MirrorOptions options;
  options.webPort = ClosedLoopbackPort();
  auto mirror = std::make_unique<QLVMirror>(drive_, storage_, options);
  mirror->SetConfig(config_.get());
  size_t logBefore = Log().size();
  EXPECT_EQ(mirror->Login(drive_), -2);
  EXPECT_EQ(drive_.driveState(), 11);
  EXPECT_NE(Log().substr(logBefore).find("QLVMirror:login:-1 connect err!"), std::string::npos);
}

TEST_F(MirrorTest, LongLoginReplyIsCutAt1024Bytes) {
  std::string id(600, 'i');
  std::string key(600, 'k');
  service_.set("login", "ok," + id + "," + key);
  auto mirror = makeMirror();
  ASSERT_EQ(mirror->Login(drive_), 0);
  // 1024 bytes: "ok," + 600 + "," + 420; the key is the last 600 characters of what is left.
  EXPECT_EQ(mirror->session().id, codepage::Utf8ToWide(id));
  std::string remainder = id + "," + std::string(420, 'k');
  EXPECT_EQ(mirror->session().key, codepage::Utf8ToWide(remainder.substr(remainder.size() - 600)));
}

TEST_F(MirrorTest, TreeAnswersTheDriver) {
  // Enough entries that the reply is far longer than one read.
  std::string lines = kLines;
  for (int i = 0; i < 300; ++i) {
    lines += std::to_string(1000 + i) + ",file" + std::to_string(i) + ".bin,file," +
             std::to_string(i + 1) + ",10,1600000000\n";
  }
  service_.set("list3", "ok,15,5,6000," + text_digest::EncodeBase64(lines));
  auto mirror = makeMirror();
  ASSERT_EQ(mirror->Login(drive_), 0);

  std::vector<std::u16string> top = Names(List(*mirror, u"\\"));
  EXPECT_EQ(top, (std::vector<std::u16string>{u".", u"..", u"Photos", u"下载空间", u"Shared"}));
  std::vector<WIN32_FIND_DATAW> photos = List(*mirror, u"\\PHOTOS");
  EXPECT_EQ(photos.size(), 2u + 1 + 300);  // 2019 and the 300 files; the empty file is absent
  EXPECT_EQ(photos[0].dwFileAttributes, 0x10u);
  std::vector<std::u16string> shared = Names(List(*mirror, u"\\Shared"));
  EXPECT_EQ(shared.back(), u"n_o.txt");

  BY_HANDLE_FILE_INFORMATION info{};
  ASSERT_EQ(mirror->GetFileInformation(u"\\", &info, nullptr), 0);
  EXPECT_EQ(info.dwFileAttributes, 0x51u);  // read-only: nothing is made at the top
  EXPECT_EQ((uint64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow, 5368709120u);

  info = {};
  ASSERT_EQ(mirror->GetFileInformation(u"\\photos\\2019\\a.jpg", &info, nullptr), 0);
  EXPECT_EQ(info.dwFileAttributes, 0x81u);
  EXPECT_EQ(info.nFileSizeLow, 2048u);
  uint64_t fileTime =
      (uint64_t(info.ftLastWriteTime.dwHighDateTime) << 32) | info.ftLastWriteTime.dwLowDateTime;
  EXPECT_EQ(fileTime, (1500000002ULL + 11644473600ULL) * 10000000ULL);
  EXPECT_EQ(mirror->GetFileInformation(u"\\Photos\\empty.txt", &info, nullptr), -2);
  EXPECT_EQ(mirror->GetFileInformation(u"\\nowhere", &info, nullptr), -2);

  uint64_t available = 1, total = 1, totalFree = 1;
  ASSERT_EQ(mirror->GetDiskFreeSpace(&available, &total, &totalFree, nullptr), 0);
  EXPECT_EQ(total, 5368709120u);
  EXPECT_EQ(available, 0u);
  EXPECT_EQ(totalFree, 0u);

  char16_t volume[16], system[16];
  DWORD component = 0, flags = 7;
  ASSERT_EQ(
      mirror->GetVolumeInformation(volume, 16, nullptr, &component, &flags, system, 16, nullptr),
      0);
  EXPECT_EQ(std::u16string(volume), u"Ondrel");
  EXPECT_EQ(std::u16string(system), u"NTFS");
  EXPECT_EQ(component, 256u);
  EXPECT_EQ(flags, 0u);

  EXPECT_EQ(mirror->GetDrivePath(u"12"), u"Q:\\Photos\\2019\\a.jpg");
  EXPECT_EQ(mirror->GetPath(u"11"), u"\\Photos\\2019");
  EXPECT_EQ(mirror->GetPath(u"nope"), u"");
  EXPECT_EQ(mirror->GetIdOfPath(u"\\SHARED"), u"15");
  NodeRecord entry;
  ASSERT_EQ(mirror->GetEntry(u"16", &entry), 0);
  EXPECT_EQ(entry.writable, 2);
  ASSERT_EQ(mirror->GetEntry(u"12", &entry), 0);
  EXPECT_EQ(entry.writable, 1);
  EXPECT_EQ(mirror->GetEntry(u"nope", &entry), -1);
  EXPECT_EQ(mirror->GetChildren(u"11").size(), 1u);
  EXPECT_TRUE(mirror->GetChildren(u"nope").empty());
  EXPECT_EQ(mirror->downloadFolderId(), u"14");

  std::string list = ReadFile(folder_ / ".filelist");
  EXPECT_EQ(list.find("|alice\r\n1|||\\|2|1|10,14,15\r\n"), list.find('|'));
  EXPECT_NE(list.find("\r\n0|12|a.jpg|1500000002|1500000002|\\Photos\\2019\\|2|2048\r\n"),
            std::string::npos);
  EXPECT_EQ(list.find("empty.txt"), std::string::npos);
}

TEST_F(MirrorTest, FailedOrCutReadsKeepThePreviousTree) {
  auto mirror = makeMirror();
  ASSERT_EQ(mirror->Login(drive_), 0);
  std::string before = ReadFile(folder_ / ".filelist");

  service_.set("list3", "err,Session expired");
  size_t logBefore = Log().size();
  EXPECT_EQ(mirror->readDirTree(), -2);
  EXPECT_NE(Log().substr(logBefore).find("QLVMirror:readDirTree:-2 err,Session expired"),
            std::string::npos);

  // A transfer that breaks off part way is not taken for the whole tree.
  service_.set("list3", "<raw>HTTP/1.0 200 OK\r\nContent-Length: 9999\r\n\r\nok,15,5,100,MSx");
  EXPECT_EQ(mirror->readDirTree(), -2);

  service_.set("list3", "<close>");
  EXPECT_EQ(mirror->readDirTree(), -1);
  EXPECT_NE(Log().find("QLVMirror:readDirTree:-1\r\n"), std::string::npos);

  EXPECT_EQ(mirror->GetIdOfPath(u"\\Photos\\2019\\a.jpg"), u"12");
  EXPECT_EQ(ReadFile(folder_ / ".filelist"), before);
}

TEST_F(MirrorTest, ListRepliesCutAnywhereNeverBreakTheMirror) {
  auto mirror = makeMirror();
  ASSERT_EQ(mirror->Login(drive_), 0);
  std::string whole = FakeWebService::ListReply("15,5,100", kLines);
  for (size_t cut = 0; cut <= whole.size(); cut += 3) {
    service_.set("list3", whole.substr(0, cut));
    int result = mirror->readDirTree();
    EXPECT_TRUE(result == 0 || result == -2) << cut;
    EXPECT_EQ(mirror->GetIdOfPath(u"\\"), u"");
  }
}

TEST_F(MirrorTest, NamesThatCannotBeListedAreLeftOutOfListings) {
  service_.set("list3", FakeWebService::ListReply(
                            "15,5,100", "1,.,file,1,,0\n2,..,dir,0,,0\n3," + std::string(300, 'n') +
                                            ",file,1,,0\n4,ok.txt,file,1,,0\n"));
  auto mirror = makeMirror();
  ASSERT_EQ(mirror->Login(drive_), 0);
  EXPECT_EQ(Names(List(*mirror, u"\\")), (std::vector<std::u16string>{u".", u"..", u"ok.txt"}));
  EXPECT_EQ(mirror->GetPath(u"3").size(), 301u);  // kept whole in the tree all the same
}

TEST_F(MirrorTest, StaleNodeIsRefreshedThroughFileInfo) {
  auto mirror = makeMirror();
  ASSERT_EQ(mirror->Login(drive_), 0);
  service_.set("file_info",
               "ok," + text_digest::EncodeBase64("12,a.jpg,file,999999,11,1700000000\n"));
  mirror->markStale(u"12");
  BY_HANDLE_FILE_INFORMATION info{};
  ASSERT_EQ(mirror->GetFileInformation(u"\\Photos\\2019\\a.jpg", &info, nullptr), 0);
  EXPECT_EQ(info.nFileSizeLow, 999999u);
  EXPECT_EQ(service_.count("file_info"), 1);
  ASSERT_EQ(mirror->GetFileInformation(u"\\Photos\\2019\\a.jpg", &info, nullptr), 0);
  EXPECT_EQ(service_.count("file_info"), 1);  // fresh again: no second question
  NodeRecord entry;
  ASSERT_EQ(mirror->GetEntry(u"12", &entry), 0);
  EXPECT_EQ(entry.stale, 0);
  EXPECT_EQ(entry.folderPath, u"\\Photos\\2019\\");

  NodeRecord direct;
  ASSERT_EQ(mirror->fileInfo(u"12", &direct), 0);
  EXPECT_EQ(direct.folderPath, u"\\Photos\\2019\\");

  // A refused refresh answers from the record it has and keeps it stale.
  service_.set("file_info", "err,File not found");
  mirror->markStale(u"16");
  ASSERT_EQ(mirror->GetFileInformation(u"\\Shared\\n_o.txt", &info, nullptr), 0);
  EXPECT_EQ(info.nFileSizeLow, 5u);
  ASSERT_EQ(mirror->GetEntry(u"16", &entry), 0);
  EXPECT_EQ(entry.stale, 1);
  EXPECT_NE(Log().find("QLVMirror:file_info:-2 err,File not found"), std::string::npos);
}

TEST_F(MirrorTest, RequestedAndPeriodicRefreshesReadTheTreeAgain) {
  MirrorOptions slow;
  slow.maintenanceStep = std::chrono::milliseconds(10);
  slow.refreshSteps = 1'000'000;
  auto mirror = makeMirror(slow);
  ASSERT_EQ(mirror->Login(drive_), 0);
  service_.set("list3", FakeWebService::ListReply("15,5,100", kLines + "20,new.txt,file,7,,1\n"));
  drive_.refreshRequest = 1;
  EXPECT_TRUE(WaitFor([&] { return mirror->GetIdOfPath(u"\\new.txt") == u"20"; }));
  EXPECT_TRUE(WaitFor([&] { return drive_.refreshRequest == 0; }));
  EXPECT_NE(ReadFile(folder_ / ".filelist").find("0|20|new.txt|"), std::string::npos);
  mirror.reset();

  MirrorOptions quick;
  quick.maintenanceStep = std::chrono::milliseconds(10);
  quick.refreshSteps = 5;
  mirror = makeMirror(quick);
  service_.set("list3", FakeWebService::ListReply("15,5,100", kLines));
  ASSERT_EQ(mirror->Login(drive_), 0);
  EXPECT_EQ(mirror->GetIdOfPath(u"\\new.txt"), u"");
  service_.set("list3", FakeWebService::ListReply("15,5,100", kLines + "21,later.txt,file,7,,1\n"));
  EXPECT_TRUE(WaitFor([&] { return mirror->GetIdOfPath(u"\\later.txt") == u"21"; }));
}

TEST_F(MirrorTest, DestructionStopsTheMaintenanceThread) {
  auto mirror = makeMirror();
  EXPECT_EQ(storage_.runState, run_state::kRunning);
  mirror.reset();
  EXPECT_EQ(storage_.runState, run_state::kStopped);
}

TEST(TetherCheck, ExpiresAfterTenSecondsOfSilenceOnlyWhenSet) {
  EXPECT_FALSE(TetherExpired(false, 0, 50000));
  EXPECT_FALSE(TetherExpired(true, 1000, 11000));
  EXPECT_TRUE(TetherExpired(true, 1000, 11001));
  // Across a wrap of the tick counter.
  EXPECT_FALSE(TetherExpired(true, 0xfffff000u, 0x00000100u));
  EXPECT_TRUE(TetherExpired(true, 0xffff0000u, 0x00010000u));
}

TEST(TetherCheck, ExpiredTetherCallsTheInjectedEnd) {
  std::atomic<int> ended{0};
  DriveProcess drive;
  StorageProcess storage;
  drive.tether = true;
  drive.lastPipeMessageTime = GetTickCount() - 20000;
  MirrorOptions options;
  options.maintenanceStep = std::chrono::milliseconds(5);
  options.housekeepingSteps = 2;
  options.endOnTether = [&] { ++ended; };
  {
    QLVMirror mirror(drive, storage, options);
    EXPECT_TRUE(WaitFor([&] { return ended > 0; }));
  }
  EXPECT_EQ(ended, 1);
}

TEST(TetherCheckDeathTest, SilentDesktopEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        DriveProcess drive;
        StorageProcess storage;
        drive.tether = true;
        drive.lastPipeMessageTime = GetTickCount() - 20000;
        MirrorOptions options;
        options.maintenanceStep = std::chrono::milliseconds(5);
        options.housekeepingSteps = 2;
        QLVMirror mirror(drive, storage, options);
        std::this_thread::sleep_for(std::chrono::seconds(30));
        std::_Exit(3);
      },
      ::testing::ExitedWithCode(0), "");
}
