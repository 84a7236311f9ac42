#include "files/AtomicFileWriter.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <random>
#include <sys/file.h>
#include <sys/stat.h>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>
#include <unistd.h>

long gFailWritesAfterBytes = -1;

namespace fs = std::filesystem;

namespace {

// Symbolic links followed before a path counts as a loop (the system's own
// limit).
constexpr int kMaxLinkHops = 40;
// Random numbers tried for a temporary file name before giving up; each has
// at most kTemporaryDigits digits.
constexpr int kTemporaryNameAttempts = 16;
constexpr uint32_t kTemporaryNumbers = 1000000;
constexpr size_t kTemporaryDigits = 6;
constexpr const char *kTemporaryPrefix = ".~";
constexpr const char *kTemporarySuffix = ".tmp";
// A name too long to fit the pattern keeps its head, then this mark and a
// checksum of the whole name, so that its temporaries are its own.
constexpr char kShortenedMark = '~';
constexpr size_t kChecksumDigits = 8;
// A file or a write of at least this many bytes is large: a large file has
// its room on the disk set aside before it is written; a large write asks
// the system to start putting it on the disk at once, so that the device
// works while the rest is written and the flush at the commit waits for
// less; a large file replaced is let go on a thread of its own, so that
// dropping its cached pages and freeing (on some file systems discarding)
// its blocks does not hold up the save.
constexpr uint64_t kLargeFileBytes = uint64_t{1} << 20;

fs::path FolderOf(const fs::path &file) { return file.has_parent_path() ? file.parent_path() : fs::path("."); }

// The longest file name the folder's file system takes, in bytes.
size_t NameLimit(const fs::path &folder) {
  const long limit = ::pathconf(folder.c_str(), _PC_NAME_MAX);
  return limit > 0 ? static_cast<size_t>(limit) : NAME_MAX;
}

// 32-bit FNV-1a: the same for a name in every run of the program.
uint32_t NameChecksum(std::string_view name) {
  uint32_t h = 2166136261u;
  for (unsigned char c : name)
    h = (h ^ c) * 16777619u;
  return h;
}

// What stands for NAME in ".~NAME.<digits>.tmp": the name itself when the
// longest such file name fits `limit`; else as much of its head as fits
// (ending on a whole UTF-8 character), the mark and the checksum.
std::string TemporaryStem(std::string_view name, size_t limit) {
  const size_t overhead = std::strlen(kTemporaryPrefix) + 1 + kTemporaryDigits + std::strlen(kTemporarySuffix);
  if (name.size() + overhead <= limit)
    return std::string(name);
  const size_t tail = 1 + kChecksumDigits;
  size_t head = limit > overhead + tail ? std::min(name.size(), limit - overhead - tail) : 0;
  while (head > 0 && (static_cast<unsigned char>(name[head]) & 0xC0) == 0x80)
    head--;
  char checksum[kChecksumDigits + 1];
  std::snprintf(checksum, sizeof checksum, "%08x", NameChecksum(name));
  return std::string(name.substr(0, head)) + kShortenedMark + checksum;
}

// ".~STEM.<digits>.tmp" for exactly this STEM.
bool IsTemporaryNameOf(std::string_view candidate, std::string_view stem) {
  const std::string_view prefix = kTemporaryPrefix, suffix = kTemporarySuffix;
  const size_t head = prefix.size() + stem.size() + 1;
  if (candidate.size() <= head + suffix.size() || candidate.substr(0, prefix.size()) != prefix ||
      candidate.substr(prefix.size(), stem.size()) != stem || candidate[head - 1] != '.' ||
      candidate.substr(candidate.size() - suffix.size()) != suffix)
    return false;
  const std::string_view digits = candidate.substr(head, candidate.size() - head - suffix.size());
  return std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Removes the temporary files that interrupted writes of `destination` (its
// links resolved) left in its folder: exactly the pattern of that file's
// name, only regular files that no running writer holds.
void RemoveStaleTemporaries(const fs::path &destination) {
  const std::string name = destination.filename().string();
  if (name.empty())
    return;
  const fs::path folder = FolderOf(destination);
  const std::string stem = TemporaryStem(name, NameLimit(folder));
  // Read with the system's calls: a folder of thousands of files (the cache
  // documents) costs a name comparison per file.
  std::unique_ptr<DIR, int (*)(DIR *)> entries(::opendir(folder.c_str()), &::closedir);
  if (!entries)
    return;
  while (const dirent *entry = ::readdir(entries.get())) {
    if (!IsTemporaryNameOf(entry->d_name, stem))
      continue;
    const int fd =
        ::openat(::dirfd(entries.get()), entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
      continue;
    // Only a regular file that no writer holds, and still the one the name
    // gives when it is removed.
    struct stat held = {}, named = {};
    if (::fstat(fd, &held) == 0 && S_ISREG(held.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
        ::fstatat(::dirfd(entries.get()), entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        named.st_dev == held.st_dev && named.st_ino == held.st_ino)
      (void)::unlinkat(::dirfd(entries.get()), entry->d_name, 0);
    ::close(fd);
  }
}

// Closes the last holds on files already replaced, on a thread of its own,
// started at the first and joined when the program ends, so that nothing of
// it is left running then. A process forked meanwhile holds no such thread
// and leaves it alone.
class ReplacedFileCloser {
public:
  static ReplacedFileCloser &Get() {
    static ReplacedFileCloser closer;
    return closer;
  }
  // Closes `fd` aside (here when no thread can start or no memory holds it).
  void Close(int fd) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      try {
        if (!thread_) {
          thread_ = new std::thread([this] { Run(); });
          owner_ = ::getpid();
        }
        pending_.push_back(fd);
        fd = -1;
      } catch (const std::exception &) {
        // Closed below.
      }
    }
    if (fd >= 0)
      ::close(fd);
    else
      wake_.notify_one();
  }
  ~ReplacedFileCloser() {
    // A forked process's copy is left as it is (its thread is not there to
    // join).
    if (!thread_ || owner_ != ::getpid())
      return;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_one();
    thread_->join();
    delete thread_;
  }

private:
  ReplacedFileCloser() = default;
  void Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return stopping_ || !pending_.empty(); });
      while (!pending_.empty()) {
        const int fd = pending_.back();
        pending_.pop_back();
        lock.unlock();
        ::close(fd);
        lock.lock();
      }
      if (stopping_)
        return;
    }
  }
  std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<int> pending_;
  bool stopping_ = false;
  std::thread *thread_ = nullptr;
  pid_t owner_ = 0;
};

} // namespace

