#include "ToolbarCommands.h"

#include "AtomPicker.h"
#include "BuildingTools.h"
#include "MainWindow.h"
#include "MeasureTools.h"
#include "StructureWindow.h"
#include "WindowInput.h"
#include "shell/Commands.h"

#include "FragmentCommands.h"
#include "PlotRange.h"
#include "StructureArrays.h"
#include "ViewOrientation.h"
#include "render/AtomLabels.h"
#include "render/PlotPipeline.h"
#include "window/MainWindowData.h"

#include <QAction>

namespace {

struct ToolCommand {
  const char *code;
  ToolID tool;
};
constexpr ToolCommand kToolCommands[] = {
    {"ArwT", kToolArrow},   {"B+-T", kToolAddDeleteBond}, {"BnDT", kToolBondDistance}, {"BAnT", kToolBondAngle},
    {"RotT", kToolRotate},  {"LasT", kToolLasso},         {"At+T", kToolAddAtom},      {"AngT", kToolAngle},
    {"PlnT", kToolPlane},   {"DstT", kToolDistance},      {"MovT", kToolMove},         {"ZapT", kToolZapper},
    {"PolT", kToolPolygon}, {"MagT", kToolMagnify},
};

// The tools whose picks and prompts belong to them alone.
bool PicksAtoms(ToolID tool) {
  return tool == kToolBondDistance || tool == kToolBondAngle || tool == kToolAddDeleteBond;
}

bool HasStructure(WindowRef window) { return window && IsWindowFileOpen(window) && GetWindowCrystal(window); }

void ChooseTool(ToolID tool) {
  const ToolID previous = gCurrentTool;
  gCurrentTool = tool;
  // Choosing a tool ends the space bar's borrowed rotate tool.
  gTemporaryRotationMode = 0;
  // An atom picked for one tool means nothing to the next, and no window
  // keeps a finished measurement from the hover of the new tool.
  gNumSelAtoms = 0;
  for (MainWindow *w : AllGraphWindows()) {
    WindowRef window = w->Ref();
    SetWindowMeasurementToolLocked(window, false);
    CancelFreeMeasurement(window);
    if (previous != tool && PicksAtoms(previous) && !w->Subtitle().empty())
      DrawWindowSubtitle(window, "");
  }
}

void Zoom(float factor) {
  WindowRef window = FrontGraphWindow();
  CrystalRec *crystal = HasStructure(window) ? GetWindowCrystal(window) : nullptr;
  if (!crystal || !ChangeInteractiveScale(window, crystal->plotScale * factor))
    return;
  NewPlot(window, false, true);
  DrawRulers(window);
}

void AutoCentre() {
  WindowRef window = FrontGraphWindow();
  if (!HasStructure(window))
    return;
  CrystalRec *crystal = GetWindowCrystal(window);
  // The extent stays: only the centre follows the plotted atoms.
  float extent = crystal->plotExtent;
  DimensionPlot(crystal, crystal->plotCentre, &extent);
  NewPlot(window, false, true);
}

void AutoScale() {
  WindowRef window = FrontGraphWindow();
  if (!HasStructure(window))
    return;
  DoAutoScale(window);
  DrawRulers(window);
}

bool AllLabelsShow(WindowRef window) {
  const CrystalRec *crystal = HasStructure(window) ? GetWindowCrystal(window) : nullptr;
  if (!crystal || UsableAtomCount(*crystal) == 0)
    return false;
  for (int32_t i = 0; i < UsableAtomCount(*crystal); ++i)
    if (!crystal->atoms[static_cast<size_t>(i)].labelled)
      return false;
  return true;
}

OSStatus ToolbarCommand(uint32_t command, const QVariant &) {
  WindowRef front = FrontGraphWindow();
  if (ToolID tool = ToolForCommand(command)) {
    if (tool == kToolRotate)
      DoRotateTool(front);
    else if (tool == kToolAddAtom)
      DoAddAtomTool(front);
    else
      DoGenericTool(front, tool);
    return kNoErr;
  }
  switch (command) {
  case kCmdZoomIn:
    Zoom(kMagnifyIn);
    return kNoErr;
  case kCmdZoomOut:
    Zoom(kMagnifyOut);
    return kNoErr;
  case kCmdAutoCentre:
    AutoCentre();
    return kNoErr;
  case kCmdAutoScaleView:
    AutoScale();
    return kNoErr;
  case kCmdShowAllLabels:
    if (HasStructure(front))
      ToggleShowAllLabels(front);
    return kNoErr;
  default:
    return kEventNotHandledErr;
  }
}

OSStatus ToolbarCommandStatus(uint32_t command, QAction *action) {
  if (ToolID tool = ToolForCommand(command)) {
    action->setCheckable(true);
    action->setChecked(gCurrentTool == tool);
    action->setEnabled(true);
    return kNoErr;
  }
  WindowRef front = FrontGraphWindow();
  switch (command) {
  case kCmdZoomIn:
  case kCmdZoomOut:
  case kCmdAutoCentre:
  case kCmdAutoScaleView:
    action->setEnabled(HasStructure(front));
    return kNoErr;
  case kCmdShowAllLabels:
    action->setEnabled(HasStructure(front) && UsableAtomCount(*GetWindowCrystal(front)) > 0);
    action->setCheckable(true);
    action->setChecked(AllLabelsShow(front));
    return kNoErr;
  default:
    return kEventNotHandledErr;
  }
}

} // namespace

ToolID ToolForCommand(uint32_t command) {
  for (const ToolCommand &t : kToolCommands)
    if (FourCharsToLong(t.code) == command)
      return t.tool;
  return 0;
}

void DoGenericTool(WindowRef, ToolID tool) { ChooseTool(tool); }

void DoRotateTool(WindowRef) { ChooseTool(kToolRotate); }

void DoAddAtomTool(WindowRef) {
  ChooseTool(kToolAddAtom);
  DoShowAtomPickerWindow();
}

void InstallToolbarCommands() { AddCommandHandler(ToolbarCommand, ToolbarCommandStatus); }
