// Building the folder tree's tables from a decoded folder list.
#pragma once

#include <cstddef>
#include <functional>
#include <set>
#include <string>
#include <string_view>

#include "drive/tree/FolderTables.h"

struct BuiltTree {
  FolderTables tables;
  std::u16string downloadFolderId;  // the top-level "下载空间" folder, "" when absent
  size_t loopedNodes = 0;           // left out: their parent chain runs in a circle
  bool complete = true;             // false when building was stopped early
  // While staging: the tables in use, whose texts unchanged entries share; may be null.
  PreviousTexts* previous = nullptr;
};

// Name of the top-level download folder.
inline constexpr char16_t kDownloadFolderName[] = u"下载空间";

// Building from a list that arrives in pieces: each UTF-8 line of the decoded list is staged
// as it comes (the rules of BuildFolderTree), and the tables are linked after the last one.
void StageListLine(std::string_view utf8Line, BuiltTree& tree);
void LinkStagedTree(BuiltTree& tree, const std::set<std::u16string>& writableIds);

// Builds the tables from a decoded folder list (one node line per "\n"). Files of size 0
// and lines without an id are left out; a node whose parent chain loops is left out with
// everything below it. `keepRunning` is asked once per line; when it answers false the
// result is marked incomplete.
BuiltTree BuildFolderTree(std::u16string_view list, const std::set<std::u16string>& writableIds,
                          const std::function<bool()>& keepRunning);
