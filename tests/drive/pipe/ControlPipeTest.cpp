// The control pipe server in this process over its real socket, with a keyed test mirror
// and a settings file: every command's reply and effect, the entry stream, records however
// the socket delivers them, malformed records, idle clients, the end of a connection, and
// the sign of life for the tether; and the desktop program's client of it.
#include <gtest/gtest.h>

#include <functional>
#include <future>
#include <optional>
#include <thread>

#include "desktop/control/DrivePipeClient.h"
#include "drive/core/ControlPipeServer.h"
#include "drive/core/DriveProcess.h"
#include "drive/core/MirrorConfig.h"
#include "platform/codepage/CodePage.h"
#include "platform/ticks/Ticks.h"
#include "tests/drive/core/TestFiles.h"
#include "tests/drive/pipe/KeyedMirror.h"
#include "tests/drive/pipe/RawPipeClient.h"
#include "tests/platform/pipe/BareListener.h"
#include "tests/support/Wait.h"

using namespace std::string_literals;
using namespace std::chrono_literals;

namespace {

constexpr char kNoReply[] = "<none>";

PipeMessage Request(int32_t command, const std::string& text = "", uint8_t more = 0) {
  PipeMessage message = MakeRequest(command, text);
  message.more = more;
  return message;
}

PipeMessage TwoParts(int32_t command, const std::string& first, const std::string& second,
                     uint8_t more = 0) {
  PipeMessage message = MakeTwoPartRequest(command, first, second);
  message.more = more;
  return message;
}

class ControlPipeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(dir.file("tarvex.ini"), "[Set]\nDriveLetter=R\nRun=1\n[User]\nUserName=old\n");
    settings = std::make_unique<MirrorConfig>(codepage::AnsiToWide(dir.file("tarvex.ini")));
    settings->readSettings(drive);
    mirror.add(u"kDocs", u"", u"Docs", true);
    mirror.add(u"kTop", u"", u"top.txt", false, 1);
    mirror.add(u"k2", u"kDocs", u"a.txt", false, 2, 12);
    mirror.add(u"k1", u"kDocs", u"sub", true);
    mirror.add(u"k3", u"k1", u"c.txt", false, 1, 5000000000LL);
    mirror.add(u"kA", u"", u"A", true);
    drive.currentMirror = &mirror;
    drive.currentSettings = settings.get();
    drive.setRunDriveLetter(u"Q");
    drive.setDriveState(2);
    ASSERT_TRUE(server.start());
  }
  void TearDown() override {
    server.stop();
    drive.clearCurrentMirror();
    drive.clearCurrentSettings();
  }

  // Lines of one entry stream; fails the test unless it ends with the empty final record.
  std::vector<std::string> stream(RawPipeClient& client, const std::vector<PipeMessage>& request) {
    for (const PipeMessage& part : request) EXPECT_TRUE(client.send(part));
    std::vector<std::string> lines;
    for (;;) {
      std::optional<PipeMessage> reply = client.receive();
      if (!reply) {
        ADD_FAILURE() << "stream cut off after " << lines.size() << " lines";
        return lines;
      }
      EXPECT_EQ(reply->command, 33);
      if (reply->more == 0) {
        EXPECT_EQ(reply->length, 0);
        return lines;
      }
      lines.emplace_back(reply->body());
    }
  }

  TempDir dir;
  DriveProcess drive;
  std::string path = dir.file("run/Tarvex");
  std::atomic<int> pipeLost{0};
  ControlPipeServer server{drive, path, [this] { ++pipeLost; }};
  std::unique_ptr<MirrorConfig> settings;
  KeyedMirror mirror;
};

