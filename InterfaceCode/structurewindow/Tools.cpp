#include "Tools.h"

#include "ArrowTool.h"
#include "AtomPicker.h"
#include "BuildingTools.h"
#include "StructureSheets.h"
#include "ViewDirection.h"
#include "LatticePlanes.h"
#include "InfoTip.h"
#include "MeasureTools.h"
#include "ViewOrientation.h"
#include "window/MainWindowData.h"

#include <map>

namespace {

std::map<ToolID, ToolHandlers> &ToolTable() {
  static std::map<ToolID, ToolHandlers> table;
  return table;
}

// The plane tool turns the view with Option held; that drag then belongs to
// the trackball until the release.
bool gPlaneDragTurns = false;
Point gPlaneLast;

} // namespace

void RegisterTool(ToolID tool, ToolHandlers handlers) { ToolTable()[tool] = std::move(handlers); }

const ToolHandlers *FindTool(ToolID tool) {
  auto it = ToolTable().find(tool);
  return it == ToolTable().end() ? nullptr : &it->second;
}

void RegisterWindowTools() {
  RegisterMeasureTools();
  RegisterArrowTools();
  InstallInfoTip();
  // The building tools (add atom, add/delete bond, zapper, move, magnify) and
  // the element picker the add-atom tool takes its elements from; the view
  // direction presets and the Copy Graphics sheet.
  RegisterBuildingTools();
  InstallAtomPicker();
  InstallViewDirectionCommands();
  InstallStructureSheetCommands();

  ToolHandlers rotate;
  rotate.press = [](WindowRef window, Point p, unsigned) {
    DrawWindowSubtitle(window, "");
    TrackBall(window, p);
  };
  rotate.move = [](WindowRef window, Point p) {
    if (IsTrackBallActive())
      TrackBallMove(window, p);
  };
  rotate.release = [](WindowRef window, Point) {
    if (IsTrackBallActive())
      EndTrackBall(window);
  };
  rotate.hover = [](WindowRef, Point, bool down, unsigned) {
    SetCocoaCursor(down ? kClosedHandCursor : kOpenHandCursor);
    return true;
  };
  RegisterTool(kToolRotate, rotate);

  ToolHandlers plane;
  plane.press = [](WindowRef window, Point p, unsigned modifiers) {
    gPlaneDragTurns = (modifiers & kOptionKey) != 0;
    if (gPlaneDragTurns) {
      TrackBall(window, p);
      return;
    }
    gPlaneLast = p;
    StartMoveLatticePlane(window);
  };
  plane.move = [](WindowRef window, Point p) {
    if (gPlaneDragTurns) {
      if (IsTrackBallActive())
        TrackBallMove(window, p);
      return;
    }
    MoveLatticePlane(window, gPlaneLast, p);
    gPlaneLast = p;
  };
  plane.release = [](WindowRef window, Point) {
    if (gPlaneDragTurns) {
      if (IsTrackBallActive())
        EndTrackBall(window);
    } else {
      EndMoveLatticePlane(window);
    }
    gPlaneDragTurns = false;
  };
  plane.hover = [](WindowRef, Point, bool, unsigned) {
    SetCocoaCursor(kPlaneCursor);
    return true;
  };
  RegisterTool(kToolPlane, plane);
}
