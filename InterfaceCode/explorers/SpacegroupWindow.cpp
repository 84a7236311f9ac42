#include "explorers/SpacegroupWindow.h"

#include "editing/EditCrystalSheet.h"
#include "inspectors/InspectorKit.h"
#include "shell/Commands.h"
#include "shell/Forms.h"
#include "ui_SpacegroupWindow.h"

#include "HostServices.h"
#include "Preferences.h"

#include <QApplication>
#include <QCheckBox>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QToolButton>

#include <map>
#include <tuple>

QWidget *gSpacegroupWindow = nullptr;
SpacegroupWinRec gSpacegroupWinRec;
uint8_t gAutoDraw = 0;

namespace {

constexpr int kPanelID = 7, kShowAllID = 8, kInfoID = 9, kSymbolFieldID = 10;
const QColor kBlack(0, 0, 0), kRed(255, 0, 0), kDkGrey(0x88, 0x88, 0x88), kMdGrey(0xbb, 0xbb, 0xbb),
    kLtGrey(0xcc, 0xcc, 0xcc);

NibListPane *Pane(int id) { return gSpacegroupWindow ? FindControl<NibListPane>(gSpacegroupWindow, id) : nullptr; }

QFont GlyphFontOf(GlyphFont font, bool italic, int size) {
  QFont f(font == GlyphFont::kSerif ? "DejaVu Serif" : "DejaVu Sans");
  f.setPixelSize(std::max(1, size));
  f.setItalic(italic);
  return f;
}

void DrawRuns(QPainter &painter, const std::vector<GlyphRun> &runs) {
  for (const GlyphRun &r : runs) {
    const QColor colour = r.colour == 1 ? kRed : r.colour == 2 ? kDkGrey : kBlack;
    if (r.rule) {
      painter.fillRect(QRectF(r.x, r.baseline, r.width, 1.0), colour);
      continue;
    }
    painter.setFont(GlyphFontOf(r.font, r.italic, r.size));
    painter.setPen(colour);
    painter.drawText(QPointF(r.x, r.baseline), QString::fromStdString(r.text));
    if (r.overbar)
      painter.fillRect(QRectF(r.x, r.overbarY, r.width, r.overbarPen), colour);
  }
}

void RedrawLists() {
  for (int id : {1, 3, 5})
    if (NibListPane *p = Pane(id))
      p->Sync();
}

void DrawListRow(QPainter &painter, const QRect &rect, int paneID, int row) {
  SpacegroupWinRec &rec = gSpacegroupWinRec;
  const NibList &list = paneID == 1 ? rec.systemList : paneID == 3 ? rec.latticeList : rec.symbolList;
  if (row == list.selection)
    painter.fillRect(rect, QApplication::palette().highlight());
  painter.setFont(QApplication::font());
  painter.setPen(kBlack);
  if (paneID == 5) {
    const SymbolListEntry &e = rec.entries[size_t(row - 1)];
    std::vector<GlyphRun> runs;
    PrintSpacegroup(runs, e.text, 14, rect.left() + 5, (rect.top() + rect.bottom() + 14) / 2 - 2,
                    SpacegroupGlyphMeasure(), e.extraSetting ? 1 : 0);
    DrawRuns(painter, runs);
    return;
  }
  const QString text = paneID == 1 ? QString(kSystemNames[row]) : QString(QChar(rec.latticeLetters[size_t(row)]));
  painter.drawText(QRect(rect.left() + 5, rect.top() + 2, rect.width() - 5, rect.height() - 2),
                   Qt::AlignLeft | Qt::AlignTop, text);
  painter.drawText(QRect(rect.right() - 16, rect.top() + (rect.height() - 16) / 2, 16, 16), Qt::AlignCenter,
                   QString::fromUtf8("\u25b8"));
}

void HitList(int paneID, int row) {
  SpacegroupWinRec &rec = gSpacegroupWinRec;
  ClickSpacegroupList(rec, paneID, row);
  RedrawLists();
  DrawSpacegroupInfo();
}

void SetInfoControl() {
  if (auto *b = FindControl<QToolButton>(gSpacegroupWindow, kInfoID)) {
    const QSignalBlocker block(b);
    b->setChecked(gSpacegroupWinRec.infoShown);
    b->setArrowType(gSpacegroupWinRec.infoShown ? Qt::DownArrow : Qt::RightArrow);
  }
}

class SpacegroupFilter : public QObject {
public:
  using QObject::QObject;

protected:
  bool eventFilter(QObject *watched, QEvent *event) override {
    QWidget *panel = FindControl(gSpacegroupWindow, kPanelID);
    if (watched == panel && event->type() == QEvent::Paint) {
      QPainter painter(panel);
      const QRect r = panel->rect();
      painter.fillRect(r, Qt::white);
      painter.setPen(kLtGrey);
      painter.drawRect(r.adjusted(0, 0, -1, -1));
      gAutoDraw = 1;
      const SpacegroupPanel p = DescribeSpacegroupSelection(gSpacegroupWinRec);
      gAutoDraw = 0;
      painter.setRenderHint(QPainter::TextAntialiasing, true);
      DrawRuns(painter, SpacegroupPanelRuns(p, r.left(), r.top(), r.right(), r.bottom(), SpacegroupGlyphMeasure()));
      return true;
    }
    if (event->type() == QEvent::KeyPress) {
      auto *key = static_cast<QKeyEvent *>(event);
      auto *field = FindControl<QLineEdit>(gSpacegroupWindow, kSymbolFieldID);
      if (watched == field) {
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
          FindSpacegroupInSpacegroupWindow(field->text().left(255).toStdString(), 0, 0);
          return true;
        }
        return false;
      }
      const int code = key->key() == Qt::Key_Left ? 28 : key->key() == Qt::Key_Right ? 29
                     : key->key() == Qt::Key_Up   ? 30 : key->key() == Qt::Key_Down  ? 31 : 0;
      if (code) {
        TypeInSpacegroupWindow(code);
        return true;
      }
    }
    return false;
  }
};

