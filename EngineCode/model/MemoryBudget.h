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
