#include "HostServices.h"
#include "LongCommand.h"
#include "MemoryBudget.h"

#include "StructureRecord.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <utility>

uint8_t gProhibitErrorAlerts = 0;
uint8_t gShowProgress = 0;
uint8_t gRotateSelection = 0;
uint8_t gStartupDone = 0;
uint8_t gQuittingTime = 0;

EventLoopTimer gRenderingReplotTimer{"RenderingReplot", {}};
EventLoopTimer gUndoBufferTimer{"UndoBuffer", {}};

namespace {

HostServices *gHost = nullptr;

// Staging buffer of the Log: 8-bit lines each ending in a carriage return.
char gLogBuffer[kLogBufferSize];
uint32_t gLogBufferLen = 0;

// State of the status window for the task in progress.
struct StatusState {
  bool taskStarted = false; // a first report has come since the last close
  bool shown = false;
  uint64_t firstReport = 0; // microseconds
  uint64_t lastShown = 0;
  bool lastDeterminate = false;
  float percent = -1.0f;
  std::string message;
};
StatusState gStatus;

// The clock of the outermost long command running.
struct CommandClock {
  int depth = 0;
  bool owns = false; // it started with no status of another task showing
  uint64_t start = 0;
  bool cancelled = false; // the user stopped one of its stages
};
CommandClock gCommand;

uint64_t SteadyMicroseconds() {
  using namespace std::chrono;
  return static_cast<uint64_t>(duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count());
}

} // namespace

bool SameRGBColor(const RGBColor &a, const RGBColor &b) {
  return a.red == b.red && a.green == b.green && a.blue == b.blue;
}

HostServices *SetHostServices(HostServices *host) {
  HostServices *previous = gHost;
  gHost = host;
  return previous;
}

HostServices *GetHostServices() { return gHost; }

// ---- Clock ------------------------------------------------------------------

uint64_t Microseconds() { return gHost ? gHost->NowMicroseconds() : SteadyMicroseconds(); }

uint32_t TickCount() { return static_cast<uint32_t>(Microseconds() * 60 / 1000000); }

// ---- Log pane writers -------------------------------------------------------

void FWrite(std::string_view text) {
  if (!gHost || !gHost->LogAvailable())
    return;
  std::string line(text);
  line.push_back(kLogLineEnd);
  gHost->LogAppend(line, kRGBBlack, 0);
}

void FWriteCFString(std::string_view text) { FWrite(text); }

void FWriteColor(std::string_view text, RGBColor colour) {
  if (!gHost || !gHost->LogAvailable())
    return;
  std::string line(text);
  line.push_back(kLogLineEnd);
  gHost->LogAppend(line, colour, text.size());
}

void FWriteBuffer(std::string_view text) {
  // A line longer than the whole buffer goes to the Log directly, after
  // what is staged; without a Log it is cut to fit, so nothing is ever
  // written past the buffer's end.
  if (text.size() + 1 > kLogBufferSize && gHost && gHost->LogAvailable()) {
    FFlushBuffer();
    FWrite(text);
    return;
  }
  size_t n = std::min<size_t>(text.size(), kLogBufferSize - 1);
  if (kLogBufferSize - gLogBufferLen < n + 1) {
    FFlushBuffer();
    // Without a Log the buffer cannot drain; drop the oldest text rather
    // than overrun it.
    if (kLogBufferSize - gLogBufferLen < n + 1)
      gLogBufferLen = 0;
  }
  std::memcpy(gLogBuffer + gLogBufferLen, text.data(), n);
  gLogBuffer[gLogBufferLen + n] = kLogLineEnd;
  gLogBufferLen += static_cast<uint32_t>(n + 1);
}

void FFlushBuffer() {
  if (!gHost || !gHost->LogAvailable())
    return;
  if (gLogBufferLen > 0)
    gHost->LogAppend(std::string_view(gLogBuffer, gLogBufferLen), kRGBBlack, 0);
  gLogBufferLen = 0;
}

void FlushWrite(std::string_view text) {
  FWriteBuffer(text);
  FFlushBuffer();
}

uint32_t LogBufferLength() { return gLogBufferLen; }

void ResetLogBuffer() { gLogBufferLen = 0; }

// ---- Status window ----------------------------------------------------------

