#include "WindowInput.h"

#include "MainWindow.h"
#include "NotesPane.h"
#include "PaneDrawing.h"
#include "StructureWindow.h"
#include "InfoTip.h"
#include "InfoTool.h"
#include "MeasureTools.h"
#include "Tools.h"
#include "AnnotationEditing.h"
#include "ArrowTool.h"
#include "ContextMenus.h"
#include "ToolbarCommands.h"
#include "EditAnnotation.h"
#include "AtomOperations.h"
#include "shell/Commands.h"
#include "shell/Toolbars.h"
#include "shell/ToolCursors.h"
#include "inspectors/InspectorKit.h"

#include "Alerts.h"
#include "AutoRotate.h"
#include "HandController.h"
#include "PlotRange.h"
#include "Preferences.h"
#include "StructureArrays.h"
#include "ViewOrientation.h"
#include "render/OffScreen.h"
#include "render/PlotPipeline.h"
#include "window/MainWindowData.h"

#include <QAction>
#include <QApplication>
#include <QSysInfo>
#include <QTimer>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QTextEdit>
#include <QWheelEvent>
#include <QWindowStateChangeEvent>
#include <cmath>

uint8_t gTemporaryRotationMode = 0;
int16_t gSaveCurrentTool = kToolRotate;
float gRotatorAngle = 2.0f;
uint32_t gVDividerLastTickCount = 0;
uint32_t gHDividerLastTickCount = 0;
WindowInputHooks gWindowInputHooks;
std::string gSystemVersionString;

const std::string &SystemVersionString() {
  if (gSystemVersionString.empty()) {
    const QStringList parts = QSysInfo::productVersion().split('.');
    int v[3] = {0, 0, 0};
    for (int i = 0; i < 3 && i < parts.size(); ++i)
      v[i] = parts[i].toInt();
    gSystemVersionString = QString::asprintf("%d.%d.%d", v[0], v[1], v[2]).toStdString();
  }
  return gSystemVersionString;
}

