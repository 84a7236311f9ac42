#include "RelaxData.h"

#include <new>

RelaxMoleculeData *NewRelaxMoleculeData(WindowRef window, const std::vector<RelaxInputAtom> &atoms,
                                        const float orientation[9], uint64_t now) {
  try {
    auto record = std::make_unique<RelaxMoleculeData>();
    record->window = window;
    record->atoms.resize(atoms.size());
    for (size_t i = 0; i < atoms.size(); ++i) {
      const RelaxInputAtom &in = atoms[i];
      RelaxAtom &a = record->atoms[i];
      a.atomIndex = static_cast<int32_t>(i);
      ShortToTwoChars(in.element, a.symbol);
      a.symbol[2] = 0;
      a.x = in.position[0];
      a.y = in.position[1];
      a.z = in.position[2];
      a.neighbours = in.bonds;
      a.fixed = in.fixed ? 1 : 0;
    }
    if (orientation)
      for (int i = 0; i < 9; ++i)
        record->orientation[i] = orientation[i];
    record->lastPlotTime = now;
    record->currentTime = now;
    record->shared = std::make_shared<RelaxSharedCells>();
    record->shared->startTime = now;
    return record.release();
  } catch (const std::bad_alloc &) {
    return nullptr;
  }
}

void DisposeRelaxMoleculeData(RelaxMoleculeData *record) { delete record; }

void RelaxWriteLine(RelaxMoleculeData &record, const char *text) {
  if (record.writeOutput)
    record.writeOutput(record, text);
}

bool RelaxStopRequested(const RelaxMoleculeData &record) {
  return record.shared && record.shared->stop.load(std::memory_order_relaxed) != 0;
}
