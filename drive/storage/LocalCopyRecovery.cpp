// At start, the copies an earlier run left with changes (killed, crashed, or its upload
// refused) go up to the folder and name their record gives. When that name now holds another
// version than the one the copy was made from, the copy goes up beside it under a free name
// ("report (edit kept).txt") rather than over it. A copy that cannot go up stays and is logged.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "drive/core/DriveProcess.h"
#include "drive/storage/MirrorCopyPath.h"
#include "drive/storage/MirrorReadPath.h"
#include "drive/storage/QLVFile.h"
#include "drive/tree/DrivePaths.h"
#include "drive/tree/TreeNode.h"
#include "platform/codepage/CodePage.h"

namespace fs = std::filesystem;

namespace {

std::string Utf8(std::u16string_view text) { return codepage::WideToUtf8(text); }

// "name (edit kept).ext", then "name (edit kept 2).ext" and so on.
std::u16string KeptName(const std::u16string& name, int attempt) {
  size_t dot = name.rfind(u'.');
  if (dot == 0 || dot == std::u16string::npos) dot = name.size();
  std::string mark = attempt == 1 ? " (edit kept)" : " (edit kept " + std::to_string(attempt) + ")";
  return name.substr(0, dot) + std::u16string(mark.begin(), mark.end()) + name.substr(dot);
}

std::string FileText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

void MirrorCopyPath::recover() {
  std::vector<uint64_t> numbers;
  std::error_code error;
  for (fs::directory_iterator it(copies_.folder(), error), end; !error && it != end;
       it.increment(error)) {
    std::string stem = it->path().stem().string();
    if (it->path().extension() != ".json" || stem.empty() || stem.size() > 19 ||
        stem.find_first_not_of("0123456789") != std::string::npos)
      continue;
    numbers.push_back(std::stoull(stem));
  }
  std::sort(numbers.begin(), numbers.end());
  MirrorLog& log = drive_.log();
  for (uint64_t number : numbers) {
    if (copies_.inUse(number)) continue;
    std::string recordPath = copies_.folder() + std::to_string(number) + ".json";
    std::string dataPath = copies_.folder() + std::to_string(number) + ".data";
    LocalCopyRecord record;
    std::string problem;
    if (!ParseRecord(FileText(recordPath), &record, &problem)) {
      log.logf(kLogResults, "writecache %" PRIu64 ": record unreadable (%s); the copy is kept",
               number, problem.c_str());
      continue;
    }
    if (!fs::is_regular_file(dataPath, error)) {
      log.logf(kLogResults, "writecache %" PRIu64 ": the data file is missing; record kept",
               number);
      continue;
    }
    if (!record.dirty) {
      // Unchanged: the service holds the same content.
      fs::remove(recordPath, error);
      fs::remove(dataPath, error);
      continue;
    }
    recoverCopy(number, record);
  }
}

void MirrorCopyPath::recoverCopy(uint64_t number, const LocalCopyRecord& record) {
  MirrorLog& log = drive_.log();
  int fd =
      ::open((copies_.folder() + std::to_string(number) + ".data").c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    log.logf(kLogResults, "writecache %" PRIu64 ": cannot open the copy: %s; kept", number,
             std::strerror(errno));
    return;
  }
  LocalCopy copy(copies_.folder(), number, fd, record.serviceId, record);
  std::optional<NodeRecord> parent;
  std::optional<NodeRecord> existing;
  {
    MutexLock guard(tree_.lock());
    parent = tree_.nodeOfId(record.parentId);
    if (parent) existing = tree_.nodeOfPath(FolderPathBelow(*parent) + record.name);
  }
  if (!parent || !parent->writable) {
    log.logf(kLogResults,
             "writecache %" PRIu64
             ": the folder %s of %s is gone or not writable; the copy is kept",
             number, Utf8(record.parentId).c_str(), Utf8(record.name).c_str());
    return;
  }
  // Over the name only when it still holds the version the copy was made from.
  bool sameVersion = existing && !existing->isFolder() && existing->key == record.serviceId &&
                     !record.baseVersion.empty() && currentVersion(*existing) == record.baseVersion;
  std::u16string name = record.name;
  if (existing && !sameVersion) {
    for (int attempt = 1; attempt < 1000; ++attempt) {
      name = KeptName(record.name, attempt);
      MutexLock guard(tree_.lock());
      if (!tree_.nodeOfPath(FolderPathBelow(*parent) + name)) break;
    }
    log.logf(kLogResults, "writecache %" PRIu64 ": %s holds a newer version; the edit goes to %s",
             number, Utf8(FolderPathBelow(*parent) + record.name).c_str(), Utf8(name).c_str());
  }
  NodeRecord place;
  place.parentKey = parent->key;
  place.name = name;
  SentFile sent;
  int result = sendWhole(copy, place.parentKey, place.name, &sent);
  std::u16string path = FolderPathBelow(*parent) + name;
  if (result != 0) {
    log.logf(kLogResults,
             "writecache %" PRIu64
             ": upload of the copy left by an earlier run to %s failed (%d); "
             "the copy is kept",
             number, Utf8(path).c_str(), result);
    return;
  }
  if (existing && sameVersion) place = *existing;
  showUploaded(existing && sameVersion ? existing->key : sent.id, place, sent);
  copy.removeFiles();
  log.logf(kLogResults,
           "writecache %" PRIu64 ": uploaded the copy left by an earlier run to %s (%" PRId64
           " bytes)",
           number, Utf8(path).c_str(), sent.stored);
}

std::string MirrorCopyPath::currentVersion(const NodeRecord& node) {
  int result = 0;
  std::unique_ptr<QLVFile> reader = read_.openReadContext(node, &result);
  if (!reader) return std::string();
  std::string version = reader->headKey();
  read_.retireContext(std::move(reader));
  return version;
}
