// The arrow, lasso and polygon tools, the annotation objects on the graph and
// the Edit Annotation window, driven by mouse events on plotted examples.
#include "structurewindow/AnnotationEditing.h"
#include "structurewindow/ArrowTool.h"
#include "structurewindow/EditAnnotation.h"
#include "structurewindow/MainWindow.h"
#include "structurewindow/StructureWindow.h"
#include "structurewindow/Tools.h"
#include "structurewindow/WindowInput.h"
#include "shell/Commands.h"
#include "shell/EngineHooks.h"
#include "shell/FileCommands.h"
#include "shell/QtHostServices.h"
#include "shell/ShellDialogs.h"
#include "shell/Forms.h"
#include "shell/ToolCursors.h"
#include "structurewindow/ContextMenus.h"

#include "LocalizedStrings.h"
#include "PlotRange.h"
#include "SpaceGroups.h"
#include "AtomOperations.h"
#include "ViewOrientation.h"
#include "StructureArrays.h"
#include "render/AtomLabels.h"
#include "render/HitTesting.h"
#include "render/OffScreen.h"
#include "render/PlotPipeline.h"
#include "window/MainWindowData.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <array>
#include <deque>
#include <gtest/gtest.h>
#include <memory>
#include <optional>

namespace {

class AnnotationHost : public QtHostServices {
public:
  std::vector<AlertRequest> alerts;
  std::deque<int> answers;
  std::optional<RGBColor> colour;
  int RunAlert(const AlertRequest &alert) override {
    alerts.push_back(alert);
    if (answers.empty())
      return 1;
    const int a = answers.front();
    answers.pop_front();
    return a;
  }
  bool ChooseColour(std::string_view, RGBColor *c) override {
    if (!colour)
      return false;
    *c = *colour;
    return true;
  }
};
AnnotationHost *gAnnotationHost = nullptr;

class ArrowToolTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    if (!gAnnotationHost) {
      gAnnotationHost = new AnnotationHost;
      InstallHostWindowHooks(*gAnnotationHost, [] { return AllGraphWindows(); });
    }
  }
  void SetUp() override {
    previous_ = SetHostServices(gAnnotationHost);
    duplicateHook_ = gWindowInputHooks.duplicateSelectedAtoms;
    gAnnotationHost->alerts.clear();
    gAnnotationHost->answers.clear();
    gAnnotationHost->colour.reset();
    ProcessCommand(FourCharsToLong("ArwT"));
  }
  void TearDown() override {
    ProcessCommand(FourCharsToLong("RotT"));
    gWindowInputHooks.duplicateSelectedAtoms = duplicateHook_;
    for (MainWindow *m : std::vector<MainWindow *>(AllGraphWindows())) {
      ClearWindowModified(m->Ref());
      DoCloseMainWindow(m->Ref());
    }
    QCoreApplication::processEvents();
    SetHostServices(previous_);
  }
  // Opens the example with a graph pane of the size.
  void Open(const char *name, int paneWidth = 600, int paneHeight = 400) {
    ASSERT_TRUE(OpenFSRefInWindow(ExamplesFolder() / name, nullptr));
    QCoreApplication::processEvents();
    w = GetMainWindow(FrontGraphWindow());
    ASSERT_NE(w, nullptr);
    window = w->Ref();
    w->ResizeContent(640, 480);
    w->show();
    QCoreApplication::processEvents();
    // A small window narrows its sidebar too: a few steps reach the size.
    for (int step = 0; step < 4 && w->GraphPane()->size() != QSize(paneWidth, paneHeight); ++step) {
      const QSize pane = w->GraphPane()->size(), content = w->LaidOutSize();
      w->ResizeContent(content.width() + paneWidth - pane.width(), content.height() + paneHeight - pane.height());
      QCoreApplication::processEvents();
    }
    ASSERT_EQ(w->GraphPane()->size(), QSize(paneWidth, paneHeight));
    NewPlot(window, false, false);
    crystal = GetWindowCrystal(window);
  }
  QPoint Origin() const { return w->GraphPane()->geometry().topLeft(); }
  QPoint At(int32_t atom) const { return Origin() + QPoint(crystal->atoms[atom].pixel[0], crystal->atoms[atom].pixel[1]); }
  // Atoms that a press on their own pixel picks.
  std::vector<int32_t> Pickable() const {
    std::vector<int32_t> out;
    for (size_t i = 0; i < crystal->atoms.size(); ++i) {
      const QPoint p = At(int32_t(i));
      int16_t kind = 0;
      int32_t index = -1, radius = 0;
      if (FindClickedObject(window, Point{int16_t(p.y()), int16_t(p.x())}, &kind, &index, &radius) &&
          kind == kHitAtom && index == int32_t(i))
        out.push_back(int32_t(i));
    }
    return out;
  }
  void Send(QWidget *target, QEvent::Type type, QPoint contentPoint, bool held, Qt::KeyboardModifiers mods) {
    const QPointF local = target->mapFrom(w->Content(), contentPoint);
    QMouseEvent e(type, local, target->mapToGlobal(local), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                  held ? Qt::LeftButton : Qt::NoButton, mods);
    QApplication::sendEvent(target, &e);
  }
  void Press(QPoint p, Qt::KeyboardModifiers mods = Qt::NoModifier, bool doubleClick = false) {
    if (!doubleClick)
      gLastClickTicks = 0;
    Send(w->GraphPane(), QEvent::MouseButtonPress, p, true, mods);
  }
  void Drag(QPoint p) { Send(w->GraphPane(), QEvent::MouseMove, p, true, Qt::NoModifier); }
  void Release(QPoint p) { Send(w->GraphPane(), QEvent::MouseButtonRelease, p, false, Qt::NoModifier); }
  void Hover(QPoint p) { Send(w->GraphPane(), QEvent::MouseMove, p, false, Qt::NoModifier); }
  void Key(int key) {
    QKeyEvent e(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(w->GraphPane(), &e);
  }
  std::vector<int32_t> Selected() const {
    std::vector<int32_t> out;
    for (size_t i = 0; i < crystal->atoms.size(); ++i)
      if (crystal->atoms[i].selected)
        out.push_back(int32_t(i));
    return out;
  }
  // A pane point with nothing under it.
  QPoint Empty() const {
    for (int y = 5; y < 400; y += 7)
      for (int x = 5; x < 600; x += 7) {
        const QPoint p = Origin() + QPoint(x, y);
        const Point q{int16_t(p.y()), int16_t(p.x())};
        int16_t kind = 0;
        int32_t index = 0, radius = 0, a = 0, b = 0;
        FindClickedObject(window, q, &kind, &index, &radius);
        if (kind == 0 && !FindClickedBond(window, q, &a, &b))
          return p;
      }
    return Origin();
  }
  TextBoxRecord &Box(int i) { return crystal->textBoxes[size_t(i)]; }
  QRgb ScreenPixel(QPoint contentPoint) {
    ovgfx::PixelBuffer *pixels = w->ScreenPort()->Pixels();
    return pixels->Row32(contentPoint.y())[contentPoint.x()] & 0xFFFFFF;
  }
  QRgb ImagePixel(QPoint panePoint) {
    ovgfx::PixelBuffer *pixels = OffScreenPixels(GetWindowOffScreen(window));
    return pixels->Row32(panePoint.y())[panePoint.x()] & 0xFFFFFF;
  }

  HostServices *previous_ = nullptr;
  void (*duplicateHook_)(WindowRef, float, float, float) = nullptr;
  MainWindow *w = nullptr;
  WindowRef window = nullptr;
  CrystalRec *crystal = nullptr;
};

