#include "relax/SaturateMolecule.h"

#include "AtomOperations.h"

#include "Alerts.h"
#include "DerivedLayers.h"
#include "Polyhedra.h"
#include "Preferences.h"
#include "RenderServices.h"
#include "SitePreparation.h"
#include "StructureArrays.h"
#include "VectorMath.h"
#include "relax/RelaxThread.h"
#include "window/MainWindowData.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <span>
#include <vector>

namespace {

float Distance(const float a[3], const float b[3]) {
  const float dx = a[0] - b[0], dy = a[1] - b[1], dz = a[2] - b[2];
  return std::sqrt(dx * dx + dy * dy + dz * dz);
}

ElementCode AtomElement(const CrystalRec &c, const AtomRecord &atom) {
  return atom.site < c.sites.size() ? c.sites[atom.site].elements[0] : kBlankElement;
}

} // namespace

int32_t HydrogensNeeded(ElementCode element, uint32_t bondCount) {
  int32_t valence = 0;
  if (element == TwoCharsToShort("B "))
    valence = 3;
  else if (element == TwoCharsToShort("C "))
    valence = 4;
  else if (element == TwoCharsToShort("N "))
    valence = 3;
  else if (element == TwoCharsToShort("O "))
    valence = 2;
  if (valence == 0 || bondCount > static_cast<uint32_t>(valence))
    return 0;
  return valence - static_cast<int32_t>(bondCount);
}

bool GetNearestAtomWithSymbolAtPoint(WindowRef window, ElementCode element, const float point[3], int32_t *index) {
  CrystalRec *c = GetWindowCrystal(window);
  if (!GetCrystalAtomsArray(c) || !GetCrystalAsymmetricUnit(c))
    return false;
  for (int32_t i = 0; i < c->atomCount; ++i) {
    const AtomRecord &atom = c->atoms[static_cast<size_t>(i)];
    if (AtomElement(*c, atom) == element && Distance(atom.cart, point) <= kAtomAtPointTolerance) {
      if (index)
        *index = i;
      return true;
    }
  }
  return false;
}

bool AddBondBetweenSymbolsAtPoints(WindowRef window, ElementCode elementA, const float pointA[3], ElementCode elementB,
                                   const float pointB[3]) {
  if (Distance(pointA, pointB) < gMachineEpsilon) {
    std::fputs("Attempted to bond co-incident atoms at AddBondBetweenPoints()\n", stderr);
    return false;
  }
  int32_t a = 0, b = 0;
  if (!GetNearestAtomWithSymbolAtPoint(window, elementA, pointA, &a) ||
      !GetNearestAtomWithSymbolAtPoint(window, elementB, pointB, &b))
    return false;
  NoteStructureChange(GetWindowCrystal(window), kChangeBonds);
  return AddBondListEntry(GetWindowCrystal(window), a, b);
}

void DoSaturateMolecule(WindowRef window) {
  CrystalRec *crystal = GetWindowCrystal(window);
  if (!crystal || !GetCrystalAsymmetricUnit(crystal))
    return;
  // Hydrogens are placed from Cartesian points as new molecule sites, which
  // only a molecule has: a crystal is refused before anything is added.
  if (!crystal->molecule) {
    MyCFStopAlert("Sorry, this command only works for molecules", "Please convert your structure to a 'molecule'");
    return;
  }
  const bool selection = CrystalHasSelectedAtoms(crystal);
  if (crystal->atomCount < 1 || crystal->atoms.empty()) {
    MyCFStopAlert("Cannot add hydrogens!", "This molecule is fully saturated.");
    return;
  }
  struct Parent {
    ElementCode element;
    float position[3];
    int32_t hydrogens;
  };
  std::vector<Parent> parents;
  std::vector<float> points;
  std::vector<int32_t> fixed;
  try {
    int32_t total = 0;
    for (const AtomRecord &atom : crystal->atoms) {
      Parent p{AtomElement(*crystal, atom), {atom.cart[0], atom.cart[1], atom.cart[2]}, 0};
      if (!selection || atom.selected)
        p.hydrogens = HydrogensNeeded(p.element, atom.bondCount);
      total += p.hydrogens;
      parents.push_back(p);
    }
    if (total == 0) {
      MyCFStopAlert("Cannot add hydrogens!", "This molecule is fully saturated.");
      return;
    }
    const float d = kSaturateHydrogenOffset;
    const float offsets[4][2] = {{-d, d}, {-d, -d}, {d, -d}, {d, d}};
    points.reserve(3 * static_cast<size_t>(total));
    for (const Parent &p : parents)
      for (int32_t k = 0; k < p.hydrogens; ++k) {
        points.push_back(p.position[0] + offsets[k][0]);
        points.push_back(p.position[1] + offsets[k][1]);
        points.push_back(p.position[2]);
      }
    fixed.reserve(crystal->atoms.size() + static_cast<size_t>(total));
  } catch (const std::bad_alloc &) {
    std::fputs("malloc() failed at DoSaturateMolecule()\n", stderr);
    return;
  }
  const ElementCode hydrogen = TwoCharsToShort("H ");
  const int32_t added = static_cast<int32_t>(points.size() / 3);
  // One command, one undo step: the molecule before the hydrogens is an
  // undo state, the relaxed one the next; the hydrogens before their
  // relaxation are none (the undo timer waits while the run lasts).
  TakeWindowUndoState(window);
  if (!AddAtomsWithSymbolAtPoints(window, hydrogen, points.data(), added, false))
    return;
  SortMoleculeByElement(GetWindowCrystal(window));
  // The replot projects the new atoms onto the graph pane.
  NewPlot(window, false, true);
  UpdateSiteBrowser(window);
  UpdateModelOptions();
  UpdateWindowToolbar(window);
  // The atoms were re-sorted: from here on atoms are found by element and
  // position, not by index.
  size_t next = 0;
  for (const Parent &p : parents)
    for (int32_t k = 0; k < p.hydrogens; ++k, next += 3)
      AddBondBetweenSymbolsAtPoints(window, hydrogen, &points[next], p.element, p.position);

  // Every atom is held fixed but the new hydrogens. The list is counted, not
  // sized by arithmetic, so it holds whatever the structure now has.
  CrystalRec &c = *GetWindowCrystal(window);
  for (int32_t i = 0; i < c.atomCount; ++i) {
    const AtomRecord &atom = c.atoms[static_cast<size_t>(i)];
    bool isNew = false;
    if (AtomElement(c, atom) == hydrogen)
      for (size_t k = 0; k + 2 < points.size() && !isNew; k += 3)
        isNew = Distance(atom.cart, &points[k]) <= kNewHydrogenTolerance;
    if (!isNew)
      fixed.push_back(i);
  }
  DefinePolyhedra(&c);
  PlotCrystal(window, kPlotToWindow);
  LaunchRelaxMoleculeThread(window, fixed.data(), static_cast<int32_t>(fixed.size()));
}
