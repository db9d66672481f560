// Reading the remote tree from the service: the whole tree ("list3"), which replaces the
// tables and ".filelist", and one node's fields ("file_info").
#pragma once

#include <string>

#include "drive/core/IOMirror.h"
#include "drive/storage/MirrorTreeStore.h"
#include "drive/storage/MirrorWebSession.h"

struct DriveProcess;
struct StorageProcess;

class MirrorTreeReads {
 public:
  MirrorTreeReads(DriveProcess& drive, StorageProcess& shared, MirrorTreeStore& tree,
                  MirrorWebSession& web);
  MirrorTreeReads(const MirrorTreeReads&) = delete;
  MirrorTreeReads& operator=(const MirrorTreeReads&) = delete;

  // Reads the whole tree again ("list3") and replaces the tables. 0, -1 when the request was
  // not sent or the run state stopped the read, -2 when the reply was refused. A failed read
  // leaves the tables as they were.
  int readDirTree() EXCLUDES(web_.lock(), tree_.lock());

  // Fetches one node's fields ("file_info"). 0 and `record` filled, or -1.
  int fileInfo(const std::u16string& id, NodeRecord* record) EXCLUDES(web_.lock(), tree_.lock());

 private:
  DriveProcess& drive_;
  StorageProcess& shared_;
  MirrorTreeStore& tree_;
  MirrorWebSession& web_;
};
