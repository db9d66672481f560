#include "desktop/shell/WebData.h"

#include "desktop/control/CAction.h"
#include "desktop/control/DriveStatus.h"
#include "desktop/shell/CConfig.h"

WebData::WebData(CAction& action, QObject* parent) : QObject(parent), action_(action) {}

WebData::~WebData() { delete config_; }

void WebData::setConfig(CConfig* config) {
  delete config_;
  config_ = config;
}

int WebData::startDisk() { return action_.startDrive(); }

int WebData::stopDisk() { return action_.stopDrive(); }

int WebData::restartDisk() { return action_.restartDrive(); }

int WebData::getDriveStatusCode() { return PublishedDriveStatus().values().code; }

QString WebData::getDriveStatusText() { return PublishedDriveStatus().values().text; }