TEST_F(ArrowToolTest, ANewlySelectedAtomIsNotDraggedUntilTheSecondPressAndShiftDeselects) {
  Open("Benzene.ovtx");
  const int32_t a = Pickable().at(0);
  const QPoint p = At(a);
  const int16_t x0 = crystal->atoms[a].pixel[0], y0 = crystal->atoms[a].pixel[1];
  Press(p);
  Drag(p + QPoint(12, 0));
  Release(p + QPoint(12, 0));
  EXPECT_EQ(Selected(), std::vector<int32_t>{a});
  EXPECT_EQ(crystal->atoms[a].pixel[0], x0) << "the first press only selects";

  Press(p);
  Drag(p + QPoint(12, 0));
  Release(p + QPoint(12, 0));
  EXPECT_NEAR(crystal->atoms[a].pixel[0], x0 + 12, 1);
  EXPECT_NEAR(crystal->atoms[a].pixel[1], y0, 1);
  EXPECT_TRUE(IsWindowModified(window));
  EXPECT_EQ(gTrackBallRotn, 0) << "the fast-plot flag ends with the drag";

  // A move without the button (the release went to an alert) ends the drag.
  const QPoint q = At(a);
  Press(q);
  Hover(q + QPoint(1, 0));
  Drag(q + QPoint(30, 0));
  Release(q + QPoint(30, 0));
  EXPECT_NEAR(crystal->atoms[a].pixel[0], x0 + 12, 1);

  Press(q, Qt::ShiftModifier);
  Drag(q + QPoint(20, 0));
  Release(q + QPoint(20, 0));
  EXPECT_TRUE(Selected().empty());
  EXPECT_NEAR(crystal->atoms[a].pixel[0], x0 + 12, 1) << "a Shift press on a selected atom does not drag";
}