fs::path ResolveFileLinks(const fs::path &path) {
  fs::path p = path;
  for (int hop = 0; hop < kMaxLinkHops; hop++) {
    std::error_code ec;
    if (!fs::is_symlink(fs::symlink_status(p, ec)))
      return p;
    const fs::path link = fs::read_symlink(p, ec);
    if (ec)
      return p;
    p = link.is_absolute() ? link : p.parent_path() / link;
  }
  return p;
}

AtomicFileWriter::AtomicFileWriter(const fs::path &target) : destination_(ResolveFileLinks(target)) {
  struct stat st = {};
  if (::stat(destination_.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) {
      Fail(std::string("a folder of that name is in the way"));
      return;
    }
    if (!S_ISREG(st.st_mode)) {
      // A device or a pipe: renaming over it would remove it.
      fd_ = ::open(destination_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY);
      if (fd_ < 0)
        Fail(errno);
      return;
    }
    // A file we may not write stays as it is, as it would if it were
    // written in place.
    if (::access(destination_.c_str(), W_OK) != 0) {
      Fail(errno);
      return;
    }
    keepMode_ = true;
    replacedBytes_ = static_cast<uint64_t>(st.st_size);
    mode_ = st.st_mode & 07777;
    owner_ = st.st_uid;
    group_ = st.st_gid;
  } else if (errno != ENOENT) {
    Fail(errno);
    return;
  }
  // A replacement is private until it has the old file's mode; a new file is
  // created with the usual mode, which the umask reduces.
  const mode_t createMode = keepMode_ ? 0600 : 0666;
  const fs::path folder = FolderOf(destination_);
  const size_t limit = NameLimit(folder);
  const std::string name = destination_.filename().string();
  if (name.size() > limit) {
    Fail(ENAMETOOLONG);
    return;
  }
  const std::string prefix = kTemporaryPrefix + TemporaryStem(name, limit) + ".";
  std::random_device seed;
  for (int attempt = 0; attempt < kTemporaryNameAttempts && fd_ < 0; attempt++) {
    const fs::path temp = folder / (prefix + std::to_string(seed() % kTemporaryNumbers) + kTemporarySuffix);
    fd_ = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, createMode);
    if (fd_ >= 0)
      temp_ = temp;
    else if (errno != EEXIST)
      break;
  }
  if (fd_ < 0) {
    Fail(errno);
    return;
  }
  // The lock tells the clean-up after other writes of this file that this
  // one is still running.
  // It stays on a second descriptor until the file is renamed into place.
  lockFd_ = ::dup(fd_);
  if (lockFd_ < 0 || ::flock(lockFd_, LOCK_EX | LOCK_NB) != 0) {
    Fail(errno);
    Abort();
  }
}

