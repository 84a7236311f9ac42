// How the program's heap hands memory back to the system.
#pragma once

namespace ovmem {

// Keeps what is freed for the next allocation. An open makes and drops
// arrays of tens of megabytes one after another (the file's text, its rows,
// the sites, the atoms, the search's grids); by default the C library maps
// each large block afresh and unmaps it when freed, so every array comes
// back as new pages the system must clear and map one by one, about a sixth
// of a large open. Blocks below 64 MB now come from the heap, and freed
// memory stays with the program until ReturnFreedMemory. The heap's first
// room is asked to be backed by large pages, where the system gives them on
// request: the arrays of an open then fault 2 MB at a time, not 4 KB (on a
// virtual machine, a fault can cost as much as what the open does with the
// page). Called once, first thing in a program's main(); a no-op where the
// C library has no such setting.
void KeepFreedMemoryForReuse();

// Hands the heap's free pages back to the system: called when a structure
// window closes, so that a large structure's memory does not outlive it. The
// heap's room is taken ahead again, untouched, as above.
void ReturnFreedMemory();

} // namespace ovmem
