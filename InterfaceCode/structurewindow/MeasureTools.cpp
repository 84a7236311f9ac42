#include "MeasureTools.h"

#include "Geometry.h"
#include "render/HitTesting.h"
#include "render/Highlights.h"
#include "LocalizedStrings.h"
#include "render/OffScreen.h"
#include "RGBColor.h"
#include "Tools.h"
#include "shell/Commands.h"
#include "window/MainWindowData.h"

#include "graphics/QtBridge.h"

#include <QFontMetricsF>
#include <QPolygonF>
#include <QTransform>
#include <Qt>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>

int16_t gNumSelAtoms = 0;
int32_t gSelAtom1 = 0, gSelAtom2 = 0, gSelAtom3 = 0, gSelAtom4 = 0;
int32_t gAtomRad1 = 0, gAtomRad2 = 0, gAtomRad3 = 0, gAtomRad4 = 0;

namespace {

constexpr RGBColor kErrorRed{0xFFFF, 0, 0};
constexpr float kTorsionLabelSize = 14.0f;

std::string Format(const char *format, auto... args) {
  char buffer[512];
  std::snprintf(buffer, sizeof buffer, format, args...);
  return buffer;
}

void ShowSubtitle(WindowRef window, const char *key) { DrawWindowSubtitle(window, OVLocalizedString(key)); }

bool ValidAtom(const CrystalRec *c, int32_t atom) {
  return c && atom >= 0 && static_cast<size_t>(atom) < c->atoms.size() && c->atoms[atom].site < c->sites.size();
}

const char *SiteLabelOf(const CrystalRec *c, int32_t atom) { return c->sites[c->atoms[atom].site].label; }

// The atom under the point with its hit radius; false for anything else.
bool AtomUnder(WindowRef window, Point point, int32_t *atom, int32_t *radius) {
  int16_t kind = 0;
  int32_t index = 0, r = 0;
  if (!FindClickedObject(window, point, &kind, &index, &r) || kind != kHitAtom)
    return false;
  if (!ValidAtom(GetWindowCrystal(window), index))
    return false;
  *atom = index;
  *radius = r;
  return true;
}

// Picked atoms a later edit may have removed send the tool back to its start.
void ForgetStalePicks(const CrystalRec *c) {
  const int32_t picks[] = {gSelAtom1, gSelAtom2, gSelAtom3};
  for (int i = 0; i < gNumSelAtoms && i < 3; ++i)
    if (!ValidAtom(c, picks[i]))
      gNumSelAtoms = 0;
}

// What an overlay label covers, in window coordinates, as the graph pane
// paints it (with room for its outline).
QPolygonF LabelOutline(const HiliteItem &item) {
  const QFont font = ovgfx::MakeFont(item.font, item.size, 0);
  const QFontMetricsF metrics(font, ovgfx::MeasureDevice());
  const qreal width = metrics.horizontalAdvance(QString::fromStdString(item.text));
  const qreal x0 = item.alignment == kAlignRight ? -width : item.alignment == kAlignCentre ? -width / 2 : 0;
  constexpr qreal kOutline = 2.0;
  const QRectF box(x0 - kOutline, -item.baselineOffset - metrics.ascent() - kOutline, width + 2 * kOutline,
                   metrics.ascent() + metrics.descent() + 2 * kOutline);
  QTransform turn;
  turn.translate(item.x, item.y);
  turn.rotateRadians(item.angle);
  return turn.map(QPolygonF(box));
}

// The torsion's label at the middle of the four atoms, moved down clear of
// the labels already drawn (the middle bond's length lies just there when
// the outer atoms sit on opposite sides).
void WriteTorsionLabel(WindowRef window, float torsion) {
  const CrystalRec *c = GetWindowCrystal(window);
  HiliteRGBA main, contrast;
  if (!c || !GetHiliteColorsForWindow(window, &main, &contrast))
    return;
  Rect pane;
  GetWindowGraphBounds(window, &pane);
  HiliteItem label;
  label.kind = HiliteItem::kText;
  label.text = Format("\u03B3 = %.2f\u00B0", static_cast<double>(torsion));
  label.font = kHiliteFont;
  label.size = kTorsionLabelSize;
  label.alignment = kAlignCentre;
  for (int32_t atom : {gSelAtom1, gSelAtom2, gSelAtom3, gSelAtom4}) {
    label.x += 0.25f * (pane.left + c->atoms[static_cast<size_t>(atom)].pixel[0]);
    label.y += 0.25f * (pane.top + c->atoms[static_cast<size_t>(atom)].pixel[1]);
  }
  const std::vector<HiliteItem> drawn = GetHiliteOverlay(window);
  for (size_t pass = 0; pass <= drawn.size(); ++pass) {
    bool moved = false;
    for (const HiliteItem &other : drawn) {
      if (other.kind != HiliteItem::kText || !LabelOutline(label).intersects(LabelOutline(other)))
        continue;
      const QRectF below = LabelOutline(other).boundingRect();
      label.y = static_cast<float>(below.bottom() - LabelOutline(label).boundingRect().top() + label.y) + 1.0f;
      moved = true;
    }
    if (!moved)
      break;
  }
  DrawHiliteString(window, label.text, label.x, label.y, 0.0f, main, contrast, kHiliteFont, label.size, kAlignCentre,
                   0.0f);
}

// Draws the torsion of the four picked atoms and, with `writeLog`, writes
// it (or why it cannot be measured) to the Log.
void DrawTorsion(WindowRef window, bool writeLog) {
  const CrystalRec *c = GetWindowCrystal(window);
  double t1 = 0, t2 = 0, d12 = 0, d23 = 0, d34 = 0, dki = 0;
  DCalcBondAngle(c, gSelAtom1, gSelAtom2, gSelAtom3, &t1, &d12, &d23, &dki);
  DCalcBondAngle(c, gSelAtom2, gSelAtom3, gSelAtom4, &t2, &d23, &d34, &dki);
  constexpr double kRad = 3.14159265358979323846 / 180.0;
  if (std::fabs(std::sin(t1 * kRad)) < 1e-5 || std::fabs(std::sin(t2 * kRad)) < 1e-5) {
    if (writeLog) {
      SysBeep();
      FWriteColor("Error measuring torsion angle: Atoms are colinear!", kErrorRed);
    }
    return;
  }
  if (d12 * d23 * d34 < 1e-5) {
    if (writeLog) {
      SysBeep();
      FWriteColor("Error measuring torsion angle: atoms are coincident!", kErrorRed);
    }
    return;
  }
  double p[4][3];
  const int32_t ids[4] = {gSelAtom1, gSelAtom2, gSelAtom3, gSelAtom4};
  for (int i = 0; i < 4; ++i)
    for (int k = 0; k < 3; ++k)
      p[i][k] = c->atoms[ids[i]].cart[k];
  const double f1 = std::cos(t1 * kRad) * d12 / d23, f4 = std::cos(t2 * kRad) * d34 / d23;
  double u[3], w[3], b[3], a[3];
  for (int k = 0; k < 3; ++k) {
    u[k] = p[0][k] - (p[1][k] + f1 * (p[2][k] - p[1][k]));
    w[k] = p[3][k] - (p[2][k] + f4 * (p[1][k] - p[2][k]));
    b[k] = p[2][k] - p[1][k];
    a[k] = p[0][k] - p[1][k];
  }
  const double uw = u[0] * w[0] + u[1] * w[1] + u[2] * w[2];
  const double nu = std::sqrt(u[0] * u[0] + u[1] * u[1] + u[2] * u[2]);
  const double nw = std::sqrt(w[0] * w[0] + w[1] * w[1] + w[2] * w[2]);
  const float k = static_cast<float>(uw / (nu * nw));
  float torsion = k > 1.0f ? 0.0f : k < -1.0f ? 180.0f : static_cast<float>(std::acos(k) * 57.2957795131);
  const double n[3] = {b[1] * a[2] - b[2] * a[1], b[2] * a[0] - b[0] * a[2], b[0] * a[1] - b[1] * a[0]};
  if (n[0] * w[0] + n[1] * w[1] + n[2] * w[2] < 0)
    torsion = -torsion;
  WriteTorsionLabel(window, torsion);
  if (!writeLog)
    return;
  const char *l1 = SiteLabelOf(c, gSelAtom1), *l2 = SiteLabelOf(c, gSelAtom2), *l3 = SiteLabelOf(c, gSelAtom3),
             *l4 = SiteLabelOf(c, gSelAtom4);
  FWriteCFString(Format("%s -- %s -- %s -- %s torsion angle = %.3f°", l1, l2, l3, l4, torsion));
  FWriteCFString(Format("    (%s -- %s -- %s bond angle = %.3f°)", l1, l2, l3, t1));
  FWriteCFString(Format("    (%s -- %s -- %s bond angle = %.3f°)", l2, l3, l4, t2));
}

// ---- Free distance and angle ------------------------------------------------------

struct FreeMeasure {
  ToolID tool = 0;
  Point points[3];
  int fixed = 0;
  float lastAngle = 0.0f;
  bool haveAngle = false;
};
std::map<WindowRef, FreeMeasure> gFree;

void RefreshPane(WindowRef window) {
  ClearHiliteOverlay(window);
  RepaintGraphPane(window);
}

float PixelDistance(Point a, Point b) {
  const float dh = static_cast<float>(b.h - a.h), dv = static_cast<float>(b.v - a.v);
  return std::sqrt(dh * dh + dv * dv);
}

// One mouse step of a running free measurement: redraws its marks.
void FreeStep(WindowRef window, FreeMeasure &m, Point mouse) {
  RefreshPane(window);
  const CrystalRec *c = GetWindowCrystal(window);
  const float scale = c && c->plotScale > 0 ? c->plotScale : 1.0f;
  if (m.tool == kToolDistance) {
    HiliteLine(window, mouse, m.points[0], false);
    HiliteCross(window, m.points[0]);
    WriteLineDistance(window, m.points[0], mouse, PixelDistance(m.points[0], mouse) / scale, 14.0f);
    return;
  }
  for (int i = 1; i < m.fixed; ++i)
    HiliteLine(window, m.points[i - 1], m.points[i], false);
  HiliteLine(window, m.points[m.fixed - 1], mouse, false);
  if (m.fixed == 2) {
    float angle = 0, d12 = 0, d23 = 0, d31 = 0;
    Bangl(m.points[0].h, m.points[0].v, 0, m.points[1].h, m.points[1].v, 0, mouse.h, mouse.v, 0, &angle, &d12, &d23,
          &d31);
    WriteLineAngle(window, m.points[0], m.points[1], mouse, angle, 14.0f);
    m.lastAngle = angle;
    m.haveAngle = true;
  }
}

void FreePress(WindowRef window, ToolID tool, Point p) {
  auto it = gFree.find(window);
  if (it == gFree.end() || it->second.tool != tool) {
    FreeMeasure m;
    m.tool = tool;
    m.points[0] = p;
    m.fixed = 1;
    RefreshPane(window);
    if (tool == kToolDistance)
      HiliteCross(window, p);
    gFree[window] = m;
    return;
  }
  FreeMeasure &m = it->second;
  FreeStep(window, m, p);
  if (tool == kToolDistance) {
    const CrystalRec *c = GetWindowCrystal(window);
    const float scale = c && c->plotScale > 0 ? c->plotScale : 1.0f;
    HiliteCross(window, p);
    // The Log always reads in Angstroms, whatever the rulers show.
    FWriteCFString(Format("Distance = %.4f Å", PixelDistance(m.points[0], p) / scale));
    gFree.erase(it);
    return;
  }
  m.points[m.fixed++] = p;
  if (m.fixed == 3) {
    if (m.haveAngle)
      FWriteCFString(Format("Angle = %.3f°", m.lastAngle));
    gFree.erase(it);
  }
}

} // namespace