void BuildSpacegroupWindow() {
  auto *window = new QWidget(nullptr);
  Ui::SpacegroupWindow form;
  form.setupUi(window);
  gSpacegroupWindow = window;
  SpacegroupWinRec &rec = gSpacegroupWinRec;
  rec = SpacegroupWinRec{};
  rec.infoPaneHeight = uint16_t(FindControl(window, kPanelID)->minimumHeight() + 20);
  FindControl<QCheckBox>(window, kShowAllID)->setChecked(false);
  for (int id : {1, 3, 5}) {
    NibList &list = id == 1 ? rec.systemList : id == 3 ? rec.latticeList : rec.symbolList;
    InitNibList(list, id == 1 ? rec.systemCount : 0, 18, 1, 0, 0, 100, 150);
    Pane(id)->Attach(&list, FindControl<QScrollBar>(window, id + 1),
                     [id](QPainter &p, const QRect &r, int row) { DrawListRow(p, r, id, row); },
                     [id](int row) { HitList(id, row); });
  }
  auto *filter = new SpacegroupFilter(window);
  for (QWidget *w : {FindControl(window, kPanelID), FindControl(window, kSymbolFieldID),
                     static_cast<QWidget *>(Pane(1)), static_cast<QWidget *>(Pane(3)), static_cast<QWidget *>(Pane(5))})
    w->installEventFilter(filter);
  window->installEventFilter(filter);
  ConnectPaneCommands(window, [](uint32_t command) { return SpacegroupWindowCommand(command); });
  window->adjustSize();
  window->setFixedWidth(window->width());
  SetInfoControl();
  if (!gPrefs.spacegroupInfoPanel)
    DoToggleSpacegroupInfo();
  RegisterFloatingWindow({window, &gPrefs.spacegroupWindowBounds, nullptr, {}, true, {}});
}

} // namespace

// ---- NibListPane --------------------------------------------------------------------------

NibListPane::NibListPane(QWidget *parent) : QWidget(parent) { setFocusPolicy(Qt::ClickFocus); }

void NibListPane::Attach(NibList *list, QScrollBar *scrollBar,
                         std::function<void(QPainter &, const QRect &, int)> drawRow, std::function<void(int)> hit) {
  list_ = list;
  scrollBar_ = scrollBar;
  drawRow_ = std::move(drawRow);
  hit_ = std::move(hit);
  ResizeNibList(list_, 0, 0, width(), height());
  if (scrollBar_)
    connect(scrollBar_, &QScrollBar::valueChanged, this, [this](int value) {
      if (list_ && value != list_->firstVisibleRow) {
        SetNibListFirstRow(*list_, value);
        update();
      }
    });
  Sync();
}

void NibListPane::Sync() {
  if (!list_)
    return;
  if (scrollBar_) {
    const QSignalBlocker block(scrollBar_);
    scrollBar_->setRange(list_->scrollMinimum, list_->scrollMaximum);
    scrollBar_->setPageStep(1);
    scrollBar_->setValue(list_->firstVisibleRow);
  }
  update();
}

