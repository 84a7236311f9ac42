// The per-window record of a structure window.
//
// Every structure window owns one MainWindowData, reached from its window
// record (`OVWindowRecord::mainData`). It embeds the window's structure,
// holds its off-screen images, the heads of its views, history and redo
// lists, its layout flags and the little input state that gestures need.
// The window class fills the pane, control and procedure handles, which are
// opaque here so that the record needs no widget library.
//
// Everything reaches the record through the accessors below. Each one checks
// that the window is a structure window with a record: otherwise a getter
// answers 0, false, none or an empty rectangle, and a setter does nothing.
#pragma once

#include "HostServices.h"
#include "StructureRecord.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>

struct CachedFileRecord;

// The part of a structure window's state that work on other threads reads:
// a relaxation worker and the results it hands back to the window. They
// hold it by shared pointer, never the window itself, so it outlives the
// window's record and tells them that the window has gone. Every field is
// atomic; only the main thread sets `open` and `displaySleeping`.
struct WindowSharedState {
  std::atomic<uint8_t> open{1}; // cleared when the window's record is freed
  // The calculation (relaxation run) that runs for the window, by its
  // number; 0 when none. A run that finds another number here was
  // cancelled, even when a newer run has started since.
  std::atomic<uint64_t> calculationRun{0};
  std::atomic<uint8_t> displaySleeping{0}; // the displays sleep
};

// A heap block owned by the record (the site browser's data).
using OVBlockHandle = std::shared_ptr<void>;

// The print preview's record, kept in the window and owned by the print
// preview. Its first byte is non-zero while a preview exists.
struct PrintPreviewRecord {
  uint8_t active = 0;
  uint8_t flags[3] = {0, 0, 0};
  int16_t fields[2] = {1, 1};
  Str255 title; // the window title, set by the build
};

struct MainWindowData {
  uint8_t fileOpen = 0; // the window holds a structure
  // The calculation-in-progress and display-sleeping flags, shared with
  // the relaxation worker (see WindowSharedState).
  std::shared_ptr<WindowSharedState> shared = std::make_shared<WindowSharedState>();
  uint8_t autoRotating = 0; // clearing it stops the rotation at its next tick
  CrystalRec crystal;
  uint8_t graphHasFocus = 1; // keys go to the graph pane (1) or the sidebar (0)
  CachedFileRecord *views = nullptr;
  CachedFileRecord *history = nullptr;
  CachedFileRecord *redo = nullptr;
  OVImageHandle transferBuffer;   // red/blue stereo composite
  OVImageHandle offScreen;        // the plotted image
  OVImageHandle offScreenOverlay; // the surface overlay
  Rect offBounds;                 // bounds of the three images
  PrintPreviewRecord printPreview;
  void *textObject = nullptr; // the notes pane's text
  Str255 notesFontName;
  uint16_t notesFontSize = 12;
  Rect standardBounds;    // content bounds to return to from full screen
  OVBlockHandle infoData; // the site browser's data
  OVBlockHandle distanceSearch; // the Distance Explorer's search record
  void *eventHandlerProc = nullptr;
  void *graphDrawProc = nullptr;
  void *dividerDrawProc = nullptr;
  void *rulerDrawProc = nullptr;
  void *noteHeaderDrawProc = nullptr;
  void *rulerPane = nullptr;
  void *graphPane = nullptr;
  void *cocoaWrapper = nullptr; // the view that receives trackpad gestures
  void *divider = nullptr;
  void *atomsContainer = nullptr;
  void *siteBrowser = nullptr;
  void *noteHeader = nullptr;
  void *notesView = nullptr;
  void *notesContainer = nullptr;
  uint8_t showRulers = 1;
  uint8_t showSidebar = 1;
  uint16_t sidebarWidth = 240;       // pixels
  float sidebarSplit = 0.5f;         // atoms pane height / content height
  uint8_t measurementToolLocked = 0; // hover measuring suspended
  void *infoTipWindow = nullptr;
  uint64_t lastGestureTime = 0; // microseconds of the last gesture redraw
  float pendingMagnify = 1.0f;  // gathered since that redraw
  float pendingRotation = 0.0f; // degrees gathered since that redraw
  uint8_t showNotes = 1;
  uint8_t showAtoms = 1;
  uint8_t windowModified = 0; // holds unsaved changes
  // The document's file as the window last opened or saved it, so that Save
  // notices a file another program changed since: its path (empty: none
  // noted), modification time (nanoseconds since the epoch) and size.
  std::filesystem::path notedFile;
  int64_t notedFileTime = 0;
  int64_t notedFileSize = 0;
  // The window's own changes, settled by the undo timer (UndoHistory.h).
  uint8_t undoStatePending = 0; // the structure changed since its last undo state
  uint8_t markStale = 0;        // the mark is to be compared with the saved document
  // The pane's size changed the plot scale (and the label size that follows
  // it) with no change pending: the front undo state, and the saved document
  // when it is that state, are to take the new scale. The scale and label
  // size as the resize left them.
  uint8_t refitPending = 0;
  float refitScale = 0.0f;
  float refitLabelSize = 0.0f;
  // Digests of the structure's content (without what every plot remakes)
  // and of the notes: of the front undo state, and of the document as last
  // opened or saved; 0 for none.
  uint64_t undoStateDigest = 0;
  uint64_t structureDigest = 0; // as last read; stands while no change is pending
  uint64_t savedDigest = 0;
  uint64_t savedNotesDigest = 0;
};

