#pragma once

#include <fstream>
#include <string>

#include "tests/support/Files.h"
#include "tests/support/TempDir.h"

// A stand-in systemctl put first on PATH: it appends each call's arguments to calls.log and
// answers "is-active" with success while the file "active" exists.
class FakeSystemctl {
 public:
  FakeSystemctl() {
    std::string bin = dir_.file("bin");
    std::filesystem::create_directories(bin);
    std::ofstream script(bin + "/systemctl");
    script << "#!/bin/sh\n"
           << "echo \"$*\" >> '" << dir_.file("calls.log") << "'\n"
           << "case \"$*\" in *is-active*) [ -e '" << dir_.file("active") << "' ] ;; esac\n";
    script.close();
    std::filesystem::permissions(bin + "/systemctl", std::filesystem::perms::owner_all);
    oldPath_ = ::getenv("PATH") ? ::getenv("PATH") : "";
    ::setenv("PATH", (bin + ":" + oldPath_).c_str(), 1);
    ::setenv("QUELLAN_UNIT_DIR", dir_.file("units").c_str(), 1);
  }
  ~FakeSystemctl() {
    ::setenv("PATH", oldPath_.c_str(), 1);
    ::unsetenv("QUELLAN_UNIT_DIR");
  }

  void setActive(bool active) {
    if (active)
      std::ofstream(dir_.file("active")) << "1";
    else
      std::filesystem::remove(dir_.file("active"));
  }
  std::string calls() const { return ReadFile(dir_.file("calls.log")); }
  std::string unitFile(const std::string& name) const {
    return dir_.file("units/" + name + ".service");
  }
  std::string binFolder() const { return dir_.file("bin"); }
  std::string unitFolder() const { return dir_.file("units"); }

 private:
  TempDir dir_;
  std::string oldPath_;
};
