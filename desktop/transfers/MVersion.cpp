#include "desktop/transfers/MVersion.h"

#include <json/json.h>

#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QSettings>

#include "desktop/tasklines/TaskFields.h"
#include "desktop/transfers/ReleaseFile.h"
#include "desktop/transfers/UpdateAnswers.h"

namespace {

using update_answers::Failure;
using update_answers::JsonText;
using update_answers::Success;

Json::Value Amounts(qint64 received, qint64 total) {
  Json::Value amounts(Json::objectValue);
  amounts["Received"] = std::to_string(received);
  amounts["Total"] = std::to_string(total);
  return amounts;
}

int HttpStatus(QNetworkReply& reply) {
  return reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

// Why a request to the update server failed, in the page's language: the network library's
// own texts are English and name its internals. `notFound` is said for a missing file.
QString ReasonOf(QNetworkReply& reply, const QString& notFound) {
  switch (reply.error()) {
    case QNetworkReply::ContentNotFoundError:
      return notFound;
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::TimeoutError:
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::UnknownNetworkError:
      return QStringLiteral("无法连接更新服务器");
    case QNetworkReply::ProtocolUnknownError:
    case QNetworkReply::ProtocolInvalidOperationError:
      return QStringLiteral("更新地址无效");
    case QNetworkReply::OperationCanceledError:
      return QStringLiteral("请求已取消");
    default:
      break;
  }
  if (int status = HttpStatus(reply); status > 0)
    return QStringLiteral("更新服务器返回错误（HTTP %1）").arg(status);
  return QStringLiteral("网络错误（代码 %1）").arg(static_cast<int>(reply.error()));
}

}  // namespace

MVersion::MVersion(const QString& folder, QObject* parent)
    : QObject(parent),
      folder_(folder),
      downloadNetwork_(std::make_unique<QNetworkAccessManager>()) {
  QSettings release(folder_ + QStringLiteral("/release.ini"), QSettings::IniFormat);
  currentVersion_ = release.value(QStringLiteral("Version/Number")).toString();
  descriptionUrl_ = release.value(QStringLiteral("Version/Url")).toString();
}

MVersion::~MVersion() {
  downloadNetwork_->disconnect(this);
  if (checkNetwork_) checkNetwork_->disconnect(this);
}

void MVersion::respond(const QString& callback, const QString& json) {
  emit answer(callback + QStringLiteral("(") + json + QStringLiteral(")"));
}

void MVersion::check(const QString& callback) {
  // The time stamp after "#" keeps caches from answering with an old description.
  QString address = descriptionUrl_ + QStringLiteral("#") + QString::number(NowSeconds());
  if (checkNetwork_) checkNetwork_->disconnect(this);
  checkNetwork_ = std::make_unique<QNetworkAccessManager>();
  connect(checkNetwork_.get(), &QNetworkAccessManager::finished, this, &MVersion::version_finished);
  checkCallback_ = callback;
  checkNetwork_->get(QNetworkRequest(QUrl(address)));
}

void MVersion::version_finished(QNetworkReply* reply) {
  reply->deleteLater();
  if (reply->error() != QNetworkReply::NoError) {
    respond(checkCallback_,
            JsonText(Failure(QStringLiteral("获取版本文件失败：") +
                             ReasonOf(*reply, QStringLiteral("服务器上还没有发布新版本")))));
    return;
  }
  {
    QFile file(folder_ + QStringLiteral("/.release"));
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) file.write(reply->readAll());
  }
  readRelease();
  respond(checkCallback_, JsonText(Success(Json::Value(currentNewVersion_.toStdString()))));
  checkNetwork_->disconnect(this);
}

void MVersion::readRelease() {
  ReleaseDescription release = ReadReleaseFile(folder_ + QStringLiteral("/.release"));
  currentNewVersion_ = release.number;
  programUrl_ = release.url;
  newLength_ = release.length;
  newMd5_ = release.md5;
  int slash = programUrl_.lastIndexOf(QLatin1Char('/'));
  if (slash > 1) {
    QString updateFolder = folder_ + QStringLiteral("/update");
    QDir().mkpath(updateFolder);
    targetPath_ = updateFolder + QStringLiteral("/") + programUrl_.mid(slash + 1);
  }
}

QString MVersion::downloadedFile() {
  if (downloadBusy_) return QString();
  if (targetPath_.isEmpty()) readRelease();  // a description from an earlier run
  if (targetPath_.isEmpty() || !MatchesRelease(targetPath_, newLength_, newMd5_)) return QString();
  return targetPath_;
}

