// Undo as a user meets it: the notes typed stay through undoing another
// change, each window keeps its own changes, and a command is one step.
#include "editing/EditCrystalSheet.h"
#include "editing/FragmentCommandHandler.h"
#include "inspectors/ModelOptions.h"
#include "structurewindow/NotesPane.h"

#include "CachedFiles.h"
#include "documents/FileBuffer.h"
#include "documents/PrefsFile.h"
#include "documents/UndoHistory.h"
#include "Polyhedra.h"
#include "RenderServices.h"
#include "relax/RelaxThread.h"
#include "window/MainWindowData.h"

#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <QTextEdit>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

#include "DocumentContent.h"
#include "SuiteHost.h"

namespace {

// The undo snapshot follows the last change after this long.
constexpr int kPastTheUndoTimerMs = 600;

class UndoStates : public StructureSheetTest {
protected:
  void SetUp() override { ProcessCommand(FourCharsToLong("RotT")); } // the arrows turn the structure
  void TearDown() override {
    StopAndJoinRelaxRuns();
    CloseAll();
  }
  static MainWindow *Open(const char *example) {
    if (!OpenExample(example))
      return nullptr;
    MainWindow *w = GetMainWindow(FrontGraphWindow());
    w->show();
    QCoreApplication::processEvents();
    return w;
  }
  static std::vector<uint8_t> Structure(WindowRef window) { return DocumentContent(*GetWindowCrystal(window)); }
  // The bytes File > Save writes for the structure.
  static std::vector<uint8_t> SavedBytes(CrystalRec &c) {
    const std::filesystem::path file =
        std::filesystem::temp_directory_path() / ("undo-states-" + std::to_string(::getpid()) + ".ovdf");
    std::vector<uint8_t> bytes;
    if (WriteCrystalFile(c, {}, file))
      ReadWholeFile(file, bytes);
    std::filesystem::remove(file);
    return bytes;
  }
  static void Front(MainWindow *w) {
    BringGraphWindowToFront(w);
    w->activateWindow();
    QCoreApplication::processEvents();
  }
};

TEST_F(UndoStates, UndoingATurnKeepsTheNotesTypedWithTheirStyles) {
  MainWindow *w = Open("NaCl.ovtx");
  ASSERT_NE(w, nullptr);
  WindowRef window = w->Ref();
  const std::vector<uint8_t> opened = Structure(window);
  QTextEdit *notes = w->NotesView();
  notes->setFocus();
  notes->moveCursor(QTextCursor::End);
  QTest::keyClicks(notes, "Cell edge 5.64 A");
  notes->moveCursor(QTextCursor::StartOfLine, QTextCursor::KeepAnchor);
  ProcessCommand(FourCharsToLong("TStB")); // bold
  const std::string typed = NotesToStyledText(notes);
  ASSERT_NE(typed.find("Cell edge 5.64 A"), std::string::npos);

  QTest::keyClick(w->GraphPane(), Qt::Key_Left);
  const std::vector<uint8_t> turned = Structure(window);
  ASSERT_NE(turned, opened);
  ASSERT_EQ(ProcessCommand(kCmdUndo), kNoErr);
  EXPECT_EQ(Structure(window), opened) << "the turn is undone";
  EXPECT_EQ(NotesToStyledText(notes), typed) << "the notes stay, styles and all";
  ASSERT_EQ(ProcessCommand(kCmdRedo), kNoErr);
  EXPECT_EQ(Structure(window), turned);
  EXPECT_EQ(NotesToStyledText(notes), typed);

  // One more change ends the redo branch; the notes are still there.
  ASSERT_EQ(ProcessCommand(kCmdUndo), kNoErr);
  QTest::keyClick(w->GraphPane(), Qt::Key_Right);
  QTest::qWait(kPastTheUndoTimerMs);
  EXPECT_FALSE(CanRedo(window));
  EXPECT_EQ(NotesToStyledText(notes), typed);
  EXPECT_TRUE(IsWindowModified(window)) << "typed notes are unsaved work";
}

TEST_F(UndoStates, EachWindowUndoesItsOwnChangeMadeJustBeforeSwitching) {
  MainWindow *first = Open("NaCl.ovtx");
  MainWindow *second = Open("Rutile.ovtx");
  ASSERT_TRUE(first && second && first != second);
  WindowRef a = first->Ref(), b = second->Ref();

  Front(first);
  ProcessCommand(FourCharsToLong("Prsp"));
  QTest::qWait(kPastTheUndoTimerMs);
  const std::vector<uint8_t> perspective = Structure(a);
  ProcessCommand(kCmdZoomOut);
  const std::vector<uint8_t> zoomed = Structure(a);
  Front(second); // at once, within the undo timer
  const std::vector<uint8_t> secondOpened = Structure(b);
  ProcessCommand(kCmdZoomIn);
  const std::vector<uint8_t> secondZoomed = Structure(b);
  QTest::qWait(kPastTheUndoTimerMs);

  ASSERT_EQ(ProcessCommand(kCmdUndo), kNoErr);
  EXPECT_EQ(Structure(b), secondOpened);
  EXPECT_FALSE(CanUndo(b)) << "the second window holds none of the first's states";

  Front(first);
  ASSERT_EQ(ProcessCommand(kCmdUndo), kNoErr);
  EXPECT_EQ(Structure(a), perspective) << "the zoom is the first window's last step";
  ASSERT_TRUE(CanRedo(a));

  // A change in the other window leaves this one's redo alone.
  Front(second);
  ProcessCommand(kCmdZoomOut);
  QTest::qWait(kPastTheUndoTimerMs);
  EXPECT_TRUE(CanRedo(a));
  Front(first);
  ASSERT_EQ(ProcessCommand(kCmdRedo), kNoErr);
  EXPECT_EQ(Structure(a), zoomed);
  EXPECT_NE(Structure(b), secondZoomed);
}

TEST_F(UndoStates, SaturatingWithHydrogenIsOneStep) {
  MainWindow *w = Open("Benzene.ovtx");
  ASSERT_NE(w, nullptr);
  WindowRef window = w->Ref();
  // Without its hydrogens: the carbons want them back.
  CrystalRec *c = GetWindowCrystal(window);
  for (AtomRecord &atom : c->atoms)
    atom.selected = c->sites[atom.site].elements[0] == TwoCharsToShort("H ");
  ASSERT_EQ(ProcessCommand(FourCharsToLong("DlSl")), kNoErr);
  QTest::qWait(kPastTheUndoTimerMs);
  const std::vector<uint8_t> bare = Structure(window);

  ASSERT_EQ(ProcessCommand(kCmdSaturateMolecule), kNoErr);
  ASSERT_TRUE(QTest::qWaitFor([&] { return RelaxRunCount() == 0 && !IsWindowCalculationInProgress(window); }, 60000));
  QTest::qWait(kPastTheUndoTimerMs);
  const std::vector<uint8_t> saturated = Structure(window);
  ASSERT_NE(saturated, bare);

  ASSERT_EQ(ProcessCommand(kCmdUndo), kNoErr);
  EXPECT_EQ(Structure(window), bare) << "one Undo takes the whole command back";
  ASSERT_EQ(ProcessCommand(kCmdRedo), kNoErr);
  EXPECT_EQ(Structure(window), saturated);
}

// The picture keeps its size in a resized window: the scale that follows the
// pane is no change, neither by itself nor under a later command that changes
// nothing, and Undo of a later change keeps it.
// An edited crystal's sites take their roles only when something reads
// their modes (the undo state of the edit, a floating window), after the
// edit. Undo gives the modes back as they were, and Redo the roles of
// rutile's edited cell: Ti (six O) a polyhedron centre, O (three Ti of
// higher coordination) its corner.
TEST_F(UndoStates, RolesSetByTheUndoStateComeBackWithUndoAndRedo) {
  ASSERT_NE(Open("Rutile.ovtx"), nullptr);
  WindowRef window = FrontGraphWindow();
  auto modes = [window] {
    CrystalRec *c = GetWindowCrystal(window);
    std::map<std::string, uint32_t> byLabel;
    for (size_t s = 0; s < UsableSiteSize(*c); s++)
      byLabel[c->sites[s].label] = SitePolyMode(c, s);
    return byLabel;
  };
  const std::map<std::string, uint32_t> opened = modes();
  ASSERT_EQ(ProcessCommand(kCmdEditStructure), kNoErr);
  EditCrystalSheet *sheet = GetEditCrystalSheet(window);
  ASSERT_NE(sheet, nullptr);
  sheet->CellField(0)->setFocus();
  sheet->CellField(0)->selectAll();
  QTest::keyClicks(sheet->CellField(0), "4.60");
  sheet->HandleCommand(FourCharsToLong("ok  "));
  QCoreApplication::processEvents();
  ASSERT_EQ(GetEditCrystalSheet(window), nullptr);

  ASSERT_EQ(ProcessCommand(kCmdUndo), kNoErr);
  EXPECT_EQ(modes(), opened);
  ASSERT_EQ(ProcessCommand(kCmdRedo), kNoErr);
  const std::map<std::string, uint32_t> edited = {{"Ti1", kPolyModeColourShaded}, {"O1", kPolyModeVertex}};
  EXPECT_EQ(modes(), edited);
}

// An open leaves the sites' roles to be set when polyhedra are first
// needed, and its undo state keeps them so: the open sets none. The
// polyhedral model sets them; undone, the window is as it opened, unchanged
// by the mark, and Redo and a save after Undo give the modes and polyhedra
// that roles set at the open give.
TEST_F(UndoStates, TheOpensUndoStateLeavesTheRolesToThePolyhedra) {
  // Model Options shown once and closed: showing, it lists the sites by
  // their modes; closed, it sets no roles.
  if (!gModelOptionsWindow || !gModelOptionsWindow->isVisible()) {
    ASSERT_EQ(ProcessCommand(FourCharsToLong("MOpt")), kNoErr); // Ctrl+M shows or hides it
  }
  ASSERT_TRUE(gModelOptionsWindow && gModelOptionsWindow->isVisible());
  gModelOptionsWindow->close();
  MainWindow *w = Open("Pyrope.ovtx");
  ASSERT_NE(w, nullptr);
  WindowRef window = w->Ref();
  ASSERT_EQ(GetNumWindowHistory(window), 1);
  ASSERT_NE(GetWindowCrystal(window)->modelType, kPolyhedralModel);
  EXPECT_TRUE(GetWindowCrystal(window)->derived.RolesDue()) << "the open's undo state set the roles";
  // Set at once, from the same bonds, on copies: what every reader of a
  // mode sees, and what a save writes.
  const std::vector<uint8_t> opened = Structure(window);
  CrystalRec copy = *GetWindowCrystal(window);
  const std::vector<uint8_t> savedAtOpen = SavedBytes(copy);
  ASSERT_FALSE(savedAtOpen.empty());

  ASSERT_EQ(ProcessCommand(FourCharsToLong("Poly")), kNoErr);
  QTest::qWait(kPastTheUndoTimerMs);
  ASSERT_EQ(GetWindowCrystal(window)->modelType, kPolyhedralModel);
  const std::vector<uint8_t> polyhedral = Structure(window);
  EXPECT_TRUE(IsWindowModified(window));

  ASSERT_EQ(ProcessCommand(kCmdUndo), kNoErr);
  QTest::qWait(kPastTheUndoTimerMs);
  EXPECT_FALSE(IsWindowModified(window)) << "back to the structure as it opened";
  EXPECT_EQ(Structure(window), opened);
  ASSERT_EQ(ProcessCommand(kCmdRedo), kNoErr);
  EXPECT_EQ(Structure(window), polyhedral);
  ASSERT_EQ(ProcessCommand(kCmdUndo), kNoErr);

  EXPECT_EQ(SavedBytes(*GetWindowCrystal(window)), savedAtOpen) << "a save after Undo";
}

TEST_F(UndoStates, AResizeIsNoChangeOfTheDocument) {
  MainWindow *w = Open("NaCl.ovtx");
  ASSERT_NE(w, nullptr);
  WindowRef window = w->Ref();
  const CrystalRec *c = GetWindowCrystal(window);
  auto unchanged = [&](const char *what) {
    QTest::qWait(kPastTheUndoTimerMs);
    EXPECT_FALSE(w->isWindowModified()) << what;
    EXPECT_FALSE(CanUndo(window)) << what << ": no undo step";
  };
  const float opened = c->plotScale;
  QTest::qWait(kPastTheUndoTimerMs);
  ASSERT_NE(GetWindowHistory(window), nullptr);
  const std::filesystem::path front = GetWindowHistory(window)->fileRef;
  std::vector<uint8_t> frontBytes, bytes;
  ASSERT_TRUE(ReadWholeFile(front, frontBytes));
  w->resize(w->width() + 160, w->height() + 120);
  QCoreApplication::processEvents();
  ASSERT_NE(c->plotScale, opened) << "the picture follows the pane";
  unchanged("a resize");
  // A resize costs its replot and no more: no undo document is written.
  ASSERT_TRUE(ReadWholeFile(front, bytes));
  EXPECT_TRUE(bytes == frontBytes) << "the front undo state was written again";
  ProcessCommand(FourCharsToLong("ShAl")); // Show All Atoms, none hidden
  unchanged("Show All Atoms after a resize");
  ProcessCommand(kCmdZoomIn);
  ProcessCommand(kCmdZoomOut);
  unchanged("Zoom In, Zoom Out after a resize");

  // A command at once after the resize, before the window settles.
  w->resize(w->width() - 100, w->height() - 60);
  QCoreApplication::processEvents();
  const float resized = c->plotScale;
  ProcessCommand(FourCharsToLong("ShAl"));
  unchanged("Show All Atoms at once after a resize");

  ProcessCommand(kCmdZoomIn);
  QTest::qWait(kPastTheUndoTimerMs);
  ASSERT_TRUE(w->isWindowModified());
  ASSERT_EQ(ProcessCommand(kCmdUndo), kNoErr);
  EXPECT_EQ(c->plotScale, resized) << "Undo keeps the picture's size in the window";
  EXPECT_FALSE(w->isWindowModified());
}

TEST_F(UndoStates, CompletingMolecularFragmentsIsOneUndo) {
  MainWindow *w = Open("Calcite.ovtx");
  ASSERT_NE(w, nullptr);
  WindowRef window = w->Ref();
  QTest::qWait(kPastTheUndoTimerMs);
  const std::vector<uint8_t> before = Structure(window);
  ASSERT_EQ(ProcessCommand(kCmdRepairMolecularFragments), kNoErr);
  QTest::qWait(kPastTheUndoTimerMs);
  ASSERT_NE(Structure(window), before);

  Front(w);
  FocusGraphPane(window);
  QTest::keyClick(w->GraphPane(), Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(Structure(window), before) << "one Undo takes the command back";
  EXPECT_FALSE(CanUndo(window)) << "and leaves no step that changes nothing";
}

// Undo states are written on a worker. One it cannot write (a folder
// stands where the document would go) is taken again, so Undo and Redo
// still walk every step.
TEST_F(UndoStates, AStateTheCacheCouldNotTakeIsTakenAgain) {
  MainWindow *w = Open("NaCl.ovtx");
  ASSERT_NE(w, nullptr);
  WindowRef window = w->Ref();
  const std::vector<uint8_t> opened = Structure(window);
  // Cache documents are numbered one up from the last name handed out.
  const std::filesystem::path last = NewCacheFilePath();
  const std::string name = last.filename().string();
  const size_t digits = name.find_last_not_of("0123456789") + 1;
  const std::filesystem::path next =
      last.parent_path() / (name.substr(0, digits) + std::to_string(std::stoul(name.substr(digits)) + 1) + ".part");
  std::filesystem::create_directories(next);
  ProcessCommand(kCmdZoomIn);
  const std::vector<uint8_t> zoomed = Structure(window);
  ASSERT_NE(zoomed, opened);
  QTest::qWait(kPastTheUndoTimerMs);

  ASSERT_EQ(ProcessCommand(kCmdUndo), kNoErr);
  EXPECT_EQ(Structure(window), opened);
  ASSERT_EQ(ProcessCommand(kCmdRedo), kNoErr);
  EXPECT_EQ(Structure(window), zoomed);
  std::filesystem::remove(next);
}

} // namespace
