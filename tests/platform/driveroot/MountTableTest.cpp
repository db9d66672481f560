#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/driveroot/DriveRoot.h"
#include "platform/driveroot/MountTable.h"

TEST(MountInfo, ParsesMountPointsDevicesAndTypes) {
  const char* text =
      "22 1 0:21 / /proc rw,nosuid - proc proc rw\n"
      "90 22 0:55 / /home/u/Quellan/M rw,nosuid,nodev - fuse.quellan quellan-M rw\n"
      "91 22 0:56 / /home/u/My\\040Drives/N rw shared:5 master:1 - fuse q rw\n"
      "broken line\n"
      "92 22 zz / /bad rw - ext4 /dev/sda rw\n"
      "\n"
      "93 22 0:57 / /home/u/Quellan/M rw - tmpfs t rw";
  auto mounts = driveroot::ParseMountInfo(text);
  ASSERT_EQ(mounts.size(), 4u);
  EXPECT_EQ(mounts[1].mountPoint, "/home/u/Quellan/M");
  EXPECT_EQ(mounts[1].minor, 55u);
  EXPECT_EQ(mounts[1].fsType, "fuse.quellan");
  EXPECT_EQ(mounts[2].mountPoint, "/home/u/My Drives/N");
  EXPECT_EQ(mounts[2].fsType, "fuse");
  // The topmost of two mounts on one folder is the one that counts.
  const driveroot::MountEntry* top = driveroot::FindMount(mounts, "/home/u/Quellan/M");
  ASSERT_NE(top, nullptr);
  EXPECT_EQ(top->fsType, "tmpfs");
  EXPECT_EQ(driveroot::FindMount(mounts, "/home/u/Quellan"), nullptr);
}

TEST(MountInfo, EscapesAtTheEndOfAFieldAreKeptAsText) {
  auto mounts =
      driveroot::ParseMountInfo("1 1 0:1 / /a\\04 rw - t s rw\n1 1 0:1 / /b\\ rw - t s rw");
  ASSERT_EQ(mounts.size(), 2u);
  EXPECT_EQ(mounts[0].mountPoint, "/a\\04");
  EXPECT_EQ(mounts[1].mountPoint, "/b\\");
}

TEST(DriveRootFolder, ComesFromTheEnvironmentOrTheHomeFolder) {
  const char* saved = std::getenv("QUELLAN_DRIVE_ROOT");
  std::string keep = saved ? saved : "";
  ::setenv("QUELLAN_DRIVE_ROOT", "/tmp/drives//", 1);
  EXPECT_EQ(driveroot::DriveRoot(), "/tmp/drives");
  EXPECT_EQ(driveroot::MountPointOf(u'K'), "/tmp/drives/K");
  EXPECT_EQ(driveroot::MountPointOf(u'k'), "");
  ::setenv("QUELLAN_DRIVE_ROOT", "", 1);
  if (const char* home = std::getenv("HOME")) {
    EXPECT_EQ(driveroot::DriveRoot(), std::string(home) + "/Quellan");
  }
  if (saved)
    ::setenv("QUELLAN_DRIVE_ROOT", keep.c_str(), 1);
  else
    ::unsetenv("QUELLAN_DRIVE_ROOT");
}