TEST_F(ControlPipeTest, EveryCommandAnswersAndActs) {
  struct Row {
    PipeMessage request;
    std::string reply;  // kNoReply when the command answers nothing
    std::function<void()> check;
  };
  const std::string ini = dir.file("tarvex.ini");
  std::vector<Row> rows = {
      {Request(7), "Q", {}},
      {Request(8), "R", {}},
      {Request(9), "2", {}},
      {Request(13, "k3"), "Q:\\Docs\\sub\\c.txt", {}},
      {Request(13, "unknown"), "", {}},
      {Request(14, "\\Docs"), "2", {}},
      {Request(14, "\\"), "3", {}},
      {Request(14, "\\missing"), "-1", {}},
      {Request(10, "名字"), kNoReply,
       [&] { EXPECT_NE(ReadFile(ini).find("UserName=名字"), std::string::npos); }},
      {Request(11, "0123abcd"), kNoReply,
       [&] { EXPECT_NE(ReadFile(ini).find("PassWord=0123abcd"), std::string::npos); }},
      {Request(12, "23"), kNoReply,
       [&] { EXPECT_NE(ReadFile(ini).find("Debug=23"), std::string::npos); }},
      {Request(21), kNoReply, [&] { EXPECT_EQ(settings->Run, 0); }},
      {Request(20), kNoReply, [&] { EXPECT_EQ(settings->Run, 1); }},
      {Request(22), kNoReply, [&] { EXPECT_EQ(drive.refreshRequest, 1); }},
      {Request(99, "ignored"), kNoReply, {}},
      // \A exists: the creation goes on to \A\B and answers its key.
      {TwoParts(31, "", "\\A\\B\\"), "0\0new1"s,
       [&] {
         EXPECT_EQ(mirror.calls(),
                   (std::vector<std::string>{"CreateDirectory \\A", "CreateDirectory \\A\\B"}));
       }},
      {TwoParts(31, "kDocs", "x\\y"), "0\0new3"s, {}},
      {TwoParts(31, "unknown", "x"), "-8\0"s, {}},
      {Request(32, "unknown"), "-1\0"s, {}},
      {Request(32, "k2"), "0\0\\Docs\\a.txt"s,
       [&] { EXPECT_EQ(mirror.calls().back(), "DeleteFile \\Docs\\a.txt"); }},
      {TwoParts(34, "unknown", "b.txt"), "-2", {}},
      {TwoParts(34, "k2", "b.txt"), "0",
       [&] { EXPECT_EQ(mirror.calls().back(), "MoveFile \\Docs\\a.txt \\Docs\\b.txt 0"); }},
      {Request(35, "\\Docs\\sub"), "0",
       [&] { EXPECT_EQ(mirror.calls().back(), "DeleteDirectory \\Docs\\sub"); }},
      {Request(35, "\\missing"), "-1", {}},
  };
  RawPipeClient client(path);
  ASSERT_TRUE(client.connected());
  for (const Row& row : rows) {
    SCOPED_TRACE("command " + std::to_string(row.request.command) + " " +
                 std::string(row.request.firstPart()));
    if (row.reply == kNoReply) {
      ASSERT_TRUE(client.send(row.request));
      // The next reply belongs to the next request: nothing came in between.
      EXPECT_EQ(client.ask(Request(9)), "2");
    } else {
      ASSERT_TRUE(client.send(row.request));
      std::optional<PipeMessage> reply = client.receive();
      ASSERT_TRUE(reply.has_value());
      EXPECT_EQ(std::string(reply->body()), row.reply);
      EXPECT_EQ(reply->command, row.request.command);
    }
    if (row.check) row.check();
  }
}

TEST_F(ControlPipeTest, EntryStreamWalksFoldersAndKeyLists) {
  const std::string c = "k3|c.txt|1600000000l|1600000000l|\\Docs\\sub\\|5000000000";
  const std::string a = "k2|a.txt|1600000000l|1600000000l|\\Docs\\|12";
  struct Row {
    std::vector<PipeMessage> request;
    std::vector<std::string> lines;
  };
  std::vector<Row> rows = {
      // Depth first in key order: k1 (the folder sub) comes before k2.
      {{TwoParts(33, "0", "kDocs")}, {c, a}},
      {{TwoParts(33, "2", "kDocs")}, {a}},
      {{TwoParts(33, "1", "kDocs")}, {c}},
      {{TwoParts(33, "0", "unknown")}, {}},
      // A key list keeps its order and leaves out folders and unknown keys.
      {{TwoParts(33, "0", "k2|k1|nothing|k3")}, {a, c}},
      {{TwoParts(33, "1", "k2|k3|")}, {c}},
      // A list continued over three records is joined before it is read.
      {{TwoParts(33, "0", "k3|", 1), Request(0, "k", 1), Request(0, "2", 0)}, {c, a}},
  };
  RawPipeClient client(path);
  ASSERT_TRUE(client.connected());
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.request.front().secondPart()));
    EXPECT_EQ(stream(client, row.request), row.lines);
  }
}

