// A document read or written at length (a large structure opened, saved or
// kept as an undo state): the status window shows its message half a second
// in (from the start of the long command around it, if any), the windows
// repaint, and the cancel key stops it, with the rest of its command.
//
// The code that does the work asks Step() every so many records, on the main
// thread; worker threads that share the work watch Stopped(). Window plots
// that timers ask for meanwhile wait for the task to end.
#pragma once

#include "CancelPoll.h"
#include "render/PlotPipeline.h"

#include <atomic>
#include <cstdint>
#include <string_view>

class DocumentTask {
public:
  // A task that `stoppable` lets the user stop; one that is not shows the
  // status window all the same.
  DocumentTask(std::string_view status, bool stoppable);
  ~DocumentTask();
  DocumentTask(const DocumentTask &) = delete;
  DocumentTask &operator=(const DocumentTask &) = delete;

  // Work done (on the main thread); true once the user has stopped the task.
  bool Step();
  bool Stopped() const { return stopped_.load(std::memory_order_relaxed); }
  // For the worker threads of the task.
  const std::atomic<bool> &StopFlag() const { return stopped_; }

  // The task of the main thread while one runs, else none.
  static DocumentTask *Current();

private:
  WindowPlotsHeld held_;
  CancelPoll poll_;
  bool stoppable_;
  std::atomic<bool> stopped_{false};
  DocumentTask *outer_;
};

// Records between two steps of a task.
inline constexpr size_t kDocumentRecordsPerStep = 4096;
