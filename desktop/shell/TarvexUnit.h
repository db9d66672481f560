// The drive program's service as the tray controls it: the unit "Tarvex.service" of the
// user's service manager (the system's for root), through systemctl. Each request runs
// systemctl as a child process and answers through a signal, so the window's thread never
// waits for the service manager.
#pragma once

#include <QObject>
#include <QStringList>
#include <functional>

class TarvexUnit : public QObject {
  Q_OBJECT

 public:
  enum class State { Unknown, NotInstalled, Stopped, Running };

  explicit TarvexUnit(QObject* parent = nullptr);

  State state() const { return state_; }
  // Asks for the unit's state; stateChanged follows. Without systemctl or a user service
  // manager the unit reads as not installed.
  void query();
  // Stops a running unit, starts a stopped one; operationFailed when systemctl refuses (or
  // the state is not known), and a new query either way.
  void toggle();

 signals:
  void stateChanged(TarvexUnit::State state);
  void operationFailed();

 private:
  // Runs systemctl with `arguments`; `done` gets its exit status (-1 when it did not run)
  // and its output.
  void run(const QStringList& arguments, std::function<void(int, const QByteArray&)> done);
  void takeState(int status, const QByteArray& output);

  State state_ = State::Unknown;
};