TEST_F(ControlPipeTest, MalformedRecordsAreIgnoredAndMinus100EndsTheConnection) {
  RawPipeClient client(path);
  ASSERT_TRUE(client.connected());
  drive.lastPipeMessageTime = GetTickCount() - 60000;
  for (int32_t length : {1024, 5000, 1016, -1}) {
    PipeMessage bad = Request(9);
    bad.length = length;
    ASSERT_TRUE(client.send(bad));
  }
  ASSERT_TRUE(client.waitTaken());
  EXPECT_GT(TicksBetween(drive.lastPipeMessageTime, GetTickCount()), 50000u)
      << "a dropped record counted as a sign of life";
  EXPECT_EQ(client.ask(Request(9)), "2");
  EXPECT_LT(TicksBetween(drive.lastPipeMessageTime, GetTickCount()), 5000u);

  ASSERT_TRUE(client.send(Request(-100)));
  EXPECT_TRUE(client.closedByServer());
  RawPipeClient next(path);
  ASSERT_TRUE(next.connected());
  EXPECT_EQ(next.ask(Request(7)), "Q");
  EXPECT_EQ(pipeLost, 0);
}

TEST_F(ControlPipeTest, ATextUpToTheRecordsLimitIsAnswered) {
  struct Row {
    int32_t length;
    std::string reply;
  };
  const int32_t limit = static_cast<int32_t>(kPipeTextSize);
  RawPipeClient client(path);
  ASSERT_TRUE(client.connected());
  for (const Row& row : {Row{limit - 1, "-1"}, Row{limit, "-1"}, Row{limit + 1, kNoReply}}) {
    SCOPED_TRACE("length " + std::to_string(row.length));
    // A child count at a path as long as the record allows (an unknown one).
    PipeMessage request = Request(14, std::string(std::min(row.length, limit), 'x'));
    request.length = row.length;
    ASSERT_TRUE(client.send(request));
    if (row.reply != kNoReply) {
      std::optional<PipeMessage> reply = client.receive();
      ASSERT_TRUE(reply.has_value());
      EXPECT_EQ(std::string(reply->body()), row.reply);
    }
    // The next reply belongs to the next request; the connection stays open.
    EXPECT_EQ(client.ask(Request(9)), "2");
  }
}

TEST_F(ControlPipeTest, RecordsAreTakenWholeHoweverTheSocketDeliversThem) {
  RawPipeClient client(path);
  ASSERT_TRUE(client.connected());
  // Two records in one write: both answered, in order.
  PipeMessage two[2] = {Request(7), Request(13, "k3")};
  ASSERT_TRUE(client.sendBytes(two, sizeof(two)));
  for (const char* expected : {"Q", "Q:\\Docs\\sub\\c.txt"}) {
    std::optional<PipeMessage> reply = client.receive();
    ASSERT_TRUE(reply.has_value()) << expected;
    EXPECT_EQ(std::string(reply->body()), expected);
  }
  // One record in three pieces, each taken by the server before the next is sent.
  PipeMessage request = Request(14, "\\Docs");
  const char* bytes = reinterpret_cast<const char*>(&request);
  for (auto [from, to] : {std::pair{0, 1}, std::pair{1, 600}, std::pair{600, 1024}}) {
    ASSERT_TRUE(client.sendBytes(bytes + from, static_cast<size_t>(to - from)));
    ASSERT_TRUE(client.waitTaken());
  }
  std::optional<PipeMessage> reply = client.receive();
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ(std::string(reply->body()), "2");
}

