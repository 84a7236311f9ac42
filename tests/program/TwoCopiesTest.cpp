// Copies of the program started side by side, as a user's desktop may start
// them: the program itself, with folders of its own, beside the copy this
// test program runs.
#include "shell/FileCommands.h"
#include "structurewindow/MainWindow.h"
#include "structurewindow/StructureWindow.h"

#include "CachedFiles.h"
#include "window/MainWindowData.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr int kPatienceMs = 30000;

// Waits, running this program's events, until `done` holds or time is up.
bool WaitFor(const std::function<bool()> &done) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > kPatienceMs)
      return false;
    QCoreApplication::processEvents();
    QThread::msleep(20);
  }
  return true;
}

// Every cache document under a cache home, whichever copy made it.
std::set<fs::path> CacheDocuments(const fs::path &cacheHome) {
  std::set<fs::path> found;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(cacheHome, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec))
    // A name with ".part" is a document still being written: it becomes
    // the document of its name without the ending once whole.
    if (const std::string name = it->path().filename().string();
        name.starts_with("__OVCache") && !name.ends_with(".part"))
      found.insert(it->path());
  return found;
}

class TwoCopiesTest : public ::testing::Test {
protected:
  void SetUp() override {
    root = fs::temp_directory_path() / ("ov_copies_" + std::to_string(getpid()));
    fs::create_directories(root / "runtime");
    fs::permissions(root / "runtime", fs::perms::owner_all);
  }
  void TearDown() override {
    for (auto &copy : copies) {
      copy->kill();
      copy->waitForFinished();
    }
    copies.clear();
    std::error_code ec;
    fs::remove_all(root, ec);
  }
  // Starts the program on a file with the given preferences and cache
  // folders and a runtime folder of its own.
  QProcess *Start(const fs::path &file, const fs::path &config, const fs::path &cacheHome) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_CONFIG_HOME", QString::fromStdString(config.string()));
    env.insert("XDG_CACHE_HOME", QString::fromStdString(cacheHome.string()));
    env.insert("XDG_RUNTIME_DIR", QString::fromStdString((root / "runtime").string()));
    auto copy = std::make_unique<QProcess>();
    copy->setProcessEnvironment(env);
    copy->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    copy->start(OV_PROGRAM_FILE, {QString::fromStdString(file.string())});
    copies.push_back(std::move(copy));
    return copies.back().get();
  }
  fs::path root;
  std::vector<std::unique_ptr<QProcess>> copies;
};

TEST_F(TwoCopiesTest, CopiesStartedTogetherLeaveOneRunningWithAllTheFiles) {
  // The preferences file is a pipe that gives its reader nothing until the
  // test opens it: a copy that reads it waits there, in start-up, as a slow
  // start-up does. Every copy started waits there unless it learned first
  // that it is not the one to run.
  const fs::path prefs = root / "config" / "Orvalisphere" / "Orvalisphere 9 Preferences";
  fs::create_directories(prefs.parent_path());
  ASSERT_EQ(mkfifo(prefs.c_str(), 0600), 0);
  const char *files[] = {"NaCl.ovtx", "Quartz.ovtx", "Rutile.ovtx"};
  std::vector<QProcess *> started;
  for (const char *file : files)
    started.push_back(Start(ExamplesFolder() / file, root / "config", root / "cache"));
  for (QProcess *copy : started)
    ASSERT_TRUE(copy->waitForStarted());
  QElapsedTimer startUp;
  startUp.start();
  ASSERT_TRUE(WaitFor([&] { return startUp.elapsed() > 3000; }));
  int pipe = -1;
  ASSERT_TRUE(WaitFor([&] { return (pipe = open(prefs.c_str(), O_WRONLY | O_NONBLOCK)) >= 0; })) << "no copy reads";
  close(pipe);

  auto running = [&] {
    return std::count_if(started.begin(), started.end(),
                         [](QProcess *p) { return p->state() != QProcess::NotRunning; });
  };
  // The copy that runs opens its own file and those handed to it: each
  // window's first undo state is a cache document.
  EXPECT_TRUE(WaitFor([&] { return running() == 1 && CacheDocuments(root / "cache").size() == std::size(files); }))
      << running() << " copies run, " << CacheDocuments(root / "cache").size() << " cache documents";
  for (QProcess *copy : started) {
    if (copy->state() == QProcess::NotRunning) {
      EXPECT_EQ(copy->exitStatus(), QProcess::NormalExit);
      EXPECT_EQ(copy->exitCode(), 0);
    }
  }
}

TEST_F(TwoCopiesTest, AnotherCopyNeitherStartingNorQuittingRemovesThisCopysCacheDocuments) {
  const fs::path cacheHome = std::getenv("XDG_CACHE_HOME");
  ASSERT_TRUE(OpenFSRefInWindow(ExamplesFolder() / "NaCl.ovtx", nullptr));
  QCoreApplication::processEvents();
  const CachedFileRecord *history = GetWindowHistory(FrontGraphWindow());
  ASSERT_NE(history, nullptr);
  const fs::path ours = history->fileRef;
  ASSERT_TRUE(fs::exists(ours));
  // Ours as made: a file of the same name made again is not ours.
  const auto made = fs::last_write_time(ours);
  auto intact = [&] {
    std::error_code ec;
    return fs::last_write_time(ours, ec) == made && !ec;
  };

  // Another copy with other preferences (so that it runs) and this cache.
  QProcess *other = Start(ExamplesFolder() / "Quartz.ovtx", root / "config", cacheHome);
  std::set<fs::path> theirs;
  ASSERT_TRUE(WaitFor([&] {
    theirs = CacheDocuments(cacheHome);
    theirs.erase(ours);
    return !theirs.empty() || !intact() || other->state() == QProcess::NotRunning;
  }));
  EXPECT_TRUE(intact()) << "removed when the other copy started";
  ASSERT_FALSE(theirs.empty()) << "the other copy made none, or ended";

  ASSERT_TRUE(QuitApplication());
  gQuittingTime = 0;
  EXPECT_FALSE(fs::exists(ours)) << "this copy clears its own at quit";
  for (const fs::path &file : theirs)
    EXPECT_TRUE(fs::exists(file)) << file << " removed when this copy quit";
  EXPECT_EQ(other->state(), QProcess::Running);
}

} // namespace
