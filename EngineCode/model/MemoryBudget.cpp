#include "MemoryBudget.h"

#include <cstdio>
#include <cstring>
#include <sys/resource.h>
#include <unistd.h>
#include <utility>

namespace {

// MemAvailable of /proc/meminfo in bytes, else the physical memory.
uint64_t MachineBytes() {
  if (std::FILE *f = std::fopen("/proc/meminfo", "r")) {
    char line[256];
    unsigned long long kb = 0;
    bool found = false;
    while (!found && std::fgets(line, sizeof line, f))
      found = std::sscanf(line, "MemAvailable: %llu kB", &kb) == 1;
    std::fclose(f);
    if (found)
      return static_cast<uint64_t>(kb) * 1024u;
  }
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long size = sysconf(_SC_PAGESIZE);
  return pages > 0 && size > 0 ? static_cast<uint64_t>(pages) * static_cast<uint64_t>(size) : UINT64_MAX;
}

// The room left under RLIMIT_AS, or no limit.
uint64_t AddressSpaceRoom() {
  rlimit limit{};
  if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
    return UINT64_MAX;
  unsigned long long pages = 0;
  if (std::FILE *f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%llu", &pages) != 1)
      pages = 0;
    std::fclose(f);
  }
  const uint64_t used = static_cast<uint64_t>(pages) * static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
  return limit.rlim_cur > used ? limit.rlim_cur - used : 0;
}

} // namespace

uint64_t AvailableMemoryBytes() {
  const uint64_t machine = MachineBytes();
  const uint64_t room = AddressSpaceRoom();
  return machine < room ? machine : room;
}

std::string GroupedCount(uint64_t n) {
  std::string digits = std::to_string(n);
  std::string out;
  for (size_t i = 0; i < digits.size(); i++) {
    if (i > 0 && (digits.size() - i) % 3 == 0)
      out += ',';
    out += digits[i];
  }
  return out;
}

namespace {

thread_local int tMemoryFailuresPass = 0;

} // namespace

PassMemoryFailures::PassMemoryFailures() { tMemoryFailuresPass++; }

PassMemoryFailures::~PassMemoryFailures() { tMemoryFailuresPass--; }

bool MemoryFailuresPass() { return tMemoryFailuresPass > 0; }

KeepMemoryFailures::KeepMemoryFailures() : passing_(std::exchange(tMemoryFailuresPass, 0)) {}

KeepMemoryFailures::~KeepMemoryFailures() { tMemoryFailuresPass = passing_; }
