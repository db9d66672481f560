#include "desktop/transfers/DownloadFileThread.h"

#include <QCryptographicHash>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkRequest>

#include "desktop/transfers/ActiveDownloads.h"
#include "desktop/transfers/DownloadTarget.h"
#include "platform/ticks/Ticks.h"

namespace {

constexpr int kSpeedTickMs = 1000;
constexpr qint64 kReadBufferBytes = 1 << 20;

}  // namespace

DownloadFileThread::DownloadFileThread(TaskRecord& task, ActiveDownloads& active,
                                       std::function<QString()> session,
                                       std::function<void()> saveList, QObject* parent)
    : QObject(parent),
      task_(task),
      active_(active),
      session_(std::move(session)),
      saveList_(std::move(saveList)),
      network_(std::make_unique<QNetworkAccessManager>()) {
  secondTimer_.setInterval(kSpeedTickMs);
  connect(&secondTimer_, &QTimer::timeout, this, &DownloadFileThread::timer);
  connect(network_.get(), &QNetworkAccessManager::finished, this, &DownloadFileThread::finished);
}

DownloadFileThread::~DownloadFileThread() {
  // The owner destroys workers while holding its list's lock; an aborted request must not
  // call back into it.
  network_->disconnect(this);
  if (reply_) {
    reply_->disconnect(this);
    reply_->abort();
    reply_->deleteLater();
    reply_ = nullptr;
  }
  {
    MutexLock hold(lock_);
    if (file_) {
      task_.size = file_->size();
      if (task_.size == task_.fullSize) placeFile();
      closeFile();
    }
  }
  secondTimer_.stop();
  if (task_.status != kTaskCompleted) task_.status = kTaskStopped;
  task_.speed = 0;
  if (counted_) active_.decrement();
}

QString DownloadFileThread::SignedAddress(const QString& url, const QString& session,
                                          uint32_t seconds) {
  QString stamp = QString::number(seconds);
  QByteArray hash =
      QCryptographicHash::hash((stamp + session).toUtf8(), QCryptographicHash::Md5).toHex();
  return url + QStringLiteral("&timestamp=") + stamp + QStringLiteral("&hash=") +
         QString::fromLatin1(hash);
}

void DownloadFileThread::run() {
  task_.status = kTaskRunning;
  // A worker restarted after an unfinished request is still one running worker.
  if (!counted_) {
    active_.increment();
    counted_ = true;
  }
  if (task_.wish == kWishHold) return;
  {
    MutexLock hold(lock_);
    if (!openFile()) return;
    startSize_ = task_.size;
  }
  speed_.clear(startSize_);

  QNetworkRequest request(QUrl::fromEncoded(
      SignedAddress(QString::fromStdString(task_.url), session_(), NowSeconds()).toUtf8()));
  if (startSize_ > 0)
    request.setRawHeader("Range", QByteArray("bytes=") +
                                      QByteArray::number(static_cast<qlonglong>(startSize_)) + "-");
  secondTimer_.start();
  reply_ = network_->get(request);
  // Without a limit the network thread buffers the whole body in memory when the disk or the
  // GUI thread is slower than the link; with it, a pause or an end keeps what was written.
  reply_->setReadBufferSize(kReadBufferBytes);
  connect(reply_, &QNetworkReply::readyRead, this, &DownloadFileThread::read);
  connect(reply_, &QNetworkReply::downloadProgress, this, &DownloadFileThread::downloadProgress);
  connect(reply_, &QNetworkReply::errorOccurred, this, &DownloadFileThread::error,
          Qt::DirectConnection);
}