namespace {

// Below this the rotation keys use their default angle.
constexpr float kMinRotatorAngle = 0.001f;
constexpr float kDefaultRotatorAngle = 2.0f;
// Option makes a translation key move this many pixels.
constexpr int kLargeTranslationStep = 50;

unsigned ModifiersOf(Qt::KeyboardModifiers m) {
  unsigned bits = 0;
  if (m & Qt::ControlModifier)
    bits |= kCommandKey;
  if (m & Qt::AltModifier)
    bits |= kOptionKey;
  if (m & Qt::ShiftModifier)
    bits |= kShiftKey;
  if (m & Qt::MetaModifier)
    bits |= kControlKey;
  return bits;
}

bool HasStructure(WindowRef window) { return IsWindowFileOpen(window) && GetWindowCrystal(window); }

// Ctrl with the primary button is the secondary click, as in every other
// window, except in the graph pane while the tool drags the trackball: there
// Ctrl-drag zooms.
bool CtrlDragsTrackball(bool graphPane, unsigned mods) {
  return graphPane && (gCurrentTool == kToolRotate || (gCurrentTool == kToolPlane && (mods & kOptionKey)));
}

bool IsContextualClick(Qt::MouseButton button, unsigned mods, bool graphPane) {
  return button == Qt::RightButton ||
         (button == Qt::LeftButton && (mods & kCommandKey) && !CtrlDragsTrackball(graphPane, mods));
}

// A press in the notes that opens their menu.
bool IsNotesContextualClick(const QEvent *event) {
  if (event->type() != QEvent::MouseButtonPress && event->type() != QEvent::MouseButtonDblClick)
    return false;
  const auto *e = static_cast<const QMouseEvent *>(event);
  return IsContextualClick(e->button(), ModifiersOf(e->modifiers()), false);
}

// The one drag in progress: a tool's, or one of the sidebar dividers.
struct Drag {
  enum Kind { kNone, kTool, kDivider, kHeader } kind = kNone;
  MainWindow *window = nullptr;
  ToolID tool = 0;
  int last = 0;      // the previous mouse x (divider) or y (header)
  int startWidth = 0; // the sidebar's width before the drag
  float startSplit = 0;
  bool moved = false;
};
Drag gDrag;

uint32_t DoubleClickTicks() { return static_cast<uint32_t>(QApplication::doubleClickInterval() * 60 / 1000); }

QPoint ContentPoint(MainWindow *w, QObject *watched, const QPointF &local) {
  auto *widget = qobject_cast<QWidget *>(watched);
  if (!widget || widget == w->Content())
    return local.toPoint();
  // An event a pane left unhandled reaches the window itself, which is no
  // child of the content: it is mapped through the screen.
  if (!w->Content()->isAncestorOf(widget))
    return w->Content()->mapFromGlobal(widget->mapToGlobal(local.toPoint()));
  return widget->mapTo(w->Content(), local.toPoint());
}

Point ToPoint(const QPoint &p) { return Point{int16_t(p.y()), int16_t(p.x())}; }

void RefreshCursor(MainWindow *w);

// ---- Tools --------------------------------------------------------------------

// The letters that choose tools and actions.
uint32_t LetterCommand(QChar c) {
  switch (c.toUpper().unicode()) {
  case '+':
  case '=':
    return kCmdZoomIn;
  case '-':
  case '_':
    return kCmdZoomOut;
  case 'A':
    return FourCharsToLong("ArwT");
  case 'B':
    return FourCharsToLong("B+-T");
  case 'C':
    return kCmdAutoCentre;
  case 'D':
    return FourCharsToLong("BnDT");
  case 'F':
    return gFillScreen ? kCmdStandardSize : kCmdFillScreen;
  case 'G':
    return FourCharsToLong("BAnT");
  case 'H':
    return FourCharsToLong("RotT");
  case 'K':
    return kCmdAutoScaleView;
  case 'L':
    return FourCharsToLong("LasT");
  case 'M':
    return FourCharsToLong("At+T");
  case 'N':
    return FourCharsToLong("AngT");
  case 'P':
    return FourCharsToLong("PlnT");
  case 'R':
    return FourCharsToLong("DstT");
  case 'V':
    return FourCharsToLong("MovT");
  case 'X':
    return FourCharsToLong("ZapT");
  case 'Y':
    return FourCharsToLong("PolT");
  case 'Z':
    return FourCharsToLong("MagT");
  default:
    return 0;
  }
}

// ---- Keys ---------------------------------------------------------------------

OSStatus GraphKeyDown(MainWindow *w, QKeyEvent *e) {
  WindowRef window = w->Ref();
  const unsigned mods = ModifiersOf(e->modifiers());
  if (mods & (kCommandKey | kOptionKey | kControlKey)) {
    // Option still changes the step of the arrow keys.
    if ((mods & (kCommandKey | kControlKey)) || !(e->key() >= Qt::Key_Left && e->key() <= Qt::Key_Down))
      return kEventNotHandledErr;
  }
  gShowProgress = 0;
  MainWindowData *d = GetMainWindowData(window);
  if (!d)
    return kNoErr;
  const int key = e->key();
  // A running free measurement takes every key.
  if (IsFreeMeasurementActive(window)) {
    if (const ToolHandlers *tool = FindTool(gCurrentTool); tool && tool->key)
      tool->key(window, key, mods);
    else
      CancelFreeMeasurement(window);
    return kNoErr;
  }
  // A polygon being drawn takes every key: Escape cancels it.
  if (IsPolygonRegionActive(window)) {
    if (const ToolHandlers *tool = FindTool(kToolPolygon); tool && tool->key)
      tool->key(window, key, mods);
    return kNoErr;
  }
  if (key == Qt::Key_Escape) {
    if (IsWindowAutoRotating(window))
      SetWindowAutoRotating(window, false);
    else if (gFillScreen)
      DoToolbarCommand(kCmdStandardSize);
    return kNoErr;
  }
  if (key == Qt::Key_Tab) {
    if (gWindowInputHooks.toggleFloatingWindows)
      gWindowInputHooks.toggleFloatingWindows();
    return kNoErr;
  }
  if (key == Qt::Key_Space) {
    if (HasStructure(window) && !gTemporaryRotationMode) {
      gTemporaryRotationMode = 1;
      gSaveCurrentTool = gCurrentTool;
      gCurrentTool = kToolRotate;
      RefreshCursor(w);
    }
    return kNoErr;
  }
  if (const ToolHandlers *tool = FindTool(gCurrentTool); tool && tool->key)
    if (tool->key(window, key, mods) != kEventNotHandledErr)
      return kNoErr;
  const QString text = e->text();
  if (text.size() == 1 && text[0].unicode() >= 43 && text[0].unicode() <= 122 &&
      !(e->modifiers() & Qt::KeypadModifier)) {
    const QChar c = text[0];
    if (c.toUpper() == 'O') {
      ToggleRotateSelection();
      RefreshCursor(w);
      return kNoErr;
    }
    if (uint32_t command = LetterCommand(c)) {
      DoToolbarCommand(command);
      RefreshCursor(w);
      return kNoErr;
    }
  }
  CrystalRec *crystal = GetWindowCrystal(window);
  if (!HasStructure(window) || !(crystal->plotScale > 0))
    return kNoErr;
  const bool rotate = gCurrentTool == kToolRotate;
  const bool shift = mods & kShiftKey;
  const bool keypad = e->modifiers() & Qt::KeypadModifier;
  // Each key's plot notes its change (NoteWindowChange), the down arrow's
  // view change as much as the others'.
  if (keypad && key >= Qt::Key_1 && key <= Qt::Key_9) {
    switch (key) {
    case Qt::Key_1:
    case Qt::Key_9:
      DoRotationKeystroke(window, 0, 0, 1);
      break;
    case Qt::Key_2:
      DoRotationKeystroke(window, 1, 0, 0);
      break;
    case Qt::Key_3:
    case Qt::Key_7:
      DoRotationKeystroke(window, 0, 0, -1);
      break;
    case Qt::Key_4:
      DoRotationKeystroke(window, 0, -1, 0);
      break;
    case Qt::Key_6:
      DoRotationKeystroke(window, 0, 1, 0);
      break;
    case Qt::Key_8:
      DoRotationKeystroke(window, -1, 0, 0);
      break;
    default:
      break;
    }
  } else if (key == Qt::Key_Left) {
    rotate ? DoRotationKeystroke(window, 0, shift ? 0 : -1, shift ? 1 : 0) : DoTranslationKeystroke(window, -1, 0);
  } else if (key == Qt::Key_Right) {
    rotate ? DoRotationKeystroke(window, 0, shift ? 0 : 1, shift ? -1 : 0) : DoTranslationKeystroke(window, 1, 0);
  } else if (key == Qt::Key_Down) {
    rotate ? DoRotationKeystroke(window, shift ? 0 : 1, 0, shift ? -1 : 0) : DoTranslationKeystroke(window, 0, -1);
  } else if (key == Qt::Key_Up) {
    rotate ? DoRotationKeystroke(window, shift ? 0 : -1, 0, shift ? 1 : 0) : DoTranslationKeystroke(window, 0, 1);
  } else if (key == Qt::Key_Backspace || key == Qt::Key_Delete) {
    if (gWindowInputHooks.deleteSelectedObjects)
      gWindowInputHooks.deleteSelectedObjects(window);
    if (CountNumSelectedAtoms(crystal) > 0 && gWindowInputHooks.deleteSelectedAtoms)
      gWindowInputHooks.deleteSelectedAtoms(window);
    if (gWindowInputHooks.deleteSelectedVectors)
      gWindowInputHooks.deleteSelectedVectors(window);
    // The info tip and the info atom may name atoms that are gone now.
    gInfoAtomNum = kNoInfoAtom;
    if (gRemoveInfoTipHook)
      gRemoveInfoTipHook(window);
  } else if (key == Qt::Key_Return || key == Qt::Key_Enter) {
    if (gWindowInputHooks.deselectAllObjects && gWindowInputHooks.deselectAllObjects(window))
      PlotCrystal(window, 1);
  }
  return kNoErr;
}

// ---- Cursor and hover ---------------------------------------------------------

QPoint MouseInContent(MainWindow *w) {
  HostServices *host = GetHostServices();
  const Point p = host ? host->PointerPosition(w->Ref()) : Point{};
  return QPoint(p.h, p.v);
}

OSStatus MouseMoved(MainWindow *w, const QPoint &p, unsigned mods, bool buttonDown) {
  WindowRef window = w->Ref();
  if (GetMainWindow(FrontGraphWindow()) != w)
    return kEventNotHandledErr;
  if ((mods & kCommandKey) && !CtrlDragsTrackball(true, mods)) {
    SetCocoaCursor(kArrowCursor);
    return kNoErr;
  }
  MainWindowData *d = GetMainWindowData(window);
  if (!w->Ruler()->isHidden() && w->Ruler()->geometry().contains(p)) {
    SetCocoaCursor(kArrowCursor);
    // Units 1 are Angstrom, 2 nanometres: the tag offers the other one.
    const char *tag = GetWindowRulerUnits(window) == 2 ? "Click to change ruler units to Angstroms"
                                                       : "Click to change ruler units to nanometres";
    if (HostServices *host = GetHostServices())
      host->ShowHelpTag(window, Rect{int16_t(p.y() - 10), int16_t(p.x() - 10), int16_t(p.y() + 10), int16_t(p.x() + 10)},
                        tag);
    return kNoErr;
  }
  QRect graph = w->GraphPane()->geometry().adjusted(8, 0, d && d->showSidebar ? 0 : -8, -8);
  if (!graph.contains(p)) {
    // Leaving the pane abandons a free measurement.
    CancelFreeMeasurement(window);
    return kEventNotHandledErr;
  }
  // The arrow tool identifies what lies under the mouse, except over the
  // handle of a selected annotation object.
  bool onHandle = false;
  const bool overHandle = gCurrentTool == kToolArrow && MouseOverTextBox(ToPoint(p), window, &onHandle) && onHandle;
  const bool info = gCurrentTool == kToolArrow && !overHandle && !buttonDown && !IsWindowMeasurementToolLocked(window);
  if (info)
    DoInfoTool(window, ToPoint(p), false);
  if (const ToolHandlers *tool = FindTool(gCurrentTool); tool && tool->hover)
    return tool->hover(window, ToPoint(p), buttonDown, mods) || info ? kNoErr : kEventNotHandledErr;
  return info ? kNoErr : kEventNotHandledErr;
}

bool IsModifierKey(int key) {
  return key == Qt::Key_Shift || key == Qt::Key_Control || key == Qt::Key_Alt || key == Qt::Key_Meta ||
         key == Qt::Key_AltGr;
}

// A modifier key went down or up: with the info tip showing, Shift and Alt
// together flip its title; otherwise the cursor follows the new modifiers.
void ModifiersChanged(MainWindow *w, Qt::KeyboardModifiers modifiers) {
  if (!InfoTipModifiersChanged(w->Ref(), modifiers))
    MouseMoved(w, MouseInContent(w), ModifiersOf(modifiers), false);
}

// The mouse left the graph pane (for the sidebar, a menu, another window):
// the info tip goes, unless the mouse went onto the tip itself.
void LeftGraphPane(MainWindow *w) {
  WindowRef window = w->Ref();
  if (gMouseOverInfoTipHook && gMouseOverInfoTipHook(window, ToPoint(MouseInContent(w))))
    return;
  if (gRemoveInfoTipHook)
    gRemoveInfoTipHook(window);
  // Back on the same atom the tip comes again.
  gInfoAtomNum = kNoInfoAtom;
}

// A deactivated, hidden or minimised window hides its info tip until it is
// active again.
void HideInfoTip(WindowRef window) {
  if (InfoTipWidget *tip = GetWindowInfoTip(window))
    tip->hide();
}

// Full screen keeps the windows as they are: the window manager's minimise
// and maximise are undone with a beep (the Window menu's beep before they
// act). Our own undoing comes back from the window system without one.
bool WindowStateChanged(MainWindow *w, QWindowStateChangeEvent *e) {
  const Qt::WindowStates refused = Qt::WindowMinimized | Qt::WindowMaximized;
  if (w->windowState() & Qt::WindowMinimized)
    HideInfoTip(w->Ref());
  if (!gFillScreen || !(w->windowState() & refused) || (e->oldState() & refused))
    return false;
  if (e->spontaneous())
    SysBeep();
  w->setWindowState(e->oldState());
  return true;
}

void RefreshCursor(MainWindow *w) { MouseMoved(w, MouseInContent(w), ModifiersOf(QApplication::keyboardModifiers()), false); }

// ---- Mouse --------------------------------------------------------------------

OSStatus MouseDown(MainWindow *w, QObject *watched, QMouseEvent *e) {
  WindowRef window = w->Ref();
  MainWindowData *d = GetMainWindowData(window);
  if (!d)
    return kEventNotHandledErr;
  const QPoint p = ContentPoint(w, watched, e->position());
  const unsigned mods = ModifiersOf(e->modifiers());
  if (IsContextualClick(e->button(), mods, watched == w->GraphPane())) {
    int which = watched == w->GraphPane() ? 0 : -1;
    if (which < 0)
      return kEventNotHandledErr;
    const QPoint global = e->globalPosition().toPoint();
    if (gWindowInputHooks.contextualMenu && gWindowInputHooks.contextualMenu(window, which, global.x(), global.y()))
      return kNoErr;
    return kEventNotHandledErr;
  }
  if (e->button() != Qt::LeftButton)
    return kEventNotHandledErr;
  // A polygon being drawn closes at a press outside the graph pane.
  if (watched != w->GraphPane() && IsPolygonRegionActive(window)) {
    ClosePolygonRegion(window);
    return kNoErr;
  }
  // A press in the atoms pane is its list's.
  if (watched == w->AtomsContainer()) {
    d->graphHasFocus = 0;
    return kEventNotHandledErr;
  }
  d->graphHasFocus = 1;
  w->GraphPane()->setFocus(Qt::MouseFocusReason);
  if (watched == w->GraphPane()) {
    const bool structure = HasStructure(window);
    const ToolHandlers *tool = FindTool(gCurrentTool);
    if (tool && tool->press && (structure || tool->worksWithoutStructure)) {
      gDrag = Drag{Drag::kTool, w, gCurrentTool};
      tool->press(window, ToPoint(p), mods);
    }
    return kNoErr;
  }
  if (watched == w->Divider()) {
    const uint32_t now = TickCount();
    if (gVDividerLastTickCount && now - gVDividerLastTickCount <= DoubleClickTicks()) {
      gVDividerLastTickCount = 0;
      HideSidebar(window);
      return kNoErr;
    }
    gVDividerLastTickCount = now;
    if (d->showAtoms || d->showNotes)
      gDrag = Drag{Drag::kDivider, w, 0, p.x(), w->Panes().notes.Width()};
    return kNoErr;
  }
  if (watched == w->NoteHeader()) {
    const uint32_t now = TickCount();
    if (gHDividerLastTickCount && now - gHDividerLastTickCount <= DoubleClickTicks()) {
      gHDividerLastTickCount = 0;
      if (d->showAtoms)
        ToggleNotesPane(window);
      else
        ToggleAtomsPane(window);
      return kNoErr;
    }
    gHDividerLastTickCount = now;
    if (d->showAtoms && d->showNotes)
      gDrag = Drag{Drag::kHeader, w, 0, p.y(), 0, d->sidebarSplit};
    return kNoErr;
  }
  if (watched == w->Ruler()) {
    ToggleRulerUnits(window);
    return kNoErr;
  }
  return kEventNotHandledErr;
}

void DividerDrag(MainWindow *w, const QPoint &p) {
  WindowRef window = w->Ref();
  const int dx = p.x() - gDrag.last;
  if (dx == 0)
    return;
  const int width = w->Panes().notes.Width(); // as laid out: a small window narrows it
  const int newWidth = width - dx;
  if (newWidth > kMaxSidebarWidth || p.x() < kMinDividerMouseX)
    return;
  gDrag.last = p.x();
  gDrag.moved = true;
  if (newWidth < kMinSidebarWidth) {
    // Too narrow: the sidebar goes, keeping the width it had for next time.
    ChangeSidebarWidth(window, width - gDrag.startWidth);
    HideSidebar(window);
    gDrag.kind = Drag::kNone;
    return;
  }
  ChangeSidebarWidth(window, dx);
}

void HeaderDrag(MainWindow *w, const QPoint &p) {
  WindowRef window = w->Ref();
  MainWindowData *d = GetMainWindowData(window);
  const int dy = p.y() - gDrag.last;
  if (dy == 0 || !d)
    return;
  gDrag.last = p.y();
  gDrag.moved = true;
  PaneLayout &panes = w->Panes();
  const int height = w->Content()->height();
  if (panes.atoms.Height() + dy < kMinSidebarPaneHeight || panes.notes.Height() - dy < kMinSidebarPaneHeight) {
    const bool hideAtoms = panes.atoms.Height() + dy < kMinSidebarPaneHeight;
    gDrag.kind = Drag::kNone;
    SplitSidebar(window, gDrag.startSplit);
    hideAtoms ? ToggleAtomsPane(window) : ToggleNotesPane(window);
    d->sidebarSplit = gDrag.startSplit;
    return;
  }
  panes.atoms.bottom += dy;
  panes.noteHeader.Offset(0, dy);
  panes.notes.top += dy;
  w->ApplyPanes();
  if (height > 0)
    d->sidebarSplit = float(panes.atoms.Height()) / float(height);
}

// ---- Wheel and gestures -------------------------------------------------------

OSStatus Wheel(MainWindow *w, QWheelEvent *e) {
  WindowRef window = w->Ref();
  CrystalRec *crystal = GetWindowCrystal(window);
  if (!HasStructure(window))
    return kEventNotHandledErr;
  const unsigned mods = ModifiersOf(e->modifiers());
  // Qt's angle delta is in eighths of a degree, 120 to a notch.
  const float dx = e->angleDelta().x() / 120.0f;
  const float dy = e->angleDelta().y() / 120.0f;
  if (mods & kCommandKey) {
    const float d = dy != 0 ? dy : dx;
    const int height = w->GraphPane()->height();
    if (height <= 0)
      return kNoErr;
    const float scale = crystal->plotScale + (-2.0f * d) * crystal->plotScale / float(height);
    gTrackBallRotn = 1;
    if (scale > kMinInteractiveScale && scale < kMaxInteractiveScale && DoChangePlotScale(crystal, scale)) {
      NewPlot(window, false, true);
      DrawRulers(window);
    }
    gTrackBallRotn = 0;
    return kNoErr;
  }
  if (dx != 0) {
    const float step = dx >= 0 ? kWheelRotationStep : -kWheelRotationStep;
    (mods & kShiftKey) ? RotateAndPlot(window, 0, 0, -step) : RotateAndPlot(window, 0, step, 0);
  }
  if (dy != 0) {
    const float step = dy >= 0 ? kWheelRotationStep : -kWheelRotationStep;
    if (mods & kShiftKey)
      RotateAndPlot(window, 0, 0, -step);
    else if (mods & kOptionKey)
      RotateAndPlot(window, 0, step, 0);
    else
      RotateAndPlot(window, step, 0, 0);
  }
  return kNoErr;
}

bool GestureTimePassed(WindowRef window) {
  MainWindowData *d = GetMainWindowData(window);
  const CrystalRec *crystal = GetWindowCrystal(window);
  const double t = double(Microseconds() - d->lastGestureTime) / 1e6;
  return t > kGesturePlotWait * crystal->lastPlotDuration;
}

} // namespace

