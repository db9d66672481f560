// The remote folders and files, from the folder list the drive program writes.
#include "desktop/control/FolderList.h"
#include "desktop/settings/ProgramFolder.h"
#include "desktop/shell/WebData.h"
#include "desktop/bridge/RemoteLists.h"
#include "desktop/bridge/ResultText.h"

using bridge::ResultText;
using bridge::Success;

namespace {

// The lists over the folder list brought up to date with the file.
bridge::RemoteLists CurrentLists() {
  FolderList& list = ProcessFolderList();
  list.read((programFolder() + QStringLiteral("/.filelist")).toStdString());
  return bridge::RemoteLists(list.entries(), list.folders());
}

}  // namespace

QString WebData::getFileList(QString fileIdList, int filter) {
  return ResultText(Success(CurrentLists().files(fileIdList.toStdString(), filter)));
}

QString WebData::getFolderListById(QString id) {
  return ResultText(Success(CurrentLists().folderChildren(id.toStdString())));
}

QString WebData::getFolderTree(int filter) {
  return ResultText(Success(CurrentLists().topFolders(filter)));
}

QString WebData::getNetDiskFileList(QString fileId, bool sub) {
  return ResultText(Success(CurrentLists().folderFiles(fileId.toStdString(), sub)));
}
