#include "shell/Toolbars.h"

#include "inspectors/InspectorKit.h"
#include "overview/OverviewWindow.h"
#include "shell/Commands.h"
#include "structurewindow/AtomPicker.h"
#include "structurewindow/MainWindow.h"

#include "LocalizedStrings.h"
#include "Preferences.h"

#include <QAction>
#include <QFontMetrics>
#include <QGridLayout>
#include <QToolBar>
#include <QToolButton>

#include <algorithm>

QWidget *gToolWindow = nullptr;

namespace {

constexpr uint32_t kToolWindowCommand = FourCharsToLong("*Tls");

// The mouse tools, in the tool window's order.
const char *const kToolCodes[] = {"ArwT", "LasT", "PolT", "RotT", "MovT", "MagT", "ZapT",
                                  "BnDT", "BAnT", "DstT", "AngT", "PlnT", "At+T", "B+-T"};
// The toolbar: the commonest tools, the view's zoom, centre and scale, then
// playback and the inspector.
const char *const kToolbarCodes[] = {"ArwT", "RotT", "MovT", "MagT", "BnDT", "BAnT", nullptr, "zmIn",
                                     "zmOu", "autC", "autS", nullptr, "Play", "MOpt"};

// Items that show their own window's state have an action of their own in
// each toolbar; the rest share the program's action of their command.
bool PerWindowItem(uint32_t code) { return code == kCmdPlay; }

// The labels the Overview gives the Play item for its Favourites and Views
// tabs (keys of the strings table).
const char *const kPlayLabels[] = {"Play_Favourites", "Play_Views"};

// An item is as wide as the longest label it can take, from the start, so
// that a retitled item never pushes the items after it into the overflow
// menu of a window sized to show them all.
void KeepItemWidth(QToolBar *bar, QAction *action) {
  auto *button = qobject_cast<QToolButton *>(bar->widgetForAction(action));
  if (!button)
    return;
  int width = button->sizeHint().width();
  if (GetActionCommand(action) == kCmdPlay) {
    const QFontMetrics metrics(button->font());
    const int shown = metrics.horizontalAdvance(action->iconText());
    for (const char *key : kPlayLabels)
      width = std::max(width, button->sizeHint().width() - shown +
                                  metrics.horizontalAdvance(QString::fromStdString(OVLocalizedString(key))));
  }
  button->setFixedWidth(width);
}

// A tool's button reads as the tool's name alone ("Arrow", not "Arrow
// Tool"), so that the toolbar fits the window; the menus keep the full title.
QAction *ToolAction(uint32_t code) {
  QAction *action = GetCommandAction(code);
  if (action && action->text().endsWith(" Tool"))
    action->setIconText(action->text().chopped(5));
  return action;
}

QAction *ToolbarItem(const MainWindow *window, uint32_t code) {
  if (QToolBar *bar = WindowToolbar(window))
    for (QAction *action : bar->actions())
      if (GetActionCommand(action) == code)
        return action;
  return nullptr;
}

} // namespace

void InstallToolbar(MainWindow *window, bool shown) {
  auto *bar = new QToolBar("Toolbar", window);
  bar->setObjectName("toolbar");
  bar->setMovable(false);
  bar->setToolButtonStyle(Qt::ToolButtonTextOnly);
  for (const char *code : kToolbarCodes) {
    const uint32_t command = code ? FourCharsToLong(code) : 0;
    if (!command) {
      bar->addSeparator();
    } else if (PerWindowItem(command)) {
      QAction *own = MakeCommandItem(command, QString::fromUtf8(FindCommandInfo(command)->title), {}, bar);
      UpdateActionStatus(own);
      bar->addAction(own);
    } else if (QAction *action = ToolAction(command)) {
      bar->addAction(action);
    }
  }
  for (QAction *action : bar->actions())
    KeepItemWidth(bar, action);
  window->addToolBar(Qt::TopToolBarArea, bar);
  bar->setVisible(shown);
}

QToolBar *WindowToolbar(const MainWindow *window) {
  return window ? window->findChild<QToolBar *>("toolbar", Qt::FindDirectChildrenOnly) : nullptr;
}

void ShowToolbars(bool shown) {
  for (MainWindow *w : AllGraphWindows())
    if (QToolBar *bar = WindowToolbar(w)) {
      // The plot area keeps its size: the window grows or shrinks instead.
      const QSize content = w->Content()->size();
      bar->setVisible(shown);
      w->ResizeContent(content.width(), content.height());
    }
}

void UpdateWindowToolbarNow(WindowRef) { UpdateAllCommandStatus(); }

void UpdateToolWindow() { UpdateAllCommandStatus(); }

void ToggleToolWindow() {
  if (gToolWindow && gToolWindow->isVisible()) {
    gToolWindow->hide();
    return;
  }
  if (!gToolWindow) {
    gToolWindow = new QWidget;
    gToolWindow->setWindowTitle("Tools");
    auto *grid = new QGridLayout(gToolWindow);
    grid->setSpacing(2);
    int i = 0;
    for (const char *code : kToolCodes)
      if (QAction *action = ToolAction(FourCharsToLong(code))) {
        auto *button = new QToolButton(gToolWindow);
        button->setDefaultAction(action);
        button->setToolButtonStyle(Qt::ToolButtonTextOnly);
        button->setMinimumWidth(96);
        grid->addWidget(button, i / 2, i % 2);
        ++i;
      }
    RegisterFloatingWindow({gToolWindow, &gPrefs.toolWindowBounds, nullptr, UpdateToolWindow, true, {}});
  }
  UpdateToolWindow();
  gToolWindow->show();
  gToolWindow->raise();
}

void InstallToolbars() {
  static bool installed = false;
  if (installed)
    return;
  installed = true;
  AddCommandHandler(
      [](uint32_t command, const QVariant &) {
        if (command != kToolWindowCommand)
          return kEventNotHandledErr;
        ToggleToolWindow();
        return kNoErr;
      },
      [](uint32_t command, QAction *action) {
        if (command != kToolWindowCommand)
          return kEventNotHandledErr;
        action->setCheckable(true);
        action->setChecked(gToolWindow && gToolWindow->isVisible());
        return kNoErr;
      });
  AddWindowOpener([] {
    if (!gPrefs.toolWindowBounds.IsEmpty())
      ToggleToolWindow();
  });
  // Each window's Play item follows the Overview's tab for that window; the
  // element picker stands beside the tool window.
  gOverviewHooks.setToolbarItem = [](WindowRef window, uint32_t command, bool enable, const char *label) {
    if (QAction *action = ToolbarItem(GetMainWindow(window), command)) {
      action->setEnabled(enable);
      if (label)
        action->setText(QString::fromUtf8(label));
    }
  };
  gAtomPickerHooks.toolWindow = [] { return gToolWindow; };
}
