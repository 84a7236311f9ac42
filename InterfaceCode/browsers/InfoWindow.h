// The info window: a floating window with the full site browser of the front
// structure window, a status bar counting its sites, a small icon button and
// a contextual menu of the site commands. Built on first use, hidden by its
// close box, reopened at start-up when it showed at the last quit.
#pragma once

#include "HostServices.h"

#include <QString>

class QMenu;
class QWidget;
class SiteBrowserView;

extern QWidget *gInfoWindow;
extern QMenu *gInfoWinMenu;

// Builds the window when it does not exist yet (and fills it), then shows it
// and brings it to the front.
void DoShowInfoWindow();
// Hides a visible window, otherwise shows it.
void ToggleShowInfoWindow();
// Refills its browser from the front structure window; 0 without one.
int UpdateInfoWindow();
// The browser of the info window; none before the window is built.
SiteBrowserView *GetInfoWindowSiteBrowser();
// Builds the window; 0, or a non-zero status when the form cannot be used.
int InitInfoWindow();
// Redraws the status bar of a visible info window.
void DrawInfoStatusbar();
// The status bar's text: "%d sites" of the front structure, empty without one.
QString InfoStatusbarText();
// Pops the contextual menu up at the mouse.
void DoInfoWindowContextualMenu();
// The menu of the site commands, shared by the info window and its button.
QMenu *InfoWinMenu();
