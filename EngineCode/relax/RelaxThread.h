// The relaxation worker threads and the commands that start and stop them.
//
// Each run has a std::thread of its own, kept in a registry on the main
// thread rather than detached: when a worker ends it asks the main thread
// to join it, and quitting stops and joins every run still there, so no
// worker outlives the program's globals. A run is stopped by ending its
// calculation on its window (Cancel, closing the window); the worker sees
// that at its next throttled snapshot request, sets its stop byte and the
// annealing ends at its next step.
#pragma once

#include "HostServices.h"
#include "Utilities.h"

#include <cstddef>
#include <cstdint>
#include <memory>

struct RelaxMoleculeData;

// Command codes of the relaxation commands.
inline constexpr uint32_t kCmdRelaxMolecule = FourCharsToLong("RlxM");       // relax (the selection)
inline constexpr uint32_t kCmdCancelRelaxMolecule = FourCharsToLong("RlxC"); // stop the relaxation
inline constexpr uint32_t kCmdSaturateMolecule = FourCharsToLong("SatH");    // saturate with hydrogen, relax

// The status a command handler answers for a command it does not own.
inline constexpr int kRelaxCommandNotHandled = -9874;

// Builds the run record of the window's molecule (the refusals of
// RelaxMoleculeDataFromWindow show their alerts and start nothing), marks
// the run as the window's calculation and starts its worker. The caller
// keeps the fixed list, and takes the undo state the run is to undo back to
// first (TakeWindowUndoState). True when a worker started.
bool LaunchRelaxMoleculeThread(WindowRef window, const int32_t *fixed, int32_t count);
// Ends the window's calculation when one runs; the worker stops by itself.
void CancelRelaxMoleculeThread(WindowRef window);
// The worker's body: relaxes, then hands the final snapshot, the time line
// and the end of the run to the main thread; a stopped run only ends.
void PosixThreadMainRoutine(std::shared_ptr<RelaxMoleculeData> record);

// Main thread. Sets every run's stop byte and joins every worker (quitting).
void StopAndJoinRelaxRuns();
// Workers started and not yet joined.
size_t RelaxRunCount();

// The relaxation commands on a window. DoRelaxMolecule acts on a molecule
// only: the Log shows first when the Overview window is visible, and with a
// selection the unselected atoms are held fixed.
void DoRelaxMolecule(WindowRef window);
void DoCancelRelaxMolecule(WindowRef window);

// The command dispatch's handler for the three relaxation commands on the
// window (the front structure window): 0 when it ran one, -9874 for any
// other code.
int RelaxMenuCommand(uint32_t command, WindowRef window);
