// The user's cancel (Escape, Ctrl+.), asked of the host now and then during a
// long loop of the engine.
#pragma once

#include "HostServices.h"
#include "LongCommand.h"

#include <cstdint>

// A task is asked about only once it has run as long as it takes the status
// window to appear (kStatusOpenDelay): a quick task never gives the host's
// event loop a turn. After that the host is asked every tenth of a second,
// and each time the status window is shown if it is due. The host clock is
// read every `clockEvery` steps.
//
// Inside a long command (LongCommand) the delay runs from the command's
// start, for all of its stages, and a cancel key pressed since the command
// began counts. Outside one, the delay runs from the poll's construction and
// the first question only clears a cancel key pressed before the task could
// be stopped.
//
// A stop is noted with the long command: a poll of a later stage answers
// true at its first step, and one already running at its next reading of
// the clock. A poll made `afterStop` (the stage that shows what a stopped
// command leaves) is not stopped by an earlier stop, only by a new key.
class CancelPoll {
public:
  explicit CancelPoll(int64_t clockEvery, bool afterStop = false)
      : clockEvery_(clockEvery < 1 ? 1 : clockEvery), afterStop_(afterStop || ShowingAfterStop::Active()) {
    inCommand_ = LongCommandStart(&start_);
    if (!inCommand_)
      start_ = Microseconds();
    cancelled_ = !afterStop_ && LongCommandCancelled();
  }

  // One step done; true once the user has asked to stop.
  bool Step() {
    if (cancelled_)
      return true;
    if (++steps_ < clockEvery_)
      return false;
    steps_ = 0;
    if (!afterStop_ && LongCommandCancelled())
      return cancelled_ = true;
    const uint64_t now = Microseconds();
    if (!armed_) {
      if (now - start_ < kQuietMicroseconds)
        return false;
      armed_ = true;
      last_ = now;
      RefreshStatus();
      if (!inCommand_) {
        MyCheckForUserCancelEvent(); // a key pressed before now does not count
        return false;
      }
    } else {
      if (now - last_ < kPollMicroseconds)
        return false;
      last_ = now;
      RefreshStatus();
    }
    cancelled_ = MyCheckForUserCancelEvent();
    if (cancelled_)
      NoteLongCommandCancelled();
    return cancelled_;
  }

private:
  static constexpr uint64_t kQuietMicroseconds = static_cast<uint64_t>(kStatusOpenDelay * 1e6);
  static constexpr uint64_t kPollMicroseconds = 100000;
  int64_t clockEvery_;
  uint64_t start_ = 0;
  uint64_t last_ = 0;
  int64_t steps_ = 0;
  bool afterStop_;
  bool inCommand_ = false;
  bool armed_ = false;
  bool cancelled_ = false;
};
