#include <gtest/gtest.h>

#include <fstream>

#include "platform/service/ServiceManager.h"
#include "tests/platform/service/FakeSystemctl.h"
#include "tests/support/Files.h"

namespace {

TEST(ServiceManagerTest, CreateWritesUnitAndEnablesIt) {
  FakeSystemctl systemctl;
  SC_HANDLE manager = OpenSCManager();
  ASSERT_NE(manager, nullptr);
  EXPECT_EQ(OpenService(manager, "Tarvex"), nullptr);
  SC_HANDLE service = CreateService(manager, "Tarvex", "Tarvex", "/opt/q/quellan service");
  ASSERT_NE(service, nullptr);
  EXPECT_NE(ReadFile(systemctl.unitFile("Tarvex")).find("ExecStart=/opt/q/quellan service\n"),
            std::string::npos);
  EXPECT_NE(systemctl.calls().find("enable Tarvex.service"), std::string::npos);

  EXPECT_EQ(CreateService(manager, "Tarvex", "Tarvex", "x"), nullptr);
  EXPECT_EQ(GetLastServiceError(), EEXIST);
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
}

TEST(ServiceManagerTest, QueryStopAndDeleteFollowTheUnit) {
  FakeSystemctl systemctl;
  SC_HANDLE manager = OpenSCManager();
  SC_HANDLE service = CreateService(manager, "Tarvex", "Tarvex", "/q service");
  ASSERT_NE(service, nullptr);

  SERVICE_STATUS status{};
  ASSERT_TRUE(QueryServiceStatus(service, &status));
  EXPECT_EQ(status.dwCurrentState, SERVICE_STOPPED);
  systemctl.setActive(true);
  ASSERT_TRUE(QueryServiceStatus(service, &status));
  EXPECT_EQ(status.dwCurrentState, SERVICE_RUNNING);

  ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status));
  EXPECT_NE(systemctl.calls().find("stop Tarvex.service"), std::string::npos);

  ASSERT_TRUE(DeleteService(service));
  EXPECT_FALSE(std::filesystem::exists(systemctl.unitFile("Tarvex")));
  EXPECT_NE(systemctl.calls().find("disable Tarvex.service"), std::string::npos);
  EXPECT_EQ(OpenService(manager, "Tarvex"), nullptr);
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
}

TEST(ServiceManagerTest, ManagerFailsWhenTheUnitFolderCannotBeMade) {
  FakeSystemctl systemctl;
  ::setenv("QUELLAN_UNIT_DIR", "/proc/no-units-here", 1);
  EXPECT_EQ(OpenSCManager(), nullptr);
  EXPECT_NE(GetLastServiceError(), 0);
}

TEST(ServiceManagerTest, WrongHandlesAreRefused) {
  SERVICE_STATUS status{};
  EXPECT_FALSE(QueryServiceStatus(nullptr, &status));
  EXPECT_FALSE(DeleteService(nullptr));
  EXPECT_EQ(OpenService(nullptr, "Tarvex"), nullptr);
}

}  // namespace
