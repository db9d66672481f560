#include "desktop/shell/WebData.h"

#include "desktop/settings/CConfig.h"
#include "desktop/shell/DesktopContext.h"
#include "desktop/shell/Dialog.h"
#include "desktop/shell/ServicePort.h"
#include "desktop/transfers/UpdateInstaller.h"

WebData::WebData(DesktopContext& context, CAction& action, CConfig& config, Dialog* window)
    : settings_(config),
      drive_(action, context.driveStatus, config),
      local_(config, context.lastLocalFolder, window),
      lists_(context.folderList, context.folderListPath().toStdString()),
      tasks_(context.downloadCounts, config),
      window_(window, action) {}

WebData::~WebData() = default;

void WebData::installNewProgram(QString back) {
  if (installer_ != nullptr) installer_->install(back);
}

// The address carries the service's port only when the environment moves it off the default.
QString WebData::getServerAddress() {
  return bridge::TextAnswer(service_port::WithPort(settings().serverAddress));
}
