// One remote file or folder as the storage client knows it. Texts are kept whole; the
// record limits (39 characters for keys, 199 for names and folder paths) only matter where a
// fixed-size wire record has to carry them.
#pragma once

#include <cstdint>
#include <string>

constexpr size_t kNodeKeyLimit = 39;
constexpr size_t kNodeNameLimit = 199;
constexpr size_t kNodePathLimit = 199;
constexpr uint32_t kNodeFolderAttribute = 0x10;

struct NodeRecord {
  std::u16string key;  // the entry's id at the storage service
  std::u16string name;
  std::u16string folderPath;  // path of the containing folder; name appended gives the path
  uint32_t attributes = 0;    // bit 0x10 marks a folder
  int64_t size = 0;
  std::u16string parentKey;
  int32_t time = 0;      // seconds since 1970
  uint8_t writable = 0;  // in copies handed out: 2 writable, 1 not
  uint8_t stale = 0;

  bool isFolder() const { return (attributes & kNodeFolderAttribute) != 0; }
};