// ---- Public -------------------------------------------------------------------

OSStatus DoToolbarCommand(uint32_t command) { return ProcessCommand(command); }

void ToggleRotateSelection() {
  // The mode turns only a selection of at least two atoms; without one it
  // stays off and says why.
  if (!gRotateSelection) {
    WindowRef front = FrontGraphWindow();
    const CrystalRec *crystal = front && IsWindowFileOpen(front) ? GetWindowCrystal(front) : nullptr;
    if (!crystal || CountNumSelectedAtoms(crystal) < 2) {
      MyCFCautionAlert(kRotateSelectionAlert, kRotateSelectionExplanation);
      return;
    }
  }
  gRotateSelection = gRotateSelection ? 0 : 1;
}

void RotateAndPlot(WindowRef window, float x, float y, float z) {
  CrystalRec *crystal = GetWindowCrystal(window);
  if (!crystal)
    return;
  const float angles[3] = {x, y, z};
  gTrackBallRotn = 1;
  if (gRotateSelection)
    RotateSelectionXYZ(crystal, angles);
  else
    RotateXYZ(crystal, angles);
  PlotCrystal(window, 1);
  gTrackBallRotn = 0;
}

bool ChangeInteractiveScale(WindowRef window, float scale) {
  CrystalRec *crystal = GetWindowCrystal(window);
  return crystal && scale > kMinInteractiveScale && scale < kMaxInteractiveScale && DoChangePlotScale(crystal, scale);
}

