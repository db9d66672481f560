#include "desktop/bridge/SystemOpen.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

#include "desktop/bridge/ResultText.h"
#include "platform/drivepath/DrivePath.h"

namespace bridge {
namespace {

QString LocalPath(const QString& path) {
  return QString::fromStdString(drivepath::ToLocalPath(path.toStdString()));
}

}  // namespace

QString OpenAnswer(const QString& path) {
  const QString local = LocalPath(path);
  if (QDesktopServices::openUrl(QUrl::fromLocalFile(local))) return ResultText(Success());
  // Only a failed open is looked into, to tell the person why.
  const QFileInfo info(local);
  if (!info.exists())
    return ResultText(Failure(-1, QStringLiteral("“%1”不存在，无法打开").arg(local)));
  const QString what = info.isDir() ? QStringLiteral("文件夹") : QStringLiteral("文件");
  return ResultText(Failure(
      -1,
      QStringLiteral("系统中没有可以打开%1“%2”的程序，请安装相应的程序后重试").arg(what, local)));
}

}  // namespace bridge
