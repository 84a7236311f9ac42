#include "memory/HeapReuse.h"

#include <cstdint>
#include <cstdlib> // names the C library

#if defined(__GLIBC__)
#include <malloc.h>
#include <sys/mman.h>
#endif

namespace ovmem {

namespace {
// Blocks this large or larger are still mapped apart and unmapped when
// freed: a million-atom structure's arrays go back as soon as they are
// dropped. Below it: the atoms of a structure of up to about 400,000.
constexpr int kMappedBlockSize = 64 << 20;
// Free memory at the heap's top is kept up to this much between windows'
// closes.
constexpr int kKeptTopSize = 128 << 20;
// The first this much of the heap's room, taken ahead, is asked to be backed
// by large pages where the system gives them on request: an open's arrays
// then fault a large page at a time instead of 4 KB. Below kKeptTopSize, so
// that the room stays the heap's once freed, and below kMappedBlockSize, so
// that it is taken from the heap.
constexpr size_t kLargePageRoom = size_t{60} << 20;
constexpr uintptr_t kLargePage = uintptr_t{2} << 20;

#if defined(__GLIBC__)
// The sanitizers' builds bring their own allocator, whose freed blocks wait
// in a quarantine: the room would only be held there.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kOwnAllocator = true;
#else
constexpr bool kOwnAllocator = false;
#endif

// Grows the heap by kLargePageRoom, untouched, asks for large pages over it
// and gives it back to the heap's free top.
void AdviseLargePagesAhead() {
#if defined(MADV_HUGEPAGE)
  if (kOwnAllocator)
    return;
  void *room = std::malloc(kLargePageRoom);
  if (!room)
    return;
  const uintptr_t first = (reinterpret_cast<uintptr_t>(room) + kLargePage - 1) & ~(kLargePage - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(room) + kLargePageRoom) & ~(kLargePage - 1);
  if (end > first)
    (void)madvise(reinterpret_cast<void *>(first), end - first, MADV_HUGEPAGE);
  std::free(room);
#endif
}
#endif
} // namespace

void KeepFreedMemoryForReuse() {
#if defined(__GLIBC__)
  mallopt(M_MMAP_THRESHOLD, kMappedBlockSize);
  mallopt(M_TRIM_THRESHOLD, kKeptTopSize);
  AdviseLargePagesAhead();
#endif
}

void ReturnFreedMemory() {
#if defined(__GLIBC__)
  malloc_trim(0);
  AdviseLargePagesAhead();
#endif
}

} // namespace ovmem
