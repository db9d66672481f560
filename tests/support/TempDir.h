#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

// The name prefix of this process's temporary folders, ".../quellan-<pid>-": the pid lets a
// later test find and remove what a crashed one left (see Leftovers.h).
inline std::string OwnedTempPrefix() {
  return (std::filesystem::temp_directory_path() / ("quellan-" + std::to_string(::getpid()) + "-"))
      .string();
}

// A fresh folder under the system temporary folder, removed with everything in it.
class TempDir {
 public:
  TempDir() {
    std::string pattern = OwnedTempPrefix() + "XXXXXX";
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed in " + pattern);
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  std::string file(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};