TEST_F(ArrowToolTest, ShiftKeepsTheDragOnTheLongerAxis) {
  Open("Benzene.ovtx");
  AddAnnotationTextbox(window);
  DeselectAllObjects(crystal);
  NewPlot(window, false, false);
  const int32_t a = Pickable().at(0); // not under the box
  Press(At(a));
  Release(At(a));
  auto boxCentre = [&] {
    const Rect &r = Box(0).boxRect;
    return Origin() + QPoint((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  };
  // Shift on an unselected object adds it and drags atoms and object together.
  for (QPoint step : {QPoint(5, 8), QPoint(8, 5)}) {
    const int16_t x0 = crystal->atoms[a].pixel[0], y0 = crystal->atoms[a].pixel[1];
    const float fx = Box(0).boxCentre[0], fy = Box(0).boxCentre[1];
    const QPoint p = boxCentre();
    Press(p, Qt::ShiftModifier);
    ASSERT_TRUE(Box(0).selected);
    Drag(p + step);
    Release(p + step);
    const bool down = step.y() > step.x();
    EXPECT_NEAR(crystal->atoms[a].pixel[0], x0 + (down ? 0 : step.x()), 1);
    EXPECT_NEAR(crystal->atoms[a].pixel[1], y0 + (down ? step.y() : 0), 1);
    EXPECT_FLOAT_EQ(Box(0).boxCentre[0], fx + (down ? 0.0f : step.x() / 600.0f));
    EXPECT_FLOAT_EQ(Box(0).boxCentre[1], fy + (down ? step.y() / 400.0f : 0.0f));
    // A Shift press on the selected object deselects it in place.
    const QPoint c = boxCentre();
    Press(c, Qt::ShiftModifier);
    Release(c);
    EXPECT_FALSE(Box(0).selected);
    EXPECT_FLOAT_EQ(Box(0).boxCentre[0], fx + (down ? 0.0f : step.x() / 600.0f));
  }
}

TEST_F(ArrowToolTest, BondClicksAndOptionDuplicatesACrystalTenPixelsRight) {
  Open("Benzene.ovtx");
  // Two bonded atoms and a point on their bond away from both.
  int32_t bondA = -1, bondB = -1;
  QPoint mid;
  for (size_t i = 0; i < crystal->atoms.size() && bondA < 0; ++i)
    for (size_t j = i + 1; j < crystal->atoms.size() && bondA < 0; ++j) {
      const QPoint p = (At(int32_t(i)) + At(int32_t(j))) / 2;
      int32_t a = 0, b = 0;
      int16_t kind = 0;
      int32_t index = 0, radius = 0;
      FindClickedObject(window, Point{int16_t(p.y()), int16_t(p.x())}, &kind, &index, &radius);
      if (kind == 0 && FindClickedBond(window, Point{int16_t(p.y()), int16_t(p.x())}, &a, &b)) {
        bondA = a;
        bondB = b;
        mid = p;
      }
    }
  ASSERT_GE(bondA, 0);
  Press(mid);
  Release(mid);
  std::vector<int32_t> both{std::min(bondA, bondB), std::max(bondA, bondB)};
  EXPECT_EQ(Selected(), both);
  Press(mid);
  Release(mid);
  EXPECT_EQ(Selected(), both) << "a plain click on a bond of two selected atoms changes nothing";
  Press(mid, Qt::ShiftModifier);
  Release(mid);
  EXPECT_TRUE(Selected().empty());

  static float offset[3];
  static int calls;
  calls = 0;
  gWindowInputHooks.duplicateSelectedAtoms = [](WindowRef, float dx, float dy, float dz) {
    ++calls;
    offset[0] = dx, offset[1] = dy, offset[2] = dz;
  };
  Open("NaCl.ovtx");
  ASSERT_FALSE(CrystalHasP1Symmetry(*crystal));
  const int32_t a = Pickable().at(0);
  Press(At(a));
  Release(At(a));
  Press(At(a), Qt::AltModifier);
  Release(At(a));
  EXPECT_EQ(calls, 1);
  EXPECT_FLOAT_EQ(offset[0], 10.0f / crystal->plotScale);
  EXPECT_EQ(offset[1], 0.0f);
}

TEST_F(ArrowToolTest, ARefusedSymmetryQuestionEndsTheDragAfterOneQuestion) {
  Open("NaCl.ovtx");
  const int32_t a = Pickable().at(0);
  Press(At(a));
  Release(At(a));
  const float before[3] = {crystal->atoms[a].xyz[0], crystal->atoms[a].xyz[1], crystal->atoms[a].xyz[2]};
  gAnnotationHost->answers = {2};
  const QPoint p = At(a);
  Press(p);
  Drag(p + QPoint(10, 0));
  Drag(p + QPoint(20, 0));
  Release(p + QPoint(20, 0));
  EXPECT_EQ(gAnnotationHost->alerts.size(), 1u);
  EXPECT_FALSE(CrystalHasP1Symmetry(*crystal));
  EXPECT_EQ(crystal->atoms[a].xyz[0], before[0]);
  EXPECT_EQ(gTrackBallRotn, 0);
}

TEST_F(ArrowToolTest, RubberBandLassoAndPolygonSelectWhatTheyEnclose) {
  Open("Benzene.ovtx");
  const auto atoms = Pickable();
  ASSERT_GE(atoms.size(), 3u);
  auto emptyAt = [&](QPoint q) {
    const Point pt{int16_t(q.y()), int16_t(q.x())};
    int16_t kind = 0;
    int32_t index = 0, radius = 0, ba = 0, bb = 0;
    FindClickedObject(window, pt, &kind, &index, &radius);
    return kind == 0 && !FindClickedBond(window, pt, &ba, &bb);
  };
  // A small band over empty space catches nothing.
  const QPoint e = Empty();
  Press(e);
  Drag(e + QPoint(3, 3));
  Release(e + QPoint(3, 3));
  EXPECT_EQ(w->Subtitle(), OVLocalizedString("No_Objects_Selected"));
  // A band round the first atom, drawn from an empty corner.
  const QPoint p = At(atoms[0]);
  int d = 0;
  for (int k = 8; k < 40 && !d; k += 2)
    if (emptyAt(p - QPoint(k, k)))
      d = k;
  ASSERT_GT(d, 0);
  const QPoint from = p - QPoint(d, d), to = p + QPoint(d, d);
  std::vector<int32_t> inside;
  for (size_t i = 0; i < crystal->atoms.size(); ++i) {
    const QPoint q = At(int32_t(i));
    if (q.x() >= from.x() && q.x() < to.x() && q.y() >= from.y() && q.y() < to.y() && IsAtomPlotted(crystal, int32_t(i)))
      inside.push_back(int32_t(i));
  }
  ASSERT_FALSE(inside.empty());
  Press(from);
  Drag(to);
  Release(to);
  EXPECT_EQ(Selected(), inside);
  EXPECT_EQ(w->Subtitle(), SelectionSubtitle(int64_t(inside.size()), 0, 0));

  // Lasso with Shift inverts inside; without Shift it clears first.
  ProcessCommand(FourCharsToLong("LasT"));
  const QPoint q = At(atoms[1]);
  auto lasso = [&](QPoint c, Qt::KeyboardModifiers mods) {
    Press(c + QPoint(-4, -4), mods);
    Drag(c + QPoint(4, -4));
    Drag(c + QPoint(4, 4));
    Drag(c + QPoint(-4, 4));
    Release(c + QPoint(-4, 4));
  };
  for (size_t i = 0; i < crystal->atoms.size(); ++i)
    crystal->atoms[i].selected = 0;
  crystal->atoms[atoms[0]].selected = 1;
  lasso(q, Qt::ShiftModifier);
  EXPECT_TRUE(crystal->atoms[atoms[0]].selected) << "Shift keeps the earlier selection";
  EXPECT_TRUE(crystal->atoms[atoms[1]].selected);
  lasso(q, Qt::ShiftModifier);
  EXPECT_FALSE(crystal->atoms[atoms[1]].selected) << "Shift toggles";
  lasso(q, Qt::NoModifier);
  EXPECT_FALSE(crystal->atoms[atoms[0]].selected) << "without Shift the selection is cleared first";
  EXPECT_TRUE(crystal->atoms[atoms[1]].selected);
  // Two points make no region.
  Press(q + QPoint(-6, 0));
  Drag(q + QPoint(6, 0));
  Release(q + QPoint(6, 0));
  EXPECT_TRUE(Selected().empty());

  // Polygon: Escape cancels; a press outside the pane closes with the
  // vertices placed so far.
  ProcessCommand(FourCharsToLong("PolT"));
  const QPoint c = At(atoms[2]);
  Press(c + QPoint(-5, -5));
  Release(c + QPoint(-5, -5));
  Press(c + QPoint(6, -5));
  Release(c + QPoint(6, -5));
  Key(Qt::Key_Escape);
  EXPECT_FALSE(IsPolygonRegionActive(window));
  EXPECT_TRUE(Selected().empty());
  Press(c + QPoint(-5, -5));
  Release(c + QPoint(-5, -5));
  Press(c + QPoint(6, -5));
  Release(c + QPoint(6, -5));
  Press(c + QPoint(6, 6));
  Release(c + QPoint(6, 6));
  Press(c + QPoint(-5, 6));
  Release(c + QPoint(-5, 6));
  ASSERT_TRUE(IsPolygonRegionActive(window));
  Send(w->Ruler(), QEvent::MouseButtonPress, w->Ruler()->geometry().center(), true, Qt::NoModifier);
  EXPECT_FALSE(IsPolygonRegionActive(window));
  EXPECT_TRUE(crystal->atoms[atoms[2]].selected);
}

TEST_F(ArrowToolTest, RegionMaskMatchesAnEvenOddOracleAndSubtitlesCount) {
  // A five-pointed star drawn in one stroke: its centre is outside by the
  // even-odd rule.
  PaneRegion star;
  QPainterPath path;
  path.setFillRule(Qt::OddEvenFill);
  for (int k = 0; k < 5; ++k) {
    const double t = -M_PI / 2 + k * 4 * M_PI / 5;
    const float x = float(50 + 40 * std::cos(t)), y = float(50 + 40 * std::sin(t));
    star.points.push_back(x);
    star.points.push_back(y);
    k == 0 ? path.moveTo(x, y) : path.lineTo(x, y);
  }
  path.closeSubpath();
  const std::vector<uint8_t> mask = RasteriseRegion(star, 100, 100);
  int differ = 0, set = 0;
  for (int y = 0; y < 100; ++y)
    for (int x = 0; x < 100; ++x) {
      const bool in = mask[size_t(y * 100 + x)];
      set += in;
      differ += in != path.contains(QPointF(x + 0.5, y + 0.5));
    }
  EXPECT_EQ(mask[50 * 100 + 50], 0);
  EXPECT_GT(set, 1000);
  EXPECT_LE(differ, 10) << "only pixels whose centre lies on an edge may differ";

  EXPECT_EQ(SelectionSubtitle(1, 2, 0), "1 atom, 2 vectors selected");
  EXPECT_EQ(SelectionSubtitle(0, 0, 3), "3 annotation objects selected");
  EXPECT_EQ(SelectionSubtitle(2, 0, 1), "2 atoms, 1 annotation object selected");
}

TEST_F(ArrowToolTest, AddCommandsPlaceObjectsAroundThePaneCentre) {
  Open("Benzene.ovtx");
  gEditAnnotation.editSize = 12;
  ProcessCommand(kCmdAddAnnotationTextbox);
  ASSERT_EQ(crystal->textBoxCount, 1);
  const Rect &r = Box(0).boxRect;
  EXPECT_EQ((std::array<int, 4>{r.left, r.top, r.right, r.bottom}), (std::array<int, 4>{296, 188, 404, 216}));
  EXPECT_NEAR(Box(0).boxCentre[0], 0.5833, 1e-4);
  EXPECT_NEAR(Box(0).boxCentre[1], 0.505, 1e-4);
  EXPECT_EQ(Box(0).text, u"textbox");
  ProcessCommand(kCmdAddAnnotationLine);
  ProcessCommand(kCmdAddAnnotationScalebar);
  ASSERT_EQ(crystal->textBoxCount, 3);
  EXPECT_FALSE(Box(0).selected);
  EXPECT_FALSE(Box(1).selected) << "each Add deselects the others";
  EXPECT_EQ(Box(1).arrowHeads, 1);
  EXPECT_EQ(Box(2).arrowHeads, 2);
  EXPECT_EQ(Box(2).pixel1.h, 200);
  EXPECT_EQ(Box(2).pixel2.h, 400);
  EXPECT_FLOAT_EQ(Box(2).frac1[1], 0.5f);

  // Selecting moves an object to the end; duplicating two gives four.
  int32_t index = 0;
  SelectTextBox(crystal, &index, true);
  EXPECT_EQ(index, 2);
  EXPECT_EQ(Box(2).kind, kAnnotationTextBox);
  EXPECT_EQ(Box(0).kind, kAnnotationLine);
  EXPECT_EQ(Box(1).kind, kAnnotationScaleBar);
  const float fx = Box(1).boxCentre[0], f1 = Box(1).frac1[0];
  DuplicateSelectedTextBoxes(window, 6, 0);
  ASSERT_EQ(crystal->textBoxCount, 5);
  EXPECT_FALSE(Box(1).selected);
  EXPECT_FALSE(Box(2).selected);
  EXPECT_EQ(Box(3).kind, kAnnotationScaleBar);
  EXPECT_EQ(Box(4).kind, kAnnotationTextBox);
  EXPECT_TRUE(Box(3).selected && Box(4).selected);
  EXPECT_FLOAT_EQ(Box(3).frac1[0], f1 + 6 / 600.0f);
  EXPECT_FLOAT_EQ(Box(1).boxCentre[0], fx);
  // Delete removes the selected ones; with none selected it does nothing.
  Key(Qt::Key_Delete);
  EXPECT_EQ(crystal->textBoxCount, 3);
  EXPECT_FALSE(DeleteSelectedTextBoxes(window));
}

TEST_F(ArrowToolTest, ResizingATextBoxStopsAtItsMinimumSize) {
  Open("Benzene.ovtx");
  gEditAnnotation.editSize = 12;
  AddAnnotationTextbox(window);
  const Rect r = Box(0).boxRect;
  const QPoint corner = Origin() + QPoint(r.left, r.top);
  bool onHandle = false;
  EXPECT_TRUE(MouseOverTextBox(Point{int16_t(corner.y()), int16_t(corner.x())}, window, &onHandle));
  EXPECT_TRUE(onHandle);
  Press(corner);
  for (int d = 10; d <= 200; d += 10)
    Drag(corner + QPoint(d, d));
  Release(corner + QPoint(200, 200));
  const Rect &after = Box(0).boxRect;
  EXPECT_GE(after.Width(), 19);
  EXPECT_GE(after.Height(), 13);
  EXPECT_LT(after.Width(), 19 + 10) << "the last step that fitted was taken";
  EXPECT_LT(after.Height(), 13 + 10);
  EXPECT_NEAR(after.right, r.right, 1) << "the opposite corner stays";
  EXPECT_NEAR(after.bottom, r.bottom, 1);
}

TEST_F(ArrowToolTest, ADraggedTextBoxLeavesTheImageAndReturnsAtRelease) {
  Open("Benzene.ovtx");
  gEditAnnotation.editSize = 12;
  gEditAnnotation.editFill = 1;
  gEditAnnotation.editBackColor = RGBColor{0xFFFF, 0, 0};
  AddAnnotationTextbox(window);
  gEditAnnotation.editFill = 0;
  gEditAnnotation.editBackColor = kRGBWhite;
  const Rect r = Box(0).boxRect;
  const QPoint inside(r.left + 80, r.top + 20); // inside the box, off the text and the handles
  ASSERT_EQ(ImagePixel(inside), 0xFF0000u);
  const QPoint press = Origin() + inside;
  Press(press);
  Drag(press + QPoint(0, 60));
  EXPECT_NE(ImagePixel(inside), 0xFF0000u) << "the image is rebuilt without the dragged box";
  EXPECT_EQ(ScreenPixel(press + QPoint(0, 60)), 0xFF0000u) << "the box is drawn on the pane at its new place";
  EXPECT_NE(ScreenPixel(press), 0xFF0000u);
  Release(press + QPoint(0, 60));
  EXPECT_EQ(ImagePixel(inside + QPoint(0, 60)), 0xFF0000u) << "back in the rebuilt image";
  EXPECT_EQ(Box(0).boxRect.top, r.top + 60);
  EXPECT_TRUE(IsWindowModified(window));
}

TEST_F(ArrowToolTest, ConvertingLabelsMakesTextBoxesOfTheSelectedAtoms) {
  Open("Benzene.ovtx");
  ProcessCommand(kCmdConvertLabelsToTextboxes);
  EXPECT_EQ(crystal->textBoxCount, 0) << "nothing selected, nothing converted";
  crystal->atoms[0].selected = 1;
  crystal->atoms[2].selected = 1;
  crystal->atoms[2].labelled = 1;
  ProcessCommand(kCmdConvertLabelsToTextboxes);
  ASSERT_EQ(crystal->textBoxCount, 2);
  Str255 label;
  ASSERT_TRUE(GetAtomLabel(crystal, 2, label));
  EXPECT_EQ(Box(1).text, QString::fromUtf8(label.view().data(), label.view().size()).toStdU16String());
  EXPECT_EQ(Box(1).frame, 0);
  EXPECT_FALSE(Box(1).selected);
  EXPECT_EQ(crystal->atoms[2].labelled, 0);
}

TEST_F(ArrowToolTest, EditAnnotationWindowLoadsAppliesAndRefusesWhatItShould) {
  Open("Benzene.ovtx");
  DoShowEditAnnotationWindow();
  QWidget *form = EditAnnotationWindow();
  ASSERT_NE(form, nullptr);
  EXPECT_EQ(gEditAnnotation.editKind, 0);
  EXPECT_TRUE(FindControl(form, 3)->isHidden()) << "Empty Selection hides the apply button";

  // Apply without a selection: the alert, and no change reported.
  ClearWindowModified(window);
  DoEditAnnotationApplyButton();
  ASSERT_EQ(gAnnotationHost->alerts.size(), 1u);
  EXPECT_EQ(gAnnotationHost->alerts[0].message, "Please select a textbox to edit");
  EXPECT_FALSE(IsWindowModified(window));

  gEditAnnotation.editPointer = 0;
  gEditAnnotation.editSize = 12;
  ProcessCommand(kCmdAddAnnotationTextbox); // the window follows the new selection by itself
  EXPECT_EQ(gEditAnnotation.editKind, 1);
  EXPECT_FALSE(FindControl(form, 3)->isHidden());
  EXPECT_EQ(FindControl<QPlainTextEdit>(form, 114)->toPlainText(), "textbox");

  // A size of 300 typed into the field is not taken on its way ("30").
  auto *size = FindControl<QLineEdit>(form, 108);
  size->selectAll();
  for (int key : {Qt::Key_3, Qt::Key_0, Qt::Key_0}) {
    QKeyEvent e(QEvent::KeyPress, key, Qt::NoModifier, QString(QChar('0' + (key - Qt::Key_0))));
    QApplication::sendEvent(size, &e);
  }
  EXPECT_EQ(size->text(), "300");
  EXPECT_EQ(gEditAnnotation.editSize, 12) << "nothing is taken on the way";

  // Pointer on, anchor 9, arrowheads: the tip 20 right of and below the
  // box's bottom-right corner, one arrowhead, the size of 300 ignored.
  size->setText("12");
  FindControl<QCheckBox>(form, 115)->click();
  FindControl<QComboBox>(form, 117)->setCurrentIndex(8);
  EditAnnotationCommand(FourCharsToLong("mAnc"));
  FindControl<QCheckBox>(form, 118)->click();
  const Rect before = Box(0).boxRect;
  DoEditAnnotationApplyButton();
  TextBoxRecord &box = Box(0);
  EXPECT_EQ(box.hasPointer, 1);
  EXPECT_EQ(box.arrowHeads, 1);
  EXPECT_EQ(box.fontSize, 12);
  // The box keeps its top and width and takes the text's height.
  EXPECT_EQ(box.pixel1.h, before.right + 20);
  EXPECT_EQ(box.pixel1.v, before.top + box.boxRect.Height() + 20);
  EXPECT_LT(box.boxRect.Height(), before.Height());
  EXPECT_TRUE(IsWindowModified(window));

  // Two ends: the second point opposite the tip through the box's centre,
  // so the box, now midway, stays where it was.
  const float cx = box.boxCentre[0], cy = box.boxCentre[1];
  UpdateEditAnnotationWindow();
  FindControl<QComboBox>(form, 116)->setCurrentIndex(1);
  EditAnnotationCommand(FourCharsToLong("linT"));
  DoEditAnnotationApplyButton();
  EXPECT_EQ(box.pointerTwoEnds, 1);
  EXPECT_NEAR(box.boxCentre[0], cx, 1.5 / 600);
  EXPECT_NEAR(box.boxCentre[1], cy, 1.5 / 400);

  // A line selected while the window still shows the text box's state keeps
  // its kind; the window takes the line's state.
  ProcessCommand(kCmdAddAnnotationLine);
  gEditAnnotation.editKind = 1;
  ApplyEditAnnotation();
  EXPECT_EQ(Box(1).kind, kAnnotationLine);
  EXPECT_EQ(gEditAnnotation.editKind, 2);

  // Colours come from the host's picker.
  gAnnotationHost->colour = RGBColor{0, 0xFFFF, 0};
  FindControl<QPushButton>(form, 202)->click();
  EXPECT_EQ(gEditAnnotation.editTextColor, (RGBColor{0, 0xFFFF, 0}));
  DoEditAnnotationApplyButton();
  EXPECT_EQ(Box(1).textColor, (RGBColor{0, 0xFFFF, 0}));
  form->hide();
}

TEST_F(ArrowToolTest, WindowOptionsSizeArrowsStayWithinFiveTo256) {
  std::unique_ptr<QDialog> dialog(CreateWindowOptionsDialog(nullptr, "DejaVu Sans", 255));
  auto *size = FindControl<QLineEdit>(dialog.get(), 2);
  auto *arrows = FindControl<QSpinBox>(dialog.get(), 3);
  arrows->stepUp();
  arrows->stepUp();
  arrows->stepUp();
  EXPECT_EQ(size->text(), "256");
  size->setText("6");
  arrows->stepDown();
  arrows->stepDown();
  EXPECT_EQ(size->text(), "5");
  std::string family = "x";
  int points = 0;
  EXPECT_TRUE(ReadWindowOptionsDialog(dialog.get(), family, points));
  EXPECT_EQ(points, 5);
  EXPECT_FALSE(family.empty());
}

} // namespace

namespace {

TEST_F(ArrowToolTest, ToolsShowTheirOwnCursorsAndTheGraphPaneItsMenu) {
  Open("Benzene.ovtx");
  const QImage lasso = ToolCursor(kLassoCursor).pixmap().toImage();
  const QImage polygon = ToolCursor(kPolygonCursor).pixmap().toImage();
  ASSERT_FALSE(lasso.isNull());
  EXPECT_NE(lasso, polygon);
  int opaque = 0;
  for (int y = 0; y < lasso.height(); ++y)
    for (int x = 0; x < lasso.width(); ++x)
      opaque += qAlpha(lasso.pixel(x, y)) > 128;
  EXPECT_GT(opaque, 20);
  ProcessCommand(FourCharsToLong("LasT"));
  Hover(Origin() + QPoint(300, 200));
  ASSERT_NE(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QApplication::overrideCursor()->pixmap().toImage(), lasso);
  SetCocoaCursor(kArrowCursor);

  ASSERT_NE(gGraphWinMenu, nullptr);
  const QPointF local(300, 200);
  QMouseEvent e(QEvent::MouseButtonPress, local, w->GraphPane()->mapToGlobal(local), Qt::RightButton, Qt::RightButton,
                Qt::NoModifier);
  QApplication::sendEvent(w->GraphPane(), &e);
  EXPECT_TRUE(gGraphWinMenu->isVisible());
  QList<uint32_t> codes;
  for (QAction *a : gGraphWinMenu->actions())
    codes << GetActionCommand(a);
  EXPECT_TRUE(codes.contains(kCmdAddAnnotationTextbox));
  gGraphWinMenu->hide();
}

} // namespace

namespace {

TEST_F(ArrowToolTest, TheBandMovesABoxAndAScaleBarTakesOnlySizesUpTo255) {
  Open("Benzene.ovtx");
  gEditAnnotation.editSize = 12;
  AddAnnotationTextbox(window);
  const Rect r = Box(0).boxRect;
  const QPoint band = Origin() + QPoint(r.left + 20, r.top - 2);
  int16_t kind = 0;
  int32_t index = 0, radius = 0;
  FindClickedObject(window, Point{int16_t(band.y()), int16_t(band.x())}, &kind, &index, &radius);
  ASSERT_EQ(kind, kHitAnnotationBand);
  const float x = Box(0).boxCentre[0], y = Box(0).boxCentre[1];
  Press(band);
  Drag(band + QPoint(10, 4));
  Release(band + QPoint(10, 4));
  EXPECT_FLOAT_EQ(Box(0).boxCentre[0], x + 10 / 600.0f);
  EXPECT_FLOAT_EQ(Box(0).boxCentre[1], y + 4 / 400.0f);

  AddAnnotationScalebar(window);
  DoShowEditAnnotationWindow();
  ASSERT_EQ(gEditAnnotation.editKind, 3);
  auto *size = FindControl<QLineEdit>(EditAnnotationWindow(), 305);
  size->setText("300");
  DoEditAnnotationApplyButton();
  EXPECT_EQ(Box(1).fontSize, 12) << "a size the record cannot hold is ignored";
  size->setText("40");
  DoEditAnnotationApplyButton();
  EXPECT_EQ(Box(1).fontSize, 40);
  EditAnnotationWindow()->hide();
}

} // namespace

namespace {

TEST_F(ArrowToolTest, ABandRoundAnAtomAndTwoVectorTipsSaysSo) {
  Open("Benzene.ovtx");
  const int32_t a = Pickable().at(0);
  // Two vectors of the atom, their tips a little way off it.
  crystal->atoms[a].hasVector = 1;
  const float components[2][3] = {{0.06f, 0.0f, 0.0f}, {0.0f, 0.06f, 0.0f}};
  for (const float *uvw : components) {
    VectorRecord v;
    v.atom = uint32_t(a);
    std::copy(uvw, uvw + 3, v.uvw);
    crystal->vectors.push_back(v);
  }
  crystal->vectorCount = 2;
  NewPlot(window, false, false);
  QRect around(At(a), QSize(1, 1));
  for (const VectorRecord &v : crystal->vectors)
    around |= QRect(Origin() + QPoint(v.tipPixel[0], v.tipPixel[1]), QSize(1, 1));
  around.adjust(-2, -2, 2, 2);
  std::vector<int32_t> atomsInside;
  for (size_t i = 0; i < crystal->atoms.size(); ++i)
    if (around.contains(At(int32_t(i))))
      atomsInside.push_back(int32_t(i));
  ASSERT_EQ(atomsInside, std::vector<int32_t>{a}) << "the tips stay clear of the other atoms";
  // Drawn as a polygon so that the press may land on anything.
  ProcessCommand(FourCharsToLong("PolT"));
  for (QPoint corner : {around.topLeft(), around.topRight() + QPoint(1, 0), around.bottomRight() + QPoint(1, 1),
                        around.bottomLeft() + QPoint(0, 1)}) {
    Press(corner);
    Release(corner);
  }
  Press(around.topLeft());
  Release(around.topLeft());
  EXPECT_EQ(w->Subtitle(), "1 atom, 2 vectors selected");
  EXPECT_TRUE(crystal->vectors[0].selected && crystal->vectors[1].selected);
}

} // namespace

namespace {

TEST_F(ArrowToolTest, ADoubleClickOnAnObjectOpensTheEditAnnotationWindowOnIt) {
  Open("Benzene.ovtx");
  AddAnnotationLine(window);
  AddAnnotationTextbox(window);
  DeselectAllObjects(crystal);
  NewPlot(window, false, false);
  // The line's middle lies under the box: a point on the line left of it.
  const QPoint onLine = Origin() + QPoint(Box(0).pixel1.h + 10, Box(0).pixel1.v);
  Press(onLine);
  Release(onLine);
  Press(onLine, Qt::NoModifier, true);
  Release(onLine);
  ASSERT_NE(EditAnnotationWindow(), nullptr);
  EXPECT_TRUE(EditAnnotationWindow()->isVisible());
  EXPECT_EQ(gEditAnnotation.editKind, 2);
  EXPECT_EQ(Box(1).kind, kAnnotationLine) << "the double-clicked object goes on top";
  EXPECT_TRUE(Box(1).selected);
  EXPECT_FALSE(Box(0).selected);
  EditAnnotationWindow()->hide();
}

} // namespace
