// The contextual menus of the structure window: the structure menu of the
// graph pane, the text menu of the notes and, in the atoms pane, the site
// browser's menu (InfoWinMenu of the info window).
#pragma once

class QMenu;
class QWidget;

extern QMenu *gGraphWinMenu;
extern QMenu *gTextContextualMenu;

// Builds the menus and joins them to the window's secondary clicks; once at
// start-up.
void InstallContextualMenus();

// Ctrl with the primary button is the secondary click (the Mac's
// Control-click) in every window. In `window`, and in every widget it holds
// now or later, a Ctrl-click becomes the context-menu event the secondary
// button gives, so that a window whose menu opens from that event opens it
// for both.
void OpenContextMenusOnControlClick(QWidget *window);
