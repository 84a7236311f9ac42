// Writing a file so that it is always either the old file or the whole new
// one: every save and every export goes through this writer.
//
// The bytes go to a hidden temporary file ".~NAME.<number>.tmp" in the
// target's folder; a NAME too long for that to fit the file system's limit
// on names is cut to its head (on a whole character) and a checksum of the
// whole name, so that any name the system takes can be written. `Commit`
// gives it the mode (and, where the system allows, the owner and group) of
// the file it replaces, or the usual mode of a new file (0666 less the
// umask), flushes it to disk, closes it and renames it over the target.
// Every write, the flush and the close are checked; the first failure is
// kept with the system's reason, and a writer that failed, was aborted or is
// destroyed uncommitted removes its temporary file and leaves the target
// exactly as it was. A large file has its room on the disk set aside
// first and its bytes sent to the disk as they are written (the flush
// still comes at the commit), and a large file replaced is let go on a
// thread of its own after the rename, so that a save does not wait for its
// pages and blocks to be freed.
//
// A target that is a symbolic link is written through: the file the link
// points to is replaced (its temporary file beside it) and the link stays.
// A target that exists but is not a regular file (a device, a pipe) cannot be
// replaced and is written in place.
//
// While a writer is open it holds a lock on its temporary file, so a file of
// the temporary pattern that nobody holds was left by a write that was
// interrupted (the program killed, the machine stopped). Every commit
// removes those of its target: exactly that name's pattern, only regular
// files that no running writer holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

// Test hook: when not negative, every writer fails after this many bytes, as
// a full disk would (the system's reason "No space left on device").
extern long gFailWritesAfterBytes;

class AtomicFileWriter {
public:
  // Opens the temporary file for `target`; check IsOpen.
  explicit AtomicFileWriter(const std::filesystem::path &target);
  ~AtomicFileWriter(); // aborts an uncommitted file
  AtomicFileWriter(const AtomicFileWriter &) = delete;
  AtomicFileWriter &operator=(const AtomicFileWriter &) = delete;

  // False when the file could not be opened (Reason says why).
  bool IsOpen() const { return fd_ >= 0; }
  // True while open with no failure so far.
  bool Good() const { return fd_ >= 0 && !failed_; }

  // Appends the bytes; false (and the writer failed) when they could not
  // all be written.
  bool Write(const void *data, size_t size);
  bool Write(std::string_view bytes) { return Write(bytes.data(), bytes.size()); }
  // Sets room aside on the disk for a file of `bytes` in all, so that the
  // writes need not find it as they go.
  void Expect(uint64_t bytes);
  // Overwrites bytes already written at `offset` (a length filled in after
  // its payload); the next Write still appends at the end.
  bool WriteAt(uint64_t offset, const void *data, size_t size);
  // The bytes written so far.
  uint64_t Size() const { return size_; }

  // Puts the new file in place of the target, then removes what interrupted
  // writes of it left; false (nothing changed) on any failure. The writer is
  // closed afterwards either way.
  bool Commit();
  // Closes and removes the temporary file; the target is left as it was.
  void Abort();

  // The system's reason of the first failure ("No space left on device").
  const std::string &Reason() const { return reason_; }
  // The file that is finally written: the target with its links resolved.
  const std::filesystem::path &Destination() const { return destination_; }

private:
  bool Fail(int error);
  bool Fail(std::string reason);
  bool WriteFully(const void *data, size_t size, const uint64_t *offset);
  void Close();

  std::filesystem::path destination_;
  std::filesystem::path temp_; // empty when written in place
  int fd_ = -1;
  int lockFd_ = -1; // holds the temporary file's lock until it is renamed
  bool failed_ = false;
  bool keepMode_ = false; // an existing file is replaced: its mode and group stay
  unsigned mode_ = 0;
  unsigned owner_ = 0, group_ = 0;
  uint64_t replacedBytes_ = 0; // the size of the file replaced
  uint64_t size_ = 0;
  uint64_t counted_ = 0; // bytes handed to the system, for the test hook
  std::string reason_;
};

// The file a path names once its symbolic links are followed (a dangling
// link names the file it would create); the path itself when it is no link.
std::filesystem::path ResolveFileLinks(const std::filesystem::path &path);
