#include "drive/stream/CMediaSpace.h"

#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstring>

#include "drive/stream/HeadCache.h"
#include "drive/wire/StreamLog.h"
#include "platform/ticks/Ticks.h"

namespace {
constexpr int32_t kPatternReads = 30;
constexpr int32_t kStatisticEvery = 50;
constexpr int64_t kSlowRoundTripUs = 1000;
const char kSeparator[] = "-------------------------------------------------------------";
}  // namespace

CMediaSpace::CMediaSpace(const std::string& programFolder, StreamContext& context)
    : folder_(programFolder),
      log_(context.log),
      spares_(context.spares),
      links_(context.links),
      cache_(context.rings),
      head_(new uint8_t[kHeadCapacity]()) {
  log_.setPath(folder_ + "vod.log");
  log_.readMask(folder_ + "media.ini");
}

CMediaSpace::~CMediaSpace() { close(); }

std::string CMediaSpace::open(const std::string& host, int port, const std::string& token1,
                              const std::string& token2) {
  MutexLock guard(readLock_);
  stopSlaves();  // a reader that is opened again starts from nothing
  log_.log(0, "%s", kSeparator);
  host_ = host;
  port_ = port;
  token1_ = token1;
  token2_ = token2;
  fileLength_ = 0;
  headSize_ = 0;
  opened_ = false;
  stop_ = true;
  closing_ = false;
  slavesStarted_ = false;
  slavesStalled_ = false;
  window_ = CMemCache::kRequestSize;
  lastReadEnd_ = -1;
  runStart_ = 0;
  leftPlaceEnd_ = -1;
  leftPlaceBytes_ = 0;
  askRoundTripNext_ = false;
  link_ = links_.meterFor(host, port);

  int32_t got = headcache::Read(log_, folder_, token2_, head_.get());
  if (got == headcache::kHeadSize) {
    headSize_ = got;
    cache_.store(head_.get(), 0, got);
  }
  if (headSize_ <= 0) {
    log_.log(0, "Open: Connect to %s:%d", host_.c_str(), port_);
    std::string status = masterOpen();
    if (status == "ok") {
      log_.log(0, "Open Success: %s:%d %s %s %" PRId64 " Ext=%s", host_.c_str(), port_,
               token1_.c_str(), token2_.c_str(), fileLength_.load(), ext_.c_str());
    } else {
      log_.log(0, "Open Fail(Val=%s): %s:%d %s %s", status.c_str(), host_.c_str(), port_,
               token1_.c_str(), token2_.c_str());
    }
    return status;
  }
  fileLength_ = headSize_.load();
  log_.log(0, "Open Success: %s:%d %s %s %" PRId64 " Ext=%s", host_.c_str(), port_, token1_.c_str(),
           token2_.c_str(), fileLength_.load(), "");
  return "ok";
}

void CMediaSpace::afterOpen(const uint8_t* head, int32_t headSize) {
  std::memcpy(head_.get(), head, headSize);
  headSize_ = headSize;
  stats_.start(token2_, fileLength_, ext_);
  cache_.store(head_.get(), 0, headSize);
  headcache::Write(log_, folder_, token2_, head_.get(), headSize);
  opened_ = true;
}

void CMediaSpace::noteRead(int64_t offset, int32_t size) {
  log_.log(2, "Read: Times=%ld Offset=%" PRId64 " Size=%ld", static_cast<long>(stats_.readCount()),
           offset, static_cast<long>(size));
  stats_.countRead(offset, size);
  int32_t count = stats_.readCount();
  if (count <= kPatternReads) {
    readPattern_ += std::to_string(offset) + "_" + std::to_string(size) + " ";
    if (count == kPatternReads) log_.log(2, "Read: %s", readPattern_.c_str());
  }
  if (count % kStatisticEvery == 0 && log_.enabled(4)) {
    log_.log(4, "Statistic: %s", stats_.text().c_str());
    log_.log(4, "MemCache: %s", cache_.text().c_str());
  }
}

