// What the stream readers of one program share: the stream log, the ring budget of their
// memory caches and the spare connections to the stream servers. The owner of the readers
// makes one and hands it to each reader.
#pragma once

#include "drive/stream/RingBudget.h"
#include "drive/stream/SpareConnections.h"
#include "drive/wire/StreamLog.h"

struct StreamContext {
  CStreamLog log;
  RingBudget rings;
  SpareConnections spares;
};
