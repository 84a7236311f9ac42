// One clock for the status window and the cancel checks of a long command.
#pragma once

#include <cstdint>

// A command that may run long (a menu command, an open, an applied range)
// holds a LongCommand for its whole length. Its stages (cell tiling, bonds,
// polyhedra, the plot) each report and check for the cancel key on their
// own; they then time the status window's half second of quiet from the
// command's start, a cancel key pressed since it began counts (one pressed
// before does not), the status window stays up from stage to stage until
// the command ends, and a stage the user stops stops the stages after it.
// Commands nest: the outermost one owns the clock, unless the status of
// another task (a batch) was up already.
class LongCommand {
public:
  LongCommand();
  ~LongCommand();
  LongCommand(const LongCommand &) = delete;
  LongCommand &operator=(const LongCommand &) = delete;
};

// True, with the start of the running long command, while one runs.
bool LongCommandStart(uint64_t *start);
// True while any long command runs, owning the clock or not (the event
// loop's turns in its cancel checks included).
bool LongCommandRunning();
// The user stopped a stage of the running long command: the stages after
// it stop at their first cancel check, so that one Escape stops the whole
// command. A cancel check notes it (CancelPoll.h).
void NoteLongCommandCancelled();
bool LongCommandCancelled();

// While one lives, the command shows what its stop leaves (the structure
// without bonds, or as it was before the command): the cancel checks made
// meanwhile are not stopped by the earlier stop, only by a new key.
class ShowingAfterStop {
public:
  ShowingAfterStop() { ++Depth(); }
  ~ShowingAfterStop() { --Depth(); }
  ShowingAfterStop(const ShowingAfterStop &) = delete;
  ShowingAfterStop &operator=(const ShowingAfterStop &) = delete;
  static bool Active() { return Depth() > 0; }

private:
  static int &Depth() {
    static int depth = 0;
    return depth;
  }
};
// The user answered a dialog the command opened: its clock starts again.
void RestartLongCommand();

// Shows the status window, with the last report, once the task has run the
// status delay since its first report (the cancel checks call it).
void RefreshStatus();
// Hides the status window for an alert; a later report shows it again.
void HideStatusForAlert();