namespace {

void ShowStatus(uint64_t now) {
  gStatus.shown = true;
  gStatus.lastShown = now;
  gHost->StatusShow(gStatus.message, gStatus.lastDeterminate ? gStatus.percent : -1.0f);
}

void Report(std::string_view text, float percent, bool determinate) {
  if (!gHost)
    return;
  uint64_t now = Microseconds();
  if (!text.empty() || !determinate) // an empty progress text keeps the message
    gStatus.message = std::string(text);
  gStatus.percent = percent;
  // A stage of a long command opens the window once the command has run
  // the delay; its first report goes to a window left up by the last one.
  bool newStage = false;
  if (!gStatus.taskStarted) {
    gStatus.taskStarted = true;
    newStage = gStatus.shown;
    if (!LongCommandStart(&gStatus.firstReport)) {
      gStatus.firstReport = now;
      gStatus.lastDeterminate = determinate;
      return;
    }
  }
  if (!gStatus.shown) {
    gStatus.lastDeterminate = determinate;
    if (double(now - gStatus.firstReport) < kStatusOpenDelay * 1e6)
      return;
  } else if (!newStage && double(now - gStatus.lastShown) < kStatusUpdateInterval * 1e6 &&
             determinate == gStatus.lastDeterminate) {
    return;
  }
  gStatus.lastDeterminate = determinate;
  ShowStatus(now);
}

void EndStatus() {
  if (gHost && gStatus.shown)
    gHost->StatusHide();
  gStatus = StatusState{};
}

} // namespace

void WriteStatus(std::string_view text) { Report(text, -1.0f, false); }

void WriteProgress(std::string_view text, float percent) {
  if (!(percent >= 0.0f)) // below 0, and NaN, count as 0
    percent = 0.0f;
  if (percent > 99.9f)
    percent = 100.0f;
  Report(text, percent, true);
}

void CloseStatus() {
  if (gCommand.depth > 0 && gCommand.owns)
    gStatus.taskStarted = false;
  else
    EndStatus();
}

void RefreshStatus() {
  if (!gHost || !gStatus.taskStarted || gStatus.shown)
    return;
  const uint64_t now = Microseconds();
  if (double(now - gStatus.firstReport) >= kStatusOpenDelay * 1e6)
    ShowStatus(now);
}

void HideStatusForAlert() {
  if (gHost && gStatus.shown)
    gHost->StatusHide();
  gStatus.shown = false;
}

LongCommand::LongCommand() {
  if (gCommand.depth++ > 0)
    return;
  gCommand.owns = !gStatus.taskStarted && !gStatus.shown;
  gCommand.start = Microseconds();
  gCommand.cancelled = false;
}

LongCommand::~LongCommand() {
  if (--gCommand.depth > 0 || !gCommand.owns)
    return;
  gCommand.owns = false;
  EndStatus();
}

bool LongCommandStart(uint64_t *start) {
  if (gCommand.depth == 0 || !gCommand.owns)
    return false;
  *start = gCommand.start;
  return true;
}

bool LongCommandRunning() { return gCommand.depth > 0; }

void NoteLongCommandCancelled() {
  if (gCommand.depth > 0)
    gCommand.cancelled = true;
}

bool LongCommandCancelled() { return gCommand.depth > 0 && gCommand.cancelled; }

void RestartLongCommand() {
  if (gCommand.depth > 0)
    gCommand.start = Microseconds();
}

// ---- Windows, cursor, keys --------------------------------------------------

WindowRef FrontGraphWindow() { return gHost ? gHost->FrontGraphWindow() : nullptr; }

void DrawWindowSubtitle(WindowRef window, std::string_view text) {
  if (!gHost)
    return;
  if (!window)
    window = gHost->FrontGraphWindow();
  if (!window)
    return;
  gHost->DrawWindowSubtitle(window, text);
}

void SubtitleWindowOutput(WindowRef window) {
  if (gHost && gHost->LogShowing())
    return;
  DrawWindowSubtitle(window, "New output printed in the Log");
}

bool MyCheckForUserCancelEvent() {
  const KeepMemoryFailures outsideTheOpen; // the events of every window are served
  return gHost && gHost->CheckForUserCancel();
}

