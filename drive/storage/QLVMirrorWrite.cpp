// The write branches of the create-file dispatch. Until uploads are supported the drive
// refuses them as a read-only file system would, without creating anything.
#include "drive/storage/QLVMirror.h"

int QLVMirror::createForWriting(const std::u16string&, DWORD, DWORD, DWORD, DWORD,
                                PDOKAN_FILE_INFO) {
  return mirror_error::kReadOnly;
}

int QLVMirror::openForWriting(const std::u16string&, const NodeRecord&, DWORD, DWORD,
                              PDOKAN_FILE_INFO) {
  return mirror_error::kReadOnly;
}
