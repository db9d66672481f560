#include "desktop/bridge/RemoteLists.h"

#include <algorithm>

namespace bridge {

namespace {

// A folder list that names a folder inside itself must not recurse for ever.
constexpr int kDeepestFolder = 256;

std::string Slashed(std::string text) {
  std::replace(text.begin(), text.end(), '\\', '/');
  return text;
}

bool Matches(const FileListEntry& entry, int filter) {
  return filter == 0 || entry.category == filter;
}

std::vector<std::string> SplitKeys(const std::string& list) {
  std::vector<std::string> keys;
  size_t from = 0;
  for (size_t bar; (bar = list.find('|', from)) != std::string::npos; from = bar + 1)
    keys.push_back(list.substr(from, bar - from));
  keys.push_back(list.substr(from));
  return keys;
}

}  // namespace

Json::Value RemoteLists::FileRecord(const FileListEntry& entry) {
  Json::Value record;
  record["fileId"] = entry.key;
  record["fileName"] = Slashed(entry.name);
  record["createDate"] = std::to_string(entry.time);
  record["updateDate"] = std::to_string(entry.time);
  record["path"] = Slashed(entry.folderPath);
  record["fileSize"] = std::to_string(entry.size);
  record["pId"] = entry.parentKey;
  return record;
}

Json::Value RemoteLists::FolderRecord(const FileListEntry& entry) {
  Json::Value record;
  record["id"] = entry.key;
  record["pid"] = entry.parentKey;
  record["name"] = Slashed(entry.name);
  record["isParent"] = entry.isParent ? 1 : 0;
  return record;
}

const FileListEntry* RemoteLists::find(const std::string& key) const {
  auto found = entries_.find(key);
  return found == entries_.end() ? nullptr : &found->second;
}

const std::vector<std::string>& RemoteLists::childrenOf(const std::string& key) const {
  auto found = folders_.find(key);
  return found == folders_.end() ? noChildren_ : found->second;
}

Json::Value RemoteLists::files(const std::string& keyList, int filter) const {
  Json::Value list(Json::arrayValue);
  auto take = [&](const FileListEntry& entry) {
    if (entry.kind == FolderList::kFile && Matches(entry, filter)) list.append(FileRecord(entry));
  };
  if (keyList.empty()) {
    for (const auto& [key, entry] : entries_) take(entry);
    return list;
  }
  for (const std::string& key : SplitKeys(keyList)) {
    if (const FileListEntry* entry = find(key)) take(*entry);
  }
  return list;
}

Json::Value RemoteLists::folderChildren(const std::string& key) const {
  Json::Value list(Json::arrayValue);
  for (const std::string& child : childrenOf(key)) {
    const FileListEntry* entry = find(child);
    if (entry && entry->kind == FolderList::kFolder) list.append(FolderRecord(*entry));
  }
  return list;
}

Json::Value RemoteLists::topFolders(int filter) const {
  Json::Value list(Json::arrayValue);
  for (const std::string& child : childrenOf(std::string())) {
    const FileListEntry* entry = find(child);
    if (entry && entry->kind == FolderList::kFolder && Matches(*entry, filter))
      list.append(FolderRecord(*entry));
  }
  return list;
}

Json::Value RemoteLists::folderFiles(const std::string& key, bool withSubfolders) const {
  Json::Value list(Json::arrayValue);
  const FileListEntry* folder = find(key);
  if (folder && folder->kind == FolderList::kFolder) collectFiles(key, withSubfolders, list, 0);
  return list;
}

void RemoteLists::collectFiles(const std::string& key, bool withSubfolders, Json::Value& into,
                               int depth) const {
  for (const std::string& child : childrenOf(key)) {
    const FileListEntry* entry = find(child);
    if (entry == nullptr) continue;
    if (entry->kind == FolderList::kFile) {
      into.append(FileRecord(*entry));
    } else if (entry->kind == FolderList::kFolder && withSubfolders && depth < kDeepestFolder) {
      collectFiles(child, true, into, depth + 1);
    }
  }
}

}  // namespace bridge
