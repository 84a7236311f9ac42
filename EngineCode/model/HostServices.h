// What the structure engine needs of the windows and the application shell.
//
// The engine never talks to a widget library. Everything it asks of the user
// interface (the Log pane, the status window, alerts, the structure windows
// and their panes, rulers and titles, the inspectors, the linked diffraction
// program, the event-loop timers, the mouse button, modifier keys, the cancel
// key, the clock, the cursor and the floating windows) goes through one
// `HostServices` object installed at start-up. The program installs the Qt
// implementation; tests install a recording fake (tests/support/FakeHost.h)
// and assert on what was asked.
//
// The free functions below keep the names callers use throughout the program
// (`FWrite`, `WriteStatus`, `MyCFStopAlert`, ...). Their own rules (the Log
// staging buffer, the status window's timing, silent alerts during batch
// work) live here in the engine, so the fake and the real host behave alike.
#pragma once

#include "BasicTypes.h"
#include "RGBColor.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

struct MainWindowData;
struct CrystalRec;

// A window the engine can name. The window classes of the interface own one
// of these per window; a structure window points `mainData` at its
// per-window record, every other window leaves it empty.
struct OVWindowRecord {
  MainWindowData *mainData = nullptr;
  void *native = nullptr; // the interface's own window object, opaque here
};
using WindowRef = OVWindowRecord *;

// What a cancelled dialog answers.
inline constexpr int kUserCanceledErr = -128;
// What a command or event handler answers for what it leaves to the next
// handler.
inline constexpr int32_t kEventNotHandledErr = -9874;

// What `AESendOrientationMatrix` answers when the host has no way to reach
// the linked diffraction program.
inline constexpr int16_t kNoLinkSender = -1;

// The standard alert kinds.
enum AlertType : int16_t { kAlertStopAlert = 0, kAlertNoteAlert = 1, kAlertCautionAlert = 2 };

// One alert as the host is asked to show it. `buttons` holds the button
// titles in the order default, cancel, other (one entry for a plain alert).
struct AlertRequest {
  AlertType type = kAlertStopAlert;
  std::string message;
  std::string explanation;
  std::vector<std::string> buttons;
  int cancelButton = 0; // 1-based index of the button Escape presses; 0 none
};

// Cursors made from images at start-up.
enum CocoaCursor : int {
  kArrowCursor = 0,
  kCmdDotCursor, // shown while a long search can be cancelled with command-period
  kWatchCursor,
  kCrossCursor,
  kOpenHandCursor,
  kClosedHandCursor,
  // The mouse tools' own cursors and the sidebar dividers' resize cursors.
  kMoveToolCursor,
  kMagnifyZoomInCursor,
  kMagnifyZoomOutCursor,
  kZapperCursor,
  kPolygonCursor,
  kLassoCursor,
  kBondDistanceCursor,
  kDistanceCursor,
  kBondAngleCursor,
  kAngleCursor,
  kPlaneCursor,
  kAddDeleteBondCursor,
  kAddAtomCursor,
  kVerticalGrowCursor,
  kHorizontalGrowCursor,
};

// Modifier keys, after the platform mapping (Command is Ctrl, Option is Alt).
enum ModifierKey : unsigned {
  kCommandKey = 1u << 0,
  kOptionKey = 1u << 1,
  kShiftKey = 1u << 2,
  kControlKey = 1u << 3,
};

// A dormant event-loop timer: made once, armed and re-armed by the engine,
// fired by the host's event loop, which then calls `proc`.
struct EventLoopTimer {
  std::string name;
  std::function<void()> proc;
};

class HostServices {
public:
  virtual ~HostServices() = default;

  // Log pane. `LogAvailable` is false until the Log pane's text exists; the
  // writers then drop their text. `LogAppend` appends raw 8-bit text (lines
  // already end in a carriage return); `colour` applies to `colouredBytes`
  // characters at its start, the rest is in the default style.
  virtual bool LogAvailable() = 0;
  virtual void LogAppend(std::string_view text, const RGBColor &colour, size_t colouredBytes) = 0;
  // True when the Overview window is visible with its Log tab showing.
  virtual bool LogShowing() = 0;

