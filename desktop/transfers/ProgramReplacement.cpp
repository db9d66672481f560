#include "desktop/transfers/ProgramReplacement.h"

#include <QFile>
#include <QFileInfo>

#include "platform/atomicfile/AtomicFile.h"

namespace {

constexpr mode_t kExecutable = 0755;

bool IsExecutableFormat(const QByteArray& content) {
  return content.startsWith(
             "\x7f"
             "ELF") ||
         content.startsWith("#!");
}

}  // namespace

bool IsDebianPackage(const QString& path) {
  if (!path.endsWith(QStringLiteral(".deb"))) return false;
  QFile file(path);
  return file.open(QIODevice::ReadOnly) && file.read(8) == "!<arch>\n";
}

QString ReplaceProgram(const QString& downloaded, const QString& program) {
  QFile file(downloaded);
  if (!file.open(QIODevice::ReadOnly)) return QStringLiteral("无法读取下载的新版本文件");
  QByteArray content = file.readAll();
  if (!IsExecutableFormat(content)) return QStringLiteral("下载的新版本文件不是可执行程序，未安装");
  if (!QFileInfo(QFileInfo(program).path()).isWritable())
    return QStringLiteral("没有写入权限，无法替换程序：") + program;
  bool replaced = atomicfile::ReplaceFile(
      QFile::encodeName(program).toStdString(), std::string_view(content.data(), content.size()),
      {.syncFile = true, .syncFolder = true, .mode = kExecutable});
  return replaced ? QString() : QStringLiteral("替换程序失败：") + program;
}
