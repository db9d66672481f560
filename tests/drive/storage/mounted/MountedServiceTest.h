// A test fixture for a drive mounted in this process over a reference service: the user "alice"
// at the service, her "我的空间" folder there (`mine_`) and, once mounted, on the drive
// (`drive_`). Without FUSE, `reason_` says why and nothing is set up; tests start with
// SKIP_WITHOUT_FUSE_HERE(). The drive unmounts before the service and the folders go.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/drive/core/front/FrontHarness.h"
#include "tests/drive/storage/mounted/ServiceDrive.h"
#include "tests/support/ReferenceServer.h"

class MountedServiceTest : public ::testing::Test {
 protected:
  explicit MountedServiceTest(char letter) : mount_(folders_, letter) {}

  void SetUp() override;

  // Starts the service (with these extra arguments) and mounts the drive for "alice";
  // `maintenanceSteps` and `debug` as in ServiceDrive::start.
  void mountDrive(std::vector<std::string> serverArgs = {}, int maintenanceSteps = 1'000'000,
                  int debug = 3);

  std::string reason_;
  TestDriveFolders folders_;
  ReferenceServer server_;
  std::filesystem::path mine_;
  std::filesystem::path drive_;
  ServiceDrive mount_;
};

#define SKIP_WITHOUT_FUSE_HERE() \
  if (!reason_.empty()) GTEST_SKIP() << reason_
