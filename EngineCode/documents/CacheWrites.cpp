#include "CacheWrites.h"

#include "PrefsFile.h"

#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace {

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
  w.finished.push_back({w.file, w.written, w.reason});
  w.file.clear();
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
  try {
    w.worker = std::thread([&w, file] { w.written = WriteCacheFile(file, w.bytes, &w.reason); });
    return true;
  } catch (const std::system_error &) {
    w.file.clear();
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
  FinishCacheWriteOf(file);
  std::error_code ec;
  std::filesystem::remove(file, ec);
}

std::vector<FinishedCacheWrite> TakeFinishedCacheWrites() {
  CacheWrite &w = Pending();
  const std::lock_guard<std::mutex> held(w.lock);
  JoinLocked(w);
  return std::exchange(w.finished, {});
}
