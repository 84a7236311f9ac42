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
#include <QPushButton>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

#include "DialogScript.h"

namespace fs = std::filesystem;

namespace {

// Runs Export Pixel Graphics on the front window: OK on the sheet, then the
// save dialog answered with the typed name. The dialog's chosen filter is
// noted in `filter`.
void ExportTyping(const fs::path &file, QString *filter) {
  AnswerNextDialog<QFileDialog>([file, filter](QFileDialog *dialog) {
    *filter = dialog->selectedNameFilter();
    TypeFileNameAndAccept(dialog, QString::fromStdString(file.string()));
  });
  ProcessCommand(kCmdExportPixelGraphics);
  ExportGraphicsPanel *sheet = nullptr;
  for (QWidget *top : QApplication::topLevelWidgets())
    if (auto *p = qobject_cast<ExportGraphicsPanel *>(top); p && p->isVisible())
      sheet = p;
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
