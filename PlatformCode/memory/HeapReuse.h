// How the program's heap hands memory back to the system.
#pragma once

namespace ovmem {

// Keeps what is freed for the next allocation. An open makes and drops
// arrays of tens of megabytes one after another (the file's text, its rows,
// the sites, the atoms, the search's grids); by default the C library maps
// each large block afresh and unmaps it when freed, so every array comes
// back as new pages the system must clear and map one by one, about a sixth
// of a large open. Blocks below 64 MB now come from the heap, and freed
// memory stays with the program until ReturnFreedMemory. Called once, first
// thing in a program's main(); a no-op where the C library has no such
// setting.
void KeepFreedMemoryForReuse();

// Hands the heap's free pages back to the system: called when a structure
// window closes, so that a large structure's memory does not outlive it.
void ReturnFreedMemory();

} // namespace ovmem
