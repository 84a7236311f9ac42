// The program as a user meets it on fresh preferences: the element picker,
// where the file dialogs start, help without a browser, the menu titles,
// page setup and the alerts of failed picture exports. Dialogs are the real
// ones, read and closed as they show.
#include "ProgramEnvironment.h"

#include "export/ExportGraphicsPanel.h"
#include "shell/Commands.h"
#include "shell/FileCommands.h"
#include "shell/Printing.h"
#include "structurewindow/AtomPicker.h"
#include "structurewindow/MainWindow.h"
#include "structurewindow/StructureWindow.h"

#include "window/MainWindowData.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPrintDialog>
#include <QPrinter>
#include <QRadioButton>
#include <QTextBrowser>
#include <QTest>
#include <QTimer>
#include <QToolBar>

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <unistd.h>
#include <functional>
#include <sstream>

namespace fs = std::filesystem;

namespace {

// A recording host whose picture save dialog a test can answer.
class ScriptHost : public RecordingHost {
public:
  fs::path graphicsFile; // empty: the real dialog
  int SaveGraphicsFileDialog(std::string_view title, std::string_view proposedName, uint32_t *fileType,
                             fs::path *file) override {
    if (graphicsFile.empty())
      return RecordingHost::SaveGraphicsFileDialog(title, proposedName, fileType, file);
    *file = graphicsFile;
    return 0;
  }
  // A slow machine's clock: each reading lies `stride` microseconds further
  // on than the last, on top of the real time.
  std::atomic<uint64_t> stride{0}, added{0};
  uint64_t NowMicroseconds() override { return RecordingHost::NowMicroseconds() + (added += stride.load()); }
};

ScriptHost *gHost = nullptr;
const auto *const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new ProgramEnvironmentFor<ScriptHost>("test_program", &gHost));

// Runs `act` on the next modal dialog of type T once it shows; `act` closes
// it. A dialog of another kind, or one still open after five seconds, is
// closed so that the test goes on (and fails).
template <typename T> void OnNextModal(std::function<void(T *)> act) {
  auto *timer = new QTimer;
  auto *waited = new int(0);
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, [timer, waited, act] {
    QWidget *modal = QApplication::activeModalWidget();
    T *dialog = qobject_cast<T *>(modal);
    if (dialog && dialog->isVisible()) {
      timer->stop();
      act(dialog);
    } else if (++*waited < 500) {
      return;
    } else {
      timer->stop();
      ADD_FAILURE() << "the expected dialog did not show";
      if (auto *d = qobject_cast<QDialog *>(modal))
        d->reject();
    }
    timer->deleteLater();
    delete waited;
  });
  timer->start();
}

// The help page showing in a window of the program; null for none.
QTextBrowser *ShownHelp() {
  for (QWidget *top : QApplication::topLevelWidgets())
    if (top->isVisible())
      if (auto *browser = top->findChild<QTextBrowser *>())
        return browser;
  return nullptr;
}

std::vector<char> FileBytes(const fs::path &file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class FreshStartTest : public ::testing::Test {
protected:
  void Open(const char *name) { OpenFile(ExamplesFolder() / name); }
  void OpenFile(const fs::path &file) {
    ASSERT_TRUE(OpenFSRefInWindow(file, nullptr));
    QCoreApplication::processEvents();
    w = GetMainWindow(FrontGraphWindow());
    ASSERT_NE(w, nullptr);
    w->ResizeContent(640, 480);
    w->show();
    QCoreApplication::processEvents();
    gHost->alerts.clear();
  }
  void TearDown() override {
    for (MainWindow *m : std::vector<MainWindow *>(AllGraphWindows())) {
      ClearWindowModified(m->Ref());
      DoCloseMainWindow(m->Ref());
    }
    QCoreApplication::processEvents();
  }
  void Key(int key, const QString &text) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(w->GraphPane(), &press);
  }
  void Click(QPoint inPane) {
    QWidget *pane = w->GraphPane();
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
      QMouseEvent e(type, inPane, pane->mapToGlobal(inPane), Qt::LeftButton,
                    type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
      QApplication::sendEvent(pane, &e);
    }
  }
  CrystalRec *Crystal() const { return GetWindowCrystal(w->Ref()); }
  MainWindow *w = nullptr;
};

