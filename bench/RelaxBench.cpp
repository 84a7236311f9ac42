// Relaxation speed on compact hydrogen-capped diamond clusters of about
// 1,000 and 10,000 atoms (made at start-up by tools/make_diamond_cluster.py):
//   BM_RelaxSetUp        typing and term search: time, the record's memory and
//                        the process's peak resident memory;
//   BM_RelaxMoves        Monte-Carlo steps (one atom moved each) per second,
//                        the term index and first energy excluded;
//   BM_ObminimizeSteps   `obminimize -ff UFF -sd` (all pairs, no cut-off) on
//                        the same cluster as an SD file: seconds per step with
//                        its set-up excluded, and atom moves per second (atoms
//                        / seconds per step). The 10,000-atom run needs about
//                        11 GB and a few minutes, so it runs only with
//                        OV_BENCH_OBMINIMIZE_LARGE=1.
#include "relax/ForceFieldTerms.h"
#include "relax/MonteCarlo.h"
#include "relax/RelaxEnergies.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

fs::path ClusterStem(int atoms) {
  static std::map<int, fs::path> made;
  if (auto it = made.find(atoms); it != made.end())
    return it->second;
  const fs::path dir = fs::temp_directory_path() / "ov_relax_bench";
  fs::create_directories(dir);
  const fs::path stem = dir / ("diamond" + std::to_string(atoms));
  const fs::path tool = fs::path(__FILE__).parent_path().parent_path() / "tools" / "make_diamond_cluster.py";
  const std::string command = "/usr/bin/python3 '" + tool.string() + "' " + std::to_string(atoms) + " '" +
                              stem.string() + "' >/dev/null";
  if (std::system(command.c_str()) != 0)
    return {};
  return made[atoms] = stem;
}

std::vector<RelaxInputAtom> ReadCluster(const fs::path &stem) {
  std::ifstream in(stem.string() + ".txt");
  size_t atomCount = 0, bondCount = 0;
  in >> atomCount >> bondCount;
  std::vector<RelaxInputAtom> atoms(atomCount);
  for (RelaxInputAtom &a : atoms) {
    std::string sym;
    in >> sym >> a.position[0] >> a.position[1] >> a.position[2];
    a.element = TwoCharsToShort(sym.c_str());
  }
  for (size_t k = 0; k < bondCount; ++k) {
    int i, j;
    in >> i >> j;
    atoms[i].bonds.push_back(j);
    atoms[j].bonds.push_back(i);
  }
  return atoms;
}

RelaxMoleculeData *SetUp(const std::vector<RelaxInputAtom> &atoms) {
  RelaxMoleculeData *r = NewRelaxMoleculeData(nullptr, atoms, nullptr, 0);
  double energy;
  PrepareRelaxation(*r, &energy);
  return r;
}

double RecordMegabytes(const RelaxMoleculeData &r) {
  double bytes = static_cast<double>(r.atoms.capacity() * sizeof(RelaxAtom));
  for (const RelaxAtom &a : r.atoms)
    bytes += static_cast<double>(a.neighbours.capacity() * sizeof(int32_t));
  bytes += static_cast<double>(r.pairs.capacity() * sizeof(PairTerm) + r.threes.capacity() * sizeof(ThreeBodyTerm) +
                               r.inversions.capacity() * sizeof(InversionTerm) +
                               r.dihedrals.capacity() * sizeof(DihedralTerm) +
                               r.nonBonded.capacity() * sizeof(NonBondedTerm));
  return bytes / 1048576.0;
}

double PeakResidentMegabytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0)
      return std::stod(line.substr(6)) / 1024.0;
  return 0.0;
}

void BM_RelaxSetUp(benchmark::State &state) {
  const fs::path stem = ClusterStem(static_cast<int>(state.range(0)));
  if (stem.empty()) {
    state.SkipWithError("cannot make the cluster");
    return;
  }
  const std::vector<RelaxInputAtom> atoms = ReadCluster(stem);
  double megabytes = 0, terms = 0;
  for (auto _ : state) {
    RelaxMoleculeData *r = SetUp(atoms);
    megabytes = RecordMegabytes(*r);
    terms = static_cast<double>(r->pairs.size() + r->threes.size() + r->inversions.size() + r->dihedrals.size() +
                                r->nonBonded.size());
    DisposeRelaxMoleculeData(r);
  }
  state.counters["atoms"] = static_cast<double>(atoms.size());
  state.counters["terms"] = terms;
  state.counters["record_MB"] = megabytes;
  state.counters["peak_RSS_MB"] = PeakResidentMegabytes();
}

