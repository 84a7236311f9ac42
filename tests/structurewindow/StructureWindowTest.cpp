// The program as a user meets it: start-up, structure windows, open, save,
// close, undo and the Log, on the offscreen platform with scripted answers.
#include "structurewindow/StructureWindow.h"
#include "overview/OverviewPrivate.h"
#include "shell/Forms.h"
#include "shell/Commands.h"
#include "shell/FileCommands.h"
#include "shell/LogStore.h"
#include "shell/QtHostServices.h"
#include "shell/ShellDialogs.h"
#include "shell/Startup.h"
#include "shell/Printing.h"
#include "shell/Toolbars.h"
#include "structurewindow/Tools.h"
#include "structurewindow/WindowInput.h"
#include "ViewOrientation.h"
#include "structurewindow/MainWindow.h"
#include "structurewindow/PaneDrawing.h"

#include "BuildPipeline.h"
#include "Polyhedra.h"
#include "CachedFiles.h"
#include "documents/CrystalDocument.h"
#include "documents/PrefsFile.h"
#include "documents/UndoHistory.h"
#include "export/Export3D.h"
#include "export/ExportFrame.h"
#include "relax/RelaxThread.h"
#include "render/Highlights.h"
#include "window/MainWindowData.h"

#include <QApplication>
#include <QDropEvent>
#include <QFileDialog>
#include <QPrinter>
#include <QProcess>
#include <QWindow>
#include <QAction>
#include <QImage>
#include <QMimeData>
#include <QGuiApplication>
#include <QScreen>
#include <QTest>
#include <QTextEdit>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QTreeWidget>
#include <QPushButton>
#include <QElapsedTimer>
#include <QHeaderView>
#include <cmath>
#include <deque>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <tuple>

#include "ProgramEnvironment.h"

namespace fs = std::filesystem;

