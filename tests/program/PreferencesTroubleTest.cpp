// The preferences file when it cannot be written at Quit, and when the one
// read at start-up is damaged: the user is told, and the Log stays readable.
#include "shell/FileCommands.h"
#include "shell/LogStore.h"
#include "shell/Startup.h"

#include "Preferences.h"
#include "documents/FileBuffer.h"
#include "documents/PrefsFile.h"

#include <QTextDocument>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <unistd.h>

#include "ProgramEnvironment.h"
#include "SuiteHost.h"

namespace fs = std::filesystem;

namespace {

class PreferencesTroubleTest : public ::testing::Test {
protected:
  void SetUp() override {
    static RecordingHost *host = JoinRunningProgram<RecordingHost>();
    host_ = host;
    host_->alerts.clear();
    previous_ = SetHostServices(host_);
    folder_ = fs::temp_directory_path() / ("ov_prefs_" + std::to_string(getpid()));
    fs::create_directories(folder_);
  }
  void TearDown() override {
    SetHostServices(previous_);
    fs::remove_all(folder_);
  }
  RecordingHost *host_ = nullptr;
  HostServices *previous_ = nullptr;
  fs::path folder_;
};

TEST_F(PreferencesTroubleTest, QuitSaysWhenThePreferencesCannotBeSaved) {
  const std::string config = std::getenv("XDG_CONFIG_HOME");
  struct Case {
    const char *what;
    std::function<void()> make, undo;
    const char *reason;
  } cases[] = {
      {"a file where the folder belongs",
       [&] {
         std::ofstream(folder_ / "blocker") << "x";
         setenv("XDG_CONFIG_HOME", (folder_ / "blocker" / "sub").c_str(), 1);
       },
       [&] { setenv("XDG_CONFIG_HOME", config.c_str(), 1); }, "Not a directory"},
      {"a full disk", [] { gFailWritesAfterBytes = 16; }, [] { gFailWritesAfterBytes = -1; },
       "No space left on device"},
  };
  for (const Case &c : cases) {
    host_->alerts.clear();
    c.make();
    const std::string file = GetPrefsFilePath().string();
    const bool quit = QuitApplication();
    c.undo();
    gQuittingTime = 0;
    EXPECT_TRUE(quit) << c.what;
    ASSERT_EQ(host_->alerts.size(), 1u) << c.what;
    EXPECT_EQ(host_->alerts[0].message, "The preferences could not be saved.");
    EXPECT_EQ(host_->alerts[0].explanation,
              "\"" + file + "\" could not be written (" + c.reason +
                  "). The settings were not saved; the next start uses the ones saved before.")
        << c.what;
  }
}

TEST_F(PreferencesTroubleTest, ADamagedFileIsSaidInTheLogAndLeavesTheLogReadable) {
  // A file the program could have written, but damaged: no Log font name, a
  // text size that draws the Log as empty boxes, and the display section
  // cut short.
  PrefsRecord damaged = gFactoryPrefs;
  damaged.logFontName = MakeStr255("");
  damaged.logFontSize = 65535;
  std::vector<uint8_t> bytes = EncodePrefsFile(damaged);
  const std::string text(bytes.begin(), bytes.end());
  const size_t display = text.find("DISP");
  ASSERT_NE(display, std::string::npos);
  // The section's length (u32, low byte first) and its payload lose 4 bytes.
  uint32_t length = 0;
  for (int k = 3; k >= 0; k--)
    length = length << 8 | bytes[display + 4 + size_t(k)];
  length -= 4;
  for (size_t k = 0; k < 4; k++)
    bytes[display + 4 + k] = uint8_t(length >> (8 * k));
  const auto end = bytes.begin() + long(display + 8 + length);
  bytes.erase(end, end + 4);
  const fs::path file = GetPrefsFilePath();
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char *>(bytes.data()), long(bytes.size()));

  const PrefsRecord saved = gPrefs; // keeps the lists' heads
  const int logged = GetLogStore()->Length();
  ReadPreferencesAtStartup();
  const std::string log = GetLogStore()->PlainText().mid(logged).toStdString();
  const QFont font = GetLogStore()->Document()->defaultFont();
  const std::string family = font.family().toStdString();
  const double size = font.pointSizeF();
  gPrefs = saved;
  GetLogStore()->SetDefaultFont(QString::fromStdString(std::string(gPrefs.logFontName.view())), gPrefs.logFontSize);
  fs::remove(file);

  EXPECT_NE(log.find("The preferences file \"" + file.string() +
                     "\" is damaged: the factory values are used for the display settings of new structures, "
                     "which could not be read."),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("the Log font \"\" is not a font name; \"Monaco\" used."), std::string::npos) << log;
  EXPECT_NE(log.find("the Log text size 65535 pt lies outside 5 to 256 pt; 10 pt used."), std::string::npos) << log;
  EXPECT_EQ(family, std::string(gFactoryPrefs.logFontName.view()));
  EXPECT_EQ(size, gFactoryPrefs.logFontSize);
}

} // namespace
