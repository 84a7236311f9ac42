// The preferences file and the cache folder.
#include "DocumentTestSupport.h"

#include "CachedFiles.h"
#include "documents/CrystalDocument.h"
#include "documents/FileBuffer.h"
#include "documents/PrefsFile.h"
#include "documents/UndoHistory.h"

#include <QLockFile>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>

namespace {

class PrefsFileTest : public ::testing::Test {
protected:
  FakeHost host;
  std::filesystem::path dir;
  void SetUp() override {
    gPrefs = gFactoryPrefs;
    dir = std::filesystem::temp_directory_path() / ("ovprefs-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (dir / "cache").c_str(), 1);
  }
  void TearDown() override {
    DestroyRecentFiles();
    DestroyFavouriteFiles();
    gPrefs = gFactoryPrefs;
    std::filesystem::remove_all(dir);
    ::unsetenv("XDG_CONFIG_HOME");
    ::unsetenv("XDG_CACHE_HOME");
  }
};

// One changed value in every section, and the two lists.
void ChangeEverySection(PrefsRecord &p) {
  p.windowBounds = {10, 20, 410, 620};
  p.notesFontName = MakeStr255("DejaVu Sans Mono");
  p.infoWindowVisible = 1;
  p.infoWindowBounds = {1, 2, 3, 4};
  p.infoGroupByElement = 0;
  p.rotatorAngle = 15.0f;
  p.atomPickerElements[3] = TwoCharsToShort("Fe");
  p.kS[2] = 0.125f;
  p.labelFont = MakeStr255("DejaVu Serif");
  p.planeTransparency = 0.3f;
  p.annotationSize = 18;
  p.vectorStyle = 1;
  p.noticeGenerateSiteColors = 0;
  p.noticeApplyDefaults = 0;
  p.elementData[5].radius = 1.234f;
  p.elementData[199].element = TwoCharsToShort("Xx");
  std::strcpy(p.elementNotes, "Radii after Shannon (1976).");
  p.lastUpdateCheck = 1700000000u;
  p.movieFrameRate = 24.0f;
}

TEST_F(PrefsFileTest, EverySectionComesBackOverTheFactoryCopy) {
  ChangeEverySection(gPrefs);
  CachedFileRecord *recent = CreateCachedFileRecord();
  recent->fileRef = "/data/Quartz.ovdf";
  recent->caption = "Quartz";
  recent->fileType = kCrystalDocumentType;
  ASSERT_TRUE(AddItemToRecentFiles(recent, kAddAtTail));
  const PrefsRecord changed = gPrefs;
  const std::vector<uint8_t> written = EncodePrefsFile(gPrefs);
  ASSERT_TRUE(CreateAndSavePrefsFile());
  EXPECT_TRUE(std::filesystem::exists(dir / "config/Orvalisphere/Orvalisphere 9 Preferences"));

  DestroyRecentFiles();
  gPrefs = gFactoryPrefs;
  ASSERT_TRUE(ReadPrefsFile());
  EXPECT_EQ(gPrefs.windowBounds, changed.windowBounds);
  EXPECT_EQ(gPrefs.notesFontName.view(), "DejaVu Sans Mono");
  EXPECT_EQ(gPrefs.infoWindowVisible, 1);
  EXPECT_EQ(gPrefs.infoWindowBounds, changed.infoWindowBounds);
  EXPECT_EQ(gPrefs.infoGroupByElement, 0);
  EXPECT_EQ(gPrefs.rotatorAngle, 15.0f);
  EXPECT_EQ(gPrefs.atomPickerElements[3], TwoCharsToShort("Fe"));
  EXPECT_EQ(gPrefs.kS[2], 0.125f);
  EXPECT_EQ(gPrefs.labelFont.view(), "DejaVu Serif");
  EXPECT_EQ(gPrefs.planeTransparency, 0.3f);
  EXPECT_EQ(gPrefs.annotationSize, 18);
  EXPECT_EQ(gPrefs.vectorStyle, 1);
  EXPECT_EQ(gPrefs.noticeGenerateSiteColors, 0);
  EXPECT_EQ(gPrefs.noticeApplyDefaults, 0);
  EXPECT_EQ(gPrefs.elementData[5].radius, 1.234f);
  EXPECT_EQ(gPrefs.elementData[199].element, TwoCharsToShort("Xx"));
  EXPECT_STREQ(gPrefs.elementNotes, "Radii after Shannon (1976).");
  EXPECT_EQ(gPrefs.lastUpdateCheck, 1700000000u);
  EXPECT_EQ(gPrefs.movieFrameRate, 24.0f);
  ASSERT_EQ(GetNumRecentFiles(), 1);
  EXPECT_EQ(gPrefs.recentFiles->fileRef, "/data/Quartz.ovdf");
  EXPECT_EQ(gPrefs.recentFiles->caption, "Quartz");
  // The written bytes are the record's: encoding what was read gives them again.
  EXPECT_EQ(EncodePrefsFile(gPrefs), written);
}

TEST_F(PrefsFileTest, ShortAndUnknownSectionsAreSkipped) {
  ChangeEverySection(gPrefs);
  std::vector<uint8_t> bytes = EncodePrefsFile(gPrefs);
  // Cut the display section by four bytes, as an older or damaged file would.
  size_t at = 8;
  while (std::memcmp(&bytes[at], "DISP", 4) != 0)
    at += 8 + (bytes[at + 4] | bytes[at + 5] << 8 | bytes[at + 6] << 16 | bytes[at + 7] << 24);
  const uint32_t length = bytes[at + 4] | bytes[at + 5] << 8 | bytes[at + 6] << 16 | bytes[at + 7] << 24;
  bytes[at + 4] = static_cast<uint8_t>((length - 4) & 0xFF);
  bytes[at + 5] = static_cast<uint8_t>((length - 4) >> 8);
  bytes.erase(bytes.begin() + static_cast<long>(at + 8 + length - 4), bytes.begin() + static_cast<long>(at + 8 + length));
  const uint8_t unknown[12] = {'Z', 'Z', 'Z', 'Z', 4, 0, 0, 0, 9, 9, 9, 9};
  bytes.insert(bytes.begin() + 8, unknown, unknown + 12);
  // And a last section whose length runs past the end of the file.
  const uint8_t cut[10] = {'W', 'I', 'N', 'D', 200, 0, 0, 0, 1, 2};
  bytes.insert(bytes.end(), cut, cut + 10);

  PrefsRecord read = gFactoryPrefs;
  int skipped = 0;
  ASSERT_TRUE(DecodePrefsFile(bytes, read, &skipped));
  EXPECT_EQ(skipped, 3);
  EXPECT_EQ(read.kS[2], gFactoryPrefs.kS[2]) << "the short display section changed nothing";
  EXPECT_EQ(read.labelFont.view(), gFactoryPrefs.labelFont.view());
  EXPECT_EQ(read.rotatorAngle, 15.0f) << "the sections around it were read";
  EXPECT_EQ(read.elementData[5].radius, 1.234f);

  PrefsRecord untouched = gFactoryPrefs;
  const uint8_t notPrefs[8] = {'O', 'V', 'D', 'F', 9, 0, 0, 0};
  EXPECT_FALSE(DecodePrefsFile(notPrefs, untouched));
  EXPECT_FALSE(DecodePrefsFile({}, untouched));
  EXPECT_EQ(EncodePrefsFile(untouched), EncodePrefsFile(gFactoryPrefs));
}

TEST_F(PrefsFileTest, CacheFolderKeepsOnlyWhatIsNotOurs) {
  namespace fs = std::filesystem;
  const fs::path shared = dir / "cache/Orvalisphere/Orvalisphere Cache";
  const auto cache = GetCacheFolder();
  EXPECT_EQ(cache, shared / std::to_string(::getpid())) << "this copy's own folder";
  // Beside ours: the folder of a copy that runs (its lock held), that of a
  // copy that is gone (no lock), and files that are not cache documents.
  QLockFile running(QString::fromStdString((shared / "4242.lock").string()));
  running.setStaleLockTime(0);
  ASSERT_TRUE(running.tryLock(0));
  for (const fs::path &folder : {cache, shared / "4242", shared / "4343"}) {
    fs::create_directories(folder);
    std::ofstream(folder / "__OVCache1") << "x";
  }
  std::ofstream(cache / "__OVCache27") << "x";
  std::ofstream(cache / "notes.txt") << "x";
  std::ofstream(shared / "notes.txt") << "x";
  ASSERT_TRUE(EmptyCacheFolder());
  EXPECT_FALSE(fs::exists(cache / "__OVCache1"));
  EXPECT_FALSE(fs::exists(cache / "__OVCache27"));
  EXPECT_TRUE(fs::exists(cache / "notes.txt"));
  EXPECT_TRUE(fs::exists(shared / "notes.txt"));
  EXPECT_TRUE(fs::exists(shared / "4242" / "__OVCache1")) << "a running copy's";
  EXPECT_FALSE(fs::exists(shared / "4343")) << "a copy's that is gone";
  EXPECT_FALSE(fs::exists(shared / "4343.lock"));

  std::string error;
  std::vector<doctest::Named> examples = doctest::ExampleStructures(host, error);
  ASSERT_FALSE(examples.empty());
  doctest::Window w(host);
  w.crystal() = examples.back().crystal;
  EXPECT_FALSE(DoCacheHistoryFile(w.ref())) << "a window without a file keeps no history";
  SetWindowFileOpen(w.ref(), true);
  host.windowTitle = "Snapshot";
  ASSERT_TRUE(DoCacheHistoryFile(w.ref()));
  ASSERT_TRUE(DoCacheHistoryFile(w.ref()));
  ASSERT_EQ(GetNumWindowHistory(w.ref()), 2);
  const CachedFileRecord *node = GetWindowHistory(w.ref());
  EXPECT_EQ(node->caption, "Snapshot");
  EXPECT_EQ(node->fileRef.parent_path(), cache);
  EXPECT_TRUE(node->fileRef.filename().string().starts_with("__OVCache"));
  EXPECT_NE(node->fileRef, node->next->fileRef);
  CrystalRec back;
  ASSERT_TRUE(ReadCrystalFile(&back, node->fileRef));
  EXPECT_EQ(back.atomCount, w.crystal().atomCount);

  // The undo timer takes a snapshot of a window that noted a change, and
  // only when its structure differs from its last undo state.
  InstallUndoBufferTimer();
  gUndoBufferTimer.proc();
  EXPECT_EQ(GetNumWindowHistory(w.ref()), 2);
  w.crystal().plotScale *= 2.0f;
  NoteWindowChange(w.ref());
  gUndoBufferTimer.proc();
  EXPECT_EQ(GetNumWindowHistory(w.ref()), 3);
  EXPECT_FALSE(IsWindowUndoStatePending(w.ref()));
  NoteWindowChange(w.ref()); // a redraw: nothing differs
  gUndoBufferTimer.proc();
  EXPECT_EQ(GetNumWindowHistory(w.ref()), 3);
  gUndoBufferTimer.proc = nullptr;
  DestroyWindowHistory(w.ref());
}

TEST_F(PrefsFileTest, AFileCutShortNamesEverythingLostAfterTheCut) {
  ChangeEverySection(gPrefs);
  CachedFileRecord *recent = CreateCachedFileRecord();
  recent->fileRef = "/data/Quartz.ovdf";
  ASSERT_TRUE(AddItemToRecentFiles(recent, kAddAtTail));
  std::vector<uint8_t> bytes = EncodePrefsFile(gPrefs);
  // The file ends two bytes into the movie settings.
  const std::string text(bytes.begin(), bytes.end());
  const size_t movie = text.find("MOVI");
  ASSERT_NE(movie, std::string::npos);
  bytes.resize(movie + 8 + 2);
  const std::filesystem::path file = GetPrefsFilePath();
  std::filesystem::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char *>(bytes.data()), long(bytes.size()));

