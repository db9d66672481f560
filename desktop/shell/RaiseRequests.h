// Takes the requests of later starts of the same user to show the window (see InstanceLock.h):
// a local socket beside the instance lock; each connection that says "raise" is one request.
#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

class RaiseRequests : public QObject {
  Q_OBJECT

 public:
  // Listens on `socketPath`; the caller holds the instance lock, so a socket file left there
  // by a copy that died is stale and replaced.
  explicit RaiseRequests(const QString& socketPath, QObject* parent = nullptr);

  bool isListening() const;
  QString errorString() const;

 signals:
  void raiseRequested();

 private:
  void accept();

  QLocalServer* server_;  // owned as a child
};
