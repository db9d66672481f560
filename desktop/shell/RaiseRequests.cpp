#include "desktop/shell/RaiseRequests.h"

#include <QLocalServer>
#include <QLocalSocket>

namespace {

constexpr int kMaxRequestBytes = 64;

}  // namespace

RaiseRequests::RaiseRequests(const QString& socketPath, QObject* parent)
    : QObject(parent), server_(new QLocalServer(this)) {
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  QLocalServer::removeServer(socketPath);
  server_->listen(socketPath);
  connect(server_, &QLocalServer::newConnection, this, &RaiseRequests::accept);
}

bool RaiseRequests::isListening() const { return server_->isListening(); }

QString RaiseRequests::errorString() const { return server_->errorString(); }

void RaiseRequests::accept() {
  while (QLocalSocket* socket = server_->nextPendingConnection()) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
      QByteArray request = socket->read(kMaxRequestBytes);
      if (request.startsWith("raise")) emit raiseRequested();
      socket->disconnectFromServer();
    });
  }
}
