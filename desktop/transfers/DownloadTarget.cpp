#include "desktop/transfers/DownloadTarget.h"

#include <QFile>

#include "desktop/tasklines/TaskLine.h"

namespace downloadtarget {
namespace {

constexpr int kMaxNumber = 9999;

bool Exists(const std::string& path) { return QFile::exists(QString::fromStdString(path)); }

// "a/b.txt" with n = 2 gives "a/b (2).txt"; a name whose only dot leads it has no extension.
std::string Numbered(const std::string& filePath, int n) {
  size_t slash = filePath.rfind('/');
  size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  size_t dot = filePath.rfind('.');
  if (dot == std::string::npos || dot <= nameStart) dot = filePath.size();
  return filePath.substr(0, dot) + " (" + std::to_string(n) + ")" + filePath.substr(dot);
}

bool Free(const std::string& path, const Taken& taken) {
  return !Exists(path) && !Exists(PartPathOf(path)) && !(taken && taken(path));
}

}  // namespace

std::string PartPathOf(const std::string& filePath) { return filePath + tasklines::kPartSuffix; }

std::optional<std::string> FreePath(const std::string& filePath, const Taken& taken) {
  if (Free(filePath, taken)) return filePath;
  for (int n = 1; n <= kMaxNumber; ++n) {
    std::string candidate = Numbered(filePath, n);
    if (Free(candidate, taken)) return candidate;
  }
  return std::nullopt;
}

bool ClaimPartFile(const std::string& filePath) {
  QFile part(QString::fromStdString(PartPathOf(filePath)));
  return part.open(QIODevice::WriteOnly | QIODevice::NewOnly);
}

std::optional<std::string> Place(const std::string& partPath, const std::string& filePath) {
  QFile part(QString::fromStdString(partPath));
  // A rename never replaces an existing file; one that appeared since the check below makes
  // it fail and the next name is tried.
  for (int n = 0; n <= kMaxNumber; ++n) {
    std::string candidate = n == 0 ? filePath : Numbered(filePath, n);
    if (Exists(candidate)) continue;
    if (part.rename(QString::fromStdString(candidate))) return candidate;
    if (!Exists(candidate)) return std::nullopt;  // not a name taken meanwhile: no rename works
  }
  return std::nullopt;
}

std::string NameOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos || slash == 0 ? path : path.substr(slash + 1);
}

}  // namespace downloadtarget