namespace {

class ScriptedDialogs : public ShellDialogs {
public:
  std::deque<SaveChangesAnswer> answers;
  int asked = 0;
  std::optional<fs::path> saveFile;
  std::vector<fs::path> openFiles;
  // What the last save dialog was asked to propose, and where.
  std::string proposedName;
  fs::path proposedFolder;
  // The print dialog's answer: sets the printer up, true for OK.
  std::function<bool(QPrinter &)> print;
  // The open dialog as the user meets it, when set.
  std::function<std::vector<fs::path>()> openDialog;
  std::vector<fs::path> GetOpenFiles() override { return openDialog ? openDialog() : openFiles; }
  std::optional<fs::path> GetSaveFile(const std::string &, const std::string &name, const fs::path &folder) override {
    proposedName = name;
    proposedFolder = folder;
    return saveFile;
  }
  bool PrintSetup(QPrinter &printer, QWidget *) override { return print && print(printer); }
  SaveChangesAnswer ConfirmSaveChanges(const std::string &, bool) override {
    ++asked;
    if (answers.empty())
      return SaveChangesAnswer::kCancel;
    SaveChangesAnswer a = answers.front();
    answers.pop_front();
    return a;
  }
  bool GetWindowOptions(std::string &, int &) override { return false; }
  // The structure chooser's answer (the first structure when unset), and
  // what it listed when last asked.
  std::optional<StructureChoice> choice;
  std::vector<StructureSummary> listed;
  int chooserShown = 0;
  StructureChoice ChooseStructures(const fs::path &, const std::vector<StructureSummary> &structures) override {
    ++chooserShown;
    listed = structures;
    return choice ? *choice : StructureChoice{{0}, false};
  }
};

RecordingHost *gHost = nullptr;
ScriptedDialogs gDialogs;

ProgramEnvironment *const gProgram = new ProgramEnvironment("ovshell", &gHost, &gDialogs);

const auto *const kEnvironment = ::testing::AddGlobalTestEnvironment(gProgram);

// The structure window the program opens at start-up on fresh preferences,
// as it was before any test touched it.
struct FirstWindow {
  QSize frame, menuBar, toolbar;
  int sidebar = 0, siteListWanted = 0;
};
FirstWindow gFirstWindow;
class FirstWindowRecorder : public ::testing::Environment {
  void SetUp() override {
    QCoreApplication::processEvents();
    MainWindow *w = GetMainWindow(FrontGraphWindow());
    ASSERT_NE(w, nullptr);
    gFirstWindow.frame = w->size();
    gFirstWindow.menuBar = w->menuWidget() ? w->menuWidget()->sizeHint() : QSize();
    if (QToolBar *toolbar = w->findChild<QToolBar *>())
      gFirstWindow.toolbar = toolbar->sizeHint();
    gFirstWindow.sidebar = w->AtomsContainer()->width();
    if (auto *list = w->AtomsContainer()->findChild<QTreeView *>()) {
      gFirstWindow.siteListWanted = 2 * list->frameWidth() + list->indentation();
      for (int column = 0; column < list->header()->count(); ++column)
        if (!list->header()->isSectionHidden(column))
          gFirstWindow.siteListWanted += list->header()->sectionSizeHint(column);
    }
  }
};
const auto *const kFirstWindow = ::testing::AddGlobalTestEnvironment(new FirstWindowRecorder);

// Every test starts from one empty, hidden structure window.
class ProgramTest : public ::testing::Test {
protected:
  void SetUp() override {
    gQuittingTime = 0;
    ResetAll();
    gHost->alerts.clear();
    gDialogs = ScriptedDialogs{};
  }
  void TearDown() override { ResetAll(); }
  static void ResetAll() {
    for (MainWindow *w : std::vector<MainWindow *>(AllGraphWindows())) {
      ClearWindowModified(w->Ref());
      DoCloseMainWindow(w->Ref());
    }
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    // The window left over keeps no size or panes from the test before.
    for (MainWindow *w : AllGraphWindows()) {
      WindowRef window = w->Ref();
      if (!IsWindowShowingRulers(window))
        ToggleRulers(window);
      if (!IsWindowShowingSidebar(window))
        ShowSidebar(window);
      w->ResizeContent(640, 480);
    }
    QCoreApplication::processEvents();
  }
  static MainWindow *Open(const fs::path &file) {
    if (!OpenFSRefInWindow(file, nullptr))
      return nullptr;
    QCoreApplication::processEvents();
    return GetMainWindow(FrontGraphWindow());
  }
  static fs::path Example(const char *name) { return ExamplesFolder() / name; }
  // The structure as a document holds it, for comparing two structures.
  static std::vector<uint8_t> Bytes(const CrystalRec &c) { return EncodeCrystalDocument(c, DocumentExtras{}); }
};

TEST_F(ProgramTest, StartUpLeavesOneGraphicsWindowAndTheLogKeepsEveryReport) {
  ASSERT_EQ(GetNumGraphWindows(), 1);
  EXPECT_EQ(PlainWindowTitle(GetMainWindow(FrontGraphWindow())), "Graphics");
  EXPECT_TRUE(gStartupDone);
  // Reports written while no window shows the Log are kept for it (an
  // earlier test's stopped open may have shown the Overview).
  if (OverviewLogShowing())
    ToggleShowOverviewWindow();
  ASSERT_FALSE(OverviewLogShowing());
  FWriteColor("a warning before the Log shows", kRGBRed);
  FWriteBuffer("a buffered line");
  FFlushBuffer();
  ASSERT_EQ(ProcessCommand(kCmdShowLog), kNoErr);
  ASSERT_TRUE(OverviewLogShowing());
  const QString shown = FindControl<QTextEdit>(GetOverviewWindow(), 201)->toPlainText();
  EXPECT_TRUE(shown.startsWith(QString::fromStdString(WelcomeBanner())));
  EXPECT_TRUE(shown.contains("a warning before the Log shows\na buffered line\n"));
  EXPECT_EQ(LogBufferLength(), 0u);
  ToggleShowOverviewWindow();
  EXPECT_FALSE(OverviewLogShowing());
}

TEST_F(ProgramTest, AnOpenedExampleShowsItsAtomsInTheGraphPane) {
  MainWindow *w = Open(Example("NaCl.ovtx"));
  ASSERT_NE(w, nullptr);
  EXPECT_TRUE(w->isVisible());
  EXPECT_EQ(PlainWindowTitle(w), "Halite (rock salt), NaCl") << "the title card";
  const CrystalRec *c = GetWindowCrystal(w->Ref());
  ASSERT_GT(UsableAtomCount(*c), 1);
  const QImage pane = w->GraphPane()->grab().toImage();
  const QRgb background = pane.pixel(1, 1);
  // Two atoms inside the pane, at different places.
  int probed = 0;
  QPoint first(-100, -100);
  for (int32_t i = 0; i < UsableAtomCount(*c) && probed < 2; i++) {
    const AtomRecord &atom = c->atoms[size_t(i)];
    const QPoint p(atom.pixel[0], atom.pixel[1]);
    if (!atom.visible || !pane.rect().adjusted(4, 4, -4, -4).contains(p) || (p - first).manhattanLength() < 8)
      continue;
    EXPECT_NE(pane.pixel(p), background) << "atom " << i << " at " << p.x() << "," << p.y();
    first = p;
    probed++;
  }
  EXPECT_EQ(probed, 2);
}

// The build's Log line names the structure, not the window it was read into.
TEST_F(ProgramTest, TheBuildLineNamesTheOpenedStructure) {
  ASSERT_NE(Open(Example("Rutile.ovtx")), nullptr);
  EXPECT_TRUE(GetLogStore()->PlainText().contains("Plotting the structure of: Rutile, TiO2; calculated formula: O 2.00 Ti 1.00"))
      << GetLogStore()->PlainText().right(400).toStdString();
}

TEST_F(ProgramTest, SaveAsCloseAndReopenGiveTheSameStructure) {
  MainWindow *w = Open(Example("Rutile.ovtx"));
  ASSERT_NE(w, nullptr);
  // The structure as a save writes it: with its polyhedra made.
  CrystalRec whole = *GetWindowCrystal(w->Ref());
  DefinePendingPolyhedra(&whole);
  const std::vector<uint8_t> before = Bytes(whole);
  gDialogs.saveFile = gProgram->Temp() / "rutile copy";
  ASSERT_EQ(ProcessCommand(kCmdSaveAs), kNoErr);
  const fs::path saved = gProgram->Temp() / "rutile copy.ovdf";
  ASSERT_TRUE(fs::exists(saved));
  EXPECT_EQ(PlainWindowTitle(w), "rutile copy");
  EXPECT_FALSE(IsWindowModified(w->Ref()));
  EXPECT_EQ(RecentFiles().front(), saved);

  ASSERT_EQ(ProcessCommand(kCmdClose), kNoErr);
  EXPECT_EQ(gDialogs.asked, 0) << "a saved window closes without asking";
  EXPECT_FALSE(w->isVisible());
  EXPECT_FALSE(IsWindowFileOpen(w->Ref()));

  // The engine's save dialog (the exports') is the same dialog.
  fs::path chosen;
  EXPECT_EQ(MyCreateSaveFileDialog("Export", "rutile.cif", &chosen), 0);
  EXPECT_EQ(chosen, gProgram->Temp() / "rutile copy");
  gDialogs.saveFile.reset();
  EXPECT_EQ(MyCreateSaveFileDialog("Export", "rutile.cif", &chosen), kUserCanceledErr);

  MainWindow *again = Open(saved);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(Bytes(*GetWindowCrystal(again->Ref())), before);
  EXPECT_EQ(again->File(), saved);
}

TEST_F(ProgramTest, AModifiedWindowAsksBeforeClosingAndCancelKeepsIt) {
  MainWindow *w = Open(Example("Quartz.ovtx"));
  ASSERT_NE(w, nullptr);
  OVSetWindowModified(w->Ref());
  gDialogs.answers = {SaveChangesAnswer::kCancel};
  w->close();
  EXPECT_EQ(gDialogs.asked, 1);
  EXPECT_TRUE(w->isVisible());
  EXPECT_TRUE(IsWindowFileOpen(w->Ref()));

  // The same answer stops a quit, and the program goes on.
  gDialogs.answers = {SaveChangesAnswer::kCancel};
  EXPECT_FALSE(QuitApplication());
  EXPECT_EQ(gQuittingTime, 0);
  EXPECT_TRUE(w->isVisible());

  gDialogs.answers = {SaveChangesAnswer::kDontSave};
  EXPECT_TRUE(CloseMainWindow(w->Ref()));
  EXPECT_FALSE(w->isVisible());
  EXPECT_EQ(GetNumGraphWindows(), 1) << "the last window is cleared and hidden, not disposed";
  EXPECT_EQ(PlainWindowTitle(w), "Graphics");
}

TEST_F(ProgramTest, UndoReturnsThePreviousStructureAndRedoTheNext) {
  MainWindow *w = Open(Example("NaCl.ovtx"));
  ASSERT_NE(w, nullptr);
  WindowRef window = w->Ref();
  EXPECT_FALSE(CanUndo(window)); // the structure as opened is the only state
  EXPECT_EQ(GetNumWindowHistory(window), 1);
  const std::vector<uint8_t> first = Bytes(*GetWindowCrystal(window));

  CrystalRec *c = GetWindowCrystal(window);
  c->a *= 1.02f;
  c->b *= 1.02f;
  c->c *= 1.02f;
  ASSERT_TRUE(RunNewCrystal(window, false, false, false));
  UndoBufferTimerProc();
  const std::vector<uint8_t> second = Bytes(*GetWindowCrystal(window));
  ASSERT_NE(first, second);
  EXPECT_EQ(GetNumWindowHistory(window), 2);

  ASSERT_EQ(ProcessCommand(kCmdUndo), kNoErr);
  EXPECT_EQ(Bytes(*GetWindowCrystal(window)), first);
  EXPECT_TRUE(CanRedo(window));
  EXPECT_FALSE(IsWindowModified(window)) << "back to the document as opened";
  ASSERT_EQ(ProcessCommand(kCmdRedo), kNoErr);
  EXPECT_EQ(Bytes(*GetWindowCrystal(window)), second);
  EXPECT_TRUE(IsWindowModified(window));

  // The undone structures go with the window: a Redo never brings the old
  // structure into the window reused for the next file.
  ASSERT_EQ(ProcessCommand(kCmdUndo), kNoErr);
  const fs::path redoDocument = GetWindowRedo(window)->fileRef;
  ClearWindowModified(window);
  ProcessCommand(kCmdClose);
  EXPECT_EQ(GetNumWindowRedo(window), 0);
  EXPECT_EQ(GetNumWindowHistory(window), 0);
  EXPECT_FALSE(fs::exists(redoDocument));
  MainWindow *reused = Open(Example("Rutile.ovtx"));
  ASSERT_EQ(reused, w);
  EXPECT_FALSE(CanRedo(window));
}

TEST_F(ProgramTest, AFileThatCannotBeReadAlertsAndOpensNoWindow) {
  ASSERT_NE(Open(Example("NaCl.ovtx")), nullptr);
  const fs::path fake = gProgram->Temp() / "broken.ovdf";
  std::ofstream(fake) << "this is not a document";
  const fs::path text = gProgram->Temp() / "notes.txt";
  std::ofstream(text) << "nothing a reader knows\n";
  for (const fs::path &file : {fake, text, gProgram->Temp() / "missing.ovtx"}) {
    gHost->alerts.clear();
    EXPECT_FALSE(OpenFSRefInWindow(file, nullptr)) << file;
    EXPECT_EQ(gHost->alerts.size(), 1u) << file;
    EXPECT_EQ(GetNumGraphWindows(), 1) << file;
  }
  EXPECT_EQ(gHost->alerts.back().message, "The file could not be opened.");
}

TEST_F(ProgramTest, FilesArriveFromASecondLaunchAndByDrop) {
  ASSERT_TRUE(PassFilesToRunningProgram({Example("Spinel.ovtx")}));
  for (int i = 0; i < 200 && !IsWindowFileOpen(FrontGraphWindow()); i++)
    QTest::qWait(10);
  ASSERT_TRUE(IsWindowFileOpen(FrontGraphWindow()));
  MainWindow *spinel = GetMainWindow(FrontGraphWindow());
  EXPECT_EQ(PlainWindowTitle(spinel), "Spinel, MgAl2O4");

  // Dropped on a window that holds a structure: a window of its own.
  QMimeData mime;
  mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(Example("Calcite.ovtx").string()))});
  QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(spinel, &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(50, 50), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(spinel, &drop);
  for (int i = 0; i < 200 && GetNumGraphWindows() < 2; i++)
    QTest::qWait(10);
  ASSERT_EQ(GetNumGraphWindows(), 2);
  MainWindow *calcite = GetMainWindow(FrontGraphWindow());
  EXPECT_EQ(PlainWindowTitle(calcite), "Calcite, CaCO3 (hexagonal axes)");
  // The new window takes the first one's layout, fitted to its own content.
  EXPECT_EQ(calcite->Panes().graph.bottom, calcite->Content()->height());
  EXPECT_EQ(calcite->Panes().notes.bottom, calcite->Content()->height());
  EXPECT_EQ(calcite->Panes().graph.right, calcite->Panes().divider.left);
  EXPECT_EQ(PlainWindowTitle(spinel), "Spinel, MgAl2O4");
}

