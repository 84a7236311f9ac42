#include "memory/HeapReuse.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

// The sanitizers' builds bring their own allocator.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kOwnAllocator = true;
#else
constexpr bool kOwnAllocator = false;
#endif

constexpr size_t kBlock = size_t{12} << 20;

long FreshPages() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_minflt;
}

long ResidentBytes() {
  long pages = 0, resident = 0;
  std::ifstream("/proc/self/statm") >> pages >> resident;
  return resident * sysconf(_SC_PAGESIZE);
}

// Taken through a pointer that the compiler cannot see through, so that
// the block is really taken.
void *(*volatile gTake)(size_t) = std::malloc;

// The pages the system maps afresh while a block of kBlock is taken and
// written whole; the block is freed unless asked for in `kept`.
long FreshPagesOfABlock(char **kept = nullptr) {
  const long before = FreshPages();
  char *block = static_cast<char *>(gTake(kBlock));
  if (!block)
    return -1;
  std::memset(block, 1, kBlock);
  const long after = FreshPages();
  if (kept)
    *kept = block;
  else
    std::free(block);
  return after - before;
}

// The flags the system lists for the mapping that holds `p` (empty when
// none is listed).
std::string MappingFlags(const void *p) {
  const auto at = reinterpret_cast<uintptr_t>(p);
  std::ifstream smaps("/proc/self/smaps");
  bool holds = false;
  for (std::string line; std::getline(smaps, line);) {
    unsigned long first = 0, end = 0;
    if (std::sscanf(line.c_str(), "%lx-%lx ", &first, &end) == 2 && line.find('-') < line.find(' '))
      holds = first <= at && at < end;
    else if (holds && line.rfind("VmFlags:", 0) == 0)
      return line;
  }
  return {};
}

} // namespace

// An open takes and frees arrays of megabytes one after another: kept, a
// freed one serves the next without new pages; returned when a window
// closes, the pages leave the process.
TEST(HeapReuse, AFreedLargeBlockServesTheNextUntilTheMemoryIsReturned) {
  if (kOwnAllocator)
    GTEST_SKIP() << "the sanitizers' allocator keeps memory its own way";
  constexpr long kPages = long(kBlock / 4096);
  ovmem::KeepFreedMemoryForReuse();
  // The first block may come from the system; the second takes its place.
  ASSERT_GE(FreshPagesOfABlock(), 0);
  EXPECT_LT(FreshPagesOfABlock(), kPages / 8);
  const long kept = ResidentBytes();
  ovmem::ReturnFreedMemory();
  EXPECT_LT(ResidentBytes(), kept - long(kBlock / 2));
}

// The heap's room is asked to be backed by large pages, where the system
// has them, before the first array and again once the memory was returned:
// a block of megabytes then costs a few faults, not one per 4 KB.
TEST(HeapReuse, TheHeapsRoomAsksForLargePages) {
  if (kOwnAllocator)
    GTEST_SKIP() << "the sanitizers' allocator keeps memory its own way";
  if (!std::filesystem::exists("/sys/kernel/mm/transparent_hugepage/enabled"))
    GTEST_SKIP() << "the system has no large pages for the heap";
  for (int pass = 0; pass < 2; pass++) {
    if (pass == 0)
      ovmem::KeepFreedMemoryForReuse();
    else
      ovmem::ReturnFreedMemory();
    char *block = nullptr;
    ASSERT_GE(FreshPagesOfABlock(&block), 0);
    const std::string flags = MappingFlags(block + kBlock / 2);
    std::free(block);
    std::istringstream words(flags);
    bool large = false;
    for (std::string w; words >> w;)
      large = large || w == "hg";
    EXPECT_TRUE(large) << "pass " << pass << ": " << flags;
  }
}