bool IsFreeMeasurementActive(WindowRef window) { return gFree.count(window) != 0; }

void CancelFreeMeasurement(WindowRef window) {
  if (gFree.erase(window))
    RefreshPane(window);
}

void PrintBondInfo(WindowRef window, int32_t atomA, int32_t atomB) {
  const CrystalRec *c = GetWindowCrystal(window);
  if (!ValidAtom(c, atomA) || !ValidAtom(c, atomB))
    return;
  double d = 0;
  float esd = 0;
  BondDistError(c, atomA, atomB, &d, &esd);
  const AtomRecord &a = c->atoms[atomA], &b = c->atoms[atomB];
  const double dx = double(b.cart[0]) - a.cart[0], dy = double(b.cart[1]) - a.cart[1];
  double p = std::sqrt(dx * dx + dy * dy);
  double e = esd;
  const char *unit = "Å";
  if (GetWindowRulerUnits(window) == 2) {
    d *= 0.1;
    e *= 0.1;
    p *= 0.1;
    unit = "nm";
  }
  const double v[3] = {double(b.xyz[0]) - a.xyz[0], double(b.xyz[1]) - a.xyz[1], double(b.xyz[2]) - a.xyz[2]};
  FWriteCFString(Format("%s -> %s:", SiteLabelOf(c, atomA), SiteLabelOf(c, atomB)));
  if (!c->esdFlag)
    FWriteCFString(Format("     distance: %.5f %s along vector: [%.4f %.4f %.4f]", d, unit, v[0], v[1], v[2]));
  else
    FWriteCFString(
        Format("     distance: %.5f ± %.5f %s along vector: [%.4f %.4f %.4f]", d, e, unit, v[0], v[1], v[2]));
  FWriteCFString(Format("   projection: %.5f %s (in plane of screen)", p, unit));
}