CMediaSpace::ReadPlace CMediaSpace::followReadPattern(int64_t offset, int32_t size) {
  // Reads out of order (the kernel hands several reads over at once, and its threads may
  // deliver them in any order) still count as one sequential run: the pieces of two reads of
  // up to 1 MiB each may come interleaved. A read ahead within the window continues the run
  // too, its bytes being on their way; one further back than the kernel reorders is a seek.
  int64_t ahead = std::max<int64_t>(window_, kReorderBytes);
  bool sequential =
      lastReadEnd_ >= 0 && offset >= lastReadEnd_ - kReorderBytes && offset <= lastReadEnd_ + ahead;
  // The kernel's read-ahead of the old place may reach the reader after the first read at the
  // new place: such reads continue the old run from its end, or fill in behind it. Taken for a
  // seek, they would cut the new place's window to one request and drop its queued requests.
  bool lateForLeftPlace = !sequential && leftPlaceBytes_ >= size &&
                          offset >= leftPlaceEnd_ - kReorderBytes && offset <= leftPlaceEnd_;
  if (lateForLeftPlace) {
    leftPlaceEnd_ = std::max(leftPlaceEnd_, offset + size);
    leftPlaceBytes_ -= size;
    return ReadPlace::kLeftPlace;
  }
  if (!sequential) {
    leftPlaceEnd_ = lastReadEnd_;
    leftPlaceBytes_ = lastReadEnd_ >= 0 ? kLateReadBytes : 0;
    // A player that read a long stretch before seeking will read a long stretch again: it
    // keeps half the window. After a short run (random reads) one request is enough.
    bool longRun = lastReadEnd_ - runStart_ >= kLongRunBytes;
    runStart_ = offset;
    if (window_ > CMemCache::kRequestSize) {
      window_ = longRun ? std::max(window_ / 2, CMemCache::kRequestSize) : CMemCache::kRequestSize;
      leaveOldPlace();
    }
    askRoundTripNext_ = longRun;
  }
  lastReadEnd_ = offset + size;
  return sequential ? ReadPlace::kSequential : ReadPlace::kNewPlace;
}

int32_t CMediaSpace::grownWindow() const {
  int64_t grown = int64_t{window_} * 2;
  // Twice the bytes of a round trip keep the link busy while the next requests go out; the
  // rate lags a sample behind a growing window, so a third lets the window keep up. It is the
  // rate while the link delivers: a window too small for the link leaves it idle between
  // bursts, and its rate over the whole time would show only the window itself.
  int64_t keepsLinkBusy = 3 * link_->bytesPerBusyRoundTrip();
  // Even on a local link one request's bytes take a while to come: a second request asked
  // before the first is in keeps the connections from idling between them.
  constexpr int64_t kTwoRequests = 2 * CMemCache::kRequestSize;
  bool local = link_->shortestRoundTripUs() < kSlowRoundTripUs;
  // Until a rate has been measured the window doubles as before on a link with a round trip,
  // and grows to two requests on a local one.
  if (keepsLinkBusy > 0 || local) grown = std::min(grown, std::max(keepsLinkBusy, kTwoRequests));
  return static_cast<int32_t>(
      std::clamp<int64_t>(grown, CMemCache::kRequestSize, CMemCache::kLargestWindow));
}

int32_t CMediaSpace::read(void* buffer, int64_t offset, int32_t size) {
  MutexLock guard(readLock_);
  return readHeld(static_cast<uint8_t*>(buffer), offset, size);
}

int32_t CMediaSpace::readInPieces(void* out, int64_t offset, int32_t size) {
  auto* buffer = static_cast<uint8_t*>(out);
  int32_t done = 0;
  while (done < size) {
    int32_t piece = std::min(size - done, CMemCache::kLargestChunk);
    // The reader is let go between pieces: the kernel's reads further ahead, on other
    // threads, come in between and keep more of the file asked for on a slow link.
    int32_t got = read(buffer + done, offset + done, piece);
    if (got < 0) return done > 0 ? done : got;
    done += got;
    if (got < piece) break;  // the end of the file
  }
  return done;
}

