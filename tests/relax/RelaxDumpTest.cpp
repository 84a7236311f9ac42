// Writes what the relaxation engine computes for molecules given in a text
// file, so that an outside program can check it. Runs only when
// OV_RELAX_DUMP_IN (the input) and OV_RELAX_DUMP_OUT (the file to write) are
// set; tests/oracle/relax_*.py set them and compare with Open Babel and with
// published gas-phase geometries.
//
// Input, one command per line:
//   table                          the element table: "row <sym> <r> <cos θ0> <x> <D> <Z*>"
//   molecule <name>                starts a molecule
//   atom <symbol> <x> <y> <z>
//   bond <i> <j>                   0-based atom indices
//   energy                         types the molecule, finds its terms, and writes
//                                  "pair <E>" and "lj <E>" (the Lennard-Jones sum less
//                                  its ε shifts), then "pairgrad <i> <dE/dx> <dE/dy> <dE/dz>"
//                                  and "ljgrad ..." per atom (eV, Å)
//   relax <seed>                   anneals and writes "atom <i> <x> <y> <z>" per atom
//   command                        puts the molecule in a structure window, gives it the
//                                  Relax Molecule command, and when the run has ended
//                                  writes the window's atoms as "relax" does
// Each molecule's output starts with "molecule <name>" and ends with "end".
#include "RelaxWindowSupport.h"

#include "relax/ForceFieldTerms.h"
#include "relax/MonteCarlo.h"
#include "relax/NewtonMinimiser.h"
#include "relax/RelaxElementTable.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Molecule {
  std::string name;
  std::vector<RelaxInputAtom> atoms;
};

RelaxMoleculeData *Build(const Molecule &m) {
  RelaxMoleculeData *r = NewRelaxMoleculeData(nullptr, m.atoms, nullptr, 0);
  double energy;
  PrepareRelaxation(*r, &energy);
  return r;
}

// The energy and dE/dx of a copy that keeps only the given terms.
void WritePart(FILE *out, const char *name, RelaxMoleculeData part, double shift) {
  const int n = 3 * part.AtomCount();
  std::vector<double> x(n), g(n);
  UpdateLocalCoordinates(x.data(), n, part);
  std::fprintf(out, "%s %.17g\n", name, EvaluateNewtonEnergy(x.data(), n, part) - shift);
  EvaluateGradient(x.data(), g.data(), n, part);
  for (int a = 0; a < n / 3; ++a)
    std::fprintf(out, "%sgrad %d %.17g %.17g %.17g\n", name, a, -g[3 * a], -g[3 * a + 1], -g[3 * a + 2]);
}

void WriteEnergy(FILE *out, const Molecule &m) {
  RelaxMoleculeData *r = Build(m);
  RelaxMoleculeData pairs = *r;
  pairs.threes.clear();
  pairs.nonBonded.clear();
  WritePart(out, "pair", pairs, 0.0);
  RelaxMoleculeData lj = *r;
  lj.pairs.clear();
  lj.threes.clear();
  double shift = 0.0;
  for (NonBondedTerm &t : lj.nonBonded) {
    shift += t.epsilon;
    t.zz = 0.0; // no Coulomb part
  }
  WritePart(out, "lj", lj, shift);
  DisposeRelaxMoleculeData(r);
}

void WriteRelaxed(FILE *out, const Molecule &m, double seed) {
  RelaxMoleculeData *r = NewRelaxMoleculeData(nullptr, m.atoms, nullptr, 0);
  RelaxMoleculeWithSeed(*r, seed);
  for (const RelaxAtom &a : r->atoms)
    std::fprintf(out, "atom %d %.6f %.6f %.6f\n", a.atomIndex, a.x, a.y, a.z);
  DisposeRelaxMoleculeData(r);
}

} // namespace

// A structure window on the recording host for the "command" entries.
class RelaxDump : public relaxtest::RelaxWindowTest {
protected:
  void WriteCommandRelaxed(FILE *out, const Molecule &m) {
    std::vector<std::string> symbols;
    std::vector<relaxtest::MolAtom> atoms;
    std::vector<std::pair<int, int>> bonds;
    for (const RelaxInputAtom &a : m.atoms) {
      char symbol[3] = {0, 0, 0};
      ShortToTwoChars(a.element, symbol);
      symbols.emplace_back(symbol);
    }
    for (size_t i = 0; i < m.atoms.size(); ++i) {
      const RelaxInputAtom &a = m.atoms[i];
      atoms.push_back({symbols[i].c_str(), a.position[0], a.position[1], a.position[2]});
      for (int32_t j : a.bonds)
        if (static_cast<size_t>(j) > i)
          bonds.emplace_back(static_cast<int>(i), j);
    }
    SetMolecule(atoms, bonds);
    ASSERT_EQ(RelaxMenuCommand(kCmdRelaxMolecule, ref()), 0);
    ASSERT_EQ(RelaxRunCount(), 1u);
    // A whole run of a few hundred atoms takes well under the limit, also
    // with the sanitizers.
    const auto limit = std::chrono::steady_clock::now() + std::chrono::minutes(10);
    while (RelaxRunCount() > 0 && std::chrono::steady_clock::now() < limit) {
      host.RunPostedCalls();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    host.RunPostedCalls();
    ASSERT_EQ(RelaxRunCount(), 0u) << "the run did not end";
    EXPECT_FALSE(IsWindowCalculationInProgress(ref()));
    for (int32_t i = 0; i < crystal().atomCount; ++i) {
      const float *p = crystal().atoms[static_cast<size_t>(i)].cart;
      std::fprintf(out, "atom %d %.6f %.6f %.6f\n", i, p[0], p[1], p[2]);
    }
  }
};

TEST_F(RelaxDump, WritesRequestedResults) {
  const char *inPath = std::getenv("OV_RELAX_DUMP_IN");
  const char *outPath = std::getenv("OV_RELAX_DUMP_OUT");
  if (!inPath || !outPath)
    GTEST_SKIP() << "OV_RELAX_DUMP_IN and OV_RELAX_DUMP_OUT not set";
  std::ifstream in(inPath);
  ASSERT_TRUE(in) << inPath;
  FILE *out = std::fopen(outPath, "w");
  ASSERT_NE(out, nullptr) << outPath;
  Molecule m;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string key;
    words >> key;
    if (key == "table") {
      for (const RelaxElementRow &row : kRelaxElementTable)
        std::fprintf(out, "row %.2s %.9g %.17g %.9g %.17g %.9g\n", row.symbol, row.r, row.cosTheta0, row.x, row.d,
                     row.zStar);
    } else if (key == "molecule") {
      m = Molecule();
      words >> m.name;
      std::fprintf(out, "molecule %s\n", m.name.c_str());
    } else if (key == "atom") {
      std::string sym;
      RelaxInputAtom a;
      words >> sym >> a.position[0] >> a.position[1] >> a.position[2];
      a.element = TwoCharsToShort(sym.c_str());
      m.atoms.push_back(a);
    } else if (key == "bond") {
      int i, j;
      words >> i >> j;
      m.atoms.at(i).bonds.push_back(j);
      m.atoms.at(j).bonds.push_back(i);
    } else if (key == "energy") {
      WriteEnergy(out, m);
      std::fprintf(out, "end\n");
    } else if (key == "relax") {
      double seed = 1;
      words >> seed;
      WriteRelaxed(out, m, seed);
      std::fprintf(out, "end\n");
    } else if (key == "command") {
      WriteCommandRelaxed(out, m);
      std::fprintf(out, "end\n");
    }
  }
  std::fclose(out);
}
