// Status codes of the drive watcher, their messages, and when a change deserves a notice.
#include <gtest/gtest.h>

#include "desktop/drive/DriveStatus.h"
#include "desktop/drive/NoticeFilter.h"

namespace {

TEST(DriveStatusTest, EveryCodeHasItsMessage) {
  const std::pair<int, const char*> known[] = {
      {-99, "网盘服务未运行"},      {-9, "无法连接到网盘或网盘未启动"},
      {-5, "不能装载该网盘的盘符"}, {-4, "网盘发生错误"},
      {-3, "不能装载该网盘"},       {-2, "错误的网盘盘符"},
      {-1, "网盘出现错误"},         {0, "网盘服务无法连接"},
      {1, "网盘正在启动"},          {2, "网盘正在运行"},
      {3, "网盘加载成功"},          {4, "网盘正在登录"},
      {5, "网盘登录成功"},          {8, "网盘正在停止运行"},
      {9, "网盘已经停止运行"},      {10, "网盘账号密码错误"},
      {11, "网盘登录连接失败"},     {12, "网盘登录失败"},
  };
  for (const auto& [code, message] : known)
    EXPECT_EQ(DriveStatusMessage(code), QString::fromUtf8(message)) << code;
  for (int other : {6, 7, 13, -6, -8, -10, -98, -100, -101})
    EXPECT_EQ(DriveStatusMessage(other), QStringLiteral("网盘服务未运行")) << other;
}

TEST(DriveStatusTest, OneNoticePerChangeOfCodeOrServiceFlag) {
  NoticeFilter filter;
  EXPECT_TRUE(filter.changed(-100, 0));  // the first report always
  EXPECT_FALSE(filter.changed(-100, 0));
  EXPECT_TRUE(filter.changed(2, 0));
  EXPECT_FALSE(filter.changed(2, 0));
  EXPECT_TRUE(filter.changed(2, 1));
  EXPECT_TRUE(filter.changed(-9, 1));
  EXPECT_TRUE(filter.changed(-99, 1));
  EXPECT_FALSE(filter.changed(-99, 1));
}

}  // namespace
