#include "desktop/log/MLog.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <string>

#include "platform/appfolder/PrivateFiles.h"
#include "platform/codepage/CodePage.h"

MLog::MLog(const QString& path, QObject* parent) : QObject(parent) {
  QFileInfo info(path);
  // QFile::rename never replaces an existing file, so an existing ".1" stops the rotation.
  if (info.exists() && info.size() > kRotateAbove) QFile::rename(path, path + ".1");
  MutexLock hold(lock_);
  file_ = appfolder::OpenPrivateForAppend(QFile::encodeName(path).toStdString(), "ab");
}

MLog::~MLog() {
  MutexLock hold(lock_);
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
}

void MLog::write(const QString& text) {
  QString line = QDateTime::currentDateTime().toString(QStringLiteral("[yyyy-MM-dd hh:mm:ss] ")) +
                 text + QLatin1Char('\n');
  std::string bytes = codepage::WideToAnsi(
      std::u16string_view(reinterpret_cast<const char16_t*>(line.utf16()), line.size()));
  MutexLock hold(lock_);
  if (file_ == nullptr) return;
  std::fwrite(bytes.data(), 1, bytes.size(), file_);
  std::fflush(file_);
}

void MLog::write(int number) { write(QString::asprintf("%d", number)); }