// The record of a structure window; nullptr for none or another window.
MainWindowData *GetMainWindowData(WindowRef window);

// Allocates the record, attaches it to the window and fills it with its
// initial values (a blank structure, the preferences' pane settings and
// notes font). Without memory: the stop alert "Error creating window" and
// false. A window that already has a record keeps it.
bool InitMainWindowData(WindowRef window);
// Destroys the window's views, history and redo lists and frees its record.
void DestroyMainWindowData(WindowRef window);

bool IsWindowFileOpen(WindowRef window);
void SetWindowFileOpen(WindowRef window, bool open);
bool IsWindowCalculationInProgress(WindowRef window);
// Setting gives the window a new calculation number unless one runs
// already; clearing ends it. Either way the window's toolbar is refreshed.
void SetWindowCalculationInProgress(WindowRef window, bool running);
// Marks a new calculation as running for the window, refreshes the toolbar
// and answers its number (never 0); 0 for anything but a structure window.
uint64_t StartWindowCalculation(WindowRef window);
// The window's shared state; none for anything but a structure window.
std::shared_ptr<WindowSharedState> GetWindowSharedState(WindowRef window);
bool IsWindowAutoRotating(WindowRef window);
void SetWindowAutoRotating(WindowRef window, bool rotating);
CrystalRec *GetWindowCrystal(WindowRef window);
bool WindowGraphPaneHasFocus(WindowRef window);

CachedFileRecord *GetWindowViews(WindowRef window);
void SetWindowViews(WindowRef window, CachedFileRecord *head);
CachedFileRecord *GetWindowHistory(WindowRef window);
void SetWindowHistory(WindowRef window, CachedFileRecord *head);
CachedFileRecord *GetWindowRedo(WindowRef window);
void SetWindowRedo(WindowRef window, CachedFileRecord *head);
int32_t GetNumWindowViews(WindowRef window);
int32_t GetNumWindowHistory(WindowRef window);
int32_t GetNumWindowRedo(WindowRef window);

// The setters store the handle; an image no longer held anywhere is freed.
OVImageHandle GetWindowTransferBuffer(WindowRef window);
void SetWindowTransferBuffer(WindowRef window, OVImageHandle image);
OVImageHandle GetWindowOffScreen(WindowRef window);
void SetWindowOffScreen(WindowRef window, OVImageHandle image);
OVImageHandle GetWindowOffScreenOverlay(WindowRef window);
void SetWindowOffScreenOverlay(WindowRef window, OVImageHandle image);
// The empty rectangle for any window but a structure window.
void GetWindowOffBounds(WindowRef window, Rect *rect);
void SetWindowOffBounds(WindowRef window, const Rect &rect);

bool WindowHasPrintPreview(WindowRef window);
PrintPreviewRecord *GetWindowPrintPreview(WindowRef window);
void *GetWindowGraphPane(WindowRef window);
void *GetGraphicsWindowSiteBrowser(WindowRef window);

