#include "desktop/drive/DriveStatus.h"

#include "platform/driveprotocol/DriveProtocol.h"

QString DriveStatusMessage(int code) {
  switch (code) {
    case drive_status::kPipeBroken:
      return QStringLiteral("无法连接到网盘或网盘未启动");
    case drive_state::kCannotMount:
      return QStringLiteral("不能装载该网盘的盘符");
    case drive_state::kDriverStartError:
      return QStringLiteral("网盘发生错误");
    case drive_state::kDriverInstallError:
      return QStringLiteral("不能装载该网盘");
    case drive_state::kBadDriveLetter:
      return QStringLiteral("错误的网盘盘符");
    case drive_state::kFailed:
      return QStringLiteral("网盘出现错误");
    case drive_status::kNoConnection:
      return QStringLiteral("网盘服务无法连接");
    case drive_state::kStarting:
      return QStringLiteral("网盘正在启动");
    case drive_state::kMounted:
      return QStringLiteral("网盘正在运行");
    case drive_status::kLoaded:
      return QStringLiteral("网盘加载成功");
    case drive_state::kLoggingIn:
      return QStringLiteral("网盘正在登录");
    case drive_state::kLoggedIn:
      return QStringLiteral("网盘登录成功");
    case drive_state::kStopped:
      return QStringLiteral("网盘正在停止运行");
    case drive_status::kHasStopped:
      return QStringLiteral("网盘已经停止运行");
    case drive_state::kLoginFailedOne:
      return QStringLiteral("网盘账号密码错误");
    case drive_state::kLoginFailedConnect:
      return QStringLiteral("网盘登录连接失败");
    case drive_state::kLoginFailedRefused:
      return QStringLiteral("网盘登录失败");
    default:
      return QStringLiteral("网盘服务未运行");  // -99 and every unknown code
  }
}