  // Status window: show or update with a message and a bar; percent < 0
  // means an indeterminate bar.
  virtual void StatusShow(std::string_view message, float percent) = 0;
  virtual void StatusHide() = 0;

  // Runs the alert modally; answers the 1-based button pressed.
  virtual int RunAlert(const AlertRequest &alert) = 0;
  // Ends the program at once after an unrecoverable error.
  [[noreturn]] virtual void TerminateProgram(int code) = 0;

  // The frontmost structure window, visible or not; none when there is none.
  virtual WindowRef FrontGraphWindow() = 0;
  // Every structure window, front to back.
  virtual std::vector<WindowRef> StructureWindows() = 0;
  // Redraw the graph pane and show the text in a rounded box over it.
  virtual void DrawWindowSubtitle(WindowRef window, std::string_view text) = 0;
  // Sets `bounds` to the graph pane's bounds in window coordinates and
  // answers true; false when the window shows no graph pane.
  virtual bool GraphBounds(WindowRef window, Rect *bounds) = 0;
  // The window's title, as its title bar shows it.
  virtual std::string WindowTitle(WindowRef window) = 0;
  // Shows the window (brings it on screen when it was hidden).
  virtual void ShowWindow(WindowRef window) = 0;
  // A close request for the structure window (the window's CloseMainWindow):
  // it may ask to save first, close the window and free its record, or only
  // clear and hide the last structure window. Afterwards the engine never
  // touches the window or its record again.
  virtual void CloseWindow(WindowRef window) = 0;

  // The rulers, the inspectors and the linked program. A host without them
  // keeps these defaults: nothing is redrawn and the orientation matrix is
  // not sent (`kNoLinkSender`).
  //
  // Redraws the window's horizontal ruler when the rulers show.
  virtual void DrawRulers(WindowRef) {}
  // Refills the window's site browsers.
  virtual void UpdateSiteBrowser(WindowRef) {}
  // Gives a molecule's atoms their element's atom type again, through the
  // site browser's command and its notice.
  virtual void SiteBrowserColourByElement(WindowRef) {}
  // Redraws the element buttons of the atom picker.
  virtual void UpdateAtomPicker() {}
  // Refreshes the plot-range window from the front structure window.
  virtual void UpdateSetRange() {}
  // Shows a new label size in the Model Options window when it is visible.
  virtual void UpdateLabelOptionsSizeField(float) {}
  // Sends the structure's orientation matrix and link identifier to the
  // linked diffraction program without waiting; the system's result.
  virtual int16_t SendOrientationMatrix(const CrystalRec *) { return kNoLinkSender; }

  // True when Escape or command-period was pressed since the last check.
  // Returns at once. The host may let painting and timers run meanwhile,
  // but no user input: the engine still holds its records.
  virtual bool CheckForUserCancel() = 0;
  // True while the mouse button is held down.
  virtual bool MouseButtonDown() = 0;
  virtual unsigned CurrentModifiers() = 0;
  virtual void SetCursor(CocoaCursor cursor) = 0;
  virtual void UpdateFloatingWindows() = 0;

  // Arms (or re-arms, replacing the earlier firing time) the timer to fire
  // once, `seconds` from now.
  virtual void ArmTimer(EventLoopTimer &timer, double seconds) = 0;

  // Runs `call` once on the main thread, from the event loop, after what is
  // running there now; calls run in the order they were posted. Callable
  // from any thread: this is how work on other threads hands its results
  // back. The call owns what it captures, and a call that never runs (the
  // program quits first) is destroyed unrun.
  virtual void PostToMainThread(std::function<void()> call) = 0;

  // Monotonic clock in microseconds since some fixed start. Callable from
  // any thread.
  virtual uint64_t NowMicroseconds() = 0;

