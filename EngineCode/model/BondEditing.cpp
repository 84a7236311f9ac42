#include "BondEditing.h"

#include "Alerts.h"
#include "BondDiagnostics.h"
#include "BuildPipeline.h"
#include "ListPositions.h"
#include "Polyhedra.h"
#include "StoredLimits.h"
#include "window/MainWindowData.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

bool FillEditBondingRec(const CrystalRec &crystal, EditBondingRec &record) {
  record = EditBondingRec{};
  const size_t siteCount = UsableSiteSize(crystal);
  const size_t sphereCount = UsableSphereSize(crystal);
  if (siteCount == 0 || sphereCount == 0)
    return false;
  // One row per element, in the order of the element's first site, whether
  // or not its sites stand together.
  for (size_t i = 0; i < siteCount; ++i) {
    const AsymmetricUnitRecord &site = crystal.sites[i];
    EditBondElementEntry *row = nullptr;
    for (int32_t k = 0; k < record.elementCount && !row; ++k)
      if (record.elements[k].element == site.elements[0])
        row = &record.elements[k];
    if (!row) {
      if (record.elementCount >= kMaxBondSpecs)
        continue; // more elements than rows: the rest cannot be chosen
      row = &record.elements[record.elementCount++];
      row->element = site.elements[0];
      row->radius = site.atomType < sphereCount ? crystal.spheres[site.atomType].radius : 0.0f;
      row->firstSite = static_cast<int32_t>(i);
    }
    row->lastSite = static_cast<int32_t>(i);
  }
  record.newStyle = crystal.defaultBondStyle;
  record.newColours[0] = crystal.bondColor1;
  record.newColours[1] = crystal.bondColor2;
  const int32_t count = std::clamp<int32_t>(crystal.bondSpecCount, 0, kMaxBondSpecs);
  for (int32_t i = 0; i < count; ++i) {
    const BondSpec &spec = crystal.bondSpecs[i];
    if (!GetEditBondingMenuIndex(record, spec.elementA) || !GetEditBondingMenuIndex(record, spec.elementB))
      continue;
    EditBondSpecNode node;
    node.number = static_cast<uint16_t>(record.specs.size());
    node.elementA = spec.elementA;
    node.elementB = spec.elementB;
    node.min = spec.minLength;
    node.max = spec.maxLength;
    node.style = spec.style;
    node.colour1 = spec.colour1;
    node.colour2 = spec.colour2;
    record.specs.push_back(node);
  }
  record.specCount = static_cast<int32_t>(record.specs.size());
  return true;
}

int GetEditBondingMenuIndex(const EditBondingRec &record, ElementCode element) {
  for (int i = 0; i < record.elementCount; ++i)
    if (record.elements[i].element == element)
      return i + 1;
  return 0;
}

float GetMaxBondLength(const EditBondingRec &record, ElementCode elementA, ElementCode elementB) {
  float rA = 0.0f, rB = 0.0f;
  for (int i = 0; i < record.elementCount; ++i) {
    if (record.elements[i].element == elementA)
      rA = record.elements[i].radius;
    if (record.elements[i].element == elementB)
      rB = record.elements[i].radius;
  }
  if (rA < kSmallestUsableRadius)
    rA = 1.0f;
  if (rB < kSmallestUsableRadius)
    rB = 1.0f;
  return (rA + rB) * kMaxBondLengthFactor;
}

void BondDiagnostics(CrystalRec *crystal, EditBondSpecNode &node) {
  node.ForgetDiagnostics();
  if (!crystal)
    return;
  int32_t minAB = kBondCountUnknownMin, maxAB = kBondCountUnknownMax;
  int32_t minBA = kBondCountUnknownMin, maxBA = kBondCountUnknownMax;
  const bool made = crystal->molecule ? TurboMoleculeBondDiagnostics(crystal, node.elementA, node.elementB, node.min,
                                                                     node.max, &minAB, &maxAB, &minBA, &maxBA)
                                      : TurboCrystalBondDiagnostics(crystal, node.elementA, node.elementB, node.min,
                                                                    node.max, &minAB, &maxAB, &minBA, &maxBA);
  if (!made)
    return; // stays "not computed": nothing is drawn
  node.minCountA = minAB;
  node.maxCountA = maxAB;
  node.minCountB = minBA;
  node.maxCountB = maxBA;
}

