#include "memory/HeapReuse.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cstdlib>
#include <cstring>

namespace {

// The sanitizers' builds bring their own allocator.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kOwnAllocator = true;
#else
constexpr bool kOwnAllocator = false;
#endif

long FreshPages() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_minflt;
}

// The pages the system maps afresh while a block of `bytes` is taken,
// written whole and freed. Called through a pointer that the compiler
// cannot see through, so that the block is really taken.
void *(*volatile gTake)(size_t) = std::malloc;
long FreshPagesOfABlock(size_t bytes) {
  const long before = FreshPages();
  char *block = static_cast<char *>(gTake(bytes));
  if (!block)
    return -1;
  std::memset(block, 1, bytes);
  const long after = FreshPages();
  std::free(block);
  return after - before;
}

} // namespace

// An open takes and frees arrays of megabytes one after another: kept, a
// freed one serves the next without new pages; returned when a window
// closes, the next comes from the system again.
TEST(HeapReuse, AFreedLargeBlockServesTheNextUntilTheMemoryIsReturned) {
  if (kOwnAllocator)
    GTEST_SKIP() << "the sanitizers' allocator keeps memory its own way";
  constexpr size_t kBlock = size_t{12} << 20;
  constexpr long kPages = long(kBlock / 4096);
  ovmem::KeepFreedMemoryForReuse();
  // The first block may come from the system; the second takes its place.
  ASSERT_GE(FreshPagesOfABlock(kBlock), 0);
  EXPECT_LT(FreshPagesOfABlock(kBlock), kPages / 8);
  ovmem::ReturnFreedMemory();
  EXPECT_GT(FreshPagesOfABlock(kBlock), kPages / 2);
}
