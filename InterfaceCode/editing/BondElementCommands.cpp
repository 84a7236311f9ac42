// The menu commands that open the bonding and element editors.
#include "BondElementCommands.h"

#include "BondingSheet.h"
#include "ElementsWindow.h"
#include "shell/Commands.h"

#include "window/MainWindowData.h"

#include <QAction>

namespace {

bool FrontHoldsStructure() {
  WindowRef front = FrontGraphWindow();
  const CrystalRec *crystal = front ? GetWindowCrystal(front) : nullptr;
  return crystal && IsWindowFileOpen(front) && UsableSiteSize(*crystal) > 0;
}

OSStatus EditorCommand(uint32_t command, const QVariant &argument) {
  if (command == kCmdEditBonding) {
    DoShowEditBondingSheet();
    return kNoErr;
  }
  if (command == kCmdEditElements) {
    DoShowEditElementsWindow();
    return kNoErr;
  }
  if (command == kCmdApplyPresetElementTable) {
    DoApplyPresetElementTable(argument.toString().toStdString());
    return kNoErr;
  }
  return kEventNotHandledErr;
}

OSStatus EditorCommandStatus(uint32_t command, QAction *action) {
  if (command == kCmdEditBonding || command == kCmdApplyPresetElementTable) {
    action->setEnabled(FrontHoldsStructure() && !CurrentBondingSheet());
    return kNoErr;
  }
  if (command == kCmdEditElements || command == kCmdElementTablesMenu) {
    action->setEnabled(true);
    return kNoErr;
  }
  return kEventNotHandledErr;
}

} // namespace

void InstallBondAndElementEditorCommands() { AddCommandHandler(EditorCommand, EditorCommandStatus); }
