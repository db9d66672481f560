// The storage client over a stream address that accepts connections and never answers.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <future>
#include <vector>

#include "drive/core/DriveProcess.h"
#include "drive/core/MirrorConfig.h"
#include "drive/replies/TextDigest.h"
#include "drive/storage/QLVMirror.h"
#include "drive/storage/StorageProcess.h"
#include "platform/codepage/CodePage.h"
#include "platform/dokan/DriveNames.h"
#include "tests/support/Files.h"
#include "tests/support/ReferenceServer.h"
#include "tests/support/TempDir.h"
#include "tests/support/Wait.h"
#include "tools/linkrelay/LinkRelay.h"

namespace {

using Clock = std::chrono::steady_clock;
using dokan::ErrnoOfResult;

// Through the storage client: a stream address that accepts connections and never answers
// (the relay forwards nothing). A read that needs the stream fails with EIO within the open's
// time limit, an open that needs it too, and a close during such a read returns at once.
TEST(SilentStreamAddressTest, ReadsFailWithAnIoErrorInTimeAndCloseReturnsAtOnce) {
  TempDir folder;
  DriveProcess drive;
  StorageProcess storage;
  drive.programFolder = folder.path() + "/";
  drive.openLog(folder.file("mirror.log"));
  LinkRelay relay("127.0.0.1", 0, LinkSettings{});
  ASSERT_TRUE(relay.start());
  ReferenceServer server;
  server.addUser("alice", "secret");
  for (const char* name : {"a.bin", "b.bin"}) {
    std::ofstream(server.userDir("alice") + "/下载空间/" + name, std::ios::binary)
        << PatternBytes(1 << 20, 9);
  }
  ASSERT_TRUE(server.start(0, {"--stream-address", "127.0.0.1:" + std::to_string(relay.port())}));
  relay.setTarget(server.streamPort());
  MirrorConfig config(codepage::Utf8ToWide(folder.file("tarvex.ini")));
  config.ServerAddress = u"127.0.0.1";
  config.setUserName(u"alice");
  config.setPassWord(text_digest::Md5Text(u"secret"));
  MirrorOptions options;
  options.webPort = static_cast<uint16_t>(server.webPort());
  options.refreshSteps = 1'000'000;
  QLVMirror mirror(drive, storage, options);
  mirror.SetConfig(&config);
  ASSERT_EQ(mirror.Login(drive), 0);
  auto path = [](const char* name) { return u"\\下载空间\\" + codepage::Utf8ToWide(name); };
  auto open = [&](const char* name, DOKAN_FILE_INFO& info) {
    return mirror.CreateFile(path(name).c_str(), GENERIC_READ, 7, 3, 0, &info);
  };
  auto readPastTheHead = [&](const char* name, DOKAN_FILE_INFO& info) {
    std::vector<char> buffer(65536);
    DWORD got = 0;
    return mirror.ReadFile(path(name).c_str(), buffer.data(), 65536, &got, 65536, &info);
  };
  // a.bin is opened once while the link works, so its head is cached and its next open needs
  // no network; b.bin never was.
  DOKAN_FILE_INFO first{};
  ASSERT_EQ(open("a.bin", first), 0);
  mirror.Cleanup(path("a.bin").c_str(), &first);
  relay.setBlackHole(true);
  // The spare connection made before the fault would still answer: from here on every stream
  // connection is a silent one.
  storage.stream.spares.closeAll();

  DOKAN_FILE_INFO reading{};
  ASSERT_EQ(open("a.bin", reading), 0);
  auto started = Clock::now();
  auto read = std::async(std::launch::async, [&] { return readPastTheHead("a.bin", reading); });
  auto opened = std::async(std::launch::async, [&] {
    DOKAN_FILE_INFO info{};
    return open("b.bin", info);
  });
  int readResult = read.get();
  EXPECT_EQ(ErrnoOfResult(readResult), EIO);
  EXPECT_LT(Clock::now() - started, std::chrono::seconds(12));
  int openResult = opened.get();
  EXPECT_EQ(ErrnoOfResult(openResult), EIO);
  EXPECT_LT(Clock::now() - started, std::chrono::seconds(12));

  // A close while a read waits for the silent stream: the close and the read end at once.
  int64_t connections = relay.connectionsAccepted();
  auto waiting = std::async(std::launch::async, [&] { return readPastTheHead("a.bin", reading); });
  ASSERT_TRUE(
      WaitFor([&] { return relay.connectionsAccepted() > connections; }, std::chrono::seconds(5)));
  auto closing = Clock::now();
  mirror.Cleanup(path("a.bin").c_str(), &reading);
  EXPECT_LT(Clock::now() - closing, std::chrono::seconds(1));
  EXPECT_EQ(waiting.wait_for(std::chrono::seconds(1)), std::future_status::ready);
  EXPECT_EQ(ErrnoOfResult(waiting.get()), EIO);
  drive.closeLog();
}

}  // namespace
