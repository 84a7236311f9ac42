// The contextual menus of the structure window: the structure menu of the
// graph pane and the text menu of the notes. The site browser's menu comes
// with the site browser; until then a secondary click in the atoms pane is
// left to the pane.
#pragma once

class QMenu;

extern QMenu *gGraphWinMenu;
extern QMenu *gTextContextualMenu;
extern QMenu *gInfoWinMenu;

// Builds the menus and joins them to the window's secondary clicks; once at
// start-up.
void InstallContextualMenus();
