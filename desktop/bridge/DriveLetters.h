// The drive letters the page may offer: every letter not taken by a mounted drive, and the
// configured one even while the drive is mounted at it.
#pragma once

#include <QString>
#include <QStringList>

namespace bridge {

// The logical drive strings ("C:\", "D:\" ...) of the drive layer joined into one text.
QString JoinedLogicalDrives();

// Letters A to Z in order that do not occur in `joinedDrives`, or that equal `configured`.
QStringList OfferedDriveLetters(const QString& joinedDrives, const QString& configured);

}  // namespace bridge
