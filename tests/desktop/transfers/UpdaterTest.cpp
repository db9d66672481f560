// The updater against the reference service's update description and program file, and the
// installation of the downloaded program.
#include <gtest/gtest.h>
#include <json/json.h>
#include <unistd.h>

#include <QRegularExpression>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "desktop/transfers/MVersion.h"
#include "desktop/transfers/UpdateInstaller.h"
#include "tests/desktop/transfers/QtTestApp.h"
#include "tests/support/Files.h"
#include "tests/support/LoopbackClients.h"
#include "tests/support/ReferenceServer.h"
#include "tests/support/TempDir.h"

namespace {

class UpdaterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureQtApplication();
    releaseFile_ = programs_.file("quellanview-2.1");
    WriteFile(releaseFile_, program_);
    ASSERT_TRUE(server_.start(0, {"--release", releaseFile_, "--release-version", "2.1.0"}));
    WriteFile(folder_.file("release.ini"), "[Version]\r\nNumber=2.0.0\r\nUrl=http://127.0.0.1:" +
                                               std::to_string(server_.webPort()) +
                                               "/update/release.ini\r\n");
  }

  // Requests for the program file since the start, as the statuses answered.
  std::vector<int> programRequests() {
    std::vector<int> statuses;
    std::ifstream log(server_.logPath());
    for (std::string line; std::getline(log, line);) {
      if (line.find("GET /update/quellanview-2.1") == std::string::npos) continue;
      statuses.push_back(std::stoi(line.substr(line.find("-> ") + 3)));
    }
    return statuses;
  }

  // The updater with its answers collected; the check done.
  std::unique_ptr<MVersion> checkedUpdater() {
    auto updater = std::make_unique<MVersion>(QString::fromStdString(folder_.path()));
    QObject::connect(updater.get(), &MVersion::answer,
                     [this](const QString& script) { answers_ << script; });
    updater->check(QStringLiteral("onVersion"));
    PumpUntil([&] { return !answers_.isEmpty(); });
    return updater;
  }

  QString finalAnswer() const {
    for (const QString& answer : answers_)
      if (answer.contains(QStringLiteral("\"File\"")) || answer.contains(QStringLiteral("-1")))
        return answer;
    return {};
  }

  // An ELF program as far as its first bytes tell.
  const std::string program_ =
      "\x7f"
      "ELF" +
      PatternBytes(3 << 20, 21);
  TempDir programs_;
  TempDir folder_;
  std::string releaseFile_;
  ReferenceServer server_;
  QStringList answers_;
};

TEST_F(UpdaterTest, CheckAnswersTheNewVersionAndKeepsTheDescription) {
  auto updater = checkedUpdater();
  EXPECT_EQ(updater->currentVersion(), QStringLiteral("2.0.0"));
  ASSERT_EQ(answers_.size(), 1);
  EXPECT_EQ(answers_[0], QStringLiteral("onVersion({\"result\":\"2.1.0\",\"returnCode\":0})"));
  EXPECT_NE(ReadFile(folder_.file(".release")).find("Md5=" + testclients::Md5(program_)),
            std::string::npos);
  EXPECT_EQ(updater->targetPath(),
            QString::fromStdString(folder_.path() + "/update/quellanview-2.1"));

  server_.stop();  // a failed check answers -1 with the reason
  answers_.clear();
  updater->check(QStringLiteral("onVersion"));
  ASSERT_TRUE(PumpUntil([&] { return !answers_.isEmpty(); }));
  EXPECT_TRUE(answers_[0].startsWith(QStringLiteral("onVersion({\"errorMessage\":\"\\u83b7")));
  EXPECT_TRUE(answers_[0].contains(QStringLiteral("\"returnCode\":-1")));
}

// The text of an answer's "errorMessage" (or "result"), decoded from the script
// "callback({...})".
QString AnswerText(const QString& script) {
  QString json = script.mid(script.indexOf('(') + 1);
  json.chop(1);
  Json::Value value;
  std::istringstream in(json.toStdString());
  if (!Json::parseFromStream(Json::CharReaderBuilder(), in, &value, nullptr)) return script;
  const Json::Value& text =
      value.isMember("errorMessage") ? value["errorMessage"] : value["result"];
  return QString::fromStdString(text.asString());
}

// With nothing published the update server answers 404: the page hears it in Chinese, without
// the network library's English text.
TEST_F(UpdaterTest, NothingPublishedIsSaidInThePagesLanguage) {
  ReferenceServer bare;
  ASSERT_TRUE(bare.start(0));
  WriteFile(folder_.file("release.ini"),
            "[Version]\r\nNumber=2.0.0\r\nUrl=http://127.0.0.1:" + std::to_string(bare.webPort()) +
                "/update/release.ini\r\n");
  auto updater = checkedUpdater();
  ASSERT_EQ(answers_.size(), 1);
  EXPECT_EQ(AnswerText(answers_[0]), QStringLiteral("获取版本文件失败：服务器上还没有发布新版本"));
}

