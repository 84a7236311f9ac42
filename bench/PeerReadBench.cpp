// Reading the PDB, mmCIF and P 1 CIF files of bench/make_open_files.py, as
// File > Open reads them before the build (the file loaded, its format
// decided, every structure parsed and filled: ReadStructureFile), beside
// gemmi's C++ library reading the same file into its own structure in the
// same process (gemmi::read_pdb_file; cif::read_file with make_structure
// for mmCIF, make_small_structure_from_block for a small-molecule CIF):
//   protein: a protein tiled to 80,000 atoms with its CONECT records, and
//     the same atoms as gemmi writes them in mmCIF;
//   zsm5: ZSM-5 expanded 3 x 3 x 4 to P 1, 25,200 sites;
//   burkeite: burkeite in P 1, 101,376 sites, half of them half-occupied;
//   sulfur: beta-sulfur's two ring orientations in P 1, 98,304 sites.
// The counter vsGemmi is our read's CPU time over gemmi's, the two taking
// turns (tools/BesidePeer.h): it holds on any machine. The /small cases
// read the script's smallest files of the same kinds, which the tests run
// once.
#include "import/ImportPath.h"
#include "Preferences.h"

#include "tools/BesidePeer.h"
#include "tools/OpenFiles.h"

#include <benchmark/benchmark.h>

#define USE_STD_SNPRINTF
#include <gemmi/cif.hpp>
#include <gemmi/mmcif.hpp>
#include <gemmi/pdb.hpp>
#include <gemmi/smcif.hpp>

#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;

enum class Peer { PDB, MMCIF, SmallCIF };

// The atoms of a macromolecular structure's first model.
size_t FirstModelAtoms(const gemmi::Structure &st) {
  size_t atoms = 0;
  if (!st.models.empty())
    for (const gemmi::Chain &chain : st.models[0].chains)
      for (const gemmi::Residue &residue : chain.residues)
        atoms += residue.atoms.size();
  return atoms;
}

// gemmi's read of the file into its structure; the atoms or sites it holds.
size_t GemmiRead(Peer peer, const fs::path &file) {
  switch (peer) {
  case Peer::PDB:
    return FirstModelAtoms(gemmi::read_pdb_file(file.string()));
  case Peer::MMCIF:
    return FirstModelAtoms(gemmi::make_structure(gemmi::cif::read_file(file.string())));
  case Peer::SmallCIF: {
    gemmi::cif::Document doc = gemmi::cif::read_file(file.string());
    return gemmi::make_small_structure_from_block(doc.sole_block()).sites.size();
  }
  }
  return 0;
}

void Read(benchmark::State &state, const char *name, Peer peer, bool small) {
  const fs::path file = benchscene::RequiredOpenFile(state, name, small);
  if (file.empty())
    return;
  gPrefs = gFactoryPrefs;
  size_t ours = 0, theirs = 0;
  benchscene::TimeBesidePeer(
      state, "vsGemmi",
      [&]() -> std::string {
        ImportResult result;
        std::string why;
        if (!ReadStructureFile(file, result, &why))
          return why;
        ours = result.structures.empty() ? 0 : result.structures[0].crystal.sites.size();
        return {};
      },
      [&] { theirs = GemmiRead(peer, file); });
  state.counters["sites"] = double(ours);
  state.counters["gemmiSites"] = double(theirs);
}

} // namespace

BENCHMARK_CAPTURE(Read, protein, "protein-80000.pdb", Peer::PDB, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Read, proteinMMCIF, "protein-80000.cif", Peer::MMCIF, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Read, zsm5, "zsm5-3x3x4.cif", Peer::SmallCIF, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Read, burkeite101376, "burk1-101376.cif", Peer::SmallCIF, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Read, sulfur98304, "sulfur-beta-98304.cif", Peer::SmallCIF, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Read, protein/small, "protein-1631.pdb", Peer::PDB, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Read, proteinMMCIF/small, "protein-1631.cif", Peer::MMCIF, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Read, zsm5/small, "zsm5-1x1x1.cif", Peer::SmallCIF, true)->Unit(benchmark::kMillisecond);
