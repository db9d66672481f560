#include "desktop/shell/bridge/DriveLetters.h"

#include "platform/dokan/MountTable.h"

namespace bridge {

namespace {
constexpr DWORD kRootBufferBytes = 1024;
}  // namespace

QString JoinedLogicalDrives() {
  WCHAR buffer[kRootBufferBytes / sizeof(WCHAR)] = {};
  DWORD length = GetLogicalDriveStrings(kRootBufferBytes / sizeof(WCHAR), buffer);
  if (length >= kRootBufferBytes / sizeof(WCHAR)) return {};
  QString joined;
  for (DWORD i = 0; i < length; ++i) {
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
