// The page's operations as the page calls them: the slot table of the meta-object, the result
// texts, the drive operations against a scripted drive program at the real pipe, the page
// store, and a download that starts once the page hands over its session.
#include <gtest/gtest.h>
#include <json/json.h>

#include <QApplication>
#include <QDesktopServices>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaMethod>
#include <QUrl>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "desktop/bridge/ResultText.h"
#include "desktop/drive/CAction.h"
#include "desktop/settings/CConfig.h"
#include "desktop/shell/DesktopContext.h"
#include "desktop/shell/WebData.h"
#include "desktop/transfers/DownloadFile.h"
#include "platform/driveroot/DriveRoot.h"
#include "tests/desktop/shell/ScriptedDrivePipe.h"
#include "tests/support/Files.h"
#include "tests/support/LoopbackClients.h"
#include "tests/support/ReferenceServer.h"
#include "tests/support/TempDir.h"
#include "tests/support/Wait.h"

using namespace std::chrono_literals;

// Catches what the bridge opens with the system's default handler.
class OpenedUrls : public QObject {
  Q_OBJECT
 public:
  QStringList paths;
 public slots:
  void open(const QUrl& url) { paths << url.toLocalFile(); }
};

namespace {

void EnsureApplication() {
  static int argc = 1;
  static char name[] = "webdata_test";
  static char* argv[] = {name, nullptr};
  if (QCoreApplication::instance() == nullptr) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    new QApplication(argc, argv);
  }
}

QJsonObject Parsed(const QString& text) {
  QJsonParseError error{};
  QJsonDocument document = QJsonDocument::fromJson(text.toUtf8(), &error);
  EXPECT_EQ(error.error, QJsonParseError::NoError) << text.toStdString();
  return document.object();
}

// A bridge in a program folder of its own, with its pipe there and `driveProgram` to start.
class WebDataTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureApplication();
    ::setenv("QUELLAN_PIPE", pipePath().c_str(), 1);
    context_ = std::make_unique<DesktopContext>(QString::fromStdString(folder_.path()));
    action_ = std::make_unique<CAction>(QString::fromStdString(folder_.file("drive.sh")),
                                        QString::fromStdString(folder_.path()));
    settings_ = std::make_unique<CConfig>(context_->settingsPath());
    settings_->load();
    bridge_ = std::make_unique<WebData>(*context_, *action_, *settings_, nullptr);
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &opened_, "open");
  }
  void TearDown() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }

  std::string pipePath() const { return folder_.file("run/Tarvex"); }
  // A drive program that only notes each start.
  void writeDriveProgram() {
    WriteFile(folder_.file("drive.sh"),
              "#!/bin/sh\necho \"$@\" >> \"" + folder_.file("starts") + "\"\n");
    std::filesystem::permissions(folder_.file("drive.sh"), std::filesystem::perms::owner_all);
  }

  TempDir folder_;
  std::unique_ptr<DesktopContext> context_;
  std::unique_ptr<CAction> action_;
  std::unique_ptr<CConfig> settings_;
  std::unique_ptr<WebData> bridge_;
  OpenedUrls opened_;
};

