#include "desktop/bridge/DriveAnswers.h"

#include <chrono>
#include <thread>

#include "desktop/bridge/DriveCodeText.h"
#include "desktop/bridge/DriveLetters.h"
#include "desktop/bridge/PathAnswers.h"
#include "desktop/bridge/ResultText.h"
#include "desktop/bridge/SystemOpen.h"
#include "desktop/drive/CAction.h"
#include "desktop/drive/DriveStatus.h"
#include "desktop/settings/CConfig.h"
#include "platform/driveprotocol/DriveProtocol.h"
#include "platform/ticks/Ticks.h"

namespace bridge {
namespace {

constexpr auto kStartPoll = std::chrono::milliseconds(100);

QString Unreachable() {
  return ResultText(Failure(pipe_result::kUnreachable, QStringLiteral("无法连接服务程序")));
}

QString FailureWithCode(const QString& message, int code) {
  return ResultText(DriveCodeFailure(message, code));
}

QString StartFailureText(const QString& reason) {
  return QStringLiteral("网盘启动失败：") + reason;
}

// Pending stops and restarts finish before a waiting start looks at the drive.
constexpr auto kQueuedStepsLimit = std::chrono::seconds(15);

}  // namespace

DriveAnswers::DriveAnswers(CAction& action, const DriveStatus& status, const CConfig& config)
    : action_(action),
      quick_(action.newConnection(CAction::kControlReplyLimit)),
      status_(status),
      config_(config) {}

DriveAnswers::~DriveAnswers() = default;

QString DriveAnswers::getRunDriveLetter() {
  if (quick_->openPipe() != 0) return Unreachable();
  std::string letter = quick_->runDriveLetter();
  if (letter.empty())
    return ResultText(Failure(page_result::kDriveNotRunning, QStringLiteral("网盘未启动")));
  return ResultText(Success(Text(letter)));
}

QString DriveAnswers::getDriveLetterList() const {
  Json::Value letters(Json::arrayValue);
  for (const QString& letter : OfferedDriveLetters(JoinedLogicalDrives(), config_.driveLetter))
    letters.append(Text(letter));
  return ResultText(Success(letters));
}

QString DriveAnswers::restartDisk() {
  action_.requestRestart();
  return ResultText(Success());
}

QString DriveAnswers::stopDisk() {
  action_.requestStop();
  return ResultText(Success());
}

QString DriveAnswers::beginStartDisk() {
  action_.requestStart();
  return ResultText(Success());
}

QString DriveAnswers::startDisk(int maxRetryTimes, int timeout) {
  action_.waitUntilIdle(kQueuedStepsLimit);
  const int64_t limitMs = int64_t{timeout} * 1000;
  for (int attempts = 0;; ++attempts) {
    if (quick_->driveState() == drive_state::kMounted) {
      action_.noteMounted();
      return ResultText(Success());
    }
    if (maxRetryTimes > 0 && attempts >= maxRetryTimes)
      return ResultText(Failure(-1, QStringLiteral("超时错误")));
    action_.startDrive();
    const uint32_t started = GetTickCount();
    while (quick_->driveState() != drive_state::kMounted &&
           (timeout < 1 || TicksBetween(started, GetTickCount()) < limitMs)) {
      // A drive program that ended says why at once; waiting longer would change nothing.
      QString failure = action_.startFailure();
      if (!failure.isEmpty()) return ResultText(Failure(-1, StartFailureText(failure)));
      std::this_thread::sleep_for(kStartPoll);
    }
  }
}

QString DriveAnswers::play(const QString& fileid) {
  if (action_.pipe().openPipe() != 0) return Unreachable();
  QString answer = QString::fromStdString(action_.pipe().localPathOfKey(fileid.toStdString()));
  if (auto failure = LocalPathFailure(answer))
    return ResultText(Failure(failure->code, failure->message));
  return OpenAnswer(answer);
}

QString DriveAnswers::openFolder(const QString& fileid) {
  if (action_.pipe().openPipe() != 0) return Unreachable();
  if (fileid.isEmpty()) {
    std::string letter = quick_->runDriveLetter();
    // Without a mounted drive there is no root to open.
    if (letter.empty())
      return ResultText(Failure(page_result::kDriveNotRunning, QStringLiteral("网盘未启动")));
    return OpenAnswer(QString::fromStdString(letter) + QLatin1Char(':'));
  }
  QString path = QString::fromStdString(action_.pipe().localPathOfKey(fileid.toStdString()));
  if (path.isEmpty())
    return ResultText(Failure(page_result::kDriveNotRunning, QStringLiteral("该文件不存在")));
  int separator = path.lastIndexOf(QLatin1Char('\\'));
  if (separator < 0) return ResultText(Failure(-1, QStringLiteral("该文件路径错误")));
  return OpenAnswer(path.left(separator));
}

QString DriveAnswers::flushList() {
  if (quick_->openPipe() != 0) return Unreachable();
  if (quick_->requestRefresh() < 0) return ResultText(Failure(-1, QStringLiteral("列表错误")));
  return ResultText(Success());
}

QVariantMap DriveAnswers::DriveStates() {
  QVariantMap states;
  for (const NamedDriveStatus& status : kNamedDriveStatuses)
    states.insert(QString::fromLatin1(status.name), status.code);
  return states;
}

QString DriveAnswers::getNetDiskStatus() const {
  DriveStatusValues status = status_.values();
  const CAction::Activity activity = action_.activity();
  // The watcher's last pass may lag behind a start or stop just asked for: the status then
  // tells the step under way rather than contradict it.
  int code = status.code;
  if (activity == CAction::Activity::kStopping && code == drive_state::kMounted)
    code = drive_state::kStopped;
  const bool noDriveProgramYet = code == drive_status::kNoPipe || code == drive_status::kPipeBroken;
  if (activity == CAction::Activity::kStarting && noDriveProgramYet) code = drive_state::kStarting;
  Json::Value drive;
  drive["Code"] = code;
  drive["Info"] = Text(code == status.code ? status.text : DriveStatusMessage(code));
  if (code == drive_state::kMounted) drive["Letter"] = Text(status.runDriveLetter);
  if (activity != CAction::Activity::kIdle)
    drive["Action"] = activity == CAction::Activity::kStarting ? "start" : "stop";
  QString failure = action_.startFailure();
  if (!failure.isEmpty() && activity == CAction::Activity::kIdle)
    drive["Reason"] = Text(StartFailureText(failure));
  else if (!status.note.isEmpty())
    drive["Reason"] = Text(status.note);
  return ResultText(Success(drive));
}

QString DriveAnswers::mkdir(const QString& id, QString path) {
  path.replace(QLatin1Char('/'), QLatin1Char('\\'));
  std::string key;
  int code = action_.pipe().makeFolders(id.toStdString(), path.toStdString(), &key);
  if (code == pipe_result::kOk) return ResultText(Success(Text(key)));
  if (code == pipe_result::kUnknownParent || code == pipe_result::kPathNotFound)
    return FailureWithCode(QStringLiteral("父目录不存在:"), code);
  if (code == pipe_result::kAlreadyExists)
    return FailureWithCode(QStringLiteral("要建立的目录已经存在:"), code);
  return FailureWithCode(QStringLiteral("其他错误:"), code);
}

QString DriveAnswers::rename(const QString& id, const QString& name) {
  int code = action_.pipe().rename(id.toStdString(), name.toStdString());
  if (code == pipe_result::kOk) return ResultText(Success());
  if (code == pipe_result::kAlreadyExists)
    return FailureWithCode(QStringLiteral("目的文件已经存在:"), code);
  if (code == pipe_result::kFileNotFound)
    return FailureWithCode(QStringLiteral("源文件已不存在:"), code);
  if (code == pipe_result::kGeneral) return FailureWithCode(QStringLiteral("操作失败:"), code);
  return FailureWithCode(QStringLiteral("其他错误:"), code);
}

QString DriveAnswers::remove(const QString& id, bool isRemoveEmptyFolder) {
  DrivePipeClient& pipe = action_.pipe();
  std::string path;
  int code = pipe.deleteByKey(id.toStdString(), &path);
  QString answer = code == pipe_result::kOk
                       ? ResultText(Success())
                       : FailureWithCode(QStringLiteral("删除指定目录失败:"), code);
  if (!isRemoveEmptyFolder || path.empty()) return answer;
  // The drive program answers the removed entry's path below its root ("\a\b\c"): each
  // folder above it is removed while it has no children left.
  for (auto folder = ParentFolderOf(path); folder; folder = ParentFolderOf(*folder)) {
    if (pipe.childCount(*folder) != 0 || pipe.deleteAtPath(*folder) != pipe_result::kOk) break;
  }
  return answer;
}

}  // namespace bridge
