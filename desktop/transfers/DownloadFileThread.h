// Moves the bytes of one download task to its local file: signs the task's address with the
// login session, asks for the rest of the task's partial file with a range request, appends
// what arrives, gives the file its name once complete and keeps the task's Size, Status,
// Speed and Time current. Everything runs on the
// thread that owns the object (the GUI thread), driven by Qt's network access; retrying an
// unfinished transfer is the task list's decision.
#pragma once

#include <QNetworkReply>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>

#include "desktop/transfers/SpeedWindow.h"
#include "desktop/transfers/TaskRecord.h"
#include "platform/sync/Mutex.h"

class ActiveDownloads;
class QFile;
class QNetworkAccessManager;

class DownloadFileThread : public QObject {
  Q_OBJECT

 public:
  // Nothing is sent until run(). The worker counts itself into `active` while it runs.
  // `session` gives the login session each request is signed with; `saveList` saves the task
  // list after each finished request.
  DownloadFileThread(TaskRecord& task, ActiveDownloads& active, std::function<QString()> session,
                     std::function<void()> saveList, QObject* parent = nullptr);
  // Closes the file and settles the task: Status 2 when complete, else 0; Speed 0.
  ~DownloadFileThread() override;

  // Starts (or restarts) the transfer from the bytes already in the local file.
  void run();

  // The request address for `url` signed at `seconds` with `session`.
  static QString SignedAddress(const QString& url, const QString& session, uint32_t seconds);

  // Size of the local file when the last request was sent.
  int64_t startSize() const { return startSize_; }

 private slots:
  void read();
  void finished(QNetworkReply* reply);
  void error(QNetworkReply::NetworkError code);
  void downloadProgress(qint64 received, qint64 total);
  void timer();

 private:
  // Opens the task's partial file for the transfer; false when it is complete already or
  // cannot be opened (Status then says which).
  bool openFile() REQUIRES(lock_);
  // Gives a task without a partial file one of its own; false when none can be made.
  bool claimPartFile() REQUIRES(lock_);
  // Gives the complete partial file its target name: Status 2, or 5 when it cannot.
  void placeFile() REQUIRES(lock_);
  void closeFile() REQUIRES(lock_);
  // Whether the reply's body is content of the file: a 206, or a 200 (which replaces a
  // partial file, since the server sent the whole of it).
  bool acceptBody(QNetworkReply& reply) REQUIRES(lock_);

  TaskRecord& task_;
  ActiveDownloads& active_;
  const std::function<QString()> session_;
  std::function<void()> saveList_;
  Mutex lock_;
  std::unique_ptr<QFile> file_ GUARDED_BY(lock_);
  QNetworkReply* reply_ = nullptr;
  SpeedWindow speed_;
  int64_t startSize_ = 0;
  bool counted_ = false;
  std::unique_ptr<QNetworkAccessManager> network_;
  QTimer secondTimer_;
};