void DoBondDistance(WindowRef window, Point point, bool isClick) {
  SetWindowMeasurementToolLocked(window, false);
  const CrystalRec *c = GetWindowCrystal(window);
  ForgetStalePicks(c);
  int32_t atom = 0, radius = 0;
  if (!AtomUnder(window, point, &atom, &radius))
    return;
  // A count left by the bond-angle tool means nothing here: start afresh.
  if (gNumSelAtoms != 1)
    gNumSelAtoms = 0;
  if (gNumSelAtoms == 0) {
    if (isClick) {
      gNumSelAtoms = 1;
      // The second atom is still to come: the next hover draws it, even
      // over the atom an earlier measurement ended on.
      gSelAtom2 = -1;
      ShowSubtitle(window, "Bond_Distance_Click_2");
    } else {
      if (atom == gSelAtom1 && !GetHiliteOverlay(window).empty())
        return;
      ShowSubtitle(window, "Bond_Distance_Click_1");
    }
    gSelAtom1 = atom;
    gAtomRad1 = radius;
    HiliteSphere(window, gSelAtom1, static_cast<float>(gAtomRad1), true);
    return;
  }
  if (isClick) {
    gSelAtom2 = atom;
    gAtomRad2 = radius;
    PrintBondInfo(window, gSelAtom1, gSelAtom2);
    gNumSelAtoms = 0;
    SetWindowMeasurementToolLocked(window, true);
    ShowSubtitle(window, "Bond_Distance_Click_3");
  } else {
    if (atom == gSelAtom2 && !GetHiliteOverlay(window).empty())
      return;
    gSelAtom2 = atom;
    gAtomRad2 = radius;
    ShowSubtitle(window, "Bond_Distance_Click_2");
  }
  HiliteSphere(window, gSelAtom1, static_cast<float>(gAtomRad1), true);
  HiliteSphere(window, gSelAtom2, static_cast<float>(gAtomRad2), true);
  HiliteBond(window, gSelAtom1, gSelAtom2, !isClick, true);
  WriteBondDistance(window, gSelAtom1, gSelAtom2, 14.0f);
}