void DoRotationKeystroke(WindowRef window, int x, int y, int z) {
  const float a = gRotatorAngle < kMinRotatorAngle ? kDefaultRotatorAngle : gRotatorAngle;
  RotateAndPlot(window, x * a, y * a, z * a);
}

void DoTranslationKeystroke(WindowRef window, int dx, int dy) {
  CrystalRec *crystal = GetWindowCrystal(window);
  if (!crystal || !CrystalHasSelectedObjects(crystal))
    return;
  const int s = MyOptionKeyDown() ? kLargeTranslationStep : 1;
  if (gWindowInputHooks.moveSelectedTextBoxes)
    gWindowInputHooks.moveSelectedTextBoxes(window, dx * s, -dy * s);
  if (gWindowInputHooks.moveSelectedAtoms && crystal->plotScale > 0)
    gWindowInputHooks.moveSelectedAtoms(window, dx * s / crystal->plotScale, dy * s / crystal->plotScale, 0);
  PlotCrystal(window, 1);
}

void EndTemporaryRotationMode(WindowRef window) {
  if (!gTemporaryRotationMode)
    return;
  gCurrentTool = gSaveCurrentTool;
  gTemporaryRotationMode = 0;
  if (MainWindow *w = GetMainWindow(window)) {
    w->activateWindow();
    RefreshCursor(w);
  }
}

