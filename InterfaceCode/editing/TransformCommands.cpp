#include "TransformCommands.h"

#include "TransformSheets.h"
#include "render/Background.h"
#include "render/Highlights.h"
#include "render/LatticePlaneDrawing.h"
#include "shell/Commands.h"
#include "shell/DontShowAgainSheet.h"
#include "structurewindow/StructureWindow.h"

#include "Alerts.h"
#include "CellTransform.h"
#include "LatticePlanes.h"
#include "RenderServices.h"
#include "SelectionCommands.h"
#include "SpaceGroups.h"
#include "StructureArrays.h"
#include "SymmetryCards.h"
#include "window/MainWindowData.h"

#include <QAction>

#include <algorithm>
#include <cstdio>

TransformCommandHooks gTransformCommandHooks;

namespace {

// The smallest highlight radius of the distance report, in pixels.
constexpr float kMinPlaneHiliteRadius = 3.0f;

CrystalRec *FileCrystal(WindowRef window) {
  CrystalRec *c = window ? GetWindowCrystal(window) : nullptr;
  return c && IsWindowFileOpen(window) ? c : nullptr;
}

CrystalRec *FileCrystalOnly(WindowRef window) {
  CrystalRec *c = FileCrystal(window);
  return c && !c->molecule && UsableSiteSize(*c) > 0 ? c : nullptr;
}

} // namespace

void DoDiscardSymmetry(WindowRef window) {
  if (!FileCrystalOnly(window))
    return;
  PerformAfterNotice("DiscardSymmetry", window, [](WindowRef w) { DiscardSymmetry(w); });
}

void DoMoveOrigin(WindowRef window) {
  CrystalRec *c = FileCrystalOnly(window);
  if (!c)
    return;
  float frac[3];
  if (GetCentreOfSelection(*c, frac, nullptr) >= 1)
    ShowMoveOriginSheet(window, frac[0], frac[1], frac[2]);
  else
    ShowMoveOriginSheet(window, gMoveOriginDeltaX, gMoveOriginDeltaY, gMoveOriginDeltaZ);
}

void DoTransformCell(WindowRef window) {
  CrystalRec *c = FileCrystalOnly(window);
  if (c)
    ShowTransformCellSheet(window, EffectiveLatticeLetter(c->latticeLetter, c->alpha, c->beta, c->gamma));
}

void DoMoleculeToCrystal(WindowRef window) {
  CrystalRec *c = FileCrystal(window);
  float extents[3];
  if (c && c->molecule && GetMoleculeExtents(*c, extents))
    ShowMoleculeToCrystalSheet(window, extents[0], extents[1], extents[2], 90.0f, 90.0f, 90.0f);
}

void DoCrystalToMolecule(WindowRef window) {
  if (!FileCrystalOnly(window))
    return;
  PerformAfterNotice("CrystalToMolecule", window, [](WindowRef w) {
    CrystalToMolecule(w);
    MyRemoveWindowProxy(w);
  });
}

void DoAutoGenerateBonds(WindowRef window) {
  if (FileCrystal(window))
    PerformAfterNotice("AutoGenerateBonds", window, [](WindowRef w) { AutoGenerateBonds(w); });
}

void BendLattice(WindowRef window) {
  CrystalRec *c = FileCrystal(window);
  if (c && UsableAtomSize(*c) > 0)
    ShowBendRadiusSheet(window, ProposeBendRadius(*c));
}

void DoInsertSpace(WindowRef window) {
  float lowest = 0.0f;
  if (!FileCrystalOnly(window) || !PrepareInsertSpace(window, &lowest))
    return;
  if (gTransformCommandHooks.showInsertSpaceSheet)
    gTransformCommandHooks.showInsertSpaceSheet(window, kDefaultInsertSpaceWidth, lowest);
}

void DoSliceCrystal(WindowRef window) {
  CrystalRec *c = FileCrystal(window);
  if (!c || UsableAtomSize(*c) == 0 || UsableSphereSize(*c) == 0 || c->sortIndexCount < 1)
    return;
  if (!c->plane.shown) {
    MyCFStopAlert("Please display the lattice plane",
                  "Slice at Plane selects the atoms on one side of the lattice plane.");
    return;
  }
  if (SelectSliceSide(*c) == 0) {
    PlotCrystal(window, kPlotToWindow);
    MyCFStopAlert("The lattice plane does not cut the model",
                  "Every atom lies on one side of the plane, so there is nothing to slice off. Drag the plane into "
                  "the model with the plane tool, or choose other indices with Lattice Plane…, then slice again.");
    return;
  }
  PlotCrystal(window, kPlotToWindow);
  if (gTransformCommandHooks.showSliceModelSheet)
    gTransformCommandHooks.showSliceModelSheet(window);
}

void DoDistanceFromPlane(WindowRef window) {
  CrystalRec *c = FileCrystal(window);
  if (!c)
    return;
  if (!CrystalHasSelectedAtoms(c)) {
    MyCFStopAlert("No atoms selected!", "Please select one or more atoms with the arrow tool.");
    return;
  }
  RefreshScreen(window, nullptr);
  for (size_t i = 0; i < UsableAtomSize(*c); i++) {
    const AtomRecord &atom = c->atoms[i];
    if (!atom.visible || !atom.selected || atom.site >= UsableSiteSize(*c))
      continue;
    const AsymmetricUnitRecord &site = c->sites[atom.site];
    char line[128];
    std::snprintf(line, sizeof line, "Atom: %-6s  no.%5ld (%c%c)  lies %8.3f A from plane", site.label,
                  static_cast<long>(i), static_cast<char>(site.elements[0] >> 8),
                  static_cast<char>(site.elements[0] & 0xFF), static_cast<double>(Dist2Plane(c, atom.cart)));
    FWrite(line);
    Line2Plane(window, atom.cart);
    float radius = kMinPlaneHiliteRadius;
    if (atom.atomType < UsableSphereSize(*c)) {
      const Rect &r = c->spheres[atom.atomType].bounds1;
      radius = std::max(radius, static_cast<float>(r.bottom - r.top) / 2.0f);
    }
    HiliteSphere(window, static_cast<int32_t>(i), radius, false);
  }
  SubtitleWindowOutput(window);
}

