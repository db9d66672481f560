#include "desktop/shell/TarvexUnit.h"

#include <unistd.h>

#include <QProcess>
#include <functional>

namespace {

const QString kUnit = QStringLiteral("Tarvex.service");

QStringList Systemctl(const QStringList& arguments) {
  QStringList all;
  if (::geteuid() != 0) all << QStringLiteral("--user");
  return all + arguments;
}

}  // namespace

TarvexUnit::TarvexUnit(QObject* parent) : QObject(parent) {}

void TarvexUnit::run(const QStringList& arguments,
                     std::function<void(int, const QByteArray&)> done) {
  // A child of this object: it is killed and waited for when the window goes.
  auto* process = new QProcess(this);
  connect(process, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this,
          [process, done](int code, QProcess::ExitStatus status) {
            done(status == QProcess::NormalExit ? code : -1, process->readAllStandardOutput());
            process->deleteLater();
          });
  connect(process, &QProcess::errorOccurred, this, [process, done](QProcess::ProcessError error) {
    if (error != QProcess::FailedToStart) return;
    done(-1, QByteArray());
    process->deleteLater();
  });
  process->start(QStringLiteral("systemctl"), Systemctl(arguments), QIODevice::ReadOnly);
}

void TarvexUnit::query() {
  run({QStringLiteral("show"), kUnit, QStringLiteral("--property=LoadState,ActiveState")},
      [this](int status, const QByteArray& output) { takeState(status, output); });
}

void TarvexUnit::takeState(int status, const QByteArray& output) {
  State state = State::NotInstalled;
  if (status == 0 && output.contains("LoadState=loaded")) {
    bool active = output.contains("ActiveState=active") || output.contains("ActiveState=reloading");
    state = active ? State::Running : State::Stopped;
  }
  state_ = state;
  emit stateChanged(state);
}

void TarvexUnit::toggle() {
  if (state_ != State::Running && state_ != State::Stopped) {
    emit operationFailed();
    return;
  }
  QString verb = state_ == State::Running ? QStringLiteral("stop") : QStringLiteral("start");
  run({verb, kUnit}, [this](int status, const QByteArray&) {
    if (status != 0) emit operationFailed();
    query();
  });
}
