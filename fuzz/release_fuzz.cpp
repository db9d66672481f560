// The update description as the updater reads it from ".release": any bytes read as some
// description (or none) without a crash.
#include <unistd.h>

#include <QFile>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "desktop/transfers/ReleaseFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const QString path =
      QStringLiteral("/tmp/release_fuzz-%1.release").arg(static_cast<qint64>(::getpid()));
  {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) std::abort();
    file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
  }
  ReleaseDescription release = ReadReleaseFile(path);
  if (release.length < 0 && release.number.isNull() && release.url.isNull()) return 0;
  return 0;
}
