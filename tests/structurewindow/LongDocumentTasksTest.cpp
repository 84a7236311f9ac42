// The long waits of a large structure on a slow machine (SlowHost.h): opening
// a document, saving it and keeping its undo state show the status window
// half a second in, and one Escape stops the whole command: an open leaves
// no window, a save leaves the file as it was, a plot stopped while its
// polyhedra are defined returns to the structure as it was before. The
// polyhedra themselves wait until the polyhedral model is chosen.
#include "inspectors/PlotRangeWindow.h"
#include "shell/EngineHooks.h"

#include "ExampleWindowsTest.h"
#include "SlowHost.h"

#include "CachedFiles.h"
#include "Polyhedra.h"
#include "RenderServices.h"
#include "documents/CacheWrites.h"
#include "documents/PrefsFile.h"
#include "documents/UndoHistory.h"
#include "window/MainWindowData.h"

#include <QLineEdit>
#include <QTest>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <future>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kPolyhedralModelCommand = FourCharsToLong("Poly");
// Cancel checks a stopped command may still make before it is over.
constexpr int kChecksAfterEscape = 1000;

// Notes whether any window of the program showed itself changed (the
// title's mark) while it watches.
struct MarkWatch : QObject {
  bool seen = false;
  MarkWatch() { qApp->installEventFilter(this); }
  bool eventFilter(QObject *watched, QEvent *event) override {
    if (event->type() == QEvent::ModifiedChange && watched->isWidgetType() &&
        static_cast<QWidget *>(watched)->isWindowModified())
      seen = true;
    return false;
  }
};

class LongDocumentTasksTest : public ExampleWindowsTest {
protected:
  void SetUp() override {
    ExampleWindowsTest::SetUp();
    InstallHostWindowHooks(host, [] { return AllGraphWindows(); });
    saved = SetHostServices(&host);
  }
  void TearDown() override {
    if (gRangeWindow)
      gRangeWindow->close();
    ExampleWindowsTest::TearDown();
    SetHostServices(saved);
  }
  // The range 0..cells on each axis typed into the Plot Range window and
  // applied with Return.
  void ApplyRange(const char *cells) {
    ProcessCommand(kCmdPlotRange);
    ASSERT_NE(gRangeWindow, nullptr);
    gRangeData.live = 0;
    for (int id : {1, 5, 9})
      Type(gRangeWindow, id, "0");
    for (int id : {3, 7, 11})
      Type(gRangeWindow, id, cells);
    QTest::keyClick(FindControl<QLineEdit>(gRangeWindow, 11), Qt::Key_Return);
    QCoreApplication::processEvents();
  }
  // The undo timer's settling of the last change, as its timer does.
  static void Settle() { UndoBufferTimerProc(); }
  // Rock salt over 0 to 12 cells (17,576 atoms) saved as a document.
  std::filesystem::path LargeDocument(const char *name) {
    MainWindow *w = Open("NaCl.ovtx");
    EXPECT_NE(w, nullptr);
    ApplyRange("12");
    EXPECT_FALSE(SaveAs(name).empty());
    return dialogs.saveFile;
  }

  SlowHost host;
  HostServices *saved = nullptr;
};

TEST_F(LongDocumentTasksTest, OpeningShowsTheStatusWindowAndEscapeLeavesNoWindow) {
  const std::filesystem::path file = LargeDocument("large.ovdf");
  CloseAllStructureWindows();
  MarkWatch marked;
  host.timersOnSlowClock = true;
  host.Begin(150000);
  MainWindow *w = Open(file);
  host.End();
  host.timersOnSlowClock = false;
  ASSERT_NE(w, nullptr);
  EXPECT_FALSE(marked.seen) << "the title showed the window changed while it opened";
  ASSERT_TRUE(host.Showed("Reading the document...")) << host.shown.size() << " messages";
  EXPECT_EQ(host.shown.front(), "Reading the document...");
  EXPECT_GE(host.firstShown - host.start, 500000u);

  // Stopped while it reads, while it draws or, its window up, while its
  // first undo state is kept or after that (the key pressed after the last
  // check of its work), the open of a document or of a text file leaves
  // the windows there were, with its one Log line, and the window is never
  // marked as changed meanwhile: however slow the machine, the undo timer
  // the drawing armed settles nothing in the middle of the open.
  const std::filesystem::path text = std::filesystem::path(folder.path().toStdString()) / "large.ovtx";
  {
    std::string nacl = FileBytes(ExamplesFolder() / "NaCl.ovtx");
    const size_t range = nacl.find("XYZR");
    ASSERT_NE(range, std::string::npos);
    nacl.replace(range, nacl.find('\n', range) - range, "XYZR 0 12 0 12 0 12");
    std::ofstream(text) << nacl;
  }
  const size_t windows = AllGraphWindows().size();
  const std::vector<MainWindow *> before = AllGraphWindows();
  auto stateKept = [&] {
    for (MainWindow *m : AllGraphWindows())
      if (std::find(before.begin(), before.end(), m) == before.end() && GetNumWindowHistory(m->Ref()) > 0)
        return true;
    return false;
  };
  const struct {
    std::filesystem::path file;
    const char *stage; // "" once the first undo state is kept
  } stops[] = {{file, "Reading the document"},
               {file, "Plotting atoms and bonds"},
               {file, "Keeping the state for Undo"},
               {text, "Keeping the state for Undo"},
               {file, ""}};
  for (const auto &stop : stops) {
    SCOPED_TRACE(stop.file.filename().string() + ", " + stop.stage);
    host.escapeWhile = stop.stage;
    if (!*stop.stage)
      host.escapeWhen = stateKept;
    host.timersOnSlowClock = true;
    marked.seen = false;
    host.Begin(150000);
    EXPECT_FALSE(OpenFSRefInWindow(stop.file, nullptr));
    host.End();
    host.timersOnSlowClock = false;
    QCoreApplication::processEvents();
    EXPECT_EQ(host.escapes, 1);
    EXPECT_LE(host.checks - host.escapedAtCheck, kChecksAfterEscape) << "checks made after the Escape";
    EXPECT_EQ(AllGraphWindows().size(), windows);
    EXPECT_TRUE(host.Logged("Opening stopped: nothing was opened from \"" + stop.file.filename().string() + "\"."))
        << host.log.size() << " Log lines";
    EXPECT_FALSE(host.Logged("Undo state put off"));
    EXPECT_FALSE(marked.seen) << "the title showed the window changed";
  }
}

