// The selection commands reach the engine here for the front structure window.
#include "SelectionCommandHandler.h"
#include "PolyhedronSheet.h"
#include "SelectionSheets.h"

#include "SelectionCommands.h"
#include "StructureArrays.h"
#include "shell/Commands.h"
#include "shell/DontShowAgainSheet.h"
#include "structurewindow/WindowInput.h"
#include "window/MainWindowData.h"

#include <QAction>

namespace {

const uint32_t kCodes[] = {kCmdSelectSymmetryRelated, kCmdSelectNeighbours, kCmdSelectMolecule,    kCmdDeselectAll,
                           kCmdInvertSelection,       kCmdSelectAll,        kCmdCentreOnSelection, kCmdLabelSelection,
                           kCmdHideOtherAtoms,        kCmdHideSelection,    kCmdShowAllAtoms,      kCmdAtomColour,
                           kCmdDeleteAllVectors,      kCmdResetCustomBonds, kCmdDetachSelection,   kCmdHideOtherMolecules};

bool Owns(uint32_t command) {
  for (uint32_t code : kCodes)
    if (code == command)
      return true;
  return false;
}

WindowRef FrontWithAtoms() {
  WindowRef front = FrontGraphWindow();
  const CrystalRec *crystal = front ? GetWindowCrystal(front) : nullptr;
  return crystal && IsWindowFileOpen(front) && UsableAtomSize(*crystal) > 0 ? front : nullptr;
}

OSStatus SelectionCommand(uint32_t command, const QVariant &) {
  if (!Owns(command))
    return kEventNotHandledErr;
  WindowRef w = FrontWithAtoms();
  if (!w || RefusesEmptySelection(command, w))
    return kNoErr;
  switch (command) {
  case kCmdSelectSymmetryRelated:
    DoSelectSymmetryRelatedSites(w);
    break;
  case kCmdSelectNeighbours:
    DoSelectNeighbours(w);
    break;
  case kCmdSelectMolecule:
    DoSelectEntireMolecule(w);
    break;
  case kCmdDeselectAll:
    DoDeselectEntirePlot(w);
    break;
  case kCmdInvertSelection:
    DoInvertSelection(w);
    break;
  case kCmdSelectAll:
    DoSelectPlot(w, true, true, true);
    break;
  case kCmdCentreOnSelection:
    DoCentreOnSelection(w);
    break;
  case kCmdLabelSelection:
    ToggleSelectionLabels(w);
    break;
  case kCmdHideOtherAtoms:
    HideOtherAtoms(w);
    break;
  case kCmdHideSelection:
    DoHideSelectedAtoms(w);
    break;
  case kCmdShowAllAtoms:
    ShowAllAtoms(w);
    break;
  case kCmdAtomColour:
    DoChangeAtomColour(w);
    break;
  case kCmdDeleteAllVectors:
    DoDeleteAllVectors(w);
    break;
  case kCmdResetCustomBonds:
    DoResetCustomBonds(w);
    break;
  case kCmdDetachSelection:
    DetachSelectedAtoms(w);
    break;
  case kCmdHideOtherMolecules:
    DoHideOtherMolecules(w);
    break;
  default:
    break;
  }
  return kNoErr;
}

OSStatus SelectionCommandStatus(uint32_t command, QAction *action) {
  if (!Owns(command))
    return kEventNotHandledErr;
  action->setEnabled(FrontWithAtoms() != nullptr);
  return kNoErr;
}

// The commands that act on the selected atoms and nothing else.
const uint32_t kNeedSelectedAtoms[] = {kCmdCentreOnSelection,     kCmdLabelSelection,      kCmdAtomColour,
                                       kCmdShowCentreOfSelection, kCmdDeleteSelectedAtoms, kCmdAtomStyleMenu,
                                       kCmdPolyhedronFromSelection};

} // namespace

bool RefusesEmptySelection(uint32_t command, WindowRef window) {
  for (uint32_t code : kNeedSelectedAtoms)
    if (code == command)
      return !WindowHasSelection(window);
  return false;
}

void DoHideOtherMolecules(WindowRef window) {
  if (WindowHasSelection(window))
    PerformAfterNotice("HideOtherMolecules", window, HideOtherMolecules);
}

void InstallSelectionCommands() {
  AddCommandHandler(SelectionCommand, SelectionCommandStatus);
  // The Delete key removes selected vectors (and, from the sheets'
  // commands, the selected atoms or sites).
  gWindowInputHooks.deleteSelectedVectors = DeleteSelectedVectors;
  InstallSelectionSheetCommands();
}
