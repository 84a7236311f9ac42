// A vector the user put on an atom stays on that atom through every command
// that builds the atoms afresh, or goes with a Log line when its atom is
// gone; the saved document never names an atom it does not hold.
#include "documents/CrystalDocument.h"
#include "editing/EditCrystalSheet.h"
#include "editing/TransformCommands.h"
#include "editing/TransformSheets.h"
#include "shell/Forms.h"

#include "AtomEditing.h"
#include "Preferences.h"
#include "StructureArrays.h"
#include "VectorMath.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <functional>
#include <set>
#include <string>

#include "SheetClosing.h"
#include "SuiteHost.h"

namespace {

// A command that rebuilds the atoms, and where it leaves the vectors drawn
// on every shown atom of an element.
struct Case {
  const char *name, *example, *element;
  std::function<void()> command;
  double originShift[3]; // the command moves the origin by this much (old cell)
  enum { kSamePlace, kLatticeImage, kSameLabel } where;
  int lost; // vectors whose atoms the command leaves out; -1: not fixed
};

// Where a vector the user drew stood: its atom's place (Angstrom) and label.
struct Drawn {
  double cart[3];
  std::string label;
};

class VectorsFollowAtoms : public StructureSheetTest {
protected:
  void SetUp() override {
    gPrefs.noticeDiscardSymmetry = 0;
    gPrefs.noticeCrystalToMolecule = 0;
  }
  void TearDown() override {
    CloseAll();
    gPrefs.noticeDiscardSymmetry = gFactoryPrefs.noticeDiscardSymmetry;
    gPrefs.noticeCrystalToMolecule = gFactoryPrefs.noticeCrystalToMolecule;
  }

