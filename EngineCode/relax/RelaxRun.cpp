#include "relax/RelaxRun.h"

#include "Alerts.h"
#include "DerivedLayers.h"
#include "PlotRange.h"
#include "RenderServices.h"
#include "StructureArrays.h"
#include "VectorMath.h"
#include "window/MainWindowData.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string>

namespace {

// True while the run is still the calculation running for its open window.
bool RunStillWanted(const RelaxMoleculeData &record) {
  const WindowSharedState *state = record.windowState.get();
  return state && record.runId != 0 && state->open.load() && state->calculationRun.load() == record.runId;
}

// The window of a hand-back, when it is still the open structure window the
// run started from.
bool WindowStillThere(WindowRef window, const std::shared_ptr<WindowSharedState> &state) {
  return window && state && state->open.load() && GetWindowSharedState(window) == state;
}

void StopRun(RelaxMoleculeData &record) {
  if (record.shared)
    record.shared->stop.store(1);
}

// Copies at most kRelaxOutputLength bytes, not cutting a UTF-8 character.
std::string ClippedText(const char *text) {
  size_t n = std::strlen(text);
  if (n > static_cast<size_t>(kRelaxOutputLength)) {
    n = kRelaxOutputLength;
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
      --n;
  }
  return std::string(text, n);
}

} // namespace

RelaxMoleculeData *RelaxMoleculeDataFromWindow(WindowRef window, const int32_t *fixed, int32_t count) {
  CrystalRec *crystal = GetWindowCrystal(window);
  AtomRecord *atoms = GetCrystalAtomsArray(crystal);
  if (!atoms || !GetCrystalAsymmetricUnit(crystal))
    return nullptr;
  if (!crystal->molecule) {
    MyCFStopAlert("Sorry, this command only works for molecules", "Please convert your structure to a 'molecule'");
    return nullptr;
  }
  for (int32_t i = 0; i < crystal->atomCount; ++i) {
    const AtomRecord &atom = atoms[i];
    if (!atom.visible) {
      MyCFStopAlert("Cannot relax a molecule with hidden atoms!",
                    "This molecule cannot be relaxed because it contains one or more hidden atoms. Please ensure "
                    "that all atoms are visible (e.g., using the Site Browser) and if you need to exclude any atoms "
                    "from the refinement, either delete them, or use the Relax Selection command.");
      return nullptr;
    }
    if (atom.bondCount == 0) {
      MyCFStopAlert("Unbonded atoms found", "Bonding must be defined for all atoms in this molecule.");
      return nullptr;
    }
  }
  RelaxMoleculeData *record = nullptr;
  try {
    std::vector<RelaxInputAtom> in(static_cast<size_t>(crystal->atomCount));
    for (int32_t i = 0; i < crystal->atomCount; ++i) {
      const AtomRecord &atom = atoms[i];
      RelaxInputAtom &a = in[static_cast<size_t>(i)];
      if (atom.site < static_cast<uint32_t>(crystal->siteCount))
        a.element = crystal->sites[atom.site].elements[0];
      std::memcpy(a.position, atom.cart, sizeof a.position);
      a.bonds.assign(atom.bonds.begin(), atom.bonds.begin() + atom.bondCount);
    }
    if (fixed && count > 0)
      for (int32_t k = 0; k < count; ++k)
        if (fixed[k] >= 0 && fixed[k] < crystal->atomCount)
          in[static_cast<size_t>(fixed[k])].fixed = true;
    record = NewRelaxMoleculeData(window, in, crystal->orientationMatrix, Microseconds());
  } catch (const std::bad_alloc &) {
    record = nullptr;
  }
  if (!record)
    std::fputs("malloc() failed at RelaxMoleculeDataFromWindow()\n", stderr);
  return record;
}

std::unique_ptr<RelaxSnapshot> RelaxMoleculeDataMakeCopy(const RelaxMoleculeData &record) {
  try {
    auto snapshot = std::make_unique<RelaxSnapshot>();
    snapshot->window = record.window;
    snapshot->windowState = record.windowState;
    snapshot->atoms.resize(record.atoms.size());
    for (size_t i = 0; i < record.atoms.size(); ++i) {
      const RelaxAtom &a = record.atoms[i];
      snapshot->atoms[i] = {a.atomIndex, a.x, a.y, a.z};
    }
    std::memcpy(snapshot->orientation, record.orientation, sizeof snapshot->orientation);
    snapshot->requestCount = record.requestCount;
    snapshot->plotCount = record.plotCount;
    snapshot->lastPlotTime = record.lastPlotTime;
    snapshot->currentTime = record.currentTime;
    snapshot->shared = record.shared;
    std::memcpy(snapshot->message, record.message, sizeof snapshot->message);
    snapshot->message[kRelaxMessageLength - 1] = 0;
    return snapshot;
  } catch (const std::bad_alloc &) {
    std::fputs("malloc() failed at RelaxMoleculeDataMakeCopy()\n", stderr);
    return nullptr;
  }
}

void RequestWriteOutput(const RelaxMoleculeData &record, const char *text) {
  if (!text || !record.windowState || !record.windowState->open.load())
    return;
  auto line = std::make_shared<std::string>(ClippedText(text));
  PostToMainThread([window = record.window, state = record.windowState, line] {
    if (WindowStillThere(window, state))
      WriteSessionOutput(window, line->c_str());
  });
}

