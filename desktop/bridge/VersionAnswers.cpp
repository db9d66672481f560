#include "desktop/bridge/VersionAnswers.h"

#include "desktop/bridge/ResultText.h"
#include "desktop/transfers/MVersion.h"

namespace bridge {

QString VersionAnswers::getCurVersion() const {
  return ResultText(Success(Text(version_ ? version_->currentVersion() : QString())));
}

void VersionAnswers::getNewVersion(const QString& back) {
  if (version_) version_->check(back);
}

void VersionAnswers::downloadNewProgram(const QString& back) {
  if (version_) version_->download(back);
}

}  // namespace bridge
