// The measuring tools driven through the tool table by mouse events on the
// graph pane of a plotted molecule.
#include "structurewindow/InfoTool.h"
#include "structurewindow/MainWindow.h"
#include "structurewindow/MeasureTools.h"
#include "structurewindow/StructureWindow.h"
#include "structurewindow/Tools.h"
#include "shell/FileCommands.h"
#include "shell/LogStore.h"

#include "render/Highlights.h"
#include "render/HitTesting.h"
#include "LocalizedStrings.h"
#include "Preferences.h"
#include "ViewOrientation.h"
#include "documents/CrystalDocument.h"
#include "window/MainWindowData.h"

#include "ProgramEnvironment.h"

#include "graphics/QtBridge.h"
#include <QApplication>
#include <QFontMetricsF>
#include <QTransform>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QTest>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <gtest/gtest.h>
#include "shell/Commands.h"
#include <vector>

namespace {

using Vec = std::array<double, 3>;
Vec Sub(Vec a, Vec b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
double Dot(Vec a, Vec b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
Vec Cross(Vec a, Vec b) { return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]}; }
double Norm(Vec a) { return std::sqrt(Dot(a, a)); }

std::string Fmt(const char *format, double v) {
  char b[64];
  std::snprintf(b, sizeof b, format, v);
  return b;
}

class MeasureToolsTest : public ::testing::Test {
protected:
  void SetUp() override { Open(ExamplesFolder() / "Benzene.ovtx"); }
  // Opens the file plotted in a shown 640 x 480 window and notes the atoms
  // whose own pixel hits them, so that a mouse event there picks them.
  void Open(const std::filesystem::path &file) {
    ASSERT_TRUE(OpenFSRefInWindow(file, nullptr));
    QCoreApplication::processEvents();
    w = GetMainWindow(FrontGraphWindow());
    ASSERT_NE(w, nullptr);
    window = w->Ref();
    w->ResizeContent(640, 480);
    w->show();
    QCoreApplication::processEvents();
    crystal = GetWindowCrystal(window);
    gNumSelAtoms = 0;
    SetWindowMeasurementToolLocked(window, false);
    pickable.clear();
    const QPoint origin = w->GraphPane()->geometry().topLeft();
    for (size_t i = 0; i < crystal->atoms.size(); ++i) {
      const QPoint p = origin + QPoint(crystal->atoms[i].pixel[0], crystal->atoms[i].pixel[1]);
      int16_t kind = 0;
      int32_t index = -1, radius = 0;
      if (FindClickedObject(window, Point{int16_t(p.y()), int16_t(p.x())}, &kind, &index, &radius) &&
          kind == kHitAtom && index == int32_t(i))
        pickable.push_back(int32_t(i));
    }
  }
  void TearDown() override {
    ProcessCommand(FourCharsToLong("RotT"));
    ClearWindowModified(window);
    DoCloseMainWindow(window);
    QCoreApplication::processEvents();
  }
  QPoint At(int32_t atom) const {
    return w->GraphPane()->geometry().topLeft() + QPoint(crystal->atoms[atom].pixel[0], crystal->atoms[atom].pixel[1]);
  }
  void Send(QEvent::Type type, QPoint contentPoint, bool held) {
    QWidget *pane = w->GraphPane();
    const QPointF local = pane->mapFrom(w->Content(), contentPoint);
    QMouseEvent e(type, local, pane->mapToGlobal(local), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                  held ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(pane, &e);
  }
  void Hover(QPoint p) { Send(QEvent::MouseMove, p, false); }
  void Click(QPoint p) {
    Send(QEvent::MouseButtonPress, p, true);
    Send(QEvent::MouseButtonRelease, p, false);
  }
  Vec Cart(int32_t atom) const {
    const float *c = crystal->atoms[atom].cart;
    return {c[0], c[1], c[2]};
  }
  double AngleAt(int32_t a, int32_t b, int32_t c) const {
    const Vec u = Sub(Cart(a), Cart(b)), v = Sub(Cart(c), Cart(b));
    return std::acos(Dot(u, v) / (Norm(u) * Norm(v))) * 180.0 / M_PI;
  }
  std::string Label(int32_t atom) const { return crystal->sites[crystal->atoms[atom].site].label; }
  QString Log() const { return GetLogStore()->PlainText(); }

  MainWindow *w = nullptr;
  WindowRef window = nullptr;
  CrystalRec *crystal = nullptr;
  std::vector<int32_t> pickable;
};

TEST_F(MeasureToolsTest, BondDistanceFollowsTheMouseThenLogsAndHoldsTheResult) {
  ASSERT_GE(pickable.size(), 2u);
  const int32_t a = pickable[0], b = pickable[1];
  ProcessCommand(FourCharsToLong("BnDT"));
  Hover(At(a));
  EXPECT_EQ(gSelAtom1, a);
  EXPECT_EQ(gNumSelAtoms, 0);
  EXPECT_EQ(w->Subtitle(), OVLocalizedString("Bond_Distance_Click_1"));
  Hover(At(b));
  EXPECT_EQ(gSelAtom1, b) << "the single highlight moves to the atom under the mouse";

  // A count the bond-angle tool left behind does not stall this tool.
  gNumSelAtoms = 2;
  Click(At(a));
  EXPECT_EQ(gNumSelAtoms, 1);
  EXPECT_EQ(gSelAtom1, a);
  Hover(At(b));
  EXPECT_EQ(gSelAtom2, b);
  EXPECT_EQ(w->Subtitle(), OVLocalizedString("Bond_Distance_Click_2"));
  const int before = Log().size();
  Click(At(b));
  EXPECT_EQ(gNumSelAtoms, 0);
  EXPECT_TRUE(IsWindowMeasurementToolLocked(window));
  EXPECT_EQ(w->Subtitle(), OVLocalizedString("Bond_Distance_Click_3"));
  const QString added = Log().mid(before);
  EXPECT_TRUE(added.contains(QString::fromStdString(Label(a) + " -> " + Label(b) + ":")));
  const double d = Norm(Sub(Cart(b), Cart(a)));
  EXPECT_TRUE(added.contains(QString::fromStdString("     distance: " + Fmt("%.5f", d) + " Å along vector:")))
      << added.toStdString();

  // Locked: moving the mouse leaves the result alone.
  Hover(At(a));
  EXPECT_EQ(gSelAtom2, b);
  EXPECT_EQ(w->Subtitle(), OVLocalizedString("Bond_Distance_Click_3"));
}

TEST_F(MeasureToolsTest, FourthClickOnTheSecondAtomLogsTheBondAngleOnceAndNoTorsion) {
  ASSERT_GE(pickable.size(), 3u);
  const int32_t a = pickable[0], b = pickable[1], c = pickable[2];
  ProcessCommand(FourCharsToLong("BAnT"));
  const int before = Log().size();
  Click(At(a));
  Click(At(b));
  Click(At(c));
  EXPECT_EQ(gNumSelAtoms, 3);
  Click(At(b));
  EXPECT_EQ(gNumSelAtoms, 0);
  EXPECT_TRUE(IsWindowMeasurementToolLocked(window));
  const QString added = Log().mid(before);
  const QString line = QString::fromStdString(Label(a) + " -- " + Label(b) + " -- " + Label(c) + " bond angle = " +
                                              Fmt("%.3f", AngleAt(a, b, c)) + "°");
  EXPECT_EQ(added.count(line), 1) << added.toStdString();
  EXPECT_FALSE(added.contains("torsion"));
}

TEST_F(MeasureToolsTest, HoveringAFourthAtomLogsItsTorsion) {
  ASSERT_GE(pickable.size(), 4u);
  // Four atoms that are not colinear in any three.
  std::vector<int32_t> p;
  for (int32_t i : pickable) {
    p.push_back(i);
    if (p.size() >= 3 && std::fabs(std::sin(AngleAt(p[p.size() - 3], p[p.size() - 2], p.back()) * M_PI / 180)) < 1e-3)
      p.pop_back();
    if (p.size() == 4)
      break;
  }
  ASSERT_EQ(p.size(), 4u);
  ProcessCommand(FourCharsToLong("BAnT"));
  Click(At(p[0]));
  Click(At(p[1]));
  Click(At(p[2]));
  // Lift the fourth atom out of the ring's plane so the torsion has a sign.
  crystal->atoms[p[3]].cart[2] += 0.7f;
  const int before = Log().size();
  Hover(At(p[3]));
  EXPECT_EQ(gSelAtom4, p[3]);
  EXPECT_EQ(gNumSelAtoms, 3) << "a hover fixes nothing";
  const Vec b1 = Sub(Cart(p[1]), Cart(p[0])), b2 = Sub(Cart(p[2]), Cart(p[1])), b3 = Sub(Cart(p[3]), Cart(p[2]));
  const Vec n1 = Cross(b1, b2), n2 = Cross(b2, b3);
  const double torsion = std::atan2(Norm(b2) * Dot(b1, n2), Dot(n1, n2)) * 180.0 / M_PI;
  const QString added = Log().mid(before);
  const std::string head = Label(p[0]) + " -- " + Label(p[1]) + " -- " + Label(p[2]) + " -- " + Label(p[3]) +
                           " torsion angle = ";
  const int at = added.indexOf(QString::fromStdString(head));
  ASSERT_GE(at, 0) << added.toStdString();
  const double logged = added.mid(at + int(QString::fromStdString(head).size())).section("°", 0, 0).toDouble();
  EXPECT_NEAR(std::fabs(logged), std::fabs(torsion), 2e-3);
  ASSERT_GT(std::fabs(torsion), 1.0);
  ASSERT_LT(std::fabs(torsion), 179.0);
  EXPECT_EQ(logged > 0, torsion > 0) << "sign follows the right-hand rule about 2 -> 3";
  EXPECT_TRUE(added.contains(QString::fromStdString("    (" + Label(p[0]) + " -- " + Label(p[1]) + " -- " +
                                                    Label(p[2]) + " bond angle = " +
                                                    Fmt("%.3f", AngleAt(p[0], p[1], p[2])) + "°)")));
  // Clicking the atom the mouse rests on fixes that torsion: it is in the
  // Log once.
  Click(At(p[3]));
  EXPECT_TRUE(IsWindowMeasurementToolLocked(window));
  EXPECT_EQ(Log().mid(before).count(QString::fromStdString(head)), 1);
}

TEST_F(MeasureToolsTest, ChoosingAnotherToolEndsTheMeasurementItsLockAndItsPicks) {
  ASSERT_GE(pickable.size(), 2u);
  const int32_t a = pickable[0], b = pickable[1];
  ProcessCommand(FourCharsToLong("BnDT"));
  Click(At(a));
  Click(At(b));
  ASSERT_TRUE(IsWindowMeasurementToolLocked(window));
  ProcessCommand(FourCharsToLong("ArwT"));
  EXPECT_FALSE(IsWindowMeasurementToolLocked(window));
  EXPECT_EQ(w->Subtitle(), "") << "the tool's prompt goes with it";
  gInfoAtomNum = kNoInfoAtom;
  Hover(At(a));
  EXPECT_EQ(gInfoAtomNum, a) << "the arrow's hover works at once";

  // One atom picked for a distance is no first atom of a bond.
  auto bonded = [&] {
    const AtomRecord &r = crystal->atoms[size_t(a)];
    return std::find(r.bonds.begin(), r.bonds.begin() + r.bondCount, uint32_t(b)) != r.bonds.begin() + r.bondCount;
  };
  const bool before = bonded();
  ProcessCommand(FourCharsToLong("BnDT"));
  Click(At(a));
  ASSERT_EQ(gNumSelAtoms, 1);
  ProcessCommand(FourCharsToLong("B+-T"));
  Click(At(b));
  EXPECT_EQ(bonded(), before);
  EXPECT_EQ(gNumSelAtoms, 1) << "the click picked the bond's first atom";
}

// What a label of the overlay covers, as the pane paints it.
QRectF LabelBox(const HiliteItem &item) {
  const QFontMetricsF m(ovgfx::MakeFont(item.font, item.size, 0), ovgfx::MeasureDevice());
  const qreal width = m.horizontalAdvance(QString::fromStdString(item.text));
  const qreal x0 = item.alignment == kAlignCentre ? -width / 2 : item.alignment == kAlignRight ? -width : 0;
  QTransform t;
  t.translate(item.x, item.y);
  t.rotateRadians(item.angle);
  return t.mapRect(QRectF(x0, -item.baselineOffset - m.ascent(), width, m.ascent() + m.descent()));
}

TEST_F(MeasureToolsTest, TheTorsionLabelLeavesTheMiddleBondsLengthReadable) {
  // C2-C1-C4-C5 of the benzene ring: the outer atoms lie opposite each other
  // about the ring's centre, where the C1-C4 length is written.
  auto atom = [&](const char *label) {
    for (int32_t i : pickable)
      if (Label(i) == label)
        return i;
    return int32_t(-1);
  };
  const int32_t c2 = atom("C2"), c1 = atom("C1"), c4 = atom("C4"), c5 = atom("C5");
  ASSERT_TRUE(c2 >= 0 && c1 >= 0 && c4 >= 0 && c5 >= 0);
  ProcessCommand(FourCharsToLong("BAnT"));
  Click(At(c2));
  Click(At(c1));
  Click(At(c4));
  Hover(At(c5));
  std::vector<QRectF> others;
  QRectF torsion;
  for (const HiliteItem &item : GetHiliteOverlay(window))
    if (item.kind == HiliteItem::kText)
      (QString::fromStdString(item.text).startsWith(QChar(0x03B3)) ? torsion : others.emplace_back()) = LabelBox(item);
  ASSERT_FALSE(torsion.isEmpty());
  ASSERT_FALSE(others.empty());
  for (const QRectF &other : others)
    EXPECT_FALSE(torsion.intersects(other));
}

TEST_F(MeasureToolsTest, FreeDistanceLogsAngstromsAndEscapeAbandonsAFreeAngle) {
  ProcessCommand(FourCharsToLong("DstT"));
  const QPoint start = w->GraphPane()->geometry().topLeft() + QPoint(100, 100);
  Click(start);
  EXPECT_TRUE(IsFreeMeasurementActive(window));
  Hover(start + QPoint(60, 80));
  const int before = Log().size();
  Click(start + QPoint(60, 80));
  EXPECT_FALSE(IsFreeMeasurementActive(window));
  EXPECT_TRUE(Log().mid(before).contains(QString::fromStdString("Distance = " + Fmt("%.4f", 100.0 / crystal->plotScale) + " Å")))
      << Log().mid(before).toStdString();

  ProcessCommand(FourCharsToLong("AngT"));
  const int beforeAngle = Log().size();
  Click(start);
  Click(start + QPoint(50, 0));
  Hover(start + QPoint(50, 50));
  QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(w->GraphPane(), &escape);
  EXPECT_FALSE(IsFreeMeasurementActive(window));
  EXPECT_EQ(Log().size(), beforeAngle);

  // Three points make a right angle.
  ProcessCommand(FourCharsToLong("AngT"));
  const int beforeRight = Log().size();
  Click(start);
  Click(start + QPoint(50, 0));
  Hover(start + QPoint(50, 50));
  Click(start + QPoint(50, 50));
  EXPECT_TRUE(Log().mid(beforeRight).contains("Angle = 90.000°")) << Log().mid(beforeRight).toStdString();
}

TEST_F(MeasureToolsTest, OccupancyTextListsSharedSitesAndStopsAtAFullOne) {
  CrystalRec c;
  c.sites.resize(2);
  c.sites[0].elements[0] = ('F' << 8) | 'e';
  c.sites[0].elements[1] = ('M' << 8) | 'g';
  c.sites[0].occupancies[0] = 0.5f;
  c.sites[0].occupancies[1] = 0.5f;
  c.sites[1].elements[0] = ('F' << 8) | 'e';
  c.sites[1].elements[1] = ('M' << 8) | 'g';
  c.sites[1].occupancies[0] = 1.0f;
  c.sites[1].occupancies[1] = 0.25f;
  EXPECT_EQ(GetOccupancyCharsForSite(&c, 0), "Fe 0.5 Mg 0.5");
  EXPECT_EQ(GetOccupancyCharsForSite(&c, 1), "Fe");
  EXPECT_EQ(GetOccupancyCharsForSite(&c, 2), "");
}

TEST_F(MeasureToolsTest, ArrowHoverIdentifiesAnAtomAndTheAngleTableListsEveryPair) {
  ASSERT_FALSE(pickable.empty());
  int32_t centre = -1;
  for (int32_t i : pickable)
    if (crystal->atoms[i].bonds.size() >= 2)
      centre = i;
  ASSERT_GE(centre, 0);
  ProcessCommand(FourCharsToLong("ArwT"));
  gInfoAtomNum = kNoInfoAtom;
  Hover(At(centre));
  EXPECT_EQ(gInfoAtomNum, centre);

  // A bonds entry a deletion left behind is skipped, not followed.
  crystal->atoms[centre].bonds.push_back(uint32_t(crystal->atoms.size() + 7));
  const BondList &bonds = crystal->atoms[centre].bonds;
  const size_t n = bonds.size() - 1;
  const int before = Log().size();
  FWriteAngleInfo(window, centre);
  FWriteBondInfo(window, centre);
  const QString added = Log().mid(before);
  crystal->atoms[centre].bonds.pop_back();
  const int32_t a = int32_t(bonds[0]), c = int32_t(bonds[1]);
  const QString row = QString::asprintf(" %-6s  %-6s  %-6s    %8.4f   %8.4f   ", Label(a).c_str(),
                                        Label(centre).c_str(), Label(c).c_str(), AngleAt(a, centre, c),
                                        Norm(Sub(Cart(a), Cart(centre))));
  EXPECT_TRUE(added.contains(row)) << added.toStdString();
  // Rows between the header's rule and the closing rule, blank separators aside.
  const QStringList lines = added.split(QRegularExpression("[\r\n]"));
  int header = -1;
  for (int i = 0; i < lines.size(); ++i)
    if (lines[i].startsWith(" A       B       C"))
      header = i;
  ASSERT_GE(header, 0);
  int rows = 0, blanks = 0;
  for (int i = header + 2; i < lines.size() && !lines[i].startsWith("---"); ++i)
    (lines[i].trimmed().isEmpty() ? blanks : rows) += 1;
  EXPECT_EQ(blanks, int(n) - 2);
  EXPECT_EQ(rows, int(n * (n - 1) / 2));
  EXPECT_TRUE(added.contains("Table of coordinates and bond distances around"));
}

} // namespace

#include "structurewindow/InfoTip.h"

namespace {

TEST_F(MeasureToolsTest, InfoTipTextPlacementAndToggles) {
  ASSERT_FALSE(pickable.empty());
  const int32_t atom = pickable[0];
  gShowCoordinatesInTitle = false;
  gSaveShowExtended = false;
  const QString label = QString::fromStdString(Label(atom));
  const QString plain = InfoPlainTextForAtom(crystal, atom, true);
  EXPECT_TRUE(plain.startsWith(label + " (")) << plain.toStdString();
  EXPECT_TRUE(plain.contains(QString("№ %1").arg(atom + 1)));
  const float *p = crystal->atoms[atom].cart; // a molecule shows Cartesian coordinates
  EXPECT_TRUE(plain.contains(QString::asprintf("\tOrth xyz:\t(%.3f, %.3f, %.3f Å)", p[0], p[1], p[2])))
      << plain.toStdString();
  EXPECT_TRUE(plain.contains("\tBonds:\t"));

  InfoTipWidget *tip = CreateInfoTipOverlay(window, atom);
  ASSERT_NE(tip, nullptr);
  EXPECT_EQ(GetWindowInfoTip(window), tip);
  const uint32_t placement = tip->Rec().placement;
  EXPECT_GE(placement, 1u);
  EXPECT_LE(placement, 6u);
  // The pointer's tip sits at the atom, 8 pixels inside the widget edge.
  const QRect g = tip->geometry();
  const QPoint atomAt = At(atom);
  if (placement >= 4)
    EXPECT_GE(g.top() + 8, atomAt.y());
  else
    EXPECT_LE(g.bottom() - 8, atomAt.y());
  EXPECT_FALSE(tip->Rec().siteButton->isVisible());

  // A click on the bubble opens the table, and the next tip opens the same way.
  QMouseEvent press(QEvent::MouseButtonPress, QPointF(g.width() / 2.0, g.height() / 2.0), QPointF(), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(tip, &press);
  EXPECT_TRUE(tip->Rec().showExtended);
  EXPECT_TRUE(gSaveShowExtended);
  EXPECT_TRUE(tip->Rec().siteButton->isVisible());
  EXPECT_GE(tip->width(), 166 + 16);
  const int before = Log().size();
  tip->Rec().siteButton->click();
  EXPECT_TRUE(Log().mid(before).contains(QString("Information for highlighted atom \"%1\"").arg(label)));

  ToggleInfoWindowTitle(window);
  InfoTipWidget *again = GetWindowInfoTip(window);
  ASSERT_NE(again, nullptr);
  EXPECT_TRUE(again->Rec().showExtended);
  EXPECT_TRUE(gShowCoordinatesInTitle);
  gShowCoordinatesInTitle = false;
  gSaveShowExtended = false;
  // The Delete key may remove atoms: the tip goes with them.
  QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
  QApplication::sendEvent(w->GraphPane(), &del);
  EXPECT_EQ(GetWindowInfoTip(window), nullptr);
  EXPECT_EQ(gInfoAtomNum, kNoInfoAtom);
}

TEST_F(MeasureToolsTest, ShiftAltFlipsTheTipTitleAndActivationReshowsAHiddenTip) {
  ASSERT_FALSE(pickable.empty());
  gShowCoordinatesInTitle = false;
  ProcessCommand(FourCharsToLong("RotT")); // the pointer is not on the atom: keep the arrow's hover away
  ASSERT_NE(CreateInfoTipOverlay(window, pickable[0]), nullptr);
  // As the platform sends them: each modifier key with the state before it.
  QKeyEvent shift(QEvent::KeyPress, Qt::Key_Shift, Qt::NoModifier);
  QApplication::sendEvent(w->GraphPane(), &shift);
  EXPECT_FALSE(gShowCoordinatesInTitle) << "Shift alone changes nothing";
  QKeyEvent alt(QEvent::KeyPress, Qt::Key_Alt, Qt::ShiftModifier);
  QApplication::sendEvent(w->GraphPane(), &alt);
  EXPECT_TRUE(gShowCoordinatesInTitle);
  InfoTipWidget *tip = GetWindowInfoTip(window);
  ASSERT_NE(tip, nullptr);
  EXPECT_TRUE(InfoPlainTextForAtom(crystal, pickable[0], false).contains(" Å)")) << "coordinates in the title";
  gShowCoordinatesInTitle = false;

  tip->hide();
  RequestShowInfoTipForWindow(window);
  EXPECT_FALSE(tip->isVisible()) << "not at once";
  QTest::qWait(150);
  EXPECT_TRUE(tip->isVisible());
  DestroyInfoTipOverlay(window);
}

TEST_F(MeasureToolsTest, HighlightsAndTheBubbleShowWhereTheyBelong) {
  ASSERT_GE(pickable.size(), 2u);
  const int32_t a = pickable[0], b = pickable[1];
  auto pane = [this] { return w->GraphPane()->grab().toImage().convertToFormat(QImage::Format_ARGB32); };
  auto pixel = [this](int32_t atom) { return QPoint(crystal->atoms[atom].pixel[0], crystal->atoms[atom].pixel[1]); };
  auto changed = [](const QImage &x, const QImage &y, QPoint p) {
    const QRgb u = x.pixel(p), v = y.pixel(p);
    return std::abs(qRed(u) - qRed(v)) + std::abs(qGreen(u) - qGreen(v)) + std::abs(qBlue(u) - qBlue(v)) > 60;
  };
  ProcessCommand(FourCharsToLong("BnDT"));
  gNumSelAtoms = 0;
  const QImage plain = pane();
  // The same pair measured a second time is drawn again as the mouse comes to it.
  Click(At(a));
  Click(At(b));
  Click(At(a));
  Hover(At(b));
  const QImage marked = pane();
  // The yellow disc over the atom under the mouse, half a radius left of its label.
  const QPoint disc = pixel(b) - QPoint(std::max(2, gAtomRad2 / 2), 0);
  EXPECT_GT(qRed(marked.pixel(disc)) - qBlue(marked.pixel(disc)), qRed(plain.pixel(disc)) - qBlue(plain.pixel(disc)) + 40);
  // The dashed line between the two: marked and unmarked stretches.
  int on = 0, off = 0;
  for (int k = 30; k <= 45; ++k) {
    const QPointF p = QPointF(pixel(a)) + (QPointF(pixel(b)) - QPointF(pixel(a))) * (k / 100.0);
    (changed(plain, marked, p.toPoint()) ? on : off) += 1;
  }
  EXPECT_GT(on, 0);
  EXPECT_GT(off, 0) << "dashed, not solid";
  // The distance label: outlined text at its origin.
  const QPoint origin = w->GraphPane()->geometry().topLeft();
  int labelPixels = 0;
  for (const HiliteItem &item : GetHiliteOverlay(window))
    if (item.kind == HiliteItem::kText)
      for (int dy = -14; dy <= 4; ++dy)
        for (int dx = -20; dx <= 20; ++dx) {
          const QPoint p = QPoint(int(item.x) + dx, int(item.y) + dy) - origin;
          labelPixels += marked.rect().contains(p) && changed(plain, marked, p);
        }
  EXPECT_GT(labelPixels, 20);

  // The bubble: white body, clear outside its outline.
  InfoTipWidget *tip = CreateInfoTipOverlay(window, a);
  ASSERT_NE(tip, nullptr);
  const QImage bubble = tip->grab().toImage().convertToFormat(QImage::Format_ARGB32);
  const QPainterPath outline = tip->Outline();
  const QPoint inside = outline.boundingRect().center().toPoint() + QPoint(0, 2);
  ASSERT_TRUE(outline.contains(inside));
  const QRgb body = bubble.pixel(bubble.width() - 12, inside.y());
  EXPECT_GT(qRed(body) + qGreen(body) + qBlue(body), 3 * 235) << "the body is white";
  EXPECT_LT(qAlpha(bubble.pixel(1, 1)), 40) << "the corner outside the outline stays clear";
  DestroyInfoTipOverlay(window);
}

TEST_F(MeasureToolsTest, TheTipComesWhenTheMouseStillRestsOnTheAtomAtTheTimer) {
  ASSERT_GE(pickable.size(), 2u);
  auto *host = dynamic_cast<RecordingHost *>(GetHostServices());
  ASSERT_NE(host, nullptr);
  const int32_t atom = pickable[0], other = pickable[1];
  const auto showTips = gPrefs.showInfoTips;
  gPrefs.showInfoTips = 1;
  ProcessCommand(FourCharsToLong("ArwT"));
  gInfoAtomNum = kNoInfoAtom;
  host->armed.clear();
  Hover(At(atom));
  ASSERT_EQ(host->armed.size(), 1u);
  EXPECT_EQ(host->armed[0].second, 1.5);
  const auto fire = [&](QPoint mouse) {
    host->pointer = Point{int16_t(mouse.y()), int16_t(mouse.x())};
    host->armed[0].first->proc();
  };
  fire(At(other));
  EXPECT_EQ(GetWindowInfoTip(window), nullptr) << "the mouse moved on to another atom";
  fire(At(atom));
  EXPECT_NE(GetWindowInfoTip(window), nullptr);
  host->pointer.reset();
  gPrefs.showInfoTips = showTips;
  DestroyInfoTipOverlay(window);
}

TEST_F(MeasureToolsTest, AtomNearThePaneBottomGetsItsBubbleAbove) {
  ASSERT_FALSE(pickable.empty());
  const int32_t atom = pickable[0];
  const QRect g = w->GraphPane()->geometry();
  crystal->atoms[atom].pixel[1] = int16_t(g.height() - 5);
  crystal->atoms[atom].pixel[0] = int16_t(g.width() - 3);
  auto doc = InfoStringForAtomInWindow(atom, window, true);
  ASSERT_NE(doc, nullptr);
  uint32_t placement = 0;
  GetInfoTipPositionForAtomInWindowWithText(atom, window, *doc, &placement);
  EXPECT_EQ(placement, 1u) << "above, with the pointer near the right end";
  crystal->atoms[atom].pixel[1] = 5;
  crystal->atoms[atom].pixel[0] = 2;
  GetInfoTipPositionForAtomInWindowWithText(atom, window, *doc, &placement);
  EXPECT_EQ(placement, 6u) << "below, with the pointer near the left end";
}

} // namespace

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

// What the tools logged, with the coordinates they measured, written for
// tests/oracle/measure_oracle.py, which checks the numbers against its own
// geometry. Runs only when OV_MEASURE_DUMP_OUT names the file to write.
class MeasureDump : public MeasureToolsTest {
protected:
  QJsonArray Floats(const float *v, int n) const {
    QJsonArray a;
    for (int k = 0; k < n; ++k)
      a.append(double(v[k]));
    return a;
  }
  QJsonObject Case(const char *kind, const std::vector<int32_t> &atoms, int logFrom) const {
    QJsonArray cart, frac, esd;
    for (int32_t a : atoms) {
      cart.append(Floats(crystal->atoms[a].cart, 3));
      frac.append(Floats(crystal->atoms[a].xyz, 3));
      esd.append(Floats(crystal->sites[crystal->atoms[a].site].esd, 3));
    }
    return QJsonObject{{"kind", kind}, {"cart", cart}, {"frac", frac}, {"esd", esd}, {"log", Log().mid(logFrom)}};
  }
  // Distances from the first pickable atom, an angle, and for a molecule a
  // torsion with its fourth atom lifted out of the ring's plane.
  QJsonObject MeasureAll(const char *name) {
    QJsonArray cases;
    EXPECT_GE(pickable.size(), 4u) << name;
    if (pickable.size() < 4)
      return {};
    // Atoms of sites with coordinate esds first, so that the distances carry one.
    std::stable_partition(pickable.begin(), pickable.end(), [this](int32_t i) {
      const float *e = crystal->sites[crystal->atoms[i].site].esd;
      return e[0] + e[1] + e[2] > 0.0f;
    });
    const int32_t a = pickable[0], b = pickable[1], c = pickable[2], d = pickable[3];
    for (int32_t other : {b, c}) {
      ProcessCommand(FourCharsToLong("BnDT"));
      gNumSelAtoms = 0;
      const int from = Log().size();
      Click(At(a));
      Click(At(other));
      cases.append(Case("distance", {a, other}, from));
    }
    ProcessCommand(FourCharsToLong("BAnT"));
    gNumSelAtoms = 0;
    int from = Log().size();
    Click(At(a));
    Click(At(b));
    Click(At(c));
    Click(At(b));
    cases.append(Case("angle", {a, b, c}, from));
    if (crystal->molecule) {
      gNumSelAtoms = 0;
      Click(At(a));
      Click(At(b));
      Click(At(c));
      crystal->atoms[d].cart[2] += 0.7f;
      from = Log().size();
      Hover(At(d));
      cases.append(Case("torsion", {a, b, c, d}, from));
    }
    std::vector<bool> reported(crystal->sites.size());
    for (int32_t atom : pickable) {
      const AsymmetricUnitRecord &site = crystal->sites[crystal->atoms[atom].site];
      if ((site.displacementType != kDisplacementAnisoU && site.displacementType != kDisplacementAnisoB) ||
          reported[crystal->atoms[atom].site])
        continue;
      reported[crystal->atoms[atom].site] = true;
      from = Log().size();
      FWriteSiteInfo(window, atom);
      QJsonObject site_case = Case("site", {atom}, from);
      site_case["tensor"] = Floats(site.tensor, 9);
      site_case["type"] = site.displacementType == kDisplacementAnisoU ? "U" : "B";
      site_case["critical"] = double(crystal->ellipsoidCriticalValue);
      cases.append(site_case);
    }
    const float cell[6] = {crystal->a, crystal->b, crystal->c, crystal->alpha, crystal->beta, crystal->gamma};
    return QJsonObject{
        {"structure", name}, {"molecule", bool(crystal->molecule)}, {"cell", Floats(cell, 6)}, {"cases", cases}};
  }
};

TEST_F(MeasureDump, WritesTheLoggedMeasurements) {
  const char *out = std::getenv("OV_MEASURE_DUMP_OUT");
  if (!out)
    GTEST_SKIP() << "set OV_MEASURE_DUMP_OUT to write the measurements";
  QJsonArray structures;
  structures.append(MeasureAll("Benzene"));
  ClearWindowModified(window);
  DoCloseMainWindow(window);
  QCoreApplication::processEvents();
  Open(std::filesystem::path(OV_TEST_DATA) / "structures" / "rutile_adp.ovtx");
  structures.append(MeasureAll("rutile_adp"));
  QFile file(out);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(QJsonDocument(structures).toJson());
}

} // namespace
