// Starting the desktop program at login: the user's entry
// $XDG_CONFIG_HOME/autostart/quellanview.desktop, which takes precedence over the
// system-wide entry of the same name that the package installs switched off.
#pragma once

#include <QString>

// The user's autostart entry file.
QString AutostartEntryPath();

// Writes the user's entry, starting `program` at login when `on` and switched off (Hidden=true)
// otherwise. Returns false when the file cannot be written.
bool SetAutostart(bool on, const QString& program);