void MVersion::download(const QString& callback) {
  if (downloadBusy_) return;
  downloadBusy_ = true;
  downloadCallback_ = callback;
  if (targetPath_.isEmpty()) readRelease();  // a description from an earlier run
  if (targetPath_.isEmpty()) {
    answerDownloadFailure(QStringLiteral("还没有新版本的说明，请先检查更新"));
    downloadBusy_ = false;
    return;
  }
  downloadFile_ = std::make_unique<QFile>(targetPath_);
  qint64 size = downloadFile_->exists() ? downloadFile_->size() : 0;
  QNetworkRequest request{QUrl(programUrl_)};
  QIODevice::OpenMode mode = QIODevice::WriteOnly | QIODevice::Append;
  requestedFrom_ = 0;
  if (size > 0 && size == newLength_) {
    if (MatchesRelease(targetPath_, newLength_, newMd5_)) {
      answerDownloaded(size);
      endDownload();
      return;
    }
    mode = QIODevice::WriteOnly | QIODevice::Truncate;  // not the announced file: again
  } else if (size > newLength_) {
    mode = QIODevice::WriteOnly | QIODevice::Truncate;
  } else if (size > 0) {
    request.setRawHeader("Range", QByteArray("bytes=") + QByteArray::number(size) + "-");
    requestedFrom_ = size;
  }
  if (!downloadFile_->open(mode)) {
    answerDownloadFailure(QStringLiteral("无法写入更新文件：") + targetPath_);
    endDownload();
    return;
  }
  connect(downloadNetwork_.get(), &QNetworkAccessManager::finished, this, &MVersion::finished,
          Qt::UniqueConnection);
  downloadReply_ = downloadNetwork_->get(request);
  connect(downloadReply_, &QNetworkReply::readyRead, this, &MVersion::read);
  connect(downloadReply_, &QNetworkReply::downloadProgress, this, &MVersion::downloadProgress);
}

bool MVersion::acceptBody(QNetworkReply& reply) {
  int status = HttpStatus(reply);
  if (status == 206) return true;
  if (status != 200) return false;  // an error page is not the program file
  if (requestedFrom_ > 0) {         // the whole file came back: it replaces the partial one
    downloadFile_->resize(0);
    requestedFrom_ = 0;
  }
  return true;
}

void MVersion::read() {
  if (!downloadFile_ || !downloadReply_) return;
  QByteArray data = downloadReply_->readAll();
  if (!acceptBody(*downloadReply_)) return;
  downloadFile_->write(data);
  downloadFile_->flush();
}

void MVersion::downloadProgress(qint64 received, qint64 total) {
  respond(downloadCallback_, JsonText(Success(Amounts(received, total))));
}

void MVersion::finished(QNetworkReply* reply) {
  reply->deleteLater();
  if (reply != downloadReply_) return;
  if (downloadFile_) {
    if (reply->bytesAvailable() > 0) read();
    int status = HttpStatus(*reply);
    if (reply->error() != QNetworkReply::NoError || (status != 200 && status != 206)) {
      answerDownloadFailure(ReasonOf(*reply, QStringLiteral("服务器上找不到新版本文件")));
    } else {
      downloadFile_->close();
      keepIfAnnounced();
    }
  }
  endDownload();
}

void MVersion::keepIfAnnounced() {
  if (MatchesRelease(targetPath_, newLength_, newMd5_)) {
    answerDownloaded(newLength_);
    return;
  }
  // Whatever came is not the program the description announced: it is never kept for the
  // page to start.
  QFile::remove(targetPath_);
  respond(downloadCallback_, JsonText(Failure(QStringLiteral(
                                 "下载的新版本文件与版本说明不符（长度或MD5校验失败），已删除"))));
}

void MVersion::answerDownloaded(qint64 size) {
  Json::Value result = Amounts(size, size);
  result["File"] = targetPath_.toStdString();
  respond(downloadCallback_, JsonText(Success(result)));
}

void MVersion::answerDownloadFailure(const QString& reason) {
  respond(downloadCallback_, JsonText(Failure(QStringLiteral("下载失败失败：") + reason)));
}

void MVersion::endDownload() {
  if (downloadReply_) downloadReply_->disconnect(this);
  downloadReply_ = nullptr;
  if (downloadFile_) downloadFile_->close();
  downloadFile_.reset();
  downloadBusy_ = false;
}
