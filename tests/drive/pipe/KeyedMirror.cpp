#include "tests/drive/pipe/KeyedMirror.h"

#include <set>

#include "platform/codepage/CodePage.h"

std::atomic<int> KeyedMirror::callsOnDeadMirrors{0};

namespace {

std::mutex liveLock;
std::set<const KeyedMirror*>& LiveMirrors() {
  static std::set<const KeyedMirror*> live;
  return live;
}

std::string Utf8(const std::u16string& text) { return codepage::WideToUtf8(text); }

}  // namespace

KeyedMirror::KeyedMirror() {
  std::lock_guard<std::mutex> guard(liveLock);
  LiveMirrors().insert(this);
}

KeyedMirror::~KeyedMirror() {
  std::lock_guard<std::mutex> guard(liveLock);
  LiveMirrors().erase(this);
}

void KeyedMirror::checkAlive() const {
  std::lock_guard<std::mutex> guard(liveLock);
  if (LiveMirrors().count(this) == 0) ++callsOnDeadMirrors;
}

void KeyedMirror::add(const std::u16string& key, const std::u16string& parentKey,
                      const std::u16string& name, bool folder, uint8_t writable, int64_t size,
                      int32_t time) {
  std::lock_guard<std::mutex> guard(lock_);
  NodeRecord record;
  record.key = key;
  record.name = name;
  record.parentKey = parentKey;
  std::u16string parentPath = parentKey.empty() ? u"" : pathOf(parentKey);
  record.folderPath = parentPath + u"\\";
  record.attributes = folder ? kNodeFolderAttribute : 0;
  record.writable = writable;
  record.size = size;
  record.time = time;
  entries_[key] = record;
}

std::u16string KeyedMirror::pathOf(const std::u16string& key) const {
  auto found = entries_.find(key);
  return found == entries_.end() ? u"" : found->second.folderPath + found->second.name;
}

void KeyedMirror::record(const std::string& call) {
  std::lock_guard<std::mutex> guard(lock_);
  calls_.push_back(call);
}

std::vector<std::string> KeyedMirror::calls() const {
  std::lock_guard<std::mutex> guard(lock_);
  return calls_;
}

std::u16string KeyedMirror::GetDrivePath(const std::u16string& key) {
  checkAlive();
  std::lock_guard<std::mutex> guard(lock_);
  std::u16string path = pathOf(key);
  return path.empty() ? path : u"Q:" + path;
}

std::u16string KeyedMirror::GetPath(const std::u16string& key) {
  checkAlive();
  std::lock_guard<std::mutex> guard(lock_);
  return pathOf(key);
}

std::u16string KeyedMirror::GetIdOfPath(const std::u16string& path) {
  checkAlive();
  std::lock_guard<std::mutex> guard(lock_);
  if (path == u"\\") return u"root";
  for (const auto& [key, entry] : entries_)
    if (entry.folderPath + entry.name == path) return key;
  return u"";
}

int KeyedMirror::GetEntry(const std::u16string& key, NodeRecord* record) {
  checkAlive();
  std::lock_guard<std::mutex> guard(lock_);
  auto found = entries_.find(key);
  if (found == entries_.end()) return -1;
  *record = found->second;
  return 0;
}

std::map<std::u16string, std::u16string> KeyedMirror::GetChildren(const std::u16string& key) {
  checkAlive();
  std::lock_guard<std::mutex> guard(lock_);
  std::map<std::u16string, std::u16string> children;
  std::u16string parent = key == u"root" ? u"" : key;
  for (const auto& [childKey, entry] : entries_)
    if (entry.parentKey == parent && childKey != parent)
      children[childKey] = entry.folderPath + entry.name;
  return children;
}

int KeyedMirror::CreateDirectory(LPCWSTR fileName, PDOKAN_FILE_INFO) {
  checkAlive();
  if (beforeCreate) beforeCreate();
  std::u16string path(fileName);
  record("CreateDirectory " + Utf8(path));
  if (!GetIdOfPath(path).empty()) return mirror_error::kAlreadyExists;
  size_t slash = path.rfind(u'\\');
  std::u16string parentKey = slash == 0 ? u"" : GetIdOfPath(path.substr(0, slash));
  if (slash != 0 && parentKey.empty()) return mirror_error::kPathNotFound;
  std::u16string key;
  {
    std::lock_guard<std::mutex> guard(lock_);
    key = u"new" + codepage::Utf8ToWide(std::to_string(++nextKey_));
  }
  add(key, parentKey, path.substr(slash + 1), true);
  return 0;
}

int KeyedMirror::DeleteFile(LPCWSTR fileName, PDOKAN_FILE_INFO) {
  checkAlive();
  record("DeleteFile " + Utf8(fileName));
  return 0;
}

int KeyedMirror::DeleteDirectory(LPCWSTR fileName, PDOKAN_FILE_INFO) {
  checkAlive();
  record("DeleteDirectory " + Utf8(fileName));
  return 0;
}

int KeyedMirror::MoveFile(LPCWSTR existingName, LPCWSTR newName, BOOL replaceIfExisting,
                          PDOKAN_FILE_INFO) {
  checkAlive();
  record("MoveFile " + Utf8(existingName) + " " + Utf8(newName) + " " +
         std::to_string(replaceIfExisting));
  return 0;
}
