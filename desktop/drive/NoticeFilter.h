// Decides when a drive status deserves a notice: once per change of the drive's state or of
// the service flag. Nothing is noticed before a drive program was heard from (before the
// first login nobody started one), and an outage is one state however its codes alternate
// (the pipe breaking, then missing, then found again and broken).
#pragma once

#include "platform/driveprotocol/DriveProtocol.h"
#include "platform/sync/Mutex.h"

class NoticeFilter {
 public:
  // Which changes count.
  enum class Rule {
    kEveryChange,    // any other code or service flag (the log keeps every step)
    kChangeOfState,  // the rules above (the balloons)
  };
  explicit NoticeFilter(Rule rule = Rule::kChangeOfState) : rule_(rule) {}

  // True when (code, serviceFlag) is a change worth a notice; remembers the new pair.
  bool changed(int code, int serviceFlag) EXCLUDES(lock_) {
    MutexLock hold(lock_);
    if (rule_ == Rule::kEveryChange) heardDrive_ = true;
    const int state = IsOutage(code) && rule_ == Rule::kChangeOfState ? kOutage : code;
    if (!IsOutage(code)) heardDrive_ = true;
    if (!heardDrive_ || (state == lastState_ && serviceFlag == lastServiceFlag_)) return false;
    lastState_ = state;
    lastServiceFlag_ = serviceFlag;
    return true;
  }

 private:
  static constexpr int kNone = 0xffff;
  static constexpr int kOutage = drive_status::kNoPipe;
  static bool IsOutage(int code) {
    return code == drive_status::kNoPipe || code == drive_status::kPipeBroken ||
           code == drive_status::kNotYetAsked;
  }

  const Rule rule_;
  Mutex lock_;
  bool heardDrive_ GUARDED_BY(lock_) = false;
  int lastState_ GUARDED_BY(lock_) = kNone;
  int lastServiceFlag_ GUARDED_BY(lock_) = kNone;
};
