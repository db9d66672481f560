// The programs' own files in the program folder (settings with the password digest, logs,
// lists, caches) are the user's alone, whatever the folder's own mode: files are made 0600,
// folders 0700.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <string>

namespace appfolder {

constexpr mode_t kPrivateFileMode = 0600;
constexpr mode_t kPrivateFolderMode = 0700;

// fopen(path, mode) for an appending mode ("a", "ab", "a+"), except that a file it creates
// gets kPrivateFileMode. nullptr when the file cannot be opened.
std::FILE* OpenPrivateForAppend(const std::string& path, const char* mode);

// Creates `path` empty with kPrivateFileMode when nothing is there. Writers that replace a
// file but keep the permissions of the one they replace then never make it readable by
// others. False when it did not exist and could not be created.
bool CreatePrivateFile(const std::string& path);

}  // namespace appfolder
