#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/drive/core/front/FrontHarness.h"

// Lays out the desktop program's folder in `folders` (the page linked in from the source tree)
// and a copy of the drive program named `driveName`, which the desktop program is told to
// start. Returns the program folder without its trailing slash.
inline std::string LayOutProgramFolder(const TestDriveFolders& folders,
                                       const std::string& driveName) {
  namespace fs = std::filesystem;
  std::string program = folders.programFolder();
  program.pop_back();
  fs::create_directories(program);
  fs::create_directory_symlink(QUELLAN_SOURCE_DIR "/skin", program + "/skin");
  std::string driveCopy = folders.top() + "/" + driveName;
  fs::copy_file(QUELLAN_PROGRAM, driveCopy);
  ::setenv("QUELLAN_DRIVE_PROGRAM", driveCopy.c_str(), 1);
  return program;
}
