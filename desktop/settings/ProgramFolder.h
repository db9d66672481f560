// The desktop program's folder: every file of the program is found relative to it. Chosen
// once at start (from "-d", else the default below), with forward slashes and no trailing one.
#pragma once

#include <QIcon>
#include <QString>

// The folder given on the command line: the argument after a leading "-d" when there are
// more than two arguments, backslashes turned into slashes; empty otherwise.
QString ProgramFolderFromArguments(int argc, char** argv);

// The program folder when "-d" was not given: the application's folder when it holds the page
// (build tree, unpacked copy), else the per-user folder $XDG_DATA_HOME/quellan.
QString DefaultProgramFolder();

// The folder holding skin/index.html and the icons: `programFolder` when it holds the page,
// else the application's folder, else the installed data folder beside it (../share/quellan).
QString PageFolder(const QString& programFolder);

// The tray icon: quellan.ico in `pageFolder` or its skin/ folder, else the themed icon
// "quellan" that the package installs.
QIcon TrayIcon(const QString& pageFolder);