TEST_F(ProgramTest, AResizedWindowReplotsAtThePaneSizeAndKeepsThePictureInProportion) {
  MainWindow *w = Open(Example("Rutile.ovtx"));
  ASSERT_NE(w, nullptr);
  WindowRef window = w->Ref();
  // Wide enough that the sidebar has its own width throughout.
  w->ResizeContent(900, 600);
  QCoreApplication::processEvents();
  const PaneEdges before = w->Panes().graph;
  const float scale = GetWindowCrystal(window)->plotScale;
  w->ResizeContent(w->LaidOutSize().width() + 120, w->LaidOutSize().height() + 50);
  QCoreApplication::processEvents();
  const PaneEdges after = w->Panes().graph;
  ASSERT_EQ(after.Width(), before.Width() + 120);
  ASSERT_EQ(after.Height(), before.Height() + 50);
  EXPECT_EQ(w->Panes().divider.left, after.right) << "the sidebar keeps its width";
  Rect offBounds;
  GetWindowOffBounds(window, &offBounds);
  EXPECT_EQ(offBounds.right - offBounds.left, after.Width());
  EXPECT_EQ(offBounds.bottom - offBounds.top, after.Height());
  EXPECT_NEAR(GetWindowCrystal(window)->plotScale,
              scale * std::hypot(after.Width(), after.Height()) / std::hypot(before.Width(), before.Height()), 1e-3);
}

TEST_F(ProgramTest, TogglesKeepThePaneRules) {
  MainWindow *w = Open(Example("NaCl.ovtx"));
  ASSERT_NE(w, nullptr);
  WindowRef window = w->Ref();
  // Hiding the only pane shown hides the sidebar and keeps the pane's flag.
  ToggleAtomsPane(window);
  EXPECT_FALSE(IsWindowShowingAtomsPane(window));
  EXPECT_TRUE(IsWindowShowingNotesPane(window));
  EXPECT_EQ(w->Panes().noteHeader.top, 0);
  ToggleNotesPane(window);
  EXPECT_FALSE(IsWindowShowingSidebar(window));
  EXPECT_TRUE(ShowNotesInWindowSidebar(window));
  EXPECT_EQ(w->Panes().graph.right, w->LaidOutSize().width());
  ShowSidebar(window);
  EXPECT_TRUE(IsWindowShowingNotesPane(window));
  EXPECT_EQ(w->Panes().graph.right, w->Panes().divider.left);

  // Showing the rulers over a low pane makes the content ruler + 80 high.
  ToggleRulers(window);
  EXPECT_FALSE(IsWindowShowingRulers(window));
  const int rulerHeight = w->Panes().ruler.Height();
  QCoreApplication::processEvents(); // the lower minimum size takes effect
  w->ResizeContent(w->LaidOutSize().width(), 90);
  QCoreApplication::processEvents();
  ASSERT_EQ(w->Panes().graph.Height(), 90);
  ToggleRulers(window);
  QCoreApplication::processEvents();
  EXPECT_EQ(w->LaidOutSize().height(), rulerHeight + kMinGraphPaneSize);
  EXPECT_EQ(w->Panes().graph.top, rulerHeight);
  EXPECT_EQ(w->Panes().graph.Height(), kMinGraphPaneSize);
}

TEST_F(ProgramTest, TheRulerAndTheGridShowTheDivisions) {
  MainWindow *w = Open(Example("NaCl.ovtx"));
  ASSERT_NE(w, nullptr);
  WindowRef window = w->Ref();
  CrystalRec *c = GetWindowCrystal(window);
  // 50 pixels per Angstrom: labels every 2 A (100 pixels), 8 ticks between,
  // the fourth taller.
  c->plotScale = 50.0f;
  const QImage ruler = w->Ruler()->grab().toImage();
  const int x0 = static_cast<int>(std::lround(ruler.width() / 2.0)), h = ruler.height();
  const QRgb tick = qRgb(102, 102, 102), back = qRgb(238, 238, 238);
  auto topOfTick = [&](int x) {
    int y = h - 2;
    while (y > 0 && ruler.pixel(x, y - 1) == tick)
      y--;
    return y;
  };
  EXPECT_EQ(ruler.pixel(x0 + 101, h - 1), tick) << "the bottom line";
  EXPECT_EQ(topOfTick(x0 + 100), 0) << "a label tick is full height";
  EXPECT_EQ(topOfTick(x0 - 100), 0);
  EXPECT_EQ(h - 1 - topOfTick(x0 + 12), static_cast<int>(0.25 * h)) << "minor tick at 0.25 A";
  EXPECT_EQ(h - 1 - topOfTick(x0 + 50), static_cast<int>(0.4 * h)) << "the middle tick at 1 A";
  EXPECT_EQ(ruler.pixel(x0 + 6, h - 2), back);

  // Grid on: faint blended lines at the ruler's divisions from the middle
  // of the graph outwards, and nothing changed between them.
  c->plotScale = 30.0f;
  RedrawGraphPane(window);
  const QImage plain = w->GraphPane()->grab().toImage();
  ASSERT_EQ(ProcessCommand(kCmdToggleGrid), kNoErr);
  EXPECT_TRUE(IsWindowShowingGrid(window));
  const QImage grid = w->GraphPane()->grab().toImage();
  ASSERT_TRUE(InitRulerDivisions(float(grid.width()), 30.0f));
  const int cx = static_cast<int>(std::lround(grid.width() / 2.0));
  const int cy = static_cast<int>(std::lround(grid.height() / 2.0));
  std::set<int> xs{cx}, ys{cy};
  for (int k = 1; k < 200; k++) {
    const int o = static_cast<int>(float(k) * gTickLabelInterval / float(gNumMinorTicks) * 30.0f);
    xs.insert({cx - o, cx + o});
    ys.insert({cy - o, cy + o});
  }
  int changed = 0, offLines = 0, blendedOnBlack = 0, black = 0;
  for (int y = 0; y < grid.height(); y++)
    for (int x = 0; x < grid.width(); x++) {
      if (plain.pixel(x, y) == grid.pixel(x, y))
        continue;
      changed++;
      offLines += !xs.count(x) && !ys.count(y);
      if (x == cx && plain.pixel(x, y) == qRgb(0, 0, 0)) {
        black++;
        blendedOnBlack += qGray(grid.pixel(x, y)) > 30 && qGray(grid.pixel(x, y)) < 100;
      }
    }
  EXPECT_GT(changed, grid.height());
  EXPECT_EQ(offLines, 0);
  EXPECT_EQ(blendedOnBlack, black) << "the centre line over the background: the grid colour blended";
}