void WriteSessionOutput(WindowRef window, const char *text) {
  if (!text)
    return;
  std::string body(text);
  while (!body.empty() && body.back() == '\n')
    body.pop_back();
  if (!window) {
    FlushWrite(body);
    return;
  }
  std::string title;
  if (HostServices *host = GetHostServices())
    title = ClippedText(host->WindowTitle(window).c_str());
  FlushWrite(title + " > " + body);
}

void EndRelaxCalculation(const RelaxMoleculeData &record) {
  if (!record.windowState || record.runId == 0)
    return;
  uint64_t expected = record.runId;
  if (!record.windowState->calculationRun.compare_exchange_strong(expected, 0))
    return;
  // The toolbar is interface work: it is refreshed on the main thread, and
  // only while the window is still there.
  PostToMainThread([window = record.window, state = record.windowState] {
    if (WindowStillThere(window, state))
      UpdateWindowToolbar(window);
  });
}

void RequestPlotRelaxedMolecule(RelaxMoleculeData &record) {
  record.currentTime = Microseconds();
  ++record.requestCount;
  const double elapsed = static_cast<double>(record.currentTime - record.lastPlotTime) / 1e6;
  if (!(elapsed > kRelaxPlotInterval))
    return;
  if (RunStillWanted(record)) {
    const float meanPlotTime = record.shared ? record.shared->meanPlotTime.load() : 0.0f;
    if (elapsed > static_cast<double>(meanPlotTime) && !record.windowState->displaySleeping.load())
      RequestPlotEvent(record);
    return;
  }
  EndRelaxCalculation(record);
  StopRun(record);
}

void RequestPlotEvent(RelaxMoleculeData &record) {
  record.lastPlotTime = record.currentTime;
  ++record.plotCount;
  std::shared_ptr<RelaxSnapshot> snapshot = RelaxMoleculeDataMakeCopy(record);
  if (snapshot) {
    PostToMainThread([snapshot] { PlotRelaxedMolecule(*snapshot); });
    return;
  }
  char line[kRelaxMessageLength];
  std::snprintf(line, sizeof line, "Sorry, relaxation ran out of memory after %ld replots - emergency stop",
                static_cast<long>(record.plotCount));
  RequestWriteOutput(record, line);
  EndRelaxCalculation(record);
  StopRun(record);
}

void RequestEndSession(std::shared_ptr<RelaxMoleculeData> record) {
  if (!record)
    return;
  PostToMainThread([record] {
    if (WindowStillThere(record->window, record->windowState) && IsWindowFileOpen(record->window))
      EndRelaxCalculation(*record);
    // The record goes with the last holder of this call.
  });
}

int ApplyRelaxedStructure(const RelaxSnapshot &snapshot) {
  if (!WindowStillThere(snapshot.window, snapshot.windowState) || !IsWindowFileOpen(snapshot.window))
    return 0;
  CrystalRec *crystal = GetWindowCrystal(snapshot.window);
  AtomRecord *atoms = GetCrystalAtomsArray(crystal);
  if (!atoms)
    return 0;
  // The run's atoms are the structure's atoms in order; a structure edited
  // meanwhile into another atom count no longer matches them.
  if (static_cast<size_t>(crystal->atomCount) != snapshot.atoms.size())
    return 0;
  float inverse[9];
  Inv3x3Mat(snapshot.orientation, inverse);
  NoteStructureChange(crystal, kChangeAtoms);
  for (const RelaxSnapshot::Atom &a : snapshot.atoms) {
    if (a.atomIndex < 0 || a.atomIndex >= crystal->atomCount)
      continue;
    AtomRecord &atom = atoms[a.atomIndex];
    const float before[3] = {atom.xyz[0], atom.xyz[1], atom.xyz[2]};
    atom.cart[0] = a.x;
    atom.cart[1] = a.y;
    atom.cart[2] = a.z;
    MatMul(inverse, atom.cart, atom.xyz);
    // The ellipsoid's axis end points move with their atom. The shift is
    // taken in fractional terms: the atom's old Cartesian position is in
    // the current orientation, which may no longer be the snapshot's.
    if (crystal->ellipsoidData)
      for (float *end : atom.ellipsoidAxes)
        for (int k = 0; k < 3; ++k)
          end[k] += atom.xyz[k] - before[k];
  }
  // The user turned the model meanwhile: the atoms land in its orientation.
  if (!Compare3x3Mat(crystal->orientationMatrix, snapshot.orientation)) {
    for (const RelaxSnapshot::Atom &a : snapshot.atoms) {
      if (a.atomIndex < 0 || a.atomIndex >= crystal->atomCount)
        continue;
      AtomRecord &atom = atoms[a.atomIndex];
      MatMul(crystal->orientationMatrix, atom.xyz, atom.cart);
    }
  }
  DimensionPlot(crystal, crystal->plotCentre, &crystal->plotExtent);
  return 1;
}

void PlotRelaxedMolecule(const RelaxSnapshot &snapshot) {
  const uint64_t start = Microseconds();
  if (!ApplyRelaxedStructure(snapshot))
    return;
  PlotCrystal(snapshot.window, kPlotToWindow);
  WriteSessionOutput(snapshot.window, snapshot.message);
  const float seconds = static_cast<float>(static_cast<double>(Microseconds() - start) / 1e6);
  const int32_t n = snapshot.plotCount;
  if (!snapshot.shared || n < 1)
    return;
  const float mean = snapshot.shared->meanPlotTime.load();
  snapshot.shared->meanPlotTime.store((static_cast<float>(n - 1) * mean + seconds) / static_cast<float>(n));
}