// The page's interface: each slot with its index, return type and parameters.
TEST(WebDataSlots, TheMetaObjectListsTheSlotsInTheirFixedOrder) {
  const char* const kSlots[] = {
      "void init()",
      "QString getUserName()",
      "QString getPassWord()",
      "QString getDriveLetter()",
      "QString getRunDriveLetter()",
      "QString getDriveLetterList()",
      "QString getServerAddress()",
      "QString setUserName(QString username)",
      "QString setPassWord(QString password)",
      "QString setDriveLetter(QChar letter)",
      "QString play(QString fileid)",
      "QString saveData(QString key, QString value)",
      "QString getData(QString key)",
      "QString restartDisk()",
      "QString startDisk(int maxRetryTimes, int timeout)",
      "QString stopDisk()",
      "QString openFolder(QString fileid)",
      "QString flushList()",
      "QString openLocalFile(QString fileid)",
      "QString openLocalFolder(QString fileid)",
      "QString getClipTextData()",
      "QString openUrl(QString url)",
      "QString setMaxActiveDownloadTaskNumber(int maxActiveDownloadTaskNumber)",
      "QString getAllDownloadTaskList()",
      "QString getDownloadingTaskList()",
      "QString getCompletedTaskList()",
      "QString modifyLocalSavePath(QString fileid, QString filename, bool isSetToDefualt)",
      "QString modifyDefaultLocalSavePath()",
      "QString modifyLocalPath()",
      "QString getDefaultLocalSavePath()",
      "QString setDefaultLocalSavePath(QString path)",
      "QString getDiskInfo(QString fileid)",
      ("QString addLocalDownloadTask(QString fileid, QString url, QString filepath, "
       "qlonglong fullsize, bool isAutoStart)"),
      "QString pauseDownloadTask(QString fileid)",
      "QString startDownloadTask(QString fileid)",
      "QString deleteDownloadTask(QString fileid, bool isDeleteLocal)",
      "QString getLocalFilePath()",
      "QString addLocalUploadTask(QString filepath, QString pid, bool isAutoStart)",
      "QString pauseUploadTask(QString upid)",
      "QString startUploadTask(QString upid)",
      "QString deleteUploadTask(QString upid, bool isDeleteFile)",
      "QString getAllUploadTaskList()",
      "QString getUploadingTaskList()",
      "QString getCompletedUploadingTaskList()",
      "QString mkdir(QString id, QString path)",
      "QString remove(QString id, bool isRemoveEmptyFolder)",
      "QString getNetDiskStatus()",
      "QString getFileList(QString fileIdList, int filter)",
      "QString getFolderListById(QString id)",
      "QString getFolderTree(int filter)",
      "QString rename(QString id, QString name)",
      "QString getNetDiskFileList(QString fileId, bool sub)",
      "QString getCurVersion()",
      "void getNewVersion(QString back)",
      "void downloadNewProgram(QString back)",
      "void setMouseMoveRange(int top, int left, int height, int width)",
      "void isMoving(bool moving)",
      "void moveScreenCentre()",
      "void close()",
      "void miniWindow()",
      "void hideWindow()",
      "void moveWindow(int x, int y)",
      "void setLoginSession(QString session)",
      "void resize(int w, int h)",
      "void hide()",
      "void show()",
  };
  const QMetaObject& meta = WebData::staticMetaObject;
  // Slots added for newer pages come after the fixed ones.
  ASSERT_GE(meta.methodCount() - meta.methodOffset(), 66);
  for (int i = 0; i < 66; ++i) {
    QMetaMethod method = meta.method(meta.methodOffset() + i);
    QStringList parameters;
    for (int p = 0; p < method.parameterCount(); ++p)
      parameters << QString::fromLatin1(method.parameterTypes()[p] + ' ' +
                                        method.parameterNames()[p]);
    QString declared = QString::fromLatin1(method.typeName()) + ' ' +
                       QString::fromLatin1(method.name()) + '(' + parameters.join(", ") + ')';
    EXPECT_EQ(declared.toStdString(), kSlots[i]) << "slot " << i;
    EXPECT_EQ(method.methodType(), QMetaMethod::Slot) << kSlots[i];
    EXPECT_EQ(method.access(), QMetaMethod::Public) << kSlots[i];
  }
}

// How the text was made before: every UTF-16 unit above 128 written as "\u" into the value,
// the styled writer, then every pair of backslashes made single.
QString EarlierResultText(const QString& value) {
  QString escaped;
  for (QChar unit : value)
    escaped += unit.unicode() <= 128
                   ? QString(unit)
                   : QStringLiteral("\\u%1").arg(unit.unicode(), 4, 16, QLatin1Char('0'));
  Json::Value object;
  object["returnCode"] = 0;
  object["result"] = escaped.toStdString();
  return QString::fromStdString(Json::StyledWriter().write(object))
      .replace(QStringLiteral("\\\\"), QStringLiteral("\\"));
}

