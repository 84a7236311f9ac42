#include "memory/HeapReuse.h"

#include <cstdlib> // names the C library

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace ovmem {

namespace {
// Blocks this large or larger are still mapped apart and unmapped when
// freed: a million-atom structure's arrays go back as soon as it is gone.
constexpr int kMappedBlockSize = 32 << 20;
// Free memory at the heap's top is kept up to this much between windows'
// closes.
constexpr int kKeptTopSize = 64 << 20;
} // namespace

void KeepFreedMemoryForReuse() {
#if defined(__GLIBC__)
  mallopt(M_MMAP_THRESHOLD, kMappedBlockSize);
  mallopt(M_TRIM_THRESHOLD, kKeptTopSize);
#endif
}

void ReturnFreedMemory() {
#if defined(__GLIBC__)
  malloc_trim(0);
#endif
}

} // namespace ovmem
