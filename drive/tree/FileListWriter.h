// The folder list file ".filelist" that the desktop program reads: a first line with the
// tick count and the user name, then one line per node in id order (the root first).
//   folder: "1|id|parent id|name|access|has subfolders|child ids joined by ','"
//   file:   "0|id|name|time|time|folder path|access|size"
// access is 1 for a writable node and 2 otherwise. Lines end in CR LF and are stored in the
// ANSI code page.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "drive/tree/FolderTree.h"

// The whole file content.
std::string FormatFileList(const FolderTables& tables, int32_t tickCount,
                           const std::u16string& userName);

// The same content handed to `sink` piece by piece, in order.
void FormatFileList(const FolderTables& tables, int32_t tickCount, const std::u16string& userName,
                    const std::function<void(std::string_view)>& sink);

// Replaces the file at `path` with `content`: written beside it and renamed over it, so a
// reader sees either the old or the new list, never a part. Returns false on failure.
bool ReplaceFileContent(const std::string& path, const std::string& content);
