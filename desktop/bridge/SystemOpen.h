// Opens a local file or folder, or one on the mounted drive ("M:\a\b"), with the system's
// default handler.
#pragma once

#include <QString>

namespace bridge {

// Opens `path` and answers the page: success, or a failure whose message says in Chinese
// what could not be opened and why (the path is missing, or nothing on the system opens it).
QString OpenAnswer(const QString& path);

}  // namespace bridge
