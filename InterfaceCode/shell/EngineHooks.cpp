#include "EngineHooks.h"

#include "Commands.h"
#include "EngineCommands.h"
#include "browsers/SiteCommands.h"
#include "editing/EditCrystalSheet.h"
#include "FileCommands.h"
#include "FloatingWindowStacking.h"
#include "StructureChooser.h"
#include "editing/BondElementCommands.h"
#include "editing/SelectionCommandHandler.h"
#include "editing/TransformCommands.h"
#include "editing/FragmentCommandHandler.h"
#include "QtHostServices.h"
#include "Toolbars.h"
#include "explorers/Explorers.h"
#include "inspectors/AngleDialogs.h"
#include "inspectors/CalculateAngleWindow.h"
#include "inspectors/InspectorKit.h"
#include "inspectors/LatticePlaneSheets.h"
#include "inspectors/ModelOptions.h"
#include "inspectors/PlotRangeWindow.h"
#include "inspectors/PlotSizeSheets.h"
#include "overview/StructuresAsViews.h"
#include "structurewindow/MainWindow.h"
#include "structurewindow/StructureSheets.h"
#include "structurewindow/ViewDirection.h"
#include "structurewindow/PaneDrawing.h"
#include "structurewindow/StructureWindow.h"

#include "CellTransform.h"
#include "StructureTransforms.h"
#include "Preferences.h"
#include "documents/CrystalDocument.h"
#include "documents/PrefsFile.h"
#include "documents/UndoHistory.h"
#include "export/ExportGraphicsPanel.h"
#include "export/PictureServices.h"
#include "render/OffScreen.h"
#include "render/PlotPipeline.h"
#include "window/MainWindowData.h"
#include "overview/OverviewWindow.h"

#include <QTextEdit>

void InstallWindowCommandHandler();

void InstallHostWindowHooks(QtHostServices &host, std::function<std::vector<MainWindow *>()> windows) {
  host.SetWindowList([windows] {
    std::vector<WindowRef> refs;
    for (MainWindow *w : windows())
      refs.push_back(w->Ref());
    return refs;
  });
  host.SetSubtitleDrawer([](WindowRef window, std::string_view text) {
    MainWindow *w = GetMainWindow(window);
    if (!w)
      return;
    DrawGraphPane(window);
    w->SetSubtitle(std::string(text));
  });
  // The floating windows refresh from the front window.
  host.SetFloatingWindowUpdater([] { UpdateFloatingWindowsNow(); });
  host.SetWindowLookup([windows](WindowRef window) -> MainWindow * {
    for (MainWindow *w : windows())
      if (w->Ref() == window)
        return w;
    return nullptr;
  });
}

void InstallEngineHooks(QtHostServices &host, std::function<std::vector<MainWindow *>()> windows) {
  InitOVGlobals();
  InstallRenderServices();
  InstallRenderingReplotTimer();
  InstallUndoBufferTimer();
  InstallDiscardSymmetryConsent();
  InstallWindowPreviewHook();
  InstallExportGraphicsPanel();

  InstallHostWindowHooks(host, windows);

  ScreenHooks screen;
  screen.windowPort = [](WindowRef window) -> ovgfx::GraphicsPort * {
    MainWindow *w = GetMainWindow(window);
    return w ? w->ScreenPort() : nullptr;
  };
  screen.windowPortChanged = [](WindowRef window, const Rect &rect) {
    if (MainWindow *w = GetMainWindow(window))
      w->ScreenChanged(rect);
  };
  screen.drawGrid = [](WindowRef window, const Rect &rect) { DrawGridIntoPort(window, rect); };
  screen.drawNoteHeaderPane = [](WindowRef window) {
    if (MainWindow *w = GetMainWindow(window))
      w->NoteHeader()->update();
  };
  screen.doQuit = [] { QuitApplication(); };
  SetScreenHooks(screen);

  gDocumentWindowHooks.getNotes = [](WindowRef window) -> std::string {
    MainWindow *w = GetMainWindow(window);
    return w ? w->NotesView()->toPlainText().toStdString() : std::string();
  };
  gDocumentWindowHooks.setNotes = [](WindowRef window, const std::string &notes) {
    if (MainWindow *w = GetMainWindow(window)) {
      w->NotesView()->setProperty("loading", true);
      w->NotesView()->setPlainText(QString::fromStdString(notes));
      w->NotesView()->setProperty("loading", false);
    }
  };
  gDocumentWindowHooks.setWindowTitle = [](WindowRef window, const std::string &title) {
    if (MainWindow *w = GetMainWindow(window))
      w->setWindowTitle(QString::fromStdString(title));
  };
  // A file of several structures opens the others the user chose in
  // windows of their own.
  gImportHooks.openInNewWindow = OpenStructureInNewWindow;
  gImportHooks.choose = ChooseStructuresToOpen;
  gImportHooks.openAsViews = OpenStructuresAsViews;
  gImportHooks.showReadWarnings = [](WindowRef window, const std::string &text) {
    if (MainWindow *w = GetMainWindow(window))
      w->SetSubtitle(text, true);
  };
  gDocumentWindowHooks.setWindowFile = [](WindowRef window, const std::filesystem::path &file) {
    if (MainWindow *w = GetMainWindow(window)) {
      w->SetFile(file);
      w->SyncModifiedMark();
    }
  };
  // Every change of a window's modified state shows in its title's mark,
  // and in the commands that follow it (Save, Revert, the toolbar's).
  SetWindowModifiedListener([](WindowRef window) {
    if (MainWindow *w = GetMainWindow(window))
      w->SyncModifiedMark();
    RequestCommandStatusUpdate();
  });
  InstallWindowCommandHandler();
  InstallEngineCommands();
  InstallEditorCommands();
  InstallModelOptions();
  InstallBondAndElementEditorCommands();
  InstallSelectionCommands();
  InstallFragmentCommands();
  InstallExplorers();
  InstallPlotRangeWindow();
  InstallCalculateAngleWindow();
  InstallPlotSizeSheets();
  InstallAngleDialogs();
  InstallOverviewCommands();
  InstallSiteBrowser();
  InstallToolbars();
  InstallTransformCommands();
  InstallLatticePlaneSheets();
  InstallFloatingWindowStacking();
  // The transformation commands open the structure window's sheets, and
  // the Insert Space sheet applies through the engine.
  gTransformCommandHooks.showInsertSpaceSheet = [](WindowRef window, float width, float lowest) {
    ShowInsertSpaceSheet(window, width, lowest);
  };
  gTransformCommandHooks.showViewDirectionSheet = [](WindowRef window, const float view[3], const float vertical[3],
                                                     const float hkl[3]) {
    ShowViewDirectionSheet(window, view, vertical, hkl);
  };
  gStructureSheetHooks.insertSpace = [](WindowRef window, float width) { InsertSpace(window, width); };
}
