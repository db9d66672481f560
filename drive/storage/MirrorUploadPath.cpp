#include "drive/storage/MirrorUploadPath.h"

#include <cinttypes>
#include <climits>
#include <ctime>

#include "drive/core/DriveProcess.h"
#include "drive/core/MirrorConfig.h"
#include "drive/replies/ReadLinkReply.h"
#include "drive/replies/TextDigest.h"
#include "drive/storage/ContentChanges.h"
#include "drive/storage/DriveChangeNotice.h"
#include "drive/storage/MirrorOptions.h"
#include "drive/storage/MirrorReadPath.h"
#include "drive/storage/MirrorWebSession.h"
#include "drive/storage/NameRequests.h"
#include "drive/storage/QLVFile.h"
#include "drive/storage/StorageProcess.h"
#include "drive/storage/UploadState.h"
#include "drive/stream/CMediaSpace.h"
#include "drive/tree/DrivePaths.h"
#include "platform/codepage/CodePage.h"

namespace {

constexpr uint32_t kNewFileAttributes = 0x81;
// Writes on their way to the stream server at once; a refused one fails a later write or the
// close. Programs such as cp write 128 KiB at a time, so 32 of them keep 4 MiB on the way:
// enough to fill a link of 1 Gbit/s at a round trip of 30 ms.
constexpr int kWritesInFlight = 32;
// Pieces in which an append copies the service's content into its upload: the reader's
// read-ahead size.
constexpr int64_t kCopyPieceBytes = 65536;

// The stream server's refusal of an upload for space or quota.
constexpr char kQuotaWord[] = "quota";

std::string Utf8(std::u16string_view text) { return codepage::WideToUtf8(text); }

// The driver's result for an upload the service did not take, from the stream server's error
// word: a full disk when it refused for space, else an I/O failure.
int UploadFailure(const std::string& word) {
  return word == kQuotaWord ? mirror_error::kDiskFull : mirror_error::kGeneral;
}

// The drive path of the folder holding `node` ("\\" at the top).
std::u16string ParentFolderPath(const NodeRecord& node) {
  std::u16string folder = node.folderPath;
  if (folder.size() > 1 && folder.back() == u'\\') folder.pop_back();
  return folder;
}

// Dispositions that start the file empty.
bool Truncating(DWORD disposition) {
  return disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING ||
         disposition == CREATE_NEW;
}

}  // namespace

MirrorUploadPath::MirrorUploadPath(DriveProcess& drive, StorageProcess& shared,
                                   const MirrorOptions& options,
                                   const std::atomic<MirrorConfig*>& config, MirrorTreeStore& tree,
                                   MirrorWebSession& web, MirrorReadPath& read)
    : drive_(drive),
      shared_(shared),
      options_(options),
      config_(config),
      tree_(tree),
      web_(web),
      read_(read) {}

int MirrorUploadPath::createForWriting(const std::u16string& path, DWORD, DWORD,
                                       DWORD creationDisposition, DWORD, PDOKAN_FILE_INFO info) {
  return openUploadAt(path, std::nullopt, creationDisposition, info);
}

int MirrorUploadPath::openForWriting(const std::u16string& path, const NodeRecord& node, DWORD,
                                     DWORD creationDisposition, PDOKAN_FILE_INFO info) {
  if (node.isFolder()) return mirror_error::kAccessDenied;
  return openUploadAt(path, node, creationDisposition, info);
}

