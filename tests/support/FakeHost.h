// A recording host for tests: installs itself for its lifetime, records what
// the engine logged, alerted, showed, armed, refreshed, sent and asked, and
// answers alerts, the cancel key, the mouse button, graph panes and window
// titles by script. Its clock only moves when a test advances it. Calls
// posted to the main thread wait in a queue until the test runs them.
#pragma once

#include "HostServices.h"
#include "StructureRecord.h"

#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

// Thrown where the real host would end the program.
struct ProgramTerminated : std::runtime_error {
  int code;
  explicit ProgramTerminated(int c) : std::runtime_error("program terminated"), code(c) {}
};

class FakeHost : public HostServices {
public:
  struct ColouredRun {
    size_t start;
    size_t length;
    RGBColor colour;
  };
  struct StatusEvent {
    bool shown; // false for a hide
    std::string message;
    float percent;
    uint64_t atMicroseconds;
  };
  struct TimerArm {
    EventLoopTimer *timer;
    double seconds;
    uint64_t atMicroseconds;
  };

  FakeHost();
  ~FakeHost() override;
  FakeHost(const FakeHost &) = delete;
  FakeHost &operator=(const FakeHost &) = delete;

  // Recorded.
  std::string log; // everything appended to the Log, lines end in '\r'
  std::vector<ColouredRun> colouredRuns;
  int logAppendCalls = 0;
  std::vector<AlertRequest> alerts;
  std::vector<StatusEvent> status;
  std::vector<std::pair<WindowRef, std::string>> subtitles;
  std::vector<TimerArm> arms;
  std::vector<CocoaCursor> cursors;
  int floatingWindowUpdates = 0;
  int cancelChecks = 0;
  // Window services, one entry per call.
  std::vector<WindowRef> shownWindows;
  std::vector<WindowRef> closedWindows;
  std::vector<WindowRef> rulersDrawn;
  std::vector<WindowRef> siteBrowserUpdates;
  int atomPickerUpdates = 0;
  int setRangeUpdates = 0;
  std::vector<float> labelSizeFields;
  std::vector<const CrystalRec *> orientationSends;
  // Save dialogs asked: prompt and proposed name.
  std::vector<std::pair<std::string, std::string>> saveDialogs;
  std::vector<WindowRef> toolbarUpdates;
  int modelOptionsUpdates = 0;
  int overviewLogShows = 0;
  // Input services: beeps, sounds and help tags asked for; the pointer
  // position answered; the colours the picker answers (cancelled when empty).
  int beeps = 0;
  std::vector<std::string> sounds;
  std::vector<std::pair<Rect, std::string>> helpTags;
  Point pointer;
  std::deque<RGBColor> pickedColors;
  // Interface calls (Log, alerts, subtitles, toolbars) made off the thread
  // that made the host.
  std::atomic<int> offMainThreadCalls{0};

  // Scripted.
  bool logAvailable = true;
  bool logShowing = false;
  std::deque<int> alertAnswers;   // button pressed per alert; 1 when empty
  std::deque<bool> cancelAnswers; // per cancel check; false when empty
  unsigned modifiers = 0;
  std::vector<WindowRef> windows; // structure windows, front first
  // Graph pane bounds per window; a window not listed has `graphPane`, or
  // no pane when that is empty.
  std::map<WindowRef, Rect> graphPanes;
  std::optional<Rect> graphPane;
  std::string windowTitle; // every window's title
  bool mouseDown = false;
  // The file each save dialog chooses, in order; cancelled when empty.
  std::deque<std::filesystem::path> savePaths;
  bool linkSender = true;             // false: the linked program cannot be reached
  std::atomic<uint64_t> now{1000000}; // read by worker threads too
  // Microseconds the clock moves on at every reading (0: only by Advance).
  std::atomic<uint64_t> tick{0};
  // While set, a clock reading on another thread than the host's waits:
  // tests hold worker threads at their first reading with it.
  std::atomic<bool> holdOtherThreads{false};
  // The format the image save dialog answers; none keeps the proposed one.
  std::optional<uint32_t> graphicsTypeAnswer;
  // Help pages asked for.
  std::vector<std::string> helpPages;

