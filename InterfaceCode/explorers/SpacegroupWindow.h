// The space-group browser window: three linked lists (crystal system,
// lattice, symbol) drawn by the program, a symbol field, and a panel that
// typesets the chosen group. A new choice goes to an open crystal editor.
#pragma once

#include "explorers/SpacegroupBrowser.h"
#include "Utilities.h"

#include <QWidget>

#include <functional>
#include <string>

class QScrollBar;

inline constexpr uint32_t kCmdShowSpacegroupBrowser = FourCharsToLong("SgBr");

// A pane showing a NibList: it draws the rows through `drawRow`, reports
// clicks to `hit`, and keeps the list's pane bounds and scroll bar in step.
class NibListPane : public QWidget {
  Q_OBJECT
public:
  explicit NibListPane(QWidget *parent = nullptr);
  void Attach(NibList *list, QScrollBar *scrollBar, std::function<void(QPainter &, const QRect &, int row)> drawRow,
              std::function<void(int row)> hit);
  // Takes the list's range and first row into the scroll bar and repaints.
  void Sync();
  NibList *List() const { return list_; }

protected:
  void paintEvent(QPaintEvent *event) override;
  void mousePressEvent(QMouseEvent *event) override;
  void resizeEvent(QResizeEvent *event) override;

private:
  NibList *list_ = nullptr;
  QScrollBar *scrollBar_ = nullptr;
  std::function<void(QPainter &, const QRect &, int)> drawRow_;
  std::function<void(int)> hit_;
};

extern QWidget *gSpacegroupWindow;
extern SpacegroupWinRec gSpacegroupWinRec;
extern uint8_t gAutoDraw;

void DoShowSpacegroupWindow();
// Selects the group in the lists; beeps when it is unknown or the window has
// not been built.
void FindSpacegroupInSpacegroupWindow(const std::string &symbol, uint8_t originChoice, int setting);
// The symbol field and the panel from the selection, handed to an open
// crystal editor.
void DrawSpacegroupInfo();
void DoToggleSpacegroupInfo();
// The window's commands ('tUnS', 'tIfo'); -9874 when not handled.
int SpacegroupWindowCommand(uint32_t command);
// A key typed with the focus outside the symbol field.
void TypeInSpacegroupWindow(int key);
// The glyph measure of the window's fonts.
GlyphMeasure SpacegroupGlyphMeasure();

void InstallSpacegroupWindow();
