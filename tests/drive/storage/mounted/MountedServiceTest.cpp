#include "tests/drive/storage/mounted/MountedServiceTest.h"

#include <utility>

void MountedServiceTest::SetUp() {
  reason_ = FuseMissingReason();
  if (!reason_.empty()) return;
  server_.addUser("alice", "secret");
  mine_ = std::filesystem::path(server_.userDir("alice")) / "我的空间";
}

void MountedServiceTest::mountDrive(std::vector<std::string> serverArgs, int maintenanceSteps,
                                    int debug) {
  ASSERT_TRUE(server_.start(0, std::move(serverArgs)));
  ASSERT_TRUE(mount_.start(server_, "alice", "secret", maintenanceSteps, debug));
  drive_ = mount_.root() / "我的空间";
}
