// Relaxation speed on a sane geometry: bundles of all-trans n-C34H70 chains
// (resources/examples/Tetratriacontane.ovtx, standard bond lengths and
// angles) side by side, 5.0 Å apart across the zig-zag and 4.5 Å along the
// C-H bonds, so no two chains come closer than about 2.7 Å. 3 x 3 chains make
// 936 atoms, 10 x 10 make 10,400.
//   BM_RelaxSetUp        typing and term search: time, the record's memory and
//                        the process's peak resident memory;
//   BM_RelaxMoves        Monte-Carlo steps (one atom moved each) per second,
//                        the term index and first energy excluded;
//   BM_ObminimizeSD/CG   `obminimize -ff UFF -sd` / `-cg` (all pairs, no
//                        cut-off) on the same bundle as an XYZ file: seconds
//                        per step with its set-up excluded, and atom moves per
//                        second (atoms / seconds per step). The 10,400-atom
//                        runs need about 11 GB and a few minutes, so they run
//                        only with OV_BENCH_OBMINIMIZE_LARGE=1.
#include "relax/ForceFieldTerms.h"
#include "relax/MonteCarlo.h"
#include "relax/RelaxEnergies.h"
#include "tools/TempFiles.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
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

struct ChainAtom {
  std::string symbol;
  float position[3];
};

// The example file, found from the program up: benchmarks are built in a
// folder of the source tree (build/release/bench).
fs::path ChainFile() {
  const fs::path name = fs::path("resources") / "examples" / "Tetratriacontane.ovtx";
  std::error_code error;
  for (fs::path dir = fs::read_symlink("/proc/self/exe", error).parent_path(); !dir.empty() && dir != dir.root_path();
       dir = dir.parent_path())
    if (fs::exists(dir / name))
      return dir / name;
  return name;
}

std::vector<ChainAtom> ReadChain() {
  std::ifstream in(ChainFile());
  std::string line;
  while (std::getline(in, line) && line != "ATOM") {
  }
  std::vector<ChainAtom> atoms;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    ChainAtom a;
    std::string label;
    if (!(fields >> a.symbol >> label >> a.position[0] >> a.position[1] >> a.position[2]))
      break;
    atoms.push_back(a);
  }
  return atoms;
}

// side x side chains with their bonds (C-C below 1.6 Å, C-H below 1.2 Å, as
// the example file gives them), written as an XYZ file too.
struct Bundle {
  std::vector<RelaxInputAtom> atoms;
  fs::path xyz;
};

const Bundle &MakeBundle(int side) {
  static std::map<int, Bundle> made;
  if (auto it = made.find(side); it != made.end())
    return it->second;
  const std::vector<ChainAtom> chain = ReadChain();
  if (chain.empty()) {
    std::fprintf(stderr, "cannot read %s\n", ChainFile().c_str());
    std::exit(1);
  }
  std::vector<std::pair<int, int>> bonds;
  for (size_t i = 0; i < chain.size(); ++i)
    for (size_t j = i + 1; j < chain.size(); ++j) {
      const bool hydrogen = chain[i].symbol == "H" || chain[j].symbol == "H";
      if (hydrogen && chain[i].symbol == chain[j].symbol)
        continue;
      double d2 = 0;
      for (int k = 0; k < 3; ++k)
        d2 += std::pow(chain[i].position[k] - chain[j].position[k], 2);
      if (d2 < std::pow(hydrogen ? 1.2 : 1.6, 2))
        bonds.emplace_back(static_cast<int>(i), static_cast<int>(j));
    }
  Bundle bundle;
  bundle.xyz = benchtemp::Name("alkanes" + std::to_string(side) + ".xyz");
  std::ofstream xyz(bundle.xyz);
  xyz << side * side * chain.size() << "\nn-C34H70 bundle\n";
  for (int u = 0; u < side; ++u)
    for (int v = 0; v < side; ++v) {
      const int first = static_cast<int>(bundle.atoms.size());
      for (const ChainAtom &c : chain) {
        RelaxInputAtom a;
        a.element = TwoCharsToShort((c.symbol + " ").c_str());
        a.position[0] = c.position[0];
        a.position[1] = c.position[1] + 5.0f * static_cast<float>(u);
        a.position[2] = c.position[2] + 4.5f * static_cast<float>(v);
        bundle.atoms.push_back(a);
        xyz << c.symbol << ' ' << a.position[0] << ' ' << a.position[1] << ' ' << a.position[2] << '\n';
      }
      for (auto [i, j] : bonds) {
        bundle.atoms[first + i].bonds.push_back(first + j);
        bundle.atoms[first + j].bonds.push_back(first + i);
      }
    }
  return made[side] = std::move(bundle);
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
  const Bundle &bundle = MakeBundle(static_cast<int>(state.range(0)));
  double megabytes = 0, terms = 0;
  for (auto _ : state) {
    RelaxMoleculeData *r = SetUp(bundle.atoms);
    megabytes = RecordMegabytes(*r);
    terms = static_cast<double>(r->pairs.size() + r->threes.size() + r->inversions.size() + r->dihedrals.size() +
                                r->nonBonded.size());
    DisposeRelaxMoleculeData(r);
  }
  state.counters["atoms"] = static_cast<double>(bundle.atoms.size());
  state.counters["terms"] = terms;
  state.counters["record_MB"] = megabytes;
  state.counters["peak_RSS_MB"] = PeakResidentMegabytes();
}