TEST_F(ProgramTest, QuitSavesThePreferencesClosesTheWindowsAndEmptiesTheCache) {
  MainWindow *first = Open(Example("NaCl.ovtx"));
  MainWindow *second = Open(Example("Quartz.ovtx"));
  ASSERT_TRUE(first && second && first != second);
  // The structure as opened: a history document in the cache.
  ASSERT_EQ(GetNumWindowHistory(second->Ref()), 1);
  OVSetWindowModified(first->Ref());
  gDialogs.answers = {SaveChangesAnswer::kDontSave};
  second->resize(500, 400);
  QCoreApplication::processEvents();
  fs::remove(GetPrefsFilePath());

  EXPECT_TRUE(QuitApplication());
  EXPECT_EQ(gDialogs.asked, 1) << "only the modified window asks";
  EXPECT_TRUE(fs::exists(GetPrefsFilePath()));
  EXPECT_EQ(gPrefs.windowBounds.right - gPrefs.windowBounds.left, 500) << "the front window's settings";
  EXPECT_EQ(GetNumGraphWindows(), 1);
  EXPECT_FALSE(GetMainWindow(FrontGraphWindow())->isVisible());
  std::error_code gone; // the emptied folder goes too
  for (const auto &entry : fs::directory_iterator(GetCacheFolder(), gone))
    ADD_FAILURE() << "left in the cache: " << entry.path();
  gQuittingTime = 0;
}

TEST_F(ProgramTest, InFullScreenTheGraphPaneAloneCoversTheScreen) {
  MainWindow *w = Open(Example("Rutile.ovtx"));
  ASSERT_NE(w, nullptr);
  const QRect before = w->geometry();
  ASSERT_EQ(ProcessCommand(kCmdFillScreen), kNoErr);
  QCoreApplication::processEvents();
  EXPECT_TRUE(gFillScreen);
  const QRect pane(w->GraphPane()->mapToGlobal(QPoint(0, 0)), w->GraphPane()->size());
  EXPECT_EQ(pane, QGuiApplication::primaryScreen()->geometry());
  ASSERT_EQ(ProcessCommand(kCmdFillScreen), kNoErr);
  QCoreApplication::processEvents();
  EXPECT_FALSE(gFillScreen);
  EXPECT_EQ(w->geometry().size(), before.size());
}

TEST_F(ProgramTest, TheExportAndRelaxMenusReachTheEngineForTheFrontStructure) {
  MainWindow *w = Open(Example("Rutile.ovtx"));
  ASSERT_NE(w, nullptr);
  QAction *cif = GetCommandAction(kCmdExportCIF);
  QAction *relax = GetCommandAction(kCmdRelaxMolecule);
  ASSERT_TRUE(cif && relax);
  UpdateActionStatus(cif);
  UpdateActionStatus(relax);
  EXPECT_TRUE(cif->isEnabled());
  EXPECT_FALSE(relax->isEnabled()) << "a crystal cannot be relaxed";
  gDialogs.saveFile = gProgram->Temp() / "rutile.pdb";
  ASSERT_EQ(ProcessCommand(kCmdExportPDB), kNoErr);
  std::ifstream pdb(gProgram->Temp() / "rutile.pdb");
  std::string first;
  std::getline(pdb, first);
  EXPECT_EQ(first.rfind("HEADER", 0), 0u) << first;
  gDialogs.saveFile = gProgram->Temp() / "rutile.stl";
  ASSERT_EQ(ProcessCommand(kCmdExportSTL), kNoErr);
  EXPECT_GT(fs::file_size(gProgram->Temp() / "rutile.stl"), 84u) << "a model with triangles";

  MainWindow *m = Open(Example("Benzene.ovtx"));
  ASSERT_NE(m, nullptr);
  UpdateActionStatus(cif);
  UpdateActionStatus(relax);
  EXPECT_FALSE(cif->isEnabled()) << "a molecule has no CIF";
  EXPECT_TRUE(relax->isEnabled());
}

TEST(RulerDivisions, FollowTheScaleAndTheUnits) {
  ASSERT_TRUE(InitRulerDivisions(400, 50));
  EXPECT_EQ(gTickLabelInterval, 2.0f);
  EXPECT_EQ(gNumMinorTicks, 8);
  ASSERT_TRUE(InitRulerDivisions(400, 500));
  EXPECT_FLOAT_EQ(gTickLabelInterval, 0.2f);
  EXPECT_EQ(gNumMinorTicks, 4);
  EXPECT_FALSE(InitRulerDivisions(400, 0.009f));
  EXPECT_FALSE(InitRulerDivisions(0.5f, 50));
  ASSERT_TRUE(InitRulerDivisions(400, 0.02f)); // beyond the last row
  EXPECT_EQ(gTickLabelInterval, 2000.0f);
}

TEST_F(ProgramTest, TheToolbarHidesWithoutResizingThePlotAndTheToolWindowChoosesTools) {
  MainWindow *w = Open(Example("NaCl.ovtx"));
  ASSERT_NE(w, nullptr);
  w->show();
  QCoreApplication::processEvents();
  QToolBar *bar = WindowToolbar(w);
  ASSERT_NE(bar, nullptr);
  const bool shown = !bar->isHidden();
  const QSize pane = w->GraphPane()->size();
  ProcessCommand(FourCharsToLong("tbtg"));
  QCoreApplication::processEvents();
  EXPECT_EQ(bar->isHidden(), shown);
  EXPECT_EQ(w->GraphPane()->size(), pane) << "the window, not the plot, changes size";
  ProcessCommand(FourCharsToLong("tbtg"));

  ProcessCommand(FourCharsToLong("*Tls"));
  ASSERT_NE(gToolWindow, nullptr);
  EXPECT_TRUE(gToolWindow->isVisible());
  for (QToolButton *button : gToolWindow->findChildren<QToolButton *>())
    if (button->defaultAction() == GetCommandAction(FourCharsToLong("MagT")))
      button->click();
  EXPECT_EQ(gCurrentTool, kToolMagnify);
  EXPECT_TRUE(GetCommandAction(FourCharsToLong("MagT"))->isChecked());
  ProcessCommand(FourCharsToLong("RotT"));
  ProcessCommand(FourCharsToLong("*Tls"));
  EXPECT_FALSE(gToolWindow->isVisible());
}

} // namespace