// Runs first, before anything else made the picker.
TEST_F(FreshStartTest, PressingMThenClickingAddsAnAtomOnFreshPreferences) {
  ASSERT_EQ(gAtomPickerWindow, nullptr);
  Open("Benzene.ovtx");
  const int32_t atoms = Crystal()->atomCount;
  Key(Qt::Key_M, "m");
  ASSERT_TRUE(gAtomPickerWindow && gAtomPickerWindow->isVisible());
  Click(QPoint(40, 40));
  EXPECT_TRUE(gHost->alerts.empty()) << gHost->alerts[0].message;
  EXPECT_EQ(Crystal()->atomCount, atoms + 1);
}

// Two exports of one view are the same bytes, whatever was drawn between
// them: here a fast frame of another structure turned with the arrow keys.
// The picture is large, its axis letters some 70 pixels high.
TEST_F(FreshStartTest, TwoExportsOfOneViewAreTheSameBytes) {
  const fs::path dir = fs::temp_directory_path() / ("ov_repeat_" + std::to_string(getpid()));
  fs::create_directories(dir);
  Open("NaCl.ovtx");
  ASSERT_TRUE(Crystal()->showAxes);
  MainWindow *exported = w;
  auto exportTo = [&](const fs::path &file) {
    gHost->graphicsFile = file;
    ProcessCommand(FourCharsToLong("xPix"));
    ExportGraphicsPanel *panel = nullptr;
    for (auto *shown : exported->findChildren<ExportGraphicsPanel *>())
      panel = shown->isVisible() ? shown : panel;
    ASSERT_NE(panel, nullptr);
    auto *width = qobject_cast<QLineEdit *>(panel->Control(2));
    width->selectAll();
    QTest::keyClicks(width, "2000");
    qobject_cast<QAbstractButton *>(panel->Control(17))->click();
    gHost->graphicsFile.clear();
    EXPECT_FALSE(FrontGraphWindowHasSheet());
  };
  exportTo(dir / "first.png");
  Open("Benzene.ovtx");
  Key(Qt::Key_Left, QString());
  ClearWindowModified(w->Ref());
  DoCloseMainWindow(w->Ref());
  QCoreApplication::processEvents();
  w = exported;
  ASSERT_EQ(FrontGraphWindow(), exported->Ref());
  exportTo(dir / "second.png");
  const std::vector<char> first = FileBytes(dir / "first.png");
  EXPECT_GT(first.size(), 10000u);
  EXPECT_TRUE(first == FileBytes(dir / "second.png"));
  EXPECT_TRUE(gHost->alerts.empty());
  fs::remove_all(dir);
}

TEST_F(FreshStartTest, FileDialogsStartInTheFrontDocumentsFolder) {
  // A text file (read, not a document of its own) in a folder of the
  // user's: the bundled expected are never where a dialog starts.
  const fs::path folder = fs::temp_directory_path() / ("ov_dialogs_" + std::to_string(getpid()));
  fs::create_directories(folder);
  fs::copy_file(ExamplesFolder() / "NaCl.ovtx", folder / "NaCl.ovtx", fs::copy_options::overwrite_existing);
  OpenFile(folder / "NaCl.ovtx");
  const std::string expected = fs::canonical(folder).string();
  auto folderOf = [](QFileDialog *d) { return fs::canonical(d->directory().absolutePath().toStdString()).string(); };

  std::string saveAs;
  OnNextModal<QFileDialog>([&](QFileDialog *d) {
    saveAs = folderOf(d);
    d->reject();
  });
  ProcessCommand(kCmdSaveAs);
  EXPECT_EQ(saveAs, expected) << "Save As";

  // The first picture export, through its sheet.
  ProcessCommand(FourCharsToLong("xPix"));
  auto *panel = w->findChild<ExportGraphicsPanel *>();
  ASSERT_NE(panel, nullptr);
  std::string pixels;
  OnNextModal<QFileDialog>([&](QFileDialog *d) {
    pixels = folderOf(d);
    d->reject();
  });
  qobject_cast<QAbstractButton *>(panel->Control(17))->click();
  EXPECT_EQ(pixels, expected) << "Pixel Graphics";

  QString printFile;
  OnNextModal<QPrintDialog>([&](QPrintDialog *d) {
    if (auto *field = d->findChild<QLineEdit *>("filename"))
      printFile = field->text();
    d->reject();
  });
  ProcessCommand(kCmdPrint);
  EXPECT_TRUE(printFile.startsWith(QString::fromStdString(expected) + "/"))
      << "Print to file proposes " << printFile.toStdString();
}

