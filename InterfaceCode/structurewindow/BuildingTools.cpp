#include "BuildingTools.h"

#include "AtomPicker.h"
#include "MainWindow.h"
#include "MeasureTools.h"
#include "Tools.h"
#include "WindowInput.h"
#include "ZapperPuff.h"

#include "Alerts.h"
#include "AtomOperations.h"
#include "BondEditing.h"
#include "BondSearch.h"
#include "BuildPipeline.h"
#include "CellTransform.h"
#include "DerivedLayers.h"
#include "Geometry.h"
#include "LocalizedStrings.h"
#include "PlotRange.h"
#include "Polyhedra.h"
#include "Preferences.h"
#include "RenderServices.h"
#include "SitePreparation.h"
#include "StructureArrays.h"
#include "UnitCell.h"
#include "VectorMath.h"
#include "render/Highlights.h"
#include "render/HitTesting.h"
#include "render/OffScreen.h"
#include "window/MainWindowData.h"

#include <algorithm>
#include <cmath>
#include <new>

LastAddedAtom gSaveLastAddedAtom;

namespace {

bool ValidAtom(const CrystalRec *c, int32_t atom) {
  return c && atom >= 0 && atom < UsableAtomCount(*c) && c->atoms[static_cast<size_t>(atom)].site < c->sites.size();
}

bool HasSitesAndAtoms(const CrystalRec *c) { return c && UsableSiteCount(*c) > 0 && UsableAtomCount(*c) > 0; }

void RefreshPane(WindowRef window) {
  ClearHiliteOverlay(window);
  RepaintGraphPane(window);
}

// The atom under the window point with its hit radius; false for anything else.
bool AtomUnder(WindowRef window, Point point, int32_t *atom, int32_t *radius) {
  int16_t kind = 0;
  int32_t index = -1, r = 0;
  if (!FindClickedObject(window, point, &kind, &index, &r) || kind != kHitAtom ||
      !ValidAtom(GetWindowCrystal(window), index))
    return false;
  *atom = index;
  *radius = r;
  return true;
}

ElementCode SiteElement(const CrystalRec &c, int32_t atom) { return c.sites[c.atoms[atom].site].elements[0]; }

void SetAnchor(const CrystalRec &c, int32_t atom) {
  gSaveLastAddedAtom.element = SiteElement(c, atom);
  std::copy_n(c.atoms[atom].cart, 3, gSaveLastAddedAtom.cart);
  gSaveLastAddedAtom.set = true;
}

bool FindAnchor(const CrystalRec *c, int32_t *atom) {
  return gSaveLastAddedAtom.set &&
         FindAtomWithSymbolAndCoordinates(c, gSaveLastAddedAtom.element, gSaveLastAddedAtom.cart, atom);
}

// A point of the graph pane (pixels from its corner) on the screen.
Point PaneToGlobal(WindowRef window, float h, float v) {
  MainWindow *w = GetMainWindow(window);
  if (!w)
    return Point{int16_t(v), int16_t(h)};
  const QPoint g = w->GraphPane()->mapToGlobal(QPoint(int(h), int(v)));
  return Point{int16_t(g.y()), int16_t(g.x())};
}

void Zap(Point global) {
  if (HostServices *host = GetHostServices())
    host->PlaySound(kZapSound);
  ShowZapperPuff(global);
}

// ---- Adding an atom -------------------------------------------------------------------

// Appends one site for the new atom to a crystal and rebuilds it; false
// (with the caution alert, nothing changed) when memory runs out.
bool AddCrystalSite(WindowRef window, ElementCode element, const float cart[3]) {
  CrystalRec &c = *GetWindowCrystal(window);
  float inverse[9];
  if (!Inv3x3Mat(c.orientationMatrix, inverse))
    return false;
  AsymmetricUnitRecord site = gBlankAU;
  site.elements[0] = element;
  site.occupancies[0] = 1.0f;
  MakeNewSiteLabel(element, UsableSiteCount(c), site.label);
  site.atomsPerCell = 1;
  MatMul(inverse, cart, site.xyz);
  MoveVectorIntoCell(site.xyz, site.xyz);
  const int32_t spheresBefore = c.sphereCount;
  try {
    const int32_t type = AtomTypeForElement(c, element);
    if (type < 0)
      throw std::bad_alloc();
    site.atomType = static_cast<uint32_t>(type);
    c.sites.resize(static_cast<size_t>(UsableSiteCount(c)));
    c.sites.push_back(site);
  } catch (const std::bad_alloc &) {
    if (c.sphereCount > spheresBefore) {
      c.spheres.resize(static_cast<size_t>(spheresBefore));
      c.sphereCount = spheresBefore;
    }
    MyCFCautionAlert("Atom creation failed!", "Insufficient memory to create more atoms");
    return false;
  }
  c.siteCount = static_cast<int32_t>(c.sites.size());
  int32_t count = 0;
  std::vector<AtomVisibilityEntry> saved = SaveAtomsVisibilityAndSelection(&c, &count);
  SortAUByElement(&c);
  RunNewCrystal(window, false, false, false);
  CrystalRec &built = *GetWindowCrystal(window);
  // The atoms built take back the visibility they had: a change of the atoms.
  NoteStructureChange(&built, kChangeAtoms);
  RestoreAtomsVisibilityAndSelection(&built, saved, count);
  for (int32_t s = 0; s < UsableSiteCount(built); ++s) {
    const float *xyz = built.sites[static_cast<size_t>(s)].xyz;
    if (std::fabs(xyz[0] - site.xyz[0]) < kNewSiteTolerance && std::fabs(xyz[1] - site.xyz[1]) < kNewSiteTolerance &&
        std::fabs(xyz[2] - site.xyz[2]) < kNewSiteTolerance) {
      ShowSite(&built, s);
      break;
    }
  }
  NewPlot(window, false, false);
  return true;
}

bool AddMoleculeAtom(WindowRef window, ElementCode element, const float cart[3]) {
  if (!AddAtomsWithSymbolAtPoints(window, element, cart, 1, false))
    return false;
  CrystalRec &c = *GetWindowCrystal(window);
  SetSitePolyMode(&c, c.sites.size() - 1, kPolyModeAtom);
  SortMoleculeByElement(&c);
  DimensionPlot(&c, c.plotCentre, &c.plotExtent);
  NewPlot(window, false, true);
  return true;
}

// ---- Bond specifications -----------------------------------------------------------------

// Makes the specification of the two atoms' elements admit their new bond,
// appending one when there is none.
void AdmitNewBond(CrystalRec &c, int32_t a, int32_t b) {
  const float d = FBondDist(&c, a, b);
  const float longest = kNewBondMaxFactor * d;
  const ElementCode ea = SiteElement(c, a), eb = SiteElement(c, b);
  for (int32_t k = 0; k < c.bondSpecCount; ++k) {
    BondSpec &spec = c.bondSpecs[static_cast<size_t>(k)];
    if (!((spec.elementA == ea && spec.elementB == eb) || (spec.elementA == eb && spec.elementB == ea)))
      continue;
    if (longest > spec.maxLength)
      spec.maxLength = longest;
    // The minimum drops below the bond's length, so that the bond survives
    // the next regeneration from the specifications.
    if (spec.minLength >= d)
      spec.minLength = kNewBondMinFactor * d;
    return;
  }
  if (c.bondSpecCount >= kMaxBondSpecs) {
    MyCFStopAlert("Cannot create new bond specification", "Maximum number of specifications reached");
    return;
  }
  BondSpec &spec = c.bondSpecs[static_cast<size_t>(c.bondSpecCount++)];
  spec = BondSpec{ea, eb, 0.0f, longest, c.defaultBondStyle, c.bondColor1, c.bondColor2};
}

uint32_t LargestBondCount(const CrystalRec &c, const AsymmetricUnitRecord &site) {
  uint32_t most = 0;
  const int32_t last = std::min(site.lastAtom, UsableAtomCount(c) - 1);
  for (int32_t i = std::max(site.firstAtom, 0); i <= last; ++i)
    most = std::max(most, c.atoms[static_cast<size_t>(i)].bondCount);
  return most;
}

void RefreshCoordination(CrystalRec &c, int32_t a, int32_t b) {
  if (c.molecule) {
    for (AtomRecord &atom : c.atoms)
      if (atom.site < c.sites.size())
        c.sites[atom.site].coordination = atom.bondCount;
    return;
  }
  const uint32_t sa = c.atoms[a].site, sb = c.atoms[b].site;
  c.sites[sa].coordination = LargestBondCount(c, c.sites[sa]);
  if (sb != sa)
    c.sites[sb].coordination = std::max(c.sites[sb].coordination, LargestBondCount(c, c.sites[sb]));
}

bool Bonded(const AtomRecord &atom, int32_t other) {
  const size_t n = std::min<size_t>(atom.bondCount, atom.bonds.size());
  return std::find(atom.bonds.begin(), atom.bonds.begin() + static_cast<std::ptrdiff_t>(n),
                   static_cast<uint32_t>(other)) != atom.bonds.begin() + static_cast<std::ptrdiff_t>(n);
}

// ---- Zapper and move state ---------------------------------------------------------------

struct ZapTarget {
  WindowRef window = nullptr;
  int32_t atom = -1;
  int32_t radius = 0;
  bool polyhedron = false;
};
ZapTarget gZap;

struct MoveDrag {
  WindowRef window = nullptr;
  Point last;
  bool moved = false;
};
MoveDrag gMove;

} // namespace

