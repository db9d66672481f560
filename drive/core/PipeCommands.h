// The commands of the control pipe, answered from the drive program's state, its current
// settings and its current mirror. Each reply reuses the request record: the text and the
// length change, the command and the more flag stay as they came.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/driveprotocol/DriveProtocol.h"
#include "platform/pipe/PipeMessage.h"

class IOMirror;
class PipeConnection;
struct DriveProcess;
struct NodeRecord;

class PipeCommands {
 public:
  PipeCommands(PipeConnection& connection, DriveProcess& drive)
      : connection_(connection), drive_(drive) {}

  // Acts on one accepted request and writes its replies. False when a write failed (the
  // connection is over).
  bool dispatch(PipeMessage& request);

 private:
  // Simple commands: the reply text, or nothing for commands without a reply.
  bool replyWith(PipeMessage& request, const std::string& text);
  bool replyTwoParts(PipeMessage& request, int32_t result, const std::string& second);

  std::string runDriveLetter() const;
  std::string settingsDriveLetter() const;
  void changeSettings(int32_t command, std::string_view text);
  std::string drivePath(std::string_view key) const;
  int32_t childCount(std::string_view path) const;
  void startDrive();
  void stopDrive();

  // Name operations.
  int32_t makeFolders(std::string_view parentKey, std::string_view relativePath,
                      std::string* newKey);
  int32_t deleteByKey(const std::u16string& key, const std::u16string& path);
  int32_t rename(std::string_view key, std::string_view newName);
  bool streamEntries(PipeMessage& request);
  // The list of an entry stream request, joined over its continuation records.
  std::string joinedList(PipeMessage& request);
  // File lines of the stream for the keys of `list`; false when a write failed.
  bool streamKeys(PipeMessage& request, int32_t filter, std::string_view list);
  bool streamFolder(PipeMessage& request, int32_t filter, const std::u16string& folderKey);
  bool sendFileLine(PipeMessage& request, int32_t filter, const NodeRecord& record);

  PipeConnection& connection_;
  DriveProcess& drive_;
};

// One file line of the entry stream: key, name, time twice, folder path and size, joined
// by vertical bars (UTF-16; the stream sends it in the ANSI code page).
std::u16string EntryLine(const NodeRecord& record);