// Stopped once its first undo state is handed to the cache writer, an open
// gives that state up without waiting for it to be written: here the cache
// folder takes no byte (the state's file is a pipe nobody reads) until the
// open is over, and then the writer stops before its first byte and leaves
// nothing behind.
TEST_F(LongDocumentTasksTest, AnOpenStoppedAfterItsUndoStateWaitsForNoWrite) {
  const std::filesystem::path file = LargeDocument("large.ovdf");
  CloseAllStructureWindows();
  // The cache document after the next one is the opened structure's state.
  const std::string taken = NewCacheFilePath().filename().string();
  const std::filesystem::path state =
      GetCacheFolder() / (kCacheFilePrefix + std::to_string(std::stoi(taken.substr(std::strlen(kCacheFilePrefix))) + 1));
  const std::filesystem::path part = state.string() + ".part";
  ASSERT_EQ(::mkfifo(part.c_str(), 0600), 0);

  const size_t windows = AllGraphWindows().size();
  host.escapeWhen = [] {
    const std::vector<MainWindow *> all = AllGraphWindows();
    return std::any_of(all.begin(), all.end(), [](MainWindow *m) { return GetNumWindowHistory(m->Ref()) > 0; });
  };
  host.timersOnSlowClock = true;
  host.Begin(150000);
  EXPECT_FALSE(OpenFSRefInWindow(file, nullptr));
  host.End();
  host.timersOnSlowClock = false;
  EXPECT_EQ(host.escapes, 1);
  EXPECT_EQ(AllGraphWindows().size(), windows);
  EXPECT_TRUE(host.Logged("Opening stopped: nothing was opened from \"large.ovdf\"."));

  // The pipe read, without waiting, until the writer is done with it: the
  // writer's bytes, if any. Whether the writer reaches its file before or
  // after the reader, it never waits for one.
  // A pipe gone already was removed, unwritten, by a writer given up before
  // it began.
  const int pipe = ::open(part.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_TRUE(pipe >= 0 || errno == ENOENT) << std::strerror(errno);
  std::future<void> done = std::async(std::launch::async, [] { FinishCacheWrites(); });
  size_t written = 0;
  char buffer[65536];
  const auto drain = [&] {
    for (ssize_t got; pipe >= 0 && (got = ::read(pipe, buffer, sizeof buffer)) > 0;)
      written += size_t(got);
  };
  while (done.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready)
    drain();
  drain();
  if (pipe >= 0)
    ::close(pipe);
  EXPECT_EQ(written, 0u);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(part)));
  EXPECT_FALSE(std::filesystem::exists(state));
}

// Quit a moment after a rotation: the full picture due after the quick one
// waits for the quit, so no status window comes up beside its question
// however long the question stays.
TEST_F(LongDocumentTasksTest, QuitJustAfterARotationAsksWithNoStatusWindowBeside) {
  MainWindow *w = Open("Pyrope.ovtx");
  ASSERT_NE(w, nullptr);
  QTest::keyClick(w->GraphPane(), Qt::Key_Left);
  size_t shownAsked = 0, shownAfter = 0;
  dialogs.whileAsked = [&] {
    shownAsked = host.shown.size();
    host.Wait(3000000); // three seconds, the question up
    shownAfter = host.shown.size();
  };
  host.Begin(150000);
  ProcessCommand(kCmdQuit);
  host.End();
  dialogs.whileAsked = nullptr;
  EXPECT_EQ(dialogs.asked, 1);
  EXPECT_EQ(shownAfter, shownAsked) << "shown beside the question: " << (host.shown.empty() ? "" : host.shown.back());
}

