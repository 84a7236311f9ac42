// Calcite with its origin moved by whole cells, however the shift comes in
// (the text format, Move Origin, a document): the atoms are those of the
// unshifted build, and every C-O bond has the length x(O) a of the
// literature's cell.
#include "../documents/DocumentTestSupport.h"

#include "CellTransform.h"
#include "documents/CrystalDocument.h"
#include "export/CIFWriter.h"
#include "import/OwnTextReader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using doctest::Window;

// Effenberger, Mereiter & Zemann (1981): C at (0, 0, 1/4) and O at
// (x, 0, 1/4) on hexagonal axes, so C-O = x a.
constexpr double kCalciteA = 4.9896, kCalciteXO = 0.2578;

class WholeCellOriginShift : public ::testing::Test {
protected:
  FakeHost host;
  const fs::path dir = fs::temp_directory_path() / ("origin-shift-" + std::to_string(::getpid()));
  void SetUp() override { fs::create_directories(dir); }
  void TearDown() override { fs::remove_all(dir); }

  // Calcite read from the text format, with an OSHF card when `shift` is
  // not empty.
  bool Open(Window &w, const std::string &shift) {
    std::string text = doctest::ExampleText("Calcite.ovtx");
    const size_t range = text.find("XYZR");
    if (range == std::string::npos)
      return false;
    if (!shift.empty())
      text.insert(range, "OSHF  " + shift + "\n");
    const fs::path file = dir / "calcite.ovtx";
    std::ofstream(file) << text;
    return OpenStructureFile(w.ref(), file);
  }
};

// The same atoms at the same places, in the same order.
void ExpectSameAtoms(const CrystalRec &expected, const CrystalRec &c) {
  ASSERT_EQ(c.atomCount, expected.atomCount);
  for (int32_t k = 0; k < c.atomCount; k++) {
    const AtomRecord &a = c.atoms[static_cast<size_t>(k)], &e = expected.atoms[static_cast<size_t>(k)];
    ASSERT_EQ(a.site, e.site) << k;
    for (int i = 0; i < 3; i++)
      ASSERT_NEAR(a.cart[i], e.cart[i], 1e-5) << k;
  }
}

// Every bonded C-O pair at x a, and no two atoms closer than a C-O bond.
void ExpectCalciteGeometry(const CrystalRec &c) {
  const ElementCode carbon = TwoCharsToShort("C ");
  int bonds = 0;
  double closest = HUGE_VAL;
  for (size_t p = 0; p < c.atoms.size(); p++) {
    const AtomRecord &a = c.atoms[p];
    for (size_t q = p + 1; q < c.atoms.size(); q++) {
      const AtomRecord &b = c.atoms[q];
      closest = std::min(closest, std::hypot(double(a.cart[0]) - b.cart[0], double(a.cart[1]) - b.cart[1],
                                             double(a.cart[2]) - b.cart[2]));
    }
    if (c.sites[a.site].elements[0] != carbon)
      continue;
    for (size_t k = 0; k < a.bondCount; k++, bonds++) {
      const AtomRecord &o = c.atoms[a.bonds[k]];
      EXPECT_NEAR(
          std::hypot(double(a.cart[0]) - o.cart[0], double(a.cart[1]) - o.cart[1], double(a.cart[2]) - o.cart[2]),
          kCalciteXO * kCalciteA, 2e-4);
    }
  }
  EXPECT_GT(bonds, 0);
  EXPECT_GT(closest, kCalciteXO * kCalciteA - 2e-4);
}

TEST_F(WholeCellOriginShift, TheTextFormatsShiftIsTakenModuloWholeCells) {
  Window plain(host);
  ASSERT_TRUE(Open(plain, ""));
  ExpectCalciteGeometry(plain.crystal());
  for (const char *shift : {"4000 0 0", "100000 0 0", "0 -250000 1000000"}) {
    SCOPED_TRACE(shift);
    Window w(host);
    ASSERT_TRUE(Open(w, shift));
    ExpectSameAtoms(plain.crystal(), w.crystal());
    ExpectCalciteGeometry(w.crystal());
  }
  // A fraction beyond whole cells survives them.
  Window fraction(host), far(host);
  ASSERT_TRUE(Open(fraction, "0.3 0 -0.25"));
  ASSERT_TRUE(Open(far, "100000.3 0 -3999.25"));
  EXPECT_EQ(fraction.crystal().originShift[2], -0.25f); // a shift within a cell stays as typed
  EXPECT_EQ(far.crystal().originShift[0], 0.3f);
  EXPECT_EQ(far.crystal().originShift[2], -0.25f);
  ExpectSameAtoms(fraction.crystal(), far.crystal());
}

TEST_F(WholeCellOriginShift, MoveOriginByWholeCellsMovesNothing) {
  Window plain(host), w(host);
  ASSERT_TRUE(Open(plain, ""));
  ASSERT_TRUE(Open(w, ""));
  for (float cells : {4000.0f, 100000.0f}) {
    SCOPED_TRACE(cells);
    MoveOrigin(w.ref(), cells, 0.0f, 0.0f);
    ExpectSameAtoms(plain.crystal(), w.crystal());
    ExpectCalciteGeometry(w.crystal());
  }
  Window quarter(host), far(host);
  ASSERT_TRUE(Open(quarter, ""));
  ASSERT_TRUE(Open(far, ""));
  MoveOrigin(quarter.ref(), 0.25f, 0.0f, 0.0f);
  MoveOrigin(far.ref(), 100000.25f, 0.0f, 0.0f);
  EXPECT_EQ(far.crystal().originShift[0], 0.25f);
  ExpectSameAtoms(quarter.crystal(), far.crystal());
}

// A document written with a shift of 4000 cells keeps it, and the crystal
// built from it again is the unshifted one.
TEST_F(WholeCellOriginShift, ADocumentsFarShiftBuildsTheSameCrystal) {
  Window plain(host), source(host), opened(host);
  ASSERT_TRUE(Open(plain, ""));
  ASSERT_TRUE(Open(source, ""));
  source.crystal().originShift[0] = 4000.0f;
  source.crystal().derived.Note(kChangeGroups); // told, as a command shifting the origin tells
  const fs::path file = dir / "calcite.ovdf";
  ASSERT_TRUE(DoWriteCrystalFile(source.ref(), file));
  ASSERT_TRUE(OpenCrystalFile(opened.ref(), file));
  ASSERT_EQ(opened.crystal().originShift[0], 4000.0f);
  ASSERT_TRUE(RunNewCrystal(opened.ref(), false, true, false));
  ExpectSameAtoms(plain.crystal(), opened.crystal());
  ExpectCalciteGeometry(opened.crystal());
  // The CIF lists the sites where the unshifted crystal has them.
  EXPECT_EQ(FormatCIFFile(opened.crystal(), "calcite", "", ""), FormatCIFFile(plain.crystal(), "calcite", "", ""));
}

} // namespace
