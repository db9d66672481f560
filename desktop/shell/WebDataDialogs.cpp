// The file and folder dialogs the page opens. Local paths on this machine already use "/".
#include <QFileDialog>
#include <QFileInfo>

#include "desktop/settings/CConfig.h"
#include "desktop/shell/Dialog.h"
#include "desktop/shell/WebData.h"
#include "desktop/bridge/ResultText.h"

using bridge::ResultText;
using bridge::Success;
using bridge::Text;

namespace {

// The folder the last modifyLocalPath dialog answered (empty after a cancel).
QString& LastLocalFolder() {
  static QString folder;
  return folder;
}

QString Slashed(QString path) { return path.replace(QLatin1Char('\\'), QLatin1Char('/')); }

Json::Value LocalFileRecord(const QString& path) {
  Json::Value record;
  record["path"] = Text(Slashed(path));
  record["size"] = std::to_string(QFileInfo(path).size());
  record["filename"] = Text(QFileInfo(path).fileName());
  return record;
}

}  // namespace

QString WebData::modifyLocalSavePath(QString, QString filename, bool isSetToDefualt) {
  QString chosen = QFileDialog::getSaveFileName(
      window_, QString(), settings().defaultPath + QLatin1Char('/') + filename,
      QStringLiteral("*.*"));
  if (chosen.isEmpty()) return ResultText(Success());
  chosen = Slashed(chosen);
  if (isSetToDefualt) settings().setDefaultPath(chosen.left(chosen.lastIndexOf(QLatin1Char('/'))));
  return ResultText(Success(Text(chosen)));
}

QString WebData::modifyDefaultLocalSavePath() {
  QString chosen = QFileDialog::getExistingDirectory(window_, QString(), settings().defaultPath);
  if (chosen.isEmpty()) return ResultText(Success());
  chosen = Slashed(chosen);
  settings().setDefaultPath(chosen);
  return ResultText(Success(Text(chosen)));
}

QString WebData::modifyLocalPath() {
  QString chosen = QFileDialog::getExistingDirectory(window_, QString(), LastLocalFolder());
  LastLocalFolder() = chosen;
  if (chosen.isEmpty()) return ResultText(Success());
  return ResultText(Success(Text(Slashed(chosen))));
}

QString WebData::getLocalFilePath() {
  QStringList chosen =
      QFileDialog::getOpenFileNames(window_, QString(), QString(), QStringLiteral("*.*"));
  if (chosen.isEmpty()) return ResultText(Success());
  Json::Value files(Json::arrayValue);
  for (const QString& path : chosen) files.append(LocalFileRecord(path));
  return ResultText(Success(files));
}
