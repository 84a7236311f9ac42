// The face search on the ligands of every bonded atom of the bundled
// examples and the test structures, against the plain search over every
// triple of points: the same faces with their vertices in the same order.
#include "DocumentTestSupport.h"

#include "../model/PolyhedraFacesReference.h"
#include "Polyhedra.h"

#include <gtest/gtest.h>

namespace {

TEST(ExamplePolyhedraFaces, LigandSetsGiveTheSameFacesAsEveryTripleTried) {
  FakeHost host;
  std::string error;
  const std::vector<doctest::Named> all = doctest::AllStructures(host, error);
  ASSERT_TRUE(error.empty()) << error;
  int sets = 0, polyhedra = 0, shells = 0;
  for (const doctest::Named &s : all) {
    // The polyhedra as the polyhedral model makes them when it is chosen.
    CrystalRec c = s.crystal;
    DefinePendingPolyhedra(&c);
    auto check = [&](const std::vector<uint32_t> &atoms, const AtomRecord &centre) {
      std::vector<std::array<float, 3>> pts;
      for (uint32_t b : atoms) {
        const float *p = c.atoms[b].cart;
        pts.push_back({p[0], p[1], p[2]});
      }
      EXPECT_EQ(facesref::Faces(pts), facesref::ReferenceFaces(pts))
          << s.name << ", atom " << (&centre - c.atoms.data()) << ", " << pts.size() << " points";
    };
    for (const AtomRecord &atom : c.atoms) {
      if (atom.bonds.size() < 3)
        continue;
      check(static_cast<std::vector<uint32_t>>(atom.bonds), atom);
      ++sets;
      if (!AtomPolyhedron(&c, atom))
        continue;
      ++polyhedra;
      // The ligands with their own ligands: larger sets, many of their
      // points inside, a few of each structure.
      if (polyhedra % 8 != 1)
        continue;
      std::vector<uint32_t> shell(atom.bonds);
      for (uint32_t b : atom.bonds)
        for (uint32_t second : c.atoms[b].bonds)
          if (std::find(shell.begin(), shell.end(), second) == shell.end())
            shell.push_back(second);
      if (shell.size() > atom.bonds.size()) {
        check(shell, atom);
        ++shells;
      }
    }
  }
  EXPECT_GT(sets, 250);
  EXPECT_GT(polyhedra, 150);
  EXPECT_GT(shells, 15);
}

} // namespace