TEST_F(ProgramTest, HighlightsPaintOverThePaneAndGoWithTheNextRefresh) {
  MainWindow *w = Open(Example("NaCl.ovtx"));
  ASSERT_NE(w, nullptr);
  WindowRef window = w->Ref();
  CrystalRec *c = GetWindowCrystal(window);
  const QPoint origin = w->GraphPane()->geometry().topLeft();
  int32_t atom = -1;
  for (int32_t i = 0; i < UsableAtomCount(*c) && atom < 0; i++)
    if (c->atoms[size_t(i)].visible && w->GraphPane()->rect().adjusted(20, 20, -20, -20).contains(
                                           QPoint(c->atoms[size_t(i)].pixel[0], c->atoms[size_t(i)].pixel[1])))
      atom = i;
  ASSERT_GE(atom, 0);
  const QPoint centre(c->atoms[size_t(atom)].pixel[0], c->atoms[size_t(atom)].pixel[1]);
  const QRgb before = w->GraphPane()->grab().toImage().pixel(centre);
  HiliteAtom(window, atom);
  // A 100-pixel dashed line along the pane's top and a label in its corner
  // (the pane's background is dark: white marks outlined in black).
  const Point a{int16_t(origin.y() + 8), int16_t(origin.x() + 10)}, b{int16_t(origin.y() + 8), int16_t(origin.x() + 110)};
  HiliteLine(window, a, b, true);
  HiliteRGBA main, contrast;
  ASSERT_TRUE(GetHiliteColorsForWindow(window, &main, &contrast));
  EXPECT_EQ(main, (HiliteRGBA{1, 1, 1, 1}));
  DrawHiliteString(window, "W", origin.x() + 30, origin.y() + 60, 0, main, contrast, kHiliteFont, 30, kAlignLeft, 0);
  const QImage shown = w->GraphPane()->grab().toImage();
  if (const char *folder = std::getenv("OV_DUMP_PNG"))
    shown.save(QString(folder) + "/highlights.png");
  // Yellow at half strength over the atom: red and green up, blue halved.
  const QRgb hilited = shown.pixel(centre);
  EXPECT_NEAR(qBlue(hilited), qBlue(before) / 2, 2);
  EXPECT_NEAR(qGreen(hilited), (qGreen(before) + 255) / 2, 2);
  // The narrow white dashes leave gaps along the line's middle.
  int white = 0, dark = 0;
  for (int x = 12; x < 108; x++) {
    const QRgb p = shown.pixel(x, 8);
    white += qRed(p) > 150 && qGreen(p) > 150;
    dark += qRed(p) < 60;
  }
  EXPECT_GT(white, 40);
  EXPECT_GT(dark, 8);
  int labelWhite = 0;
  for (int y = 30; y < 62; y++)
    for (int x = 30; x < 60; x++)
      labelWhite += qGray(shown.pixel(x, y)) > 230;
  EXPECT_GT(labelWhite, 20);
  // Refreshing the pane from the image wipes them.
  DrawGraphPane(window);
  EXPECT_TRUE(GetHiliteOverlay(window).empty());
  EXPECT_EQ(w->GraphPane()->grab().toImage().pixel(centre), before);
}

// ---- Desktop habits, the title's mark, the subtitle and printing -------------------------------

namespace {

void Press(QWidget *target, int key, const QString &text = {}) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
  QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
  QApplication::sendEvent(target, &press);
  QApplication::sendEvent(target, &release);
}

std::vector<float> Orientation(WindowRef window) {
  const CrystalRec *c = GetWindowCrystal(window);
  return std::vector<float>(std::begin(c->orientationMatrix), std::end(c->orientationMatrix));
}

} // namespace

TEST_F(ProgramTest, TheFirstWindowShowsItsWholeMenuBarAndToolbar) {
  EXPECT_GT(gFirstWindow.frame.width(), 640);
  EXPECT_GT(gFirstWindow.frame.height(), 480);
  // As wide as the bars ask, unless the screen is narrower.
  const int room = QGuiApplication::primaryScreen()->availableGeometry().width() - 8;
  EXPECT_GE(gFirstWindow.frame.width(), std::min(gFirstWindow.menuBar.width(), room));
  EXPECT_GE(gFirstWindow.frame.width(), std::min(gFirstWindow.toolbar.width(), room));
  // The sidebar has room for every column title of the site list.
  EXPECT_GT(gFirstWindow.siteListWanted, 0);
  EXPECT_GE(gFirstWindow.sidebar, std::min(gFirstWindow.siteListWanted, kMaxSidebarWidth));
}

TEST_F(ProgramTest, KeysGoToTheStructureFirstNotToTheNotes) {
  MainWindow *w = Open(Example("NaCl.ovtx"));
  ASSERT_NE(w, nullptr);
  QWidget *target = w->focusWidget();
  ASSERT_NE(target, nullptr);
  const std::vector<float> before = Orientation(w->Ref());
  const QString notes = w->NotesView()->toPlainText();
  Press(target, Qt::Key_Q, "q");
  Press(target, Qt::Key_Left);
  EXPECT_EQ(w->NotesView()->toPlainText(), notes);
  EXPECT_NE(Orientation(w->Ref()), before);
}

TEST_F(ProgramTest, TheTitleShowsTheUnsavedChangesMarkWithoutQtWarnings) {
  static std::vector<std::string> warnings;
  warnings.clear();
  const QtMessageHandler previous = qInstallMessageHandler(
      [](QtMsgType, const QMessageLogContext &, const QString &text) { warnings.push_back(text.toStdString()); });
  MainWindow *w = Open(Example("NaCl.ovtx"));
  ASSERT_NE(w, nullptr);
  ASSERT_NE(w->windowHandle(), nullptr);
  EXPECT_EQ(w->windowHandle()->title(), "Halite (rock salt), NaCl");
  Press(w->GraphPane(), Qt::Key_Left);
  // The mark follows once the change is settled, a moment later.
  EXPECT_TRUE(QTest::qWaitFor([&] { return w->windowHandle()->title() == "Halite (rock salt), NaCl*"; }, 2000))
      << w->windowHandle()->title().toStdString();
  ClearWindowModified(w->Ref());
  EXPECT_EQ(w->windowHandle()->title(), "Halite (rock salt), NaCl");
  qInstallMessageHandler(previous);
  for (const std::string &warning : warnings)
    EXPECT_EQ(warning.find("placeholder"), std::string::npos) << warning;
}

TEST_F(ProgramTest, ALongSubtitleStaysInsideANarrowPane) {
  MainWindow *w = Open(Example("NaCl.ovtx"));
  ASSERT_NE(w, nullptr);
  HideSidebar(w->Ref());
  w->ResizeContent(420, 400);
  QCoreApplication::processEvents();
  DrawWindowSubtitle(w->Ref(), "Click on the first atom of the bond whose length you want measured, then on the "
                               "second atom; the result goes to the Log");
  const QImage pane = w->GraphPane()->grab().toImage();
  // The banner's white rows: each has the picture at both of its ends.
  int bannerRows = 0;
  for (int y = 0; y < pane.height(); y++) {
    int white = 0;
    for (int x = 0; x < pane.width(); x++)
      white += pane.pixel(x, y) == qRgb(255, 255, 255);
    if (white < pane.width() / 2)
      continue;
    ++bannerRows;
    EXPECT_NE(pane.pixel(1, y), qRgb(255, 255, 255)) << "row " << y;
    EXPECT_NE(pane.pixel(pane.width() - 2, y), qRgb(255, 255, 255)) << "row " << y;
  }
  // Wrapped to more than one line of 12-point text.
  QFont font = w->GraphPane()->font();
  font.setPointSizeF(12);
  EXPECT_GT(bannerRows, QFontMetrics(font).lineSpacing() * 2);
}