  // The save dialog: asks where to save, proposing `proposedName`; fills
  // `file` and answers 0 when the user chose a file (its old contents are
  // replaced by the caller), non-zero when the dialog was cancelled or
  // failed. A host without dialogs cancels.
  virtual int SaveFileDialog(std::string_view /*prompt*/, std::string_view /*proposedName*/,
                             std::filesystem::path * /*file*/) {
    return kUserCanceledErr;
  }
  // The image save dialog: asks where to save, proposing `proposedName`,
  // with a pop-up of the picture formats showing `*fileType`; fills `file`
  // and the chosen `*fileType` and answers 0 when the user chose a file,
  // non-zero when cancelled or failed. A host without dialogs cancels.
  virtual int SaveGraphicsFileDialog(std::string_view /*title*/, std::string_view /*proposedName*/,
                                     uint32_t * /*fileType*/, std::filesystem::path * /*file*/) {
    return kUserCanceledErr;
  }
  // Shows a page of the help (a path under the help folder). The help
  // window belongs to the application shell; until it is installed nothing
  // is shown.
  virtual void OpenHelpPage(std::string_view /*page*/) {}
  // The program's version, as the exports write it.
  virtual std::string ProgramVersion() { return "1.0.0"; }
  // The program's windows the engine keeps up to date (a host without
  // windows does nothing).
  //
  // Enables the structure window's toolbar items for its state (the Relax
  // item shows whether a relaxation runs).
  virtual void UpdateWindowToolbar(WindowRef) {}
  // Refreshes the Model Options inspector from the front structure window.
  virtual void UpdateModelOptions() {}
  // Shows the Log tab of the Overview window when that window is visible.
  virtual void ShowOverviewLog() {}
  // The bonding and element editors' questions and windows.
  //
  // The colour picker with the prompt, starting from `colour`: true, with
  // the chosen colour in `colour`, when the user confirmed. A host without
  // dialogs cancels.
  virtual bool ChooseColour(std::string_view /*prompt*/, RGBColor * /*colour*/) { return false; }
  // The open dialog for one file: 0 with the chosen file, non-zero when
  // cancelled. A host without dialogs cancels.
  virtual int OpenFileDialog(std::string_view /*prompt*/, std::filesystem::path * /*file*/) { return kUserCanceledErr; }
  // The same for one picture file, the dialog limited to the pictures the
  // image readers take.
  virtual int OpenGraphicsFileDialog(std::string_view /*prompt*/, std::filesystem::path * /*file*/) {
    return kUserCanceledErr;
  }
  // Opens the Distance Explorer on the window's structure.
  virtual void ShowDistanceWindow(WindowRef) {}
  // Reloads the Edit Annotation window from the front window's selected
  // annotation object.
  virtual void UpdateEditAnnotation() {}
  // Repaints the graph pane from its image and its highlight overlay.
  virtual void RepaintGraphPane(WindowRef) {}
  // Structure window input: the system beep and a named sound, a help tag
  // shown over `area` (window coordinates), the mouse position in the
  // window's coordinates. A host without them stays silent, shows nothing
  // and answers (0, 0).
  virtual void Beep() {}
  virtual void PlaySound(std::string_view /*name*/) {}
  virtual void ShowHelpTag(WindowRef, const Rect & /*area*/, std::string_view /*text*/) {}
  virtual Point PointerPosition(WindowRef) { return Point{}; }
};

// Installs the host; returns the previous one. The engine does not own it.
HostServices *SetHostServices(HostServices *host);
HostServices *GetHostServices();

// ---- Clock ------------------------------------------------------------------
// Microseconds of the host clock.
uint64_t Microseconds();
// Ticks of 1/60 second of the host clock.
uint32_t TickCount();

// ---- Log pane writers -------------------------------------------------------
// Size of the staging buffer of `FWriteBuffer`.
inline constexpr uint32_t kLogBufferSize = 102400;
inline constexpr char kLogLineEnd = '\r';

// Appends the text and a carriage return to the Log in the default style.
void FWrite(std::string_view text);
// The same for Unicode text (UTF-8 here).
void FWriteCFString(std::string_view text);
// `FWrite`, then the line's characters (not its carriage return) in colour.
void FWriteColor(std::string_view text, RGBColor colour);
// Stages a line in the Log buffer; nothing reaches the pane until a flush.
void FWriteBuffer(std::string_view text);
// Moves the staged lines into the Log and empties the buffer.
void FFlushBuffer();
// `FWriteBuffer` then `FFlushBuffer`.
void FlushWrite(std::string_view text);
// Bytes staged in the Log buffer.
uint32_t LogBufferLength();
// Empties the staging buffer without writing it (start-up and tests).
void ResetLogBuffer();

