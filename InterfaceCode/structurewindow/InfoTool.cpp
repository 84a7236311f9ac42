#include "InfoTool.h"

#include "Geometry.h"
#include "render/HitTesting.h"
#include "render/Highlights.h"
#include "MeasureTools.h"
#include "Polyhedra.h"
#include "Preferences.h"
#include "Utilities.h"
#include "VectorMath.h"
#include "window/MainWindowData.h"

#include <QApplication>
#include <cmath>
#include <cstdio>
#include <string>

int32_t gInfoAtomNum = kNoInfoAtom;
void (*gCreateInfoTipHook)(WindowRef, int32_t) = nullptr;
void (*gRemoveInfoTipHook)(WindowRef) = nullptr;
bool (*gMouseOverInfoTipHook)(WindowRef, Point) = nullptr;

namespace {

std::string Format(const char *format, auto... args) {
  char buffer[512];
  std::snprintf(buffer, sizeof buffer, format, args...);
  return buffer;
}

bool ValidAtom(const CrystalRec *c, int64_t atom) {
  return c && atom >= 0 && static_cast<size_t>(atom) < c->atoms.size() && c->atoms[atom].site < c->sites.size();
}

const AsymmetricUnitRecord &SiteOf(const CrystalRec *c, int32_t atom) { return c->sites[c->atoms[atom].site]; }

void RefreshPane(WindowRef window) {
  ClearHiliteOverlay(window);
  RepaintGraphPane(window);
}

void RemoveTip(WindowRef window) {
  if (gRemoveInfoTipHook)
    gRemoveInfoTipHook(window);
}

int32_t gTimerAtom = kNoInfoAtom;

const std::string kRule85(85, '-');
const std::string kRule70(70, '-');

} // namespace

EventLoopTimer &InfoTipTimer() {
  static EventLoopTimer timer{"info tip", [] { WriteAtomInfoTimerProc(gTimerAtom); }};
  return timer;
}

void DoInfoTool(WindowRef window, Point point, bool isClick) {
  if (gMouseOverInfoTipHook && gMouseOverInfoTipHook(window, point))
    return;
  int16_t kind = 0;
  int32_t index = 0, radius = 0;
  const bool hit = FindClickedObject(window, point, &kind, &index, &radius);
  if (!hit || kind == kHitNothing) {
    gInfoAtomNum = kNoInfoAtom;
    RefreshPane(window);
    RemoveTip(window);
    int32_t a = 0, b = 0;
    if (FindClickedBond(window, point, &a, &b))
      WriteBondInfo(window, a, b, isClick);
  } else if (kind != kHitAtom || !ValidAtom(GetWindowCrystal(window), index)) {
    gInfoAtomNum = kNoInfoAtom;
    RefreshPane(window);
    RemoveTip(window);
  } else if (index != gInfoAtomNum) {
    RefreshPane(window);
    RequestWriteAtomInfo(window, index);
    gInfoAtomNum = index;
  }
  if (isClick)
    SetWindowMeasurementToolLocked(window, !IsWindowMeasurementToolLocked(window));
}

void RequestWriteAtomInfo(WindowRef window, int32_t atom) {
  if (!window)
    return;
  WriteAtomInfo(window, atom);
  if (gPrefs.showInfoTips) {
    gTimerAtom = atom;
    if (HostServices *host = GetHostServices())
      host->ArmTimer(InfoTipTimer(), 1.5);
  }
}

void WriteAtomInfoTimerProc(int32_t atom) {
  WindowRef window = FrontGraphWindow();
  HostServices *host = GetHostServices();
  if (!window || !host || !gPrefs.showInfoTips)
    return;
  // The mouse is busy with an open menu or a dialog, whatever lies under it.
  if (QApplication::activePopupWidget() || QApplication::activeModalWidget())
    return;
  const Point mouse = host->PointerPosition(window);
  int16_t kind = 0;
  int32_t index = 0, radius = 0;
  if (FindClickedObject(window, mouse, &kind, &index, &radius) && kind == kHitAtom && index == atom &&
      gCreateInfoTipHook)
    gCreateInfoTipHook(window, atom);
}

void WriteAtomInfo(WindowRef window, int32_t atom) {
  const CrystalRec *c = GetWindowCrystal(window);
  if (!ValidAtom(c, atom))
    return;
  HiliteAtom(window, atom);
  if (c->plotScale <= 50.0f)
    return;
  const AtomRecord &a = c->atoms[atom];
  for (uint32_t other : a.bonds) {
    if (other >= c->atoms.size()) {
      std::fprintf(stderr, "Bonds list corrupted for atom %ld\n", static_cast<long>(atom));
      break;
    }
    const AtomRecord &b = c->atoms[other];
    if (!b.visible)
      continue;
    HiliteBond(window, atom, static_cast<int32_t>(other), true, false);
    const float dx = float(b.pixel[0] - a.pixel[0]), dy = float(b.pixel[1] - a.pixel[1]);
    if (std::sqrt(dx * dx + dy * dy) > 50.0f)
      WriteBondDistance(window, atom, static_cast<int32_t>(other), 10.0f);
  }
}

