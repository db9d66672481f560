// Opening, listing and closing folders. A folder's listing is read from the file system when
// the kernel asks for its start and handed out in the pieces the kernel asks for; the kernel
// then keeps it until it is told the folder changed. Where the kernel can list folders
// without opening them, folders are never opened.
#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "platform/dokan/DriveNames.h"
#include "platform/dokan/FuseRequest.h"

namespace dokan {

namespace {

// Longest file name the kernel will take in one directory entry.
constexpr size_t kMaxEntryNameBytes = 1024;
// "." and ".." come before the folder's own entries, at offsets 1 and 2.
constexpr size_t kDotEntries = 2;
// The entry number shown in a listing without attributes. Programs skip entries numbered 0,
// and the real number is only given out with a lookup.
constexpr ino_t kUnknownIno = 0xffffffff;

int FillFindData(PWIN32_FIND_DATAW data, PDOKAN_FILE_INFO info) {
  if (data == nullptr || info == nullptr || info->DokanContext == 0) return 0;
  auto* call = reinterpret_cast<CallRecord*>(static_cast<uintptr_t>(info->DokanContext));
  if (call->listing == nullptr) return 0;
  std::u16string_view wide(data->cFileName, BoundedLength(data->cFileName, MAX_PATH));
  ListedEntry entry;
  // Entries whose names cannot be shown here are left out rather than shown garbled.
  if (wide.empty() || !Utf16ToUtf8(wide, entry.name) || entry.name == "." || entry.name == ".." ||
      entry.name.find_first_of("/\\") != std::string::npos ||
      entry.name.size() > kMaxEntryNameBytes) {
    return 0;
  }
  entry.info.dwFileAttributes = data->dwFileAttributes;
  entry.info.ftCreationTime = data->ftCreationTime;
  entry.info.ftLastAccessTime = data->ftLastAccessTime;
  entry.info.ftLastWriteTime = data->ftLastWriteTime;
  entry.info.nFileSizeHigh = data->nFileSizeHigh;
  entry.info.nFileSizeLow = data->nFileSizeLow;
  entry.info.nNumberOfLinks = 1;
  call->listing->push_back(std::move(entry));
  return 0;
}

// Reads the folder's listing from the file system; 0 or errno.
int ReadListing(DriveSession& session, fuse_req_t request, fuse_ino_t ino, fuse_file_info* fi,
                Listing& listing) {
  std::u16string name;
  if (int error = NameOfEntry(session, ino, name)) return error;
  if (session.operations->FindFiles == nullptr) return ENOSYS;
  auto entries = std::make_shared<std::vector<ListedEntry>>();
  {
    CallRecord call(session, request, fi);
    call.info.IsDirectory = 1;
    call.listing = entries.get();
    int result = session.operations->FindFiles(name.c_str(), &FillFindData, &call.info);
    if (result < 0) return Answer(result);
  }
  listing = std::move(entries);
  return 0;
}

// Adds one entry at `offset` (the offset of the entry after it) to `reply`; false when it
// does not fit. With attributes, the entry counts as a lookup by the kernel.
bool AddEntry(fuse_req_t request, DriveSession& session, fuse_ino_t folder, bool plus,
              const char* name, const struct stat& st, off_t offset, std::string& reply,
              size_t limit) {
  size_t used = reply.size();
  size_t needed = plus ? fuse_add_direntry_plus(request, nullptr, 0, name, nullptr, 0)
                       : fuse_add_direntry(request, nullptr, 0, name, nullptr, 0);
  if (used + needed > limit) return false;
  reply.resize(used + needed);
  if (!plus) {
    fuse_add_direntry(request, reply.data() + used, needed, name, &st, offset);
    return true;
  }
  fuse_entry_param entry{};
  bool dot = name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
  // "." and ".." carry no entry of their own (number 0): the kernel takes no lookup of them.
  if (dot || !EntryOf(session, folder, name, st, entry)) entry.attr = st;
  fuse_add_direntry_plus(request, reply.data() + used, needed, name, &entry, offset);
  return true;
}

void ReplyListing(fuse_req_t request, fuse_ino_t ino, size_t size, off_t offset, fuse_file_info* fi,
                  bool plus) {
  DriveSession& session = SessionOf(request);
  if (offset < 0) {
    fuse_reply_err(request, EINVAL);
    return;
  }
  // A listing is read afresh at its start; later pieces come from the same reading.
  Listing listing = offset == 0 ? nullptr : session.listings.find(ino);
  if (listing == nullptr) {
    if (int error = ReadListing(session, request, ino, fi, listing)) {
      fuse_reply_err(request, error);
      return;
    }
    session.listings.keep(ino, listing);
  }
  std::string reply;
  reply.reserve(size);
  struct stat folder {};
  folder.st_mode = S_IFDIR;
  folder.st_ino = ino;
  size_t at = static_cast<size_t>(offset);
  for (; at < kDotEntries; ++at) {
    const char* dots = at == 0 ? "." : "..";
    if (!AddEntry(request, session, ino, plus, dots, folder, at + 1, reply, size)) break;
  }
  for (; at >= kDotEntries && at - kDotEntries < listing->size(); ++at) {
    const ListedEntry& entry = (*listing)[at - kDotEntries];
    struct stat st {};
    FillStat(entry.info, session, &st);
    st.st_ino = kUnknownIno;
    if (!AddEntry(request, session, ino, plus, entry.name.c_str(), st, static_cast<off_t>(at + 1),
                  reply, size))
      break;
  }
  if (reply.empty()) session.listings.done(ino);
  fuse_reply_buf(request, reply.data(), reply.size());
}

}  // namespace

void OnOpendir(fuse_req_t request, fuse_ino_t ino, fuse_file_info* fi) {
  DriveSession& session = SessionOf(request);
  if (session.foldersUnopened) {
    fuse_reply_err(request, ENOSYS);  // the kernel stops sending folder opens
    return;
  }
  std::u16string name;
  if (int error = NameOfEntry(session, ino, name)) {
    fuse_reply_err(request, error);
    return;
  }
  CallRecord call(session, request, nullptr);
  call.info.IsDirectory = 1;
  if (session.operations->OpenDirectory != nullptr) {
    int result = session.operations->OpenDirectory(name.c_str(), &call.info);
    if (result < 0) {
      fuse_reply_err(request, Answer(result));
      return;
    }
  }
  fi->fh = Adopt(session, name, call.info);
  // The kernel keeps the listing until it is told the folder changed (DokanNotifyChanged, or
  // a change it made itself through this drive).
  fi->cache_readdir = 1;
  fi->keep_cache = 1;
  fuse_reply_open(request, fi);
}

void OnReaddir(fuse_req_t request, fuse_ino_t ino, size_t size, off_t offset, fuse_file_info* fi) {
  ReplyListing(request, ino, size, offset, fi, false);
}

// A listing with each entry's attributes answers the stat calls that usually follow it.
void OnReaddirplus(fuse_req_t request, fuse_ino_t ino, size_t size, off_t offset,
                   fuse_file_info* fi) {
  ReplyListing(request, ino, size, offset, fi, true);
}

void OnReleasedir(fuse_req_t request, fuse_ino_t ino, fuse_file_info* fi) {
  DriveSession& session = SessionOf(request);
  std::u16string name;
  NameOfEntry(session, ino, name, true);
  {
    CallRecord call(session, request, fi);
    call.info.IsDirectory = 1;
    CloseHandle(session, name, call);
  }
  Forget(session, HandleOf(fi));
  fuse_reply_err(request, 0);
}

}  // namespace dokan
