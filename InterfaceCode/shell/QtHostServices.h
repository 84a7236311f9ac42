// The program's host services on Qt: QMessageBox alerts, a small status
// window with a progress bar, the structure windows, QTimer-driven
// event-loop timers, the mouse and keyboard state and the cancel key.
#pragma once

#include "HostServices.h"
#include "structurewindow/EditAnnotation.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <map>
#include <vector>

class MainWindow;
class QTimer;
class StatusWindow;

class QtHostServices : public QObject, public HostServices {
  Q_OBJECT
public:
  QtHostServices();
  ~QtHostServices() override;

  // The Log pane is attached later by the Overview window; until then the
  // writers drop their text.
  using LogSink = std::function<void(std::string_view, const RGBColor &, size_t)>;
  void AttachLog(LogSink sink, std::function<bool()> showing);
  // The structure windows, front first, are kept by the window manager.
  void SetWindowList(std::function<std::vector<WindowRef>()> list);
  // Finds the structure window of a window reference; none for a window that
  // is not a structure window.
  void SetWindowLookup(std::function<MainWindow *(WindowRef)> lookup);
  void SetSubtitleDrawer(std::function<void(WindowRef, std::string_view)> drawer);
  void SetFloatingWindowUpdater(std::function<void()> updater);
  // The hooks above that start-up has not installed; calling one of them
  // reports "host hook not installed" as a critical message.
  std::vector<std::string> UnwiredHooks() const;

  bool LogAvailable() override { return static_cast<bool>(logSink_); }
  void LogAppend(std::string_view text, const RGBColor &colour, size_t colouredBytes) override;
  bool LogShowing() override { return logShowing_ && logShowing_(); }
  void StatusShow(std::string_view message, float percent) override;
  void StatusHide() override;
  int RunAlert(const AlertRequest &alert) override;
  [[noreturn]] void TerminateProgram(int code) override;
  WindowRef FrontGraphWindow() override;
  std::vector<WindowRef> StructureWindows() override;
  void DrawWindowSubtitle(WindowRef window, std::string_view text) override;
  void RepaintGraphPane(WindowRef window) override;
  bool GraphBounds(WindowRef window, Rect *bounds) override;
  std::string WindowTitle(WindowRef window) override;
  void ShowWindow(WindowRef window) override;
  void CloseWindow(WindowRef window) override;
  void DrawRulers(WindowRef window) override;
  bool CheckForUserCancel() override;
  // A button held in a press that a window of the program still shows: a
  // press whose window went with it (the open dialog's double click on a
  // file) holds nothing the plots should wait for.
  bool MouseButtonDown() override;
  unsigned CurrentModifiers() override;
  void SetCursor(CocoaCursor cursor) override;
  void UpdateFloatingWindows() override;
  // Reloads the Edit Annotation window, once it has been made.
  void UpdateEditAnnotation() override { UpdateEditAnnotationWindow(); }
  // The Model Options inspector.
  void UpdateModelOptions() override;
  // The Overview window's Log tab, when that window shows.
  void ShowOverviewLog() override;
  // The element picker's colour discs.
  void UpdateAtomPicker() override;
  // The site browsers of the window and of the info window.
  void UpdateSiteBrowser(WindowRef window) override;
  // The site browser's Colour by Element, behind its don't-show-again notice.
  void SiteBrowserColourByElement(WindowRef window) override;
  void UpdateLabelOptionsSizeField(float size) override;
  // The Distance Explorer.
  void ShowDistanceWindow(WindowRef window) override;
  // The Plot Range window's fields.
  void UpdateSetRange() override;
  // The structure windows' toolbars.
  void UpdateWindowToolbar(WindowRef window) override;
  void ArmTimer(EventLoopTimer &timer, double seconds) override;
  // A queued call on this object, which lives on the main thread.
  void PostToMainThread(std::function<void()> call) override;
  uint64_t NowMicroseconds() override;
  // The shell's save dialog (ShellDialogs.h), so that tests answer it.
  int SaveFileDialog(std::string_view prompt, std::string_view proposedName, std::filesystem::path *file) override;
  // The image save dialog with its picture format pop-up.
  // A page of the help (resources/help), "page.html#anchor" allowed, in the
  // desktop's browser until the program has a help window of its own.
  void OpenHelpPage(std::string_view page) override;
  int SaveGraphicsFileDialog(std::string_view title, std::string_view proposedName, uint32_t *fileType,
                             std::filesystem::path *file) override;
  // The application's version; "1.0.0" when it has none.
  std::string ProgramVersion() override;
  bool ChooseColour(std::string_view prompt, RGBColor *colour) override;
  int OpenFileDialog(std::string_view prompt, std::filesystem::path *file) override;
  // The open dialog filtered to the pictures the image readers take.
  int OpenGraphicsFileDialog(std::string_view prompt, std::filesystem::path *file) override;
  // Structure window input: the system beep (also for sounds: the program
  // has no sound player), help tags as tool tips, the pointer in the
  // window's content.
  void Beep() override;
  void PlaySound(std::string_view name) override;
  void ShowHelpTag(WindowRef window, const Rect &area, std::string_view text) override;
  Point PointerPosition(WindowRef window) override;

protected:
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  MainWindow *StructureWindow(WindowRef window);
  static void ReportUnwired(const char *hook);

  LogSink logSink_;
  std::function<bool()> logShowing_;
  std::function<std::vector<WindowRef>()> windowList_;
  std::function<MainWindow *(WindowRef)> windowLookup_;
  std::function<void(WindowRef, std::string_view)> subtitleDrawer_;
  std::function<void()> floatingUpdater_;
  QPointer<StatusWindow> status_;
  std::map<EventLoopTimer *, QTimer *> timers_;
  QElapsedTimer clock_;
  // Set by the event filter on Escape or Ctrl+period, with the host clock
  // then; read and cleared by the cancel check.
  bool cancelSeen_ = false;
  uint64_t cancelSeenAt_ = 0;
  // True while the cancel check lets the event loop run: user input is held
  // back then, and close requests wait for the engine to return.
  bool insideCancelCheck_ = false;
  std::vector<QPointer<QObject>> deferredCloses_;
  QTimer *closeFlush_ = nullptr;
  // The window the last press went to.
  QPointer<QWidget> pressedWindow_;
  void FlushDeferredCloses();
  bool cursorOverridden_ = false;
};