  DestroyRecentFiles();
  gPrefs = gFactoryPrefs;
  ASSERT_TRUE(ReadPrefsFile());
  const std::string lead = "The preferences file \"" + file.string() + "\" is damaged: ";
  EXPECT_NE(host.log.find(lead + "the factory values are used for the movie export settings, the picture export "
                                 "settings, the distance search maximum, the Distance Explorer settings and the "
                                 "element table notes, which could not be read."),
            std::string::npos)
      << host.log;
  EXPECT_NE(host.log.find(lead + "the list of recent files and the list of Favourites could not be read."),
            std::string::npos)
      << host.log;
  EXPECT_EQ(gPrefs.lastUpdateCheck, 1700000000u) << "what came before the cut was read";
}

TEST_F(PrefsFileTest, AnUnusableCacheFolderIsSaidInTheLogOnce) {
  // A file stands where the cache folder would be made.
  std::ofstream(dir / "blocker") << "x";
  ::setenv("XDG_CACHE_HOME", (dir / "blocker" / "cache").c_str(), 1);
  std::string error;
  std::vector<doctest::Named> examples = doctest::ExampleStructures(host, error);
  ASSERT_FALSE(examples.empty());
  doctest::Window w(host);
  w.crystal() = examples.back().crystal;
  SetWindowFileOpen(w.ref(), true);
  InstallUndoBufferTimer();
  const std::string line = "Undo is off: the cache folder \"" + GetCacheFolder().string() +
                           "\" cannot be used (Not a directory), so no change can be undone and no view kept "
                           "until it can.";
  for (int change = 0; change < 2; change++) {
    w.crystal().plotScale *= 2.0f;
    NoteWindowChange(w.ref());
    gUndoBufferTimer.proc();
  }
  gUndoBufferTimer.proc = nullptr;
  DropUnwrittenUndoStates(); // what the next settling, Undo or Redo does first
  EXPECT_EQ(GetNumWindowHistory(w.ref()), 0);
  const size_t at = host.log.find(line);
  EXPECT_NE(at, std::string::npos) << host.log;
  EXPECT_EQ(host.log.find(line, at + 1), std::string::npos) << "said once";
}

} // namespace