  static ElementCode ElementOf(const CrystalRec &c, uint32_t atom) { return c.sites[c.atoms[atom].site].elements[0]; }
  // Fractional to Angstrom in the structure's own frame.
  static void Cartesian(const CrystalRec &c, const float xyz[3], double out[3]) {
    for (int i = 0; i < 3; i++) {
      out[i] = 0.0;
      for (int j = 0; j < 3; j++)
        out[i] += double(c.orientationMatrix[3 * i + j]) * double(xyz[j]);
    }
  }
  // Selects the visible atoms of the element, and only those.
  static int32_t SelectAll(CrystalRec *c, const char *element) {
    int32_t n = 0;
    for (size_t i = 0; i < c->atoms.size(); i++) {
      AtomRecord &a = c->atoms[i];
      a.selected = a.visible && ElementOf(*c, uint32_t(i)) == TwoCharsToShort(element);
      n += a.selected;
    }
    return n;
  }
  static void AddVector() {
    DefineVectorRec record;
    record.uvw[0] = 0.0f, record.uvw[1] = 0.0f, record.uvw[2] = 1.0f;
    DoDefineVector(FrontGraphWindow(), record);
  }
  static std::string Log() { return GetLogStore()->PlainText().toStdString(); }
  // Every vector on an atom of its own, shown, of the element; the atoms.
  static std::set<uint32_t> CheckAtoms(const CrystalRec &c, const char *element) {
    std::set<uint32_t> atoms;
    for (const VectorRecord &v : c.vectors) {
      EXPECT_LT(v.atom, c.atoms.size());
      if (v.atom >= c.atoms.size())
        continue;
      EXPECT_TRUE(atoms.insert(v.atom).second) << "two vectors on atom " << v.atom;
      EXPECT_EQ(c.atoms[v.atom].hasVector, 1); // the drawing walks these atoms
      EXPECT_TRUE(c.atoms[v.atom].visible);
      EXPECT_EQ(ElementOf(c, v.atom), TwoCharsToShort(element));
    }
    return atoms;
  }
  // The vectors of the document written and read back.
  static CrystalRec *SavedAndReopened(const QTemporaryDir &dir) {
    const std::filesystem::path file = std::filesystem::path(dir.path().toStdString()) / "vectors.ovdf";
    EXPECT_TRUE(DoWriteCrystalFile(FrontGraphWindow(), file));
    CloseAll();
    EXPECT_TRUE(OpenFSRefInWindow(file, nullptr));
    QCoreApplication::processEvents();
    return GetWindowCrystal(FrontGraphWindow());
  }
  // The commands as the user gives them.
  static void MoveOrigin() {
    QDialog *sheet = Sheet(kCmdMoveOrigin);
    ASSERT_NE(sheet, nullptr);
    for (int field : {4, 5, 6})
      FindControl<QLineEdit>(sheet, field)->setText(field == 4 ? "0.1" : "0");
    ASSERT_TRUE(ClosesOnOK(MoveOriginSheetEventHandler, sheet));
    gMoveOriginDeltaX = 0.0f; // the sheet offers the last shift next time
  }
  static void TransformCell(uint32_t preset) {
    QDialog *sheet = Sheet(kCmdTransformCell);
    ASSERT_NE(sheet, nullptr);
    TransformCellSheetEventHandler(sheet, preset);
    ASSERT_TRUE(ClosesOnOK(TransformCellSheetEventHandler, sheet));
  }
  static void SliceThenCrystalToMolecule() {
    ProcessCommand(kCmdToggleLatticePlane);
    QDialog *sheet = Sheet(kCmdSliceCrystal);
    ASSERT_NE(sheet, nullptr);
    for (auto *button : sheet->findChildren<QPushButton *>())
      if (button->property("command").toString() == "HdAb")
        button->click(); // Hide Above
    QCoreApplication::processEvents();
    ProcessCommand(kCmdCrystalToMolecule);
  }
  // The structure editor builds a new structure from the sites it shows.
  static void EditCrystalCell() {
    ASSERT_EQ(ProcessCommand(kCmdEditStructure), kNoErr);
    EditCrystalSheet *sheet = GetEditCrystalSheet(FrontGraphWindow());
    ASSERT_NE(sheet, nullptr);
    sheet->CellField(0)->setText("4.6");
    sheet->HandleCommand(FourCharsToLong("ok  "));
    QCoreApplication::processEvents();
  }
  static void MoleculeToCrystal() {
    QDialog *sheet = Sheet(kCmdMoleculeToCrystal);
    ASSERT_NE(sheet, nullptr);
    ASSERT_TRUE(ClosesOnOK(MTCSheetEventHandler, sheet));
  }
  // Draws the vectors, runs the command, checks where they are, and again
  // in the document written and read back.
  static void Follow(const Case &test, const QTemporaryDir &dir) {
    CrystalRec *c = OpenExample(test.example);
    ASSERT_NE(c, nullptr);
    const int32_t count = SelectAll(c, test.element);
    ASSERT_GT(count, 1);
    AddVector();
    ASSERT_EQ(c->vectorCount, count);
    std::vector<Drawn> drawn;
    for (const VectorRecord &v : c->vectors) {
      drawn.push_back({{}, c->sites[c->atoms[v.atom].site].label});
      Cartesian(*c, c->atoms[v.atom].xyz, drawn.back().cart);
    }
    double arrowBefore[3]; // the same for every vector
    Cartesian(*c, c->vectors[0].uvw, arrowBefore);
    double oldFrame[9], inverse[9];
    for (int i = 0; i < 9; i++)
      oldFrame[i] = c->orientationMatrix[i];
    ASSERT_TRUE(DInv3x3Mat(oldFrame, inverse));
    const size_t logBefore = Log().size();

    test.command();
    c = GetWindowCrystal(FrontGraphWindow());
    const std::string log = Log().substr(logBefore);
    const int32_t kept = c->vectorCount;
    const int lost = count - kept;
    if (test.lost >= 0) {
      EXPECT_EQ(lost, test.lost) << log;
    }
    if (lost > 0) {
      EXPECT_NE(log.find(std::to_string(lost) + " vectors left out"), std::string::npos) << log;
    } else {
      EXPECT_EQ(log.find("left out"), std::string::npos) << log;
    }
    ASSERT_GT(kept, 0);
    // Each drawn where one was drawn before (give or take a lattice
    // translation of the old cell where the new range holds another image).
    ASSERT_EQ(CheckAtoms(*c, test.element).size(), size_t(kept));
    for (const VectorRecord &v : c->vectors) {
      const std::string label = c->sites[c->atoms[v.atom].site].label;
      double now[3], arrow[3];
      Cartesian(*c, c->atoms[v.atom].xyz, now);
      Cartesian(*c, v.uvw, arrow);
      // The same arrow: the same length, and in the same frame the same way.
      EXPECT_NEAR(std::hypot(arrow[0], arrow[1], arrow[2]), std::hypot(arrowBefore[0], arrowBefore[1], arrowBefore[2]),
                  1e-3);
      for (int i = 0; i < 3 && test.where != Case::kSameLabel; i++)
        EXPECT_NEAR(arrow[i], arrowBefore[i], 1e-3);
      const bool found = std::any_of(drawn.begin(), drawn.end(), [&](const Drawn &d) {
        if (test.where == Case::kSameLabel)
          return d.label == label;
        for (int i = 0; i < 3; i++) {
          double f = test.originShift[i];
          for (int j = 0; j < 3; j++)
            f += inverse[3 * i + j] * (now[j] - d.cart[j]);
          if (std::fabs(f - (test.where == Case::kLatticeImage ? std::round(f) : 0.0)) > 1e-3)
            return false;
        }
        return true;
      });
      EXPECT_TRUE(found) << "atom " << v.atom << " " << label << " carried no vector before";
    }

    c = SavedAndReopened(dir);
    ASSERT_NE(c, nullptr);
    ASSERT_EQ(c->vectorCount, kept);
    EXPECT_EQ(CheckAtoms(*c, test.element).size(), size_t(kept));
  }
};

TEST_F(VectorsFollowAtoms, EveryVectorStaysOnItsAtomThroughEveryCommandThatRebuildsTheAtoms) {
  // clang-format off
  const Case cases[] = {
      {"Discard Symmetry", "Calcite.ovtx", "Ca", [] { ProcessCommand(kCmdDiscardSymmetry); }, {0, 0, 0}, Case::kSamePlace, 0},
      // The range moves with the origin.
      {"Move Origin", "Calcite.ovtx", "Ca", MoveOrigin, {0.1, 0, 0}, Case::kLatticeImage, 0},
      // The primitive cell's range holds fewer Ca than the hexagonal cell's:
      // the vectors that find no image of their atom there go.
      {"Transform Cell, primitive", "Calcite.ovtx", "Ca", [] { TransformCell(kPresetPrimitive); }, {0, 0, 0}, Case::kLatticeImage, -1},
      {"Transform Cell, face-centred", "Rutile.ovtx", "Ti", [] { TransformCell(kPresetFaceCentred); }, {0, 0, 0}, Case::kLatticeImage, -1},
      {"Supercell", "NaCl.ovtx", "Cl", [] { TransformCell(kPresetSupercell222); }, {0, 0, 0}, Case::kSamePlace, 0},
      {"Crystal to Molecule", "Calcite.ovtx", "Ca", [] { ProcessCommand(kCmdCrystalToMolecule); }, {0, 0, 0}, Case::kSamePlace, 0},
      {"Slice, then Crystal to Molecule", "Calcite.ovtx", "Ca", SliceThenCrystalToMolecule, {0, 0, 0}, Case::kSamePlace, -1},
      {"Edit Crystal", "Rutile.ovtx", "Ti", EditCrystalCell, {0, 0, 0}, Case::kSameLabel, 0},
      {"Molecule to Crystal", "Benzene.ovtx", "C", MoleculeToCrystal, {0, 0, 0}, Case::kSameLabel, 0},
  };
  // clang-format on
  QTemporaryDir dir;
  for (const Case &test : cases) {
    SCOPED_TRACE(test.name);
    Follow(test, dir);
    CloseAll();
  }
}

} // namespace