TEST_F(WebDataTest, TextsReachThePageExactly) {
  // Without a backslash the text is the one the page always got.
  for (const QString& value :
       {QStringLiteral("plain"), QStringLiteral("报告 2024.txt"), QString(QChar(0x80)),
        QStringLiteral("ÿ€"), QStringLiteral("😀 face"), QStringLiteral("say \"hi\"/x"),
        QStringLiteral("tab\tline\nend"), QString()}) {
    bridge_->saveData(QStringLiteral("k"), value);
    QString text = bridge_->getData(QStringLiteral("k"));
    EXPECT_EQ(text, EarlierResultText(value)) << value.toStdString();
    EXPECT_EQ(Parsed(text)[QStringLiteral("result")].toString(), value);
  }
  // With backslashes the value arrives as stored; the pair replacement broke it.
  for (const QString& value : {QStringLiteral("C:\\dl\\a.txt"), QStringLiteral("\\u4e2d"),
                               QStringLiteral("two\\\\ end\\"), QStringLiteral("\\\"")}) {
    bridge_->saveData(QStringLiteral("k"), value);
    QString text = bridge_->getData(QStringLiteral("k"));
    EXPECT_EQ(Parsed(text)[QStringLiteral("result")].toString(), value) << text.toStdString();
    QJsonParseError error{};
    QJsonDocument earlier = QJsonDocument::fromJson(EarlierResultText(value).toUtf8(), &error);
    EXPECT_TRUE(error.error != QJsonParseError::NoError ||
                earlier.object()[QStringLiteral("result")].toString() != value);
  }

  // A Chinese file name from the folder list: four lower-case hex digits per character,
  // parsed back unchanged; records carry paths with "/".
  WriteFile(folder_.file(".filelist"),
            "4000|1\r\n1||||1|1|f1\r\n1|f1||我的空间|1|0|a\r\n"
            "0|a|报告.txt|1700000000|1700000000|\\我的空间|1|12\r\n");
  QString text = bridge_->getFileList(QString(), 0);
  EXPECT_NE(text.indexOf(QStringLiteral("\"\\u62a5\\u544a.txt\"")), -1) << text.toStdString();
  QJsonArray files = Parsed(text)[QStringLiteral("result")].toArray();
  ASSERT_EQ(files.size(), 1);
  EXPECT_EQ(files[0].toObject()[QStringLiteral("fileName")].toString(), QStringLiteral("报告.txt"));
  EXPECT_EQ(files[0].toObject()[QStringLiteral("path")].toString(), QStringLiteral("/我的空间"));
  EXPECT_EQ(files[0].toObject()[QStringLiteral("fileSize")].toString(), QStringLiteral("12"));
  QJsonArray tree = Parsed(bridge_->getFolderTree(1))[QStringLiteral("result")].toArray();
  ASSERT_EQ(tree.size(), 1);
  EXPECT_EQ(tree[0].toObject()[QStringLiteral("name")].toString(), QStringLiteral("我的空间"));
  EXPECT_EQ(Parsed(bridge_->getFolderTree(2))[QStringLiteral("result")].toArray().size(), 0);
}

TEST_F(WebDataTest, AnEmptyValueRemovesTheKeyFromThePageStore) {
  bridge_->saveData(QStringLiteral("名字"), QStringLiteral("值"));
  EXPECT_EQ(Parsed(bridge_->getData(QStringLiteral("名字")))[QStringLiteral("result")].toString(),
            QStringLiteral("值"));
  EXPECT_NE(ReadFile(folder_.file(".data")).find("data"), std::string::npos);
  QJsonObject saved = Parsed(bridge_->saveData(QStringLiteral("名字"), QString()));
  EXPECT_EQ(saved[QStringLiteral("returnCode")].toInt(), 0);
  EXPECT_EQ(ReadFile(folder_.file(".data")).find("data/"), std::string::npos);
  EXPECT_EQ(Parsed(bridge_->getData(QStringLiteral("名字")))[QStringLiteral("result")].toString(),
            QString());
}

TEST_F(WebDataTest, PlayAndOpenFolderMapTheDriveProgramsAnswers) {
  QJsonObject unreachable = Parsed(bridge_->play(QStringLiteral("a")));
  EXPECT_EQ(unreachable[QStringLiteral("returnCode")].toInt(), -1);
  EXPECT_EQ(unreachable[QStringLiteral("errorMessage")].toString(),
            QStringLiteral("无法连接服务程序"));

  struct Row {
    std::string answer;
    int code;
    QString message;
  };
  const Row rows[] = {
      {"", -99, QStringLiteral("该文件不存在")},
      {"-12", -97, QStringLiteral("账号被另外登录，请重新登录")},
      {"-11", -98, QStringLiteral("服务器维护暂不可用")},
      {"-1", -1, QStringLiteral("连接服务器地址错误")},
      {"-7", -90, QStringLiteral("未知错误")},
      {"M:\\图片\\a.jpg", 0, QString()},
  };
  std::string answer;
  ScriptedDrivePipe drive(pipePath(), [&](const PipeMessage& request) {
    return ScriptedDrivePipe::Reply(request, answer);
  });
  ASSERT_TRUE(drive.created());
  for (const Row& row : rows) {
    answer = row.answer;
    QJsonObject played = Parsed(bridge_->play(QStringLiteral("k")));
    EXPECT_EQ(played[QStringLiteral("returnCode")].toInt(), row.code) << row.answer;
    EXPECT_EQ(played[QStringLiteral("errorMessage")].toString(), row.message) << row.answer;
  }
  EXPECT_EQ(drive.requests().back().command, 13);
  EXPECT_EQ(drive.requests().back().text, "k");
  QJsonObject folder = Parsed(bridge_->openFolder(QStringLiteral("k")));
  EXPECT_EQ(folder[QStringLiteral("returnCode")].toInt(), 0);
  QString root = QString::fromStdString(driveroot::DriveRoot());
  EXPECT_EQ(opened_.paths, QStringList({root + QStringLiteral("/M/图片/a.jpg"),
                                        root + QStringLiteral("/M/图片")}));
}

