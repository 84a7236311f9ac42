// The commands of the info window, the site browser and the structure
// reports, with their menu status, and the hooks that join the site browser
// to the structure windows and the engine.
#pragma once

#include "HostServices.h"
#include "shell/Commands.h"

struct GuardedSiteCommand;

// Runs one of the commands ('*Inf', '*tAI', 'IW..', 'Form', 'LstX', 'LstB',
// 'Por%', 'Dens') on the front structure window; kEventNotHandledErr for
// any other command.
OSStatus DoSiteCommand(uint32_t command);
// Checks 'IW*E' or 'IW%E' and disables 'IW+L' and 'IW-L' without element
// rows; kEventNotHandledErr for any other command.
OSStatus SiteCommandStatus(uint32_t command, QAction *action);

// A guarded command: nothing without a structure; at once when its notice
// is switched off, else the don't-show-again sheet, whose OK stores the box
// and runs it.
void RunGuardedSiteCommand(WindowRef window, const GuardedSiteCommand &command);

// Joins the commands to the dispatch, the sidebar browsers to new structure
// windows, the info window to the floating-window refresh and start-up.
void InstallSiteBrowser();
