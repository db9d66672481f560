#include "drive/core/PipeSession.h"

#include "drive/core/DriveProcess.h"
#include "drive/core/PipeCommands.h"
#include "platform/ticks/Ticks.h"

bool AcceptableRecord(long bytesRead, const PipeMessage& message) {
  // A length up to 1023 would pass a plain "below 1024" test, yet the text field holds
  // only 1015 bytes: such a record is dropped as well rather than read past its end.
  return bytesRead == static_cast<long>(kPipeMessageSize) && message.length >= 0 &&
         static_cast<size_t>(message.length) <= kPipeTextSize;
}

void ServeConnection(PipeConnection& connection, DriveProcess& drive) {
  PipeCommands commands(connection, drive);
  for (;;) {
    PipeMessage message;
    long count = connection.readRecord(message);
    if (count < 0) return;
    if (!AcceptableRecord(count, message)) continue;
    if (message.command == pipe_command::kEndConnection) return;
    drive.lastPipeMessageTime = GetTickCount();
    if (!commands.dispatch(message)) return;
  }
}
