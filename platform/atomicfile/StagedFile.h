// A new content for a file, written beside it first and put in its place later in one rename,
// so that a large content is streamed to disk instead of being held in memory, and the moment
// it replaces the old one can be chosen separately (for example under a lock).
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

namespace atomicfile {

class StagedFile {
 public:
  StagedFile() = default;
  // Creates the temporary beside `path`; ok() is false when that failed.
  explicit StagedFile(const std::string& path, mode_t mode = 0666);
  StagedFile(StagedFile&& other) noexcept;
  StagedFile& operator=(StagedFile&& other) noexcept;
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;
  ~StagedFile() { discard(); }

  // True while the temporary is open and every write so far succeeded.
  bool ok() const { return fd_ >= 0 && !failed_; }
  bool staged() const { return fd_ >= 0; }
  // Appends to the temporary; a failure makes ok() false and commit() fail.
  void write(std::string_view bytes);
  // Closes the temporary and renames it over the file. False (the file unchanged, the
  // temporary removed) when any step failed.
  bool commit();
  // Removes the temporary, leaving the file as it was.
  void discard();

 private:
  std::string path_, temporary_;
  int fd_ = -1;
  bool failed_ = false;
};

}  // namespace atomicfile
