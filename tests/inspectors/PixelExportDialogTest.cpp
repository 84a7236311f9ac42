// Export Pixel Graphics through the real sheet and save dialog: the name a
// user types decides the file's format.
#include "export/ExportGraphicsPanel.h"
#include "shell/Commands.h"
#include "shell/FileCommands.h"
#include "shell/Startup.h"
#include "structurewindow/MainWindow.h"
#include "structurewindow/StructureWindow.h"

#include "Preferences.h"
#include "export/PictureExport.h"
#include "window/MainWindowData.h"

#include <QApplication>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

#include "DialogScript.h"
#include "ProgramEnvironment.h"

namespace fs = std::filesystem;

namespace {

// The Export Pixel Graphics sheet the command opens on the front window.
ExportGraphicsPanel *OpenSheet() {
  ProcessCommand(kCmdExportPixelGraphics);
  for (QWidget *top : QApplication::topLevelWidgets())
    if (auto *p = qobject_cast<ExportGraphicsPanel *>(top); p && p->isVisible())
      return p;
  return nullptr;
}

// Runs Export Pixel Graphics on the front window: OK on the sheet, then the
// save dialog answered with the typed name. The dialog's chosen filter is
// noted in `filter`.
void ExportTyping(const fs::path &file, QString *filter) {
  AnswerNextDialog<QFileDialog>([file, filter](QFileDialog *dialog) {
    *filter = dialog->selectedNameFilter();
    TypeFileNameAndAccept(dialog, QString::fromStdString(file.string()));
  });
  ExportGraphicsPanel *sheet = OpenSheet();
  ASSERT_NE(sheet, nullptr);
  qobject_cast<QPushButton *>(sheet->Control(17))->click();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

std::string Head(const fs::path &file) {
  std::ifstream in(file, std::ios::binary);
  std::string head(8, '\0');
  in.read(head.data(), 8);
  return head;
}

} // namespace

TEST(PixelExportDialog, ATypedExtensionChoosesTheFormatAndPngComesFirst) {
  ASSERT_TRUE(OpenFSRefInWindow(ExamplesFolder() / "NaCl.ovtx", nullptr));
  QCoreApplication::processEvents();
  const WindowRef window = FrontGraphWindow();
  const fs::path folder = fs::temp_directory_path() / ("ovpix" + std::to_string(::getpid()));
  fs::create_directories(folder);
  gPrefs.exportFileType = gFactoryPrefs.exportFileType;
  QString filter;
  ExportTyping(folder / "first.png", &filter);
  EXPECT_TRUE(filter.startsWith("PNG")) << filter.toStdString();
  EXPECT_EQ(Head(folder / "first.png"), "\x89PNG\r\n\x1a\n");
  // With another format last chosen, the typed name still wins.
  gPrefs.exportFileType = kPictFileType;
  ExportTyping(folder / "second.png", &filter);
  EXPECT_TRUE(filter.startsWith("PICT")) << filter.toStdString();
  EXPECT_EQ(Head(folder / "second.png"), "\x89PNG\r\n\x1a\n");
  ExportTyping(folder / "third.JPEG", &filter);
  EXPECT_EQ(Head(folder / "third.JPEG").substr(0, 3), "\xff\xd8\xff");
  gPrefs.exportFileType = gFactoryPrefs.exportFileType;
  fs::remove_all(folder);
  ClearWindowModified(window);
  DoCloseMainWindow(window);
  QCoreApplication::processEvents();
}

// The resolution field takes what the preferences keep: more is refused with
// an alert and nothing is written; after an export at the largest, the sheet
// opens ready to export again.
TEST(PixelExportDialog, TheResolutionIsHeldToWhatThePreferencesKeep) {
  ASSERT_TRUE(OpenFSRefInWindow(ExamplesFolder() / "NaCl.ovtx", nullptr));
  QCoreApplication::processEvents();
  const WindowRef window = FrontGraphWindow();
  auto *host = dynamic_cast<RecordingHost *>(GetHostServices());
  ASSERT_NE(host, nullptr);
  gExportGraphicsPixelWidthMenuChoice = 2; // pixels
  gExportGraphicsResolutionMenuChoice = 1; // per inch
  gPrefs.exportFileType = kPNGFileType;
  const fs::path file = fs::temp_directory_path() / ("ovdpi" + std::to_string(::getpid()) + ".png");
  // The one save dialog: that of the export at 65535 dpi.
  AnswerNextDialog<QFileDialog>(
      [file](QFileDialog *dialog) { TypeFileNameAndAccept(dialog, QString::fromStdString(file.string())); });
  QPointer<ExportGraphicsPanel> sheet = OpenSheet();
  ASSERT_NE(sheet, nullptr);
  const auto type = [&](int control, const char *text) {
    auto *field = qobject_cast<QLineEdit *>(sheet->Control(control));
    field->selectAll();
    QTest::keyClicks(field, text);
  };
  for (const std::string resolution : {"65536", "1e8", "65535"}) {
    SCOPED_TRACE(resolution);
    const bool refused = resolution != "65535";
    host->alerts.clear();
    type(10, resolution.c_str());
    type(2, "100");
    ASSERT_TRUE(sheet->Control(17)->isEnabled());
    qobject_cast<QPushButton *>(sheet->Control(17))->click();
    EXPECT_EQ(host->alerts.size(), refused ? 1u : 0u);
    EXPECT_EQ(fs::exists(file), !refused);
    ASSERT_EQ(sheet && sheet->isVisible(), refused);
  }
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  sheet = OpenSheet();
  ASSERT_NE(sheet, nullptr);
  EXPECT_TRUE(sheet->Control(17)->isEnabled());
  sheet->reject();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  gPrefs.exportResolution = gFactoryPrefs.exportResolution;
  gPrefs.exportFileType = gFactoryPrefs.exportFileType;
  fs::remove(file);
  ClearWindowModified(window);
  DoCloseMainWindow(window);
  QCoreApplication::processEvents();
}
