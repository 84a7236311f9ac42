// What a structure window does at the limits a structure is kept within: a
// stored plot range too large for memory, and a new bond too long for any
// specification the document reader takes.
#include "structurewindow/BuildingTools.h"
#include "structurewindow/MainWindow.h"
#include "structurewindow/MeasureTools.h"
#include "structurewindow/Tools.h"
#include "shell/FileCommands.h"

#include "BuildPipeline.h"
#include "PlotRange.h"
#include "StoredLimits.h"
#include "ViewOrientation.h"
#include "render/HitTesting.h"
#include "window/MainWindowData.h"

#include <QApplication>
#include <QMouseEvent>
#include <array>
#include <cmath>
#include <map>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <gtest/gtest.h>

#include "SuiteHost.h"

namespace {

class LimitToolHost : public QtHostServices {
public:
  std::vector<AlertRequest> alerts;
  int RunAlert(const AlertRequest &alert) override {
    alerts.push_back(alert);
    return 1;
  }
};

LimitToolHost *gLimitToolHost = nullptr;

class StructureLimits : public ::testing::Test {
protected:
  void SetUp() override {
    if (!gLimitToolHost)
      gLimitToolHost = JoinRunningProgram<LimitToolHost>();
    previous_ = SetHostServices(gLimitToolHost);
    gLimitToolHost->alerts.clear();
    gNumSelAtoms = 0;
  }
  void TearDown() override {
    gCurrentTool = kToolRotate;
    for (MainWindow *m : std::vector<MainWindow *>(AllGraphWindows())) {
      ClearWindowModified(m->Ref());
      DoCloseMainWindow(m->Ref());
    }
    QCoreApplication::processEvents();
    SetHostServices(previous_);
  }
  void Open(const char *name) {
    ASSERT_TRUE(OpenFSRefInWindow(ExamplesFolder() / name, nullptr));
    QCoreApplication::processEvents();
    w = GetMainWindow(FrontGraphWindow());
    ASSERT_NE(w, nullptr);
    window = w->Ref();
    w->ResizeContent(640, 480);
    w->show();
    QCoreApplication::processEvents();
    crystal = GetWindowCrystal(window);
  }
  int32_t AtomLabelled(const char *label) const {
    for (size_t i = 0; i < crystal->atoms.size(); ++i)
      if (std::string(crystal->sites[crystal->atoms[i].site].label) == label)
        return int32_t(i);
    return -1;
  }
  QPoint At(int32_t atom) const {
    return w->GraphPane()->geometry().topLeft() + QPoint(crystal->atoms[atom].pixel[0], crystal->atoms[atom].pixel[1]);
  }
  // Whether a press on the atom's centre picks it.
  bool Pickable(int32_t atom) const {
    const QPoint p = At(atom);
    int16_t kind = 0;
    int32_t index = -1, radius = 0;
    return FindClickedObject(window, Point{int16_t(p.y()), int16_t(p.x())}, &kind, &index, &radius) &&
           kind == kHitAtom && index == atom;
  }
  void Click(QPoint contentPoint) {
    QWidget *pane = w->GraphPane();
    const QPointF local = pane->mapFrom(w->Content(), contentPoint);
    QMouseEvent press(QEvent::MouseButtonPress, local, pane->mapToGlobal(local), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(pane, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, local, pane->mapToGlobal(local), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(pane, &release);
    crystal = GetWindowCrystal(window);
  }
  bool BondedTo(int32_t a, int32_t b) const {
    const AtomRecord &r = crystal->atoms[a];
    return std::find(r.bonds.begin(), r.bonds.begin() + r.bondCount, uint32_t(b)) != r.bonds.begin() + r.bondCount;
  }

  HostServices *previous_ = nullptr;
  MainWindow *w = nullptr;
  WindowRef window = nullptr;
  CrystalRec *crystal = nullptr;
};

// The add/delete-bond tool makes no specification that the reader would
// refuse: a pair too far apart is turned down with the Edit Bonding sheet's
// alert.
TEST_F(StructureLimits, APairBeyondTheLongestStoredMaximumIsRefused) {
  // Four hydrogens (no H-H specification): H1-H2 apart by a distance whose
  // maximum of 1.15 times it stays within the longest a stored maximum may
  // reach, H3-H4 by one whose maximum does not.
  const double nearD = (kMaxBondSpecLength - 5.0) / 1.15, farD = (kMaxBondSpecLength + 5.0) / 1.15;
  std::map<std::string, std::array<double, 3>> written = {
      {"H1", {0, 0, 0}}, {"H2", {nearD, 0, 0}}, {"H3", {0, 20, 0}}, {"H4", {farD, 20, 0}}};
  std::ostringstream text;
  text << "MOLE  Orvalisphere molecule format\nTITL  hydrogens\n\nATOM\n";
  for (const auto &[name, p] : written)
    text << "H   " << name << "  " << p[0] << " " << p[1] << " " << p[2] << "\n";
  const std::filesystem::path path = std::filesystem::temp_directory_path() / "far hydrogens.ovtx";
  std::ofstream(path) << text.str();
  Open(path.string().c_str());
  std::filesystem::remove(path);
  auto label = [&](int32_t atom) { return std::string(crystal->sites[crystal->atoms[atom].site].label); };
  auto distance = [&](int32_t a, int32_t b) {
    const auto &p = written.at(label(a)), &q = written.at(label(b));
    return std::hypot(p[0] - q[0], p[1] - q[1], p[2] - q[2]);
  };
  const int32_t nearA = AtomLabelled("H1"), nearB = AtomLabelled("H2");
  const int32_t farA = AtomLabelled("H3"), farB = AtomLabelled("H4");
  for (int32_t atom : {nearA, nearB, farA, farB})
    ASSERT_TRUE(atom >= 0 && Pickable(atom)) << atom;
  const int32_t specs = crystal->bondSpecCount;

  gCurrentTool = kToolAddDeleteBond;
  Click(At(farA));
  Click(At(farB));
  ASSERT_EQ(gLimitToolHost->alerts.size(), 1u);
  EXPECT_EQ(gLimitToolHost->alerts[0].message, "Bond maximum too long");
  EXPECT_NE(gLimitToolHost->alerts[0].explanation.find("at most " + std::to_string(int(kMaxBondSpecLength))),
            std::string::npos);
  EXPECT_FALSE(BondedTo(farA, farB));
  EXPECT_EQ(crystal->bondSpecCount, specs);
  EXPECT_FALSE(IsWindowModified(window));
  EXPECT_EQ(gNumSelAtoms, 0);

  // Within the limit the bond and its specification are made.
  Click(At(nearA));
  Click(At(nearB));
  EXPECT_EQ(gLimitToolHost->alerts.size(), 1u);
  EXPECT_TRUE(BondedTo(nearA, nearB));
  ASSERT_EQ(crystal->bondSpecCount, specs + 1);
  EXPECT_NEAR(crystal->bondSpecs[size_t(specs)].maxLength, 1.15 * distance(nearA, nearB), 1e-3); // floats at 200 A
}

// A document whose range needs more atoms than an array may hold opens on
// its first cell, bonded, after the alert.
TEST_F(StructureLimits, ARangeTooLargeForMemoryOpensTheFirstCellBonded) {
  std::ifstream in(ExamplesFolder() / "Pyrope.ovtx");
  std::stringstream text;
  text << in.rdbuf();
  std::string file = text.str();
  const std::string range = "XYZR  0.000000 1.000000 0.000000 1.000000 0.000000 1.000000";
  const size_t at = file.find(range);
  ASSERT_NE(at, std::string::npos);
  // 160 atoms in each of 60 x 60 x 60 cells: beyond 20 million records.
  file.replace(at, range.size(), "XYZR  0.000000 60.000000 0.000000 60.000000 0.000000 60.000000");
  const std::filesystem::path path = std::filesystem::temp_directory_path() / "Pyrope range 60.ovtx";
  std::ofstream(path) << file;
  Open(path.string().c_str());
  std::filesystem::remove(path);
  ASSERT_EQ(gLimitToolHost->alerts.size(), 1u);
  EXPECT_EQ(gLimitToolHost->alerts[0].message, "No Memory for atoms");
  EXPECT_EQ(crystal->atomsPerCell, 160);
  EXPECT_EQ(crystal->plotRange[1], kFirstCellRangeMax);
  EXPECT_EQ(crystal->plotRange[5], kFirstCellRangeMax);
  // Each Si among its four O (1.63 A, bond maximum 1.8 A): in the first
  // cell at least the Si atoms inside it are bonded.
  int32_t bondedSi = 0;
  for (const AtomRecord &atom : crystal->atoms)
    if (atom.visible && crystal->sites[atom.site].elements[0] == TwoCharsToShort("Si") && atom.bondCount > 0)
      bondedSi++;
  EXPECT_GT(bondedSi, 0);
}

} // namespace
