#include "HelpCommands.h"

#include "Commands.h"
#include "HostServices.h"

#include <QAction>

void InstallHelpCommands() {
  AddCommandHandler(
      [](uint32_t command, const QVariant &) -> OSStatus {
        if (command != kCmdHelp)
          return kEventNotHandledErr;
        MyOpenHelpPage(kHelpIndexPage);
        return kNoErr;
      },
      [](uint32_t command, QAction *action) -> OSStatus {
        if (command != kCmdHelp)
          return kEventNotHandledErr;
        action->setEnabled(true);
        return kNoErr;
      });
}
