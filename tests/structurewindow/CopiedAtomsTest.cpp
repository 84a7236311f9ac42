// A molecule whose atom list is written many times over, opened through the
// File menu's path, and long plots stopped with Escape.
#include "shell/Commands.h"
#include "shell/EngineHooks.h"
#include "shell/FileCommands.h"
#include "shell/QtHostServices.h"
#include "shell/StatusWindow.h"
#include "structurewindow/MainWindow.h"
#include "structurewindow/StructureWindow.h"

#include "ExampleWindowsTest.h"

#include "RenderServices.h"
#include "StructureArrays.h"
#include "window/MainWindowData.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// The real host, with the Log kept, plots counted (each replot redraws the
// rulers), the clock made to run fast on demand (a slow plot) and Escape
// pressed during a chosen cancel check. It notes what the status window's
// label showed when it was painted.
class LongPlotHost : public QtHostServices {
public:
  std::vector<std::string> log;
  int plots = 0;
  uint64_t stepPerReading = 0; // microseconds the clock gains at each reading
  int escapeAtCheck = 0;       // the cancel check (1-based) during which Escape is pressed; 0 never
  int checks = 0;
  std::vector<QString> statusPainted;

  LongPlotHost() {
    AttachLog(
        [this](std::string_view text, const RGBColor &, size_t) {
          std::string line(text);
          while (!line.empty() && line.back() == '\r')
            line.pop_back();
          log.push_back(line);
        },
        [] { return true; });
  }
  uint64_t NowMicroseconds() override {
    skew_ += stepPerReading;
    return QtHostServices::NowMicroseconds() + skew_;
  }
  void DrawRulers(WindowRef window) override {
    ++plots;
    QtHostServices::DrawRulers(window);
  }
  bool CheckForUserCancel() override {
    if (++checks == escapeAtCheck)
      if (QWidget *target = QApplication::focusWidget() ? QApplication::focusWidget() : pane)
        QCoreApplication::postEvent(target, new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
    return QtHostServices::CheckForUserCancel();
  }
  bool eventFilter(QObject *watched, QEvent *event) override {
    if (event->type() == QEvent::Paint)
      if (auto *label = qobject_cast<QLabel *>(watched); label && qobject_cast<StatusWindow *>(label->window()))
        statusPainted.push_back(label->text());
    return QtHostServices::eventFilter(watched, event);
  }
  QWidget *pane = nullptr;

private:
  uint64_t skew_ = 0;
};

class CopiedAtomsTest : public ::testing::Test {
protected:
  void SetUp() override {
    host = std::make_unique<LongPlotHost>();
    InstallHostWindowHooks(*host, [] { return AllGraphWindows(); });
    previous = SetHostServices(host.get());
  }
  void TearDown() override {
    for (MainWindow *w : std::vector<MainWindow *>(AllGraphWindows())) {
      ClearWindowModified(w->Ref());
      DoCloseMainWindow(w->Ref());
    }
    QCoreApplication::processEvents();
    SetHostServices(previous);
  }
  // The Benzene example with its twelve atom lines written `copies` times.
  fs::path WriteCopies(int copies) {
    std::ifstream in(ExamplesFolder() / "Benzene.ovtx");
    std::string head, atoms, line;
    bool inAtoms = false;
    while (std::getline(in, line)) {
      (inAtoms && !line.empty() ? atoms : head) += line + "\n";
      inAtoms = inAtoms || line == "ATOM";
    }
    const fs::path file = fs::temp_directory_path() / ("ovtest-benzene-" + std::to_string(copies) + ".ovtx");
    std::ofstream out(file);
    out << head;
    for (int k = 0; k < copies; k++)
      out << atoms;
    return file;
  }
  CrystalRec *Open(const fs::path &file) {
    if (!OpenFSRefInWindow(file, nullptr))
      return nullptr;
    window = FrontGraphWindow();
    host->pane = GetMainWindow(window)->GraphPane();
    return GetWindowCrystal(window);
  }
  std::vector<std::string> LinesWith(const std::string &part) const {
    std::vector<std::string> out;
    for (const std::string &line : host->log)
      if (line.find(part) != std::string::npos)
        out.push_back(line);
    return out;
  }
  std::unique_ptr<LongPlotHost> host;
  HostServices *previous = nullptr;
  WindowRef window = nullptr;
};

TEST_F(CopiedAtomsTest, CopiesAtOnePlaceAreNotBondedSaidOnceAndPlottedOnce) {
  const int n = 20;
  CrystalRec *c = Open(WriteCopies(n));
  ASSERT_NE(c, nullptr);
  ASSERT_EQ(c->atomCount, 12 * n);
  size_t ends = 0;
  for (const AtomRecord &a : c->atoms)
    for (uint32_t b : a.bonds) {
      const float *p = a.cart, *q = c->atoms[b].cart;
      ASSERT_GE(std::hypot(p[0] - q[0], p[1] - q[1], p[2] - q[2]), 1.0f); // C-C 1.39, C-H 1.08
      ends++;
    }
  // The ring's six C-C and six C-H bonds, each between n copies and n copies.
  EXPECT_EQ(ends / 2, size_t(12 * n * n));
  // The carbon copies at each of six places pair up n(n - 1) / 2 ways; the
  // hydrogens have no H-H specification to leave out.
  EXPECT_EQ(LinesWith("left unbonded"),
            std::vector<std::string>{"1,140 pairs of atoms closer than 0.1 A left unbonded: atoms at one place are "
                                     "never bonded to each other."});
  EXPECT_EQ(host->plots, 1);
}

// Twenty copies: 40 bonds to an atom, the most a bond search makes.
TEST_F(CopiedAtomsTest, EscapeDuringALongPlotShowsTheStructureWithoutBondsAndSaysSo) {
  CrystalRec *c = Open(WriteCopies(20));
  ASSERT_NE(c, nullptr);
  QWidget *pane = GetMainWindow(window)->GraphPane();
  pane->setFocus();
  host->log.clear();
  host->checks = 0;
  host->statusPainted.clear();
  // Every clock reading now costs 50 ms: the plot the arrow key asks for
  // runs long enough to show the status window, and Escape comes in the
  // second cancel check.
  host->stepPerReading = 50000;
  host->escapeAtCheck = 2;
  QTest::keyClick(pane, Qt::Key_Left);
  host->stepPerReading = 0;
  EXPECT_GE(host->checks, 2);
  EXPECT_NE(std::find(host->statusPainted.begin(), host->statusPainted.end(), "Plotting atoms and bonds..."),
            host->statusPainted.end());
  EXPECT_EQ(LinesWith("Drawing cancelled"),
            std::vector<std::string>{"Drawing cancelled: the structure is shown without bonds."});
  for (const AtomRecord &a : c->atoms)
    EXPECT_TRUE(a.bonds.empty());
  for (QWidget *top : QApplication::topLevelWidgets())
    EXPECT_FALSE(qobject_cast<StatusWindow *>(top) && top->isVisible());
}

// Spinel's polyhedra, opened, then given the scale 9,999 pixels per A in the
// Plot Scale sheet; the plot that follows is slow (the clock runs fast) and
// Escape stops it. The window shows the structure as it was before the
// command, polyhedra and all, and keeps its bonds, so a later plot draws
// them again.
TEST_F(CopiedAtomsTest, EscapeInAPolyhedralPlotAtTheLargestScaleShowsTheStructureAsBefore) {
  std::ifstream in(ExamplesFolder() / "Spinel.ovtx");
  std::string text((std::istreambuf_iterator<char>(in)), {});
  text.insert(text.find("\nATOM") + 1, "MODL  3\n"); // the polyhedral model
  const fs::path file = fs::temp_directory_path() / "ovtest-spinel-polyhedra.ovtx";
  std::ofstream(file) << text;
  CrystalRec *c = Open(file);
  ASSERT_NE(c, nullptr);
  ASSERT_EQ(c->modelType, kPolyhedralModel);
  MainWindow *w = GetMainWindow(window);
  QWidget *pane = w->GraphPane();
  QCoreApplication::processEvents();
  const float scale = c->plotScale;
  const QImage before = pane->grab().toImage();
  const QRgb background = before.pixel(2, 2);
  const auto drawn = [&](const QImage &image) {
    int64_t n = 0;
    for (int y = 0; y < image.height(); y++)
      for (int x = 0; x < image.width(); x++)
        n += image.pixel(x, y) != background;
    return n;
  };
  ASSERT_GT(drawn(before), int64_t(before.width()) * before.height() / 10) << "polyhedra fill the picture";

  ASSERT_EQ(ProcessCommand(kCmdPlotScale), kNoErr);
  QDialog *sheet = OpenSheet(w);
  ASSERT_NE(sheet, nullptr);
  Type(sheet, 1, "9999");
  host->log.clear();
  host->checks = 0;
  host->stepPerReading = 200000;
  host->escapeAtCheck = 2;
  ClickOK(sheet);
  host->stepPerReading = 0;
  host->escapeAtCheck = 0;
  QCoreApplication::processEvents();
  EXPECT_GE(host->checks, 2);
  EXPECT_EQ(LinesWith("Drawing cancelled"),
            std::vector<std::string>{"Drawing cancelled: the structure is shown as it was before."});
  c = GetWindowCrystal(window);
  EXPECT_EQ(c->plotScale, scale);
  EXPECT_TRUE(std::any_of(c->atoms.begin(), c->atoms.end(), [](const AtomRecord &a) { return !a.bonds.empty(); }));
  EXPECT_TRUE(pane->grab().toImage() == before) << "the picture is the one before the command";
  EXPECT_FALSE(IsWindowModified(window));
}

} // namespace