  void Advance(double seconds) { now += static_cast<uint64_t>(seconds * 1e6); }
  // Runs the calls posted to the main thread, in posting order, including
  // those posted meanwhile; answers how many ran.
  int RunPostedCalls();
  size_t PostedCallCount();
  // Lines of the Log without their carriage returns.
  std::vector<std::string> LogLines() const;
  // Fires every armed timer whose time has come, in firing order; a re-arm
  // replaces the earlier firing time. Answers how many fired.
  int FireDueTimers();
  bool IsArmed(const EventLoopTimer &timer) const;
  double SecondsUntil(const EventLoopTimer &timer) const;

  bool LogAvailable() override { return logAvailable; }
  void LogAppend(std::string_view text, const RGBColor &colour, size_t colouredBytes) override;
  bool LogShowing() override { return logShowing; }
  void StatusShow(std::string_view message, float percent) override;
  void StatusHide() override;
  int RunAlert(const AlertRequest &alert) override;
  [[noreturn]] void TerminateProgram(int code) override { throw ProgramTerminated(code); }
  WindowRef FrontGraphWindow() override { return windows.empty() ? nullptr : windows.front(); }
  std::vector<WindowRef> StructureWindows() override { return windows; }
  void DrawWindowSubtitle(WindowRef window, std::string_view text) override;
  bool GraphBounds(WindowRef window, Rect *bounds) override;
  std::string WindowTitle(WindowRef) override { return windowTitle; }
  void ShowWindow(WindowRef window) override { shownWindows.push_back(window); }
  void CloseWindow(WindowRef window) override { closedWindows.push_back(window); }
  void DrawRulers(WindowRef window) override { rulersDrawn.push_back(window); }
  void UpdateSiteBrowser(WindowRef window) override { siteBrowserUpdates.push_back(window); }
  void UpdateAtomPicker() override { ++atomPickerUpdates; }
  void UpdateSetRange() override { ++setRangeUpdates; }
  void UpdateLabelOptionsSizeField(float size) override { labelSizeFields.push_back(size); }
  int16_t SendOrientationMatrix(const CrystalRec *crystal) override;
  bool CheckForUserCancel() override;
  bool MouseButtonDown() override { return mouseDown; }
  unsigned CurrentModifiers() override { return modifiers; }
  void SetCursor(CocoaCursor cursor) override { cursors.push_back(cursor); }
  void UpdateFloatingWindows() override { ++floatingWindowUpdates; }
  void ArmTimer(EventLoopTimer &timer, double seconds) override;
  int SaveFileDialog(std::string_view prompt, std::string_view proposedName, std::filesystem::path *file) override;
  void PostToMainThread(std::function<void()> call) override;
  uint64_t NowMicroseconds() override;
  void UpdateWindowToolbar(WindowRef window) override;
  void UpdateModelOptions() override { ++modelOptionsUpdates; }
  void ShowOverviewLog() override { ++overviewLogShows; }
  // Recorded in `saveDialogs` and answered from `savePaths` like the save
  // dialog.
  int SaveGraphicsFileDialog(std::string_view title, std::string_view proposedName, uint32_t *fileType,
                             std::filesystem::path *file) override;
  void OpenHelpPage(std::string_view page) override { helpPages.emplace_back(page); }
  void Beep() override { ++beeps; }
  void PlaySound(std::string_view name) override { sounds.emplace_back(name); }
  void ShowHelpTag(WindowRef, const Rect &area, std::string_view text) override { helpTags.emplace_back(area, text); }
  Point PointerPosition(WindowRef) override { return pointer; }
  bool ChooseColour(std::string_view, RGBColor *colour) override {
    if (pickedColors.empty())
      return false;
    *colour = pickedColors.front();
    pickedColors.pop_front();
    return true;
  }

private:
  void CheckThread();
  std::thread::id mainThread_ = std::this_thread::get_id();
  std::mutex postedMutex_;
  std::deque<std::function<void()>> posted_;
  HostServices *previous_ = nullptr;
  struct Pending {
    EventLoopTimer *timer;
    uint64_t due;
  };
  std::vector<Pending> pending_;
};
