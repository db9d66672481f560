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

// One notice per change of state: none while no drive program was ever heard from (before
// the first login), and an outage whose codes alternate between a broken and a missing pipe
// is one notice.
TEST(DriveStatusTest, OneNoticePerChangeOfStateOrServiceFlag) {
  struct Pass {
    int code;
    int serviceFlag;
    bool noticed;
  };
  const Pass passes[] = {
      {-100, 0, false}, {-99, 0, false}, {-99, 0, false}, {1, 0, true},  {4, 0, true},
      {2, 0, true},     {2, 0, false},   {2, 1, true},    {-9, 1, true}, {-99, 1, false},
      {-9, 1, false},   {-99, 1, false}, {1, 1, true},    {10, 1, true}, {10, 1, false},
  };
  NoticeFilter filter;
  int pass = 0;
  for (const Pass& p : passes)
    EXPECT_EQ(filter.changed(p.code, p.serviceFlag), p.noticed) << "pass " << pass++;
}

}  // namespace
