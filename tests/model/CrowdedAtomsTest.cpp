// The automatic search over atoms written many times over and atoms packed
// closer than any matter.
#include "AutoBonds.h"

#include "AutoBondsTestSupport.h"
#include "FakeHost.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace autobondtest;

bool LogHas(const FakeHost &host, const std::string &text) {
  for (const std::string &line : host.LogLines())
    if (line == text)
      return true;
  return false;
}

// Thirty copies of a C-O pair 1.2 A long, two of the carbons in disorder
// groups 1 and 2 (alternatives of each other): every carbon bonds to every
// oxygen, no copy to another, and the pairs at one place are counted,
// 30 x 29 / 2 for each element less the one pair of alternatives.
TEST(AutoBondSearch, CopiesAtOnePlaceBondAsEachAtomWouldAlone) {
  FakeHost host;
  CrystalRec c;
  constexpr int kCopies = 30;
  std::vector<MoleculeAtom> atoms(kCopies, {"C", 0, 0, 0});
  atoms.insert(atoms.end(), kCopies, {"O", 1.2f, 0, 0});
  MakeMolecule(c, atoms);
  c.sites[0].occupancies[0] = c.sites[1].occupancies[0] = 0.5f;
  c.sites[0].disorderGroup = 1;
  c.sites[1].disorderGroup = 2;
  AutoBondSearch(&c);
  for (int a = 0; a < 2 * kCopies; a++)
    EXPECT_EQ(c.atoms[size_t(a)].bondCount, uint32_t(kCopies)) << a;
  EXPECT_TRUE(LogHas(host, "869 pairs of atoms closer than 0.1 A left unbonded: atoms at one place are never bonded "
                           "to each other."));
  EXPECT_EQ(c.bondSpecCount, 1); // C-O only
}

// A thousand carbons 0.01 A apart on a line: each has 174 others within the
// C-C limit (1.75 A), more than the 64 that matter allows there; they bond
// to nothing, and a C-O pair far off keeps its bond.
TEST(AutoBondSearch, AtomsPackedCloserThanMatterAreLeftUnbondedInOneLine) {
  FakeHost host;
  CrystalRec c;
  std::vector<MoleculeAtom> atoms;
  for (int k = 0; k < 1000; k++)
    atoms.push_back({"C", 0.01f * float(k), 0, 0});
  atoms.push_back({"C", 30, 30, 30});
  atoms.push_back({"O", 31.2f, 30, 30});
  MakeMolecule(c, atoms);
  AutoBondSearch(&c);
  for (int a = 0; a < 1000; a++)
    ASSERT_EQ(c.atoms[size_t(a)].bondCount, 0u) << a;
  EXPECT_EQ(c.atoms[1000].bonds.size(), 1u);
  EXPECT_EQ(c.atoms[1001].bonds.size(), 1u);
  EXPECT_TRUE(LogHas(host, "1,000 atom(s) lie among more than 64 places within 1.75 A, closer than any matter packs "
                           "its atoms: they were left unbonded."));
}

} // namespace
