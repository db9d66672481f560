// What the stream readers of one program share: the stream log, the ring budget of their
// memory caches, the spare connections to the stream servers and what they learnt of the
// links to them. The owner of the readers makes one and hands it to each reader.
#pragma once

#include "drive/stream/LinkMeters.h"
#include "drive/stream/RingBudget.h"
#include "drive/stream/SpareConnections.h"
#include "drive/wire/StreamLog.h"

struct StreamContext {
  CStreamLog log;
  RingBudget rings;
  SpareConnections spares;
  LinkMeters links;
};