void WriteBondInfo(WindowRef window, int32_t atomA, int32_t atomB, bool isClick) {
  const CrystalRec *c = GetWindowCrystal(window);
  if (!ValidAtom(c, atomA) || !ValidAtom(c, atomB))
    return;
  HiliteBond(window, atomA, atomB, !isClick, true);
  WriteBondDistance(window, atomA, atomB, 12.0f);
  if (isClick)
    PrintBondInfo(window, atomA, atomB);
}

std::string GetOccupancyCharsForSite(const CrystalRec *crystal, uint32_t site) {
  std::string text;
  if (!crystal || site >= crystal->sites.size())
    return text;
  const AsymmetricUnitRecord &s = crystal->sites[site];
  for (int i = 0; i < kMaxSiteElements; ++i) {
    if (!(s.occupancies[i] > 0.0f))
      continue;
    if (i > 0)
      text += ' ';
    text += static_cast<char>((s.elements[i] >> 8) & 0xFF);
    const char second = static_cast<char>(s.elements[i] & 0xFF);
    if (second > ' ' && second < 127)
      text += second;
    if (s.occupancies[i] > 0.9999f)
      break;
    text += ' ';
    text += MyTrimSprintf("%.3f", s.occupancies[i]);
  }
  return text;
}

void FWriteSiteInfo(WindowRef window, int32_t atom) {
  const CrystalRec *c = GetWindowCrystal(window);
  if (!ValidAtom(c, atom))
    return;
  const AtomRecord &a = c->atoms[atom];
  const AsymmetricUnitRecord &s = SiteOf(c, atom);
  FWriteCFString("");
  FWriteCFString(Format("Information for highlighted atom \"%s\" (%s) No. %ld:-\n", s.label,
                        GetOccupancyCharsForSite(c, a.site).c_str(), static_cast<long>(atom) + 1));
  FWriteCFString(Format("                Fractional coordinates:  {%.5f,  %.5f,  %.5f}", a.xyz[0], a.xyz[1], a.xyz[2]));
  FWriteCFString(
      Format("       Orthogonal (window) coordinates:  {%.4f Å, %.4f Å, %.4f Å}", a.cart[0], a.cart[1], a.cart[2]));
  if (c->ellipsoidData) {
    FWriteCFString("");
    switch (s.displacementType) {
    case kDisplacementNone:
      FWriteCFString("(No atomic displacement parameters defined for this site.)");
      break;
    case kDisplacementIsotropic:
      FWriteCFString(Format("Isotropic displacement parameter, Uiso:  %.5f", s.isoValue));
      break;
    case kDisplacementAnisoU:
    case kDisplacementAnisoB: {
      const float *t = s.tensor;
      FWriteCFString(Format("                                         [%8.5f  %8.5f  %8.5f]", t[0], t[1], t[2]));
      FWriteCFString(Format("  Anisotropic displacement tensor, %cij:  [%8.5f  %8.5f  %8.5f]",
                            s.displacementType == kDisplacementAnisoU ? 'U' : 'B', t[3], t[4], t[5]));
      FWriteCFString(Format("                                         [%8.5f  %8.5f  %8.5f]", t[6], t[7], t[8]));
      FWriteCFString("");
      for (int axis = 0; axis < 3; ++axis) {
        float v[3], end[3];
        for (int k = 0; k < 3; ++k)
          v[k] = a.ellipsoidAxes[axis][k] - a.xyz[k];
        MatMul(c->orientationMatrix, a.ellipsoidAxes[axis], end);
        const double dx = double(end[0]) - a.cart[0], dy = double(end[1]) - a.cart[1], dz = double(end[2]) - a.cart[2];
        const double magnitude = std::sqrt(dx * dx + dy * dy + dz * dz);
        FWriteCFString(Format("                      Principal Axis %ld: %c%.5fa %c %.5fb %c %.5fc  (magnitude: %.5f Å)",
                              static_cast<long>(axis + 1), v[0] < 0 ? '-' : ' ', std::fabs(v[0]),
                              v[1] < 0 ? '-' : '+', std::fabs(v[1]), v[2] < 0 ? '-' : '+', std::fabs(v[2]),
                              magnitude));
      }
      break;
    }
    default:
      FWriteCFString("(Displacement parameter not recognized for this site.)");
      break;
    }
    FWriteCFString("");
  }
  long visible = 0;
  for (uint32_t other : a.bonds)
    if (other < c->atoms.size() && c->atoms[other].visible)
      ++visible;
  const long n = static_cast<long>(s.coordination);
  if (visible == n) {
    FWriteCFString(Format("                   Coordination number:  %ld (all bonds shown)", n));
    const Polyhedron *poly = AtomPolyhedron(GetWindowCrystal(window), a);
    if (poly && poly->faces.size() >= 2)
      FWriteCFString(Format("               Coordination polyhedron:  %ld faces, %ld vertices (volume: %.3f Å³)",
                            static_cast<long>(poly->faces.size()), static_cast<long>(a.bondCount),
                            GetPolyVolume(c, poly)));
  } else {
    FWriteCFString(Format("                   Coordination number:  %ld (%ld visible)", n, visible));
  }
  DoShowOverviewLog();
}

