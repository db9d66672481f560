#include "desktop/drive/CAction.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <filesystem>
#include <thread>

#include "platform/codepage/CodePage.h"
#include "platform/process/Process.h"

namespace {

constexpr int kUnmountWaitMs = 5000;
constexpr int kKillWaitMs = 5000;

// A folder as one text to compare: absolute (relative ones taken from `base`), "/" only, no
// "." or ".." steps, no trailing "/".
std::string ComparableFolder(std::string folder, const std::string& base) {
  for (char& c : folder) {
    if (c == '\\') c = '/';
  }
  std::filesystem::path path(folder);
  if (path.is_relative()) path = std::filesystem::path(base) / path;
  std::string text = path.lexically_normal().string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

QString FromLocal(const std::string& text) {
  return QString::fromStdString(codepage::WideToUtf8(codepage::AnsiToWide(text)));
}

}  // namespace

CAction::CAction(QString driveProgram, QString folder)
    : driveProgram_(std::move(driveProgram)), folder_(std::move(folder)) {}

CAction::~CAction() = default;

void CAction::setRefusalNote(DrivePipeClient::RefusalNote note) {
  refusalNote_ = std::move(note);
  pipe_.setRefusalNote(refusalNote_);
}

std::unique_ptr<DrivePipeClient> CAction::newConnection(
    std::chrono::milliseconds replyLimit) const {
  auto connection = std::make_unique<DrivePipeClient>(pipe_.path(), replyLimit);
  connection->setRefusalNote(refusalNote_);
  return connection;
}

QString CAction::DriveProgramBesideMe() {
  QString chosen = qEnvironmentVariable("QUELLAN_DRIVE_PROGRAM");
  if (!chosen.isEmpty()) return chosen;
  return QCoreApplication::applicationDirPath() + QLatin1Char('/') + QLatin1String(kDriveImage);
}

int CAction::startDrive() {
  MutexLock hold(childLock_);
  // A drive program still on its way is not joined by a second one, which would only find
  // the control pipe taken and end.
  if (child_ && child_->running()) return 0;
  child_ = std::make_unique<StartedDrive>();
  // The drive program echoes its log on its console; its standard error is kept, since that
  // is where it says why it could not start.
  child_->start({driveProgram_.toStdString(), "-d", folder_.toStdString(), "-t"},
                (folder_ + QStringLiteral("/mirror.log")).toStdString());
  return 0;
}

void CAction::WaitForUnmount(DrivePipeClient& pipe, int limitMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  while (pipe.driveState() == drive_state::kMounted && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

bool CAction::servesThisFolder(int pid) const {
  std::vector<std::string> args = process::CommandLineOf(pid);
  if (args.empty() ||
      QFileInfo(QString::fromStdString(args[0])).fileName() != QFileInfo(driveProgram_).fileName())
    return false;
  std::string base = process::WorkingFolderOf(pid);
  std::string mine = ComparableFolder(QDir(folder_).absolutePath().toStdString(), "/");
  bool forThisFolder = false;
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "service") return false;
    if (args[i] == "-d" && i + 1 < args.size())
      forThisFolder = ComparableFolder(args[i + 1], base) == mine;
  }
  return forThisFolder;
}

int CAction::stopEvents() const {
  MutexLock hold(activityLock_);
  return stopEvents_;
}

void CAction::countStopEvent() {
  MutexLock hold(activityLock_);
  ++stopEvents_;
}

int CAction::stopDrive() {
  countStopEvent();
  stopSteps();
  countStopEvent();
  return 0;
}

int CAction::stopSteps() {
  {
    MutexLock hold(childLock_);
    if (child_) child_->noteStopped();
  }
  std::unique_ptr<DrivePipeClient> pipe = newConnection(kControlReplyLimit);
  // A drive program killed while mounted would leave a dead mount behind, so the unmount
  // asked for by command 21 is given a moment to finish before the kill.
  if (pipe->stopDrive() == 0) WaitForUnmount(*pipe, kUnmountWaitMs);
  int server = pipe->serverProcess();
  pipe.reset();
  pipe_.closePipe();
  if (server > 0 && servesThisFolder(server)) process::KillOne(server, kKillWaitMs);

  MutexLock hold(childLock_);
  if (child_ && child_->running()) {
    process::KillOne(child_->pid(), kKillWaitMs);
    child_->running();  // reaps it
  }
  child_.reset();
  return 0;
}

int CAction::restartDrive() {
  stopDrive();
  return startDrive();
}

int CAction::startUnlessMounted() {
  std::unique_ptr<DrivePipeClient> pipe = newConnection(kControlReplyLimit);
  if (pipe->openPipe() == 0 && pipe->driveState() == drive_state::kMounted) return 0;
  return startDrive();
}

void CAction::setActivity(Activity activity) {
  MutexLock hold(activityLock_);
  activity_ = activity;
}

CAction::Activity CAction::activity() const {
  {
    MutexLock hold(activityLock_);
    if (activity_ != Activity::kIdle) return activity_;
  }
  return childOnItsWay() ? Activity::kStarting : Activity::kIdle;
}

bool CAction::childOnItsWay() const {
  MutexLock hold(childLock_);
  return child_ && !child_->mounted() && child_->running();
}

void CAction::post(Activity activity, int (CAction::*step)()) {
  {
    MutexLock hold(activityLock_);
    // Shown at once, so the page never sees an idle drive between asking and the step.
    if (pendingJobs_++ == 0) activity_ = activity;
  }
  jobs_.post([this, activity, step] {
    setActivity(activity);
    (this->*step)();
    MutexLock hold(activityLock_);
    if (--pendingJobs_ == 0) activity_ = Activity::kIdle;
  });
}

void CAction::requestStart() { post(Activity::kStarting, &CAction::startUnlessMounted); }
void CAction::requestStop() { post(Activity::kStopping, &CAction::stopDrive); }
void CAction::requestRestart() {
  requestStop();
  post(Activity::kStarting, &CAction::startDrive);
}

QString CAction::startFailure() {
  MutexLock hold(childLock_);
  if (!child_ || child_->running()) return {};
  return FromLocal(child_->failure());
}

void CAction::noteMounted() {
  MutexLock hold(childLock_);
  if (child_) child_->noteMounted();
}
