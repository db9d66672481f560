// One connection of the control pipe: reads records one by one, drops malformed ones,
// answers the rest through PipeCommands, and ends on command -100 or when the client goes.
#pragma once

#include "platform/driveprotocol/DriveProtocol.h"
#include "platform/pipe/PipeMessage.h"

// The transport under a session: the pipe itself, or a byte sequence in the fuzz target.
class PipeConnection {
 public:
  virtual ~PipeConnection() = default;
  // Reads one record: the count of bytes read (1024 for a whole record; a transport that can
  // deliver less hands over what it has, and the session drops it), or -1 when the client
  // closed its end, stayed silent too long or the read failed.
  virtual long readRecord(PipeMessage& message) = 0;
  // Writes the whole record; false when the client is gone.
  virtual bool writeRecord(const PipeMessage& message) = 0;
};

// True when a record read whole can be acted on: 1024 bytes, a length that fits its text.
bool AcceptableRecord(long bytesRead, const PipeMessage& message);

struct DriveProcess;

// Serves records until the client closes or sends -100, answering from `drive`.
void ServeConnection(PipeConnection& connection, DriveProcess& drive);
