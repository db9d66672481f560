// Tells the page which version is installed, fetches the description of the newest version
// from the update server and downloads the new program file into the folder "update",
// resuming a partial file and recognising a complete one by its MD5 digest. A downloaded file
// whose length or digest differs from the description's is deleted, never offered. Each answer is a
// script text, callback + "(" + JSON + ")", handed out through answer(); the shell evaluates
// it in the page's main frame.
#pragma once

#include <QNetworkReply>
#include <QObject>
#include <QString>
#include <memory>

class QFile;
class QNetworkAccessManager;

class MVersion : public QObject {
  Q_OBJECT

 public:
  // Reads "release.ini" in `folder` (the program folder), which also holds ".release" and
  // the folder "update".
  explicit MVersion(const QString& folder, QObject* parent = nullptr);
  ~MVersion() override;

  QString currentVersion() const { return currentVersion_; }
  // Asks the update server for the newest version; one answer to `callback`.
  void check(const QString& callback);
  // Downloads the new program file; progress answers and one final answer to `callback`. A
  // call while a download runs is ignored.
  void download(const QString& callback);
  // Reads ".release" again (the check does this with every description it receives).
  void readRelease();

  QString targetPath() const { return targetPath_; }
  // The downloaded program file when it is complete and matches the description; else empty.
  QString downloadedFile();
  QString newVersion() const { return currentNewVersion_; }

 signals:
  // A script to evaluate in the page's main frame.
  void answer(const QString& script);

 private slots:
  void version_finished(QNetworkReply* reply);
  void read();
  void finished(QNetworkReply* reply);
  void downloadProgress(qint64 received, qint64 total);

 private:
  void respond(const QString& callback, const QString& json);
  void answerDownloaded(qint64 size);
  // Answers the end of the download when the file has the announced length and digest; else
  // deletes it and answers why.
  void keepIfAnnounced();
  void answerDownloadFailure(const QString& reason);
  // Whether the reply's body is the program file (206, or 200 replacing a partial file).
  bool acceptBody(QNetworkReply& reply);
  void endDownload();

  const QString folder_;
  QString currentVersion_;
  QString descriptionUrl_;
  QString currentNewVersion_;
  QString programUrl_;
  QString checkCallback_;
  std::unique_ptr<QNetworkAccessManager> checkNetwork_;
  bool downloadBusy_ = false;
  QString downloadCallback_;
  QString targetPath_;
  std::unique_ptr<QFile> downloadFile_;
  QNetworkReply* downloadReply_ = nullptr;
  qint64 requestedFrom_ = 0;
  qint64 newLength_ = 0;
  QString newMd5_;
  std::unique_ptr<QNetworkAccessManager> downloadNetwork_;
};
