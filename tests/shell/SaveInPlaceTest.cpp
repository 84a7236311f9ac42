// File > Save over the document a window was opened from, as the user has
// it on disk: the file keeps its permissions, group and symbolic link; a
// read-only file and a file another program changed meanwhile are replaced
// only on the user's word; what saves and exports killed part way left
// behind goes, and nothing else does; any name the system takes is written.
#include "shell/Commands.h"
#include "shell/FileCommands.h"
#include "shell/QtHostServices.h"
#include "shell/ShellDialogs.h"
#include "shell/Startup.h"
#include "structurewindow/MainWindow.h"
#include "structurewindow/StructureWindow.h"

#include "export/ExportFrame.h"
#include "files/AtomicFileWriter.h"
#include "window/MainWindowData.h"

#include <QKeyEvent>

#include <algorithm>
#include <clocale>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ProgramEnvironment.h"
#include "ShellApp.h"

namespace fs = std::filesystem;

namespace {

class ScriptedDialogs : public ShellDialogs {
public:
  std::optional<fs::path> saveFile;
  fs::path proposedFolder; // where the last save dialog started
  std::vector<fs::path> GetOpenFiles() override { return {}; }
  std::optional<fs::path> GetSaveFile(const std::string &, const std::string &, const fs::path &folder) override {
    proposedFolder = folder;
    return saveFile;
  }
  SaveChangesAnswer ConfirmSaveChanges(const std::string &, bool) override { return SaveChangesAnswer::kDontSave; }
  bool GetWindowOptions(std::string &, int &) override { return false; }
};

size_t FilesIn(const fs::path &folder) { return size_t(std::distance(fs::directory_iterator(folder), {})); }

std::string Read(const fs::path &file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

unsigned Mode(const fs::path &file) {
  struct stat st = {};
  return ::stat(file.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

class SaveInPlace : public ::testing::Test {
protected:
  static inline RecordingHost *host = nullptr;
  static inline ScriptedDialogs dialogs;
  static inline fs::path temp;
  static inline std::string numericLocale;

  // The whole program, started once for the suite in folders of its own;
  // the comma locale the other shell tests expect comes back afterwards.
  static void SetUpTestSuite() {
    App();
    numericLocale = std::setlocale(LC_NUMERIC, nullptr);
    InstallProgramLocale();
    std::string pattern = "/tmp/ovsaveXXXXXX";
    temp = ::mkdtemp(pattern.data());
    setenv("XDG_CONFIG_HOME", (temp / "config").c_str(), 1);
    setenv("XDG_CACHE_HOME", (temp / "cache").c_str(), 1);
    SetShellDialogs(&dialogs);
    host = new RecordingHost;
    ASSERT_TRUE(OVInitialize({}, host));
  }
  static void TearDownTestSuite() {
    for (MainWindow *w : std::vector<MainWindow *>(AllGraphWindows()))
      delete w;
    SetHostServices(nullptr);
    delete host;
    host = nullptr;
    SetShellDialogs(nullptr);
    fs::remove_all(temp);
    std::setlocale(LC_NUMERIC, numericLocale.c_str());
    unsetenv("LC_NUMERIC");
  }

  fs::path dir;
  void SetUp() override {
    dir = temp / ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::create_directories(dir);
    host->alerts.clear();
    host->answers.clear();
  }

  // A document made from an example with Save As, opened as a user opens it.
  MainWindow *Document(const fs::path &file) {
    if (!OpenFSRefInWindow(ExamplesFolder() / "Rutile.ovtx", nullptr))
      return nullptr;
    dialogs.saveFile = file;
    ProcessCommand(kCmdSaveAs);
    dialogs.saveFile.reset();
    return Open(file);
  }
  static MainWindow *Open(const fs::path &file) {
    if (!OpenFSRefInWindow(file, nullptr))
      return nullptr;
    QCoreApplication::processEvents();
    return GetMainWindow(FrontGraphWindow());
  }
  // A change from the keyboard, then File > Save.
  static void ChangeAndSave(MainWindow *w) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Left, Qt::NoModifier);
    QApplication::sendEvent(w->GraphPane(), &press);
    ASSERT_TRUE(IsWindowModified(w->Ref()));
    ProcessCommand(kCmdSave);
  }
};

TEST_F(SaveInPlace, TheFileKeepsItsModeGroupAndLink) {
  const mode_t savedMask = ::umask(0002);
  // A new document gets the usual mode under the user's umask.
  const fs::path doc = dir / "private.ovdf";
  MainWindow *w = Document(doc);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(Mode(doc), 0664u);
  // A private file stays private, in its group where we may give it one.
  ASSERT_EQ(::chmod(doc.c_str(), 0600), 0);
  const bool administrator = ::geteuid() == 0;
  if (administrator) {
    ASSERT_EQ(::chown(doc.c_str(), 0, 1), 0);
  }
  const std::string before = Read(doc);
  ChangeAndSave(w);
  EXPECT_TRUE(host->alerts.empty());
  EXPECT_FALSE(IsWindowModified(w->Ref()));
  EXPECT_NE(Read(doc), before);
  EXPECT_EQ(Mode(doc), 0600u);
  struct stat st = {};
  ASSERT_EQ(::stat(doc.c_str(), &st), 0);
  if (administrator) {
    EXPECT_EQ(st.st_gid, 1u);
  }

  // A document opened through a link: the file it points to is saved and
  // the link stays.
  ASSERT_EQ(::symlink("private.ovdf", (dir / "link.ovdf").c_str()), 0);
  w = Open(dir / "link.ovdf");
  ASSERT_NE(w, nullptr);
  const std::string target = Read(doc);
  ChangeAndSave(w);
  EXPECT_TRUE(host->alerts.empty());
  ASSERT_TRUE(fs::is_symlink(dir / "link.ovdf"));
  EXPECT_EQ(fs::read_symlink(dir / "link.ovdf"), "private.ovdf");
  EXPECT_NE(Read(doc), target);
  EXPECT_EQ(Mode(doc), 0600u);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), {}), 2) << "no file beside the link and its target";
  ::umask(savedMask);
}

