#include "CellTransform.h"

#include "Alerts.h"
#include "BuildPipeline.h"
#include "LocalizedStrings.h"
#include "RenderServices.h"
#include "SpaceGroups.h"
#include "StructureArrays.h"
#include "UnitCell.h"
#include "ViewOrientation.h"
#include "window/MainWindowData.h"

#include <cstring>

namespace {

constexpr const char *kP1Symbol = "P 1";

// True when the crystal's operators reduce to the identity alone, so there
// is no symmetry to discard.
bool HasSingleOperator(CrystalRec &c) {
  if (std::strcmp(c.spaceGroup, kP1Symbol) == 0 && c.cardCount <= 1 && c.latticeLetter == 'P')
    return true;
  if (c.latticeLetter == 'P' && c.cardCount == 1)
    return true;
  // Cards read with a structure can disagree with its symbol: count what the
  // cell would actually be generated with.
  int32_t count = 0;
  auto ops = GetCrystalGEPs(&c, &count);
  return ops && count <= 1;
}

} // namespace

bool DiscardSymmetry(WindowRef window) {
  CrystalRec *crystal = GetWindowCrystal(window);
  if (!crystal)
    return false;
  CrystalRec &c = *crystal;
  if (HasSingleOperator(c))
    return true;

  int32_t savedCount = 0;
  std::vector<AtomVisibilityEntry> saved = SaveAtomsVisibilityAndSelection(&c, &savedCount);
  int32_t count = 0;
  auto sites = GenCellAU(&c, &count);
  if (!sites || count < 1)
    return false;
  sites->resize(static_cast<size_t>(count));

  c.sites = std::move(*sites);
  c.siteCount = count;
  c.atomsPerCell = count;
  MyStrCopy(std::span<char>(c.spaceGroup), kP1Symbol);
  c.originChoice = 0;
  c.latticeLetter = 'P';
  c.cardCount = 0;
  DestroyAtomsArray(&c);

  if (!RunNewCrystal(window, false, true, false))
    return false;
  RestoreAtomsVisibilityAndSelection(&c, saved, savedCount);
  PlotCrystal(window, 1);
  return true;
}

bool UserAgreesToDiscardSymmetry(WindowRef window) {
  CrystalRec *crystal = GetWindowCrystal(window);
  if (!crystal || crystal->molecule || crystal->siteCount < 1 || crystal->sites.empty())
    return false;
  if (CrystalHasP1Symmetry(*crystal))
    return true;
  if (!MyCFChoiceAlert(kAlertCautionAlert, OVLocalizedString("Request_Discard_Symmetry"),
                       OVLocalizedString("Request_Discard_Symmetry_2"), OVLocalizedString("Continue"),
                       OVLocalizedString("Cancel")))
    return false;
  return DiscardSymmetry(window);
}

void InstallDiscardSymmetryConsent() { gDiscardSymmetryConsent = &UserAgreesToDiscardSymmetry; }
