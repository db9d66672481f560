#include "desktop/bridge/PathAnswers.h"

#include "platform/driveprotocol/DriveProtocol.h"

namespace bridge {

namespace {

constexpr int kMinimumPathLength = 5;
constexpr size_t kShortestFolder = 2;

struct AnswerCode {
  int answer;
  int code;
  const char* message;  // UTF-8
};

// Error codes of the drive program's login and read steps, as the page shows them.
constexpr AnswerCode kAnswerCodes[] = {
    {-12, -97, "账号被另外登录，请重新登录"},
    {-11, -98, "服务器维护暂不可用"},
    {-4, -4, "获取文件数据错误"},
    {-3, -3, "服务器数据错误"},
    {-2, -2, "连接服务器失败"},
    {-1, -1, "连接服务器地址错误"},
};

}  // namespace

std::optional<PageFailure> LocalPathFailure(const QString& answer) {
  if (answer.isEmpty())
    return PageFailure{page_result::kDriveNotRunning, QStringLiteral("该文件不存在")};
  if (answer.size() >= kMinimumPathLength) return std::nullopt;
  const int answered = answer.toInt();
  for (const AnswerCode& known : kAnswerCodes) {
    if (known.answer == answered) return PageFailure{known.code, QString::fromUtf8(known.message)};
  }
  return PageFailure{-90, QStringLiteral("未知错误")};
}

std::optional<std::string> ParentFolderOf(const std::string& path) {
  size_t separator = path.rfind('\\');
  if (separator == std::string::npos || separator == 0) return std::nullopt;
  std::string parent = path.substr(0, separator);
  if (parent.size() < kShortestFolder) return std::nullopt;
  return parent;
}

}  // namespace bridge
