// The contextual menus of the structure window: the structure menu of the
// graph pane, the text menu of the notes and, in the atoms pane, the site
// browser's menu (InfoWinMenu of the info window).
#pragma once

class QMenu;

extern QMenu *gGraphWinMenu;
extern QMenu *gTextContextualMenu;

// Builds the menus and joins them to the window's secondary clicks; once at
// start-up.
void InstallContextualMenus();