bool DoNewEmptyMolecule(WindowRef window) {
  CrystalRec *c = GetWindowCrystal(window);
  if (!c)
    return false;
  ClearCrystalRec(c);
  c->molecule = 1;
  SetWindowFileOpen(window, true);
  return RunNewMolecule(window, false, true, true, false);
}

void DoAddAtom(WindowRef window, Point point, unsigned modifiers) {
  if (!IsWindowFileOpen(window) && !DoNewEmptyMolecule(window))
    return;
  ElementCode element = 0;
  if (!GetAtomPickerElementChoice(&element)) {
    DoShowAtomPickerWindow();
    MyCFStopAlert("Please choose an atom from the palette");
    return;
  }
  CrystalRec *c = GetWindowCrystal(window);
  if (!c)
    return;
  const bool shift = (modifiers & kShiftKey) != 0;
  // A press on anything drawn adds nothing: on an atom of a molecule it
  // bonds that atom to the anchor (with Shift) and makes it the anchor.
  int16_t kind = kHitNothing;
  int32_t hit = -1, radius = 0;
  if (FindClickedObject(window, point, &kind, &hit, &radius) && kind != kHitNothing) {
    if (!c->molecule || kind != kHitAtom || !ValidAtom(c, hit))
      return;
    int32_t anchor = -1;
    if (shift && FindAnchor(c, &anchor))
      AddBondBetweenClickedAtoms(window, hit, anchor);
    else
      RefreshPane(window);
    HiliteAtom(window, hit);
    SetAnchor(*GetWindowCrystal(window), hit);
    return;
  }

  Rect pane;
  GetWindowGraphBounds(window, &pane);
  const float scale = c->plotScale > 0.0f ? c->plotScale : 1.0f;
  const float cart[3] = {c->plotCentre[0] + ((point.h - pane.left) - 0.5f * pane.Width()) / scale,
                         c->plotCentre[1] + (0.5f * pane.Height() - (point.v - pane.top)) / scale, c->frontZ};
  if (!c->molecule) {
    if (!UserAgreesToDiscardSymmetry(window) || !AddCrystalSite(window, element, cart))
      return;
  } else if (!AddMoleculeAtom(window, element, cart)) {
    return;
  }
  UpdateSiteBrowser(window);
  UpdateModelOptions();
  UpdateWindowToolbar(window);

  c = GetWindowCrystal(window);
  int32_t added = -1;
  if (!c->molecule || !FindAtomWithSymbolAndCoordinates(c, element, cart, &added))
    return;
  int32_t anchor = -1;
  if (shift && FindAnchor(c, &anchor))
    AddBondBetweenClickedAtoms(window, added, anchor);
  HiliteAtom(window, added);
  SetAnchor(*GetWindowCrystal(window), added);
}