void LabelBondAngle(WindowRef window) {
  const CrystalRec *c = GetWindowCrystal(window);
  if (!ValidAtom(c, gSelAtom1) || !ValidAtom(c, gSelAtom2) || !ValidAtom(c, gSelAtom3))
    return;
  HiliteBond(window, gSelAtom1, gSelAtom2, false, false);
  HiliteBond(window, gSelAtom2, gSelAtom3, false, false);
  HiliteSphere(window, gSelAtom1, static_cast<float>(gAtomRad1), true);
  HiliteSphere(window, gSelAtom2, static_cast<float>(gAtomRad2), true);
  HiliteSphere(window, gSelAtom3, static_cast<float>(gAtomRad3), true);
  WriteBondDistance(window, gSelAtom1, gSelAtom2, 9.0f);
  WriteBondDistance(window, gSelAtom2, gSelAtom3, 9.0f);
  double angle = 0;
  DCalcBondAngle(c, gSelAtom1, gSelAtom2, gSelAtom3, &angle, nullptr, nullptr, nullptr);
  WriteBondAngle(window, gSelAtom1, gSelAtom2, gSelAtom3, static_cast<float>(angle));
  if (IsWindowMeasurementToolLocked(window))
    FWriteCFString(Format("%s -- %s -- %s bond angle = %.3f°", SiteLabelOf(c, gSelAtom1), SiteLabelOf(c, gSelAtom2),
                          SiteLabelOf(c, gSelAtom3), angle));
}

