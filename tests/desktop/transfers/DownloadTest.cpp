// Download tasks against the reference service's signed download endpoint.
#include <gtest/gtest.h>

#include <QDir>
#include <filesystem>
#include <fstream>

#include "desktop/tasklines/TaskLine.h"
#include "desktop/transfers/ActiveDownloads.h"
#include "desktop/transfers/DownloadFile.h"
#include "tests/desktop/transfers/QtTestApp.h"
#include "tests/support/Files.h"
#include "tests/support/LoopbackClients.h"
#include "tests/support/ReferenceServer.h"
#include "tests/support/TempDir.h"
#include "tests/support/Wait.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kDownloadSpace = "下载空间";

class DownloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureQtApplication();
    server_.addUser("alice", "secret");
    ASSERT_TRUE(server_.start());
    auto reply = testclients::HttpGet(
        server_.webPort(), "/page/login?username=alice&password=" + testclients::Md5("secret"));
    ASSERT_EQ(reply.body.substr(0, 3), "ok,");
    session_ = QString::fromStdString(reply.body.substr(3));
  }

  // Places a file in the user's download space; the task address of it.
  std::string placeFile(const std::string& name, const std::string& content) {
    WriteFile(server_.userDir("alice") + "/" + kDownloadSpace + "/" + name, content);
    testclients::WebSession web(server_.webPort());
    web.login("alice", "secret");
    auto listing = web.list();
    auto entry = listing ? listing->byName(name) : std::nullopt;
    if (!entry) return {};
    ids_[name] = entry->id;
    return "http://127.0.0.1:" + std::to_string(server_.webPort()) + "/download?id=" + entry->id;
  }

  // The statuses of the server's answers to download requests since the last mark, in order.
  void markAnswers() { answersSeen_ = allDownloadAnswers().size(); }
  std::vector<int> downloadAnswers() {
    std::vector<int> all = allDownloadAnswers();
    return std::vector<int>(all.begin() + static_cast<long>(answersSeen_), all.end());
  }
  std::vector<int> allDownloadAnswers() {
    std::vector<int> statuses;
    std::ifstream log(server_.logPath());
    for (std::string line; std::getline(log, line);) {
      if (line.find("GET /download") == std::string::npos) continue;
      size_t arrow = line.find("-> ");
      if (arrow != std::string::npos) statuses.push_back(std::stoi(line.substr(arrow + 3)));
    }
    return statuses;
  }

  // Runs scheduler passes and events until the task is completed (or `limit` passes).
  bool completes(DownloadFile& downloads, const std::string& id) {
    return PumpUntil([&] {
      downloads.timer();
      auto task = downloads.task(id);
      return task && task->status == kTaskCompleted && !active_.running();
    });
  }

  ReferenceServer server_;
  QString session_;
  TempDir local_;
  ActiveDownloads active_;
  std::map<std::string, std::string> ids_;
  size_t answersSeen_ = 0;
};

