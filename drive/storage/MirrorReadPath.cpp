#include "drive/storage/MirrorReadPath.h"

#include <cinttypes>
#include <climits>

#include "drive/core/DriveProcess.h"
#include "drive/core/MirrorConfig.h"
#include "drive/replies/ReadLinkReply.h"
#include "drive/storage/MirrorOptions.h"
#include "drive/storage/MirrorTreeStore.h"
#include "drive/storage/MirrorWebSession.h"
#include "drive/storage/QLVFile.h"
#include "drive/storage/StorageProcess.h"
#include "drive/stream/CMediaSpace.h"
#include "drive/wire/ReplyFrame.h"
#include "platform/codepage/CodePage.h"
#include "platform/ticks/Ticks.h"

namespace {

std::string Utf8(std::u16string_view text) { return codepage::WideToUtf8(text); }

}  // namespace

bool EmptyFileContext(const DOKAN_FILE_INFO& info) {
  return info.Context == 0 || info.Context == static_cast<ULONG64>(info.ProcessId);
}

MirrorReadPath::MirrorReadPath(DriveProcess& drive, StorageProcess& shared,
                               const MirrorOptions& options,
                               const std::atomic<MirrorConfig*>& config, MirrorTreeStore& tree,
                               MirrorWebSession& web)
    : drive_(drive), shared_(shared), options_(options), config_(config), tree_(tree), web_(web) {}

std::unique_ptr<QLVFile> MirrorReadPath::openReadContext(const NodeRecord& node, int* result) {
  auto file = std::make_unique<QLVFile>(node.key, node.size, web_.session(), drive_.programFolder,
                                        shared_.stream);
  // An empty file has nothing to stream (the stream server refuses it): its reads end at once.
  *result = node.size > 0 ? openStream(*file) : 0;
  if (*result != 0) return nullptr;
  MutexLock guard(openFilesLock_);
  openFiles_.insert(file.get());
  return file;
}

int MirrorReadPath::openForReading(const std::u16string& path, const NodeRecord& node,
                                   PDOKAN_FILE_INFO info) {
  int result = 0;
  std::unique_ptr<QLVFile> file = openReadContext(node, &result);
  if (!file) return result;
  info->Context = ContextValue(file.release());
  drive_.log().logf(kLogCallbacks, "%" PRId64 " %ld CreateFile:read:%s",
                    static_cast<int64_t>(info->Context), static_cast<long>(info->ProcessId),
                    Utf8(path).c_str());
  return 0;
}

int MirrorReadPath::openStream(QLVFile& file) {
  MirrorLog& log = drive_.log();
  file.enter();
  StreamLink link;
  {
    MutexLock linkGuard(file.linkLock);
    std::optional<StreamLink> cached = shared_.readLinks.fresh(file.id, shared_.readLinks.now());
    if (cached) {
      link = *cached;
    } else {
      // A link asked for while the file changed may be of the old content: it is not kept.
      uint64_t dropsBefore = shared_.readLinks.drops();
      int result = requestReadLink(file, &link);
      if (result < 0) {
        log.logf(kLogResults, "readdist ERR:%d %s", result, Utf8(file.id).c_str());
        file.leave();
        return mirror_error::kAccessDenied;
      }
      shared_.readLinks.store(file.id, link, shared_.readLinks.now(), dropsBefore);
    }
  }

  std::string token2 = codepage::WideToAnsi(link.token2);
  CMediaSpace& media = file.media();
  std::string status = media.open(codepage::WideToAnsi(link.host), link.port,
                                  codepage::WideToAnsi(link.token1), token2);
  int result = 0;
  if (media.fileLength() > 0) {
    file.setHeadKey(token2);
    file.setFlag(QLVFile::kMediaOpen);
  } else {
    log.logf(kLogResults, "init TCP_open ERR: %s", status.c_str());
    media.close();
    // A stream server that cannot be reached or does not answer is an I/O failure; a refusal
    // in its reply denies the access.
    result =
        streamwire::IsClientWord(status) ? mirror_error::kGeneral : mirror_error::kAccessDenied;
  }
  file.leave();
  return result;
}

