#include "SiteCommands.h"

#include "InfoWindow.h"
#include "SiteBrowserView.h"
#include "inspectors/InspectorKit.h"
#include "shell/DontShowAgainSheet.h"
#include "structurewindow/StructureWindow.h"

#include "Preferences.h"
#include "SiteAppearance.h"
#include "SiteBrowserData.h"
#include "StructureReports.h"
#include "render/AtomLabels.h"
#include "window/MainWindowData.h"

#include <QAction>

namespace {

constexpr const char *kSiteBrowserHelpPage = "Reference/Interface/SiteBrowser.html";

void SetShowElements(WindowRef window, uint8_t show) {
  if (gInfoWindowShowElements == show)
    return;
  gInfoWindowShowElements = show;
  gPrefs.infoGroupByElement = show;
  if (window)
    UpdateSiteBrowser(window);
}

} // namespace

void RunGuardedSiteCommand(WindowRef window, const GuardedSiteCommand &command) {
  if (!IsWindowFileOpen(window))
    return;
  if (*command.notice == 0) {
    command.operation(window);
    return;
  }
  ShowDontShowAgainSheet(command.key, window, command.afterNotice);
}

OSStatus DoSiteCommand(uint32_t command) {
  WindowRef window = FrontGraphWindow();
  if (const GuardedSiteCommand *guarded = FindGuardedSiteCommand(command)) {
    RunGuardedSiteCommand(window, *guarded);
    return kNoErr;
  }
  switch (command) {
  case FourCharsToLong("*Inf"):
    DoShowInfoWindow();
    return kNoErr;
  case FourCharsToLong("*tAI"):
    ToggleShowInfoWindow();
    return kNoErr;
  case FourCharsToLong("IWGs"):
    ConvertToGreyscale(window);
    return kNoErr;
  case FourCharsToLong("IW+L"):
    SiteBrowserExpandList(window, true);
    return kNoErr;
  case FourCharsToLong("IW-L"):
    SiteBrowserExpandList(window, false);
    return kNoErr;
  case FourCharsToLong("IW*E"):
    SetShowElements(window, 1);
    return kNoErr;
  case FourCharsToLong("IW%E"):
    SetShowElements(window, 0);
    return kNoErr;
  case FourCharsToLong("IW*L"):
    if (IsWindowFileOpen(window))
      ShowAllLabels(window, true);
    return kNoErr;
  case FourCharsToLong("IW%L"):
    if (IsWindowFileOpen(window))
      ShowAllLabels(window, false);
    return kNoErr;
  case FourCharsToLong("IWHp"):
    MyOpenHelpPage(kSiteBrowserHelpPage);
    return kNoErr;
  case FourCharsToLong("Form"):
    PrintChemicalFormula(window);
    return kNoErr;
  case FourCharsToLong("LstX"):
    DoListCoordinates(window);
    return kNoErr;
  case FourCharsToLong("LstB"):
    DoListBonds(window);
    return kNoErr;
  case FourCharsToLong("Por%"):
    PrintCrystalPorosity(window);
    return kNoErr;
  case FourCharsToLong("Dens"):
    PrintCrystalDensity(window);
    return kNoErr;
  default:
    return kEventNotHandledErr;
  }
}

OSStatus SiteCommandStatus(uint32_t command, QAction *action) {
  switch (command) {
  case FourCharsToLong("IW*E"):
  case FourCharsToLong("IW%E"):
    action->setCheckable(true);
    action->setChecked((command == FourCharsToLong("IW*E")) == (gInfoWindowShowElements != 0));
    action->setEnabled(true);
    return kNoErr;
  case FourCharsToLong("IW+L"):
  case FourCharsToLong("IW-L"):
    action->setEnabled(gInfoWindowShowElements != 0);
    return kNoErr;
  default:
    return kEventNotHandledErr;
  }
}

void InstallSiteBrowser() {
  static bool installed = false;
  if (installed)
    return;
  installed = true;
  AddCommandHandler([](uint32_t command, const QVariant &) { return DoSiteCommand(command); }, SiteCommandStatus);
  gStructureWindowHooks.initSiteBrowser = InitAtomsPaneBrowser;
  gStructureWindowHooks.updateInfoWindow = [] {
    // A window just cleared empties its own list too.
    if (HostServices *host = GetHostServices())
      for (WindowRef window : host->StructureWindows())
        if (!IsWindowFileOpen(window))
          if (SiteBrowserView *browser = GetGraphicsWindowSiteBrowserView(window))
            browser->Refill();
    if (gInfoWindow && gInfoWindow->isVisible())
      UpdateInfoWindow();
  };
  AddWindowOpener([] {
    if (gPrefs.infoWindowVisible)
      DoShowInfoWindow();
  });
}
