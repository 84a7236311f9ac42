#include "ContextMenus.h"

#include "AnnotationEditing.h"
#include "WindowInput.h"
#include "browsers/InfoWindow.h"
#include "shell/Commands.h"

#include <QChildEvent>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QString>
#include <QWidget>

QMenu *gGraphWinMenu = nullptr;
QMenu *gTextContextualMenu = nullptr;

namespace {

// The structure menu: the selection, the annotation objects and the model.
const uint32_t kGraphMenuItems[] = {
    FourCharsToLong("SlAl"), FourCharsToLong("SlNo"), FourCharsToLong("SlIv"), 0,
    FourCharsToLong("CnSl"), FourCharsToLong("LbSl"), FourCharsToLong("HdSl"), FourCharsToLong("ShAl"), 0,
    kCmdAddAnnotationTextbox, kCmdAddAnnotationLine, kCmdAddAnnotationScalebar, FourCharsToLong("*EdA"), 0,
    FourCharsToLong("MOpt")};

void AddItems(QMenu *menu, const uint32_t *codes, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (codes[i] == 0)
      menu->addSeparator();
    else if (QAction *action = GetCommandAction(codes[i]))
      menu->addAction(action);
  }
}

QMenu *MenuFor(int which) {
  switch (which) {
  case 0:
    return gGraphWinMenu;
  case 1:
    return gTextContextualMenu;
  case 2:
    return InfoWinMenu();
  default:
    return nullptr;
  }
}

// Watches a window's widgets, and those added to it later, for Ctrl-clicks.
class ControlClickAsContextMenu : public QObject {
public:
  using QObject::QObject;
  void Watch(QObject *object) {
    if (!object->isWidgetType())
      return;
    object->removeEventFilter(this);
    object->installEventFilter(this);
    for (QObject *child : object->children())
      Watch(child);
  }

protected:
  bool eventFilter(QObject *watched, QEvent *event) override {
    if (event->type() == QEvent::ChildAdded) {
      Watch(static_cast<QChildEvent *>(event)->child());
      return false;
    }
    if (event->type() != QEvent::MouseButtonPress && event->type() != QEvent::MouseButtonDblClick)
      return false;
    const auto *mouse = static_cast<QMouseEvent *>(event);
    // A menu of the window takes its clicks as they come.
    if (mouse->button() != Qt::LeftButton || !(mouse->modifiers() & Qt::ControlModifier) ||
        static_cast<QWidget *>(watched)->window()->windowType() == Qt::Popup)
      return false;
    // Sent to the clicked widget, it goes on up to the parents until one
    // opens a menu, as the secondary button's does.
    QContextMenuEvent menu(QContextMenuEvent::Mouse, mouse->position().toPoint(), mouse->globalPosition().toPoint(),
                           mouse->modifiers());
    QCoreApplication::sendEvent(watched, &menu);
    return true;
  }
};

} // namespace

void OpenContextMenusOnControlClick(QWidget *window) {
  if (window)
    (new ControlClickAsContextMenu(window))->Watch(window);
}

void InstallContextualMenus() {
  if (!gGraphWinMenu) {
    gGraphWinMenu = new QMenu; // lives for the whole run
    AddItems(gGraphWinMenu, kGraphMenuItems, std::size(kGraphMenuItems));
  }
  if (!gTextContextualMenu) {
    gTextContextualMenu = new QMenu;
    for (const MenuInfo &menu : MenuTable())
      if (menu.title == std::string("Text"))
        AddItems(gTextContextualMenu, menu.items.data(), menu.items.size());
  }
  gWindowInputHooks.contextualMenu = [](WindowRef, int which, int globalX, int globalY) {
    QMenu *menu = MenuFor(which);
    if (!menu || menu->isEmpty())
      return false;
    UpdateMenuStatus(menu);
    menu->popup(QPoint(globalX, globalY));
    return true;
  };
}
