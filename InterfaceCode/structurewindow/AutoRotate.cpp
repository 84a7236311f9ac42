#include "AutoRotate.h"

#include "MainWindow.h"
#include "StructureWindow.h"
#include "WindowInput.h"
#include "shell/Commands.h"
#include "shell/Forms.h"

#include "StructureArrays.h"
#include "ViewOrientation.h"
#include "render/PlotPipeline.h"
#include "window/MainWindowData.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <vector>

AutoRotateSheetRecord gSaveAutoRotate;

namespace {

// A rotating window's slot: its timer and the running rotation. A timer
// still queued when its rotation ends or its window closes fires once more,
// so a slot lives as long as the program: a closed window's slot is parked
// (no window, not running) and serves the next window that rotates.
struct RotationSlot {
  EventLoopTimer timer;
  AutoRotateTimerRecord record;
  bool running = false;
};

std::vector<std::unique_ptr<RotationSlot>> &AllSlots() {
  static std::vector<std::unique_ptr<RotationSlot>> made;
  return made;
}

// The slot of each window that rotated and is still open.
std::map<WindowRef, RotationSlot *> &Slots() {
  static std::map<WindowRef, RotationSlot *> table;
  return table;
}

RotationSlot *FindSlot(WindowRef window) {
  auto it = Slots().find(window);
  return it == Slots().end() ? nullptr : it->second;
}

bool WindowStillThere(WindowRef window) {
  return GetMainWindow(window) && IsWindowFileOpen(window) && GetWindowCrystal(window);
}

void AutoRotateTimerFunc(RotationSlot &slot) {
  if (!slot.running)
    return;
  AutoRotateTimerRecord &r = slot.record;
  if (!WindowStillThere(r.window) || !IsWindowAutoRotating(r.window)) {
    slot.running = false;
    return;
  }
  const uint64_t frameStart = Microseconds();
  CrystalRec *crystal = GetWindowCrystal(r.window);
  const float step[3] = {r.rock ? 0.0f : r.stepX, r.stepY, r.rock ? 0.0f : r.stepZ};
  gTrackBallRotn = 1;
  if (gRotateSelection)
    RotateSelectionXYZ(crystal, step);
  else
    RotateXYZ(crystal, step);
  PlotCrystal(r.window, 1);
  gTrackBallRotn = 0;

  r.frameCount += 1;
  if (r.rock) {
    if (r.frameCount > r.framesPerCycle) {
      r.stepY = -r.stepY;
      r.frameCount = 0;
    }
  } else if (r.oneTurn && r.frameCount == r.framesPerCycle) {
    PrintAutoRotateDiagnostics(r);
    slot.running = false;
    SetWindowAutoRotating(r.window, false);
    return;
  }
  // The next frame is due 1/30 second after this one began.
  const double took = double(Microseconds() - frameStart) / 1e6;
  SetEventLoopTimerNextFireTime(slot.timer, NextAutoRotateDelay(took));
}

int32_t RoundHalfAway(double value) { return static_cast<int32_t>(std::lround(value)); }

} // namespace

bool DoAutoRotate(WindowRef window, float stepX, float stepY, float stepZ, bool oneTurn, bool rock,
                  float rockLimit) {
  if (!window || !GetMainWindowData(window))
    return false;
  if (stepX * stepX + stepY * stepY + stepZ * stepZ < kMinAutoRotateStep2)
    return false;
  // A rocking step counts by its size; its sign only sets the first
  // direction.
  if (rock && std::fabs(stepY) > rockLimit)
    return false;
  RotationSlot *&owned = Slots()[window];
  if (!owned) {
    for (const auto &parked : AllSlots())
      if (!parked->running && !parked->record.window) {
        owned = parked.get();
        break;
      }
    if (!owned)
      owned = AllSlots().emplace_back(std::make_unique<RotationSlot>()).get();
  }
  RotationSlot &slot = *owned;
  AutoRotateTimerRecord r;
  r.window = window;
  r.stepX = stepX, r.stepY = stepY, r.stepZ = stepZ;
  r.oneTurn = oneTurn, r.rock = rock, r.rockLimit = rockLimit;
  if (rock) {
    r.framesPerCycle = RoundHalfAway(rockLimit / std::fabs(stepY));
    r.frameCount = r.framesPerCycle / 2;
  } else if (oneTurn) {
    r.framesPerCycle = RoundHalfAway(360.0 / std::sqrt(double(stepX) * stepX + double(stepY) * stepY + double(stepZ) * stepZ));
  }
  r.startTime = Microseconds();
  // A rotation already running here is replaced, never doubled.
  slot.record = r;
  slot.running = true;
  if (slot.timer.name.empty()) {
    slot.timer.name = "auto rotation";
    RotationSlot *target = &slot;
    slot.timer.proc = [target] { AutoRotateTimerFunc(*target); };
  }
  SetWindowAutoRotating(window, true);
  SetEventLoopTimerNextFireTime(slot.timer, 0.0);
  return true;
}

const AutoRotateTimerRecord *GetAutoRotation(WindowRef window) {
  RotationSlot *slot = FindSlot(window);
  if (!slot || !slot->running || !IsWindowAutoRotating(window))
    return nullptr;
  return &slot->record;
}