// Runs the annealing for about `seconds`, timed from its first snapshot
// request (after the term index is built) to the stop request; the steps
// come from the status message the loop keeps.
void BM_RelaxMoves(benchmark::State &state) {
  const Bundle &bundle = MakeBundle(static_cast<int>(state.range(0)));
  RelaxMoleculeData *r = SetUp(bundle.atoms);
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
  state.counters["atoms"] = static_cast<double>(bundle.atoms.size());
  state.counters["non_bonded"] = static_cast<double>(r->nonBonded.size());
  state.counters["moves_per_s"] = totalSteps / totalSeconds;
  DisposeRelaxMoleculeData(r);
}

// obminimize logs to standard error; the rule under its "STEP n" heading comes
// once the set-up and the first energy are done, so the time from that line
// to its exit covers the steps alone.
void Obminimize(benchmark::State &state, const char *method) {
  const int side = static_cast<int>(state.range(0));
  const int steps = static_cast<int>(state.range(1));
  if (side > 5 && !std::getenv("OV_BENCH_OBMINIMIZE_LARGE")) {
    state.SkipWithError("set OV_BENCH_OBMINIMIZE_LARGE=1 to run (about 11 GB)");
    return;
  }
  const Bundle &bundle = MakeBundle(side);
  const std::string command = std::string("obminimize -ff UFF ") + method + " -n " + std::to_string(steps) + " '" +
                              bundle.xyz.string() + "' 2>&1 >/dev/null";
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
      if (!started && std::strncmp(line, "------", 6) == 0) {
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
  state.counters["atoms"] = static_cast<double>(bundle.atoms.size());
  state.counters["s_per_step"] = perStep;
  state.counters["atom_moves_per_s"] = static_cast<double>(bundle.atoms.size()) / perStep;
}

void BM_ObminimizeSD(benchmark::State &state) { Obminimize(state, "-sd"); }
void BM_ObminimizeCG(benchmark::State &state) { Obminimize(state, "-cg"); }

} // namespace

BENCHMARK(BM_RelaxSetUp)->Arg(3)->Arg(10)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_RelaxMoves)->Arg(3)->Arg(10)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(1);
BENCHMARK(BM_ObminimizeSD)->Args({3, 20})->Args({10, 2})->UseManualTime()->Unit(benchmark::kSecond)->Iterations(1);
BENCHMARK(BM_ObminimizeCG)->Args({3, 20})->Args({10, 2})->UseManualTime()->Unit(benchmark::kSecond)->Iterations(1);