TEST_F(ProgramTest, RevertToSavedAsksFirst) {
  const fs::path file = gProgram->Temp() / "revert" / "salt.ovdf";
  fs::create_directories(file.parent_path());
  MainWindow *w = Open(Example("NaCl.ovtx"));
  ASSERT_NE(w, nullptr);
  gDialogs.saveFile = file;
  ASSERT_EQ(ProcessCommand(kCmdSaveAs), kNoErr);
  const std::vector<float> saved = Orientation(w->Ref());
  Press(w->GraphPane(), Qt::Key_Left);
  ASSERT_TRUE(IsWindowModified(w->Ref()));
  gHost->alerts.clear();
  ProcessCommand(kCmdRevert);
  ASSERT_EQ(gHost->alerts.size(), 1u);
  EXPECT_NE(gHost->alerts[0].message.find("revert"), std::string::npos);
  EXPECT_EQ(gHost->alerts[0].buttons.front(), "Revert");
  // The first button reverts.
  EXPECT_EQ(Orientation(w->Ref()), saved);
  EXPECT_FALSE(IsWindowModified(w->Ref()));
}

TEST_F(ProgramTest, FileDialogsStartInTheFolderLastUsedAndSaveAsOffersTheDocumentType) {
  const fs::path folder = gProgram->Temp() / "last used";
  fs::create_directories(folder);
  fs::copy_file(Example("NaCl.ovtx"), folder / "NaCl.ovtx", fs::copy_options::overwrite_existing);
  gDialogs.openFiles = {folder / "NaCl.ovtx"};
  ProcessCommand(kCmdOpen);
  std::unique_ptr<QFileDialog> open(CreateOpenDialog(nullptr));
  EXPECT_EQ(fs::path(open->directory().absolutePath().toStdString()), folder);

  // A structure read from a text file has no document yet: Save As
  // proposes one of the crystal type, in that folder.
  ProcessCommand(kCmdSaveAs);
  EXPECT_EQ(gDialogs.proposedName, "Halite (rock salt), NaCl.ovdf") << "the title card names the structure";
  std::unique_ptr<QFileDialog> save(CreateSaveDialog(nullptr, "Save As", gDialogs.proposedName, gDialogs.proposedFolder));
  EXPECT_EQ(fs::path(save->directory().absolutePath().toStdString()), folder);
  EXPECT_EQ(save->selectedNameFilter(), "Crystal documents (*.ovdf)");
  EXPECT_EQ(save->defaultSuffix(), "ovdf");
}

TEST_F(ProgramTest, PrintPutsTheStructureOnThePage) {
  MainWindow *w = Open(Example("NaCl.ovtx"));
  ASSERT_NE(w, nullptr);
  Rect bounds;
  GetWindowOffBounds(w->Ref(), &bounds);
  const fs::path pdf = gProgram->Temp() / "printed.pdf";
  gDialogs.print = [&](QPrinter &printer) {
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString::fromStdString(pdf.string()));
    printer.setResolution(100);
    return true;
  };
  ASSERT_EQ(ProcessCommand(kCmdPrint), kNoErr);
  ASSERT_TRUE(fs::exists(pdf));
  // The window's own picture is back at the pane's size.
  Rect after;
  GetWindowOffBounds(w->Ref(), &after);
  EXPECT_EQ(after, bounds);

  const fs::path png = gProgram->Temp() / "printed";
  ASSERT_EQ(QProcess::execute("pdftoppm", {"-r", "50", "-png", "-singlefile", QString::fromStdString(pdf.string()),
                                           QString::fromStdString(png.string())}),
            0);
  const QImage page(QString::fromStdString(png.string() + ".png"));
  ASSERT_FALSE(page.isNull());
  // The atoms: coloured pixels spread over the page.
  int coloured = 0;
  QRect extent;
  for (int y = 0; y < page.height(); y++)
    for (int x = 0; x < page.width(); x++)
      if (const QColor c = page.pixelColor(x, y); c.hsvSaturation() > 80 && c.value() > 40) {
        ++coloured;
        extent |= QRect(x, y, 1, 1);
      }
  EXPECT_GT(coloured, page.width() * page.height() / 50);
  EXPECT_GT(extent.width(), page.width() / 3);
}

// A file of several structures: the user picks them in the chooser, which
// lists each one's name, formula, cell and space group, and each opens in
// a window of its own, whichever way the file came in.
namespace {
std::string RockSaltBlock(const std::string &name, double a) {
  return "data_" + name + "\n_cell_length_a " + std::to_string(a) + "\n_cell_length_b " + std::to_string(a) +
         "\n_cell_length_c " + std::to_string(a) +
         "\n_cell_angle_alpha 90\n_cell_angle_beta 90\n_cell_angle_gamma 90\n"
         "_symmetry_space_group_name_H-M 'F m -3 m'\n"
         "loop_\n_atom_site_label\n_atom_site_type_symbol\n_atom_site_fract_x\n_atom_site_fract_y\n"
         "_atom_site_fract_z\nNa1 Na 0 0 0\nCl1 Cl 0.5 0.5 0.5\n\n";
}
} // namespace

TEST_F(ProgramTest, TheChooserOpensEachPickedStructureInAWindowOfItsOwn) {
  const fs::path two = gProgram->Temp() / "two halides.cif";
  std::ofstream(two) << RockSaltBlock("halite", 5.64) + RockSaltBlock("sylvite", 6.29);
  gDialogs.choice = StructureChoice{{0, 1}, false};
  gDialogs.openFiles = {two};
  ProcessCommand(kCmdOpen);
  QCoreApplication::processEvents();
  gDialogs.openFiles.clear();
  ASSERT_EQ(gDialogs.listed.size(), 2u);
  EXPECT_EQ(gDialogs.listed[1].name, "sylvite");
  EXPECT_EQ(gDialogs.listed[1].formula, "Cl Na") << "Hill order";
  EXPECT_EQ(gDialogs.listed[1].cell, "6.2900 6.2900 6.2900  90.00 90.00 90.00");
  EXPECT_EQ(gDialogs.listed[1].spaceGroup, "F m -3 m");
  // Two structures, two windows.
  std::vector<float> cells;
  for (MainWindow *w : AllGraphWindows())
    if (IsWindowFileOpen(w->Ref()) && GetWindowCrystal(w->Ref())->atomsPerCell == 8)
      cells.push_back(GetWindowCrystal(w->Ref())->a);
  std::sort(cells.begin(), cells.end());
  ASSERT_EQ(cells.size(), 2u);
  EXPECT_FLOAT_EQ(cells[0], 5.64f);
  EXPECT_FLOAT_EQ(cells[1], 6.29f);
  // Each window bears the file's name and the structure's.
  std::set<QString> titles;
  for (MainWindow *w : AllGraphWindows())
    titles.insert(PlainWindowTitle(w));
  EXPECT_TRUE(titles.count(QString::fromUtf8("two halides halite")));
  EXPECT_TRUE(titles.count(QString::fromUtf8("two halides sylvite")));
  // Save As proposes the window's name as the document's.
  gDialogs.saveFile.reset();
  ProcessCommand(kCmdSaveAs);
  EXPECT_TRUE(gDialogs.proposedName == "two halides halite.ovdf" || gDialogs.proposedName == "two halides sylvite.ovdf")
      << gDialogs.proposedName;

  // Dropped on a window, and handed over by a second launch: the chooser
  // asks each time; a cancelled choice opens nothing and says nothing.
  gDialogs.choice = StructureChoice{};
  const int shown = gDialogs.chooserShown;
  const int windows = GetNumGraphWindows();
  gHost->alerts.clear();
  QMimeData mime;
  mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(two.string()))});
  MainWindow *front = GetMainWindow(FrontGraphWindow());
  QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(front, &enter);
  QDropEvent drop(QPointF(50, 50), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(front, &drop);
  for (int i = 0; i < 100 && gDialogs.chooserShown == shown; i++)
    QTest::qWait(10);
  EXPECT_EQ(gDialogs.chooserShown, shown + 1);
  ASSERT_TRUE(PassFilesToRunningProgram({two}));
  for (int i = 0; i < 200 && gDialogs.chooserShown == shown + 1; i++)
    QTest::qWait(10);
  EXPECT_EQ(gDialogs.chooserShown, shown + 2);
  EXPECT_EQ(GetNumGraphWindows(), windows);
  EXPECT_TRUE(gHost->alerts.empty());
  gDialogs.choice.reset();
}