// ---- Status window ----------------------------------------------------------
// The window appears only when a second report comes at least this long after
// the first one of a task; once shown, reports closer together than the
// interval are skipped unless the bar changes kind.
inline constexpr double kStatusOpenDelay = 0.5;
inline constexpr double kStatusUpdateInterval = 0.2;

void WriteStatus(std::string_view text);
void WriteProgress(std::string_view text, float percent);
void CloseStatus();

// ---- Windows, cursor, keys --------------------------------------------------
WindowRef FrontGraphWindow();
void DrawWindowSubtitle(WindowRef window, std::string_view text);
// Tells the user that a report went to the Log, unless the Log is showing.
void SubtitleWindowOutput(WindowRef window);
bool MyCheckForUserCancelEvent();
bool MyCommandKeyDown();
bool MyOptionKeyDown();
bool MyShiftKeyDown();
bool MyControlKeyDown();
void SetCocoaCursor(CocoaCursor cursor);
void UpdateFloatingWindows();

// ---- Save dialog -------------------------------------------------------------
// The save dialog of the host; 0 with `file` filled when a file was chosen,
// non-zero (nothing chosen) when cancelled, failed or without a host.
int MyCreateSaveFileDialog(std::string_view prompt, std::string_view proposedName, std::filesystem::path *file);
// The image save dialog of the host: 0 with `file` and `*fileType` filled
// when a file was chosen; non-zero when cancelled, failed or without a host.
// The creator is kept for the callers' sake; files here have none.
int MyCreateSaveGraphicsFileDialog(std::string_view title, std::string_view proposedName, uint32_t *fileType,
                                   uint32_t *creator, std::filesystem::path *file);
// The host's open dialog for one picture file: 0 with `file` filled; non-zero
// when cancelled or without a host.
int MyGetGraphicsFile(std::string_view message, std::filesystem::path *file);
// Opens a help page (nothing without a help window).
void MyOpenHelpPage(std::string_view page);
// The program's version ("1.0.0" without a host).
std::string GetProgramVersion();

// ---- Event-loop timers ------------------------------------------------------
// Replots the front window at full quality once fast rotation stops, and
// settles the structure windows' changes (undo states and modified marks)
// once they stop. Both are dormant until armed; their procedures are
// installed by the renderer and the undo code.
extern EventLoopTimer gRenderingReplotTimer;
extern EventLoopTimer gUndoBufferTimer;
// A window's change is settled this many seconds after the last one.
inline constexpr double kUndoSnapshotDelay = 0.25;
void SetEventLoopTimerNextFireTime(EventLoopTimer &timer, double seconds);

// ---- Work handed to the main thread ----------------------------------------
// Posts the call to the main thread (see HostServices::PostToMainThread);
// without a host the call is dropped. Callable from any thread.
void PostToMainThread(std::function<void()> call);

// ---- Program-wide flags used by the engine ---------------------------------
extern uint8_t gProhibitErrorAlerts; // batch work: stop, caution and note alerts stay silent
extern uint8_t gShowProgress;        // long operations report in the status window
extern uint8_t gRotateSelection;     // rotation tools turn only the selected atoms
extern uint8_t gStartupDone;
extern uint8_t gQuittingTime;

// ---- Window services by the engine's names ---------------------------------

// An empty rectangle when the window shows no graph pane.
void GetWindowGraphBounds(WindowRef window, Rect *bounds);
void DrawRulers(WindowRef window);
void UpdateSiteBrowser(WindowRef window);
void SiteBrowserColourByElement(WindowRef window);
void UpdateAtomPicker();
void UpdateSetRange();
void UpdateLabelOptionsSizeField(float size);
void UpdateWindowToolbar(WindowRef window);
void UpdateModelOptions();
void DoShowOverviewLog();
void UpdateEditAnnotation();
void RepaintGraphPane(WindowRef window);
bool MyStillDown();
// 0 and nothing sent while the structure has no link identifier;
// `kNoLinkSender` without a way to reach the linked program.
int16_t AESendOrientationMatrix(const CrystalRec *crystal);