TEST_F(SaveInPlace, AReadOnlyDocumentIsKeptAndSaveAsOffered) {
  // The user last saved elsewhere, then opened a read-only document.
  const fs::path elsewhere = dir / "elsewhere", shelf = dir / "shelf";
  fs::create_directories(shelf);
  fs::create_directories(elsewhere);
  ASSERT_NE(Document(elsewhere / "earlier.ovdf"), nullptr);
  const fs::path doc = shelf / "locked.ovdf";
  fs::copy_file(elsewhere / "earlier.ovdf", doc);
  ASSERT_EQ(::chmod(doc.c_str(), 0444), 0);
  MainWindow *w = Open(doc);
  ASSERT_NE(w, nullptr);
  const std::string before = Read(doc);
  host->answers = {2}; // Cancel
  ChangeAndSave(w);
  ASSERT_EQ(host->alerts.size(), 1u);
  EXPECT_EQ(host->alerts[0].message, "The document \"locked\" is read-only.");
  EXPECT_EQ(host->alerts[0].buttons, (std::vector<std::string>{"Save As…", "Cancel"}));
  EXPECT_EQ(Read(doc), before);
  EXPECT_EQ(Mode(doc), 0444u);
  EXPECT_TRUE(IsWindowModified(w->Ref()));
  // Save As… starts where the user last saved, not beside the read-only
  // file; it saves the changes under another name and the file stays.
  dialogs.saveFile = elsewhere / "copy.ovdf";
  ProcessCommand(kCmdSave);
  dialogs.saveFile.reset();
  EXPECT_EQ(dialogs.proposedFolder, elsewhere);
  EXPECT_EQ(host->alerts.size(), 2u);
  EXPECT_EQ(Read(doc), before);
  EXPECT_TRUE(fs::exists(elsewhere / "copy.ovdf"));
  EXPECT_EQ(w->File(), elsewhere / "copy.ovdf");
  EXPECT_FALSE(IsWindowModified(w->Ref()));
}

TEST_F(SaveInPlace, AFileAnotherProgramChangedIsReplacedOnlyWhenTheUserSaysSo) {
  const fs::path doc = dir / "shared.ovdf";
  MainWindow *w = Document(doc);
  ASSERT_NE(w, nullptr);
  // Another program writes the file after it was opened.
  const std::string theirs = Read(doc) + "their changes";
  std::ofstream(doc, std::ios::binary) << theirs;
  host->answers = {2}; // Cancel
  ChangeAndSave(w);
  ASSERT_EQ(host->alerts.size(), 1u);
  EXPECT_EQ(host->alerts[0].message,
            "The document \"shared\" has been changed by another application since it was opened or last saved.");
  EXPECT_EQ(host->alerts[0].buttons, (std::vector<std::string>{"Save Anyway", "Cancel"}));
  EXPECT_EQ(Read(doc), theirs);
  EXPECT_TRUE(IsWindowModified(w->Ref()));
  // Save Anyway replaces it; the next save, with no change on disk, asks
  // nothing.
  ProcessCommand(kCmdSave);
  EXPECT_EQ(host->alerts.size(), 2u);
  EXPECT_NE(Read(doc), theirs);
  ChangeAndSave(w);
  EXPECT_EQ(host->alerts.size(), 2u);
  EXPECT_FALSE(IsWindowModified(w->Ref()));
}

TEST_F(SaveInPlace, SavingRemovesOnlyTheDocumentsOwnLeftoverTemporaryFiles) {
  const fs::path doc = dir / "doc.ovdf";
  MainWindow *w = Document(doc);
  ASSERT_NE(w, nullptr);
  const std::vector<std::string> leftovers = {".~doc.ovdf.123.tmp", ".~doc.ovdf.7.tmp"};
  const std::vector<std::string> others = {".~other.ovdf.1.tmp", ".~doc.ovdf.12a.tmp",  ".~doc.ovdf..tmp",
                                           "doc.ovdf.123.tmp",   ".~doc.ovdf.123.tmp~", "notes.txt"};
  for (const auto &name : leftovers)
    std::ofstream(dir / name) << "killed part way";
  for (const auto &name : others)
    std::ofstream(dir / name) << "not ours";
  // A save of the same document still running elsewhere keeps its file.
  AtomicFileWriter running(doc);
  ASSERT_TRUE(running.Write("half", 4));
  ChangeAndSave(w);
  EXPECT_FALSE(IsWindowModified(w->Ref()));
  for (const auto &name : leftovers)
    EXPECT_FALSE(fs::exists(dir / name)) << name;
  for (const auto &name : others)
    EXPECT_EQ(Read(dir / name), "not ours") << name;
  // The document, the others and the running save's file.
  EXPECT_EQ(size_t(std::distance(fs::directory_iterator(dir), {})), others.size() + 2);
}

