#include "FakeHost.h"

#include <algorithm>

FakeHost::FakeHost() {
  previous_ = SetHostServices(this);
  ResetLogBuffer();
  CloseStatus();
}

FakeHost::~FakeHost() {
  CloseStatus();
  ResetLogBuffer();
  SetHostServices(previous_);
}

std::vector<std::string> FakeHost::LogLines() const {
  std::vector<std::string> lines;
  std::string current;
  for (char c : log) {
    if (c == '\r') {
      lines.push_back(current);
      current.clear();
    } else {
      current.push_back(c);
    }
  }
  if (!current.empty())
    lines.push_back(current);
  return lines;
}

void FakeHost::CheckThread() {
  if (std::this_thread::get_id() != mainThread_)
    ++offMainThreadCalls;
}

void FakeHost::LogAppend(std::string_view text, const RGBColor &colour, size_t colouredBytes) {
  CheckThread();
  ++logAppendCalls;
  if (colouredBytes > 0)
    colouredRuns.push_back({log.size(), colouredBytes, colour});
  log.append(text);
}

void FakeHost::StatusShow(std::string_view message, float percent) {
  status.push_back({true, std::string(message), percent, now});
}

void FakeHost::StatusHide() { status.push_back({false, {}, 0.0f, now}); }

int FakeHost::RunAlert(const AlertRequest &alert) {
  CheckThread();
  alerts.push_back(alert);
  if (alertAnswers.empty())
    return 1;
  int answer = alertAnswers.front();
  alertAnswers.pop_front();
  return answer;
}

void FakeHost::DrawWindowSubtitle(WindowRef window, std::string_view text) {
  CheckThread();
  subtitles.emplace_back(window, std::string(text));
}

bool FakeHost::GraphBounds(WindowRef window, Rect *bounds) {
  auto it = graphPanes.find(window);
  if (it != graphPanes.end())
    *bounds = it->second;
  else if (graphPane)
    *bounds = *graphPane;
  else
    return false;
  return true;
}

int16_t FakeHost::SendOrientationMatrix(const CrystalRec *crystal) {
  if (!linkSender)
    return HostServices::SendOrientationMatrix(crystal);
  orientationSends.push_back(crystal);
  return 0;
}

bool FakeHost::CheckForUserCancel() {
  ++cancelChecks;
  if (cancelAnswers.empty())
    return false;
  bool answer = cancelAnswers.front();
  cancelAnswers.pop_front();
  return answer;
}

void FakeHost::ArmTimer(EventLoopTimer &timer, double seconds) {
  arms.push_back({&timer, seconds, now});
  uint64_t due = now + static_cast<uint64_t>(seconds * 1e6);
  auto it = std::find_if(pending_.begin(), pending_.end(), [&](const Pending &p) { return p.timer == &timer; });
  if (it != pending_.end())
    it->due = due;
  else
    pending_.push_back({&timer, due});
}

int FakeHost::FireDueTimers() {
  int fired = 0;
  for (;;) {
    auto it = std::min_element(pending_.begin(), pending_.end(),
                               [](const Pending &a, const Pending &b) { return a.due < b.due; });
    if (it == pending_.end() || it->due > now)
      return fired;
    EventLoopTimer *timer = it->timer;
    pending_.erase(it);
    ++fired;
    if (timer->proc)
      timer->proc();
  }
}

bool FakeHost::IsArmed(const EventLoopTimer &timer) const {
  return std::any_of(pending_.begin(), pending_.end(), [&](const Pending &p) { return p.timer == &timer; });
}

double FakeHost::SecondsUntil(const EventLoopTimer &timer) const {
  for (const Pending &p : pending_)
    if (p.timer == &timer)
      return (double(p.due) - double(now)) / 1e6;
  return -1.0;
}

int FakeHost::SaveFileDialog(std::string_view prompt, std::string_view proposedName, std::filesystem::path *file) {
  saveDialogs.emplace_back(std::string(prompt), std::string(proposedName));
  if (savePaths.empty())
    return kUserCanceledErr;
  *file = savePaths.front();
  savePaths.pop_front();
  return 0;
}

void FakeHost::PostToMainThread(std::function<void()> call) {
  std::lock_guard<std::mutex> lock(postedMutex_);
  posted_.push_back(std::move(call));
}

size_t FakeHost::PostedCallCount() {
  std::lock_guard<std::mutex> lock(postedMutex_);
  return posted_.size();
}

int FakeHost::RunPostedCalls() {
  int ran = 0;
  for (;;) {
    std::function<void()> call;
    {
      std::lock_guard<std::mutex> lock(postedMutex_);
      if (posted_.empty())
        return ran;
      call = std::move(posted_.front());
      posted_.pop_front();
    }
    call();
    ++ran;
  }
}

void FakeHost::UpdateWindowToolbar(WindowRef window) {
  CheckThread();
  toolbarUpdates.push_back(window);
}

uint64_t FakeHost::NowMicroseconds() {
  while (holdOtherThreads.load() && std::this_thread::get_id() != mainThread_)
    std::this_thread::yield();
  return now += tick.load();
}

int FakeHost::SaveGraphicsFileDialog(std::string_view title, std::string_view proposedName, uint32_t *fileType,
                                     std::filesystem::path *file) {
  const int result = SaveFileDialog(title, proposedName, file);
  if (result == 0 && graphicsTypeAnswer)
    *fileType = *graphicsTypeAnswer;
  return result;
}
