// The structure window's life and layout: creation, the panes and their
// toggles, minimum size, full screen, the window's preferences, redrawing,
// and closing, clearing and disposing.
//
// Layout rules every operation keeps:
// - the ruler spans the top of the graph pane; the graph pane's and the
//   ruler's right edges meet the divider while the sidebar shows and the
//   content's right edge while it is hidden;
// - in the sidebar the atoms pane is on top; with both panes shown the notes
//   header's top is one pixel below the atoms pane and the notes container
//   starts at the atoms pane's bottom; a pane shown alone fills the height;
// - a toggle never leaves the graph pane narrower or lower than 80 pixels.
#pragma once

#include "HostServices.h"

#include <cstdint>

#include <string>

class MainWindow;
class QString;
class QWidget;

// The graph pane is never made smaller than this by a toggle.
inline constexpr int kMinGraphPaneSize = 80;
// The atoms pane keeps at least this height when the window shrinks.
inline constexpr int kMinAtomsPaneHeight = 40;
// The sidebar (with its divider) takes at most this share of the content's
// width, in percent; it is never narrowed below `kMinSidebarWidth`.
inline constexpr int kMaxSidebarShare = 45;
// A new window is offset this far from the front window.
inline constexpr int kNewWindowOffset = 20;
// A resize waits for its end before replotting when a plot takes this long.
inline constexpr float kSlowPlotSeconds = 0.25f;
// The end of a resize: no further change for this long.
inline constexpr int kResizeCompletedMs = 200;

extern uint8_t gFillScreen; // the structure windows fill the screen

// A new structure window titled `title` (none keeps "Graphics"); shown and
// made front when asked. It takes the front window's settings and a frame a
// step below and right of that window's. With `frameOf`, it takes that
// window's settings and its very frame instead: a window working in its
// place, whose pictures have the size of that window's. Null when it cannot
// be made.
WindowRef OpenMainWindow(const char *title, bool show, WindowRef frameOf = nullptr);
// Builds the atoms pane (the site browser); 0, or 999 without a record.
int InitAtomsPane(WindowRef window);
void CopyMainWindowSettings(WindowRef newWindow, WindowRef fromWindow);
void RecordMainWindowPrefs(WindowRef window);

void UpdateMainWindowControlBounds(WindowRef window, int dWidth, int dHeight);
// Lays the sidebar out at its width (`sidebarWidth`), narrower where that
// would leave the graph pane less than its share of a small window.
void FitSidebarToWidth(WindowRef window);
// Resizes the window so that its graph pane gets the size.
void SetGraphPaneSize(WindowRef window, int width, int height);
void GetGraphWindowMinSize(WindowRef window, int *minHeight, int *minWidth);
void AdjustGraphWindowResizeLimits(WindowRef window);
// Keeps the picture's size relative to the window after a resize.
void RescaleToFitWindowBounds(WindowRef window, const Rect &before, const Rect &after);

void ToggleRulers(WindowRef window);
void ShowSidebar(WindowRef window);
void HideSidebar(WindowRef window);
void ToggleSidebar(WindowRef window);
void ToggleNotesPane(WindowRef window);
void ToggleAtomsPane(WindowRef window);
void SplitSidebar(WindowRef window, float fraction);
void ChangeSidebarWidth(WindowRef window, int dx);
void ToggleWindowGrowBox(WindowRef window);

void DoFillScreen(WindowRef window);
void DoStandardSize(WindowRef window);
void VerifyGraphWindowUserState(WindowRef window);
void DoEnterFullScreen();
void DoExitFullScreen();
void DoToggleFullScreen();

// The window's file type mark: molecule, crystal, or none.
void MyRemoveWindowProxy(WindowRef window);
// Rebuilds the off-screen images at the pane's size and replots.
void RedrawGraphPane(WindowRef window);

// The close box and the Close command. Answers true when the window was
// closed (or cleared and hidden); false when the user cancelled or a sheet
// is up.
bool CloseMainWindow(WindowRef window);
void DoCloseMainWindow(WindowRef window);
// The window's close button (the window manager's close): with Ctrl held the
// window closes without the save question. The info tip goes either way.
// Answers as CloseMainWindow.
bool DoMainWindowCloseBox(WindowRef window);
// After the user closed a structure window (its close button, File >
// Close): with no structure window left on screen the program quits as Quit
// does. It looks once the event loop has the hand again, so that a file
// handed over meanwhile keeps the program running.
void QuitWhenNoGraphWindowShows();
// Holds the window at its size while a movie records it (true), and lets it
// be resized again (false).
void HoldGraphWindowSize(WindowRef window, bool hold);
void ClearMainWindow(WindowRef window);
void DisposeMainWindow(WindowRef window);

// True when the front structure window shows a sheet.
bool FrontGraphWindowHasSheet();
// Whether the window holds unsaved changes (a change not yet compared with
// the saved document is compared first), and clearing that mark: what the
// window holds counts as its saved document from then on.
bool IsWindowModified(WindowRef window);
void ClearWindowModified(WindowRef window);

// Every structure window's title carries Qt's placeholder for the modified
// mark; these give the title as the user reads it, without it.
QString PlainWindowTitle(const QWidget *window);
std::string GraphWindowTitle(WindowRef window);
// Gives the graph pane the keyboard focus (the pane's keys then turn the
// structure rather than type into the notes).
void FocusGraphPane(WindowRef window);

// Structure windows front to back.
WindowRef GetNextGraphWindow(WindowRef window);
int GetNumGraphWindows();

// What other windows add to the structure window, installed at start-up by
// the code of those windows; a hook left unset is skipped.
struct StructureWindowHooks {
  // The site browser in the atoms pane (the site browser window).
  void (*initSiteBrowser)(WindowRef window, QWidget *atomsContainer) = nullptr;
  // Refreshes the info window (the info window).
  void (*updateInfoWindow)() = nullptr;
  // Frees the window's distance search (the Distance Explorer).
  void (*disposeDistanceSearch)(WindowRef window) = nullptr;
  // Stops a movie recorded from the window (the video recorder).
  void (*stopRecordingVideo)(WindowRef window) = nullptr;
  // Cancels the window's molecule relaxation (the relaxation).
  void (*cancelRelaxMolecule)(WindowRef window) = nullptr;
};
extern StructureWindowHooks gStructureWindowHooks;
