#include "MonteCarlo.h"

#include "ForceFieldTerms.h"
#include "RelaxEnergies.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <new>
#include <vector>

namespace {

constexpr double kTwoTo32 = 4294967296.0;
constexpr double kMultiplier = 9228907.0;

// The energies at the start of the last M steps and their mean and spread,
// kept in a stable running form: re-summed in two passes whenever the ring
// becomes full and every M steps after, updated in O(1) in between.
class EnergyRing {
public:
  // The ring holds N² + 10000 entries. It is used only when it can fill
  // within the step budget; otherwise it holds nothing.
  bool Allocate(long atomCount) {
    length_ = static_cast<int64_t>(atomCount) * atomCount + kRelaxRingExtra;
    if (length_ >= kRelaxMonteCarloSteps)
      return true;
    try {
      ring_.assign(static_cast<size_t>(length_), 0.0);
      return true;
    } catch (const std::bad_alloc &) {
      return false;
    }
  }

  // Stores the energy of step s; returns the energy it replaced.
  void Store(long s, double energy) {
    if (ring_.empty())
      return;
    double &slot = ring_[static_cast<size_t>(s % length_)];
    const double old = slot;
    slot = energy;
    if (valid_) {
      // Sliding window: `old` leaves, `energy` enters.
      const double oldMean = mean_;
      mean_ += (energy - old) / static_cast<double>(length_);
      m2_ += (energy - old) * (energy - mean_ + old - oldMean);
      if (m2_ < 0)
        m2_ = 0;
      ++sinceResum_;
    }
  }

  // Counts one stored entry; true once more than M entries were stored since
  // the last skip, and then the relative spread is in *spread.
  bool Full(double *spread) {
    if (ring_.empty() || ++fill_ <= length_)
      return false;
    if (!valid_ || sinceResum_ >= length_)
      Resum();
    const double variance = m2_ / static_cast<double>(length_ - 1);
    *spread = std::sqrt(variance) / mean_;
    return true;
  }

  void Skipped() {
    fill_ = 0;
    valid_ = false;
  }

private:
  void Resum() {
    double sum = 0.0;
    for (double e : ring_)
      sum += e;
    mean_ = sum / static_cast<double>(length_);
    double m2 = 0.0;
    for (double e : ring_)
      m2 += (e - mean_) * (e - mean_);
    m2_ = m2;
    valid_ = true;
    sinceResum_ = 0;
  }

  std::vector<double> ring_;
  int64_t length_ = 0;
  int64_t fill_ = 0;
  bool valid_ = false;
  int64_t sinceResum_ = 0;
  double mean_ = 0.0, m2_ = 0.0;
};

void WriteStepLine(RelaxMoleculeData &record, const char *format, long step) {
  char line[kRelaxMessageLength];
  std::snprintf(line, sizeof line, format, step);
  RelaxWriteLine(record, line);
}

// The status line a snapshot carries: the step the loop is at.
void SetStepMessage(RelaxMoleculeData &record, long step) {
  std::snprintf(record.message, sizeof record.message, "Plotting structure at step %ld...", step);
}

} // namespace

double AdvanceRelaxGenerator(double *state) {
  const double product = *state * kMultiplier;
  *state = product - std::trunc(product / kTwoTo32) * kTwoTo32;
  return *state / kTwoTo32;
}

double GenerateRandomDouble(double low, double high, double *state) {
  return AdvanceRelaxGenerator(state) * (high - low) + low;
}

long GenerateRandomInt(long low, long high, double *state) {
  const double u = AdvanceRelaxGenerator(state);
  long value = static_cast<long>(std::floor(u * static_cast<double>(high - low) + static_cast<double>(low)));
  if (value > high - 1)
    value -= 1;
  return value;
}

