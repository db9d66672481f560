// The control pipe's operations on remote entries by key or path: make folders, delete,
// rename and the entry stream.
#include <deque>
#include <map>
#include <set>

#include "drive/core/DriveProcess.h"
#include "drive/core/IOMirror.h"
#include "drive/core/MirrorConfig.h"
#include "drive/core/PipeCommands.h"
#include "drive/core/PipeMirror.h"
#include "drive/core/PipeSession.h"
#include "platform/codepage/CodePage.h"
#include "platform/dokan/Dokan.h"

namespace {

using pipe_result::kUnknownParent;
// The list of one entry stream request may continue over several records; beyond this
// size further texts are read and dropped, so a client cannot make the list grow without end.
constexpr size_t kMaxStreamList = 1 << 20;

std::u16string StripOneSeparator(std::u16string path) {
  if (!path.empty() && path.front() == u'\\') path.erase(0, 1);
  if (!path.empty() && path.back() == u'\\') path.pop_back();
  return path;
}

std::u16string DecimalWide(uint64_t value) { return codepage::AnsiToWide(std::to_string(value)); }

std::u16string ParentFolder(const std::u16string& path) {
  size_t slash = path.rfind(u'\\');
  return slash == 0 || slash == std::u16string::npos ? u"\\" : path.substr(0, slash);
}

// Changes made over the pipe do not pass through the kernel, which keeps names, attributes
// and listings cached: tell it about each changed entry and the folder that lists it.
// Called after the mirror call has returned, so no lock of the tree is held.
void TellDriveChanged(const DriveProcess& drive, std::initializer_list<std::u16string> paths) {
  std::u16string letter = drive.runDriveLetter();
  if (letter.empty()) return;
  for (const std::u16string& path : paths) {
    if (path.empty()) continue;
    DokanNotifyChanged(letter[0], path.c_str());
    DokanNotifyChanged(letter[0], ParentFolder(path).c_str());
  }
}

}  // namespace

std::u16string EntryLine(const NodeRecord& record) {
  std::u16string time = DecimalWide(static_cast<uint32_t>(record.time)) + u"l";
  return record.key + u"|" + record.name + u"|" + time + u"|" + time + u"|" + record.folderPath +
         u"|" + codepage::AnsiToWide(std::to_string(record.size));
}

int32_t PipeCommands::makeFolders(std::string_view parentKey, std::string_view relativePath,
                                  std::string* newKey) {
  std::u16string key = codepage::AnsiToWide(parentKey);
  std::u16string relative = StripOneSeparator(codepage::AnsiToWide(relativePath));
  std::u16string created, first;
  int32_t result = OnMirror(drive_, int32_t{kUnknownParent}, [&](IOMirror& mirror) {
    std::u16string base = key.empty() ? u"\\" : mirror.GetPath(key);
    if (base.empty()) return kUnknownParent;
    if (base.back() != u'\\') base += u'\\';
    int32_t last = mirror_error::kGeneral;
    for (size_t from = 0;; from = relative.find(u'\\', from) + 1) {
      size_t slash = relative.find(u'\\', from);
      created = base + relative.substr(0, slash);
      if (first.empty()) first = created;
      last = mirror.CreateDirectory(created.c_str(), nullptr);
      if (slash == std::u16string::npos) break;
      if (last != 0 && last != mirror_error::kAlreadyExists) return last;
    }
    return last;
  });
  if (result == kUnknownParent || created.empty()) return result;
  TellDriveChanged(drive_, {first, created});
  std::u16string id =
      OnMirror(drive_, std::u16string(), [&](IOMirror& m) { return m.GetIdOfPath(created); });
  *newKey = codepage::WideToAnsi(id);
  return id.empty() ? result : 0;
}

int32_t PipeCommands::deleteByKey(const std::u16string& key, const std::u16string& path) {
  if (path.empty()) return mirror_error::kGeneral;
  int32_t result = OnMirror(drive_, int32_t{mirror_error::kGeneral}, [&](IOMirror& mirror) {
    NodeRecord record;
    if (mirror.GetEntry(key, &record) != 0) return int32_t{mirror_error::kGeneral};
    return static_cast<int32_t>(record.isFolder() ? mirror.DeleteDirectory(path.c_str(), nullptr)
                                                  : mirror.DeleteFile(path.c_str(), nullptr));
  });
  if (result == 0) TellDriveChanged(drive_, {path});
  return result;
}

