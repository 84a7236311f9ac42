#include "documents/DocumentTask.h"

#include "HostServices.h"

namespace {

// Each thread its own: only the main thread runs tasks, and a worker that
// reads or writes a file meanwhile is none of its work.
thread_local DocumentTask *gCurrentTask = nullptr;

} // namespace

DocumentTask::DocumentTask(std::string_view status, bool stoppable)
    : poll_(1, !stoppable), stoppable_(stoppable), outer_(gCurrentTask) {
  WriteStatus(status);
  gCurrentTask = this;
}

DocumentTask::~DocumentTask() {
  gCurrentTask = outer_;
  CloseStatus();
}

bool DocumentTask::Step() {
  if (Stopped())
    return true;
  if (!poll_.Step())
    return false;
  if (stoppable_) {
    stopped_.store(true, std::memory_order_relaxed);
    return true;
  }
  // A task that may not stop goes on giving the event loop its turns; the
  // key stops the stages of its command that come after it.
  poll_ = CancelPoll(1, true);
  return false;
}

DocumentTask *DocumentTask::Current() { return gCurrentTask; }
