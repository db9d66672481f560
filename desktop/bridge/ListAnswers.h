// The page's lists of remote folders and files, read from the folder list file the drive
// program writes, brought up to date before every answer.
#pragma once

#include <QString>
#include <string>

class FolderList;

namespace bridge {

class RemoteLists;

class ListAnswers {
 public:
  // `list` is used from the GUI thread only; `path` is the folder list file.
  ListAnswers(FolderList& list, std::string path) : list_(list), path_(std::move(path)) {}

  QString getFileList(const QString& fileIdList, int filter);
  QString getFolderListById(const QString& id);
  QString getFolderTree(int filter);
  QString getNetDiskFileList(const QString& fileId, bool sub);

 private:
  RemoteLists current();

  FolderList& list_;
  const std::string path_;
};

}  // namespace bridge
