// Mount cycles ended by pipe commands 20 and 21 while the control pipe keeps asking for paths,
// child counts and entry streams: the pipe's calls never reach a mirror that has been freed.
#include <gtest/gtest.h>

#include "drive/core/ControlPipeServer.h"
#include "drive/core/DriveFront.h"
#include "drive/core/DriveProcess.h"
#include "drive/core/RunLoop.h"
#include "tests/drive/core/front/FrontHarness.h"
#include "tests/drive/pipe/KeyedMirror.h"
#include "tests/drive/pipe/RawPipeClient.h"

using namespace std::chrono_literals;

TEST(PipeDuringCycleEnd, MirrorCallsNeverOutliveTheCycle) {
  SKIP_WITHOUT_FUSE();
  TestDriveFolders folders;
  folders.writeSettings("Q", 0);
  DriveProcess& drive = folders.drive();
  drive.createMirror = [] {
    auto* mirror = new KeyedMirror();
    mirror->add(u"kDocs", u"", u"Docs", true);
    for (int i = 0; i < 50; ++i)
      mirror->add(u"k" + std::u16string(1, char16_t(u'A' + i % 26)) + char16_t(u'0' + i / 26),
                  u"kDocs", u"f.txt", false);
    return mirror;
  };
  ControlPipeServer pipe(drive, folders.pipePath(), [] {});
  ASSERT_TRUE(pipe.start());
  KeyedMirror::callsOnDeadMirrors = 0;
  std::atomic<int> mounts{0};
  drive.onDriveState = [&](int32_t state) {
    if (state == 2) ++mounts;
  };

  std::atomic<bool> keepRunning{true};
  std::thread cycles([&] { RunMountCycles(drive, RunLoopTiming{0ms, 0ms, 10ms}, keepRunning); });
  std::atomic<bool> asking{true};
  std::atomic<int> pathsSeen{0};
  std::atomic<int32_t> stopCommand{0};  // 20 or 21 for the asker to send next
  std::thread asker([&] {
    RawPipeClient client(folders.pipePath());
    while (asking && client.connected()) {
      if (int32_t command = stopCommand.exchange(0)) {
        EXPECT_TRUE(client.send(MakeRequest(command)));
      }
      if (client.ask(MakeRequest(13, "kDocs")) == "Q:\\Docs") ++pathsSeen;
      client.ask(MakeRequest(14, "\\Docs"));
      ASSERT_TRUE(client.send(MakeTwoPartRequest(33, "0", "kDocs")));
      for (;;) {
        auto reply = client.receive();
        if (!reply || reply->more == 0) break;
      }
    }
  });
  struct Finish {
    ~Finish() {
      asking = false;
      keepRunning = false;
      WaitFor([&] {
        Unmount(drive);
        return drive.currentMirror.load() == nullptr;
      });
      cycles.join();
      asker.join();
      drive.createMirror = nullptr;
      drive.onDriveState = nullptr;
    }
    std::atomic<bool>& asking;
    std::atomic<bool>& keepRunning;
    std::thread& cycles;
    std::thread& asker;
    DriveProcess& drive;
  } finish{asking, keepRunning, cycles, asker, drive};

  // Commands 20 and 21 each unmount: the cycle ends (its mirror is freed) and the loop
  // mounts the next one at once.
  for (int cycle = 1; cycle <= 20; ++cycle) {
    ASSERT_TRUE(WaitFor([&] { return mounts >= cycle && folders.isMounted('Q'); }, 20s))
        << "cycle " << cycle;
    int before = pathsSeen;
    ASSERT_TRUE(WaitFor([&] { return pathsSeen > before; }));
    stopCommand = cycle % 2 == 0 ? 20 : 21;
  }
  ASSERT_TRUE(WaitFor([&] { return mounts >= 21; }, 20s));
  EXPECT_EQ(KeyedMirror::callsOnDeadMirrors, 0);
}