// The drive program answers a removed entry's path below its root; every folder above it is
// asked for its children and removed while it has none. A count that failed (-1) is not
// "none": the walk stops there as at a folder with children.
TEST_F(WebDataTest, RemoveWalksUpOnlyWhileFoldersAreEmpty) {
  for (int topCount : {3, -1}) {
    SCOPED_TRACE(topCount);
    std::map<std::string, int> children = {{"\\a\\b\\c", 0}, {"\\a\\b", 0}, {"\\a", topCount}};
    std::vector<std::string> removed;
    ScriptedDrivePipe drive(
        pipePath(), [&](const PipeMessage& request) -> std::optional<PipeMessage> {
          std::string text(request.firstPart());
          switch (request.command) {
            case 32:
              return ScriptedDrivePipe::TwoPartReply(request, "0", "\\a\\b\\c\\f.txt");
            case 14:
              return ScriptedDrivePipe::Reply(request, std::to_string(children.at(text)));
            case 35:
              removed.push_back(text);
              return ScriptedDrivePipe::Reply(request, "0");
            default:
              return std::nullopt;
          }
        });
    ASSERT_TRUE(drive.created());
    QJsonObject kept = Parsed(bridge_->remove(QStringLiteral("f"), false));
    EXPECT_EQ(kept[QStringLiteral("returnCode")].toInt(), 0);
    EXPECT_EQ(drive.requests().size(), 1u) << "no parent folder is looked at";

    QJsonObject walked = Parsed(bridge_->remove(QStringLiteral("f"), true));
    EXPECT_EQ(walked[QStringLiteral("returnCode")].toInt(), 0);
    EXPECT_EQ(removed, (std::vector<std::string>{"\\a\\b\\c", "\\a\\b"}));
    EXPECT_EQ(drive.requests().back().command, 14);
    EXPECT_EQ(drive.requests().back().text, "\\a");
  }
}

// A drive program that stays on its way is waited for, and not joined by a second one.
TEST_F(WebDataTest, StartDiskGivesUpAfterItsAttempts) {
  WriteFile(folder_.file("drive.sh"),
            "#!/bin/sh\necho \"$@\" >> \"" + folder_.file("starts") + "\"\nexec sleep 30\n");
  std::filesystem::permissions(folder_.file("drive.sh"), std::filesystem::perms::owner_all);
  auto started = std::chrono::steady_clock::now();
  QJsonObject answer = Parsed(bridge_->startDisk(2, 1));
  auto waited = std::chrono::steady_clock::now() - started;
  EXPECT_EQ(answer[QStringLiteral("returnCode")].toInt(), -1);
  EXPECT_EQ(answer[QStringLiteral("errorMessage")].toString(), QStringLiteral("超时错误"));
  EXPECT_GE(waited, 2s);
  EXPECT_LT(waited, 5s);
  std::string line = "-d " + folder_.path() + " -t\n";
  EXPECT_TRUE(WaitFor([&] { return ReadFile(folder_.file("starts")) == line; }))
      << ReadFile(folder_.file("starts"));
  action_->stopDrive();

  // A mounted drive answers at once, without a start.
  ScriptedDrivePipe drive(pipePath(), [](const PipeMessage& request) {
    return ScriptedDrivePipe::Reply(request, "2");
  });
  ASSERT_TRUE(drive.created());
  EXPECT_EQ(Parsed(bridge_->startDisk(3, 10))[QStringLiteral("returnCode")].toInt(), 0);
  EXPECT_EQ(ReadFile(folder_.file("starts")), line);
}

