// The program's keys as a user presses them in whichever window is in
// front: a floating window answers Ctrl+S, Ctrl+W and the rest for the front
// structure window while its text fields keep their own editing keys, a
// sheet keeps every key, and closing the last structure window by its menu
// command quits as its close button does.
#include "inspectors/ModelOptions.h"
#include "overview/OverviewPrivate.h"
#include "overview/OverviewWindow.h"
#include "shell/Commands.h"
#include "shell/EngineHooks.h"
#include "shell/FileCommands.h"
#include "shell/Forms.h"
#include "structurewindow/MainWindow.h"
#include "structurewindow/StructureWindow.h"

#include "CachedFiles.h"
#include "documents/PrefsFile.h"
#include "window/MainWindowData.h"

#include "AnsweringDialogs.h"
#include "SlowHost.h"
#include "CommandKeysTest.h"
#include "ProgramEnvironment.h"

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QTest>
#include <algorithm>
#include <functional>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

// The save question answered by the test's function (Cancel without one).
class QuestionDialogs : public AnsweringDialogs {
public:
  std::function<SaveChangesAnswer()> answer;
  SaveChangesAnswer ConfirmSaveChanges(const std::string &name, bool quitting) override {
    return answer ? (++asked, answer()) : AnsweringDialogs::ConfirmSaveChanges(name, quitting);
  }
};

class WindowShortcutsTest : public CommandKeysTest<QuestionDialogs> {
protected:
  // An example opened and saved as a document of the test's, in front and
  // active.
  MainWindow *OpenSaved(const char *name, const char *saveAs) {
    if (!OpenFSRefInWindow(ExamplesFolder() / name, nullptr))
      return nullptr;
    QCoreApplication::processEvents();
    MainWindow *w = GetMainWindow(FrontGraphWindow());
    dialogs.saveFile = fs::path(folder.path().toStdString()) / saveAs;
    if (ProcessCommand(kCmdSaveAs) != kNoErr || FileBytes(dialogs.saveFile).empty())
      return nullptr;
    Activate(w);
    return w;
  }
  static void Activate(QWidget *w) {
    w->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(w));
  }
  // Ctrl and the key, pressed in the window that holds `focus` and given
  // to it as the desktop gives them (Ctrl is let go afterwards).
  static void Chord(QWidget *focus, Qt::Key key) {
    focus->setFocus();
    QTest::keyClick(focus->window()->windowHandle(), key, Qt::ControlModifier);
  }
  // An arrow key turns the structure: a change of the document's.
  static void Turn(MainWindow *w) {
    Activate(w);
    FocusGraphPane(w->Ref());
    QTest::keyClick(w->GraphPane(), Qt::Key_Left);
    ASSERT_TRUE(IsWindowModified(w->Ref()));
  }
};

TEST_F(WindowShortcutsTest, FloatingWindowsAnswerTheProgramsKeysAndTheirFieldsKeepTheirOwn) {
  MainWindow *w = OpenSaved("Rutile.ovtx", "rutile.ovdf");
  ASSERT_NE(w, nullptr);
  const fs::path document = dialogs.saveFile;

  // Model Options, opened from its key, changes the cell's line width.
  Chord(w->GraphPane(), Qt::Key_M);
  ASSERT_TRUE(gModelOptionsWindow && gModelOptionsWindow->isVisible());
  DoModelOptionsTabChoice(kCellTab);
  Activate(gModelOptionsWindow);
  auto *field = FindControl<QLineEdit>(gModelOptions.panes[kCellTab], 403);
  ASSERT_NE(field, nullptr);
  field->setFocus();
  Chord(field, Qt::Key_A);
  QTest::keyClicks(field, "3");
  QTest::keyClick(field, Qt::Key_Return);
  const CrystalRec &crystal = *GetWindowCrystal(w->Ref());
  ASSERT_FLOAT_EQ(crystal.unitCellLineWidth, 3.0f);
  ASSERT_TRUE(IsWindowModified(w->Ref()));

  // Typing and undoing the typing stay in the field: the structure keeps
  // its change.
  const QString applied = field->text();
  Chord(field, Qt::Key_A);
  QTest::keyClicks(field, "7");
  EXPECT_EQ(field->text(), "7");
  Chord(field, Qt::Key_Z);
  EXPECT_EQ(field->text(), applied);
  EXPECT_FLOAT_EQ(crystal.unitCellLineWidth, 3.0f) << "Ctrl+Z in the field undid the structure";

  // Ctrl+S there saves the structure.
  const std::string before = FileBytes(document);
  Chord(field, Qt::Key_S);
  EXPECT_FALSE(IsWindowModified(w->Ref())) << "Ctrl+S in Model Options";
  EXPECT_TRUE(FileBytes(document) != before);

  // The same from the Log after a turn; Ctrl+W there closes the Log, not
  // the structure.
  Turn(w);
  Chord(w->GraphPane(), Qt::Key_L);
  ASSERT_TRUE(OverviewLogShowing());
  QWidget *overview = GetOverviewWindow();
  Activate(overview);
  const std::string turned = FileBytes(document);
  Chord(overview, Qt::Key_S);
  EXPECT_FALSE(IsWindowModified(w->Ref())) << "Ctrl+S in the Log";
  EXPECT_TRUE(FileBytes(document) != turned);
  Chord(overview, Qt::Key_W);
  EXPECT_FALSE(overview->isVisible());
  EXPECT_TRUE(w->isVisible());
}

