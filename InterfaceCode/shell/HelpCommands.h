// Help: the Help menu's command, the help pages and the Help buttons of the
// forms.
//
// A help page opens through the desktop's launcher (xdg-open); where there
// is none, or it cannot open the page, the page shows in the program's own
// help window. A button in a form that carries a page name in its dynamic
// property "helpPage" opens that page when clicked: the forms need no code
// of their own for it.
#pragma once

#include "Commands.h"

#include <cstdint>

class QUrl;

inline constexpr const char *kHelpIndexPage = "pages/index.html";
inline constexpr const char *kHelpPageProperty = "helpPage";
// The launcher that opens a page in the user's browser.
inline constexpr const char *kHelpLauncher = "xdg-open";

// Registers the handler of the help commands with the command dispatch and
// joins the forms' Help buttons to their pages.
void InstallHelpCommands();

// Opens a page (a file URL, with an anchor as its fragment): through the
// launcher when the desktop has one, else in the own help window.
void OpenHelpUrl(const QUrl &url);
// The page in the program's own help window, made on first use.
void ShowHelpWindow(const QUrl &url);
