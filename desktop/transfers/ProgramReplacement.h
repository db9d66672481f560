// Installing a downloaded update where the program is not a system package (the build tree,
// an unpacked copy): the downloaded program takes the running program's place, executable.
#pragma once

#include <QString>

// Whether `path` is a Debian package (an "ar" archive named *.deb), which only the system's
// package manager installs.
bool IsDebianPackage(const QString& path);

// Replaces `program` with the program file `downloaded` in one step (a reader sees the old or
// the new file, never a part) and makes it executable. Refuses a file that is neither an ELF
// program nor a script. Empty on success, else the reason in the page's language.
QString ReplaceProgram(const QString& downloaded, const QString& program);
