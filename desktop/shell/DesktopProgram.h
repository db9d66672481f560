// The desktop program's parts and how they are wired: the settings (loaded once), the drive
// control, the download and upload task managers, the main window, the updater, the page's
// bridge and the drive watcher with its notices. Made by main on the program's context, which
// outlives it; the parts go in the reverse order of their making, the watcher first.
#pragma once

#include <QStringList>
#include <memory>

#include "desktop/settings/CConfig.h"

class CAction;
class Dialog;
class DownloadFile;
class DriveNotices;
class MVersion;
class UpdateInstaller;
class UploadFile;
class WaitThread;
class WebData;
struct DesktopContext;

class DesktopProgram {
 public:
  explicit DesktopProgram(DesktopContext& context);
  ~DesktopProgram();

  Dialog& window() const { return *window_; }
  WebData& bridge() const { return *bridge_; }
  // Whether the window closed so that the updated program starts in this one's place.
  bool restartRequested() const { return restartRequested_; }

 private:
  void makeTransfers();
  void makeWindow();
  void makeBridge();
  void makeUpdateInstaller();
  void startWatcher();
  // The window's close: the drive program, the drive service and the listed processes stop.
  void closeDown();

  DesktopContext& context_;
  CConfig settings_;
  QStringList processKillList_;
  std::unique_ptr<CAction> action_;
  std::unique_ptr<DownloadFile> downloads_;
  std::unique_ptr<UploadFile> uploads_;  // its workers ask the drive control for folders
  std::unique_ptr<Dialog> window_;
  std::unique_ptr<MVersion> version_;
  std::unique_ptr<UpdateInstaller> installer_;
  bool restartRequested_ = false;
  std::unique_ptr<WebData> bridge_;
  std::unique_ptr<DriveNotices> notices_;
  std::unique_ptr<WaitThread> waitThread_;  // reports to the notices and the window
};
