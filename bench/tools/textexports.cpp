// textexports: a developer's tool that opens a structure file through the
// program's own open path and prints the text exports that list each atom's
// neighbours: the crystal coordination listing (a crystal with bond
// specifications) and the distances report at the preferred search radius
// and at the radii given, so that two builds can be compared byte for byte.
//
//   textexports FILE [RADIUS...]
//
// Each export follows a line "=== <name>"; an export that writes nothing
// says so. A file that cannot be read exits with status 1.

#include "HostServices.h"
#include "Preferences.h"
#include "export/Listings.h"
#include "import/ImportPath.h"
#include "window/MainWindowData.h"

#include "HeadlessTool.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: textexports FILE [RADIUS...]\n");
    return 2;
  }
  std::vector<float> radii;
  for (int k = 2; k < argc; k++)
    radii.push_back(std::strtof(argv[k], nullptr));
  HeadlessTool tool(argc, argv, Rect{0, 0, 400, 400});
  OVWindowRecord &record = tool.record;
  if (!OpenStructureFile(&record, argv[1], ImportChoice::TakeFirst)) {
    std::fprintf(stderr, "textexports: %s could not be read\n", argv[1]);
    return 1;
  }
  CrystalRec &c = *GetWindowCrystal(&record);
  std::printf("=== crystal coordination\n");
  if (c.molecule || c.bondSpecCount <= 0) {
    std::printf("(not written)\n");
  } else {
    const std::optional<std::string> listing = FormatCrystalCoordinationListing(c, "title", "1.0");
    std::fputs(listing ? listing->c_str() : "(nothing)\n", stdout);
  }
  radii.insert(radii.begin(), gPrefs.distanceMaximum);
  for (float r : radii) {
    std::printf("=== distances report %g\n", double(r));
    std::fputs(FormatBondsReport(c, "title", "1.0", r).c_str(), stdout);
  }
  DestroyMainWindowData(&record);
  SetHostServices(nullptr);
  return 0;
}