TEST_F(ControlPipeTest, AnIdleClientIsDroppedSoTheNextIsServed) {
  const std::string quickPath = dir.file("quick/Tarvex");
  ControlPipeServer quick(drive, quickPath, {}, 300ms);
  ASSERT_TRUE(quick.start());
  RawPipeClient idle(quickPath);
  ASSERT_EQ(idle.ask(Request(9)), "2");
  // Half a record, then silence: it is never acted on, and the client is dropped.
  PipeMessage half = Request(22);
  ASSERT_TRUE(idle.sendBytes(&half, 500));
  RawPipeClient next(quickPath);
  ASSERT_TRUE(next.connected());
  EXPECT_EQ(next.ask(Request(7)), "Q");
  EXPECT_TRUE(idle.closedByServer());
  EXPECT_EQ(drive.refreshRequest, 0);
}

TEST_F(ControlPipeTest, ClientGivesUpOnAMissingReplyAndReplacesADroppedConnection) {
  // A listener that takes requests and never answers.
  std::string silentPath = dir.file("silent/Tarvex");
  ::mkdir(dir.file("silent").c_str(), 0700);
  BareListener silent(silentPath);
  DrivePipeClient waiting(silentPath, 200ms);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(waiting.driveState(), DrivePipeClient::kBroken);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);

  // A connection the server dropped while it sat idle is replaced before the next request.
  const std::string quickPath = dir.file("quick/Tarvex");
  ControlPipeServer quick(drive, quickPath, {}, 100ms);
  ASSERT_TRUE(quick.start());
  DrivePipeClient client(quickPath);
  ASSERT_EQ(client.driveState(), 2);
  {
    // Another client is served beside it meanwhile.
    RawPipeClient other(quickPath);
    ASSERT_EQ(other.ask(Request(9)), "2");
  }
  EXPECT_EQ(client.driveState(), 2);
}

TEST(ControlPipeClientTest, ClientRefusesAPipeInAFolderOpenToOthersAndSaysWhyOnce) {
  TempDir dir;
  std::string folder = dir.file("run");
  ::mkdir(folder.c_str(), 0700);
  ::chmod(folder.c_str(), 0750);
  BareListener impostor(folder + "/Tarvex");
  ASSERT_TRUE(impostor.listening());
  DrivePipeClient client(folder + "/Tarvex");
  std::vector<std::string> notes;
  client.setRefusalNote([&](const std::string& why) { notes.push_back(why); });
  EXPECT_EQ(client.openPipe(), DrivePipeClient::kUnreachable);
  EXPECT_EQ(client.openPipe(), DrivePipeClient::kUnreachable);
  EXPECT_EQ(client.driveState(), DrivePipeClient::kBroken);
  EXPECT_FALSE(impostor.clientCame());
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_NE(notes[0].find(folder + " is open to other users (mode 0750)"), std::string::npos)
      << notes[0];
}

TEST_F(ControlPipeTest, WithoutMirrorOrSettingsCommandsAnswerAsForUnknownKeys) {
  drive.clearCurrentMirror();
  drive.clearCurrentSettings();
  RawPipeClient client(path);
  ASSERT_TRUE(client.connected());
  EXPECT_EQ(client.ask(Request(8)), "");
  EXPECT_EQ(client.ask(Request(13, "k3")), "");
  EXPECT_EQ(client.ask(Request(14, "\\Docs")), "-1");
  EXPECT_EQ(client.ask(TwoParts(31, "", "x")), "-8\0"s);
  EXPECT_EQ(client.ask(Request(32, "k2")), "-1\0"s);
  EXPECT_EQ(client.ask(TwoParts(34, "k2", "y")), "-2");
  EXPECT_EQ(client.ask(Request(35, "\\Docs")), "-1");
  EXPECT_EQ(stream(client, {TwoParts(33, "0", "kDocs")}), std::vector<std::string>{});
  ASSERT_TRUE(client.send(Request(10, "nobody")));
  EXPECT_EQ(client.ask(Request(9)), "2");
  EXPECT_EQ(ReadFile(dir.file("tarvex.ini")).find("nobody"), std::string::npos);
}

