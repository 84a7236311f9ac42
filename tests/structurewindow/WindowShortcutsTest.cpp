// The program's keys as a user presses them in whichever window is in
// front: a floating window answers Ctrl+S, Ctrl+W and the rest for the front
// structure window while its text fields keep their own editing keys, a
// sheet keeps every key, and closing the last structure window by its menu
// command quits as its close button does.
#include "inspectors/ModelOptions.h"
#include "overview/OverviewPrivate.h"
#include "overview/OverviewWindow.h"
#include "shell/Commands.h"
#include "shell/FileCommands.h"
#include "shell/Forms.h"
#include "structurewindow/MainWindow.h"
#include "structurewindow/StructureWindow.h"

#include "CachedFiles.h"
#include "documents/PrefsFile.h"
#include "window/MainWindowData.h"

#include "AnsweringDialogs.h"
#include "CommandKeysTest.h"
#include "ProgramEnvironment.h"

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QTest>
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

TEST_F(WindowShortcutsTest, AFileHandedOverWhileQuitAsksStopsTheQuit) {
  MainWindow *w = OpenSaved("Quartz.ovtx", "quartz.ovdf");
  ASSERT_NE(w, nullptr);
  Turn(w);
  // A second launch hands a file over while the question shows.
  MainWindow *handed = nullptr;
  dialogs.answer = [&] {
    EXPECT_TRUE(PassFilesToRunningProgram({ExamplesFolder() / "Rutile.ovtx"}));
    EXPECT_TRUE(QTest::qWaitFor([&] {
      MainWindow *front = GetMainWindow(FrontGraphWindow());
      handed = front && front != w && front->isVisible() ? front : nullptr;
      return handed != nullptr;
    }));
    return SaveChangesAnswer::kDontSave;
  };

  Chord(w->GraphPane(), Qt::Key_Q);
  QCoreApplication::processEvents();
  EXPECT_EQ(dialogs.asked, 1);
  ASSERT_NE(handed, nullptr);
  EXPECT_EQ(gQuittingTime, 0) << "the quit went on";
  EXPECT_TRUE(handed->isVisible());
  EXPECT_TRUE(IsWindowFileOpen(handed->Ref()));
  const CachedFileRecord *history = GetWindowHistory(handed->Ref());
  ASSERT_NE(history, nullptr);
  EXPECT_TRUE(fs::exists(history->fileRef)) << "the cache folder was emptied";
}

} // namespace
