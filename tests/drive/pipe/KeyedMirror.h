// A mirror for control pipe tests: entries by key with their paths, the name operations
// recorded, and a registry of live mirrors so a call on a freed one is noticed.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "drive/core/IOMirror.h"

class KeyedMirror : public IOMirror {
 public:
  KeyedMirror();
  ~KeyedMirror() override;

  // Adds an entry below the folder `parentKey` ("" for the root).
  void add(const std::u16string& key, const std::u16string& parentKey, const std::u16string& name,
           bool folder, uint8_t writable = 2, int64_t size = 1, int32_t time = 1600000000);
  // "Operation path [new path]" for every name operation, in order.
  std::vector<std::string> calls() const;

  std::u16string GetDrivePath(const std::u16string& key) override;
  std::u16string GetPath(const std::u16string& key) override;
  std::u16string GetIdOfPath(const std::u16string& path) override;
  int GetEntry(const std::u16string& key, NodeRecord* record) override;
  std::map<std::u16string, std::u16string> GetChildren(const std::u16string& key) override;
  int CreateDirectory(LPCWSTR fileName, PDOKAN_FILE_INFO info) override;
  int DeleteFile(LPCWSTR fileName, PDOKAN_FILE_INFO info) override;
  int DeleteDirectory(LPCWSTR fileName, PDOKAN_FILE_INFO info) override;
  int MoveFile(LPCWSTR existingName, LPCWSTR newName, BOOL replaceIfExisting,
               PDOKAN_FILE_INFO info) override;

  // Runs at the start of every CreateDirectory when set (before any request comes): a test
  // holds a name operation up with it.
  std::function<void()> beforeCreate;

  // Calls that reached a mirror after it was destroyed.
  static std::atomic<int> callsOnDeadMirrors;

 private:
  void checkAlive() const;
  std::u16string pathOf(const std::u16string& key) const;  // expects lock_ held
  void record(const std::string& call);

  mutable std::mutex lock_;
  std::map<std::u16string, NodeRecord> entries_;  // guarded by lock_
  std::vector<std::string> calls_;                // guarded by lock_
  int nextKey_ = 0;                               // guarded by lock_
};
