// The page's lists of remote folders and files, taken from the folder list's two maps: the
// entries by key and each folder's child keys. A filter of 0 matches every entry, any other
// value only entries of that access value (1 writable, 2 otherwise).
#pragma once

#include <json/json.h>

#include <map>
#include <string>
#include <vector>

#include "desktop/control/FolderList.h"

namespace bridge {

class RemoteLists {
 public:
  using Entries = std::map<std::string, FileListEntry>;
  using Folders = std::map<std::string, std::vector<std::string>>;

  RemoteLists(const Entries& entries, const Folders& folders)
      : entries_(entries), folders_(folders) {}

  // Files by "|"-separated keys in that order (unknown keys skipped), or every file in key
  // order when `keyList` is empty.
  Json::Value files(const std::string& keyList, int filter) const;
  // The sub-folders of folder `key`.
  Json::Value folderChildren(const std::string& key) const;
  // The folders in the root.
  Json::Value topFolders(int filter) const;
  // The files of folder `key`, with those of its sub-folders (at each sub-folder's place)
  // when `withSubfolders`.
  Json::Value folderFiles(const std::string& key, bool withSubfolders) const;

  static Json::Value FileRecord(const FileListEntry& entry);
  static Json::Value FolderRecord(const FileListEntry& entry);

 private:
  const FileListEntry* find(const std::string& key) const;
  const std::vector<std::string>& childrenOf(const std::string& key) const;
  void collectFiles(const std::string& key, bool withSubfolders, Json::Value& into,
                    int depth) const;

  const Entries& entries_;
  const Folders& folders_;
  const std::vector<std::string> noChildren_;
};

}  // namespace bridge