namespace {

std::string CoordinateRow(const CrystalRec *c, int32_t atom) {
  const AtomRecord &a = c->atoms[atom];
  const AsymmetricUnitRecord &s = SiteOf(c, atom);
  return Format(" %-6s  %c%c    %-9ld%8.4f%8.4f%8.4f  %8.3f%8.3f%8.3f", s.label,
                static_cast<char>((s.elements[0] >> 8) & 0xFF), static_cast<char>(s.elements[0] & 0xFF),
                static_cast<long>(atom) + 1, a.xyz[0], a.xyz[1], a.xyz[2], a.cart[0], a.cart[1], a.cart[2]);
}

} // namespace

void FWriteBondInfo(WindowRef window, int32_t atom) {
  const CrystalRec *c = GetWindowCrystal(window);
  if (!ValidAtom(c, atom))
    return;
  const AtomRecord &a = c->atoms[atom];
  FWriteCFString("");
  FWriteCFString(Format("Table of coordinates and bond distances around %s (%s) No. %ld", SiteOf(c, atom).label,
                        GetOccupancyCharsForSite(c, a.site).c_str(), static_cast<long>(atom) + 1));
  FWriteCFString(kRule85);
  FWriteCFString(" Site    Elmt  Atom       Fractional Coordinates    Orthogonal Coordinates     d [Å] ");
  FWriteCFString(" Label   Sym   Number     x       y       z         xor[Å]  yor[Å]  zor[Å]           ");
  FWriteCFString(kRule85);
  FWriteCFString(CoordinateRow(c, atom) + "           ");
  if (!a.bonds.empty()) {
    FWriteCFString(kRule85);
    for (uint32_t other : a.bonds) {
      // An entry a later edit left behind is skipped.
      if (!ValidAtom(c, other) || !c->atoms[other].visible)
        continue;
      double d = 0;
      float esd = 0;
      BondDistError(c, atom, static_cast<int32_t>(other), &d, &esd);
      FWriteCFString(CoordinateRow(c, static_cast<int32_t>(other)) + Format("  %8.3f ", d));
    }
  }
  FWriteCFString(kRule85);
  DoShowOverviewLog();
}

void FWriteAngleInfo(WindowRef window, int32_t atom) {
  const CrystalRec *c = GetWindowCrystal(window);
  if (!ValidAtom(c, atom))
    return;
  FWriteCFString("");
  std::vector<int32_t> bonded;
  for (uint32_t other : c->atoms[atom].bonds)
    if (ValidAtom(c, other))
      bonded.push_back(static_cast<int32_t>(other));
  if (c->atoms[atom].bonds.empty()) {
    FWriteCFString("");
    DoShowOverviewLog();
    return;
  }
  FWriteCFString("\nTable of bond angles and distances around selected atom (\"B\")");
  FWriteCFString(kRule70);
  FWriteCFString(" A       B       C        A-B-C [°]     A-B [Å]    B-C [Å]    C-A [Å] ");
  FWriteCFString(kRule70);
  const float *pb = c->atoms[atom].cart;
  for (size_t i = 0; i + 1 < bonded.size(); ++i) {
    if (i > 0)
      FWriteCFString(std::string(70, ' '));
    const float *pa = c->atoms[bonded[i]].cart;
    for (size_t j = i + 1; j < bonded.size(); ++j) {
      const float *pc = c->atoms[bonded[j]].cart;
      float angle = 0, dab = 0, dbc = 0, dca = 0;
      Bangl(pa[0], pa[1], pa[2], pb[0], pb[1], pb[2], pc[0], pc[1], pc[2], &angle, &dab, &dbc, &dca);
      FWriteCFString(Format(" %-6s  %-6s  %-6s    %8.4f   %8.4f   %8.4f   %8.4f  ", SiteOf(c, bonded[i]).label,
                            SiteOf(c, atom).label, SiteOf(c, bonded[j]).label, angle, dab, dbc, dca));
    }
  }
  FWriteCFString(kRule70);
  FWriteCFString("");
  DoShowOverviewLog();
}
