// How much memory a large piece of work may take: builds and bond searches
// whose size follows the user's input are measured against it before they
// start, so that they are refused with a message instead of running the
// machine out of memory.
#pragma once

#include <cstdint>
#include <string>

// The bytes the process can still take: the smaller of the memory the
// machine has available and the room left under the process's address-space
// limit (when it has one).
uint64_t AvailableMemoryBytes();

// A count with thousands separators: 74088 -> "74,088".
std::string GroupedCount(uint64_t n);

// ---- Allocations that fail while a file opens -----------------------------------
//
// Where an allocation fails, the engine mostly copes by itself: a step gives
// up with its own alert ("No Memory for atoms"), or goes on without what it
// could not make (no bonds, fewer polyhedra). While a file is opened, the
// open names the file in one "No Memory" alert and gives the window up
// instead: for as long as a PassMemoryFailures lives on a thread, the
// engine's handlers on that thread let the failure pass,
//
//   catch (const std::bad_alloc &) {
//     ...what must be let go of either way...
//     if (MemoryFailuresPass())
//       throw;
//     ...the step's own answer...
//   }
//
// A handler that only goes without a shortcut (a cache, a larger first
// reserve), and so comes to the same result, keeps the failure to itself.
class PassMemoryFailures {
public:
  PassMemoryFailures();
  ~PassMemoryFailures();
  PassMemoryFailures(const PassMemoryFailures &) = delete;
  PassMemoryFailures &operator=(const PassMemoryFailures &) = delete;
};

// True while a PassMemoryFailures lives on this thread, and no
// KeepMemoryFailures inside it.
bool MemoryFailuresPass();

// Inside a PassMemoryFailures, the handlers answer as everywhere else again
// for as long as this lives: the event loop the host runs for an alert, a
// dialog or the cancel key serves every window, and the work it does for
// them is none of the open's.
class KeepMemoryFailures {
public:
  KeepMemoryFailures();
  ~KeepMemoryFailures();
  KeepMemoryFailures(const KeepMemoryFailures &) = delete;
  KeepMemoryFailures &operator=(const KeepMemoryFailures &) = delete;

private:
  int passing_;
};
