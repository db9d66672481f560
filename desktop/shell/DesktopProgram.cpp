#include "desktop/shell/DesktopProgram.h"

#include <QCoreApplication>
#include <QThread>
#include <QWebFrame>
#include <QWebPage>
#include <QWebView>

#include "desktop/drive/CAction.h"
#include "desktop/drive/WaitThread.h"
#include "desktop/shell/DesktopContext.h"
#include "desktop/shell/Dialog.h"
#include "desktop/shell/DriveNotices.h"
#include "desktop/shell/DriveService.h"
#include "desktop/shell/WebData.h"
#include "desktop/transfers/DownloadFile.h"
#include "desktop/transfers/MVersion.h"
#include "desktop/transfers/UpdateInstaller.h"
#include "desktop/transfers/UploadFile.h"
#include "platform/process/Process.h"

DesktopProgram::DesktopProgram(DesktopContext& context)
    : context_(context), settings_(context.settingsPath()) {
  settings_.load();
  if (!settings_.process.isEmpty()) processKillList_ = settings_.process.split(QLatin1Char(','));
  action_ = std::make_unique<CAction>(CAction::DriveProgramBesideMe(), context.programFolder);
  action_->setRefusalNote(
      [&log = context.log](const std::string& why) { log.write(QString::fromStdString(why)); });
  makeTransfers();
  makeWindow();
  makeBridge();
  startWatcher();
}

DesktopProgram::~DesktopProgram() = default;

void DesktopProgram::makeTransfers() {
  downloads_ = std::make_unique<DownloadFile>(context_.programFolder, context_.downloadCounts);
  downloads_->load();
  uploads_ = std::make_unique<UploadFile>(context_.programFolder, [this](const std::string& key) {
    // Each upload worker asks over a connection of its own, closed when it has the answer.
    return action_->newConnection()->localPathOfKey(key);
  });
  uploads_->load();
}

void DesktopProgram::makeWindow() {
  DialogHooks hooks;
  hooks.closing = [this] { closeDown(); };
  window_ =
      std::make_unique<Dialog>(context_.log, context_.programFolder, settings_, std::move(hooks));
}

void DesktopProgram::makeBridge() {
  bridge_ = std::make_unique<WebData>(context_, *action_, settings_, window_.get());
  bridge_->setDownloads(downloads_.get());
  bridge_->setUploads(uploads_.get());
  window_->setBridge(bridge_.get());
  version_ = std::make_unique<MVersion>(context_.programFolder);
  bridge_->setVersion(version_.get());
  QWebFrame* frame = window_->webView()->page()->mainFrame();
  QObject::connect(version_.get(), &MVersion::answer, frame,
                   [frame](const QString& script) { frame->evaluateJavaScript(script); });
  makeUpdateInstaller();
}

void DesktopProgram::makeUpdateInstaller() {
  installer_ =
      std::make_unique<UpdateInstaller>(*version_, QCoreApplication::applicationFilePath());
  bridge_->setUpdateInstaller(installer_.get());
  QWebFrame* frame = window_->webView()->page()->mainFrame();
  QObject::connect(installer_.get(), &UpdateInstaller::answer, frame,
                   [frame](const QString& script) { frame->evaluateJavaScript(script); });
  QObject::connect(installer_.get(), &UpdateInstaller::restartWanted, window_.get(), [this] {
    context_.log.write(QStringLiteral("update: installed, restarting"));
    restartRequested_ = true;
    window_->close();
  });
}

void DesktopProgram::startWatcher() {
  notices_ = std::make_unique<DriveNotices>(context_.driveStatus, context_.log, *window_);
  waitThread_ = std::make_unique<WaitThread>(notices_.get(), *action_, context_.driveStatus);
  waitThread_->start(QThread::InheritPriority);
}

void DesktopProgram::closeDown() {
  action_->stopDrive();
  StopDriveServiceWithoutWaiting();
  for (const QString& name : processKillList_) {
    if (!name.isEmpty()) process::KillByImageName(name.toStdString());
  }
}