// A drive program that ends at once: the page learns what it said within 2 s of its end,
// whether it waits in startDisk or starts the drive and follows the status, and no slot holds
// the window while the drive starts or stops.
TEST_F(WebDataTest, AFailedStartTellsTheDriveProgramsReason) {
  const std::string reason = "quellan: cannot make the control pipe /x/Tarvex";
  WriteFile(folder_.file("drive.sh"), "#!/bin/sh\necho \"" + reason + "\" >&2\nexit 1\n");
  std::filesystem::permissions(folder_.file("drive.sh"), std::filesystem::perms::owner_all);
  const QString expected = QStringLiteral("网盘启动失败：") + QString::fromStdString(reason);

  auto started = std::chrono::steady_clock::now();
  QJsonObject answer = Parsed(bridge_->startDisk(1, 20));
  EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
  EXPECT_EQ(answer[QStringLiteral("returnCode")].toInt(), -1);
  EXPECT_EQ(answer[QStringLiteral("errorMessage")].toString(), expected);

  auto slowest = std::chrono::steady_clock::duration::zero();
  auto timed = [&](auto slot) {
    auto before = std::chrono::steady_clock::now();
    QString text = slot();
    slowest = std::max(slowest, std::chrono::steady_clock::now() - before);
    return Parsed(text);
  };
  EXPECT_EQ(timed([&] { return bridge_->beginStartDisk(); })[QStringLiteral("returnCode")].toInt(),
            0);
  QJsonObject status;
  ASSERT_TRUE(WaitFor(
      [&] {
        status =
            timed([&] { return bridge_->getNetDiskStatus(); })[QStringLiteral("result")].toObject();
        return status.contains(QStringLiteral("Reason"));
      },
      2s))
      << QJsonDocument(status).toJson().toStdString();
  EXPECT_EQ(status[QStringLiteral("Reason")].toString(), expected);
  EXPECT_FALSE(status.contains(QStringLiteral("Action")));
  timed([&] { return bridge_->stopDisk(); });
  timed([&] { return bridge_->restartDisk(); });
  timed([&] { return bridge_->getNetDiskStatus(); });
  EXPECT_LT(slowest, 100ms);
  EXPECT_TRUE(action_->waitUntilIdle(5s));
}

// Failures reach the page in Chinese: a drive program's code comes with a sentence beside
// the message that ends in it, and what the system cannot open is named with the reason,
// never with a library's English text.
TEST_F(WebDataTest, FailuresReadAsChineseSentences) {
  struct Row {
    const char* operation;
    int code;
    QString message;
    QString sentence;
  };
  const Row rows[] = {
      {"rename", -6009, QStringLiteral("其他错误:-6009"),
       QStringLiteral("这是受保护或只读的文件夹，不能重命名、删除或在其中新建")},
      {"rename", -183, QStringLiteral("目的文件已经存在:-183"),
       QStringLiteral("已经有同名的文件或文件夹")},
      {"rename", -148, QStringLiteral("其他错误:-148"),
       QStringLiteral("文件或文件夹正在使用中，请关闭使用它的程序后重试")},
      {"mkdir", -3, QStringLiteral("父目录不存在:-3"),
       QStringLiteral("所在的文件夹已经不存在，请刷新列表后重试")},
      {"remove", -5, QStringLiteral("删除指定目录失败:-5"),
       QStringLiteral("没有权限修改这个文件或文件夹")},
      {"remove", -77, QStringLiteral("删除指定目录失败:-77"),
       QStringLiteral("操作没有成功，请稍后重试")},
  };
  int code = 0;
  ScriptedDrivePipe drive(pipePath(), [&](const PipeMessage& request) {
    if (request.command == 34) return ScriptedDrivePipe::Reply(request, std::to_string(code));
    return ScriptedDrivePipe::TwoPartReply(request, std::to_string(code), "");
  });
  ASSERT_TRUE(drive.created());
  for (const Row& row : rows) {
    SCOPED_TRACE(row.message.toStdString());
    code = row.code;
    const std::string operation = row.operation;
    QString text =
        operation == "rename"  ? bridge_->rename(QStringLiteral("k"), QStringLiteral("新"))
        : operation == "mkdir" ? bridge_->mkdir(QStringLiteral("k"), QStringLiteral("新"))
                               : bridge_->remove(QStringLiteral("k"), false);
    QJsonObject answer = Parsed(text);
    EXPECT_EQ(answer[QStringLiteral("returnCode")].toInt(), -1);
    EXPECT_EQ(answer[QStringLiteral("errorMessage")].toString(), row.message);
    EXPECT_EQ(answer[QStringLiteral("errorText")].toString(), row.sentence);
  }

  // With no handler on the system, opening fails with the reason.
  QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
  const QString downloads = QString::fromStdString(folder_.file("下载"));
  bridge_->setDefaultLocalSavePath(downloads);
  const QString missing = QString::fromStdString(folder_.file("没有.txt"));
  const struct {
    QString answer;
    QString message;
  } opens[] = {
      {bridge_->openLocalFolder(QString()),
       QStringLiteral("系统中没有可以打开文件夹“%1”的程序，请安装相应的程序后重试").arg(downloads)},
      {bridge_->openUrl(missing), QStringLiteral("“%1”不存在，无法打开").arg(missing)},
  };
  for (const auto& open : opens) {
    QJsonObject answer = Parsed(open.answer);
    EXPECT_EQ(answer[QStringLiteral("returnCode")].toInt(), -1);
    EXPECT_EQ(answer[QStringLiteral("errorMessage")].toString(), open.message);
  }
}

