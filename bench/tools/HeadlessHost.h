// A host for the benchmarks and tools: one structure window with a graph
// pane of a chosen size and nothing on screen; alerts and the Log go to
// standard error, timers never fire, the clock is the steady clock.
#pragma once

#include "HostServices.h"

#include <functional>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

// A host without windows on screen: one structure window with a graph pane
// of the picture's size, alerts and the Log on standard error.
class HeadlessHost final : public HostServices {
public:
  WindowRef window = nullptr;
  Rect pane;

  bool LogAvailable() override { return true; }
  void LogAppend(std::string_view text, const RGBColor &, size_t) override {
    std::string line(text);
    std::replace(line.begin(), line.end(), '\r', '\n');
    std::fputs(line.c_str(), stderr);
  }
  bool LogShowing() override { return true; }
  void StatusShow(std::string_view, float) override {}
  void StatusHide() override {}
  int RunAlert(const AlertRequest &alert) override {
    std::fprintf(stderr, "alert: %s %s\n", alert.message.c_str(), alert.explanation.c_str());
    return 1;
  }
  [[noreturn]] void TerminateProgram(int code) override { std::exit(code); }
  WindowRef FrontGraphWindow() override { return window; }
  std::vector<WindowRef> StructureWindows() override { return {window}; }
  void DrawWindowSubtitle(WindowRef, std::string_view) override {}
  bool GraphBounds(WindowRef w, Rect *bounds) override {
    if (w != window)
      return false;
    *bounds = pane;
    return true;
  }
  std::string WindowTitle(WindowRef) override { return "headless"; }
  void ShowWindow(WindowRef) override {}
  void CloseWindow(WindowRef) override {}
  // The cancel key: never pressed, unless a benchmark answers for it.
  std::function<bool()> cancelCheck;
  bool CheckForUserCancel() override { return cancelCheck && cancelCheck(); }
  bool MouseButtonDown() override { return false; }
  unsigned CurrentModifiers() override { return 0; }
  void SetCursor(CocoaCursor) override {}
  void UpdateFloatingWindows() override {}
  void ArmTimer(EventLoopTimer &, double) override {}
  // The tools run no worker threads and no event loop: a posted call runs
  // at once.
  void PostToMainThread(std::function<void()> call) override { call(); }
  uint64_t NowMicroseconds() override {
    return uint64_t(
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
  }
};
