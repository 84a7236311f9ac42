// A saved document holds the structure's polyhedra whether or not a model
// needed them before the save, with the same bytes as a save made after
// the polyhedral model drew them: a reader that takes the document as
// written (another version, a colleague's copy) shows the same polyhedra.
#include "ExampleWindowsTest.h"

#include "Utilities.h"
#include "CachedFiles.h"
#include "documents/CacheWrites.h"
#include "documents/UndoHistory.h"
#include "window/MainWindowData.h"
#include "structurewindow/AnnotationEditing.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

namespace {

constexpr uint32_t kPolyhedralModelCommand = FourCharsToLong("Poly");
constexpr uint32_t kBallAndStickCommand = FourCharsToLong("Ball");

uint32_t U32At(const std::string &bytes, size_t at) {
  uint32_t v = 0;
  std::memcpy(&v, bytes.data() + at, 4);
  return v;
}

// The payload of a document's section, walked from the 16-byte header
// section by section (the tag's four characters, u32 length, payload);
// none when it has no such section.
std::optional<std::string> FindSection(const std::string &bytes, const char *tag) {
  size_t at = 16;
  while (at + 8 <= bytes.size()) {
    const uint32_t length = U32At(bytes, at + 4);
    if (bytes.compare(at, 4, tag) == 0)
      return bytes.substr(at + 8, length);
    at += 8 + length;
  }
  return std::nullopt;
}
std::string Section(const std::string &bytes, const char *tag) { return FindSection(bytes, tag).value_or(""); }

// The polyhedra records of a POLY section whose flag byte is not 0; each
// record: atom, centre atom, the flag byte, vertex and face counts, then its
// faces. Fails the test when the records do not fill the section.
size_t FlaggedPolyhedra(const std::string &polyhedra) {
  const uint32_t count = U32At(polyhedra, 0);
  size_t at = 4, flagged = 0;
  for (uint32_t k = 0; k < count && at + 17 <= polyhedra.size(); ++k) {
    flagged += polyhedra[at + 8] != 0;
    uint32_t faces = U32At(polyhedra, at + 13);
    at += 17;
    while (faces-- > 0 && at + 4 <= polyhedra.size())
      at += 4 + 4 * size_t{U32At(polyhedra, at)};
  }
  EXPECT_EQ(at, polyhedra.size()) << "the records do not fill the section";
  return flagged;
}

class SavedPolyhedraTest : public ExampleWindowsTest {};

TEST_F(SavedPolyhedraTest, ASaveBeforeThePolyhedralModelHoldsTheSamePolyhedra) {
  ASSERT_NE(Open("Pyrope.ovtx"), nullptr);
  const std::string unseen = SaveAs("unseen.ovdf");
  ProcessCommand(kPolyhedralModelCommand);
  ProcessCommand(kBallAndStickCommand);
  const std::string seen = SaveAs("seen.ovdf");

  const std::string polyhedra = Section(seen, "POLY");
  ASSERT_GT(polyhedra.size(), 4u) << "the polyhedral model drew none";
  EXPECT_TRUE(Section(unseen, "POLY") == polyhedra)
      << "saved " << unseen.size() << " bytes against " << seen.size();

  // The file gives no site a polyhedron mode, so the flag byte (a site's
  // mode when its polyhedra were made) is 0 for all.
  EXPECT_EQ(FlaggedPolyhedra(polyhedra), 0u) << "of " << U32At(polyhedra, 0) << " polyhedra";
}

// Undo brings back a state whose polyhedra were still to be made: a save
// after it writes the polyhedra, flag bytes and all, of a save before the
// change.
TEST_F(SavedPolyhedraTest, ASaveAfterUndoWritesThePolyhedraOfASaveBefore) {
  ASSERT_NE(Open("Pyrope.ovtx"), nullptr);
  const std::string before = SaveAs("before.ovdf");
  ASSERT_EQ(ProcessCommand(kCmdAddAnnotationTextbox), kNoErr);
  UndoBufferTimerProc();
  ASSERT_EQ(ProcessCommand(kCmdUndo), kNoErr);
  const std::string undone = SaveAs("undone.ovdf");

  const std::string polyhedra = Section(undone, "POLY");
  ASSERT_GT(polyhedra.size(), 4u);
  EXPECT_EQ(FlaggedPolyhedra(polyhedra), 0u) << "of " << U32At(polyhedra, 0) << " polyhedra";
  EXPECT_TRUE(polyhedra == Section(before, "POLY"));
}

// The undo state of the open keeps the sites' modes as the file and the bond
// search gave them, the roles to be set when read. Saves set the roles and
// make the polyhedra for the file, which is no change: the window stays
// unmarked, a second save writes the same bytes, and the open's undo state
// is never written again, by the next change either. Undone to it, the
// window sets the same roles and saves the same bytes.
TEST_F(SavedPolyhedraTest, SavesLeaveTheUndoStateAsTheOpenWroteIt) {
  MainWindow *w = Open("Pyrope.ovtx");
  ASSERT_NE(w, nullptr);
  const std::filesystem::path opened = GetMainWindowData(w->Ref())->history->fileRef;
  FinishCacheWriteOf(opened);
  const std::string state = FileBytes(opened);
  ASSERT_TRUE(FindSection(state, "RPND")) << "the open's undo state has the roles set";

  const std::string first = SaveAs("first.ovdf");
  const std::string second = SaveAs("second.ovdf");
  EXPECT_FALSE(FindSection(first, "RPND")) << "a saved document holds the roles set";
  EXPECT_GT(Section(first, "POLY").size(), 4u);
  EXPECT_TRUE(first == second);
  EXPECT_FALSE(IsWindowModified(w->Ref()));

  ASSERT_EQ(ProcessCommand(kCmdAddAnnotationTextbox), kNoErr);
  UndoBufferTimerProc();
  ASSERT_NE(GetMainWindowData(w->Ref())->history->fileRef, opened);
  FinishCacheWriteOf(opened);
  EXPECT_TRUE(FileBytes(opened) == state) << "the open's undo state was written again";
  ASSERT_EQ(ProcessCommand(kCmdUndo), kNoErr);
  EXPECT_TRUE(SaveAs("undone.ovdf") == first);
}

} // namespace
