#include "CacheWrites.h"

#include "PrefsFile.h"

#include <atomic>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace {

// Where the write under way stands: the worker moves it from kWriting to
// kFinished when it is done, the deleting of its document from kWriting to
// kGivenUp; whichever comes second sees the other's.
enum WriteState : int { kWriting, kFinished, kGivenUp };

// The write under way. The worker reads `bytes` and fills `written` and
// `reason`; nothing else touches them until it is joined. The mutex guards the rest, so that any
// thread may wait.
struct CacheWrite {
  std::mutex lock;
  std::thread worker;
  std::filesystem::path file;
  std::vector<uint8_t> bytes;
  bool written = true;
  std::string reason;
  std::atomic<int> state{kFinished};
  std::vector<FinishedCacheWrite> finished;
};

CacheWrite &Pending() {
  static CacheWrite write;
  return write;
}

void JoinLocked(CacheWrite &w) {
  if (!w.worker.joinable())
    return;
  w.worker.join();
  w.bytes = {};
  // A document deleted while it was written is nobody's concern now.
  if (w.state.load() != kGivenUp)
    w.finished.push_back({w.file, w.written, w.reason});
  w.file.clear();
}

// The worker's whole task: the document written, and deleted again when it
// was given up meanwhile.
void WriteAndFinish(CacheWrite &w, const std::filesystem::path &file) {
  w.written = WriteCacheFile(file, w.bytes, &w.reason, [&w] { return w.state.load() == kGivenUp; });
  int writing = kWriting;
  if (!w.state.compare_exchange_strong(writing, kFinished)) {
    std::error_code ec;
    std::filesystem::remove(file, ec);
  }
}

// The last write is finished before the program's statics go.
struct FinishAtExit {
  FinishAtExit() { Pending(); }
  ~FinishAtExit() { FinishCacheWrites(); }
} gFinishAtExit;

} // namespace

bool WriteCacheFileLater(const std::filesystem::path &file, std::vector<uint8_t> bytes, std::string *reason) {
  CacheWrite &w = Pending();
  const std::lock_guard<std::mutex> held(w.lock);
  JoinLocked(w);
  w.file = file;
  w.bytes = std::move(bytes);
  w.written = true;
  w.reason.clear();
  w.state = kWriting;
  try {
    w.worker = std::thread([&w, file] { WriteAndFinish(w, file); });
    return true;
  } catch (const std::system_error &) {
    w.file.clear();
    w.state = kFinished;
    return WriteCacheFile(file, std::exchange(w.bytes, {}), reason);
  }
}

void FinishCacheWrites() {
  CacheWrite &w = Pending();
  const std::lock_guard<std::mutex> held(w.lock);
  JoinLocked(w);
}

void FinishCacheWriteOf(const std::filesystem::path &file) {
  CacheWrite &w = Pending();
  const std::lock_guard<std::mutex> held(w.lock);
  if (w.worker.joinable() && w.file == file)
    JoinLocked(w);
}

void RemoveCacheDocument(const std::filesystem::path &file) {
  {
    // A document still being written is given up: the worker stops at its
    // next piece and deletes what it wrote, and nobody waits for it.
    CacheWrite &w = Pending();
    const std::lock_guard<std::mutex> held(w.lock);
    int writing = kWriting;
    if (w.worker.joinable() && w.file == file && w.state.compare_exchange_strong(writing, kGivenUp))
      return;
    if (w.worker.joinable() && w.file == file)
      JoinLocked(w);
  }
  std::error_code ec;
  std::filesystem::remove(file, ec);
}

std::vector<FinishedCacheWrite> TakeFinishedCacheWrites() {
  CacheWrite &w = Pending();
  const std::lock_guard<std::mutex> held(w.lock);
  JoinLocked(w);
  return std::exchange(w.finished, {});
}