// Memory that runs out in the window of a second structure is the file's
// one "No Memory" alert: the file's windows go, that one too.
TEST_F(ProgramTest, MemoryThatRunsOutInAnotherStructuresWindowLeavesNoWindow) {
  const fs::path two = gProgram->Temp() / "two halides.cif";
  std::ofstream(two) << RockSaltBlock("halite", 5.64) + RockSaltBlock("sylvite", 6.29);
  gDialogs.choice = StructureChoice{{0, 1}, false};
  // The second build runs out where it hands the window its notes.
  const auto setNotes = gDocumentWindowHooks.setNotes;
  int builds = 0;
  gDocumentWindowHooks.setNotes = [&](WindowRef window, const std::string &notes) {
    if (++builds == 2)
      throw std::bad_alloc();
    setNotes(window, notes);
  };
  const int windows = GetNumGraphWindows();
  gHost->alerts.clear();
  EXPECT_FALSE(OpenFSRefInWindow(two, nullptr));
  gDocumentWindowHooks.setNotes = setNotes;
  gDialogs.choice.reset();
  EXPECT_EQ(builds, 2);
  ASSERT_EQ(gHost->alerts.size(), 1u);
  EXPECT_EQ(gHost->alerts[0].message, "No Memory");
  EXPECT_NE(gHost->alerts[0].explanation.find("two halides.cif"), std::string::npos);
  QCoreApplication::processEvents();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(GetNumGraphWindows(), windows);
  EXPECT_EQ(gShowProgress, 0);
}

// Open All, and Open with more than twenty rows selected, ask before
// opening so many windows, the button saying how many; as the views of one
// window nothing is asked.
TEST_F(ProgramTest, OpenAllAsksBeforeOpeningMoreThanTwentyWindows) {
  const fs::path many = gProgram->Temp() / "many.cif";
  std::string text;
  for (int k = 0; k < 21; k++)
    text += RockSaltBlock("b" + std::to_string(k), 5.0 + 0.05 * k);
  std::ofstream(many) << text;
  const fs::path more = gProgram->Temp() / "more.cif";
  std::ofstream(more) << text + RockSaltBlock("b21", 6.1) + RockSaltBlock("b22", 6.2);
  const int windows = GetNumGraphWindows();
  StructureChoice every;
  for (size_t k = 0; k < 21; k++)
    every.picked.push_back(k);
  for (const auto &[file, choice, held] :
       {std::tuple{many, StructureChoice{{}, true}, 21}, std::tuple{many, every, 21}, std::tuple{more, every, 23}}) {
    gDialogs.choice = choice;
    gHost->alerts.clear();
    gHost->answers = {2}; // Cancel
    EXPECT_FALSE(OpenFSRefInWindow(file, nullptr));
    ASSERT_EQ(gHost->alerts.size(), 1u);
    EXPECT_EQ(gHost->alerts[0].message, "Open 21 windows?");
    EXPECT_EQ(gHost->alerts[0].explanation, "\"" + file.filename().string() + "\" holds " + std::to_string(held) +
                                                " structures, and each opens in a window of its own.");
    ASSERT_EQ(gHost->alerts[0].buttons.size(), 2u);
    EXPECT_EQ(gHost->alerts[0].buttons[0], "Open 21");
    EXPECT_EQ(GetNumGraphWindows(), windows) << "nothing opens, and no empty window stays";
  }
  every.asViews = true;
  gDialogs.choice = every;
  gHost->alerts.clear();
  EXPECT_TRUE(OpenFSRefInWindow(many, nullptr));
  EXPECT_TRUE(gHost->alerts.empty());
  EXPECT_EQ(GetNumGraphWindows(), windows);
  gDialogs.choice.reset();
}

// A file that cannot be read, opened into a window that holds a structure
// (a favourite clicked in the Overview), leaves that structure as it was.
TEST_F(ProgramTest, ARefusedFileLeavesTheWindowItWasOpenedIntoAsItWas) {
  MainWindow *w = Open(Example("Rutile.ovtx"));
  ASSERT_NE(w, nullptr);
  const std::vector<uint8_t> before = Bytes(*GetWindowCrystal(w->Ref()));
  const fs::path broken = gProgram->Temp() / "broken.cif";
  std::ofstream(broken) << "data_x\n_cell_length_a 5\nloop_\n_atom_site_label\n_atom_site_fract_x\nA 0.1 B\n";
  gHost->alerts.clear();
  EXPECT_FALSE(OpenFSRefInWindow(broken, w->Ref(), ImportChoice::TakeFirst));
  ASSERT_EQ(gHost->alerts.size(), 1u);
  EXPECT_NE(gHost->alerts[0].explanation.find("broken.cif"), std::string::npos) << gHost->alerts[0].explanation;
  ASSERT_TRUE(IsWindowFileOpen(w->Ref()));
  EXPECT_EQ(Bytes(*GetWindowCrystal(w->Ref())), before);
}

// A window opened from another program's file bears the file's name, as
// do Save As and the build's Log line; the names the file itself gives
// (the block code) go to the Log and the chooser.
TEST_F(ProgramTest, AWindowOfAnotherProgramsFileBearsTheFilesName) {
  const fs::path gz = gProgram->Temp() / "quartz.cif.gz"; // its block: data_nacl_gzip
  fs::copy_file(fs::path(OV_TEST_DATA) / "import/cif/nacl.cif.gz", gz, fs::copy_options::overwrite_existing);
  gDialogs.openFiles = {gz};
  ProcessCommand(kCmdOpen);
  QCoreApplication::processEvents();
  MainWindow *w = GetMainWindow(FrontGraphWindow());
  ASSERT_TRUE(IsWindowFileOpen(w->Ref()));
  EXPECT_EQ(PlainWindowTitle(w), "quartz");
  const QString log = GetLogStore()->PlainText();
  EXPECT_TRUE(log.contains("Plotting the structure of: quartz;")) << log.right(400).toStdString();
  EXPECT_TRUE(log.contains("quartz.cif: structure \"nacl_gzip\".")) << log.right(400).toStdString();
  ProcessCommand(kCmdSaveAs);
  EXPECT_EQ(gDialogs.proposedName, "quartz.ovdf");
  // A name that decides its format keeps what follows its dot.
  ASSERT_NE(Open(fs::path(OV_TEST_DATA) / "import/lammps/data.water"), nullptr);
  EXPECT_EQ(PlainWindowTitle(GetMainWindow(FrontGraphWindow())), "data.water");
}

// The chooser lists formulas in Hill order: C, H, then alphabetically.
TEST_F(ProgramTest, TheChooserListsFormulasInHillOrder) {
  const fs::path acid = gProgram->Temp() / "acid.cif";
  std::string block = "_cell_length_a 7\n_cell_length_b 7\n_cell_length_c 7\n_cell_angle_alpha 90\n"
                      "_cell_angle_beta 90\n_cell_angle_gamma 90\n_symmetry_space_group_name_H-M 'P 1'\nloop_\n"
                      "_atom_site_label\n_atom_site_fract_x\n_atom_site_fract_y\n_atom_site_fract_z\n"
                      "O1 0.1 0.1 0.1\nO2 0.2 0.1 0.1\n";
  for (int k = 0; k < 7; k++)
    block += "C" + std::to_string(k + 1) + " 0." + std::to_string(k + 3) + " 0.5 0.5\n";
  for (int k = 0; k < 6; k++)
    block += "H" + std::to_string(k + 1) + " 0." + std::to_string(k + 3) + " 0.7 0.7\n";
  std::ofstream(acid) << "data_one\n" + block + "data_two\n" + block;
  gDialogs.choice = StructureChoice{};
  ASSERT_FALSE(OpenFSRefInWindow(acid, nullptr));
  ASSERT_EQ(gDialogs.listed.size(), 2u);
  EXPECT_EQ(gDialogs.listed[0].formula, "C7 H6 O2");
  gDialogs.choice.reset();
}