// A file whose build takes a while shows the status window while it opens.
TEST_F(FreshStartTest, OpeningALongBuildShowsTheStatusWindow) {
  std::ifstream in(ExamplesFolder() / "NaCl.ovtx");
  std::stringstream text;
  text << in.rdbuf();
  std::string nacl = text.str();
  const std::string card = "XYZR  0.000000 1.000000 0.000000 1.000000 0.000000 1.000000";
  ASSERT_NE(nacl.find(card), std::string::npos);
  // Some 170,000 atoms: a build long enough to report its steps.
  nacl.replace(nacl.find(card), card.size(), "XYZR 0 17 0 17 0 17");
  const fs::path file = fs::temp_directory_path() / ("ov_long_" + std::to_string(getpid()) + ".ovtx");
  std::ofstream(file) << nacl;
  const int shows = gHost->statusShows;
  // However fast this machine builds it, each step of the build seems to
  // take 20 ms.
  gHost->stride = 20000;
  OpenFile(file);
  gHost->stride = 0;
  fs::remove(file);
  EXPECT_GT(gHost->statusShows, shows);
}

// The structure as opened is an undo state: the first change undoes.
TEST_F(FreshStartTest, TheFirstChangeAfterOpeningUndoes) {
  Open("Quartz.ovtx");
  const int16_t model = Crystal()->modelType;
  ASSERT_EQ(ProcessCommand(FourCharsToLong("Spac")), kNoErr); // Model > Space Filling
  ASSERT_NE(Crystal()->modelType, model);
  gUndoBufferTimer.proc(); // the snapshot after the change, as its timer takes it
  ProcessCommand(kCmdUndo);
  EXPECT_EQ(Crystal()->modelType, model);
}

TEST_F(FreshStartTest, HelpWithoutALauncherOpensTheOwnWindowAndEveryFormsHelpButtonItsPage) {
  // No launcher on the PATH, until the test ends.
  struct PathWithoutLauncher {
    QByteArray saved = qgetenv("PATH");
    PathWithoutLauncher() {
      const fs::path empty = fs::temp_directory_path() / "test_program_no_launcher";
      fs::create_directories(empty);
      qputenv("PATH", QByteArray::fromStdString(empty.string()));
    }
    ~PathWithoutLauncher() { qputenv("PATH", saved); }
  } noLauncher;
  ProcessCommand(kCmdHelp);
  ASSERT_NE(ShownHelp(), nullptr);
  EXPECT_TRUE(ShownHelp()->source().path().endsWith("help/pages/index.html"));
  EXPECT_TRUE(ShownHelp()->toPlainText().contains("Orvalisphere Help"));

  // A form's Help button, wired from the page name the form carries.
  Open("NaCl.ovtx");
  OnNextModal<QDialog>([](QDialog *d) {
    auto *help = d->findChild<QAbstractButton *>("helpButton");
    if (help)
      help->click();
    d->reject();
  });
  ProcessCommand(FourCharsToLong("Pref"));
  ASSERT_NE(ShownHelp(), nullptr);
  EXPECT_TRUE(ShownHelp()->source().path().endsWith("help/pages/Preferences.html"));

  for (const char *form : {"LatticePlane", "RotationMovie", "EditAnnotation", "PlotRange", "OverviewPlay",
                           "Preferences", "SpacegroupWindow"}) {
    std::ifstream in(fs::path(OV_SOURCE_DIR) / "resources" / "ui" / (std::string(form) + ".ui"));
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find("name=\"helpPage\""), std::string::npos) << form << " has no Help button";
  }
}

