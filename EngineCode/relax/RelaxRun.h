// A relaxation run of a structure window's molecule: the run record built
// from the window, and what the worker thread hands back to the window.
//
// The worker (RelaxThread.h) owns its record and never touches the window:
// it reads the window's calculation and display-sleeping flags through the
// window's shared state (WindowSharedState), and hands status lines,
// coordinate snapshots and the end of the run to the main thread as posted
// calls (PostToMainThread). Each posted call owns its data and, on the main
// thread, first checks that its window is still open; output for a window
// closed meanwhile, or for a new window at the same address, is dropped.
//
// Threads: functions marked "worker" run on the run's worker thread, the
// rest on the main thread.
#pragma once

#include "relax/RelaxData.h"

#include <cstdint>
#include <memory>
#include <vector>

// Snapshots come at most this often (seconds).
inline constexpr double kRelaxPlotInterval = 0.1;
// A status line handed back holds at most this many bytes.
inline constexpr int kRelaxOutputLength = 255;

// What a snapshot carries: only what plotting it reads. The term lists stay
// with the worker (they run to hundreds of megabytes for a large molecule).
struct RelaxSnapshot {
  WindowRef window = nullptr;
  std::shared_ptr<WindowSharedState> windowState;
  struct Atom {
    int32_t atomIndex = 0;
    float x = 0, y = 0, z = 0; // Cartesian (Å) in `orientation`'s frame
  };
  std::vector<Atom> atoms;
  float orientation[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  int32_t requestCount = 0;
  int32_t plotCount = 0;
  uint64_t lastPlotTime = 0;
  uint64_t currentTime = 0;
  std::shared_ptr<RelaxSharedCells> shared;
  char message[kRelaxMessageLength] = {0};
};

// Builds the run record of the window's molecule (main thread). Refuses
// (nullptr) without a structure, atoms or sites; for a crystal with the stop
// alert "Sorry, this command only works for molecules"; and at the first
// atom, in atom order, that is hidden ("Cannot relax a molecule with hidden
// atoms!") or has no bonds ("Unbonded atoms found"). The atoms whose indices
// are in `fixed` (used only when given and count > 0) are held fixed.
RelaxMoleculeData *RelaxMoleculeDataFromWindow(WindowRef window, const int32_t *fixed, int32_t count);

// A snapshot of the record (worker); nullptr, with a line on standard error,
// when memory runs out.
std::unique_ptr<RelaxSnapshot> RelaxMoleculeDataMakeCopy(const RelaxMoleculeData &record);

// Worker: hands a status line (its first 255 bytes) to the run's window,
// where WriteSessionOutput writes it. Dropped when the window has gone.
void RequestWriteOutput(const RelaxMoleculeData &record, const char *text);
// Writes "<window title> > <text>" to the Log as one line (the text alone
// without a window); nothing for no text. A trailing line feed is dropped:
// a Log line ends with its carriage return.
void WriteSessionOutput(WindowRef window, const char *text);

// Worker, after every move that was not downhill: the throttle. Counts the
// request; more than 0.1 s after the last snapshot, sends one when the run
// still runs for its window, the time since the last snapshot exceeds the
// mean plot time and the display is awake. A run that no longer runs for
// its window (cancelled, superseded, window closed) gets its stop byte set.
void RequestPlotRelaxedMolecule(RelaxMoleculeData &record);
// Worker: sends one snapshot; when it cannot be made, writes the emergency
// stop line, ends the run's calculation on the window and sets the stop byte.
void RequestPlotEvent(RelaxMoleculeData &record);
// Worker: hands the record to the main thread, which ends the run's
// calculation on its window (when still its own) and disposes the record.
void RequestEndSession(std::shared_ptr<RelaxMoleculeData> record);

// Main thread: applies the snapshot, replots the window, writes the
// snapshot's message and folds the time taken into the mean plot time.
void PlotRelaxedMolecule(const RelaxSnapshot &snapshot);
// Writes the snapshot's coordinates into the window's structure: fractional
// coordinates from the snapshot's frame, ellipsoid axis points moved with
// their atoms, Cartesian positions in the structure's current orientation,
// and the plot's centre and extent. 1 when applied; 0 when the window has
// gone, holds no structure or no longer has the run's atoms.
int ApplyRelaxedStructure(const RelaxSnapshot &snapshot);

// Ends the run's calculation on its window when the window still runs that
// run, and then refreshes the toolbar on the main thread. Any thread.
void EndRelaxCalculation(const RelaxMoleculeData &record);