int RunMonteCarlo(RelaxMoleculeData &record, double *energy, double *state) {
  const long n = record.AtomCount();
  EnergyRing ring;
  RelaxTermIndex index;
  if (!ring.Allocate(n) || !index.Build(record))
    return -1;
  // A state of 0 would stay 0 and the atom choice could never leave atom 0.
  if (*state == 0.0)
    *state = 1.0;
  const bool anyFree = std::any_of(record.atoms.begin(), record.atoms.end(), [](const RelaxAtom &a) { return !a.fixed; });

  double e = *energy;
  long messageStep = -1;
  long sinceResum = 0;
  long s = 0;
  while (s < kRelaxMonteCarloSteps) {
    if (RelaxStopRequested(record)) {
      WriteStepLine(record, "Run terminated at Step %ld.", s);
      break;
    }
    messageStep = s + 1;
    ring.Store(s, e);
    if (e <= kRelaxRelaxedEnergy) {
      RelaxWriteLine(record, "Molecule fully relaxed.");
      break;
    }
    if (!anyFree) {
      RelaxWriteLine(record, "Every atom is fixed: nothing to relax.");
      break;
    }
    if (double spread; ring.Full(&spread)) {
      const double tooCold = static_cast<double>(kRelaxMonteCarloSteps - s) * kRelaxTooColdSpread /
                             static_cast<double>(kRelaxMonteCarloSteps);
      bool skip = false;
      if (spread > kRelaxTooHotSpread) {
        RelaxWriteLine(record, "Too many moves being accepted - skipping ahead");
        skip = true;
      } else if (spread < tooCold) {
        RelaxWriteLine(record, "Too few moves being accepted - skipping ahead");
        skip = true;
      }
      if (skip) {
        s += kRelaxSkipSteps;
        ring.Skipped();
        continue;
      }
    }
    const double t = (static_cast<double>(kRelaxMonteCarloSteps - 1 - s) * kRelaxStartTemperature +
                      static_cast<double>(s + 1) * kRelaxEndTemperature) /
                     static_cast<double>(kRelaxMonteCarloSteps);
    long a;
    do {
      a = static_cast<long>(std::floor(AdvanceRelaxGenerator(state) * static_cast<double>(n)));
      if (a > n - 1)
        a -= 1;
    } while (record.atoms[a].fixed);
    const double w = (static_cast<double>(kRelaxMonteCarloSteps - 1 - s) * kRelaxStartHalfWidth +
                      static_cast<double>(s + 1) * kRelaxEndHalfWidth) /
                     static_cast<double>(kRelaxMonteCarloSteps);
    RelaxAtom &atom = record.atoms[a];
    const float oldX = atom.x, oldY = atom.y, oldZ = atom.z;
    const double before = index.AtomEnergy(record, static_cast<int32_t>(a));
    atom.x += AdvanceRelaxGenerator(state) * 2 * w - w;
    atom.y += AdvanceRelaxGenerator(state) * 2 * w - w;
    atom.z += AdvanceRelaxGenerator(state) * 2 * w - w;
    const double eNew = e + (index.AtomEnergy(record, static_cast<int32_t>(a)) - before);
    if (eNew < e) {
      e = eNew;
    } else {
      if (std::exp(-(eNew - e) / t) > AdvanceRelaxGenerator(state)) {
        e = eNew;
      } else {
        atom.x = oldX;
        atom.y = oldY;
        atom.z = oldZ;
      }
      if (record.requestPlot) {
        SetStepMessage(record, messageStep);
        record.requestPlot(record);
      }
    }
    if (++sinceResum >= kRelaxResumInterval) {
      e = CalculateTotalEnergy(record);
      sinceResum = 0;
    }
    ++s;
  }
  if (messageStep >= 0) {
    SetStepMessage(record, messageStep);
    record.step = messageStep;
  }
  *energy = e;
  return 0;
}

int PrepareRelaxation(RelaxMoleculeData &record, double *energyOut) {
  AssignElementData(record);
  SpecialAtomOptions(record);
  AssignLennardJones(record);
  RelaxWriteLine(record, "Applying potentials");
  // Each finder, then the energy of its list; the first that fails ends the run.
  struct Step {
    bool (*find)(RelaxMoleculeData &);
    int (*energy)(const RelaxMoleculeData &, double *);
    const char *failure;
  };
  static constexpr Step kSteps[] = {
      {[](RelaxMoleculeData &r) { return FindPairs(r) != nullptr; }, CalculateMorseEnergy,
       "malloc failed at FindPairs()"},
      {[](RelaxMoleculeData &r) { return FindThrees(r) != nullptr; }, CalculateThreesEnergy, "FindThrees failed"},
      {[](RelaxMoleculeData &r) { return FindInversions(r) != nullptr; }, CalculateInversionEnergy,
       "malloc failed at FindInversions()"},
      {[](RelaxMoleculeData &r) { return FindDihedrals(r) != nullptr; }, CalculateDihedralEnergy,
       "malloc failed at FindDihedrals()"},
      {[](RelaxMoleculeData &r) { return FindNonBonded(r) != nullptr; }, CalculateNonBondedEnergy,
       "malloc failed at FindNonBonded()"},
  };
  double energy[5] = {0, 0, 0, 0, 0};
  for (int k = 0; k < 5; ++k) {
    // A run asked to stop (the window closed, the program quits) ends here
    // rather than searching on.
    if (RelaxStopRequested(record))
      return -1;
    if (!kSteps[k].find(record)) {
      // A finder that gave up because the run was stopped has not failed.
      if (!RelaxStopRequested(record))
        RelaxWriteLine(record, kSteps[k].failure);
      return -1;
    }
    kSteps[k].energy(record, &energy[k]);
  }
  *energyOut = energy[0] + energy[1] + energy[2] + energy[3] + energy[4];
  return 0;
}

int RelaxMoleculeWithSeed(RelaxMoleculeData &record, double state) {
  double total = 0.0;
  if (PrepareRelaxation(record, &total) != 0)
    return -1;
  if (RelaxStopRequested(record))
    return -1;
  RelaxWriteLine(record, "Starting Monte Carlo relaxation");
  if (RunMonteCarlo(record, &total, &state) != 0) {
    RelaxWriteLine(record, "Unable to run Monte Carlo routine.");
    return -1;
  }
  return 0;
}

int RelaxMolecule(RelaxMoleculeData &record) {
  std::srand(static_cast<unsigned>(std::time(nullptr)));
  return RelaxMoleculeWithSeed(record, static_cast<double>(std::rand()));
}