void DoMainWindowRotationAmount(WindowRef window, float degrees) {
  MainWindowData *d = GetMainWindowData(window);
  if (!d || !GetWindowCrystal(window))
    return;
  d->pendingRotation += degrees;
  if (std::fabs(d->pendingRotation) < kGestureMinRotation || !GestureTimePassed(window))
    return;
  RotateAndPlot(window, 0, 0, d->pendingRotation);
  d->lastGestureTime = Microseconds();
  d->pendingRotation = 0;
}

void DoMainWindowMagnifyAmount(WindowRef window, float factor) {
  MainWindowData *d = GetMainWindowData(window);
  CrystalRec *crystal = GetWindowCrystal(window);
  if (!d || !crystal)
    return;
  d->pendingMagnify *= factor;
  if (std::fabs(d->pendingMagnify - 1.0f) < kGestureMagnifyDeadBand || !GestureTimePassed(window))
    return;
  // Gestures keep the same scale bounds as the wheel: a pinch must not ask
  // for images of many thousand pixels per atom.
  if (ChangeInteractiveScale(window, crystal->plotScale * d->pendingMagnify)) {
    gTrackBallRotn = 1;
    if (IsWindowFileOpen(window))
      NewPlot(window, false, true);
    else
      DrawGraphPane(window);
    gTrackBallRotn = 0;
  }
  d->lastGestureTime = Microseconds();
  d->pendingMagnify = 1.0f;
}

