// The style pop-up menus of the inspectors (and of any window that sets atom,
// ellipsoid, polyhedron or bond styles): one QMenu per table of
// model/StyleTables.h, item N of the table being the menu's item N, with the
// icon named there and, after the styles, the use-default and make-default
// command items.
#pragma once

#include "StyleTables.h"

#include <QIcon>
#include <QPoint>
#include <functional>
#include <span>

class QAction;
class QMenu;

extern QMenu *gAtomStyleMenu;
extern QMenu *gEllipsoidStyleMenu;
extern QMenu *gPolyStyleFullMenu;
extern QMenu *gPolyStylePartialMenu;
extern QMenu *gBondStyleMenu;

// Builds the five menus once; later calls do nothing.
void InitStyleMenus();

// The icon of a table's icon file (its picture is a program resource of the
// same name ending in .png); an empty icon when there is none.
QIcon StyleMenuIcon(const char *iconFile);
QImage StyleMenuIconImage(const char *iconFile);

// The table a style menu is built from.
std::span<const StyleIconEntry> StyleMenuTable(const QMenu *menu);
// The action of item N (from 1; separators count), or none.
QAction *StyleMenuItem(const QMenu *menu, int item);
// The action carrying a command code ('ASDf', 'BSMD', ...), or none.
QAction *StyleMenuCommandItem(const QMenu *menu, uint32_t command);

struct StyleMenuChoice {
  enum Kind { kNone, kStyle, kUseDefault, kMakeDefault } kind = kNone;
  int32_t style = -1; // the chosen item's code, for kStyle
};
// Pops the menu up with the current item (0: none) checked and at `at`
// (global), after giving the use-default item the icon of the default's
// style; answers what was chosen.
StyleMenuChoice PopUpStyleMenu(QMenu *menu, int currentItem, int32_t defaultStyle, QPoint at);

// How a menu is shown and a choice made: by default the menu's own modal
// loop. Tests install a picker that answers an action at once; an empty
// picker puts the menu back.
using StyleMenuPicker = std::function<QAction *(QMenu *menu, QPoint at, QAction *current)>;
void SetStyleMenuPicker(StyleMenuPicker picker);