AtomicFileWriter::~AtomicFileWriter() { Abort(); }

bool AtomicFileWriter::Fail(int error) { return Fail(std::string(std::strerror(error ? error : EIO))); }

bool AtomicFileWriter::Fail(std::string reason) {
  failed_ = true;
  if (reason_.empty())
    reason_ = std::move(reason);
  return false;
}

bool AtomicFileWriter::WriteFully(const void *data, size_t size, const uint64_t *offset) {
  if (!Good())
    return false;
  const auto *bytes = static_cast<const uint8_t *>(data);
  size_t done = 0;
  while (done < size) {
    size_t chunk = size - done;
    if (gFailWritesAfterBytes >= 0) {
      const uint64_t allowed = static_cast<uint64_t>(gFailWritesAfterBytes);
      if (counted_ >= allowed)
        return Fail(ENOSPC);
      chunk = static_cast<size_t>(std::min<uint64_t>(chunk, allowed - counted_));
    }
    const ssize_t n = offset ? ::pwrite(fd_, bytes + done, chunk, static_cast<off_t>(*offset + done))
                             : ::write(fd_, bytes + done, chunk);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return Fail(n < 0 ? errno : EIO);
    done += static_cast<size_t>(n);
    counted_ += static_cast<uint64_t>(n);
  }
  return true;
}

bool AtomicFileWriter::Write(const void *data, size_t size) {
  if (!WriteFully(data, size, nullptr))
    return false;
  // Only a hint: the commit's flush is what makes the bytes safe.
  if (size >= kLargeFileBytes && !temp_.empty())
    (void)::sync_file_range(fd_, static_cast<off_t>(size_), static_cast<off_t>(size), SYNC_FILE_RANGE_WRITE);
  size_ += size;
  return true;
}

void AtomicFileWriter::Expect(uint64_t bytes) {
  // Only a hint: where the system cannot set the room aside, the writes
  // find it themselves or fail as they would have.
  if (Good() && !temp_.empty() && bytes >= kLargeFileBytes)
    (void)::fallocate(fd_, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(bytes));
}

bool AtomicFileWriter::WriteAt(uint64_t offset, const void *data, size_t size) {
  if (offset + size > size_)
    return Good() ? Fail(EINVAL) : false;
  return WriteFully(data, size, &offset);
}

bool AtomicFileWriter::Commit() {
  if (!Good()) {
    Abort();
    return false;
  }
  if (temp_.empty()) {
    // Written in place: a device may take no flush.
    if (::fsync(fd_) != 0 && errno != EINVAL && errno != EROFS && errno != ENOTSUP)
      Fail(errno);
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0)
      Fail(errno);
    return !failed_;
  }
  if (keepMode_) {
    // The old file's owner and group where the system lets us (its group
    // when we may not give the owner away), then its permission bits, which
    // a change of owner may have reduced.
    if (::fchown(fd_, owner_, group_) != 0)
      (void)!::fchown(fd_, static_cast<uid_t>(-1), group_);
    (void)!::fchmod(fd_, static_cast<mode_t>(mode_));
  }
  if (::fsync(fd_) != 0)
    Fail(errno);
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0)
    Fail(errno);
  // A large file replaced stays held past the rename, to be let go aside.
  const int replaced =
      !failed_ && keepMode_ && replacedBytes_ >= kLargeFileBytes
          ? ::open(destination_.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)
          : -1;
  if (!failed_ && ::rename(temp_.c_str(), destination_.c_str()) != 0)
    Fail(errno);
  if (failed_) {
    if (replaced >= 0)
      ::close(replaced);
    Abort();
    return false;
  }
  temp_.clear();
  Close();
  // The rename itself reaches the disk with the folder.
  const int folder = ::open(FolderOf(destination_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    (void)::fsync(folder);
    ::close(folder);
  }
  // Let go only now, so that the flush of the folder does not wait for
  // the replaced file's blocks to be freed.
  if (replaced >= 0)
    ReplacedFileCloser::Get().Close(replaced);
  // What writes of this file that were killed part way left behind.
  RemoveStaleTemporaries(destination_);
  return true;
}

void AtomicFileWriter::Abort() {
  if (!temp_.empty()) {
    ::unlink(temp_.c_str());
    temp_.clear();
  }
  Close();
}

void AtomicFileWriter::Close() {
  if (fd_ >= 0)
    ::close(fd_);
  if (lockFd_ >= 0)
    ::close(lockFd_);
  fd_ = lockFd_ = -1;
}