void DoBondAngle(WindowRef window, Point point, bool isClick) {
  SetWindowMeasurementToolLocked(window, false);
  const CrystalRec *c = GetWindowCrystal(window);
  ForgetStalePicks(c);
  int32_t atom = 0, radius = 0;
  if (!AtomUnder(window, point, &atom, &radius))
    return;
  if (gNumSelAtoms < 0 || gNumSelAtoms > 3)
    gNumSelAtoms = 0;
  const bool shown = !GetHiliteOverlay(window).empty();
  switch (gNumSelAtoms) {
  case 0:
    if (isClick) {
      gNumSelAtoms = 1;
      gSelAtom2 = -1; // the next hover draws the second atom
      ShowSubtitle(window, "Bond_Angle_Click_2");
    } else {
      if (atom == gSelAtom1 && shown)
        return;
      ShowSubtitle(window, "Bond_Angle_Click_1");
    }
    gSelAtom1 = atom;
    gAtomRad1 = radius;
    HiliteSphere(window, gSelAtom1, static_cast<float>(gAtomRad1), true);
    return;
  case 1:
    if (!isClick && atom == gSelAtom2 && shown)
      return;
    gSelAtom2 = atom;
    gAtomRad2 = radius;
    if (isClick && atom != gSelAtom1) {
      gNumSelAtoms = 2;
      gSelAtom3 = -1;
      ShowSubtitle(window, "Bond_Angle_Click_3");
    } else {
      ShowSubtitle(window, "Bond_Angle_Click_2");
    }
    HiliteBond(window, gSelAtom1, gSelAtom2, true, false);
    HiliteSphere(window, gSelAtom1, static_cast<float>(gAtomRad1), true);
    HiliteSphere(window, gSelAtom2, static_cast<float>(gAtomRad2), true);
    WriteBondDistance(window, gSelAtom1, gSelAtom2, 10.0f);
    return;
  case 2:
    if (!isClick && atom == gSelAtom3 && shown)
      return;
    gSelAtom3 = atom;
    gAtomRad3 = radius;
    if (isClick && atom != gSelAtom1 && atom != gSelAtom2) {
      gNumSelAtoms = 3;
      gSelAtom4 = -1;
      ShowSubtitle(window, "Bond_Angle_Click_4");
    } else {
      ShowSubtitle(window, "Bond_Angle_Click_3");
    }
    LabelBondAngle(window);
    return;
  default:
    break;
  }
  // Three atoms fixed.
  if (isClick) {
    gNumSelAtoms = 0;
    SetWindowMeasurementToolLocked(window, true);
    ShowSubtitle(window, "Bond_Angle_Click_5");
    if (atom == gSelAtom1 || atom == gSelAtom2 || atom == gSelAtom3) {
      LabelBondAngle(window);
      return;
    }
  } else {
    if (atom == gSelAtom3 || (atom == gSelAtom4 && shown))
      return;
    ShowSubtitle(window, "Bond_Angle_Click_4");
  }
  // A click on the fourth atom the mouse rests on fixes the torsion the
  // hover has logged already.
  const bool logged = isClick && atom == gSelAtom4 && shown;
  gSelAtom4 = atom;
  gAtomRad4 = radius;
  HiliteSphere(window, gSelAtom1, static_cast<float>(gAtomRad1), true);
  HiliteSphere(window, gSelAtom2, static_cast<float>(gAtomRad2), true);
  HiliteSphere(window, gSelAtom3, static_cast<float>(gAtomRad3), true);
  HiliteSphere(window, gSelAtom4, static_cast<float>(gAtomRad4), true);
  HiliteBond(window, gSelAtom1, gSelAtom2, false, false);
  HiliteBond(window, gSelAtom3, gSelAtom4, false, false);
  HiliteBond(window, gSelAtom2, gSelAtom3, true, false);
  WriteBondDistance(window, gSelAtom2, gSelAtom3, 10.0f);
  if (gSelAtom4 != gSelAtom1 && gSelAtom4 != gSelAtom2 && gSelAtom4 != gSelAtom3)
    DrawTorsion(window, !logged);
}