bool AddBondSpecNode(EditBondingRec &record) {
  if (record.specCount >= kMaxBondSpecs) {
    MyCFStopAlert("Bonds list is full!", "Maximum of " + std::to_string(kMaxBondSpecs) + " bond specifications");
    return false;
  }
  if (record.elementCount <= 0)
    return false;
  EditBondSpecNode node;
  node.number = static_cast<uint16_t>(record.specs.size());
  node.elementA = node.elementB = record.elements[0].element;
  node.min = 0.0f;
  node.max = GetMaxBondLength(record, node.elementA, node.elementB);
  node.style = record.newStyle;
  node.colour1 = record.newColours[0];
  node.colour2 = record.newColours[1];
  record.specs.push_back(node);
  record.specCount = static_cast<int32_t>(record.specs.size());
  return true;
}

void RemoveBondSpecNodes(EditBondingRec &record, std::vector<int> positions) {
  EraseListPositions(record.specs, std::move(positions));
  record.specCount = static_cast<int32_t>(record.specs.size());
}

bool SetBondSpecElement(EditBondingRec &record, EditBondSpecNode &node, int which, int row) {
  if (row < 1 || row > record.elementCount)
    return false;
  const ElementCode element = record.elements[row - 1].element;
  (which == 0 ? node.elementA : node.elementB) = element;
  node.min = 0.0f;
  node.max = GetMaxBondLength(record, node.elementA, node.elementB);
  node.ForgetDiagnostics();
  return true;
}

bool SetBondSpecLengthFromText(EditBondSpecNode &node, int which, std::string_view text) {
  const std::string copy(text);
  float value = 0.0f;
  if (std::sscanf(copy.c_str(), "%f", &value) != 1 || !std::isfinite(value))
    return false;
  (which == 0 ? node.min : node.max) = value;
  node.ForgetDiagnostics();
  return true;
}

std::string FormatBondLength(float length) {
  char text[64];
  std::snprintf(text, sizeof text, "%.4f", static_cast<double>(length));
  std::string s(text);
  if (s.find('.') != std::string::npos) {
    while (!s.empty() && s.back() == '0')
      s.pop_back();
    if (!s.empty() && s.back() == '.')
      s.pop_back();
  }
  if (s.size() < 5)
    s += "   ";
  return s;
}

bool RefuseBondMaximum(float max) {
  if (!(max > kMaxBondSpecLength))
    return false;
  char why[400];
  std::snprintf(why, sizeof why,
                "A bond maximum of %g \u00C5 is beyond what any structure can use: no two atoms of the largest "
                "radius a structure keeps (%g \u00C5) bond further apart than %g \u00C5, and the bond search's "
                "work grows with the cube of the maximum. Please enter at most %g \u00C5.",
                static_cast<double>(max), static_cast<double>(kMaxStoredRadius),
                static_cast<double>(kMaxBondSpecLength), static_cast<double>(kMaxBondSpecLength));
  MyCFStopAlert("Bond maximum too long", why);
  return true;
}

void DoEditBonding(WindowRef window, CrystalRec *crystal, const EditBondingRec &record) {
  if (!crystal)
    return;
  // The roles of the bonds being replaced.
  NoteStructureChange(crystal, kChangeBonds);
  const int32_t count = std::min<int32_t>(static_cast<int32_t>(record.specs.size()), kMaxBondSpecs);
  crystal->bondSpecCount = count;
  for (int32_t i = 0; i < count; ++i) {
    const EditBondSpecNode &node = record.specs[i];
    BondSpec &spec = crystal->bondSpecs[i];
    spec.elementA = node.elementA;
    spec.elementB = node.elementB;
    spec.minLength = node.min;
    spec.maxLength = node.max;
    spec.style = node.style;
    spec.colour1 = node.colour1;
    spec.colour2 = node.colour2;
  }
  RunNewBonding(window, crystal);
}
