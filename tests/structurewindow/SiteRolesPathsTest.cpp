// Every site's polyhedron mode is the one the open gives, however the
// structure got where it is: built again, a change undone, saved and opened
// again, or a polyhedron made from a selection before the polyhedral model
// ever drew it. The modes are read from the documents the window saves.
// thpp has sites with more atoms within bond reach than bonds, whose roles
// are asked of the whole crystal.
#include "ExampleWindowsTest.h"

#include "BuildPipeline.h"
#include "StructureArrays.h"
#include "documents/CrystalDocument.h"
#include "documents/UndoHistory.h"
#include "editing/PolyhedronSheet.h"
#include "editing/TransformSheets.h"
#include "structurewindow/AnnotationEditing.h"
#include "window/MainWindowData.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

const std::filesystem::path kThpp = std::filesystem::path(OV_TEST_DATA) / "bonds" / "thpp.ins";

// Site label to saved polyhedron mode, as the document's bytes hold them.
std::map<std::string, uint32_t> SavedModes(const std::string &bytes) {
  CrystalRec read;
  std::string why;
  EXPECT_TRUE(DecodeCrystalDocument(std::vector<uint8_t>(bytes.begin(), bytes.end()), read, nullptr, &why)) << why;
  std::map<std::string, uint32_t> modes;
  for (size_t s = 0; s < UsableSiteSize(read); s++)
    modes[read.sites[s].label] = ShownPolyMode(read.sites[s]);
  return modes;
}

// The sites of `opened` that `other` gives another mode, "label open/other".
std::string Differences(const std::map<std::string, uint32_t> &opened, const std::map<std::string, uint32_t> &other) {
  std::string out;
  for (const auto &[label, mode] : opened) {
    auto it = other.find(label);
    if (it == other.end())
      out += " " + label + " missing";
    else if (it->second != mode)
      out += " " + label + " " + std::to_string(mode) + "/" + std::to_string(it->second);
  }
  return out;
}

class SiteRolesPathsTest : public ExampleWindowsTest {
protected:
  void Walk(int path) {
    switch (path) {
    case 0: // what every command that builds the structure again runs
      ASSERT_TRUE(RunNewCrystal(FrontGraphWindow(), false, false, false));
      break;
    case 1:
      ASSERT_EQ(ProcessCommand(kCmdAddAnnotationTextbox), kNoErr);
      UndoBufferTimerProc();
      ASSERT_EQ(ProcessCommand(kCmdUndo), kNoErr);
      break;
    case 2:
      SaveAs("again.ovdf");
      CloseAllStructureWindows();
      ASSERT_NE(Open(dialogs.saveFile), nullptr);
      break;
    default: {
      // The atoms bonded to the first atom of C10: a new site among them,
      // bonded to them by new specifications.
      CrystalRec &c = *GetWindowCrystal(FrontGraphWindow());
      int selected = 0;
      for (size_t s = 0; s < c.sites.size() && !selected; s++)
        if (std::string(c.sites[s].label) == "C10")
          for (uint32_t b : c.atoms[static_cast<size_t>(c.sites[s].firstAtom)].bonds) {
            c.atoms[b].selected = 1;
            ++selected;
          }
      ASSERT_GE(selected, 2);
      ASSERT_EQ(ProcessCommand(kCmdPolyhedronFromSelection), kNoErr);
      QDialog *sheet = OpenSheet(GetMainWindow(FrontGraphWindow()));
      ASSERT_NE(sheet, nullptr);
      MakePolyhedronSheetCommand(sheet, kSheetOK);
      QCoreApplication::processEvents();
      ASSERT_EQ(GetWindowCrystal(FrontGraphWindow())->siteCount, 18);
    }
    }
  }
};

TEST_F(SiteRolesPathsTest, EveryPathGivesTheSitesTheModesOfTheOpen) {
  ASSERT_NE(Open(kThpp), nullptr);
  const std::map<std::string, uint32_t> opened = SavedModes(SaveAs("opened.ovdf"));
  ASSERT_EQ(opened.size(), 17u);

  const char *const paths[] = {"built again", "a change undone", "saved and opened again",
                                "a polyhedron from a selection"};
  for (int path = 0; path < 4; path++) {
    // Opened afresh: the polyhedral model has not drawn it, nothing has
    // asked for its roles.
    CloseAllStructureWindows();
    ASSERT_NE(Open(kThpp), nullptr);
    Walk(path);
    EXPECT_EQ(Differences(opened, SavedModes(SaveAs("after.ovdf"))), "") << paths[path];
  }
}

} // namespace