TEST_F(DownloadTest, AFileAtTheTargetIsKeptAndTheDownloadLandsBesideIt) {
  const std::string data = PatternBytes(300000, 3);
  struct Case {
    const char* name;
    std::string atTarget;  // the user's file at the target path; none when empty
    std::string atPart;    // the user's file at the target path + ".part"; none when empty
    const char* landsAs;   // the name the download gets
  } cases[] = {
      {"fresh", "", "", "fresh.bin"},
      {"shorter", data.substr(0, 1000), "", "shorter (1).bin"},
      {"same", data, "", "same (1).bin"},
      {"longer", data + "tail", "", "longer (1).bin"},
      {"other", std::string(data.size(), 'x'), "", "other (1).bin"},
      {"part", "", data.substr(0, 1000), "part (1).bin"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string name = std::string(c.name) + ".bin";
    std::string url = placeFile(name, data);
    std::string target = local_.file(name);
    if (!c.atTarget.empty()) WriteFile(target, c.atTarget);
    if (!c.atPart.empty()) WriteFile(target + ".part", c.atPart);
    markAnswers();
    DownloadFile downloads(QString::fromStdString(local_.path()), active_);
    downloads.setSession(session_);
    std::string id = ids_[name];
    ASSERT_EQ(downloads.add(id, url, target, static_cast<int64_t>(data.size()), true), 0);
    ASSERT_TRUE(completes(downloads, id));
    auto task = downloads.task(id);
    EXPECT_EQ(task->filePath, local_.file(c.landsAs));
    EXPECT_EQ(task->fileName, c.landsAs);
    EXPECT_TRUE(ReadFile(local_.file(c.landsAs)) == data);
    EXPECT_FALSE(fs::exists(local_.file(c.landsAs) + ".part"));
    EXPECT_EQ(downloadAnswers(), std::vector<int>{200});
    // What the user had is there as it was.
    EXPECT_TRUE(c.atTarget.empty() || ReadFile(target) == c.atTarget);
    EXPECT_TRUE(c.atPart.empty() || ReadFile(target + ".part") == c.atPart);
  }
}

TEST_F(DownloadTest, EndedMidTransferResumesItsOwnPartialFileAfterTheRestart) {
  const std::string data = PatternBytes(BigTestBytes(64 << 20), 5);
  std::string url = placeFile("big.bin", data);
  std::string id = ids_["big.bin"];
  std::string target = local_.file("big.bin");
  std::string part = target + ".part";
  const QString folder = QString::fromStdString(local_.path());
  {
    DownloadFile downloads(folder, active_);
    downloads.setSession(session_);
    ASSERT_EQ(downloads.add(id, url, target, static_cast<int64_t>(data.size()), true), 0);
    downloads.timer();
    ASSERT_TRUE(PumpUntil([&] { return fs::exists(part) && fs::file_size(part) > 0; }));
  }  // the program ends with the download half done
  const uintmax_t partial = fs::file_size(part);
  ASSERT_LT(partial, data.size());
  EXPECT_FALSE(fs::exists(target));  // nothing takes the name before the file is complete
  EXPECT_EQ(active_.running(), 0);

  DownloadFile restarted(folder, active_);
  restarted.setSession(session_);
  ASSERT_EQ(restarted.load(), 1);
  EXPECT_EQ(restarted.task(id)->status, kTaskStopped);  // nothing resumes by itself
  // The service logs the abandoned first request when it notices the closed connection.
  ASSERT_TRUE(WaitFor([&] { return !allDownloadAnswers().empty(); }));
  markAnswers();
  ASSERT_EQ(restarted.start(id), 0);
  ASSERT_TRUE(completes(restarted, id));
  EXPECT_EQ(restarted.task(id)->filePath, target);
  EXPECT_TRUE(ReadFile(target) == data);
  EXPECT_FALSE(fs::exists(part));
  EXPECT_EQ(downloadAnswers(), std::vector<int>{206});
}

TEST_F(DownloadTest, PauseKeepsTheBytesAndStartAppends) {
  const std::string data = PatternBytes(BigTestBytes(64 << 20), 7);
  std::string url = placeFile("paused.bin", data);
  std::string id = ids_["paused.bin"];
  std::string target = local_.file("paused.bin");
  DownloadFile downloads(QString::fromStdString(local_.path()), active_);
  downloads.setSession(session_);
  const std::string part = target + ".part";
  ASSERT_EQ(downloads.add(id, url, target, static_cast<int64_t>(data.size()), true), 0);
  downloads.timer();
  ASSERT_TRUE(PumpUntil([&] { return fs::exists(part) && fs::file_size(part) > 0; }));
  ASSERT_EQ(downloads.pause(id), 0);
  EXPECT_EQ(downloads.pause(id), -2);  // waiting for the scheduler
  ASSERT_TRUE(PumpUntil([&] {
    downloads.timer();
    return downloads.task(id)->status == kTaskStopped;
  }));
  const uintmax_t kept = fs::file_size(part);
  EXPECT_LT(kept, data.size());
  EXPECT_TRUE(ReadFile(part) == data.substr(0, kept));
  EXPECT_EQ(downloads.task(id)->size, static_cast<int64_t>(kept));

  markAnswers();
  ASSERT_EQ(downloads.start(id), 0);
  ASSERT_TRUE(completes(downloads, id));
  EXPECT_TRUE(ReadFile(target) == data);
  EXPECT_EQ(downloadAnswers(), std::vector<int>{206});
}

TEST_F(DownloadTest, SchedulerNeedsASessionAndKeepsTheLimit) {
  const std::string data = PatternBytes(8 << 20, 9);
  DownloadFile downloads(QString::fromStdString(local_.path()), active_);
  std::vector<std::string> ids;
  for (int i = 0; i < 6; ++i) {
    std::string name = "f" + std::to_string(i) + ".bin";
    std::string url = placeFile(name, data);
    ids.push_back(ids_[name]);
    ASSERT_EQ(downloads.add(ids.back(), url, local_.file(name), (int64_t)data.size(), true), 0);
  }
  downloads.timer();  // no session yet: nothing runs
  EXPECT_EQ(active_.running(), 0);
  for (const auto& id : ids) EXPECT_EQ(downloads.task(id)->status, kTaskWaiting);

  downloads.setSession(session_);
  downloads.timer();
  EXPECT_EQ(active_.running(), 5);
  EXPECT_EQ(downloads.task(ids.back())->status, kTaskWaiting);
  EXPECT_EQ(downloads.start(ids.back()), -2);  // it has its worker already
  // The sixth runs once one of the five ended.
  ASSERT_TRUE(PumpUntil([&] {
    downloads.timer();
    return downloads.task(ids.back())->status != kTaskWaiting;
  }));
  EXPECT_GE(downloads.completedTasks().size(), 1u);
  for (const auto& id : ids) ASSERT_TRUE(completes(downloads, id));
  for (int i = 0; i < 6; ++i)
    EXPECT_EQ(ReadFile(local_.file("f" + std::to_string(i) + ".bin")), data);
  EXPECT_EQ(downloads.start(ids[0]), -3);
}

TEST_F(DownloadTest, AddMakesFoldersAndTheListSurvivesARestart) {
  const QString folder = QString::fromStdString(local_.path());
  std::string windowsStyle = local_.path() + "\\dl\\a\\b.bin";
  {
    DownloadFile downloads(folder, active_);
    ASSERT_EQ(downloads.add("7", "http://127.0.0.1:1/download?id=7", windowsStyle, 10, false), 0);
    EXPECT_EQ(downloads.add("7", "http://other", "/elsewhere", 20, false), -1);
    auto task = downloads.task("7");
    ASSERT_TRUE(task);
    EXPECT_EQ(task->filePath, local_.path() + "/dl/a/b.bin");
    EXPECT_EQ(task->fileName, "b.bin");
    EXPECT_EQ(task->fullSize, 10);
    EXPECT_TRUE(fs::is_directory(local_.path() + "/dl/a"));
    WriteFile(local_.file("file"), "x");
    EXPECT_EQ(downloads.add("8", "u", local_.path() + "/file/sub/c.bin", 1, false), -2);
    int64_t total = 0, available = 0;
    EXPECT_EQ(downloads.diskInfo("7", &total, &available), 0);
    EXPECT_GT(total, 0);
    EXPECT_EQ(downloads.diskInfo("9", &total, &available), -1);
    EXPECT_EQ(downloads.remove("9", false), -1);
  }
  // Lines a restart must refuse, beside the task saved above.
  std::ofstream(local_.file(".tasklist"), std::ios::app | std::ios::binary)
      << R"({"CompletedTime":"0","CreateTime":"1","FileId":"s11","FileName":"x","FilePath":"/x","FullSize":"5","Size":"1","Status":11,"Time":0,"Url":"u"})"
         "\r\n"
      << R"({"CompletedTime":"0","CreateTime":"1","FileId":"big","FileName":"x","FilePath":"/x","FullSize":"5","Size":"6","Status":0,"Time":0,"Url":"u"})"
         "\r\n"
      << R"({"CompletedTime":"0","CreateTime":"1","FileId":"s5","FileName":"x","FilePath":"/x","FullSize":"5","Size":"1","Status":5,"Time":0,"Url":"u"})"
         "\r\n"
      << R"({"CompletedTime":"9","CreateTime":"1","FileId":"done","FileName":"x","FilePath":"/x","FullSize":"5","Size":"5","Status":2,"Time":7,"Url":"u"})"
         "\r\n"
      << R"({"CompletedTime":"0","CreateTime":"1","FileId":"negtime","FileName":"x","FilePath":"/x","FullSize":"5","Size":"1","Status":0,"Time":-1,"Url":"u"})"
         "\r\n"
      << R"({"CompletedTime":"0","CreateTime":"1","FileId":"strayPart","FileName":"x","FilePath":"/x","FullSize":"5","PartFile":"/y","Size":"1","Status":0,"Time":0,"Url":"u"})"
         "\r\n"
      << "not json\r\n";
  DownloadFile restarted(folder, active_);
  ASSERT_EQ(restarted.load(), 3);
  EXPECT_FALSE(restarted.task("s11"));
  EXPECT_FALSE(restarted.task("big"));
  EXPECT_FALSE(restarted.task("negtime"));
  EXPECT_FALSE(restarted.task("strayPart"));
  EXPECT_EQ(restarted.task("s5")->status, kTaskStopped);
  EXPECT_EQ(restarted.task("done")->status, kTaskCompleted);
  EXPECT_EQ(restarted.task("7")->filePath, local_.path() + "/dl/a/b.bin");
  EXPECT_EQ(restarted.task("7")->partPath, local_.path() + "/dl/a/b.bin.part");
  EXPECT_EQ(restarted.completedTasks().size(), 1u);
  EXPECT_EQ(restarted.downloadingTasks().size(), 2u);
}

}  // namespace
