#include "drive/core/PipeCommands.h"

#include "drive/core/DriveFront.h"
#include "drive/core/DriveProcess.h"
#include "drive/core/IOMirror.h"
#include "drive/core/MirrorConfig.h"
#include "drive/core/PipeMirror.h"
#include "drive/core/PipeSession.h"
#include "platform/codepage/CodePage.h"

bool PipeCommands::dispatch(PipeMessage& request) {
  using namespace pipe_command;
  switch (request.command) {
    case kRunDriveLetter:
      return replyWith(request, runDriveLetter());
    case kSettingsDriveLetter:
      return replyWith(request, settingsDriveLetter());
    case kDriveState:
      return replyWith(request, std::to_string(drive_.driveState()));
    case kSetUserName:
    case kSetPassWord:
    case kSetDebug:
      changeSettings(request.command, request.firstPart());
      return true;
    case kDrivePath:
      return replyWith(request, drivePath(request.firstPart()));
    case kChildCount:
      return replyWith(request, std::to_string(childCount(request.firstPart())));
    case kStartDrive:
      startDrive();
      return true;
    case kStopDrive:
      stopDrive();
      return true;
    case kRefresh:
      drive_.refreshRequest = 1;
      return true;
    case kMakeFolders: {
      std::string key;
      int32_t result = makeFolders(request.firstPart(), request.secondPart(), &key);
      return replyTwoParts(request, result, key);
    }
    case kDeleteByKey: {
      std::u16string key = codepage::AnsiToWide(request.firstPart());
      std::u16string path =
          OnMirror(drive_, std::u16string(), [&](IOMirror& m) { return m.GetPath(key); });
      int32_t result = deleteByKey(key, path);
      return replyTwoParts(request, result, codepage::WideToAnsi(path));
    }
    case kEntryStream:
      return streamEntries(request);
    case kRename:
      return replyWith(request, std::to_string(rename(request.firstPart(), request.secondPart())));
    case kDeleteAtPath: {
      std::u16string path = codepage::AnsiToWide(request.firstPart());
      std::u16string key =
          OnMirror(drive_, std::u16string(), [&](IOMirror& m) { return m.GetIdOfPath(path); });
      int32_t result = key.empty() ? mirror_error::kGeneral : deleteByKey(key, path);
      return replyWith(request, std::to_string(result));
    }
    default:
      return true;  // unknown commands get no reply
  }
}

bool PipeCommands::replyWith(PipeMessage& request, const std::string& text) {
  // A text the record cannot hold is never cut short: the reply carries no text instead.
  if (!request.setText(text)) request.setText({});
  return connection_.writeRecord(request);
}

bool PipeCommands::replyTwoParts(PipeMessage& request, int32_t result, const std::string& second) {
  std::string number = std::to_string(result);
  if (!request.setTwoParts(number, second)) request.setTwoParts(number, {});
  return connection_.writeRecord(request);
}

std::string PipeCommands::runDriveLetter() const {
  return codepage::WideToAnsi(drive_.runDriveLetter());
}

std::string PipeCommands::settingsDriveLetter() const {
  return drive_.withCurrentObjects([](IOMirror*, MirrorConfig* settings) {
    if (settings == nullptr || settings->DriveLetter.empty()) return std::string();
    return codepage::WideToAnsi(settings->DriveLetter.substr(0, 1));
  });
}

void PipeCommands::changeSettings(int32_t command, std::string_view text) {
  drive_.withCurrentObjects([&](IOMirror*, MirrorConfig* settings) {
    if (settings == nullptr) return;
    if (command == pipe_command::kSetUserName) settings->setUserName(codepage::Utf8ToWide(text));
    if (command == pipe_command::kSetPassWord) settings->setPassWord(codepage::Utf8ToWide(text));
    if (command == pipe_command::kSetDebug)
      settings->setDebug(ParseDecimal(codepage::AnsiToWide(text)));
  });
}

std::string PipeCommands::drivePath(std::string_view key) const {
  std::u16string wideKey = codepage::Utf8ToWide(key);
  return codepage::WideToAnsi(
      OnMirror(drive_, std::u16string(), [&](IOMirror& m) { return m.GetDrivePath(wideKey); }));
}

int32_t PipeCommands::childCount(std::string_view path) const {
  std::u16string widePath = codepage::AnsiToWide(path);
  return OnMirror(drive_, int32_t{-1}, [&](IOMirror& m) {
    std::u16string key = m.GetIdOfPath(widePath);
    return key.empty() ? int32_t{-1} : static_cast<int32_t>(m.GetChildren(key).size());
  });
}

void PipeCommands::startDrive() {
  drive_.withCurrentObjects([](IOMirror*, MirrorConfig* settings) {
    if (settings != nullptr) settings->Run = 1;
  });
  Unmount(drive_);
}

void PipeCommands::stopDrive() {
  Unmount(drive_);
  drive_.withCurrentObjects([](IOMirror*, MirrorConfig* settings) {
    if (settings != nullptr) settings->Run = 0;
  });
}
