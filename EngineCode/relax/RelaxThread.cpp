#include "relax/RelaxThread.h"

#include "StructureArrays.h"
#include "relax/MonteCarlo.h"
#include "relax/RelaxRun.h"
#include "relax/SaturateMolecule.h"
#include "window/MainWindowData.h"

#include <algorithm>
#include <cstdio>
#include <system_error>
#include <thread>
#include <vector>

namespace {

struct RelaxRunEntry {
  uint64_t id = 0;
  std::thread thread;
  std::shared_ptr<RelaxSharedCells> shared;
};

void StopAndJoin(std::vector<RelaxRunEntry> &runs) {
  for (RelaxRunEntry &run : runs)
    if (run.shared)
      run.shared->stop.store(1);
  for (RelaxRunEntry &run : runs)
    if (run.thread.joinable())
      run.thread.join();
  runs.clear();
}

// The workers not yet joined. Main thread only. Should the program end
// without stopping them, they are still stopped and joined: a joinable
// thread must not be destroyed.
struct RelaxRunRegistry {
  std::vector<RelaxRunEntry> runs;
  ~RelaxRunRegistry() { StopAndJoin(runs); }
};
RelaxRunRegistry gRelaxRunRegistry;
std::vector<RelaxRunEntry> &gRelaxRuns = gRelaxRunRegistry.runs;

void JoinRelaxRun(uint64_t id) {
  auto it = std::find_if(gRelaxRuns.begin(), gRelaxRuns.end(), [id](const RelaxRunEntry &e) { return e.id == id; });
  if (it == gRelaxRuns.end())
    return;
  if (it->thread.joinable())
    it->thread.join();
  gRelaxRuns.erase(it);
}

} // namespace

bool LaunchRelaxMoleculeThread(WindowRef window, const int32_t *fixed, int32_t count) {
  RelaxMoleculeData *built = RelaxMoleculeDataFromWindow(window, fixed, count);
  if (!built)
    return false;
  std::shared_ptr<RelaxMoleculeData> record(built, DisposeRelaxMoleculeData);
  record->windowState = GetWindowSharedState(window);
  record->writeOutput = [](RelaxMoleculeData &r, const char *text) { RequestWriteOutput(r, text); };
  record->requestPlot = [](RelaxMoleculeData &r) { RequestPlotRelaxedMolecule(r); };
  // The run is the window's calculation before its worker first looks.
  record->runId = StartWindowCalculation(window);
  const uint64_t id = record->runId;
  std::shared_ptr<RelaxSharedCells> shared = record->shared;
  try {
    gRelaxRuns.reserve(gRelaxRuns.size() + 1);
    std::thread worker(PosixThreadMainRoutine, std::move(record));
    gRelaxRuns.push_back(RelaxRunEntry{id, std::move(worker), std::move(shared)});
  } catch (const std::system_error &error) {
    std::fprintf(stderr, "pthread_create returned with error: %d\n", error.code().value());
    if (std::shared_ptr<WindowSharedState> state = GetWindowSharedState(window)) {
      uint64_t expected = id;
      if (state->calculationRun.compare_exchange_strong(expected, 0))
        UpdateWindowToolbar(window);
    }
    return false;
  }
  return true;
}

void CancelRelaxMoleculeThread(WindowRef window) {
  if (IsWindowCalculationInProgress(window))
    SetWindowCalculationInProgress(window, false);
}

void PosixThreadMainRoutine(std::shared_ptr<RelaxMoleculeData> record) {
  const uint64_t id = record->runId;
  const uint64_t start = Microseconds();
  RelaxMolecule(*record);
  const uint64_t end = Microseconds();
  if (!RelaxStopRequested(*record)) {
    RequestPlotEvent(*record);
    char line[kRelaxMessageLength];
    std::snprintf(line, sizeof line, "Calculations ended. Time taken: %.3f secs for %ld steps (%ld plotted)\n",
                  static_cast<double>(end - start) / 1e6, static_cast<long>(record->step),
                  static_cast<long>(record->plotCount));
    RequestWriteOutput(*record, line);
    RequestEndSession(record);
  }
  // A stopped run's record goes here, on the worker.
  record.reset();
  PostToMainThread([id] { JoinRelaxRun(id); });
}

void StopAndJoinRelaxRuns() { StopAndJoin(gRelaxRuns); }

size_t RelaxRunCount() { return gRelaxRuns.size(); }

void DoRelaxMolecule(WindowRef window) {
  CrystalRec *crystal = GetWindowCrystal(window);
  if (!crystal || !crystal->molecule)
    return;
  DoShowOverviewLog();
  std::vector<int32_t> fixed;
  if (CrystalHasSelectedAtoms(crystal))
    for (int32_t i = 0; i < crystal->atomCount; ++i)
      if (!crystal->atoms[static_cast<size_t>(i)].selected)
        fixed.push_back(i);
  // Undo must find the molecule as it was before the relaxation: the
  // structure as it stands becomes an undo state now, when it is not one
  // yet (a change still waiting on the undo timer, which waits while the
  // run lasts). The relaxed molecule is the next, once the run ends.
  TakeWindowUndoState(window);
  LaunchRelaxMoleculeThread(window, fixed.empty() ? nullptr : fixed.data(), static_cast<int32_t>(fixed.size()));
}

void DoCancelRelaxMolecule(WindowRef window) { CancelRelaxMoleculeThread(window); }

int RelaxMenuCommand(uint32_t command, WindowRef window) {
  switch (command) {
  case kCmdRelaxMolecule:
    DoRelaxMolecule(window);
    return 0;
  case kCmdCancelRelaxMolecule:
    DoCancelRelaxMolecule(window);
    return 0;
  case kCmdSaturateMolecule:
    DoSaturateMolecule(window);
    return 0;
  default:
    return kRelaxCommandNotHandled;
  }
}
