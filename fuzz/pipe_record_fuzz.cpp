// Feeds arbitrary reads to the control pipe server's record handling: the input is a series
// of reads, each a 16-bit little-endian size (at most 1024) followed by that many bytes, as
// the socket would deliver them. Every reply must be a whole record whose length fits it.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "drive/core/DriveProcess.h"
#include "drive/core/IOMirror.h"
#include "drive/core/MirrorConfig.h"
#include "drive/core/PipeSession.h"

namespace {

// Root \D (key "d") holding file "f" and folder \D\S (key "s") holding file "g".
class SmallMirror : public IOMirror {
 public:
  std::u16string GetDrivePath(const std::u16string& key) override {
    std::u16string path = GetPath(key);
    return path.empty() ? path : u"Z:" + path;
  }
  std::u16string GetPath(const std::u16string& key) override {
    NodeRecord record;
    return GetEntry(key, &record) == 0 ? record.folderPath + record.name : u"";
  }
  std::u16string GetIdOfPath(const std::u16string& path) override {
    for (const char16_t* key : {u"d", u"f", u"s", u"g"})
      if (GetPath(key) == path) return key;
    return path == u"\\" ? u"root" : u"";
  }
  int GetEntry(const std::u16string& key, NodeRecord* record) override {
    *record = NodeRecord();
    record->key = key;
    record->writable = 2;
    if (key == u"d" || key == u"s") record->attributes = kNodeFolderAttribute;
    if (key == u"d")
      record->folderPath = u"\\", record->name = u"D";
    else if (key == u"f")
      record->folderPath = u"\\D\\", record->name = u"f";
    else if (key == u"s")
      record->folderPath = u"\\D\\", record->name = u"S";
    else if (key == u"g")
      record->folderPath = u"\\D\\S\\", record->name = u"g", record->writable = 1;
    else
      return -1;
    return 0;
  }
  std::map<std::u16string, std::u16string> GetChildren(const std::u16string& key) override {
    if (key == u"root") return {{u"d", u"\\D"}};
    if (key == u"d") return {{u"f", u"\\D\\F"}, {u"s", u"\\D\\S"}};
    if (key == u"s") return {{u"g", u"\\D\\S\\G"}};
    return {};
  }
  int CreateDirectory(LPCWSTR, PDOKAN_FILE_INFO) override { return -183; }
};

class BytesConnection : public PipeConnection {
 public:
  BytesConnection(const uint8_t* data, size_t size) : next_(data), end_(data + size) {}
  long readRecord(PipeMessage& message) override {
    if (end_ - next_ < 2) return -1;
    size_t want = std::min<size_t>(next_[0] | (next_[1] << 8), sizeof(message));
    next_ += 2;
    size_t count = std::min<size_t>(want, static_cast<size_t>(end_ - next_));
    if (count == 0) return -1;
    std::memcpy(&message, next_, count);
    next_ += count;
    return static_cast<long>(count);
  }
  bool writeRecord(const PipeMessage& message) override {
    if (message.length < 0 || static_cast<size_t>(message.length) > kPipeTextSize) __builtin_trap();
    return true;
  }

 private:
  const uint8_t* next_;
  const uint8_t* end_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static SmallMirror mirror;
  static const std::string ini = "/tmp/quellan-pipe-fuzz-" + std::to_string(::getpid()) + ".ini";
  static MirrorConfig settings = [] {
    std::FILE* file = std::fopen(ini.c_str(), "wb");
    if (file != nullptr) std::fclose(file);
    return MirrorConfig(std::u16string(ini.begin(), ini.end()));
  }();
  static DriveProcess drive;
  drive.currentMirror = &mirror;
  drive.currentSettings = &settings;
  BytesConnection connection(data, size);
  ServeConnection(connection, drive);
  return 0;
}
