// A structure window: one structure in a window built from the form
// "MainWindow" (graph pane, ruler, divider, and a sidebar with the atoms
// pane over the notes pane).
//
// The window owns its engine record (`Ref()`) and its per-window record;
// the engine and the rest of the program reach it only through the window
// reference and the functions of StructureWindow.h. The panes draw
// themselves through the window's draw procedures (PaneDrawing.h).
//
// Every structure window is listed, front first, in `AllGraphWindows`.
#pragma once

#include "HostServices.h"
#include "graphics/GraphicsPort.h"

#include <QMainWindow>
#include <QPointer>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QTextEdit;
class QTimer;
// A pane's edges in window coordinates, kept apart from the widgets so that
// a pane squeezed to nothing keeps its place for when the window grows.
struct PaneEdges {
  int left = 0, top = 0, right = 0, bottom = 0;
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  void Offset(int dx, int dy) { left += dx, right += dx, top += dy, bottom += dy; }
  void MoveTopTo(int y) { Offset(0, y - top); }
};
inline Rect ToRect(const PaneEdges &e) {
  return Rect{int16_t(e.top), int16_t(e.left), int16_t(e.bottom), int16_t(e.right)};
}
struct PaneLayout {
  PaneEdges graph, ruler, divider, atoms, noteHeader, notes;
};

namespace Ui {
class MainWindow;
}

class MainWindow : public QMainWindow {
  Q_OBJECT
public:
  explicit MainWindow(QWidget *parent = nullptr);
  ~MainWindow() override;

  WindowRef Ref() { return &record_; }
  QWidget *Content() const { return content_; }
  QWidget *GraphPane() const { return graphPane_; }
  QWidget *Ruler() const { return ruler_; }
  QWidget *Divider() const { return divider_; }
  QWidget *AtomsContainer() const { return atomsContainer_; }
  QWidget *NotesContainer() const { return notesContainer_; }
  QWidget *NoteHeader() const { return noteHeader_; }
  QTextEdit *NotesView() const { return notesView_; }

  // The panes' edges; `ApplyPanes` puts the widgets there.
  PaneLayout &Panes() { return panes_; }
  void ApplyPanes();

  // The window's content as drawn: the graph pane's picture lives here, in
  // window coordinates, and the pane shows its part of it.
  ovgfx::GraphicsPort *ScreenPort();
  // The rectangle of the screen port (window coordinates) changed.
  void ScreenChanged(const Rect &rect);
  // The banner over the graph pane; empty for none. A refresh of the
  // picture takes it away, except a held one (what a file's reader mended),
  // which stays until the user next presses a key, a button or the wheel
  // anywhere in the program and a refresh follows.
  void SetSubtitle(const std::string &text, bool held = false);
  const std::string &Subtitle() const { return subtitle_; }

  // The document shown; empty for none.
  const std::filesystem::path &File() const { return file_; }
  void SetFile(const std::filesystem::path &file);

  // The content size the panes were last laid out for.
  QSize LaidOutSize() const { return laidOut_; }
  // Panes copied from another window come with the size they were laid out
  // for.
  void SetPanes(const PaneLayout &panes, const QSize &laidOut) {
    panes_ = panes;
    laidOut_ = laidOut;
    ApplyPanes();
  }
  // Height of the menu bar inside the window and of the toolbar above the
  // content (0 for a menu bar the desktop shows elsewhere, a hidden toolbar).
  int MenuBarHeight() const;
  // Resizes the window so that its content gets the size.
  void ResizeContent(int width, int height);
  // Lays the panes out at once for the window's size, as showing it would:
  // a window not yet shown, resized before a structure is read into it.
  void LayOutContent() { ContentResized(QSize(width(), height() - MenuBarHeight())); }

  // Whether the window manager is to be told that the window is modified.
  void SyncModifiedMark();

protected:
  bool eventFilter(QObject *watched, QEvent *event) override;
  void closeEvent(QCloseEvent *event) override;
  void changeEvent(QEvent *event) override;
  void showEvent(QShowEvent *event) override;
  void dragEnterEvent(QDragEnterEvent *event) override;
  void dropEvent(QDropEvent *event) override;

private:
  void ContentResized(const QSize &size);
  void ResizeCompleted();

  OVWindowRecord record_;
  std::unique_ptr<Ui::MainWindow> ui_;
  QWidget *content_ = nullptr;
  QWidget *graphPane_ = nullptr;
  QWidget *ruler_ = nullptr;
  QWidget *divider_ = nullptr;
  QWidget *atomsContainer_ = nullptr;
  QWidget *notesContainer_ = nullptr;
  QWidget *noteHeader_ = nullptr;
  QTextEdit *notesView_ = nullptr;
  std::unique_ptr<ovgfx::GraphicsPort> screen_;
  std::string subtitle_;
  bool subtitleHeld_ = false;
  std::filesystem::path file_;
  QSize laidOut_;
  PaneLayout panes_;
  QTimer *resizeDone_ = nullptr;
};

// The structure windows, front first (hidden ones included).
const std::vector<MainWindow *> &AllGraphWindows();
// The structure window of a reference; null for any other window.
MainWindow *GetMainWindow(WindowRef window);
// Takes the window out of the list (it is being disposed).
void RemoveGraphWindow(MainWindow *window);
// Moves the window to the front of the list.
void BringGraphWindowToFront(MainWindow *window);