int MirrorUploadPath::openUploadAt(const std::u16string& path, std::optional<NodeRecord> existing,
                                   DWORD creationDisposition, PDOKAN_FILE_INFO info) {
  drive_.log().logf(kLogCallbacks, "%" PRId64 " %ld CreateFile:write:%s",
                    static_cast<int64_t>(info->Context), static_cast<long>(info->ProcessId),
                    Utf8(path).c_str());
  SplitPath split = SplitAtLastSeparator(path);
  if (UnacceptableName(split.name)) return mirror_error::kGeneral;
  NodeRecord folder;
  {
    MutexLock guard(tree_.lock());
    std::optional<NodeRecord> found = tree_.nodeOfPath(split.folder);
    if (!found) return mirror_error::kPathNotFound;
    folder = *found;
  }
  if (!folder.writable) return mirror_error::kReadOnly;
  // O_EXCL: the name must be new.
  if (existing && creationDisposition == CREATE_NEW) return mirror_error::kAlreadyExists;

  auto file = std::make_unique<QLVFile>(existing ? existing->key : std::u16string(),
                                        existing ? existing->size : 0, web_.session(),
                                        drive_.programFolder, shared_.stream);
  // A context whose upload did not open is freed here at once. A service out of space says so;
  // any other failure leaves the path busy.
  int opened = openUpload(*file, folder.key, split.name);
  if (opened < 0) return opened == mirror_error::kDiskFull ? opened : mirror_error::kPathBusy;

  UploadState& upload = *file->upload();
  upload.replaced = existing;
  upload.mark->replacesServiceFile = existing.has_value();
  bool keepsContent = existing && !Truncating(creationDisposition) && existing->size > 0;
  if (keepsContent) {
    int copied = copyServiceContent(*existing, *file);
    if (copied != 0) return copied;
  }
  int64_t size = keepsContent ? existing->size : 0;
  {
    MutexLock guard(upload.connectionLock);
    upload.writtenEnd = upload.length = size;
  }
  {
    MutexLock guard(tree_.lock());
    std::optional<NodeRecord> parent = tree_.nodeOfId(folder.key);
    if (parent) {
      addUploadNode(path, *parent, upload, size);
      tree_.writeFileList();
    }
  }
  info->Context = ContextValue(file.release());
  return 0;
}

int MirrorUploadPath::openUpload(QLVFile& file, const std::u16string& pid,
                                 const std::u16string& name) {
  MirrorLog& log = drive_.log();
  file.enter();
  auto fail = [&](int result) {
    log.logf(kLogResults, "openWrite ERR:%d", result);
    file.leave();
    return mirror_error::kGeneral;
  };
  MirrorConfig* config = config_.load();
  if (!config) return fail(-1);
  std::u16string filename = text_digest::Base64OfUtf8(name);
  FormedRequest request =
      FormRequest(web_action::kWriteLink, {{u"filename", filename}, {u"pid", pid}}, file.session,
                  RequestTimestamp());
  // A web client of its own, so an upload never waits behind a tree read.
  WebClient client;
  client.setAbortCheck([this] { return !shared_.running(); });
  if (client.open(config->ServerAddress, options_.webPort, request.path, u"GET") != WebClient::kOk)
    return fail(-1);
  if (client.send() != WebClient::kOk) return fail(-2);
  char buffer[kReplyBufferBytes];
  int count = client.read(buffer, sizeof buffer);
  if (count <= 0) {
    log.logf(kLogResults, "get readdist err: %d", count < 0 ? -1 : 0);
    return fail(-3);
  }
  std::string_view bytes(buffer, static_cast<size_t>(count));
  std::u16string reply = codepage::Utf8ToWide(bytes.substr(0, bytes.find('\0')));
  WriteLink link;
  if (ParseWriteLinkReply(reply, &link) != 0) {
    log.logf(kLogResults, "get readdist err:%s", Utf8(reply).c_str());
    return fail(-4);
  }
  log.logf(kLogProgress, "write link %s:%d", Utf8(link.host).c_str(), link.port);

  auto upload = std::make_unique<UploadState>();
  upload->id = link.id;
  upload->serviceParent = pid;
  upload->serviceName = name;
  upload->linkSize = link.size;
  int result = 0;
  {
    MutexLock guard(upload->connectionLock);
    CRSWriter& writer = upload->writer;
    writer.setServer(codepage::WideToAnsi(link.host), std::to_string(link.port));
    writer.setWindow(kWritesInFlight);
    std::string status =
        writer.create(codepage::WideToAnsi(file.session.id), codepage::WideToAnsi(link.id));
    if (status != "ok") {
      log.logf(kLogResults, "upload_file Create link %s:%d ERR:%s", Utf8(link.host).c_str(),
               link.port, status.c_str());
      result = UploadFailure(status);
    }
  }
  if (result == 0) {
    file.setUpload(std::move(upload));
    file.setFlag(QLVFile::kUpload);
  }
  file.leave();
  return result;
}

