#include "desktop/bridge/SystemOpen.h"

#include <QDesktopServices>
#include <QUrl>

#include "platform/drivepath/DrivePath.h"

namespace bridge {

void OpenWithSystem(const QString& path) {
  std::string local = drivepath::ToLocalPath(path.toStdString());
  QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(local)));
}

}  // namespace bridge