// A download added from the page waits until the page gives its session and the limit of
// running downloads lets it run, then completes.
TEST_F(WebDataTest, DownloadsStartWithThePagesSession) {
  ReferenceServer server;
  server.addUser("alice", "secret");
  WriteFile(server.userDir("alice") + "/下载空间/a.bin", std::string(200000, 'x'));
  ASSERT_TRUE(server.start());
  testclients::WebSession web(server.webPort());
  web.login("alice", "secret");
  auto listing = web.list();
  ASSERT_TRUE(listing && listing->byName("a.bin"));
  std::string id = listing->byName("a.bin")->id;
  auto login = testclients::HttpGet(
      server.webPort(), "/page/login?username=alice&password=" + testclients::Md5("secret"));
  ASSERT_EQ(login.body.substr(0, 3), "ok,");

  DownloadFile downloads(QString::fromStdString(folder_.path()), context_->downloadCounts);
  bridge_->setDownloads(&downloads);
  QString url = QStringLiteral("http://127.0.0.1:%1/download?id=%2")
                    .arg(server.webPort())
                    .arg(QString::fromStdString(id));
  QString target = QString::fromStdString(folder_.file("下载/a.bin"));
  QJsonObject added =
      Parsed(bridge_->addLocalDownloadTask(QString::fromStdString(id), url, target, 200000, true));
  EXPECT_EQ(added[QStringLiteral("returnCode")].toInt(), 0);
  downloads.timer();
  EXPECT_EQ(downloads.task(id)->status, kTaskWaiting);

  // The page's limit holds the download back even with the session, until it is raised.
  bridge_->setMaxActiveDownloadTaskNumber(0);
  ASSERT_TRUE(
      QMetaObject::invokeMethod(bridge_.get(), "setLoginSession",
                                Q_ARG(QString, QString::fromStdString(login.body.substr(3)))));
  downloads.timer();
  EXPECT_EQ(downloads.task(id)->status, kTaskWaiting);
  bridge_->setMaxActiveDownloadTaskNumber(5);
  auto finished = [&] {
    downloads.timer();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    auto task = downloads.task(id);
    return task && task->status == kTaskCompleted && !context_->downloadCounts.running();
  };
  ASSERT_TRUE(WaitFor(finished, 30s));
  EXPECT_EQ(ReadFile(target.toStdString()), std::string(200000, 'x'));
  QJsonArray completed =
      Parsed(bridge_->getCompletedTaskList())[QStringLiteral("result")].toArray();
  ASSERT_EQ(completed.size(), 1);
  EXPECT_EQ(completed[0].toObject()[QStringLiteral("status")].toString(),
            QStringLiteral("completed"));
  EXPECT_EQ(completed[0].toObject()[QStringLiteral("fileName")].toString(),
            QStringLiteral("a.bin"));
  QJsonObject twice =
      Parsed(bridge_->addLocalDownloadTask(QString::fromStdString(id), url, target, 200000, false));
  EXPECT_EQ(twice[QStringLiteral("errorMessage")].toString(), QStringLiteral("该任务已经存在"));
  bridge_->setDownloads(nullptr);
}

}  // namespace

#include "WebDataTest.moc"