int MirrorUploadPath::copyServiceContent(const NodeRecord& node, QLVFile& upload) {
  MirrorLog& log = drive_.log();
  log.logf(kLogProgress, "append %s: copying the %" PRId64 " bytes the service holds",
           Utf8(node.key).c_str(), node.size);
  int openResult = 0;
  std::unique_ptr<QLVFile> source = read_.openReadContext(node, &openResult);
  UploadState& target = *upload.upload();
  std::vector<uint8_t> piece(kCopyPieceBytes);
  int64_t offset = 0;
  bool failed = !source;
  while (!failed && offset < node.size) {
    int32_t want = static_cast<int32_t>(std::min<int64_t>(node.size - offset, kCopyPieceBytes));
    source->enter();
    int32_t got = source->media().read(piece.data(), offset, want);
    source->leave();
    MutexLock guard(target.connectionLock);
    failed = got <= 0 || target.writer.write(offset, got, piece.data()) < 0;
    offset += std::max(got, 0);
  }
  if (source) read_.retireContext(std::move(source));
  if (!failed) return 0;
  log.logf(kLogResults, "append %s ERR: copied %" PRId64 " of %" PRId64 " bytes",
           Utf8(node.key).c_str(), offset, node.size);
  MutexLock guard(target.connectionLock);
  int result = UploadFailure(target.writer.lastError());
  target.writer.abandon();
  return result;
}

void MirrorUploadPath::addUploadNode(const std::u16string& path, const NodeRecord& parent,
                                     const UploadState& upload, int64_t size) {
  const std::u16string& id = upload.id;
  std::u16string replacedId = upload.replaced ? upload.replaced->key : std::u16string();
  // An overwrite shows one entry: the node the upload replaces gives way to the id the
  // service handed out.
  if (!replacedId.empty() && replacedId != id) {
    tree_.tables().erase(replacedId);
    shared_.pendingUploads.remove(replacedId);
  }
  NodeRecord node;
  if (std::optional<NodeRecord> current = tree_.nodeOfId(id)) node = *current;
  node.key = id;
  node.name = SplitAtLastSeparator(path).name;
  node.folderPath = FolderPathBelow(parent);
  node.parentKey = parent.key;
  node.attributes = kNewFileAttributes;
  node.size = size;
  node.time = static_cast<int32_t>(std::time(nullptr));
  node.writable = 1;
  node.stale = 1;
  tree_.tables().put(node);
  shared_.pendingUploads.put(node, upload.mark);
}

