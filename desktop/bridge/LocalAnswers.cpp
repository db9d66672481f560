#include "desktop/bridge/LocalAnswers.h"

#include <QClipboard>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>

#include "desktop/bridge/ResultText.h"
#include "desktop/bridge/SystemOpen.h"
#include "desktop/settings/CConfig.h"

namespace bridge {
namespace {

QString Slashed(QString path) { return path.replace(QLatin1Char('\\'), QLatin1Char('/')); }

Json::Value LocalFileRecord(const QString& path) {
  Json::Value record;
  record["path"] = Text(Slashed(path));
  record["size"] = std::to_string(QFileInfo(path).size());
  record["filename"] = Text(QFileInfo(path).fileName());
  return record;
}

}  // namespace

QString LocalAnswers::modifyLocalSavePath(const QString& filename, bool setToDefault) {
  QString chosen = QFileDialog::getSaveFileName(
      parent_, QString(), config_.defaultPath + QLatin1Char('/') + filename, QStringLiteral("*.*"));
  if (chosen.isEmpty()) return ResultText(Success());
  chosen = Slashed(chosen);
  if (setToDefault) config_.setDefaultPath(chosen.left(chosen.lastIndexOf(QLatin1Char('/'))));
  return ResultText(Success(Text(chosen)));
}

QString LocalAnswers::modifyDefaultLocalSavePath() {
  QString chosen = QFileDialog::getExistingDirectory(parent_, QString(), config_.defaultPath);
  if (chosen.isEmpty()) return ResultText(Success());
  chosen = Slashed(chosen);
  config_.setDefaultPath(chosen);
  return ResultText(Success(Text(chosen)));
}

QString LocalAnswers::modifyLocalPath() {
  QString chosen = QFileDialog::getExistingDirectory(parent_, QString(), lastFolder_);
  lastFolder_ = chosen;
  if (chosen.isEmpty()) return ResultText(Success());
  return ResultText(Success(Text(Slashed(chosen))));
}

QString LocalAnswers::getLocalFilePath() {
  QStringList chosen =
      QFileDialog::getOpenFileNames(parent_, QString(), QString(), QStringLiteral("*.*"));
  if (chosen.isEmpty()) return ResultText(Success());
  Json::Value files(Json::arrayValue);
  for (const QString& path : chosen) files.append(LocalFileRecord(path));
  return ResultText(Success(files));
}

QString LocalAnswers::getClipTextData() const {
  QClipboard* clipboard = QGuiApplication::clipboard();
  return ResultText(Success(Text(clipboard ? clipboard->text() : QString())));
}

QString LocalAnswers::openUrl(QString url) {
  return OpenAnswer(url.replace(QLatin1Char('\\'), QLatin1Char('/')));
}

}  // namespace bridge