uint8_t GetWindowRulerUnits(WindowRef window);
void SetWindowRulerUnits(WindowRef window, uint8_t units);
bool IsWindowShowingGrid(WindowRef window);
bool IsWindowShowingRulers(WindowRef window);
bool IsWindowShowingSidebar(WindowRef window);
uint16_t GetWindowSidebarWidth(WindowRef window);
bool ShowBrowserInWindowSidebar(WindowRef window);
bool ShowNotesInWindowSidebar(WindowRef window);
bool IsWindowShowingAtomsPane(WindowRef window);
bool IsWindowShowingNotesPane(WindowRef window);
bool IsWindowMeasurementToolLocked(WindowRef window);
void SetWindowMeasurementToolLocked(WindowRef window, bool locked);

OVBlockHandle GetWindowInfoData(WindowRef window);
void SetWindowInfoData(WindowRef window, OVBlockHandle data);
void ClearWindowInfoData(WindowRef window);

bool IsWindowDisplaySleeping(WindowRef window);
void DoMainWindowDisplaySleep(WindowRef window);
void DoMainWindowDisplayWake(WindowRef window);

// The notes text object; false for no window or no text object.
bool GetWindowTextObject(WindowRef window, void **textObject);
// The one setter of a window's modified state (it holds unsaved changes):
// marks or clears it, and tells the window listener so that the window's
// unsaved-changes mark follows.
void OVSetWindowModified(WindowRef window);
void OVClearWindowModified(WindowRef window);
// The interface's listener, called with the window after each change of the
// modified state (none: only the record changes).
void SetWindowModifiedListener(std::function<void(WindowRef)> listener);

// ---- The window's changes ------------------------------------------------------
// A change to the window's structure or to a value its document stores
// (every plot notes one): a moment later (`delay` seconds after the last
// change) the undo timer makes the structure an undo state if it differs
// from the last one, and compares the modified mark with the saved
// document. An auto-rotating window is settled when its rotation stops; a
// window that holds no file notes nothing.
void NoteWindowChange(WindowRef window, double delay = kUndoSnapshotDelay);
// A change to the window's notes: only its mark is compared; the notes make
// no undo state of their own and undoing never touches them.
void NoteWindowNotesChange(WindowRef window);
// The plot scale followed the graph pane's new size: no change of the
// document's. Unless a change is pending, the front undo state and the saved
// document take the new scale when the window is next settled, so that a
// later command that changes nothing leaves the window unmarked.
void NoteWindowRefit(WindowRef window);
bool IsWindowUndoStatePending(WindowRef window);
bool IsWindowMarkStale(WindowRef window);
bool IsWindowRefitPending(WindowRef window);
// What the menus show without reading the structure: the mark as the last
// settling left it, or a change not yet settled.
bool WindowMayHoldUnsavedChanges(WindowRef window);
// Forgets the window's pending changes, its undo state and its saved
// document: the window was emptied.
void ForgetWindowChanges(WindowRef window);
// Within its scope the window's plots are no change of its own (a redraw at
// another size, a full-quality replot, a picture export): its pending
// changes stay as they were before, and the undo timer settles nothing of
// the window until the scope ends (its structure may be drawn at another
// scale meanwhile).
class RedrawOnly {
public:
  explicit RedrawOnly(WindowRef window);
  ~RedrawOnly();
  RedrawOnly(const RedrawOnly &) = delete;
  RedrawOnly &operator=(const RedrawOnly &) = delete;

private:
  WindowRef window_;
  uint8_t undoStatePending_ = 0, markStale_ = 0;
};
bool IsWindowRedrawOnly(WindowRef window);
// Makes the structure as it stands the window's latest undo state at once,
// unless it is that already: work that must undo back to this point (a
// relaxation about to move the atoms). The undo history installs the work;
// until then nothing is taken.
void TakeWindowUndoState(WindowRef window);
void SetWindowUndoStateTaker(void (*taker)(WindowRef));
// Puts the window back to its latest undo state and draws it (a long plot
// the user stopped). False when there is none or nothing is installed.
bool ReturnWindowToUndoState(WindowRef window);
void SetWindowUndoStateRestorer(bool (*restorer)(WindowRef));

// The structure window whose embedded structure is the given one, walking
// from the front; false and no window when none has it.
bool GetWindowWithCrystal(const CrystalRec *crystal, WindowRef *window);

// Releases the images of every atom type of the window's structure and the
// window's off-screen, overlay and transfer images.
void DisposeAllGWorlds(WindowRef window);
// The same, and the structure's background picture image.
void DisposeOVTempMemory(WindowRef window);