void NibListPane::paintEvent(QPaintEvent *) {
  QPainter painter(this);
  const QRect bounds(0, 0, width() - 1, height());
  painter.fillRect(bounds, QApplication::palette().base());
  if (list_) {
    painter.setClipRect(bounds);
    for (int visible = 1; visible <= list_->visibleRows + 1; visible++) {
      const int row = list_->firstVisibleRow + visible - 1;
      if (row < 1 || row > list_->rowCount)
        continue;
      const QRect r(1, 1 + (visible - 1) * list_->rowHeight, width() - 2, list_->rowHeight);
      if (drawRow_)
        drawRow_(painter, r, row);
    }
    painter.setClipping(false);
  }
  painter.setPen(kMdGrey);
  painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void NibListPane::mousePressEvent(QMouseEvent *event) {
  if (!list_ || !hit_)
    return;
  const int row = NibListRowAt(*list_, int(event->position().y()));
  hit_(row);
}

void NibListPane::resizeEvent(QResizeEvent *) {
  if (list_) {
    ResizeNibList(list_, 0, 0, width(), height());
    Sync();
  }
}

// ---- The window -----------------------------------------------------------------------------

GlyphMeasure SpacegroupGlyphMeasure() {
  return [](const std::string &text, GlyphFont font, bool italic, int size) {
    return QFontMetricsF(GlyphFontOf(font, italic, size)).horizontalAdvance(QString::fromStdString(text));
  };
}

void DoShowSpacegroupWindow() {
  if (!gSpacegroupWindow)
    BuildSpacegroupWindow();
  gSpacegroupWindow->show();
  gSpacegroupWindow->raise();
  gSpacegroupWindow->activateWindow();
}

void FindSpacegroupInSpacegroupWindow(const std::string &symbol, uint8_t originChoice, int setting) {
  HostServices *host = GetHostServices();
  if (!gSpacegroupWindow || !FindSpacegroupInLists(gSpacegroupWinRec, symbol, originChoice, setting)) {
    if (host)
      host->Beep();
    return;
  }
  if (auto *box = FindControl<QCheckBox>(gSpacegroupWindow, kShowAllID)) {
    const QSignalBlocker block(box);
    box->setChecked(gSpacegroupWinRec.showAllSettings);
  }
  RedrawLists();
  DrawSpacegroupInfo();
}

void DrawSpacegroupInfo() {
  if (!gSpacegroupWindow)
    return;
  const SpacegroupPanel p = DescribeSpacegroupSelection(gSpacegroupWinRec);
  auto *field = FindControl<QLineEdit>(gSpacegroupWindow, kSymbolFieldID);
  const bool selected = SelectedSpacegroupRow(gSpacegroupWinRec) >= 0;
  field->setText(selected ? QString::fromStdString(p.fieldText) : QString());
  if (selected && !gAutoDraw)
    ResetEditCrystalSymmetry(p.handOver, p.system, uint8_t(p.originChoice));
  if (QWidget *panel = FindControl(gSpacegroupWindow, kPanelID))
    panel->update();
}

void DoToggleSpacegroupInfo() {
  SpacegroupWinRec &rec = gSpacegroupWinRec;
  rec.infoShown = !rec.infoShown;
  gPrefs.spacegroupInfoPanel = rec.infoShown;
  QWidget *panel = FindControl(gSpacegroupWindow, kPanelID);
  const int height = gSpacegroupWindow->height() + (rec.infoShown ? rec.infoPaneHeight : -int(rec.infoPaneHeight));
  panel->setVisible(rec.infoShown);
  gSpacegroupWindow->resize(gSpacegroupWindow->width(), std::max(height, gSpacegroupWindow->minimumSizeHint().height()));
  SetInfoControl();
}

int SpacegroupWindowCommand(uint32_t command) {
  if (command == FourCharsToLong("tUnS")) {
    ToggleShowAllSettings(gSpacegroupWinRec);
    RedrawLists();
    DrawSpacegroupInfo();
    return kEventNotHandledErr;
  }
  if (command == FourCharsToLong("tIfo")) {
    DoToggleSpacegroupInfo();
    return kEventNotHandledErr;
  }
  return kEventNotHandledErr;
}

void TypeInSpacegroupWindow(int key) {
  const int before = gSpacegroupWinRec.symbolList.selection;
  TypeInSpacegroupLists(gSpacegroupWinRec, key);
  RedrawLists();
  if (gSpacegroupWinRec.symbolList.selection != before || key == 28 || key == 29)
    DrawSpacegroupInfo();
}

void InstallSpacegroupWindow() {
  AddCommandHandler([](uint32_t command, const QVariant &) -> OSStatus {
    if (command != kCmdShowSpacegroupBrowser)
      return kEventNotHandledErr;
    DoShowSpacegroupWindow();
    return 0;
  });
  // The browser was showing at the last quit when its frame was recorded.
  AddWindowOpener([] {
    const Rect &r = gPrefs.spacegroupWindowBounds;
    if (r.right > r.left && r.bottom > r.top)
      DoShowSpacegroupWindow();
  });
  gEditorHooks.findSpacegroupInSpacegroupWindow = [](const std::string &symbol, uint8_t origin, int setting) {
    DoShowSpacegroupWindow();
    FindSpacegroupInSpacegroupWindow(symbol, origin, setting);
  };
}