int MirrorUploadPath::writeFile(LPCWSTR fileName, const void* buffer, DWORD bytesToWrite,
                                LPDWORD bytesWritten, LONGLONG offset, PDOKAN_FILE_INFO info) {
  if (!fileName || !info || !bytesWritten || (!buffer && bytesToWrite > 0) || offset < 0 ||
      bytesToWrite > INT32_MAX)
    return mirror_error::kAccessDenied;
  QLVFile* file = info->Context != 0 && info->Context != static_cast<ULONG64>(info->ProcessId)
                      ? ContextOf(info->Context)
                      : nullptr;
  if (!file || !file->hasFlag(QLVFile::kUpload)) return mirror_error::kAccessDenied;
  UploadState& upload = *file->upload();
  MirrorLog& log = drive_.log();
  std::string path = log.wants(kLogDetail) ? Utf8(fileName) : std::string();
  log.logf(kLogDetail, "[WRITE]:%s %" PRId64 " %u", path.c_str(), static_cast<int64_t>(offset),
           static_cast<unsigned>(bytesToWrite));

  file->enter();
  int written;
  std::string refusal;
  {
    MutexLock guard(upload.connectionLock);
    written = upload.writer.write(offset, static_cast<int32_t>(bytesToWrite),
                                  static_cast<const uint8_t*>(buffer));
    if (written < 0) {
      refusal = upload.writer.lastError();
    } else {
      int64_t end = offset + static_cast<int64_t>(bytesToWrite);
      upload.writtenEnd = std::max(upload.writtenEnd, end);
      upload.length = std::max(upload.length, end);
    }
  }
  file->leave();
  int32_t count = written == 0 ? static_cast<int32_t>(bytesToWrite) : written;
  log.logf(kLogDetail, "%s %" PRId64 " %u %d", path.c_str(), static_cast<int64_t>(offset),
           static_cast<unsigned>(bytesToWrite), count);
  if (count < 0) {
    upload.failed = true;
    return UploadFailure(refusal);
  }
  {
    MutexLock guard(tree_.lock());
    if (std::optional<NodeRecord> node = tree_.nodeOfId(upload.id)) {
      node->stale = 1;
      node->size = std::max<int64_t>(node->size, offset + count);
      tree_.tables().put(*node);
    }
  }
  *bytesWritten = static_cast<DWORD>(count);
  return 0;
}

int MirrorUploadPath::setEndOfFile(LONGLONG byteOffset, PDOKAN_FILE_INFO info) {
  if (!info || byteOffset < 0) return mirror_error::kAccessDenied;
  QLVFile* file = info->Context != 0 && info->Context != static_cast<ULONG64>(info->ProcessId)
                      ? ContextOf(info->Context)
                      : nullptr;
  if (!file || !file->hasFlag(QLVFile::kUpload)) return mirror_error::kAccessDenied;
  UploadState& upload = *file->upload();
  {
    // Bytes already sent cannot be taken back from the stream server: the file cannot
    // become shorter than what was written. A longer file is filled with zeros at the close.
    MutexLock guard(upload.connectionLock);
    if (byteOffset < upload.writtenEnd) {
      drive_.log().logf(
          kLogResults, "upload %s: cannot shrink to %" PRId64 " below the %" PRId64 " bytes sent",
          Utf8(upload.id).c_str(), static_cast<int64_t>(byteOffset), upload.writtenEnd);
      return mirror_error::kAccessDenied;
    }
    upload.length = byteOffset;
  }
  MutexLock guard(tree_.lock());
  if (std::optional<NodeRecord> node = tree_.nodeOfId(upload.id)) {
    node->size = byteOffset;
    node->stale = 1;
    tree_.tables().put(*node);
  }
  return 0;
}

// The service keeps its own times and attributes; setting them (as touch and cp -r do) is
// accepted and changes nothing.
int MirrorUploadPath::setFileTime(LPCWSTR fileName) {
  if (!fileName) return mirror_error::kGeneral;
  MutexLock guard(tree_.lock());
  return tree_.nodeOfPath(fileName) ? 0 : mirror_error::kFileNotFound;
}