TEST_F(SaveInPlace, SaveAsAsksBeforeReplacingTheFileItWrites) {
  MainWindow *w = Document(dir / "doc.ovdf");
  ASSERT_NE(w, nullptr);
  // A name with no type of its own gets the document's: the file written is
  // ".hidden.ovdf", and that is what the question is about.
  const fs::path existing = dir / ".hidden.ovdf";
  std::ofstream(existing) << "the user's file";
  dialogs.saveFile = dir / ".hidden";
  host->answers = {2}; // Cancel
  ProcessCommand(kCmdSaveAs);
  ASSERT_EQ(host->alerts.size(), 1u);
  EXPECT_EQ(host->alerts[0].message, "\".hidden.ovdf\" already exists. Do you want to replace it?");
  EXPECT_EQ(host->alerts[0].buttons, (std::vector<std::string>{"Replace", "Cancel"}));
  EXPECT_EQ(Read(existing), "the user's file");
  EXPECT_EQ(w->File(), dir / "doc.ovdf");
  host->answers = {1}; // Replace
  ProcessCommand(kCmdSaveAs);
  dialogs.saveFile.reset();
  EXPECT_EQ(host->alerts.size(), 2u);
  EXPECT_NE(Read(existing), "the user's file");
  EXPECT_EQ(w->File(), existing);
}

// What a writer of `file` killed part way leaves: its temporary file, which
// nobody holds any more.
fs::path KilledWriterLeftover(const fs::path &file) {
  const fs::path folder = file.parent_path();
  std::vector<fs::path> before(fs::directory_iterator(folder), {});
  fs::path temp;
  {
    AtomicFileWriter writer(file);
    EXPECT_TRUE(writer.IsOpen()) << writer.Reason();
    for (const fs::directory_entry &e : fs::directory_iterator(folder))
      if (std::find(before.begin(), before.end(), e.path()) == before.end())
        temp = e.path();
  }
  if (!temp.empty())
    std::ofstream(temp) << "killed part way";
  return temp;
}

TEST_F(SaveInPlace, AnExportRemovesOnlyWhatKilledExportsOfItsFileLeft) {
  ASSERT_NE(Document(dir / "doc.ovdf"), nullptr);
  const fs::path text = dir / "atoms.txt", stale = dir / ".~atoms.txt.4711.tmp";
  std::ofstream(stale) << "killed part way";
  // An export of the same name still running elsewhere keeps its file.
  AtomicFileWriter running(text);
  ASSERT_TRUE(running.Write("half", 4));
  dialogs.saveFile = text;
  ASSERT_EQ(ProcessCommand(kCmdExportCoordinates), kNoErr);
  dialogs.saveFile.reset();
  EXPECT_TRUE(host->alerts.empty());
  EXPECT_TRUE(fs::exists(text));
  EXPECT_FALSE(fs::exists(stale));
  EXPECT_EQ(FilesIn(dir), 3u) << "the document, the export and the running export's file";
}

TEST_F(SaveInPlace, AnyNameTheSystemTakesIsSavedAndExported) {
  // 81 characters of three bytes each: names of 250 and 249 bytes, with
  // room for no temporary name of the usual pattern.
  std::string stem;
  for (int k = 0; k < 81; k++)
    stem += "\u6f22";
  stem += "ab";
  const fs::path doc = dir / (stem + ".ovdf"), text = dir / (stem + ".txt");
  const fs::path other = dir / (stem + "c.txt"); // the same head, another file
  ASSERT_EQ(doc.filename().string().size(), 250u);
  MainWindow *w = Document(doc);
  ASSERT_NE(w, nullptr);
  EXPECT_TRUE(host->alerts.empty());
  EXPECT_EQ(w->File(), doc);
  EXPECT_EQ(FilesIn(dir), 1u);

  const fs::path stale = KilledWriterLeftover(text), otherStale = KilledWriterLeftover(other);
  ASSERT_FALSE(stale.empty());
  ASSERT_NE(stale, otherStale);
  dialogs.saveFile = text;
  ASSERT_EQ(ProcessCommand(kCmdExportCoordinates), kNoErr);
  dialogs.saveFile.reset();
  EXPECT_TRUE(host->alerts.empty());
  EXPECT_NE(Read(text).find("Ti"), std::string::npos);
  EXPECT_FALSE(fs::exists(stale));
  EXPECT_TRUE(fs::exists(otherStale)) << "another file's";
  EXPECT_EQ(FilesIn(dir), 3u);
}

} // namespace
