// What the stream readers of one program share: the stream log and the ring budget of their
// memory caches. The owner of the readers makes one and hands it to each reader.
#pragma once

#include "drive/stream/RingBudget.h"
#include "drive/wire/StreamLog.h"

struct StreamContext {
  CStreamLog log;
  RingBudget rings;
};
