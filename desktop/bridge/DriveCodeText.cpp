#include "desktop/bridge/DriveCodeText.h"

#include "desktop/bridge/ResultText.h"

namespace bridge {
namespace {

struct CodeSentence {
  int code;
  const char* sentence;  // UTF-8
};

// The mirror's error codes (passed through the pipe unchanged) and the pipe's own.
constexpr CodeSentence kCodeSentences[] = {
    {-1, "操作没有完成，请确认网盘正在运行后重试"},
    {-2, "文件或文件夹已经不存在，请刷新列表后重试"},
    {-3, "所在的文件夹已经不存在，请刷新列表后重试"},
    {-5, "没有权限修改这个文件或文件夹"},
    {-8, "所在的文件夹已经不存在，请刷新列表后重试"},
    {-9, "与网盘程序的连接中断，请确认网盘正在运行后重试"},
    {-100, "与网盘程序通信失败，请稍后重试"},
    {-148, "文件或文件夹正在使用中，请关闭使用它的程序后重试"},
    {-183, "已经有同名的文件或文件夹"},
    {-6009, "这是受保护或只读的文件夹，不能重命名、删除或在其中新建"},
};

constexpr char kOtherSentence[] = "操作没有成功，请稍后重试";

}  // namespace

QString DriveCodeSentence(int code) {
  for (const CodeSentence& known : kCodeSentences) {
    if (known.code == code) return QString::fromUtf8(known.sentence);
  }
  return QString::fromUtf8(kOtherSentence);
}

Json::Value DriveCodeFailure(const QString& message, int code) {
  Json::Value object = Failure(-1, message + QString::number(code));
  object["errorText"] = Text(DriveCodeSentence(code));
  return object;
}

}  // namespace bridge
