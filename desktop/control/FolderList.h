// The remote folders and files as the drive program last wrote them into ".filelist": an
// entry map by key and a folder map from folder key to child keys. The maps only grow: an
// entry missing from a newer file keeps its last values, an entry listed again is replaced.
//
// The file's first line carries the drive program's 32-bit millisecond tick count, written
// as a signed number, which turns negative after 24.8 days and wraps after 49.7. It is read
// as the 32-bit pattern it is and compared in serial-number order (the newer stamp is the one
// less than half the range ahead), so a new list is taken across the sign change and the
// wrap, an older one is ignored, and an unchanged file is read once.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

struct FileListEntry {
  std::string key;
  std::string name;
  std::string folderPath;  // files only
  int32_t kind = 0;        // 1 folder, 0 file
  int64_t size = 0;        // files only
  std::string parentKey;   // folders only
  int32_t time = 0;        // files only
  int32_t category = 2;    // 1 when the entry is writable, else 2
  bool isParent = false;   // folders with subfolders
};

// Texts are UTF-8; the file itself is in the local 8-bit code page.
class FolderList {
 public:
  static constexpr int32_t kFolder = 1;
  static constexpr int32_t kFile = 0;

  // Brings the maps up to date with the file at `path`; leaves them as they are when the file
  // cannot be opened or carries a stamp that is not newer than the last one read.
  void read(const std::string& path);

  const std::map<std::string, FileListEntry>& entries() const { return entries_; }
  const std::map<std::string, std::vector<std::string>>& folders() const { return folders_; }
  // How many files were taken in (for callers that cache derived listings).
  int readCount() const { return readCount_; }

 private:
  // True when the stamp line lets the rest be read; remembers the stamp.
  bool acceptStamp(const std::string& line);
  void readLine(const std::string& line);

  std::map<std::string, FileListEntry> entries_;
  std::map<std::string, std::vector<std::string>> folders_;
  std::optional<uint32_t> lastStamp_;
  int readCount_ = 0;
};
