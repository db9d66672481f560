#include "tests/drive/core/front/MemoryMirror.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int kNotFound = mirror_error::kFileNotFound;
constexpr int kNoPath = mirror_error::kPathNotFound;
constexpr int kExists = mirror_error::kAlreadyExists;
constexpr int kDenied = mirror_error::kAccessDenied;
constexpr int kNotEmpty = -145;

std::u16string NameOf(LPCWSTR name) { return name != nullptr ? std::u16string(name) : u""; }

FILETIME SomeTime() {
  // 2021-01-01 00:00:00 UTC.
  uint64_t ticks = 116444736000000000ull + 1609459200ull * 10000000ull;
  return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

bool IsBelow(const std::u16string& path, const std::u16string& folder) {
  std::u16string prefix = folder == u"\\" ? folder : folder + u"\\";
  return path.size() > prefix.size() && path.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

MemoryTree::MemoryTree() { nodes_[u"\\"] = MemoryNode{true, {}}; }

void MemoryTree::addFolder(const std::u16string& path) {
  std::lock_guard<std::mutex> guard(lock_);
  nodes_[path] = MemoryNode{true, {}};
}

void MemoryTree::addFile(const std::u16string& path, std::string data) {
  std::lock_guard<std::mutex> guard(lock_);
  nodes_[path] = MemoryNode{false, std::move(data)};
}

bool MemoryTree::exists(const std::u16string& path) const {
  std::lock_guard<std::mutex> guard(lock_);
  return nodes_.count(path) != 0;
}

std::string MemoryTree::contents(const std::u16string& path) const {
  std::lock_guard<std::mutex> guard(lock_);
  auto found = nodes_.find(path);
  return found == nodes_.end() ? std::string() : found->second.data;
}

void MemoryTree::forceResult(const std::string& operation, const std::u16string& path, int result) {
  std::lock_guard<std::mutex> guard(lock_);
  forced_[{operation, path}] = result;
}

void MemoryTree::addRawEntry(const std::u16string& folder, const WIN32_FIND_DATAW& entry) {
  std::lock_guard<std::mutex> guard(lock_);
  rawEntries_.emplace(folder, entry);
}

std::vector<MirrorCall> MemoryTree::calls() const {
  std::lock_guard<std::mutex> guard(lock_);
  return calls_;
}

std::vector<MirrorCall> MemoryTree::callsOf(const std::string& operation) const {
  std::lock_guard<std::mutex> guard(lock_);
  std::vector<MirrorCall> chosen;
  for (const MirrorCall& call : calls_) {
    if (call.operation == operation) chosen.push_back(call);
  }
  return chosen;
}

void MemoryTree::clearCalls() {
  std::lock_guard<std::mutex> guard(lock_);
  calls_.clear();
}

size_t MemoryTree::readThreadCount() const {
  std::lock_guard<std::mutex> guard(lock_);
  return readThreads_.size();
}

int MemoryTree::record(MirrorCall call) {
  std::lock_guard<std::mutex> guard(lock_);
  auto forced = forced_.find({call.operation, call.name});
  calls_.push_back(std::move(call));
  return forced == forced_.end() ? 1 : forced->second;
}

void MemoryTree::enterRead() {
  std::unique_lock<std::mutex> guard(lock_);
  readThreads_.insert(std::this_thread::get_id());
  ++readsInFlight_;
  mostReads_ = std::max(mostReads_.load(), readsInFlight_);
  readsChanged_.notify_all();
  int gate = readGate_;
  if (gate > 0) {
    readsChanged_.wait_for(guard, std::chrono::seconds(10),
                           [&] { return readsInFlight_ >= gate || readGate_ == 0; });
    // Once enough readers met (or the deadline passed) the rest need not wait.
    readGate_ = 0;
  }
}

void MemoryTree::leaveRead() {
  std::lock_guard<std::mutex> guard(lock_);
  --readsInFlight_;
  readsChanged_.notify_all();
}

std::u16string MemoryTree::parentOf(const std::u16string& path) {
  size_t slash = path.rfind(u'\\');
  if (slash == std::u16string::npos || slash == 0) return u"\\";
  return path.substr(0, slash);
}

bool MemoryTree::hasChildren(const std::u16string& path) const {
  for (const auto& [name, node] : nodes_) {
    if (parentOf(name) == path && name != path) return true;
  }
  return false;
}

MemoryMirror::MemoryMirror(std::shared_ptr<MemoryTree> tree) : tree_(std::move(tree)) {
  ++tree_->liveMirrors;
}

MemoryMirror::~MemoryMirror() { --tree_->liveMirrors; }

MirrorCall MemoryMirror::callOf(const char* operation, LPCWSTR name, PDOKAN_FILE_INFO info) const {
  MirrorCall call;
  call.operation = operation;
  call.name = NameOf(name);
  if (info != nullptr) {
    call.context = info->Context;
    call.processId = info->ProcessId;
    call.isDirectory = info->IsDirectory;
    if (info->DokanOptions != nullptr) call.options = *info->DokanOptions;
  }
  return call;
}

int MemoryMirror::CreateFile(LPCWSTR fileName, DWORD desiredAccess, DWORD, DWORD disposition, DWORD,
                             PDOKAN_FILE_INFO info) {
  MirrorCall call = callOf("CreateFile", fileName, info);
  call.desiredAccess = desiredAccess;
  call.disposition = disposition;
  if (int forced = tree_->record(call); forced <= 0) return forced;
  std::u16string name = NameOf(fileName);
  std::lock_guard<std::mutex> guard(tree_->lock_);
  auto& nodes = tree_->nodes_;
  auto parent = nodes.find(MemoryTree::parentOf(name));
  if (parent == nodes.end() || !parent->second.folder) return kNoPath;
  auto found = nodes.find(name);
  bool present = found != nodes.end();
  if (present && found->second.folder) {
    if (disposition != OPEN_EXISTING && disposition != OPEN_ALWAYS) return kDenied;
    info->IsDirectory = 1;
  } else {
    switch (disposition) {
      case CREATE_NEW:
        if (present) return kExists;
        nodes[name] = MemoryNode{};
        break;
      case CREATE_ALWAYS:
        nodes[name] = MemoryNode{};
        break;
      case OPEN_EXISTING:
        if (!present) return kNotFound;
        break;
      case OPEN_ALWAYS:
        if (!present) nodes[name] = MemoryNode{};
        break;
      case TRUNCATE_EXISTING:
        if (!present) return kNotFound;
        found->second.data.clear();
        break;
      default:
        return -1;
    }
  }
  info->Context = tree_->nextContext_++;
  return 0;
}

int MemoryMirror::OpenDirectory(LPCWSTR fileName, PDOKAN_FILE_INFO info) {
  if (int forced = tree_->record(callOf("OpenDirectory", fileName, info)); forced <= 0)
    return forced;
  return 0;
}

int MemoryMirror::CreateDirectory(LPCWSTR fileName, PDOKAN_FILE_INFO info) {
  if (int forced = tree_->record(callOf("CreateDirectory", fileName, info)); forced <= 0)
    return forced;
  std::u16string name = NameOf(fileName);
  std::lock_guard<std::mutex> guard(tree_->lock_);
  auto& nodes = tree_->nodes_;
  if (nodes.count(name)) return kExists;
  if (!nodes.count(MemoryTree::parentOf(name))) return kNoPath;
  nodes[name] = MemoryNode{true, {}};
  return 0;
}

int MemoryMirror::CloseFile(LPCWSTR fileName, PDOKAN_FILE_INFO info) {
  tree_->record(callOf("CloseFile", fileName, info));
  return 0;
}

int MemoryMirror::Cleanup(LPCWSTR fileName, PDOKAN_FILE_INFO info) {
  tree_->record(callOf("Cleanup", fileName, info));
  return 0;
}

int MemoryMirror::ReadFile(LPCWSTR fileName, void* buffer, DWORD bytesToRead, LPDWORD bytesRead,
                           LONGLONG offset, PDOKAN_FILE_INFO info) {
  MirrorCall call = callOf("ReadFile", fileName, info);
  call.offset = offset;
  call.length = bytesToRead;
  if (int forced = tree_->record(call); forced <= 0) return forced;
  tree_->enterRead();
  int result = 0;
  {
    std::lock_guard<std::mutex> guard(tree_->lock_);
    auto found = tree_->nodes_.find(NameOf(fileName));
    if (found == tree_->nodes_.end()) {
      result = kNotFound;
    } else {
      const std::string& data = found->second.data;
      size_t start = std::min<size_t>(static_cast<size_t>(offset), data.size());
      size_t count = std::min<size_t>(bytesToRead, data.size() - start);
      std::memcpy(buffer, data.data() + start, count);
      *bytesRead = static_cast<DWORD>(count) + tree_->overReport_;
    }
  }
  tree_->leaveRead();
  return result;
}

int MemoryMirror::WriteFile(LPCWSTR fileName, const void* buffer, DWORD bytesToWrite,
                            LPDWORD bytesWritten, LONGLONG offset, PDOKAN_FILE_INFO info) {
  MirrorCall call = callOf("WriteFile", fileName, info);
  call.offset = offset;
  call.length = bytesToWrite;
  if (int forced = tree_->record(call); forced <= 0) return forced;
  std::lock_guard<std::mutex> guard(tree_->lock_);
  auto found = tree_->nodes_.find(NameOf(fileName));
  if (found == tree_->nodes_.end()) return kNotFound;
  std::string& data = found->second.data;
  size_t start = static_cast<size_t>(offset);
  if (data.size() < start + bytesToWrite) data.resize(start + bytesToWrite);
  std::memcpy(data.data() + start, buffer, bytesToWrite);
  *bytesWritten = bytesToWrite;
  return 0;
}

int MemoryMirror::FlushFileBuffers(LPCWSTR fileName, PDOKAN_FILE_INFO info) {
  if (int forced = tree_->record(callOf("FlushFileBuffers", fileName, info)); forced <= 0)
    return forced;
  return 0;
}

int MemoryMirror::GetFileInformation(LPCWSTR fileName, LPBY_HANDLE_FILE_INFORMATION information,
                                     PDOKAN_FILE_INFO info) {
  if (int forced = tree_->record(callOf("GetFileInformation", fileName, info)); forced <= 0)
    return forced;
  std::lock_guard<std::mutex> guard(tree_->lock_);
  auto found = tree_->nodes_.find(NameOf(fileName));
  if (found == tree_->nodes_.end()) return kNotFound;
  *information = BY_HANDLE_FILE_INFORMATION{};
  information->dwFileAttributes =
      found->second.folder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
  uint64_t size = found->second.data.size();
  information->nFileSizeHigh = static_cast<DWORD>(size >> 32);
  information->nFileSizeLow = static_cast<DWORD>(size);
  information->ftCreationTime = information->ftLastAccessTime = information->ftLastWriteTime =
      SomeTime();
  information->nNumberOfLinks = 1;
  return 0;
}

int MemoryMirror::FindFiles(LPCWSTR pathName, PFillFindData fill, PDOKAN_FILE_INFO info) {
  if (int forced = tree_->record(callOf("FindFiles", pathName, info)); forced <= 0) return forced;
  std::u16string folder = NameOf(pathName);
  std::vector<WIN32_FIND_DATAW> entries;
  {
    std::lock_guard<std::mutex> guard(tree_->lock_);
    for (const auto& [path, node] : tree_->nodes_) {
      if (path == folder || MemoryTree::parentOf(path) != folder) continue;
      WIN32_FIND_DATAW entry{};
      entry.dwFileAttributes = node.folder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
      entry.nFileSizeLow = static_cast<DWORD>(node.data.size());
      std::u16string name = path.substr(path.rfind(u'\\') + 1);
      name.copy(entry.cFileName, std::min<size_t>(name.size(), MAX_PATH - 1));
      entries.push_back(entry);
    }
    auto [first, last] = tree_->rawEntries_.equal_range(folder);
    for (auto it = first; it != last; ++it) entries.push_back(it->second);
  }
  for (WIN32_FIND_DATAW& entry : entries) fill(&entry, info);
  return 0;
}

int MemoryMirror::DeleteFile(LPCWSTR fileName, PDOKAN_FILE_INFO info) {
  if (int forced = tree_->record(callOf("DeleteFile", fileName, info)); forced <= 0) return forced;
  std::lock_guard<std::mutex> guard(tree_->lock_);
  auto found = tree_->nodes_.find(NameOf(fileName));
  if (found == tree_->nodes_.end()) return kNotFound;
  if (found->second.folder) return kDenied;
  tree_->nodes_.erase(found);
  return 0;
}

int MemoryMirror::DeleteDirectory(LPCWSTR fileName, PDOKAN_FILE_INFO info) {
  if (int forced = tree_->record(callOf("DeleteDirectory", fileName, info)); forced <= 0)
    return forced;
  std::u16string name = NameOf(fileName);
  std::lock_guard<std::mutex> guard(tree_->lock_);
  auto found = tree_->nodes_.find(name);
  if (found == tree_->nodes_.end()) return kNotFound;
  if (!found->second.folder) return kDenied;
  if (tree_->hasChildren(name)) return kNotEmpty;
  tree_->nodes_.erase(found);
  return 0;
}

int MemoryMirror::MoveFile(LPCWSTR existingName, LPCWSTR newName, BOOL replaceIfExisting,
                           PDOKAN_FILE_INFO info) {
  MirrorCall call = callOf("MoveFile", existingName, info);
  call.newName = NameOf(newName);
  call.replace = replaceIfExisting;
  if (int forced = tree_->record(call); forced <= 0) return forced;
  std::u16string from = NameOf(existingName), to = NameOf(newName);
  std::lock_guard<std::mutex> guard(tree_->lock_);
  auto& nodes = tree_->nodes_;
  if (!nodes.count(from)) return kNotFound;
  if (!nodes.count(MemoryTree::parentOf(to))) return kNoPath;
  if (nodes.count(to) && !replaceIfExisting) return kExists;
  std::map<std::u16string, MemoryNode> moved;
  for (auto it = nodes.begin(); it != nodes.end();) {
    if (it->first == from || IsBelow(it->first, from)) {
      moved[to + it->first.substr(from.size())] = std::move(it->second);
      it = nodes.erase(it);
    } else {
      ++it;
    }
  }
  for (auto& [path, node] : moved) nodes[path] = std::move(node);
  return 0;
}

int MemoryMirror::SetEndOfFile(LPCWSTR fileName, LONGLONG byteOffset, PDOKAN_FILE_INFO info) {
  MirrorCall call = callOf("SetEndOfFile", fileName, info);
  call.offset = byteOffset;
  if (int forced = tree_->record(call); forced <= 0) return forced;
  std::lock_guard<std::mutex> guard(tree_->lock_);
  auto found = tree_->nodes_.find(NameOf(fileName));
  if (found == tree_->nodes_.end()) return kNotFound;
  if (byteOffset < 0) return -1;
  found->second.data.resize(static_cast<size_t>(byteOffset));
  return 0;
}

int MemoryMirror::SetFileTime(LPCWSTR fileName, const FILETIME*, const FILETIME*, const FILETIME*,
                              PDOKAN_FILE_INFO info) {
  if (int forced = tree_->record(callOf("SetFileTime", fileName, info)); forced <= 0) return forced;
  return 0;
}

int MemoryMirror::Unmount(PDOKAN_FILE_INFO info) {
  tree_->record(callOf("Unmount", nullptr, info));
  ++tree_->unmountCalls;
  return 0;
}

int MemoryMirror::GetVolumeInformation(LPWSTR volumeNameBuffer, DWORD volumeNameSize,
                                       LPDWORD volumeSerialNumber, LPDWORD maximumComponentLength,
                                       LPDWORD fileSystemFlags, LPWSTR fileSystemNameBuffer,
                                       DWORD fileSystemNameSize, PDOKAN_FILE_INFO info) {
  if (int forced = tree_->record(callOf("GetVolumeInformation", nullptr, info)); forced <= 0)
    return forced;
  std::u16string volume = u"Quellan", system = u"QuellanFS";
  if (volumeNameSize > volume.size()) volume.copy(volumeNameBuffer, volume.size());
  if (fileSystemNameSize > system.size()) system.copy(fileSystemNameBuffer, system.size());
  *volumeSerialNumber = 0x19831116;
  *maximumComponentLength = 255;
  *fileSystemFlags = 0;
  return 0;
}

int MemoryMirror::GetDiskFreeSpace(PULONGLONG freeBytesAvailable, PULONGLONG totalBytes,
                                   PULONGLONG totalFreeBytes, PDOKAN_FILE_INFO info) {
  if (int forced = tree_->record(callOf("GetDiskFreeSpace", nullptr, info)); forced <= 0)
    return forced;
  *freeBytesAvailable = kFreeBytes;
  *totalBytes = kTotalBytes;
  *totalFreeBytes = kFreeBytes;
  return 0;
}
