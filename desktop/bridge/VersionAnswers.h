// The page's view of the updater: the installed version, the check for a newer one and its
// download. Without an updater the version is empty and the requests do nothing.
#pragma once

#include <QString>

class MVersion;

namespace bridge {

class VersionAnswers {
 public:
  // The updater stays owned by the caller.
  void setVersion(MVersion* version) { version_ = version; }

  QString getCurVersion() const;
  void getNewVersion(const QString& back);
  void downloadNewProgram(const QString& back);

 private:
  MVersion* version_ = nullptr;
};

}  // namespace bridge
