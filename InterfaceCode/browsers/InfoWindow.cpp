#include "InfoWindow.h"

#include "SiteBrowserView.h"
#include "inspectors/InspectorKit.h"
#include "shell/Commands.h"
#include "shell/Forms.h"

#include "Preferences.h"
#include "window/MainWindowData.h"

#include "ui_SiteBrowser.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QCursor>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

QWidget *gInfoWindow = nullptr;
QMenu *gInfoWinMenu = nullptr;

namespace {

constexpr int kBrowserID = 2;
constexpr int kIconButtonID = 3;
constexpr int kStatusBarID = 6;
const QColor kStatusTextColour(102, 102, 102); // 26214 in each channel
const QColor kStatusLineColour(187, 187, 187); // 0.7333 grey

// The site commands of the contextual menu, 0 for a separator.
const uint32_t kInfoWinMenuItems[] = {FourCharsToLong("IW#L"),
                                      FourCharsToLong("IW#C"),
                                      0,
                                      FourCharsToLong("IWcC"),
                                      FourCharsToLong("IWcE"),
                                      FourCharsToLong("IWDf"),
                                      FourCharsToLong("IWGs"),
                                      0,
                                      FourCharsToLong("IW+L"),
                                      FourCharsToLong("IW-L"),
                                      0,
                                      FourCharsToLong("IW*E"),
                                      FourCharsToLong("IW%E"),
                                      0,
                                      FourCharsToLong("IW*L"),
                                      FourCharsToLong("IW%L"),
                                      0,
                                      FourCharsToLong("IWHp")};

// Paints the status bar, opens the menu on a right or Control click, and
// sets the arrow cursor over the content.
class InfoWindowEvents : public QObject {
public:
  using QObject::QObject;

protected:
  bool eventFilter(QObject *watched, QEvent *event) override {
    if (event->type() == QEvent::Paint) {
      auto *widget = qobject_cast<QWidget *>(watched);
      if (widget && ControlID(widget) == kStatusBarID) {
        PaintStatusbar(widget);
        return true;
      }
      return false;
    }
    // A Control-click (the Control key itself) opens the menu as a right
    // click does; the right click arrives as a context-menu event.
    if (event->type() == QEvent::MouseButtonPress) {
      const auto *mouse = static_cast<QMouseEvent *>(event);
      if (mouse->button() == Qt::LeftButton && (mouse->modifiers() & Qt::ControlModifier)) {
        DoInfoWindowContextualMenu();
        return true;
      }
    }
    if (event->type() == QEvent::ContextMenu) {
      DoInfoWindowContextualMenu();
      return true;
    }
    return false;
  }

private:
  static void PaintStatusbar(QWidget *pane) {
    QPainter p(pane);
    const QString text = InfoStatusbarText();
    if (!text.isEmpty()) {
      QFont mini = QApplication::font();
      mini.setPointSizeF(8.5);
      p.setFont(mini);
      p.setPen(kStatusTextColour);
      p.drawText(QRect(0, 4, pane->width(), pane->height() - 4), Qt::AlignHCenter | Qt::AlignTop | Qt::TextSingleLine,
                 text);
    }
    p.setPen(QPen(kStatusLineColour, 1));
    p.drawLine(0, 0, pane->width(), 0);
  }
};

void WatchForMenu(QWidget *widget, QObject *filter) {
  widget->installEventFilter(filter);
  for (QWidget *child : widget->findChildren<QWidget *>())
    child->installEventFilter(filter);
}

} // namespace

QMenu *InfoWinMenu() {
  if (!gInfoWinMenu) {
    gInfoWinMenu = new QMenu("InfoWinMenu");
    for (uint32_t code : kInfoWinMenuItems) {
      if (code == 0)
        gInfoWinMenu->addSeparator();
      else if (QAction *action = GetCommandAction(code))
        gInfoWinMenu->addAction(action);
    }
    QObject::connect(gInfoWinMenu, &QMenu::aboutToShow, gInfoWinMenu, [] { UpdateMenuStatus(gInfoWinMenu); });
  }
  return gInfoWinMenu;
}

int InitInfoWindow() {
  auto *window = new QWidget;
  Ui::InfoWindow form;
  form.setupUi(window);
  // The form's list becomes the site browser.
  auto *placeholder = FindControl<QTreeView>(window, kBrowserID);
  auto *layout = qobject_cast<QVBoxLayout *>(window->layout());
  if (!placeholder || !layout || !FindControl(window, kStatusBarID)) {
    delete window;
    return -1;
  }
  auto *browser = new SiteBrowserView(nullptr, true, window);
  browser->setObjectName("siteBrowser");
  browser->setProperty("controlID", kBrowserID);
  delete layout->replaceWidget(placeholder, browser);
  delete placeholder;
  gInfoWindowShowElements = gPrefs.infoGroupByElement;
  if (auto *button = FindControl<QToolButton>(window, kIconButtonID)) {
    button->setIcon(QIcon::fromTheme("view-list-details", QIcon::fromTheme("document-properties")));
    QObject::connect(button, &QToolButton::clicked, button, [] { DoInfoWindowContextualMenu(); });
  }
  InitSiteBrowser(browser);
  WatchForMenu(window, new InfoWindowEvents(window));
  window->setWindowTitle("Sites");
  gInfoWindow = window;
  RegisterFloatingWindow(
      {window, &gPrefs.infoWindowBounds, &gPrefs.infoWindowVisible, [] { UpdateInfoWindow(); }, true, {}});
  return 0;
}

SiteBrowserView *GetInfoWindowSiteBrowser() {
  return gInfoWindow ? FindControl<SiteBrowserView>(gInfoWindow, kBrowserID) : nullptr;
}

int UpdateInfoWindow() {
  WindowRef front = FrontGraphWindow();
  if (!front) {
    DrawInfoStatusbar();
    return 0;
  }
  UpdateSiteBrowser(front);
  return 0;
}

void DoShowInfoWindow() {
  if (!gInfoWindow) {
    if (InitInfoWindow() != 0)
      return;
    if (IsWindowFileOpen(FrontGraphWindow()))
      UpdateInfoWindow();
  }
  gInfoWindow->show();
  gInfoWindow->raise();
  gInfoWindow->activateWindow();
}

void ToggleShowInfoWindow() {
  if (gInfoWindow && gInfoWindow->isVisible())
    gInfoWindow->hide();
  else
    DoShowInfoWindow();
}

QString InfoStatusbarText() {
  WindowRef front = FrontGraphWindow();
  const CrystalRec *c = GetWindowCrystal(front);
  if (!c || !IsWindowFileOpen(front))
    return {};
  return QString("%1 sites").arg(c->siteCount);
}

void DrawInfoStatusbar() {
  if (!gInfoWindow || !gInfoWindow->isVisible())
    return;
  if (QWidget *pane = FindControl(gInfoWindow, kStatusBarID))
    pane->update();
}

void DoInfoWindowContextualMenu() { InfoWinMenu()->popup(QCursor::pos()); }
