// Opens a local file or folder, or one on the mounted drive ("M:\a\b"), with the system's
// default handler.
#pragma once

#include <QString>

namespace bridge {

void OpenWithSystem(const QString& path);

}  // namespace bridge