void RegisterMeasureTools() {
  ToolHandlers bondDistance;
  bondDistance.press = [](WindowRef window, Point p, unsigned) { DoBondDistance(window, p, true); };
  bondDistance.hover = [](WindowRef window, Point p, bool down, unsigned) {
    SetCocoaCursor(kBondDistanceCursor);
    if (!down && !IsWindowMeasurementToolLocked(window))
      DoBondDistance(window, p, false);
    return true;
  };
  RegisterTool(kToolBondDistance, bondDistance);

  ToolHandlers bondAngle;
  bondAngle.press = [](WindowRef window, Point p, unsigned) { DoBondAngle(window, p, true); };
  bondAngle.hover = [](WindowRef window, Point p, bool down, unsigned) {
    SetCocoaCursor(kBondAngleCursor);
    if (!down && !IsWindowMeasurementToolLocked(window))
      DoBondAngle(window, p, false);
    return true;
  };
  RegisterTool(kToolBondAngle, bondAngle);

  for (ToolID id : {kToolDistance, kToolAngle}) {
    ToolHandlers free;
    free.press = [id](WindowRef window, Point p, unsigned) { FreePress(window, id, p); };
    free.hover = [id](WindowRef window, Point p, bool, unsigned) {
      SetCocoaCursor(id == kToolDistance ? kDistanceCursor : kAngleCursor);
      auto it = gFree.find(window);
      if (it != gFree.end())
        FreeStep(window, it->second, p);
      return true;
    };
    // While a measurement runs it takes every key: Escape cancels it, others
    // do nothing.
    free.key = [](WindowRef window, int key, unsigned modifiers) -> int32_t {
      if (!IsFreeMeasurementActive(window))
        return kEventNotHandledErr;
      if (key == Qt::Key_Escape || (key == Qt::Key_Period && (modifiers & kCommandKey)))
        CancelFreeMeasurement(window);
      return kNoErr;
    };
    RegisterTool(id, free);
  }
}