TEST_F(ControlPipeTest, ThreadsSharingOneClientNeverMixReplies) {
  DrivePipeClient client(path);
  std::atomic<int> mixed{0};
  auto ask = [&](const std::string& key, const std::string& expected) {
    for (int i = 0; i < 300; ++i)
      if (client.localPathOfKey(key) != expected) ++mixed;
  };
  std::thread first(ask, "k3", "Q:\\Docs\\sub\\c.txt");
  std::thread second(ask, "k2", "Q:\\Docs\\a.txt");
  std::thread third([&] {
    for (int i = 0; i < 300; ++i)
      if (client.childCount("\\Docs") != 2) ++mixed;
  });
  first.join();
  second.join();
  third.join();
  EXPECT_EQ(mixed, 0);
}

// The desktop program's parties each have a connection of their own, served side by side: while
// the page's call is held up in the mirror, two watcher polls at the same moment are answered;
// the page's call runs out of time and closes only the page's connection, and the watchers'
// connections stay open and go on answering.
TEST_F(ControlPipeTest, OnePartysFailedTransferLeavesTheOthersConnectionsOpen) {
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<bool> held{false};
  mirror.beforeCreate = [&held, released] {
    held = true;
    released.wait_for(10s);
  };
  // Lets the held call go however the test ends, before the mirror is taken away.
  struct Release {
    std::promise<void>& promise;
    ~Release() { promise.set_value(); }
  } releaseAtEnd{release};

  DrivePipeClient firstWatcher(path, 3s);
  DrivePipeClient secondWatcher(path, 3s);
  DrivePipeClient page(path, 500ms);
  ASSERT_EQ(firstWatcher.driveState(), drive_state::kMounted);
  ASSERT_EQ(secondWatcher.driveState(), drive_state::kMounted);

  std::string key = "unchanged";
  std::future<int> pageCall =
      std::async(std::launch::async, [&] { return page.makeFolders("", "\\slow", &key); });
  ASSERT_TRUE(WaitFor([&] { return held.load(); }, 5s));
  std::future<int> firstPoll =
      std::async(std::launch::async, [&] { return firstWatcher.driveState(); });
  std::future<int> secondPoll =
      std::async(std::launch::async, [&] { return secondWatcher.driveState(); });
  EXPECT_EQ(firstPoll.get(), drive_state::kMounted);
  EXPECT_EQ(secondPoll.get(), drive_state::kMounted);

  EXPECT_EQ(pageCall.get(), pipe_result::kBroken);
  EXPECT_EQ(key, "");
  EXPECT_FALSE(page.connected());
  EXPECT_TRUE(firstWatcher.connected());
  EXPECT_TRUE(secondWatcher.connected());
  EXPECT_EQ(firstWatcher.runDriveLetter(), "Q");
  EXPECT_EQ(secondWatcher.driveState(), drive_state::kMounted);
  EXPECT_TRUE(firstWatcher.connected());
  EXPECT_TRUE(secondWatcher.connected());
  // The page's next call opens a connection of its own again.
  EXPECT_EQ(page.driveState(), drive_state::kMounted);
}

TEST_F(ControlPipeTest, ClientSendsNothingTooLongForOneRecord) {
  DrivePipeClient client(path);
  std::string key = "unchanged";
  EXPECT_EQ(client.childCount(std::string(1016, 'x')), -1);
  EXPECT_EQ(client.makeFolders(std::string(1000, 'k'), std::string(15, 'p'), &key), -1);
  EXPECT_EQ(key, "");
  EXPECT_EQ(client.localPathOfKey(std::string(2000, 'k')), "");
  EXPECT_EQ(client.driveState(), 2);
}

TEST(ControlPipeServerTest, APipeThatCannotBeServedIsReported) {
  TempDir dir;
  DriveProcess drive;
  std::atomic<int> lost{0};
  ControlPipeServer first(drive, dir.file("Tarvex"), [&] { ++lost; });
  ASSERT_TRUE(first.start());
  // One instance only: a second server on the same path fails and reports the pipe lost.
  ControlPipeServer second(drive, dir.file("Tarvex"), [&] { ++lost; });
  EXPECT_FALSE(second.start());
  WaitFor([&] { return lost != 0; }, std::chrono::seconds(5));
  EXPECT_EQ(lost, 1);
  RawPipeClient client(dir.file("Tarvex"));
  EXPECT_TRUE(client.connected());
}

}  // namespace
