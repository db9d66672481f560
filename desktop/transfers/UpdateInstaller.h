// The last step of an update: the downloaded file becomes the installed program, and the
// program restarts into it. A Debian package goes to the system's package manager: "pkexec
// apt-get install" asks for an administrator's password in the desktop's own prompt and lets
// apt resolve the new version's dependencies. Any other program file (the build tree, an
// unpacked copy) replaces the running program, executable.
#pragma once

#include <QObject>
#include <QProcess>
#include <QString>

class MVersion;

class UpdateInstaller : public QObject {
  Q_OBJECT

 public:
  // `program` is the running program's file; `version` stays owned by the caller.
  UpdateInstaller(MVersion& version, const QString& program, QObject* parent = nullptr);

  // One answer to `callback`: {"returnCode": 0, "result": text} just before restartWanted(),
  // or a failure with the reason. A call while a package installs is ignored.
  void install(const QString& callback);

  // The package manager's command for `package`: pkexec, then apt-get and its arguments.
  static QStringList PackageInstallCommand(const QString& package);

 signals:
  // A script to evaluate in the page's main frame.
  void answer(const QString& script);
  // The new version is in place: the program should end and start again.
  void restartWanted();

 private:
  void replaceProgram(const QString& file);
  void installPackage(const QString& package);
  void packageInstalled(int exitCode, QProcess::ExitStatus status);
  void succeed(const QString& text);
  void fail(const QString& reason);

  MVersion& version_;
  const QString program_;
  QString callback_;
  QString package_;
  QProcess* installer_ = nullptr;  // a child while a package installs
};
