#include "FragmentCommandHandler.h"
#include "SelectionCommandHandler.h"

#include "DefineClusterSheet.h"
#include "PlaceMoleculeSheet.h"
#include "PolyhedronSheet.h"
#include "shell/Commands.h"
#include "structurewindow/StructureWindow.h"

#include "Alerts.h"
#include "FragmentCommands.h"
#include "LocalizedStrings.h"
#include "PlotRange.h"
#include "Polyhedra.h"
#include "RenderServices.h"
#include "StructureArrays.h"
#include "documents/UndoHistory.h"
#include "window/MainWindowData.h"

#include <QAction>

#include <algorithm>

namespace {

CrystalRec *FileCrystal(WindowRef window) {
  CrystalRec *c = window ? GetWindowCrystal(window) : nullptr;
  return c && IsWindowFileOpen(window) ? c : nullptr;
}

// A crystal with sites, in a window that holds a file.
CrystalRec *FileCrystalWithSites(WindowRef window) {
  CrystalRec *c = FileCrystal(window);
  return c && !c->molecule && UsableSiteSize(*c) > 0 ? c : nullptr;
}

} // namespace

// Each command makes the structure before it an undo state of its own, so
// that the command is one step; work that fails (a framework, not molecules)
// is taken back by returning to that state, not by an Undo: the history and
// redo lists stay as they were.
void DoRepairMolecularFragments(WindowRef window) {
  CrystalRec *c = FileCrystalWithSites(window);
  if (!c || !HasBondSpecsOrAlert(*c))
    return;
  TakeWindowUndoState(window);
  ShowEverySite(*c);
  if (!RepairMolecularFragments(window)) {
    RestoreWindowUndoState(window);
    return;
  }
  DefinePolyhedra(c);
  NewPlot(window, false, true);
}

void DoRepairMoleculeAtSelection(WindowRef window) {
  CrystalRec *c = FileCrystalWithSites(window);
  if (!c || !CrystalHasSelectedAtoms(c) || !HasBondSpecsOrAlert(*c))
    return;
  TakeWindowUndoState(window);
  bool framework = false;
  if (RepairMoleculeAtSelection(window, &framework, nullptr) || !framework)
    return;
  RestoreWindowUndoState(window);
  MyCFStopAlert("Unable to show entire molecule",
                "This appears to be a fully-interconnected framework, not a molecular crystal");
}

void DoShowMolecularCell(WindowRef window) {
  CrystalRec *c = FileCrystalWithSites(window);
  if (!c || UsableAtomSize(*c) == 0 || !HasBondSpecsOrAlert(*c))
    return;
  TakeWindowUndoState(window);
  if (!ShowMolecularCell(window))
    RestoreWindowUndoState(window);
}

void DoHideMolecularFragments(WindowRef window) {
  CrystalRec *c = FileCrystalWithSites(window);
  if (!c || !HasBondSpecsOrAlert(*c))
    return;
  TakeWindowUndoState(window);
  DrawWindowSubtitle(window, OVLocalizedString("Hiding_Mol_Fragments"));
  if (!HideMolecularFragments(window)) {
    RestoreWindowUndoState(window);
    return;
  }
  PlotCrystal(window, kPlotToWindow);
}

namespace {

const uint32_t kCodes[] = {kCmdRepairMolecularFragments, kCmdRepairMoleculeAtSelection, kCmdRepairBondingAtSelection,
                           kCmdShowMolecularCell,        kCmdHideMolecularFragments,    kCmdHideStrandedAtoms,
                           kCmdShowAsymmetricUnit,       kCmdDefineCluster,             kCmdAutoScale,
                           kCmdPolyhedronFromSelection,  kCmdPlaceMolecule};

bool Owns(uint32_t command) { return std::find(std::begin(kCodes), std::end(kCodes), command) != std::end(kCodes); }

// The crystal-only commands; the rest serve molecules too.
bool CrystalOnly(uint32_t command) {
  return command != kCmdDefineCluster && command != kCmdAutoScale && command != kCmdPolyhedronFromSelection &&
         command != kCmdPlaceMolecule;
}

OSStatus FragmentCommand(uint32_t command, const QVariant &) {
  if (!Owns(command))
    return kEventNotHandledErr;
  WindowRef w = FrontGraphWindow();
  if (!w || !FileCrystal(w) || FrontGraphWindowHasSheet() || RefusesEmptySelection(command, w))
    return kNoErr;
  switch (command) {
  case kCmdRepairMolecularFragments:
    DoRepairMolecularFragments(w);
    break;
  case kCmdRepairMoleculeAtSelection:
    DoRepairMoleculeAtSelection(w);
    break;
  case kCmdRepairBondingAtSelection:
    DoRepairBondingAtSelection(w);
    break;
  case kCmdShowMolecularCell:
    DoShowMolecularCell(w);
    break;
  case kCmdHideMolecularFragments:
    DoHideMolecularFragments(w);
    break;
  case kCmdHideStrandedAtoms:
    DoHideStrandedAtoms(w);
    break;
  case kCmdShowAsymmetricUnit:
    DoShowAsymmetricUnit(w);
    break;
  case kCmdDefineCluster:
    ShowDefineClusterSheet(w, MakeDefineClusterRec(w));
    break;
  case kCmdAutoScale:
    DoAutoScale(w);
    break;
  case kCmdPolyhedronFromSelection:
    MakePolyhedronFromSelection(w);
    break;
  case kCmdPlaceMolecule:
    ShowPlaceMoleculeSheet(w);
    break;
  default:
    break;
  }
  return kNoErr;
}

OSStatus FragmentCommandStatus(uint32_t command, QAction *action) {
  if (!Owns(command))
    return kEventNotHandledErr;
  WindowRef w = FrontGraphWindow();
  bool enabled = w && !FrontGraphWindowHasSheet() &&
                 (CrystalOnly(command) ? FileCrystalWithSites(w) != nullptr : FileCrystal(w) != nullptr);
  action->setEnabled(enabled);
  return kNoErr;
}

} // namespace

void InstallFragmentCommands() { AddCommandHandler(FragmentCommand, FragmentCommandStatus); }