TEST_F(UpdaterTest, DownloadResumesRecognisesAndRefetches) {
  const std::string target = folder_.path() + "/update/quellanview-2.1";
  std::string wrong = program_;
  wrong[100] ^= 1;
  struct Case {
    const char* name;
    std::string before;  // local file before the download; none when empty
    bool capitalDigest;
    std::vector<int> requests;
  } cases[] = {
      {"none", "", false, {200}},
      {"partial", program_.substr(0, 1000), false, {206}},
      {"complete", program_, false, {}},
      {"complete, capital digest", program_, true, {}},
      {"wrong digest", wrong, false, {200}},
      {"longer", program_ + "x", false, {200}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    answers_.clear();
    auto updater = checkedUpdater();
    std::filesystem::remove(target);
    if (!c.before.empty()) WriteFile(target, c.before);
    if (c.capitalDigest) {
      std::string release = ReadFile(folder_.file(".release"));
      std::string digest = testclients::Md5(program_);
      std::string upper = digest;
      for (char& ch : upper) ch = static_cast<char>(std::toupper(ch));
      release.replace(release.find(digest), digest.size(), upper);
      WriteFile(folder_.file(".release"), release);
      updater->readRelease();
    }
    size_t requestsBefore = programRequests().size();
    updater->download(QStringLiteral("onDownload"));
    // While a download runs a second call is ignored; a complete file answers at once, so
    // there the second call answers again.
    updater->download(QStringLiteral("onDownload"));
    ASSERT_TRUE(PumpUntil([&] { return !finalAnswer().isEmpty(); }));
    const QString size = QString::number(program_.size());
    EXPECT_EQ(finalAnswer(), QStringLiteral("onDownload({\"result\":{\"File\":\"%1\",\"Received\":"
                                            "\"%2\",\"Total\":\"%2\"},\"returnCode\":0})")
                                 .arg(QString::fromStdString(target), size));
    EXPECT_EQ(ReadFile(target), program_);
    std::vector<int> requests = programRequests();
    EXPECT_EQ(
        std::vector<int>(requests.begin() + static_cast<long>(requestsBefore), requests.end()),
        c.requests);
    int finals = 0;
    for (const QString& answer : answers_) finals += answer.contains(QStringLiteral("\"File\""));
    EXPECT_EQ(finals, c.requests.empty() ? 2 : 1);
  }
}

TEST_F(UpdaterTest, AFileUnlikeTheDescriptionIsDeletedAndThePageToldWhy) {
  const std::string target = folder_.path() + "/update/quellanview-2.1";
  std::string flipped = program_;
  flipped[100] ^= 1;
  struct Case {
    const char* name;
    std::string served;  // what the update server sends instead of the announced file
  } cases[] = {{"two-line script", "#!/bin/sh\necho replaced\n"},
               {"same length, other bytes", flipped}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    answers_.clear();
    auto updater = checkedUpdater();  // announces the length and digest of program_
    std::filesystem::remove(target);
    WriteFile(releaseFile_, c.served);
    updater->download(QStringLiteral("onDownload"));
    ASSERT_TRUE(PumpUntil([&] { return !finalAnswer().isEmpty(); }));
    EXPECT_TRUE(finalAnswer().startsWith(QStringLiteral("onDownload({\"errorMessage\":")));
    // "...校验失败..." (the check failed), escaped for the page.
    EXPECT_TRUE(finalAnswer().contains(QStringLiteral("\\u6821\\u9a8c\\u5931\\u8d25")))
        << finalAnswer().toStdString();
    EXPECT_TRUE(finalAnswer().contains(QStringLiteral("\"returnCode\":-1")));
    EXPECT_FALSE(std::filesystem::exists(target));
  }
}

// In the build tree the downloaded program takes the running program's place, executable, and
// the program is asked to restart; before the download there is nothing to install.
TEST_F(UpdaterTest, InstallReplacesTheProgramWithTheExecutableDownload) {
  TempDir bin;
  const std::string program = bin.file("quellanview");
  WriteFile(program, "old program");
  auto updater = checkedUpdater();
  UpdateInstaller installer(*updater, QString::fromStdString(program));
  QStringList installed;
  int restarts = 0;
  QObject::connect(&installer, &UpdateInstaller::answer,
                   [&](const QString& script) { installed << script; });
  QObject::connect(&installer, &UpdateInstaller::restartWanted, [&] { ++restarts; });

  installer.install(QStringLiteral("onInstalled"));
  ASSERT_EQ(installed.size(), 1);
  EXPECT_EQ(AnswerText(installed[0]), QStringLiteral("新版本还没有下载完成，请先下载"));
  EXPECT_EQ(ReadFile(program), "old program");

  updater->download(QStringLiteral("onDownload"));
  ASSERT_TRUE(PumpUntil([&] { return !finalAnswer().isEmpty(); }));
  installer.install(QStringLiteral("onInstalled"));
  ASSERT_TRUE(PumpUntil([&] { return restarts == 1; }));
  ASSERT_EQ(installed.size(), 2);
  EXPECT_TRUE(installed[1].contains(QStringLiteral("\"returnCode\":0")))
      << installed[1].toStdString();
  EXPECT_EQ(ReadFile(program), program_);
  EXPECT_EQ(::access(program.c_str(), X_OK), 0) << "the new program is executable";
}

}  // namespace
