// One place modulo the lattice, judged alike by every reader, seen through
// File > Open: a mixed site written one atom per element with one of them on
// the far face of the cell (0.99999 and 1 for 0) or a few hundred-thousandths
// off, and a file listing every atom of its cell, those on the faces on both
// faces and an image a little off its place. The same structure opens the
// same in each format. tests/oracle/cell_atoms_oracle.py repeats every count
// with gemmi's expansion of the file's own sites.
#include "ReaderTestSupport.h"

namespace {

using namespace readertest;
using doctest::Window;

struct PlacesFile {
  const char *name;
  int cellAtoms;
  size_t sites;
  int mixedSites; // sites of two elements
};

const PlacesFile kPlacesFiles[] = {
    // P -1: (Fe, Mg) at the origin 1, (Co, Ni) at a general position 2, O 2.
    {"mixed_edge.ins", 5, 3, 2},
    {"mixed_edge.cif", 5, 3, 2},
    // P -1: the file's ten atoms are Fe at the origin 1 and O 2.
    {"faces.car", 3, 2, 0},
};

TEST(PlacesModuloTheLattice, EachFormatFindsTheSamePlaces) {
  FakeHost host;
  for (const PlacesFile &f : kPlacesFiles) {
    SCOPED_TRACE(f.name);
    Window w(host);
    if (!OpenTextFile(w.ref(), Sample("places", f.name))) {
      ADD_FAILURE() << "refused: " << (host.alerts.empty() ? "" : host.alerts.back().explanation);
      continue;
    }
    const CrystalRec &c = w.crystal();
    EXPECT_EQ(c.atomsPerCell, f.cellAtoms);
    EXPECT_EQ(c.sites.size(), f.sites);
    int mixed = 0;
    for (const AsymmetricUnitRecord &site : c.sites)
      if (site.elements[1] != kBlankElement) {
        mixed++;
        EXPECT_FLOAT_EQ(site.occupancies[0], 0.5f) << site.label;
        EXPECT_FLOAT_EQ(site.occupancies[1], 0.5f) << site.label;
      }
    EXPECT_EQ(mixed, f.mixedSites);
  }
}

} // namespace