void InstallWindowInput(MainWindow *w) {
  w->GraphPane()->setFocusPolicy(Qt::ClickFocus);
  w->GraphPane()->setMouseTracking(true);
  w->GraphPane()->grabGesture(Qt::PinchGesture);
  w->Divider()->setCursor(ToolCursor(kVerticalGrowCursor));
  w->NoteHeader()->setCursor(ToolCursor(kHorizontalGrowCursor));
  w->NotesView()->installEventFilter(w);
  // The notes' secondary click opens our text menu, not the view's own. The
  // text takes the primary button's presses on its page before they reach
  // the view, so a Ctrl-click is caught on the page itself.
  w->NotesView()->setContextMenuPolicy(Qt::NoContextMenu);
  w->NotesView()->viewport()->installEventFilter(w);
  w->installEventFilter(w); // the 'leap' events come to the window itself
  SystemVersionString();
  for (QWidget *pane : {w->GraphPane(), w->Ruler(), w->Divider(), w->NoteHeader()})
    pane->setAttribute(Qt::WA_AcceptTouchEvents, false);
}

namespace {
bool HandleEvent(MainWindow *w, QObject *watched, QEvent *event);
} // namespace

bool MainWindowEventHandler(MainWindow *w, QObject *watched, QEvent *event) {
  // A consumed event is accepted too, so that Qt does not offer it to the
  // pane's parent as well.
  if (!HandleEvent(w, watched, event))
    return false;
  event->accept();
  return true;
}

