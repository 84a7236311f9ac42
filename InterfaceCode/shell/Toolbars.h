// The structure windows' toolbars and the floating tool window: buttons over
// the program's command actions (the mouse tools, zoom and scale, Play,
// Model Options), so that they enable, check and retitle with the menus.
#pragma once

#include "HostServices.h"

class MainWindow;
class QToolBar;
class QWidget;

extern QWidget *gToolWindow;

// Gives a structure window its toolbar, shown or hidden.
void InstallToolbar(MainWindow *window, bool shown);
QToolBar *WindowToolbar(const MainWindow *window);
// Shows or hides the toolbar of every structure window.
void ShowToolbars(bool shown);
// Enables, checks and retitles the toolbar's and the tool window's items.
void UpdateWindowToolbarNow(WindowRef window);
void UpdateToolWindow();
// Shows the tool window, built on first use; hides it when it shows.
void ToggleToolWindow();
// The Tool Window command and the hooks that wait for the toolbar and the
// tool window.
void InstallToolbars();