void AddBondBetweenClickedAtoms(WindowRef window, int32_t atomA, int32_t atomB) {
  CrystalRec *c = GetWindowCrystal(window);
  if (atomA == atomB || !ValidAtom(c, atomA) || !ValidAtom(c, atomB))
    return;
  NoteStructureChange(c, kChangeBonds);
  if (!AddBondListEntry(c, atomA, atomB))
    return;
  DefinePolyhedra(c);
  NewPlot(window, false, false);
  UpdateSiteBrowser(window);
  UpdateModelOptions();
}

void DoAddBond(WindowRef window, Point point, unsigned modifiers) {
  CrystalRec *c = GetWindowCrystal(window);
  if (!HasSitesAndAtoms(c))
    return;
  const bool shift = (modifiers & kShiftKey) != 0;
  int32_t atom = -1, radius = 0;
  if (!AtomUnder(window, point, &atom, &radius))
    return;
  // A count the angle tools left behind, or a first atom an edit removed,
  // starts the tool afresh.
  if (gNumSelAtoms != 1 || !ValidAtom(c, gSelAtom1))
    gNumSelAtoms = 0;
  if (gNumSelAtoms == 0) {
    RefreshPane(window);
    gSelAtom1 = atom;
    gAtomRad1 = radius;
    DrawWindowSubtitle(window, OVLocalizedString("Click_On_Atom_2"));
    HiliteSphere(window, atom, static_cast<float>(radius), true);
    gNumSelAtoms = 1;
    return;
  }
  if (atom == gSelAtom1) {
    SysBeep();
    return;
  }
  gSelAtom2 = atom;
  gAtomRad2 = radius;
  const int32_t a = gSelAtom1, b = gSelAtom2;
  DrawWindowSubtitle(window, "");
  HiliteBond(window, a, b, false, false);
  HiliteSphere(window, a, static_cast<float>(gAtomRad1), true);
  HiliteSphere(window, b, static_cast<float>(gAtomRad2), true);
  RepaintGraphPane(window);

  if (Bonded(c->atoms[a], b)) {
    NoteStructureChange(c, kChangeBonds);
    DeleteBondListEntry(c, a, b);
    DefinePolyhedra(c);
    PlotCrystal(window, 1);
    RepaintGraphPane(window);
    const float h = 0.5f * (c->atoms[a].pixel[0] + c->atoms[b].pixel[0]);
    const float v = 0.5f * (c->atoms[a].pixel[1] + c->atoms[b].pixel[1]);
    Zap(PaneToGlobal(window, h, v));
  } else {
    // A specification the document reader would refuse is not made, nor
    // the bond that needs it.
    if ((shift || c->molecule) && RefuseBondMaximum(kNewBondMaxFactor * FBondDist(c, a, b))) {
      gNumSelAtoms = 0;
      return;
    }
    NoteStructureChange(c, kChangeBonds);
    if (!AddBondListEntry(c, a, b)) {
      MyCFStopAlert("Sorry - an error occurred whilst trying to create the bond!");
      gNumSelAtoms = 0;
      return;
    }
    if (shift || c->molecule)
      AdmitNewBond(*c, a, b);
    if (shift) {
      TurboGenerateBonds(c);
      RefreshCoordination(*c, a, b);
    }
    DefinePolyhedra(c);
    PlotCrystal(window, 1);
    RepaintGraphPane(window);
  }
  UpdateSiteBrowser(window);
  UpdateModelOptions();
  gNumSelAtoms = 0;
}

