// The desktop program's plain text log: one line per write, "[yyyy-MM-dd hh:mm:ss] text" in
// local time like the drive program's log, each line flushed at once. An oversized log is moved
// aside to "<path>.1" when the log is opened, unless that name is taken already, in which case the
// log keeps growing.
#pragma once

#include <QObject>
#include <QString>
#include <cstdio>

#include "platform/sync/Mutex.h"

class MLog : public QObject {
  Q_OBJECT

 public:
  // Size above which the log is moved aside when it is opened.
  static constexpr qint64 kRotateAbove = 5000000;

  MLog(const QString& path, QObject* parent = nullptr);
  ~MLog() override;

  // Appends the time, the text and a line feed, in the local 8-bit code page.
  void write(const QString& text) EXCLUDES(lock_);
  // Appends the time, the number in decimal and a line feed.
  void write(int number) EXCLUDES(lock_);

 private:
  Mutex lock_;
  FILE* file_ GUARDED_BY(lock_) = nullptr;
};
