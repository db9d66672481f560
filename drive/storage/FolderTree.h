// The in-memory folder tree built from one folder list: the node table and the three lookup
// tables, all ordered by plain UTF-16 code unit comparison.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <string_view>

#include "drive/core/NodeRecord.h"

// Plain UTF-16 code unit order, the same as std::less<std::u16string>, but the equal stretch
// at the start is compared four units at a time: paths in one tree share long prefixes, and
// the path index is searched on every driver callback.
struct CodeUnitLess {
  bool operator()(std::u16string_view a, std::u16string_view b) const {
    size_t common = std::min(a.size(), b.size());
    size_t at = 0;
    for (; at + 4 <= common; at += 4) {
      uint64_t left, right;
      std::memcpy(&left, a.data() + at, sizeof left);
      std::memcpy(&right, b.data() + at, sizeof right);
      if (left != right) break;
    }
    for (; at < common; ++at) {
      if (a[at] != b[at]) return a[at] < b[at];
    }
    return a.size() < b.size();
  }
};

// Upper-cased full path → id.
using PathIndex = std::map<std::u16string, std::u16string, CodeUnitLess>;

// Parent id → (child id → the child's upper-cased full path).
using ChildTable = std::map<std::u16string, std::map<std::u16string, std::u16string>>;

struct FolderTables {
  std::map<std::u16string, NodeRecord> nodes;  // id → record; the root has id ""
  PathIndex pathIndex;
  ChildTable children;
  std::map<std::u16string, std::u16string> writableFolders;  // id → full path
};

struct BuiltTree {
  FolderTables tables;
  std::u16string downloadFolderId;  // the top-level "下载空间" folder, "" when absent
  size_t loopedNodes = 0;           // left out: their parent chain runs in a circle
  bool complete = true;             // false when building was stopped early
};

// Name of the top-level download folder.
inline constexpr char16_t kDownloadFolderName[] = u"下载空间";

// The path with a–z changed to A–Z; every other character stays.
std::u16string UpperCasePath(std::u16string_view path);

// A node's full path: folder path + name, "\" for the root.
std::u16string FullPath(const NodeRecord& node);

// The root record: id "", name "\", attributes 0x11.
NodeRecord RootNode();

// The Base64 folder list of a list3 reply decoded: the bytes up to the first zero byte, read
// as UTF-8.
std::u16string DecodeListBody(std::string_view base64);

// Builds the tables from a decoded folder list (one node line per "\n"). Files of size 0
// and lines without an id are left out; a node whose parent chain loops is left out with
// everything below it. `keepRunning` is asked once per line; when it answers false the
// result is marked incomplete.
BuiltTree BuildFolderTree(std::u16string_view list, const std::set<std::u16string>& writableIds,
                          const std::function<bool()>& keepRunning);
