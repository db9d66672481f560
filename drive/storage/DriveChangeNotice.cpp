#include "drive/storage/DriveChangeNotice.h"

#include "drive/core/DriveProcess.h"
#include "platform/dokan/Dokan.h"

void NotifyDriveChanged(DriveProcess& drive, const std::vector<std::u16string>& paths) {
  std::u16string letter = drive.runDriveLetter();
  if (letter.empty()) return;
  for (const std::u16string& path : paths) DokanNotifyChanged(letter[0], path.c_str());
}