void DoShowLatticePlaneSheet(WindowRef window) {
  CrystalRec *c = FileCrystal(window);
  if (c && gTransformCommandHooks.showLatticePlaneSheet)
    gTransformCommandHooks.showLatticePlaneSheet(window, MakeLatticePlaneSheetRecord(*c));
}

void DoShowViewDirectionSheet(WindowRef window) {
  CrystalRec *c = FileCrystal(window);
  if (!c)
    return;
  float vertical[3];
  GetCrystalVerticalDirection(*c, vertical);
  if (gTransformCommandHooks.showViewDirectionSheet)
    gTransformCommandHooks.showViewDirectionSheet(window, c->viewDirection, vertical, c->plane.hkl);
}

// ---- The command chain --------------------------------------------------------------------
// The commands whose sheet another window provides stay disabled until that
// sheet's hook is installed.

namespace {

const uint32_t kCodes[] = {kCmdDiscardSymmetry,   kCmdMoveOrigin,        kCmdTransformCell,      kCmdMoleculeToCrystal,
                           kCmdCrystalToMolecule, kCmdAutoGenerateBonds, kCmdBendLattice,        kCmdInsertSpace,
                           kCmdSliceCrystal,      kCmdDistanceFromPlane, kCmdToggleLatticePlane, kCmdLatticePlaneSheet,
                           kCmdViewDirectionSheet};

bool Owns(uint32_t command) { return std::find(std::begin(kCodes), std::end(kCodes), command) != std::end(kCodes); }

OSStatus TransformCommand(uint32_t command, const QVariant &) {
  if (!Owns(command))
    return kEventNotHandledErr;
  WindowRef w = FrontGraphWindow();
  if (!w || !FileCrystal(w) || FrontGraphWindowHasSheet())
    return kNoErr;
  switch (command) {
  case kCmdDiscardSymmetry:
    DoDiscardSymmetry(w);
    break;
  case kCmdMoveOrigin:
    DoMoveOrigin(w);
    break;
  case kCmdTransformCell:
    DoTransformCell(w);
    break;
  case kCmdMoleculeToCrystal:
    DoMoleculeToCrystal(w);
    break;
  case kCmdCrystalToMolecule:
    DoCrystalToMolecule(w);
    break;
  case kCmdAutoGenerateBonds:
    DoAutoGenerateBonds(w);
    break;
  case kCmdBendLattice:
    BendLattice(w);
    break;
  case kCmdInsertSpace:
    DoInsertSpace(w);
    break;
  case kCmdSliceCrystal:
    DoSliceCrystal(w);
    break;
  case kCmdDistanceFromPlane:
    DoDistanceFromPlane(w);
    break;
  case kCmdToggleLatticePlane:
    ToggleLatticePlane(w);
    break;
  case kCmdLatticePlaneSheet:
    DoShowLatticePlaneSheet(w);
    break;
  case kCmdViewDirectionSheet:
    DoShowViewDirectionSheet(w);
    break;
  default:
    break;
  }
  return kNoErr;
}

OSStatus TransformCommandStatus(uint32_t command, QAction *action) {
  if (!Owns(command))
    return kEventNotHandledErr;
  WindowRef w = FrontGraphWindow();
  const CrystalRec *c = w ? FileCrystal(w) : nullptr;
  const bool crystal = c && !c->molecule && UsableSiteSize(*c) > 0;
  const bool molecule = c && c->molecule && UsableAtomSize(*c) > 0;
  bool enabled = c != nullptr;
  switch (command) {
  case kCmdDiscardSymmetry:
  case kCmdMoveOrigin:
  case kCmdTransformCell:
  case kCmdCrystalToMolecule:
    enabled = crystal;
    break;
  case kCmdMoleculeToCrystal:
    enabled = molecule;
    break;
  case kCmdBendLattice:
    enabled = c && UsableAtomSize(*c) > 0;
    break;
  case kCmdSliceCrystal:
    enabled = c && UsableAtomSize(*c) > 0 && gTransformCommandHooks.showSliceModelSheet;
    break;
  case kCmdInsertSpace:
    enabled = crystal && c->plane.shown && gTransformCommandHooks.showInsertSpaceSheet;
    break;
  case kCmdLatticePlaneSheet:
    enabled = c && gTransformCommandHooks.showLatticePlaneSheet;
    break;
  case kCmdViewDirectionSheet:
    enabled = c && gTransformCommandHooks.showViewDirectionSheet;
    break;
  case kCmdDistanceFromPlane:
    enabled = c && CrystalHasSelectedAtoms(c);
    break;
  case kCmdToggleLatticePlane:
    action->setCheckable(true);
    action->setChecked(c && c->plane.shown);
    break;
  default:
    break;
  }
  action->setEnabled(enabled);
  return kNoErr;
}

} // namespace

void InstallTransformCommands() { AddCommandHandler(TransformCommand, TransformCommandStatus); }
