// Commands that change the look of every site of a structure window at once:
// labels and colours generated from the sites, colours by coordination or by
// element, the element table's defaults, greys. Each replots the window,
// refreshes its site browsers and marks it modified when it changed the
// structure.
//
// Five of them rebuild the atom types wholesale; the shell first shows a
// don't-show-again notice for them while their preference flag is 1. The
// notice's OK calls the command's "2" form with the state of its box.
#pragma once

#include "HostServices.h"

#include <cstdint>
#include <vector>

void GenerateSiteLabels(WindowRef window);
void GenerateSiteColors(WindowRef window);
void ConvertToGreyscale(WindowRef window);
// One atom type per site, its hue by the site's coordination number: the
// lowest number blue, the highest red, evenly spaced; all red when every
// site has the same number. Needs two sites or more.
void ColourByCoordination(WindowRef window);
// One atom type per element, each a copy of the type of its first site.
void ColourByElement(WindowRef window);
// One atom type per element and atom style, with the radius and colour of
// the element table; atoms lose their own types.
void ApplyDefaults(WindowRef window);

// The hues (0 to 65535) colour by coordination gives sites of these
// coordination numbers, in the same order.
std::vector<uint16_t> CoordinationHues(const std::vector<int32_t> &coordination);

// What a don't-show-again notice guards.
struct GuardedSiteCommand {
  uint32_t code;                        // the command
  const char *key;                      // the notice's key
  uint8_t *notice;                      // its flag in the preferences: 1 shows the notice
  void (*operation)(WindowRef);         // the plain operation
  void (*afterNotice)(WindowRef, bool); // the notice's OK: stores the box, runs the operation
};
const std::vector<GuardedSiteCommand> &GuardedSiteCommands();
const GuardedSiteCommand *FindGuardedSiteCommand(uint32_t code);

// The notices' OK: a ticked box stops the notice from coming back.
void SiteBrowserGenerateSiteLabels2(WindowRef window, bool boxTicked);
void SiteBrowserGenerateSiteColors2(WindowRef window, bool boxTicked);
void SiteBrowserColourByCoordination2(WindowRef window, bool boxTicked);
void SiteBrowserColourByElement2(WindowRef window, bool boxTicked);
void SiteBrowserApplyDefaults2(WindowRef window, bool boxTicked);