// Runs on a web client of its own, so reads never wait behind a tree read.
int MirrorReadPath::requestReadLink(const QLVFile& file, StreamLink* link) {
  MirrorLog& log = drive_.log();
  FormedRequest request =
      FormRequest(web_action::kReadLink, {{u"id", file.id}}, file.session, RequestTimestamp());
  log.logf(kLogResults, "readdist %s", Utf8(request.path).c_str());
  MirrorConfig* config = config_.load();
  if (!config) return -1;
  WebClient client;
  client.setAbortCheck([this] { return !shared_.running(); });
  if (client.open(config->ServerAddress, options_.webPort, request.path, u"GET") != WebClient::kOk)
    return -1;
  if (client.send() != WebClient::kOk) return -2;

  char buffer[kReplyBufferBytes];
  int count = client.read(buffer, sizeof buffer);
  if (count <= 0) {
    log.logf(kLogResults, "get readdist err: %d", count < 0 ? -1 : 0);
    return -3;
  }
  std::string_view bytes(buffer, static_cast<size_t>(count));
  bytes = bytes.substr(0, bytes.find('\0'));
  std::u16string reply = codepage::Utf8ToWide(bytes);
  int result = ParseReadLinkReply(reply, link);
  if (result == 0) {
    log.logf(kLogProgress, "read link %s:%d", Utf8(link->host).c_str(), link->port);
  } else {
    log.logf(kLogResults, "get readdist err:%s", Utf8(reply).c_str());
  }
  return result;
}

int MirrorReadPath::readFile(LPCWSTR fileName, void* buffer, DWORD bytesToRead, LPDWORD bytesRead,
                             LONGLONG offset, PDOKAN_FILE_INFO info) {
  if (bytesRead) *bytesRead = static_cast<DWORD>(-1);
  if (!fileName || !info || !bytesRead || (!buffer && bytesToRead > 0) || offset < 0)
    return mirror_error::kAccessDenied;
  std::u16string path(fileName);
  MirrorLog& log = drive_.log();

  if (EmptyFileContext(*info)) {
    // Opened without the read branch (for example for its attributes only): open it now.
    if (path == u"\\") return mirror_error::kAccessDenied;
    std::optional<NodeRecord> node;
    {
      MutexLock guard(tree_.lock());
      std::optional<NodeRecord> found = tree_.nodeOfPath(path);
      if (found && !found->key.empty() && !(found->attributes & FILE_ATTRIBUTE_DIRECTORY))
        node = *found;
    }
    if (!node) return mirror_error::kAccessDenied;
    int result = 0;
    std::unique_ptr<QLVFile> opened = openReadContext(*node, &result);
    if (!opened) return result;
    info->Context = ContextValue(opened.release());
    log.logf(kLogResults, "%" PRId64 " %ld ReadFile__CreateFile:%s %s",
             static_cast<int64_t>(info->Context), static_cast<long>(info->ProcessId),
             Utf8(path).c_str(), Utf8(node->key).c_str());
  }
  QLVFile& file = *ContextOf(info->Context);
  // A reader whose open failed earlier is opened again at every read.
  if (!file.hasFlag(QLVFile::kMediaOpen) && offset < file.size) {
    int result = openStream(file);
    if (result != 0) return result;
  }

  bool detail = log.wants(kLogDetail);
  if (detail)
    log.logf(kLogDetail, "[READ]:%s %" PRId64 " %u", Utf8(path).c_str(),
             static_cast<int64_t>(offset), static_cast<unsigned>(bytesToRead));
  int32_t count = 0;
  if (offset < file.size) {
    file.enter();
    shared_.readLinks.touch(file.id, shared_.readLinks.now());
    // The kernel's whole read at once: the reader answers it piece by piece from its fetched
    // data without this path's work for every piece.
    count = file.media().readInPieces(
        buffer, offset, static_cast<int32_t>(std::min<DWORD>(bytesToRead, INT32_MAX)));
    file.leave();
  }
  if (detail)
    log.logf(kLogDetail, "%s %" PRId64 " %u %d", Utf8(path).c_str(), static_cast<int64_t>(offset),
             static_cast<unsigned>(bytesToRead), count);
  // The stream failed (no answer in time, or the file closed meanwhile): an I/O error.
  if (count < 0) return mirror_error::kGeneral;
  *bytesRead = static_cast<DWORD>(count);
  return 0;
}

void MirrorReadPath::retireContext(std::unique_ptr<QLVFile> file) {
  {
    MutexLock guard(openFilesLock_);
    openFiles_.erase(file.get());
  }
  if (file->hasFlag(QLVFile::kMediaOpen)) file->media().close();
  file->setCloseTime(GetTickCount());
  shared_.closedFiles.add(std::move(file));
}

std::set<std::string> MirrorReadPath::headKeysInUse() const {
  std::set<std::string> keys;
  {
    MutexLock guard(openFilesLock_);
    for (const QLVFile* file : openFiles_) keys.insert(file->headKey());
  }
  for (std::string& key : shared_.closedFiles.headKeys()) keys.insert(std::move(key));
  keys.erase(std::string());
  return keys;
}