int32_t CMediaSpace::readHeld(uint8_t* buffer, int64_t offset, int32_t size) {
  if (offset < 0 || size < 0 || closing_) return -1;
  if (offset > INT64_MAX - size) return -1;  // no file reaches that far
  noteRead(offset, size);
  ReadPlace place = followReadPattern(offset, size);
  bool sequential = place == ReadPlace::kSequential;
  bool late = place == ReadPlace::kLeftPlace;
  auto finish = [&](int32_t wanted, int32_t result) {
    log_.log(2, "Read: Times=%ld Offset=%" PRId64 " Size=%ld Count=%ld",
             static_cast<long>(stats_.readCount()), offset, static_cast<long>(wanted),
             static_cast<long>(result));
    return result;
  };

  if (offset + size > headSize_) {
    bool firstFetch = !slavesStarted_;
    if (!opened_) {
      if (masterOpen(true) != "ok") return finish(size, -1);
      log_.log(0, "Open Success: %s:%d %s %s %" PRId64 " Ext=%s", host_.c_str(), port_,
               token1_.c_str(), token2_.c_str(), fileLength_.load(), ext_.c_str());
    }
    if (!slavesStarted_) startSlaves();
    if (firstFetch) planAndQueue(CMemCache::kLargestChunk);
  }

  int64_t length = fileLength_;
  if (offset > length) return -1;
  int32_t wanted = size;
  if (offset + size > length) wanted = static_cast<int32_t>(length - offset);
  if (wanted == 0) return finish(0, 0);

  int32_t result;
  if (offset + wanted <= headSize_) {
    std::memcpy(buffer, head_.get() + offset, wanted);
    result = wanted;
  } else if (cache_.lookup(buffer, offset, wanted, !late) == 0) {
    result = wanted;
  } else if (wanted > CMemCache::kLargestChunk || late) {
    // A late read gets only its own bytes: planned like a read there, it would ask for part
    // of the window at the place left, and the planner would lose track of the new place's.
    result = directRead(buffer, offset, wanted);
    if (result > CMemCache::kLargestChunk) cache_.store(buffer, offset, result);
  } else {
    result = waitForFetched(buffer, offset, wanted);
    // The window did not cover the time the data took to come: let it grow.
    if (sequential) window_ = grownWindow();
  }

  // A late read of the place left plans nothing there: its requests would take the new
  // place's turn.
  if (slavesStarted_ && wanted <= CMemCache::kLargestChunk && !late) planAndQueue(offset + wanted);
  return finish(wanted, result);
}

// A small read that missed: queue its request and wait for the fetch threads. When no thread
// can deliver (none left, or none delivered within the limit, or nothing is pending and the
// planner asks for nothing new) the range is read directly on the master connection instead.
int32_t CMediaSpace::waitForFetched(uint8_t* buffer, int64_t offset, int32_t size) {
  constexpr int kStepMs = 500;
  constexpr uint32_t kFetchLimitMs = 10000;
  // From here the fetch threads wake this reader only for its own bytes. The cache is looked
  // at once more after saying so: bytes stored before that woke nobody.
  awaited_ = offset;
  planAndQueue(offset);
  uint32_t started = GetTickCount();
  bool held = cache_.lookup(buffer, offset, size) == 0;
  while (!held && !stop_) {
    if (liveSlaves_ == 0 || slavesStalled_) break;
    dataEvent_.waitFor(kStepMs);
    dataEvent_.reset();
    if (stop_) break;
    held = cache_.lookup(buffer, offset, size) == 0;
    if (held) break;
    if (!fetchPending()) {
      planAndQueue(offset);
      if (!fetchPending()) break;
    }
    if (TicksBetween(started, GetTickCount()) >= kFetchLimitMs) {
      slavesStalled_ = true;
      log_.log(0, "Read: fetch threads silent, reading directly at %" PRId64, offset);
    }
  }
  awaited_ = -1;
  if (held) return size;
  if (stop_) return -1;
  if (cache_.lookup(buffer, offset, size) == 0) return size;
  return directRead(buffer, offset, size);
}

void CMediaSpace::close() {
  // Closing again (the destructor after an explicit close) has nothing left to do.
  if (closing_.exchange(true) && !opened_ && !master_.isOpen()) return;
  // Wake a waiting reader first: it sees the stop flag and gives up its read.
  requestStop();
  dataEvent_.set();
  // Threads waiting for replies wake now instead of at their next 500 ms step.
  master_.interrupt();
  for (CRSSocket& socket : slaveSockets_) socket.interrupt();
  MutexLock guard(readLock_);
  stopSlaves();
  if (opened_) {
    std::string request = "t_close," + streamId();
    for (CRSSocket& socket : slaveSockets_) {
      if (socket.isOpen()) socket.sendRequest(request, sendLock_);
    }
    opened_ = false;
  }
  master_.close();
  for (CRSSocket& socket : slaveSockets_) socket.close();
  cache_.clear();
  log_.log(0, "Close: %s", token1_.c_str());
}
