// The whole program started once in a test executable, on the offscreen
// platform: a QApplication, the program's locale, configuration and cache
// folders of its own under /tmp, and a host that records the alerts it is
// asked to show (answering each as scripted, else with its first button), counts beeps, notes
// the timers armed and can put the pointer where a test wants it.
// Register it once per executable:
//
//   RecordingHost *gHost = nullptr;
//   const auto *const kEnvironment =
//       ::testing::AddGlobalTestEnvironment(new ProgramEnvironment("test_x", &gHost, &gDialogs));
//
// Header only: the support library sits below the interface layer.
#pragma once

#include "shell/QtHostServices.h"
#include "shell/ShellDialogs.h"
#include "shell/Startup.h"
#include "structurewindow/MainWindow.h"

#include <QApplication>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <functional>
#include <optional>
#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

class RecordingHost : public QtHostServices {
public:
  std::vector<AlertRequest> alerts;
  std::deque<int> answers; // the button pressed per alert; the first when none is left
  int beeps = 0;
  int RunAlert(const AlertRequest &alert) override {
    alerts.push_back(alert);
    if (answers.empty())
      return 1;
    const int answer = answers.front();
    answers.pop_front();
    return answer;
  }
  void Beep() override { ++beeps; }
  // How often the status window was shown, and it is shown for real.
  int statusShows = 0;
  void StatusShow(std::string_view message, float percent) override {
    ++statusShows;
    QtHostServices::StatusShow(message, percent);
  }
  // What the open dialog answers; empty: the dialog is cancelled.
  std::filesystem::path openFile;
  int OpenFileDialog(std::string_view, std::filesystem::path *file) override {
    if (openFile.empty())
      return kUserCanceledErr;
    *file = openFile;
    return 0;
  }
  // The pointer where a test puts it; the real one while unset.
  std::optional<Point> pointer;
  Point PointerPosition(WindowRef window) override {
    return pointer ? *pointer : QtHostServices::PointerPosition(window);
  }
  // The timers armed and their delays, in order; they are armed for real too.
  std::vector<std::pair<EventLoopTimer *, double>> armed;
  void ArmTimer(EventLoopTimer &timer, double seconds) override {
    armed.emplace_back(&timer, seconds);
    QtHostServices::ArmTimer(timer, seconds);
  }
};

// Shell dialogs that choose nothing: no file to open or save, "Don't Save"
// for the question about unsaved changes, and no window options.
class NoShellDialogs : public ShellDialogs {
public:
  std::vector<std::filesystem::path> GetOpenFiles() override { return {}; }
  std::optional<std::filesystem::path> GetSaveFile(const std::string &, const std::string &,
                                                   const std::filesystem::path &) override {
    return {};
  }
  SaveChangesAnswer ConfirmSaveChanges(const std::string &, bool) override { return SaveChangesAnswer::kDontSave; }
  bool GetWindowOptions(std::string &, int &) override { return false; }
};

// `Host` is RecordingHost or a host of the test's own derived from
// QtHostServices.
template <typename Host> class ProgramEnvironmentFor : public ::testing::Environment {
public:
  // `host` receives the host while the program runs; `dialogs`, when given,
  // answers the shell's dialogs; `beforeStart` installs what else the test
  // scripts before the program starts.
  ProgramEnvironmentFor(const char *name, Host **host, ShellDialogs *dialogs = nullptr,
                        std::function<void()> beforeStart = {})
      : name_(name), host_(host), dialogs_(dialogs), beforeStart_(std::move(beforeStart)) {}
  void SetUp() override {
    std::string pattern = "/tmp/" + name_ + "XXXXXX";
    temp_ = mkdtemp(pattern.data());
    setenv("XDG_CONFIG_HOME", (temp_ / "config").c_str(), 1);
    setenv("XDG_CACHE_HOME", (temp_ / "cache").c_str(), 1);
    static int argc = 1;
    static std::string program = name_;
    static char *argv[] = {program.data(), nullptr};
    new QApplication(argc, argv); // lives as long as the process
    InstallProgramLocale();
    QApplication::setApplicationVersion("1.0.0");
    if (dialogs_)
      SetShellDialogs(dialogs_);
    if (beforeStart_)
      beforeStart_();
    *host_ = new Host;
    ASSERT_TRUE(OVInitialize({}, *host_));
  }
  void TearDown() override {
    for (MainWindow *w : std::vector<MainWindow *>(AllGraphWindows()))
      delete w;
    SetHostServices(nullptr);
    delete *host_;
    *host_ = nullptr;
    std::error_code ec;
    std::filesystem::remove_all(temp_, ec);
  }
  const std::filesystem::path &Temp() const { return temp_; }

private:
  std::string name_;
  Host **host_;
  ShellDialogs *dialogs_;
  std::function<void()> beforeStart_;
  std::filesystem::path temp_;
};
using ProgramEnvironment = ProgramEnvironmentFor<RecordingHost>;