int MirrorUploadPath::finishUpload(QLVFile& file) {
  UploadState& upload = *file.upload();
  // Removed while open: dropped, never finished, so the service keeps what it held.
  bool abandoned = upload.mark->abandoned;
  int64_t stored = 0;
  std::string status;
  {
    MutexLock guard(upload.connectionLock);
    if (!abandoned && !upload.failed && !padToLength(upload)) upload.failed = true;
    if (abandoned || upload.failed) {
      // Part of the data never arrived: finishing would replace the service's file with it.
      status = upload.writer.lastError();
      upload.writer.abandon();
    } else {
      stored = upload.writer.close();
      status = upload.writer.closeStatus();
    }
  }
  file.clearFlag(QLVFile::kUpload);
  if (abandoned) {
    drive_.log().logf(kLogResults, "upload %s dropped: the file was removed while open",
                      Utf8(upload.id).c_str());
    return 0;
  }
  bool failed = upload.failed;
  bool taken = !failed && status == "ok";
  if (!taken && !failed) {
    drive_.log().logf(kLogResults, "upload_file Close %s ERR:%s", Utf8(upload.id).c_str(),
                      status.c_str());
  }
  // The service holds the new content from here on.
  if (taken) ForgetContent(shared_, drive_.programFolder, {upload.id});
  FinishedUpload finished = showFinished(upload, taken, stored);
  // The kernel keeps names it was given and made no change here itself: it is told, outside
  // the lock. A release holds no folder of the kernel's locked, so this cannot wait on itself.
  NotifyDriveChanged(drive_, finished.changedPaths);
  if (!taken) return UploadFailure(status);
  return placeFinished(upload, finished);
}

bool MirrorUploadPath::padToLength(UploadState& upload) {
  if (upload.length <= upload.writtenEnd) return true;
  // The stream server stores what is not written as zeros: one zero byte at the end makes
  // the stored file as long as the program made it.
  const uint8_t zero = 0;
  if (upload.writer.write(upload.length - 1, 1, &zero) < 0) return false;
  upload.writtenEnd = upload.length;
  return true;
}

MirrorUploadPath::FinishedUpload MirrorUploadPath::showFinished(const UploadState& upload,
                                                                bool taken, int64_t stored) {
  FinishedUpload finished;
  MutexLock guard(tree_.lock());
  // Still the upload the drive shows (no later open of the same file took its place).
  bool shown = shared_.pendingUploads.take(upload.id, upload.mark.get()).has_value();
  std::optional<NodeRecord> node = tree_.nodeOfId(upload.id);
  if (taken && upload.mark->abandoned) {
    // Removed between the close and here: the service holds it now and is asked to delete it.
    finished.deleteFromService = true;
  } else if (taken && node) {
    // An empty file stays shown (size 0) until a tree read, so that it can be removed again.
    tree_.tables().refresh(upload.id, stored, node->time, node->attributes);
    finished.shownPlace = ServicePlace{node->parentKey, node->name};
  } else if (!taken && node && shown) {
    // The drive shows what the service holds: the file the upload replaced, or nothing.
    finished.changedPaths = {FullPath(*node), ParentFolderPath(*node)};
    if (upload.replaced) {
      tree_.tables().put(*upload.replaced);
    } else {
      tree_.dropFile(upload.id);
    }
  }
  tree_.writeFileList();
  return finished;
}

int MirrorUploadPath::placeFinished(const UploadState& upload, const FinishedUpload& finished) {
  NameRequests requests(drive_, web_);
  if (finished.deleteFromService) {
    requests.send(web_action::kDelete, {{u"id", upload.id}});
    return 0;
  }
  const ServicePlace given{upload.serviceParent, upload.serviceName};
  if (given.name.empty() || !finished.shownPlace || *finished.shownPlace == given) return 0;
  // Renamed or moved while open: the service is asked now that it holds the file.
  ServicePlace held = requests.place(upload.id, given, *finished.shownPlace);
  if (held == *finished.shownPlace) return 0;
  // The close reports it, and the drive shows where the service kept the file.
  std::vector<std::u16string> changed;
  {
    MutexLock guard(tree_.lock());
    if (std::optional<NodeRecord> node = tree_.nodeOfId(upload.id)) {
      changed = {FullPath(*node), ParentFolderPath(*node)};
      node->parentKey = held.parentId;
      node->name = held.name;
      tree_.tables().put(*node);
      tree_.writeFileList();
    }
  }
  NotifyDriveChanged(drive_, changed);
  return mirror_error::kGeneral;
}
