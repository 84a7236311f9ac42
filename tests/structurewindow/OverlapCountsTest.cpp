// Atoms written several times over at one place are counted as the bond
// search treats them: the bonding editor's neighbour counts leave out the
// copies at an atom's own place, which are never bonded to it, and the Log
// counts each copy left out of the polyhedra once.
#include "editing/BondingSheet.h"
#include "shell/LogStore.h"
#include "window/MainWindowData.h"

#include "ExampleWindowsTest.h"

#include <QRegularExpression>
#include <fstream>
#include <sstream>

namespace {

// Benzene with its twelve atoms written three times over.
std::filesystem::path WriteTripledBenzene(const std::filesystem::path &folder) {
  std::ifstream in(ExamplesFolder() / "Benzene.ovtx");
  std::stringstream header, atoms;
  std::string line;
  bool inAtoms = false;
  while (std::getline(in, line)) {
    if (inAtoms && !line.empty())
      atoms << line << '\n';
    else
      header << line << '\n';
    inAtoms = inAtoms || line == "ATOM";
  }
  const std::filesystem::path file = folder / "Tripled.ovtx";
  std::ofstream out(file);
  out << header.str();
  for (int copy = 0; copy < 3; copy++)
    out << atoms.str();
  return file;
}

using OverlapCounts = ExampleWindowsTest;

TEST_F(OverlapCounts, BondingEditorAndPolyhedraCountCopiesAsTheBondSearch) {
  const qsizetype logBefore = GetLogStore()->PlainText().size();
  MainWindow *w = Open(WriteTripledBenzene(folder.path().toStdString()));
  ASSERT_NE(w, nullptr);
  ASSERT_EQ(GetWindowCrystal(w->Ref())->atoms.size(), 36u);

  // Each carbon has two carbon neighbours, each written three times: six
  // bonds; the two other copies of the carbon itself are none.
  ASSERT_EQ(ProcessCommand(kCmdEditBonding), kNoErr);
  BondingSheet *sheet = CurrentBondingSheet();
  ASSERT_NE(sheet, nullptr);
  EXPECT_TRUE(QTest::qWaitFor([&] { return sheet->Record()->specs[0].DiagnosticsKnown(); }, 10000));
  const EditBondSpecNode &cc = sheet->Record()->specs[0];
  ASSERT_EQ(cc.elementA, cc.elementB);
  EXPECT_EQ(BondCountText(cc.minCountA, cc.maxCountA, cc.elementB), "[6] C");
  static_cast<QDialog *>(sheet)->reject();
  QCoreApplication::processEvents();

  // Every carbon's ligands lie at three places, three atoms at each: one
  // atom per place makes the polyhedron. Of the 36 atoms, the 24 second and
  // third copies are left out; the Log names one pair and counts the rest.
  ASSERT_EQ(ProcessCommand(FourCharsToLong("Poly")), kNoErr);
  QCoreApplication::processEvents();
  const QString log = GetLogStore()->PlainText().mid(logBefore);
  const QRegularExpressionMatch m =
      QRegularExpression("Warning: (\\d+) more overlapping atoms left out of polyhedra").match(log);
  ASSERT_TRUE(m.hasMatch()) << log.toStdString();
  EXPECT_EQ(m.captured(1).toInt(), 23);
}

} // namespace