TEST_F(LongDocumentTasksTest, SavingShowsTheStatusWindowAndEscapeKeepsTheFile) {
  const std::filesystem::path file = LargeDocument("large.ovdf");
  MainWindow *w = GetMainWindow(FrontGraphWindow());
  ASSERT_NE(w, nullptr);
  ApplyRange("11");
  host.Begin(150000);
  EXPECT_EQ(ProcessCommand(kCmdSave), kNoErr);
  host.End();
  EXPECT_TRUE(host.Showed("Saving the document...")) << host.shown.size() << " messages";
  EXPECT_GE(host.firstShown - host.start, 500000u);
  EXPECT_FALSE(IsWindowModified(w->Ref()));
  const std::string kept = FileBytes(file);

  ApplyRange("10");
  host.escapeWhile = "Saving the document";
  host.Begin(150000);
  ProcessCommand(kCmdSave);
  host.End();
  EXPECT_EQ(host.escapes, 1);
  EXPECT_TRUE(FileBytes(file) == kept) << "the file changed";
  EXPECT_TRUE(IsWindowModified(w->Ref()));
  EXPECT_TRUE(host.Logged("Saving stopped: \"large.ovdf\" was left as it was."));
}

TEST_F(LongDocumentTasksTest, KeepingTheUndoStateShowsTheStatusWindowAndCanBePutOff) {
  LargeDocument("large.ovdf");
  MainWindow *w = GetMainWindow(FrontGraphWindow());
  ASSERT_NE(w, nullptr);
  Settle();
  const int states = GetNumWindowHistory(w->Ref());
  ApplyRange("11");
  // Outside a command the first key only clears one pressed before: the
  // Escape comes at the second question.
  host.escapeWhile = "Keeping the state for Undo";
  host.escapeSkips = 1;
  host.Begin(300000);
  Settle();
  host.End();
  EXPECT_TRUE(host.Showed("Keeping the state for Undo...")) << host.shown.size() << " messages";
  EXPECT_GE(host.escapes, 1);
  EXPECT_EQ(GetNumWindowHistory(w->Ref()), states);
  EXPECT_TRUE(host.Logged("Undo state put off"));
  // The change is still undone, its state taken then.
  EXPECT_EQ(ProcessCommand(kCmdUndo), kNoErr);
  EXPECT_EQ(GetWindowCrystal(w->Ref())->plotRange[1], 12.0f);
}

TEST_F(LongDocumentTasksTest, OneEscapeWhileDefiningPolyhedraStopsTheWholePlot) {
  MainWindow *w = Open("Spinel.ovtx");
  ASSERT_NE(w, nullptr);
  ProcessCommand(kPolyhedralModelCommand);
  Settle();
  CrystalRec *c = GetWindowCrystal(w->Ref());
  const float range = c->plotRange[1];
  host.escapeWhile = "Defining polyhedra";
  host.Begin(20000);
  ApplyRange("4");
  host.End();
  EXPECT_EQ(host.escapes, 1);
  EXPECT_TRUE(host.Logged("Polyhedra cancelled"));
  EXPECT_TRUE(host.Logged("Drawing cancelled: the structure is shown as it was before."));
  EXPECT_EQ(c->plotRange[1], range);
  EXPECT_EQ(c->modelType, kPolyhedralModel);
}

TEST_F(LongDocumentTasksTest, PolyhedraMadeWhenTheirModelIsChosenAreTheBuildsOwn) {
  MainWindow *w = Open("Spinel.ovtx");
  ASSERT_NE(w, nullptr);
  ApplyRange("2");
  CrystalRec *c = GetWindowCrystal(w->Ref());
  CrystalRec built = *c;
  DefinePolyhedra(&built);
  size_t made = 0;
  EXPECT_TRUE(c->derived.PolyhedraDue()) << "made before they were needed";
  ProcessCommand(kPolyhedralModelCommand);
  ASSERT_EQ(c->atoms.size(), built.atoms.size());
  for (size_t k = 0; k < c->atoms.size(); ++k) {
    const Polyhedron *now = AtomPolyhedron(c, c->atoms[k]), *then = AtomPolyhedron(&built, built.atoms[k]);
    ASSERT_EQ(now != nullptr, then != nullptr) << "atom " << k;
    if (!now)
      continue;
    ++made;
    ASSERT_EQ(now->faces.size(), then->faces.size()) << "atom " << k;
    for (size_t f = 0; f < now->faces.size(); ++f)
      EXPECT_EQ(now->faces[f].vertices, then->faces[f].vertices) << "atom " << k << ", face " << f;
  }
  EXPECT_GT(made, 100u);
}

} // namespace