TEST_F(WindowShortcutsTest, ASheetKeepsTheProgramsKeysEvenWithAnotherWindowOpen) {
  ASSERT_NE(OpenSaved("Rutile.ovtx", "rutile.ovdf"), nullptr);
  MainWindow *w = OpenSaved("Quartz.ovtx", "quartz.ovdf");
  ASSERT_NE(w, nullptr);
  Turn(w);
  const std::string saved = FileBytes(dialogs.saveFile);
  ASSERT_EQ(ProcessCommand(FourCharsToLong("MvOr")), kNoErr);
  QDialog *sheet = w->findChild<QDialog *>();
  ASSERT_TRUE(sheet && sheet->isVisible() && sheet->windowModality() == Qt::WindowModal);
  Activate(sheet);
  Chord(sheet, Qt::Key_S);
  EXPECT_TRUE(IsWindowModified(w->Ref()));
  EXPECT_TRUE(FileBytes(dialogs.saveFile) == saved) << "saved behind the sheet";
  sheet->reject();
}

TEST_F(WindowShortcutsTest, CtrlWOnTheLastWindowQuitsAfterTheSaveQuestion) {
  MainWindow *w = OpenSaved("Quartz.ovtx", "quartz.ovdf");
  ASSERT_NE(w, nullptr);
  Turn(w);
  fs::remove(GetPrefsFilePath());

  Chord(w->GraphPane(), Qt::Key_W);
  QCoreApplication::processEvents();
  EXPECT_EQ(dialogs.asked, 1);
  EXPECT_TRUE(w->isVisible()) << "Cancel keeps the window and the program";
  EXPECT_FALSE(fs::exists(GetPrefsFilePath()));

  dialogs.answer = [] { return SaveChangesAnswer::kDontSave; };
  Chord(w->GraphPane(), Qt::Key_W);
  QCoreApplication::processEvents();
  EXPECT_EQ(dialogs.asked, 2);
  EXPECT_FALSE(w->isVisible());
  EXPECT_TRUE(fs::exists(GetPrefsFilePath())) << "the quit saves the preferences";
  EXPECT_EQ(gQuittingTime, 1);
}

// A second launch hands a file over while the quit asks about unsaved
// changes, the question up a while (the host's clock runs on): the
// question closes as Cancel, the quit stops, and the file opens in front
// once it has, with no status window left on the screen.
TEST_F(WindowShortcutsTest, AFileHandedOverWhileQuitAsksClosesTheQuestionAndOpensInFront) {
  MainWindow *w = OpenSaved("Quartz.ovtx", "quartz.ovdf");
  ASSERT_NE(w, nullptr);
  Turn(w);
  SetShellDialogs(nullptr); // the program's own question
  SlowHost host;
  InstallHostWindowHooks(host, [] { return AllGraphWindows(); });
  HostServices *saved = SetHostServices(&host);
  const std::unique_ptr<HostServices, void (*)(HostServices *)> restore(saved, [](HostServices *h) { SetHostServices(h); });
  auto statusShowing = [] {
    const QWidgetList tops = QApplication::topLevelWidgets();
    return std::any_of(tops.begin(), tops.end(),
                       [](QWidget *t) { return t->isVisible() && t->windowTitle() == "Status"; });
  };
  // A quit earlier in this program (another test's) ended its event loops
  // for good, and a modal question would return at once: running the
  // program's own loop clears that.
  QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
  QCoreApplication::exec();
  QObject timers; // the test's timers go with it
  QPointer<QMessageBox> question;
  bool stillAsking = false, statusWhileAsking = false;
  std::function<void()> whenAsked = [&] {
    question = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!question) {
      QTimer::singleShot(10, &timers, whenAsked);
      return;
    }
    // The question stays up a while before the file comes.
    host.Begin(1000000);
    host.NowMicroseconds();
    host.End();
    EXPECT_TRUE(PassFilesToRunningProgram({ExamplesFolder() / "Rutile.ovtx"}));
    // Closed by the test only when the hand-over left it up.
    QTimer::singleShot(3000, question, [&] {
      stillAsking = true;
      QCoreApplication::processEvents();
      statusWhileAsking = statusShowing();
      question->reject();
    });
  };
  QTimer::singleShot(0, &timers, whenAsked);
  Chord(w->GraphPane(), Qt::Key_Q);
  EXPECT_FALSE(stillAsking) << "the question stayed up";
  EXPECT_FALSE(statusWhileAsking) << "a status window stayed up over the question";
  EXPECT_EQ(gQuittingTime, 0) << "the quit went on";
  EXPECT_TRUE(w->isVisible());
  EXPECT_TRUE(IsWindowModified(w->Ref())) << "the question was answered otherwise than Cancel";

  MainWindow *handed = nullptr;
  EXPECT_TRUE(QTest::qWaitFor([&] {
    handed = GetMainWindow(FrontGraphWindow());
    return handed && handed != w && handed->isVisible();
  }));
  ASSERT_NE(handed, nullptr);
  ASSERT_NE(handed, w);
  EXPECT_TRUE(IsWindowFileOpen(handed->Ref()));
  EXPECT_EQ(AllGraphWindows().front(), handed) << "opened behind";
  EXPECT_FALSE(statusShowing());
  EXPECT_FALSE(host.Showed("Keeping the state for Undo")) << host.shown.size() << " messages";
  const CachedFileRecord *history = GetWindowHistory(handed->Ref());
  ASSERT_NE(history, nullptr);
  EXPECT_TRUE(fs::exists(history->fileRef)) << "the cache folder was emptied";
}

} // namespace