TEST_F(FreshStartTest, NoMenuOrToolbarTitleLosesAnAmpersandToAMnemonic) {
  Open("NaCl.ovtx");
  std::vector<QAction *> items;
  std::function<void(QMenu *)> walk = [&](QMenu *menu) {
    UpdateMenuStatus(menu);
    for (QAction *a : menu->actions()) {
      items.push_back(a);
      if (a->menu())
        walk(a->menu());
    }
  };
  auto *bar = qobject_cast<QMenuBar *>(w->menuWidget());
  ASSERT_NE(bar, nullptr);
  for (QAction *top : bar->actions()) // the bar's own titles carry their mnemonics
    if (top->menu())
      walk(top->menu());
  for (QToolBar *toolbar : w->findChildren<QToolBar *>())
    for (QAction *a : toolbar->actions())
      items.push_back(a);
  ASSERT_GT(items.size(), 50u);
  bool sawDistances = false;
  for (QAction *a : items) {
    QString t = a->text();
    sawDistances = sawDistances || t == "Distances && Angles…";
    EXPECT_FALSE(t.remove("&&").contains('&')) << a->text().toStdString();
  }
  EXPECT_TRUE(sawDistances);
}

TEST_F(FreshStartTest, RotateSelectionAlertNamesTheKeyThatSwitchesModes) {
  Open("NaCl.ovtx");
  gRotateSelection = 0;
  Key(Qt::Key_O, "o");
  ASSERT_EQ(gHost->alerts.size(), 1u);
  EXPECT_NE(gHost->alerts[0].explanation.find("press O in the structure window"), std::string::npos)
      << gHost->alerts[0].explanation;
  ProcessCommand(FourCharsToLong("SlAl"));
  Key(Qt::Key_O, "o");
  EXPECT_EQ(gRotateSelection, 1) << "O switches the mode as the alert says";
  Key(Qt::Key_O, "o");
  EXPECT_EQ(gRotateSelection, 0);
}

std::vector<std::string> gWarnings;
void RecordWarnings(QtMsgType type, const QMessageLogContext &, const QString &message) {
  // The offscreen platform's own notes are not the program's.
  if (type == QtWarningMsg && !message.startsWith("This plugin does not support"))
    gWarnings.push_back(message.toStdString());
}

TEST_F(FreshStartTest, PageSetupSetsThePageWithoutComplaint) {
  Open("NaCl.ovtx");
  gWarnings.clear();
  const QtMessageHandler previous = qInstallMessageHandler(RecordWarnings);
  bool shown = false;
  OnNextModal<QDialog>([&](QDialog *d) {
    auto *landscape = d->findChild<QRadioButton *>("landscape");
    shown = landscape != nullptr;
    if (landscape)
      landscape->setChecked(true);
    d->accept();
  });
  ProcessCommand(kCmdPageSetup);
  qInstallMessageHandler(previous);
  EXPECT_TRUE(shown);
  EXPECT_TRUE(gWarnings.empty()) << gWarnings.front();
  EXPECT_EQ(MyCreatePrintInfoForWindow(w->Ref())->pageLayout().orientation(), QPageLayout::Landscape);
}

TEST_F(FreshStartTest, AFailedPixelExportNamesTheFileAndTheReason) {
  Open("NaCl.ovtx");
  gHost->graphicsFile = "/proc/no-such-folder/NaCl picture.png";
  ProcessCommand(FourCharsToLong("xPix"));
  auto *panel = w->findChild<ExportGraphicsPanel *>();
  ASSERT_NE(panel, nullptr);
  qobject_cast<QAbstractButton *>(panel->Control(17))->click();
  gHost->graphicsFile.clear();
  ASSERT_EQ(gHost->alerts.size(), 1u);
  EXPECT_EQ(gHost->alerts[0].message, "Sorry, graphics export failed");
  EXPECT_EQ(gHost->alerts[0].explanation, "\"NaCl picture.png\" could not be written (No such file or directory).");
}

} // namespace