EventLoopTimer *GetAutoRotateTimer(WindowRef window) {
  RotationSlot *slot = FindSlot(window);
  return slot ? &slot->timer : nullptr;
}

void ForgetAutoRotation(WindowRef window) {
  RotationSlot *slot = FindSlot(window);
  if (!slot)
    return;
  slot->running = false;
  slot->record = AutoRotateTimerRecord{};
  Slots().erase(window);
}

double NextAutoRotateDelay(double took) { return std::max(0.0, kAutoRotateFramePeriod - took); }

void StopAutoRotationForWindow(WindowRef window) { SetWindowAutoRotating(window, false); }

void DoAutoRotateInWindow(WindowRef window) {
  if (IsWindowAutoRotating(window))
    StopAutoRotationForWindow(window);
  else if (IsWindowFileOpen(window))
    DoAutoRotate(window, 0, 1, 0, false, false, 0);
}

void DoAutoRotateInAllWindows() {
  WindowRef front = FrontGraphWindow();
  if (!front)
    return;
  const bool stop = IsWindowAutoRotating(front);
  for (MainWindow *w : AllGraphWindows()) {
    WindowRef window = w->Ref();
    if (!w->isVisible())
      continue;
    if (stop && IsWindowAutoRotating(window))
      StopAutoRotationForWindow(window);
    else if (!stop && !IsWindowAutoRotating(window) && IsWindowFileOpen(window))
      DoAutoRotate(window, 0, 1, 0, false, false, 0);
  }
}

void PrintAutoRotateDiagnostics(const AutoRotateTimerRecord &r) {
  double seconds = double(Microseconds() - r.startTime) / 1e6;
  // A clock that did not move still gives finite rates.
  if (seconds <= 0)
    seconds = 1e-6;
  int32_t objects = 0;
  if (CrystalRec *crystal = GetWindowCrystal(r.window))
    GetCrystalSortIndex(crystal, &objects);
  Rect off{};
  GetWindowOffBounds(r.window, &off);
  const double pixels = double(off.right - off.left) * double(off.bottom - off.top);
  char line[256];
  std::snprintf(line, sizeof line,
                "Auto rotation through %ld steps took %.3f s (%.0f objects/s; %.2f frames/s (capped at: %.2f); %.2f "
                "megapixels/s)",
                long(r.framesPerCycle), seconds, double(objects) * r.framesPerCycle / seconds,
                r.framesPerCycle / seconds, 1.0 / kAutoRotateFramePeriod,
                pixels * r.framesPerCycle / 1000000.0 / seconds);
  FWrite(line);
}

// ---- The sheet's rules ------------------------------------------------------------

namespace {
constexpr float kMaxAxisAngle = 360.0f;
constexpr float kMinRockLimit = 1.0f;
constexpr float kMaxRockLimit = 360.0f;
} // namespace

std::string FormatAutoRotateAngle(float value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f\u00B0", double(value));
  return text;
}

float StepRockLimit(float value, float change) {
  return std::clamp(std::fabs(value) + change, kMinRockLimit, kMaxRockLimit);
}

float StepAxisAngle(float value, float change) { return std::clamp(value + change, -kMaxAxisAngle, kMaxAxisAngle); }

float StepYAngle(float value, float change, bool rock, float rockLimit) {
  if (!rock)
    return StepAxisAngle(value, change);
  const float limit = std::fabs(rockLimit);
  return std::clamp(value + change, -limit, limit);
}

int ValidateAutoRotate(const AutoRotateSheetRecord &r) {
  auto inRange = [](float v, float limit) { return std::isfinite(v) && v >= -limit && v <= limit; };
  if (r.mode == 2) {
    if (!(std::isfinite(r.rockLimit) && r.rockLimit > kMinRockLimit))
      return 3;
    if (!inRange(r.angleY, r.rockLimit))
      return 11;
    return 0;
  }
  if (r.useX && !inRange(r.angleX, kMaxAxisAngle))
    return 7;
  if (r.useY && !inRange(r.angleY, kMaxAxisAngle))
    return 11;
  if (r.useZ && !inRange(r.angleZ, kMaxAxisAngle))
    return 15;
  return 0;
}

void InstallAutoRotateCommands() {
  AddCommandHandler(
      [](uint32_t command, const QVariant &) -> OSStatus {
        WindowRef front = FrontGraphWindow();
        switch (command) {
        case kCmdAutoRotate:
          if (front)
            DoAutoRotateInWindow(front);
          return kNoErr;
        case kCmdAutoRotateAll:
          DoAutoRotateInAllWindows();
          return kNoErr;
        case kCmdAutoRotateSheet:
          if (front)
            DoShowAutoRotateSheet(front);
          return kNoErr;
        default:
          return kEventNotHandledErr;
        }
      },
      [](uint32_t command, QAction *action) -> OSStatus {
        if (command != kCmdAutoRotate && command != kCmdAutoRotateAll && command != kCmdAutoRotateSheet)
          return kEventNotHandledErr;
        WindowRef front = FrontGraphWindow();
        action->setEnabled(front && IsWindowFileOpen(front));
        if (command == kCmdAutoRotate) {
          action->setCheckable(true);
          action->setChecked(front && IsWindowAutoRotating(front));
        }
        return kNoErr;
      });
}
