// libfuse's high-level layer answers an opendir with its own copy of the open flags, so the
// cache_readdir and keep_cache flags set by the callback never reach the kernel, and every
// listing of every folder comes back to this program. libfuse sends that answer through
// fuse_reply_open, which it calls by way of its procedure linkage table: this program defines
// fuse_reply_open itself (exported, see CMakeLists.txt), adds the two flags to the answer of an
// opendir that asked for them on the same thread, and hands the answer on to libfuse's own.
// With a libfuse that passes the flags itself, this changes nothing.
#include "platform/dokan/DirectoryCacheReply.h"

#define FUSE_USE_VERSION 312
#include <dlfcn.h>
#include <fuse_lowlevel.h>

#include <cerrno>

namespace dokan {

namespace {

thread_local bool cacheNextListing = false;

using ReplyOpen = int (*)(fuse_req_t, const fuse_file_info*);

ReplyOpen LibraryReplyOpen() {
  static ReplyOpen library =
      reinterpret_cast<ReplyOpen>(dlvsym(RTLD_NEXT, "fuse_reply_open", "FUSE_3.0"));
  return library;
}

}  // namespace

void AskToCacheListing() { cacheNextListing = true; }

}  // namespace dokan

extern "C" int fuse_reply_open(fuse_req_t request, const fuse_file_info* fi) {
  dokan::ReplyOpen library = dokan::LibraryReplyOpen();
  if (library == nullptr) return fuse_reply_err(request, EIO);
  if (fi == nullptr || !dokan::cacheNextListing) return library(request, fi);
  dokan::cacheNextListing = false;
  fuse_file_info answer = *fi;
  answer.cache_readdir = 1;
  answer.keep_cache = 1;
  return library(request, &answer);
}
