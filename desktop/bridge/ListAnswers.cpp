#include "desktop/bridge/ListAnswers.h"

#include "desktop/bridge/RemoteLists.h"
#include "desktop/bridge/ResultText.h"
#include "desktop/control/FolderList.h"

namespace bridge {

RemoteLists ListAnswers::current() {
  list_.read(path_);
  return RemoteLists(list_.entries(), list_.folders());
}

QString ListAnswers::getFileList(const QString& fileIdList, int filter) {
  return ResultText(Success(current().files(fileIdList.toStdString(), filter)));
}

QString ListAnswers::getFolderListById(const QString& id) {
  return ResultText(Success(current().folderChildren(id.toStdString())));
}

QString ListAnswers::getFolderTree(int filter) {
  return ResultText(Success(current().topFolders(filter)));
}

QString ListAnswers::getNetDiskFileList(const QString& fileId, bool sub) {
  return ResultText(Success(current().folderFiles(fileId.toStdString(), sub)));
}

}  // namespace bridge
