// The desktop program's folder: every file of the program is found relative to it. Set once
// at start (from "-d" or the application's folder), with forward slashes and no trailing one.
#pragma once

#include <QString>

QString programFolder();
void setProgramFolder(const QString& folder);

// The folder given on the command line: the argument after a leading "-d" when there are
// more than two arguments, backslashes turned into slashes; empty otherwise.
QString ProgramFolderFromArguments(int argc, char** argv);
