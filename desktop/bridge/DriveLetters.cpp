#include "desktop/bridge/DriveLetters.h"

#include "platform/driveroot/MountTable.h"

namespace bridge {

namespace {
constexpr uint32_t kRootBufferBytes = 1024;
}  // namespace

QString JoinedLogicalDrives() {
  char16_t buffer[kRootBufferBytes / sizeof(char16_t)] = {};
  uint32_t length = GetLogicalDriveStrings(kRootBufferBytes / sizeof(char16_t), buffer);
  if (length >= kRootBufferBytes / sizeof(char16_t)) return {};
  QString joined;
  for (uint32_t i = 0; i < length; ++i) {
    if (buffer[i] != u'\0') joined += QChar(buffer[i]);
  }
  return joined;
}

QStringList OfferedDriveLetters(const QString& joinedDrives, const QString& configured) {
  QStringList letters;
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    QString text(QLatin1Char{letter});
    if (!joinedDrives.contains(text) || text == configured) letters << text;
  }
  return letters;
}

}  // namespace bridge
