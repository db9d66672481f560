#include "desktop/drive/DriveStatus.h"

QString DriveStatusMessage(int code) {
  switch (code) {
    case -9:
      return QStringLiteral("无法连接到网盘或网盘未启动");
    case -5:
      return QStringLiteral("不能装载该网盘的盘符");
    case -4:
      return QStringLiteral("网盘发生错误");
    case -3:
      return QStringLiteral("不能装载该网盘");
    case -2:
      return QStringLiteral("错误的网盘盘符");
    case -1:
      return QStringLiteral("网盘出现错误");
    case 0:
      return QStringLiteral("网盘服务无法连接");
    case 1:
      return QStringLiteral("网盘正在启动");
    case 2:
      return QStringLiteral("网盘正在运行");
    case 3:
      return QStringLiteral("网盘加载成功");
    case 4:
      return QStringLiteral("网盘正在登录");
    case 5:
      return QStringLiteral("网盘登录成功");
    case 8:
      return QStringLiteral("网盘正在停止运行");
    case 9:
      return QStringLiteral("网盘已经停止运行");
    case 10:
      return QStringLiteral("网盘账号密码错误");
    case 11:
      return QStringLiteral("网盘登录连接失败");
    case 12:
      return QStringLiteral("网盘登录失败");
    default:
      return QStringLiteral("网盘服务未运行");  // -99 and every unknown code
  }
}

DriveStatus& PublishedDriveStatus() {
  static DriveStatus status;
  return status;
}
