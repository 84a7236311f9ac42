// Every benchmark program's heap keeps freed memory as the program's does
// (its main() sets this first thing), so that an allocation measured here
// costs what it costs there.
#include "memory/HeapReuse.h"

namespace {
const bool gHeapAsTheProgramKeepsIt = (ovmem::KeepFreedMemoryForReuse(), true);
} // namespace