// Runs the annealing for about `seconds`, timed from its first snapshot
// request (after the term index is built) to the stop request; the steps
// come from the status message the loop keeps.
void BM_RelaxMoves(benchmark::State &state) {
  const fs::path stem = ClusterStem(static_cast<int>(state.range(0)));
  if (stem.empty()) {
    state.SkipWithError("cannot make the cluster");
    return;
  }
  const std::vector<RelaxInputAtom> atoms = ReadCluster(stem);
  RelaxMoleculeData *r = SetUp(atoms);
  const double e0 = CalculateTotalEnergy(*r);
  constexpr double kSeconds = 2.0;
  double totalSteps = 0, totalSeconds = 0;
  for (auto _ : state) {
    long firstStep = -1, lastStep = -1;
    Clock::time_point t0, t1;
    long calls = 0;
    r->shared->stop = 0;
    r->requestPlot = [&](RelaxMoleculeData &rec) {
      if (firstStep < 0) {
        std::sscanf(rec.message, "Plotting structure at step %ld", &firstStep);
        t0 = Clock::now();
      } else if ((++calls & 63) == 0 && std::chrono::duration<double>(Clock::now() - t0).count() > kSeconds) {
        std::sscanf(rec.message, "Plotting structure at step %ld", &lastStep);
        t1 = Clock::now();
        rec.shared->stop = 1;
      }
    };
    double energy = e0, seed = 12345;
    RunMonteCarlo(*r, &energy, &seed);
    const double seconds = std::chrono::duration<double>(t1 - t0).count();
    state.SetIterationTime(seconds);
    totalSteps += static_cast<double>(lastStep - firstStep);
    totalSeconds += seconds;
  }
  state.counters["atoms"] = static_cast<double>(atoms.size());
  state.counters["moves_per_s"] = totalSteps / totalSeconds;
  DisposeRelaxMoleculeData(r);
}

// obminimize logs to standard error; its step-0 energy line comes once the
// set-up and the first energy are done, so the time from that line to its
// exit covers the steps alone.
void BM_ObminimizeSteps(benchmark::State &state) {
  const int atoms = static_cast<int>(state.range(0));
  const int steps = static_cast<int>(state.range(1));
  if (atoms > 5000 && !std::getenv("OV_BENCH_OBMINIMIZE_LARGE")) {
    state.SkipWithError("set OV_BENCH_OBMINIMIZE_LARGE=1 to run (about 11 GB)");
    return;
  }
  const fs::path stem = ClusterStem(atoms);
  const std::string command = "obminimize -ff UFF -sd -n " + std::to_string(steps) + " '" + stem.string() +
                              ".sdf' 2>&1 >/dev/null";
  double perStep = 0;
  for (auto _ : state) {
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe) {
      state.SkipWithError("cannot run obminimize");
      return;
    }
    char line[512];
    bool started = false;
    Clock::time_point t0;
    while (std::fgets(line, sizeof line, pipe)) {
      int step;
      if (!started && std::sscanf(line, " %d ", &step) == 1 && step == 0 && std::strstr(line, "----")) {
        started = true;
        t0 = Clock::now();
      }
    }
    const int status = pclose(pipe);
    const auto t1 = Clock::now();
    if (!started || status != 0) {
      state.SkipWithError("obminimize gave no step lines");
      return;
    }
    perStep = std::chrono::duration<double>(t1 - t0).count() / steps;
    state.SetIterationTime(perStep * steps);
  }
  state.counters["s_per_step"] = perStep;
  state.counters["atom_moves_per_s"] = atoms / perStep;
}

} // namespace

BENCHMARK(BM_RelaxSetUp)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_RelaxMoves)->Arg(1000)->Arg(10000)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(1);
BENCHMARK(BM_ObminimizeSteps)->Args({1000, 5})->Args({10000, 2})->UseManualTime()->Unit(benchmark::kSecond)->Iterations(1);
