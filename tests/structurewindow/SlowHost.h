// The program's host on a slow machine: its clock moves only by `step` at
// each reading, Escape is pressed during a chosen cancel check (or the first
// one made while the status window shows a message beginning with
// `escapeWhile`), and the Log and the status window's messages are kept.
// `escapeWhen`, when set, presses Escape at the first check made while it
// holds. With `timersOnSlowClock`, an armed timer fires at the first cancel check
// (a turn of the event loop) its delay has passed on that clock: the
// machine so slow that every delay has passed by then.
#pragma once

#include "inspectors/PlotRangeWindow.h"
#include "shell/QtHostServices.h"

#include <QApplication>
#include <QKeyEvent>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

class SlowHost : public QtHostServices {
public:
  uint64_t step = 0;
  int escapeAtCheck = 0; // 1-based; 0 never
  std::string escapeWhile;
  int escapeSkips = 0; // checks made while showing it before the Escape
  std::function<bool()> escapeWhen;
  bool timersOnSlowClock = false;
  int checks = 0, escapes = 0;
  int escapedAtCheck = 0; // the check the last Escape was pressed at
  std::vector<std::string> log, shown;
  uint64_t start = 0, firstShown = 0; // the clock at the command's start and when the window first showed

  SlowHost() {
    AttachLog([this](std::string_view text, const RGBColor &, size_t) { log.emplace_back(text); }, [] { return true; });
  }
  uint64_t NowMicroseconds() override { return now_ += step; }
  void ArmTimer(EventLoopTimer &timer, double seconds) override {
    due_[&timer] = now_ + static_cast<uint64_t>(seconds * 1e6);
    QtHostServices::ArmTimer(timer, seconds);
  }
  // `microseconds` pass on the slow clock, and the timers due by then fire.
  void Wait(uint64_t microseconds) {
    now_ += microseconds;
    FireDueTimers();
  }
  bool CheckForUserCancel() override {
    ++checks;
    if (timersOnSlowClock)
      FireDueTimers();
    const bool showing = !escapeWhile.empty() && !shown.empty() && shown.back().starts_with(escapeWhile);
    if (checks == escapeAtCheck || (showing && escapes == 0 && skipped_++ >= escapeSkips) ||
        (escapeWhen && escapes == 0 && escapeWhen())) {
      ++escapes;
      escapedAtCheck = checks;
      QWidget *target = QApplication::focusWidget() ? QApplication::focusWidget() : QApplication::activeWindow();
      if (!target)
        target = gRangeWindow;
      if (!target && !QApplication::topLevelWidgets().isEmpty())
        target = QApplication::topLevelWidgets().front();
      if (target)
        QCoreApplication::postEvent(target, new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, {}));
    }
    return QtHostServices::CheckForUserCancel();
  }
  void StatusShow(std::string_view message, float percent) override {
    if (shown.empty())
      firstShown = now_;
    shown.emplace_back(message);
    QtHostServices::StatusShow(message, percent);
  }
  bool Logged(const std::string &part) const {
    return std::any_of(log.begin(), log.end(), [&](const std::string &l) { return l.find(part) != l.npos; });
  }
  bool Showed(const std::string &part) const {
    return std::any_of(shown.begin(), shown.end(), [&](const std::string &l) { return l.find(part) != l.npos; });
  }
  // The slow clock from now on, and the records of what it showed cleared.
  void Begin(uint64_t slowStep) {
    log.clear();
    shown.clear();
    checks = escapes = escapedAtCheck = skipped_ = 0;
    start = NowMicroseconds();
    step = slowStep;
  }
  void End() {
    step = 0;
    escapeAtCheck = 0;
    escapeWhile.clear();
    escapeWhen = nullptr;
    escapeSkips = 0;
  }

private:
  void FireDueTimers() {
    for (auto it = due_.begin(); it != due_.end();) {
      EventLoopTimer *timer = it->first;
      if (it->second > now_ || !timer->proc) {
        ++it;
        continue;
      }
      due_.erase(it); // single-shot: the call may arm it again
      timer->proc();
      it = due_.begin();
    }
  }
  uint64_t now_ = 1000000;
  int skipped_ = 0;
  std::map<EventLoopTimer *, uint64_t> due_; // armed timers, when each is due on the slow clock
};
