#include "desktop/drive/CAction.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <chrono>
#include <thread>

#include "platform/process/Process.h"

namespace {
constexpr int kUnmountWaitMs = 5000;
}  // namespace

CAction::CAction(QString driveProgram, QString folder)
    : driveProgram_(std::move(driveProgram)), folder_(std::move(folder)) {}

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

CAction::~CAction() = default;

QString CAction::DriveProgramBesideMe() {
  QString chosen = qEnvironmentVariable("QUELLAN_DRIVE_PROGRAM");
  if (!chosen.isEmpty()) return chosen;
  return QCoreApplication::applicationDirPath() + QLatin1Char('/') + QLatin1String(kDriveImage);
}

int CAction::startDrive() {
  auto* child = new QProcess(this);
  // The drive program echoes its log on its console; nobody reads it here, so it must not
  // fill a pipe and block the drive.
  child->setStandardOutputFile(QProcess::nullDevice());
  child->setStandardErrorFile(QProcess::nullDevice());
  connect(child, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), child,
          &QObject::deleteLater);
  connect(child, &QProcess::errorOccurred, child, [child](QProcess::ProcessError error) {
    if (error == QProcess::FailedToStart) child->deleteLater();
  });
  child->start(driveProgram_, {QStringLiteral("-d"), folder_, QStringLiteral("-t")});
  return 0;
}

void CAction::waitForUnmount(int limitMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  while (pipe_.driveState() == drive_state::kMounted && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

int CAction::stopDrive() {
  // A drive program killed while mounted would leave a dead mount behind, so the unmount
  // asked for by command 21 is given a moment to finish before the kill.
  if (pipe_.stopDrive() == 0) waitForUnmount(kUnmountWaitMs);
  pipe_.closePipe();
  process::KillByImageName(QFileInfo(driveProgram_).fileName().toStdString());
  return 0;
}

int CAction::restartDrive() {
  stopDrive();
  return startDrive();
}