void DoZapper(WindowRef window, Point point) {
  gZap = ZapTarget{};
  CrystalRec *c = GetWindowCrystal(window);
  int32_t atom = -1, radius = 0;
  if (!HasSitesAndAtoms(c) || !AtomUnder(window, point, &atom, &radius))
    return;
  const AtomRecord &a = c->atoms[atom];
  bool polyhedron = false;
  if (c->modelType == kPolyhedralModel && AtomPolyhedron(c, a)) {
    const AtomDisplayClass kind = GetAtomDisplayClass(*c, a);
    if (kind == kVertexOnlyClass)
      return;
    polyhedron = kind == kPolyhedronClass;
  }
  gZap = ZapTarget{window, atom, radius, polyhedron};
  DrawWindowSubtitle(window, "Release mouse inside selected region to hide the atom");
  if (polyhedron)
    HilitePoly(window, atom, true);
  else
    HiliteSphere(window, atom, static_cast<float>(radius), true);
  RepaintGraphPane(window);
}

void EndZapper(WindowRef window, Point point) {
  const ZapTarget target = gZap;
  gZap = ZapTarget{};
  CrystalRec *c = GetWindowCrystal(window);
  if (target.window != window || !ValidAtom(c, target.atom))
    return;
  DrawWindowSubtitle(window, "");
  Rect pane;
  GetWindowGraphBounds(window, &pane);
  const AtomRecord &a = c->atoms[target.atom];
  const Point local{int16_t(point.v - pane.top), int16_t(point.h - pane.left)};
  const Polyhedron *poly = target.polyhedron ? AtomPolyhedron(c, a) : nullptr;
  const bool inside = target.polyhedron
                          ? poly && My2DPtInPoly(c, local, poly)
                          : std::abs(local.h - a.pixel[0]) < target.radius && std::abs(local.v - a.pixel[1]) < target.radius;
  if (!inside) {
    RefreshPane(window);
    return;
  }
  if (target.polyhedron)
    HideZappedPoly(c, poly);
  else
    HideAtom(c, target.atom);
  ClearHiliteOverlay(window);
  PlotCrystal(window, 1);
  RepaintGraphPane(window);
  const AtomRecord &after = GetWindowCrystal(window)->atoms[target.atom];
  Zap(PaneToGlobal(window, after.pixel[0], after.pixel[1]));
  if (GetWindowCrystal(window)->molecule)
    UpdateSiteBrowser(window);
}

