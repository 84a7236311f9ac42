#include "ContextMenus.h"

#include "AnnotationEditing.h"
#include "WindowInput.h"
#include "browsers/InfoWindow.h"
#include "shell/Commands.h"

#include <QMenu>
#include <QString>

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

} // namespace

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
