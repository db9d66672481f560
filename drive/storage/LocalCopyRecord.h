// The record kept beside each local copy ("<n>.json" in the write cache): where its content
// belongs at the service, which version of the service's file it was filled from, and whether
// it holds changes the service has not taken yet. It is what lets a later start find and
// upload a copy that a crash or kill left behind.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct LocalCopyRecord {
  std::u16string serviceId;  // the service's file the copy replaces; empty for a new file
  std::u16string parentId;   // the folder its upload goes to
  std::u16string name;       // the name its upload gets
  std::string baseVersion;   // content key of the service's version it was filled from
  int64_t size = 0;          // its size when the record was written
  bool dirty = false;        // holds changes the service has not taken
};

std::string RecordText(const LocalCopyRecord& record);
// False with `error` set when `text` is not a record (not JSON, or a field missing or of the
// wrong kind); `record` is then left as it was.
bool ParseRecord(std::string_view text, LocalCopyRecord* record, std::string* error);
