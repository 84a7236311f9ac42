// Commands that cannot do what they name say why: every command on the
// selected atoms when nothing is selected (as Hide Selected Atoms does),
// and Open Recent on a file that is no longer where it was.
#include "editing/PolyhedronSheet.h"
#include "editing/SelectionCommandHandler.h"
#include "editing/SelectionSheets.h"

#include <algorithm>

#include "ExampleWindowsTest.h"
#include "ProgramEnvironment.h"
#include "SuiteHost.h"

namespace fs = std::filesystem;

namespace {

class SilentCommands : public ExampleWindowsTest {
protected:
  void SetUp() override {
    ExampleWindowsTest::SetUp();
    static RecordingHost *host = JoinRunningProgram<RecordingHost>();
    host_ = host;
    host_->alerts.clear();
    host_->answers.clear();
    previousHost_ = SetHostServices(host_);
  }
  void TearDown() override {
    SetHostServices(previousHost_);
    ExampleWindowsTest::TearDown();
  }
  RecordingHost *host_ = nullptr;
  HostServices *previousHost_ = nullptr;
};

TEST_F(SilentCommands, EachSelectionCommandSaysNoAtomsAreSelected) {
  for (const char *example : {"Benzene.ovtx", "Rutile.ovtx"}) {
    MainWindow *w = Open(example);
    ASSERT_NE(w, nullptr);
    ProcessCommand(kCmdDeselectAll);
    const std::string before = SaveAs("before.ovdf");
    const struct {
      uint32_t command;
      const char *name;
    } commands[] = {
        {kCmdAtomStyleMenu, "Atom Style"},
        {kCmdAtomColour, "Atom Colour"},
        {kCmdCentreOnSelection, "Centre on Selection"},
        {kCmdLabelSelection, "Label Selection"},
        {kCmdShowCentreOfSelection, "Show Centre of Selection"},
        {kCmdDeleteSelectedAtoms, "Delete Selected Atoms"},
        {kCmdPolyhedronFromSelection, "Polyhedron from Selection"},
        {kCmdHideSelection, "Hide Selected Atoms"}, // the behaviour the others follow
    };
    for (const auto &c : commands) {
      host_->alerts.clear();
      EXPECT_EQ(ProcessCommand(c.command), kNoErr);
      QCoreApplication::processEvents();
      ASSERT_EQ(host_->alerts.size(), 1u) << example << ": " << c.name;
      EXPECT_EQ(host_->alerts[0].message, "No atoms selected!") << c.name;
      EXPECT_EQ(OpenSheet(w), nullptr) << c.name;
    }
    EXPECT_FALSE(IsWindowModified(w->Ref()));
    EXPECT_TRUE(SaveAs("after.ovdf") == before) << example;
    CloseAllStructureWindows();
  }
}

// The Open Recent item of a document since moved: the alert says it was
// not found and offers to remove the entry; Keep keeps it.
TEST_F(SilentCommands, ARecentFileThatMovedIsNotFoundAndCanBeRemoved) {
  const fs::path file = fs::path(folder.path().toStdString()) / "Moved.ovdf";
  ASSERT_NE(Open("NaCl.ovtx"), nullptr);
  ASSERT_FALSE(SaveAs("Moved.ovdf").empty());
  CloseAllStructureWindows();
  auto listed = [&] {
    const std::vector<fs::path> recent = RecentFiles();
    return std::find(recent.begin(), recent.end(), file) != recent.end();
  };
  ASSERT_TRUE(listed());
  fs::rename(file, file.parent_path() / "Elsewhere.ovdf");

  for (const int answer : {2, 1}) { // Keep, then Remove
    host_->alerts.clear();
    host_->answers = {answer};
    EXPECT_EQ(ProcessCommand(kCmdOpenRecent, QString::fromStdString(file.string())), kNoErr);
    ASSERT_EQ(host_->alerts.size(), 1u);
    EXPECT_NE(host_->alerts[0].message.find("\"Moved.ovdf\" could not be found"), std::string::npos)
        << host_->alerts[0].message;
    EXPECT_EQ(listed(), answer == 2);
  }
  EXPECT_EQ(FrontGraphWindow() ? IsWindowFileOpen(FrontGraphWindow()) : false, false) << "nothing opened";
}

} // namespace