bool DownloadFileThread::openFile() {
  closeFile();
  task_.failure = kFailureNone;
  if (task_.partPath.empty() && !claimPartFile()) {
    task_.status = kTaskFailed;
    task_.failure = kFailurePartFile;
    return false;
  }
  file_ = std::make_unique<QFile>(QString::fromStdString(task_.partPath));
  task_.size = file_->exists() ? file_->size() : 0;
  if (task_.size == task_.fullSize) {
    placeFile();
    return false;
  }
  // A partial file longer than the announced size is not of this file: start again from 0.
  bool tooLong = task_.size > task_.fullSize;
  if (tooLong) task_.size = 0;
  // Unbuffered: each chunk goes to the file in one write, which is all the flush asks for.
  QIODevice::OpenMode mode = QIODevice::WriteOnly | QIODevice::Unbuffered;
  bool opened = file_->open(tooLong ? mode | QIODevice::Truncate : mode | QIODevice::Append);
  if (!opened || !file_->exists()) {
    task_.status = kTaskFailed;
    task_.failure = kFailurePartFile;
    file_.reset();
    return false;
  }
  return true;
}

bool DownloadFileThread::claimPartFile() {
  // A task listed before partial files were used: the file at its path cannot be told from
  // someone else's, so it gets a partial file of its own, beside it if need be.
  std::optional<std::string> free = downloadtarget::FreePath(task_.filePath);
  if (!free || !downloadtarget::ClaimPartFile(*free)) return false;
  task_.filePath = *free;
  task_.fileName = downloadtarget::NameOf(*free);
  task_.partPath = downloadtarget::PartPathOf(*free);
  return true;
}

void DownloadFileThread::placeFile() {
  closeFile();
  std::optional<std::string> placed = downloadtarget::Place(task_.partPath, task_.filePath);
  if (!placed) {
    task_.status = kTaskFailed;
    task_.failure = kFailurePlaceFile;
    return;
  }
  task_.filePath = *placed;
  task_.fileName = downloadtarget::NameOf(*placed);
  task_.partPath.clear();
  task_.status = kTaskCompleted;
  task_.completedTime = NowSeconds();
}

void DownloadFileThread::closeFile() {
  if (file_) file_->close();
  file_.reset();
}

void DownloadFileThread::read() {
  QNetworkReply* reply = reply_;
  {
    MutexLock hold(lock_);
    if (!file_ || !reply) return;
    if (task_.wish == kWishRun) task_.status = kTaskRunning;
    QByteArray data = reply->readAll();
    if (!acceptBody(*reply)) data.clear();
    if (file_->write(data) != data.size()) {
      task_.status = kTaskFailed;
      task_.failure = kFailurePartFile;
    }
    file_->flush();
  }
  // A paused task ends its request at the first data after the pause.
  if (task_.wish == kWishHold) reply->close();
}

bool DownloadFileThread::acceptBody(QNetworkReply& reply) {
  int status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
  if (status == 206) return true;
  if (status != 200) return false;  // an error page is not file content
  // A whole file answered to a range request replaces what was on disk.
  if (startSize_ > 0) {
    file_->resize(0);
    file_->seek(0);
    startSize_ = 0;
  }
  return true;
}

void DownloadFileThread::downloadProgress(qint64 received, qint64 total) {
  if (!reply_ || reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() / 100 != 2)
    return;
  // With a range request the server's total is the rest of the file, so this counts the
  // bytes that were on disk before as well.
  if (total > 0) task_.size = received + task_.fullSize - total;
}

void DownloadFileThread::error(QNetworkReply::NetworkError) { task_.status = kTaskFailed; }

void DownloadFileThread::finished(QNetworkReply* reply) {
  if (reply != reply_) {
    reply->deleteLater();
    return;
  }
  // What the reply still buffers belongs in the file before the file's size is taken.
  if (task_.wish != kWishHold && reply->bytesAvailable() > 0) read();
  {
    MutexLock hold(lock_);
    if (file_) {
      file_->flush();
      task_.size = file_->size();
    }
    if (file_ && task_.size == task_.fullSize) {
      placeFile();
    } else {
      task_.status = kTaskWaiting;
    }
  }
  reply_ = nullptr;
  reply->deleteLater();
  if (saveList_) saveList_();
}

void DownloadFileThread::timer() {
  SpeedWindow::Result result = speed_.sample(task_.size, GetTickCount());
  task_.time = task_.time + result.timeAdded;
  task_.speed = result.speed;
}
