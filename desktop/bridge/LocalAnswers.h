// What the page asks of this machine: the file and folder dialogs, the clipboard's text and
// opening an address with the system. Local paths on this machine already use "/".
#pragma once

#include <QString>

class CConfig;
class QWidget;

namespace bridge {

class LocalAnswers {
 public:
  // `lastFolder` keeps the folder the last folder dialog of modifyLocalPath answered; the
  // dialogs open over `parent` (may be null).
  LocalAnswers(CConfig& config, QString& lastFolder, QWidget* parent)
      : config_(config), lastFolder_(lastFolder), parent_(parent) {}

  // A save dialog in the default folder; the chosen folder becomes the default when asked.
  QString modifyLocalSavePath(const QString& filename, bool setToDefault);
  QString modifyDefaultLocalSavePath();
  QString modifyLocalPath();
  QString getLocalFilePath();
  QString getClipTextData() const;
  QString openUrl(QString url);

 private:
  CConfig& config_;
  QString& lastFolder_;
  QWidget* const parent_;
};

}  // namespace bridge
