// Cache documents written on a worker thread, so that a large undo state
// does not hold up the window that took it.
//
// One write is under way at a time: handing over the next waits for the one
// before. Whatever reads or rewrites a cache document first waits for its
// write (the document reader and the undo history's refit do so; a file of
// another program never waits), deleting one gives its write up, and the
// program waits for the last one before it empties the cache folder or
// exits.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// A cache document the worker wrote, or could not write and why.
struct FinishedCacheWrite {
  std::filesystem::path file;
  bool written = false;
  std::string reason;
};

// Writes the bytes as the cache document `file` (WriteCacheFile) on the
// worker; written at once when no thread can be started. False (and why)
// when that immediate write failed.
bool WriteCacheFileLater(const std::filesystem::path &file, std::vector<uint8_t> bytes,
                         std::string *reason = nullptr);
// Waits for the write under way, if any.
void FinishCacheWrites();
// Waits when the write under way is of `file`.
void FinishCacheWriteOf(const std::filesystem::path &file);
// Deletes the cache document `file`. Its write, when still under way, is
// given up without waiting for it: the worker stops soon and deletes what
// it wrote, and the write is not among those finished.
void RemoveCacheDocument(const std::filesystem::path &file);
// The writes finished since the last call, oldest first, after waiting for
// the one under way.
std::vector<FinishedCacheWrite> TakeFinishedCacheWrites();
