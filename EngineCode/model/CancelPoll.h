// The user's cancel (Escape, Ctrl+.), asked of the host now and then during a
// long loop of the engine.
#pragma once

#include "HostServices.h"

#include <cstdint>

// Asks after every `interval` steps, or sooner once `microseconds` of the
// host clock have passed since the last question, so that neither many
// quick steps nor a few slow ones make the question costly or late. A cancel
// key pressed before the loop began does not count.
class CancelPoll {
public:
  explicit CancelPoll(int64_t interval, uint64_t microseconds = 100000)
      : interval_(interval), limit_(microseconds), last_(Microseconds()) {
    MyCheckForUserCancelEvent();
  }

  // One step done; true once the user has asked to stop.
  bool Step() {
    if (cancelled_)
      return true;
    ++steps_;
    const bool due = steps_ >= interval_ || ((steps_ & (kClockEvery - 1)) == 0 && Microseconds() - last_ >= limit_);
    if (!due)
      return false;
    steps_ = 0;
    last_ = Microseconds();
    cancelled_ = MyCheckForUserCancelEvent();
    return cancelled_;
  }

private:
  // The clock is read every this many steps (a power of two).
  static constexpr int64_t kClockEvery = 8;
  int64_t interval_;
  uint64_t limit_;
  uint64_t last_;
  int64_t steps_ = 0;
  bool cancelled_ = false;
};
