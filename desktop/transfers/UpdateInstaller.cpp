#include "desktop/transfers/UpdateInstaller.h"

#include <QFileInfo>
#include <QTimer>

#include "desktop/transfers/MVersion.h"
#include "desktop/transfers/ProgramReplacement.h"
#include "desktop/transfers/UpdateAnswers.h"

namespace {

// pkexec's exit status when the password prompt was dismissed or refused.
constexpr int kNotAuthorised = 126;
constexpr int kNoAuthority = 127;

}  // namespace

UpdateInstaller::UpdateInstaller(MVersion& version, const QString& program, QObject* parent)
    : QObject(parent), version_(version), program_(program) {}

QStringList UpdateInstaller::PackageInstallCommand(const QString& package) {
  // apt takes a path with a "/" as a package file; "-y" since no terminal can answer.
  return {QStringLiteral("pkexec"), QStringLiteral("/usr/bin/apt-get"), QStringLiteral("install"),
          QStringLiteral("-y"), package};
}

void UpdateInstaller::install(const QString& callback) {
  if (installer_ != nullptr) return;
  callback_ = callback;
  QString file = version_.downloadedFile();
  if (file.isEmpty()) return fail(QStringLiteral("新版本还没有下载完成，请先下载"));
  if (IsDebianPackage(file)) return installPackage(QFileInfo(file).absoluteFilePath());
  replaceProgram(file);
}

void UpdateInstaller::replaceProgram(const QString& file) {
  QString problem = ReplaceProgram(file, program_);
  if (!problem.isEmpty()) return fail(problem);
  succeed(QStringLiteral("新版本已安装，程序即将重新启动"));
}

void UpdateInstaller::installPackage(const QString& package) {
  package_ = package;
  QStringList command = PackageInstallCommand(package);
  installer_ = new QProcess(this);
  installer_->setProcessChannelMode(QProcess::ForwardedChannels);
  connect(installer_, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this,
          &UpdateInstaller::packageInstalled);
  connect(installer_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
    if (error != QProcess::FailedToStart) return;
    installer_->deleteLater();
    installer_ = nullptr;
    fail(
        QStringLiteral("系统中没有 pkexec，无法请求管理员权限。请在终端中运行：sudo apt install ") +
        package_);
  });
  installer_->start(command.takeFirst(), command);
}

void UpdateInstaller::packageInstalled(int exitCode, QProcess::ExitStatus status) {
  installer_->deleteLater();
  installer_ = nullptr;
  if (status == QProcess::NormalExit && exitCode == 0)
    return succeed(QStringLiteral("新版本已安装，程序即将重新启动"));
  if (status == QProcess::NormalExit && (exitCode == kNotAuthorised || exitCode == kNoAuthority))
    return fail(QStringLiteral("没有获得管理员权限，新版本未安装"));
  fail(QStringLiteral("软件包管理器未能安装新版本（退出码 %1）。请在终端中运行：sudo apt install ")
           .arg(exitCode) +
       package_);
}

void UpdateInstaller::succeed(const QString& text) {
  emit answer(update_answers::Script(callback_, update_answers::Success(text.toStdString())));
  // The page shows the answer before the window closes for the restart.
  QTimer::singleShot(0, this, &UpdateInstaller::restartWanted);
}

void UpdateInstaller::fail(const QString& reason) {
  emit answer(update_answers::Script(callback_, update_answers::Failure(reason)));
}