namespace {
bool HandleEvent(MainWindow *w, QObject *watched, QEvent *event) {
  WindowRef window = w->Ref();
  // Of the notes' page only the secondary click is ours.
  if (watched == w->NotesView()->viewport() && !IsNotesContextualClick(event))
    return false;
  switch (event->type()) {
  case QEvent::KeyPress: {
    auto *e = static_cast<QKeyEvent *>(event);
    // Once per change: the key goes on up to the pane's parents.
    if (IsModifierKey(e->key())) {
      if (watched == w->GraphPane() || watched == w->NotesView())
        ModifiersChanged(w, e->modifiers());
      return false;
    }
    if (watched == w->NotesView()) {
      // Alt with a letter belongs to the menus: one that opens no menu
      // types nothing either.
      if ((e->modifiers() & Qt::AltModifier) && !(e->modifiers() & Qt::ControlModifier) && !e->text().isEmpty())
        return true;
      QTimer::singleShot(0, w, [window] { CheckNotebookModified(window); });
      return false;
    }
    if (watched != w->GraphPane())
      return false;
    if (e->isAutoRepeat() && e->key() == Qt::Key_Space)
      return true;
    return GraphKeyDown(w, e) != kEventNotHandledErr;
  }
  case QEvent::KeyRelease: {
    auto *e = static_cast<QKeyEvent *>(event);
    // Once per change: the key goes on up to the pane's parents.
    if (IsModifierKey(e->key())) {
      if (watched == w->GraphPane() || watched == w->NotesView())
        ModifiersChanged(w, e->modifiers());
      return false;
    }
    // X11 repeats a held key as release and press pairs: only the last
    // release ends the temporary rotation.
    if (watched == w->GraphPane() && e->key() == Qt::Key_Space && !e->isAutoRepeat() && HasStructure(window))
      EndTemporaryRotationMode(window);
    return false;
  }
  case QEvent::MouseButtonPress:
  case QEvent::MouseButtonDblClick:
    if (watched == w->NotesView() || watched == w->NotesView()->viewport()) {
      // The click is the text view's; keys now go to the notes.
      if (MainWindowData *d = GetMainWindowData(window))
        d->graphHasFocus = 0;
      if (IsNotesContextualClick(event)) {
        const QPoint global = static_cast<QMouseEvent *>(event)->globalPosition().toPoint();
        return gWindowInputHooks.contextualMenu && gWindowInputHooks.contextualMenu(window, 1, global.x(), global.y());
      }
      return false;
    }
    return MouseDown(w, watched, static_cast<QMouseEvent *>(event)) != kEventNotHandledErr;
  case QEvent::MouseMove: {
    auto *e = static_cast<QMouseEvent *>(event);
    const QPoint p = ContentPoint(w, watched, e->position());
    if (gDrag.window == w && gDrag.kind == Drag::kTool && e->buttons() == Qt::NoButton) {
      // The release went elsewhere (an alert took it): the drag ends here
      // rather than wait for a release that never comes.
      const Drag drag = gDrag;
      gDrag = Drag{};
      if (const ToolHandlers *tool = FindTool(drag.tool); tool && tool->release)
        tool->release(window, ToPoint(p));
    }
    if (gDrag.window == w) {
      switch (gDrag.kind) {
      case Drag::kTool:
        if (const ToolHandlers *tool = FindTool(gDrag.tool); tool && tool->move)
          tool->move(window, ToPoint(p));
        return true;
      case Drag::kDivider:
        DividerDrag(w, p);
        return true;
      case Drag::kHeader:
        HeaderDrag(w, p);
        return true;
      default:
        break;
      }
    }
    MouseMoved(w, p, ModifiersOf(e->modifiers()), e->buttons() != Qt::NoButton);
    return false;
  }
  case QEvent::MouseButtonRelease: {
    auto *e = static_cast<QMouseEvent *>(event);
    if (watched == w->NotesView()) {
      CheckNotebookModified(window);
      return false;
    }
    if (gDrag.window != w)
      return false;
    const Drag drag = gDrag;
    gDrag = Drag{};
    if (drag.kind == Drag::kTool) {
      if (const ToolHandlers *tool = FindTool(drag.tool); tool && tool->release)
        tool->release(window, ToPoint(ContentPoint(w, watched, e->position())));
      // A drag made in the space bar's rotation mode ends the mode.
      if (drag.tool == kToolRotate && gTemporaryRotationMode)
        EndTemporaryRotationMode(window);
    } else if (drag.moved) {
      RedrawGraphPane(window);
    }
    return true;
  }
  case QEvent::ContextMenu: {
    // The site list leaves the secondary click to its pane: the site
    // browser's menu.
    if (watched != w->AtomsContainer())
      return false;
    if (MainWindowData *d = GetMainWindowData(window))
      d->graphHasFocus = 0;
    const QPoint global = static_cast<QContextMenuEvent *>(event)->globalPos();
    return gWindowInputHooks.contextualMenu && gWindowInputHooks.contextualMenu(window, 2, global.x(), global.y());
  }
  case QEvent::Wheel:
    if (watched != w->GraphPane())
      return false;
    return Wheel(w, static_cast<QWheelEvent *>(event)) != kEventNotHandledErr;
  case QEvent::NativeGesture: {
    auto *e = static_cast<QNativeGestureEvent *>(event);
    if (watched != w->GraphPane())
      return false;
    if (e->gestureType() == Qt::RotateNativeGesture)
      DoMainWindowRotationAmount(window, float(e->value()));
    else if (e->gestureType() == Qt::ZoomNativeGesture)
      DoMainWindowMagnifyAmount(window, float(e->value() + 1.0));
    else
      return false;
    return true;
  }
  case QEvent::Leave:
    if (watched == w->GraphPane())
      LeftGraphPane(w);
    return false;
  case QEvent::WindowDeactivate:
  case QEvent::Hide:
    if (watched == w)
      HideInfoTip(window);
    return false;
  case QEvent::WindowStateChange:
    return watched == w && WindowStateChanged(w, static_cast<QWindowStateChangeEvent *>(event));
  default:
    if (watched == w && event->type() == LeapEvent::EventType()) {
      HandleLeapEvents(window, *static_cast<LeapEvent *>(event));
      return true;
    }
    return false;
  }
}
} // namespace