int32_t PipeCommands::rename(std::string_view key, std::string_view newName) {
  std::u16string wideKey = codepage::AnsiToWide(key);
  std::u16string name = codepage::AnsiToWide(newName);
  std::u16string from, to;
  int32_t result = OnMirror(drive_, int32_t{mirror_error::kFileNotFound}, [&](IOMirror& mirror) {
    NodeRecord record;
    if (mirror.GetEntry(wideKey, &record) != 0) return int32_t{mirror_error::kFileNotFound};
    from = record.folderPath + record.name;
    to = record.folderPath + name;
    return static_cast<int32_t>(mirror.MoveFile(from.c_str(), to.c_str(), 0, nullptr));
  });
  if (result == 0) TellDriveChanged(drive_, {from, to});
  return result;
}

std::string PipeCommands::joinedList(PipeMessage& request) {
  std::string list(request.secondPart());
  bool more = request.more == 1;
  while (more) {
    PipeMessage next;
    long count = connection_.readRecord(next);
    // A continuation that is cut short or malformed ends the list where it is.
    if (!AcceptableRecord(count, next)) break;
    if (list.size() < kMaxStreamList) list.append(next.body());
    more = next.more == 1;
  }
  return list;
}

bool PipeCommands::streamEntries(PipeMessage& request) {
  int32_t filter = ParseDecimal(codepage::AnsiToWide(request.firstPart()));
  std::string list = joinedList(request);
  bool written = list.find('|') != std::string::npos
                     ? streamKeys(request, filter, list)
                     : streamFolder(request, filter, codepage::AnsiToWide(list));
  if (!written) return false;
  request.more = 0;
  request.setText({});
  return connection_.writeRecord(request);
}

bool PipeCommands::streamKeys(PipeMessage& request, int32_t filter, std::string_view list) {
  for (size_t from = 0; from <= list.size();) {
    size_t bar = list.find('|', from);
    std::string_view key = list.substr(from, bar == std::string_view::npos ? bar : bar - from);
    std::u16string wideKey = codepage::AnsiToWide(key);
    NodeRecord record;
    int found =
        OnMirror(drive_, int{-1}, [&](IOMirror& m) { return m.GetEntry(wideKey, &record); });
    if (found == 0 && !sendFileLine(request, filter, record)) return false;
    if (bar == std::string_view::npos) break;
    from = bar + 1;
  }
  return true;
}

bool PipeCommands::streamFolder(PipeMessage& request, int32_t filter,
                                const std::u16string& folderKey) {
  // Depth first in key order; `walked` keeps a faulty tree that names a folder inside
  // itself from walking for ever.
  std::set<std::u16string> walked;
  auto childrenOf = [&](const std::u16string& key) {
    return OnMirror(drive_, std::map<std::u16string, std::u16string>(),
                    [&](IOMirror& m) { return m.GetChildren(key); });
  };
  // An explicit stack of child lists keeps deep trees off the call stack; a deque, so that
  // adding a level leaves the iterators of the others valid.
  struct Level {
    std::map<std::u16string, std::u16string> children;
    std::map<std::u16string, std::u16string>::const_iterator next;
  };
  std::deque<Level> stack;
  walked.insert(folderKey);
  stack.push_back(Level{childrenOf(folderKey), {}});
  stack.back().next = stack.back().children.cbegin();
  while (!stack.empty()) {
    Level& level = stack.back();
    if (level.next == level.children.cend()) {
      stack.pop_back();
      continue;
    }
    std::u16string key = (level.next++)->first;
    NodeRecord record;
    if (OnMirror(drive_, int{-1}, [&](IOMirror& m) { return m.GetEntry(key, &record); }) != 0)
      continue;
    if (!record.isFolder()) {
      if (!sendFileLine(request, filter, record)) return false;
      continue;
    }
    if (!walked.insert(key).second) continue;
    stack.push_back(Level{childrenOf(key), {}});
    stack.back().next = stack.back().children.cbegin();
  }
  return true;
}

bool PipeCommands::sendFileLine(PipeMessage& request, int32_t filter, const NodeRecord& record) {
  if (record.isFolder() || (filter != 0 && record.writable != filter)) return true;
  // A line the record cannot hold is left out rather than cut.
  if (!request.setText(codepage::WideToAnsi(EntryLine(record)))) return true;
  request.more = 1;
  return connection_.writeRecord(request);
}
