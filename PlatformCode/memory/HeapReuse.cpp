#include "memory/HeapReuse.h"

#include <cstdlib> // names the C library

#if defined(__GLIBC__)
#include <malloc.h>
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