void InstallWindowInputCommands() {
  RegisterWindowTools();
  InstallEditAnnotation();
  InstallContextualMenus();
  gWindowInputHooks.moveSelectedAtoms = [](WindowRef window, float dx, float dy, float dz) {
    const float delta[3] = {dx, dy, dz};
    MoveSelectedAtoms(window, delta);
  };
  gWindowInputHooks.deselectAllObjects = [](WindowRef window) {
    CrystalRec *crystal = GetWindowCrystal(window);
    const bool any = crystal && CrystalHasSelectedObjects(crystal);
    if (any)
      DeselectAllObjects(crystal);
    return any;
  };
  gWindowInputHooks.toggleFloatingWindows = DoToggleFloatingWindows;
  InstallToolbarCommands();
  // The window's own title-bar commands act and still pass the command on.
  AddCommandHandler([](uint32_t command, const QVariant &) -> OSStatus {
    MainWindow *w = GetMainWindow(FrontGraphWindow());
    if ((command == FourCharsToLong("MinW") || command == FourCharsToLong("ZooW")) && gFillScreen) {
      SysBeep();
      return kNoErr;
    }
    if (command == FourCharsToLong("MinW")) {
      if (w)
        w->showMinimized();
    } else if (command == FourCharsToLong("ZooW")) {
      if (w)
        w->isMaximized() ? w->showNormal() : w->showMaximized();
    } else if (command == FourCharsToLong("tbtg")) {
      gPrefs.showToolbar = gPrefs.showToolbar ? 0 : 1;
      ShowToolbars(gPrefs.showToolbar);
    }
    return kEventNotHandledErr;
  }, [](uint32_t command, QAction *action) -> OSStatus {
    if (command == FourCharsToLong("tbtg")) {
      action->setCheckable(true);
      action->setChecked(gPrefs.showToolbar);
      return kNoErr;
    }
    if (command == FourCharsToLong("MinW") || command == FourCharsToLong("ZooW")) {
      action->setEnabled(GetMainWindow(FrontGraphWindow()) != nullptr);
      return kNoErr;
    }
    return kEventNotHandledErr;
  });
  InstallAutoRotateCommands();
  InstallNotesCommands();
}