static bool ModifierDown(unsigned key) { return gHost && (gHost->CurrentModifiers() & key) != 0; }
bool MyCommandKeyDown() { return ModifierDown(kCommandKey); }
bool MyOptionKeyDown() { return ModifierDown(kOptionKey); }
bool MyShiftKeyDown() { return ModifierDown(kShiftKey); }
bool MyControlKeyDown() { return ModifierDown(kControlKey); }

void SetCocoaCursor(CocoaCursor cursor) {
  if (gHost)
    gHost->SetCursor(cursor);
}

void UpdateFloatingWindows() {
  if (gHost)
    gHost->UpdateFloatingWindows();
}

// ---- Save dialog -------------------------------------------------------------

int MyCreateSaveFileDialog(std::string_view prompt, std::string_view proposedName, std::filesystem::path *file) {
  if (!gHost || !file)
    return kUserCanceledErr;
  return gHost->SaveFileDialog(prompt, proposedName, file);
}

int MyGetGraphicsFile(std::string_view message, std::filesystem::path *file) {
  if (!gHost || !file)
    return kUserCanceledErr;
  return gHost->OpenGraphicsFileDialog(message, file);
}

int MyCreateSaveGraphicsFileDialog(std::string_view title, std::string_view proposedName, uint32_t *fileType,
                                   uint32_t * /*creator*/, std::filesystem::path *file) {
  if (!gHost || !file || !fileType)
    return kUserCanceledErr;
  return gHost->SaveGraphicsFileDialog(title, proposedName, fileType, file);
}

void MyOpenHelpPage(std::string_view page) {
  if (gHost)
    gHost->OpenHelpPage(page);
}

std::string GetProgramVersion() { return gHost ? gHost->ProgramVersion() : std::string("1.0.0"); }

// ---- Event-loop timers ------------------------------------------------------

void SetEventLoopTimerNextFireTime(EventLoopTimer &timer, double seconds) {
  if (gHost)
    gHost->ArmTimer(timer, seconds);
}

void PostToMainThread(std::function<void()> call) {
  if (gHost && call)
    gHost->PostToMainThread(std::move(call));
}

// ---- Window services by the engine's names -----------------------------------------------------------------

void GetWindowGraphBounds(WindowRef window, Rect *bounds) {
  if (!bounds)
    return;
  *bounds = Rect{};
  HostServices *host = GetHostServices();
  if (window && host && !host->GraphBounds(window, bounds))
    *bounds = Rect{};
}

void DrawRulers(WindowRef window) {
  if (HostServices *host = GetHostServices(); window && host)
    host->DrawRulers(window);
}

void UpdateSiteBrowser(WindowRef window) {
  if (HostServices *host = GetHostServices(); window && host)
    host->UpdateSiteBrowser(window);
}

void SiteBrowserColourByElement(WindowRef window) {
  if (HostServices *host = GetHostServices(); window && host)
    host->SiteBrowserColourByElement(window);
}

void UpdateAtomPicker() {
  if (HostServices *host = GetHostServices())
    host->UpdateAtomPicker();
}

void UpdateSetRange() {
  if (HostServices *host = GetHostServices())
    host->UpdateSetRange();
}

void UpdateLabelOptionsSizeField(float size) {
  if (HostServices *host = GetHostServices())
    host->UpdateLabelOptionsSizeField(size);
}

void UpdateWindowToolbar(WindowRef window) {
  if (HostServices *host = GetHostServices(); window && host)
    host->UpdateWindowToolbar(window);
}

void UpdateModelOptions() {
  if (HostServices *host = GetHostServices())
    host->UpdateModelOptions();
}

void DoShowOverviewLog() {
  if (HostServices *host = GetHostServices())
    host->ShowOverviewLog();
}

void UpdateEditAnnotation() {
  if (HostServices *host = GetHostServices())
    host->UpdateEditAnnotation();
}

void RepaintGraphPane(WindowRef window) {
  if (HostServices *host = GetHostServices(); window && host)
    host->RepaintGraphPane(window);
}

bool MyStillDown() {
  HostServices *host = GetHostServices();
  return host && host->MouseButtonDown();
}

int16_t AESendOrientationMatrix(const CrystalRec *crystal) {
  if (!crystal || crystal->diffractionLinkID == 0)
    return 0;
  HostServices *host = GetHostServices();
  return host ? host->SendOrientationMatrix(crystal) : kNoLinkSender;
}
