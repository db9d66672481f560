// Where the desktop program loads Qt plugins from: Qt's own plugin folder, the absolute folders
// named in QT_PLUGIN_PATH, and "plugins" beside the program. Never a folder relative to the
// one the program was started in, which may be anyone's folder, the drive's among them.
#pragma once

// Makes Qt search exactly these folders; call before the application object is made, which
// loads the platform plugin. Qt adds the program's own folder itself.
void UsePluginFolders();