// The chooser's own buttons and columns, as the user sees them.
TEST(StructureChooserDialog, OpenAsViewsTakesEveryStructureAndEmptyColumnsHide) {
  StructureSummary a{"frame 1", "C H4", "", "", "molecule", ""};
  StructureSummary b = a;
  b.name = "frame 2";
  b.commonName = "methane";
  std::unique_ptr<QDialog> chooser(CreateStructureChooser(nullptr, "run.xyz", {a, b, a}));
  auto *list = chooser->findChild<QTreeWidget *>("structures");
  ASSERT_NE(list, nullptr);
  EXPECT_FALSE(list->isColumnHidden(1)) << "a mineral or common name";
  EXPECT_TRUE(list->isColumnHidden(2)) << "no title says more than the name";
  EXPECT_EQ(list->topLevelItem(1)->text(1), "methane");
  auto *views = chooser->findChild<QPushButton *>("openAsViews");
  ASSERT_NE(views, nullptr);
  views->click();
  EXPECT_EQ(chooser->result(), QDialog::Accepted);
  const StructureChoice choice = ReadStructureChooser(chooser.get());
  EXPECT_TRUE(choice.asViews);
  EXPECT_EQ(choice.picked, (std::vector<size_t>{0, 1, 2})) << "one row selected: every frame";
}

// A trajectory opened as views: one window whose Views are its frames, in
// order, each captioned by its frame.
TEST_F(ProgramTest, ATrajectoryOpenedAsViewsGivesOneWindowWithAViewPerFrame) {
  const fs::path run = gProgram->Temp() / "run.xyz";
  std::string text;
  for (int k = 1; k <= 3; k++)
    text += "3\nstep " + std::to_string(k) + "\nO 0 0 0\nH 0.76 0.59 0." + std::to_string(k) +
            "\nH -0.76 0.59 0\n";
  std::ofstream(run) << text;
  const int windows = GetNumGraphWindows();
  gDialogs.choice = StructureChoice{{0, 1, 2}, false, true};
  ASSERT_TRUE(OpenFSRefInWindow(run, nullptr));
  QCoreApplication::processEvents();
  EXPECT_EQ(GetNumGraphWindows(), windows) << "the empty window takes the frames";
  std::vector<std::string> captions;
  for (const CachedFileRecord *r = GetWindowViews(FrontGraphWindow()); r; r = r->next)
    captions.push_back(r->caption);
  EXPECT_EQ(captions, (std::vector<std::string>{"step 1", "step 2", "step 3"}));
  // The window shows the first frame, named after the file.
  EXPECT_EQ(PlainWindowTitle(GetMainWindow(FrontGraphWindow())), "run");
  EXPECT_FLOAT_EQ(GetWindowCrystal(FrontGraphWindow())->atoms[1].cart[2], 0.1f);
  gDialogs.choice.reset();
}

// The count of what a reader mended stays over the picture through the
// open's own redraws, and goes with the first plot after the user acts.
TEST_F(ProgramTest, TheReadWarningsCountShowsUntilTheUserNextPlots) {
  const fs::path file = gProgram->Temp() / "mended.ovtx";
  std::ifstream in(Example("NaCl.ovtx"));
  std::ofstream(file) << in.rdbuf() << "\nZZZZ not a card of the format\n";
  MainWindow *w = Open(file);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->Subtitle(), "1 warning while reading the file: see the Log.");
  RedrawGraphPane(w->Ref());
  EXPECT_EQ(w->Subtitle(), "1 warning while reading the file: see the Log.") << "a redraw the user did not ask";
  QTest::keyClick(w->GraphPane(), Qt::Key_Shift);
  RedrawGraphPane(w->Ref());
  EXPECT_EQ(w->Subtitle(), "");
}

// Ctrl+O in the program's first window and a double click on a file in the
// dialog's list: the dialog goes while the button is still down, and the
// atoms pane lists the sites all the same.
TEST_F(ProgramTest, AFileDoubleClickedInTheOpenDialogFillsTheAtomsPane) {
  const fs::path folder = gProgram->Temp() / "double click";
  fs::create_directories(folder);
  fs::copy_file(Example("Rutile.ovtx"), folder / "Rutile.ovtx", fs::copy_options::overwrite_existing);
  NoteDialogFolder(folder / "Rutile.ovtx");
  MainWindow *first = GetMainWindow(FrontGraphWindow());
  ASSERT_FALSE(IsWindowFileOpen(first->Ref()));
  first->show();
  bool clicked = false;
  gDialogs.openDialog = [&] {
    // Shown and run here rather than by exec(): an earlier test's quit
    // leaves every new event loop to return at once.
    std::unique_ptr<QFileDialog> dialog(CreateOpenDialog(first));
    dialog->setModal(true);
    dialog->show();
    QElapsedTimer clock;
    clock.start();
    while (dialog->isVisible() && clock.elapsed() < 5000) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
      QAbstractItemView *view = nullptr;
      for (auto *v : dialog->findChildren<QAbstractItemView *>())
        if (v->isVisible() && (v->objectName() == "listView" || v->objectName() == "treeView"))
          view = v;
      if (clicked || !view || !dialog->windowHandle())
        continue;
      for (int r = 0; r < view->model()->rowCount(view->rootIndex()); r++) {
        const QModelIndex index = view->model()->index(r, 0, view->rootIndex());
        if (index.data().toString() != "Rutile.ovtx")
          continue;
        const QPointF at = view->viewport()->mapTo(dialog.get(), view->visualRect(index).center());
        const QPointF global = dialog->windowHandle()->mapToGlobal(at);
        // Press, release, press: the second press is the double click, and
        // its release comes after the dialog has gone.
        qt_handleMouseEvent(dialog->windowHandle(), at, global, Qt::LeftButton, Qt::LeftButton,
                            QEvent::MouseButtonPress, {}, 100000);
        qt_handleMouseEvent(dialog->windowHandle(), at, global, Qt::NoButton, Qt::LeftButton,
                            QEvent::MouseButtonRelease, {}, 100010);
        qt_handleMouseEvent(dialog->windowHandle(), at, global, Qt::LeftButton, Qt::LeftButton,
                            QEvent::MouseButtonPress, {}, 100020);
        clicked = true;
        break;
      }
    }
    std::vector<fs::path> files;
    if (dialog->result() == QDialog::Accepted)
      for (const QString &name : dialog->selectedFiles())
        files.emplace_back(name.toStdString());
    return files;
  };
  ProcessCommand(kCmdOpen);
  gDialogs.openDialog = nullptr;
  ASSERT_TRUE(clicked);
  EXPECT_NE(QGuiApplication::mouseButtons(), Qt::NoButton) << "the double click's release is still to come";
  QWidget elsewhere;
  elsewhere.show();
  qt_handleMouseEvent(elsewhere.windowHandle(), QPointF(1, 1), QPointF(1, 1), Qt::NoButton, Qt::LeftButton,
                      QEvent::MouseButtonRelease, {}, 100030);
  QCoreApplication::processEvents();
  ASSERT_TRUE(IsWindowFileOpen(first->Ref()));
  auto *sites = first->AtomsContainer()->findChild<QTreeView *>();
  ASSERT_NE(sites, nullptr);
  EXPECT_EQ(sites->model()->rowCount(), 2) << "Ti and O";
}