void DoMoveAllAtoms(WindowRef window, Point point) {
  gMove = MoveDrag{window, point, false};
  gTrackBallRotn = 1;
}

void MoveAllAtomsStep(WindowRef window, Point point) {
  CrystalRec *c = GetWindowCrystal(window);
  if (gMove.window != window || !c || !(c->plotScale > 0.0f))
    return;
  const int dh = point.h - gMove.last.h, dv = point.v - gMove.last.v;
  if (dh == 0 && dv == 0)
    return;
  gMove.last = point;
  c->plotCentre[0] -= dh / c->plotScale;
  c->plotCentre[1] += dv / c->plotScale;
  PlotCrystal(window, 1);
  gMove.moved = true;
}

void EndMoveAllAtoms(WindowRef window) {
  const bool moved = gMove.window == window && gMove.moved;
  gMove = MoveDrag{};
  gTrackBallRotn = 0;
  if (moved)
    PlotCrystal(window, 1);
}

void MagnifyPlot(WindowRef window, Point point, unsigned modifiers) {
  CrystalRec *c = GetWindowCrystal(window);
  if (!c || !(c->plotScale > 0.0f))
    return;
  const float factor = (modifiers & (kShiftKey | kOptionKey)) ? kMagnifyOut : kMagnifyIn;
  Rect pane;
  GetWindowGraphBounds(window, &pane);
  const float scale = c->plotScale;
  const float oldCentre[2] = {c->plotCentre[0], c->plotCentre[1]};
  c->plotCentre[0] = ((point.h - pane.left) - std::trunc(0.5f * pane.Width() - oldCentre[0] * scale)) / scale;
  c->plotCentre[1] = ((pane.Height() - (point.v - pane.top)) - std::trunc(0.5f * pane.Height() - oldCentre[1] * scale)) / scale;
  // The interactive bounds hold here too: past them nothing changes.
  if (!ChangeInteractiveScale(window, scale * factor)) {
    c->plotCentre[0] = oldCentre[0];
    c->plotCentre[1] = oldCentre[1];
    return;
  }
  NewPlot(window, false, true);
  DrawRulers(window);
}

void RegisterBuildingTools() {
  ToolHandlers addAtom;
  addAtom.press = [](WindowRef window, Point p, unsigned modifiers) { DoAddAtom(window, p, modifiers); };
  addAtom.worksWithoutStructure = true;
  ToolHandlers addBond;
  addBond.press = [](WindowRef window, Point p, unsigned modifiers) { DoAddBond(window, p, modifiers); };
  ToolHandlers zapper;
  zapper.press = [](WindowRef window, Point p, unsigned) { DoZapper(window, p); };
  zapper.release = [](WindowRef window, Point p) { EndZapper(window, p); };
  ToolHandlers magnify;
  magnify.press = [](WindowRef window, Point p, unsigned modifiers) { MagnifyPlot(window, p, modifiers); };
  // Each tool shows its own cursor; the magnify tool's says which way it
  // zooms.
  auto cursor = [](CocoaCursor shape) {
    return [shape](WindowRef, Point, bool, unsigned) {
      SetCocoaCursor(shape);
      return true;
    };
  };
  addAtom.hover = cursor(kAddAtomCursor);
  addBond.hover = cursor(kAddDeleteBondCursor);
  zapper.hover = cursor(kZapperCursor);
  magnify.hover = [](WindowRef, Point, bool, unsigned modifiers) {
    SetCocoaCursor((modifiers & (kShiftKey | kOptionKey)) ? kMagnifyZoomOutCursor : kMagnifyZoomInCursor);
    return true;
  };
  ToolHandlers move;
  move.press = [](WindowRef window, Point p, unsigned) { DoMoveAllAtoms(window, p); };
  move.move = [](WindowRef window, Point p) { MoveAllAtomsStep(window, p); };
  move.release = [](WindowRef window, Point) { EndMoveAllAtoms(window); };
  move.hover = cursor(kMoveToolCursor);
  RegisterTool(kToolAddAtom, addAtom);
  RegisterTool(kToolAddDeleteBond, addBond);
  RegisterTool(kToolZapper, zapper);
  RegisterTool(kToolMove, move);
  RegisterTool(kToolMagnify, magnify);
}
