// The object the page's script reaches as "Quellanview". This first form carries only the
// drive start and stop and the window's close; the page's full set of operations joins it
// later.
#pragma once

#include <QObject>
#include <QString>

class CConfig;
class CAction;
class QWebFrame;

class WebData : public QObject {
  Q_OBJECT

 public:
  WebData(CAction& action, QObject* parent);
  ~WebData() override;

  // Keeps `config` (loaded) for the bridge's lifetime.
  void setConfig(CConfig* config);
  void setFrame(QWebFrame* frame) { frame_ = frame; }
  CConfig* config() const { return config_; }

 public slots:
  int startDisk();
  int stopDisk();
  int restartDisk();
  int getDriveStatusCode();
  QString getDriveStatusText();

 private:
  CAction& action_;
  CConfig* config_ = nullptr;
  QWebFrame* frame_ = nullptr;
};
