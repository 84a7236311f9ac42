// Applying the Atoms tab's containers: the indexed search must give every
// site and atom the same atom type as the plain rule (the lowest type that
// FindMatchingSphere accepts, else a new one), and purge alike.
#include "AtomContainers.h"
#include "StructureArrays.h"
#include "StyleTables.h"

#include <gtest/gtest.h>
#include <random>

namespace {

// Sites in element runs, types shared by some sites, two atoms per site
// (one hidden atom with a type of its own now and then).
void MakeStructure(CrystalRec &c, unsigned seed) {
  std::mt19937 rng(seed);
  const ElementCode elements[3] = {TwoCharsToShort("Na"), TwoCharsToShort("Cl"), TwoCharsToShort("O ")};
  const int sites = 60;
  c.spheres.clear();
  for (int t = 0; t < 12; t++) {
    SphereRecord s;
    s.element = elements[t % 3];
    s.style = uint32_t(rng() % 3 == 0 ? 3 : 14);
    s.radius = 1.0f + 0.005f * float(rng() % 3);
    s.colour = RGBColor{uint16_t(1000 * (rng() % 2)), 2000, 3000};
    c.spheres.push_back(s);
  }
  c.sphereCount = int32_t(c.spheres.size());
  c.sites.assign(size_t(sites), AsymmetricUnitRecord{});
  c.atoms.assign(size_t(2 * sites), AtomRecord{});
  c.siteCount = sites;
  c.atomCount = 2 * sites;
  for (int s = 0; s < sites; s++) {
    AsymmetricUnitRecord &site = c.sites[size_t(s)];
    const int e = s * 3 / sites;
    site.elements[0] = elements[e];
    site.atomType = uint32_t(e + 3 * int(rng() % 4));
    SetGivenPolyMode(site, uint32_t(rng() % 5 == 0 ? 12 : 15));
    site.coordination = uint32_t(rng() % 6);
    site.firstAtom = 2 * s;
    site.lastAtom = 2 * s + 1;
    for (int a = 0; a < 2; a++) {
      AtomRecord &atom = c.atoms[size_t(2 * s + a)];
      atom.site = uint32_t(s);
      atom.atomType = site.atomType;
    }
  }
}

// The rule as written: a scan of every type per site.
void PlainApply(CrystalRec &c, const std::vector<AtomContainer> &containers) {
  for (size_t k = 1; k < containers.size(); k++) {
    const AtomContainerItem *previous = nullptr;
    uint32_t previousSphere = 0;
    for (size_t i = 1; i < containers[k].items.size(); i++) {
      const AtomContainerItem &item = containers[k].items[i];
      AsymmetricUnitRecord &site = c.sites[item.site];
      const uint32_t old = site.atomType;
      site.atomStyle = item.atomStyle;
      site.ellipsoidStyle = item.ellipsoidStyle;
      site.ignoreEllipsoid = !item.ellipsoidShown;
      SetGivenPolyMode(site, item.polyStyle);
      uint32_t result;
      if (previous && old == previousSphere && item.atomStyle == previous->atomStyle &&
          item.ellipsoidStyle == previous->ellipsoidStyle && item.polyStyle == previous->polyStyle) {
        result = previousSphere;
      } else {
        const SphereRecord o = c.spheres[old];
        int32_t index = 0;
        if (!FindMatchingSphere(&c, o.element, item.atomStyle, item.polyStyle, o.colour, o.radius, &index)) {
          AppendBlankSphere(&c);
          SphereRecord *added = &c.spheres.back();
          added->element = o.element;
          added->radius = o.radius;
          added->colour = o.colour;
          added->style = item.atomStyle;
          index = c.sphereCount - 1;
        }
        result = uint32_t(index);
      }
      site.atomType = result;
      for (int32_t a = site.firstAtom; a <= site.lastAtom; a++)
        if (c.atoms[size_t(a)].atomType == old)
          c.atoms[size_t(a)].atomType = result;
      previous = &item;
      previousSphere = result;
    }
  }
  PurgeUnusedAtomSpheres(&c);
}

TEST(AtomContainers, IndexedApplyAgreesWithThePlainRule) {
  for (unsigned seed = 1; seed <= 20; seed++) {
    CrystalRec a, b;
    MakeStructure(a, seed);
    MakeStructure(b, seed);
    int32_t count = 0;
    std::vector<AtomContainer> containers = CreateAtomContainers(&a, &count);
    ASSERT_EQ(count, 4);
    ASSERT_TRUE(AtomContainersMatch(&a, containers));
    std::mt19937 rng(seed * 7);
    for (size_t k = 1; k < containers.size(); k++)
      for (AtomContainerItem &item : containers[k].items) {
        if (rng() % 2)
          item.atomStyle = rng() % 2 ? 3 : 14;
        if (rng() % 3 == 0)
          item.polyStyle = rng() % 2 ? 12 : 8;
      }
    // Some hidden atoms keep a type only they use.
    a.atoms[3].visible = b.atoms[3].visible = 0;
    a.atoms[3].atomType = b.atoms[3].atomType = 11;
    ApplyAtomContainers(&a, containers);
    PlainApply(b, containers);
    ASSERT_EQ(a.sphereCount, b.sphereCount) << seed;
    for (int32_t s = 0; s < a.siteCount; s++)
      EXPECT_EQ(a.sites[size_t(s)].atomType, b.sites[size_t(s)].atomType) << seed << " site " << s;
    for (int32_t k = 0; k < a.atomCount; k++)
      EXPECT_EQ(a.atoms[size_t(k)].atomType, b.atoms[size_t(k)].atomType) << seed << " atom " << k;
    for (int32_t t = 0; t < a.sphereCount; t++) {
      EXPECT_EQ(a.spheres[size_t(t)].style, b.spheres[size_t(t)].style);
      EXPECT_TRUE(SameRGBColor(a.spheres[size_t(t)].colour, b.spheres[size_t(t)].colour));
    }
  }
}

TEST(AtomContainers, ContainersFollowElementRunsAndNoticeAChangedStructure) {
  CrystalRec c;
  MakeStructure(c, 3);
  int32_t count = 0;
  std::vector<AtomContainer> containers = CreateAtomContainers(&c, &count);
  EXPECT_EQ(containers[0].count, 1);
  EXPECT_EQ(containers[1].count, 21); // the element row and its 20 sites
  EXPECT_EQ(containers[1].items[0].site, 0u);
  c.sites[25].elements[0] = TwoCharsToShort("Fe");
  EXPECT_FALSE(AtomContainersMatch(&c, containers));
  EXPECT_TRUE(CreateAtomContainers(nullptr, &count).empty());
  EXPECT_EQ(count, 0);
}

TEST(StyleTables, EveryItemHasItsIconAndSeparatorsHaveNone) {
  for (std::span<const StyleIconEntry> table :
       {std::span<const StyleIconEntry>(gAtomStyleIconData), std::span<const StyleIconEntry>(gEllipsoidStyleIconData),
        std::span<const StyleIconEntry>(gPolyStyleIconData), std::span<const StyleIconEntry>(gBondStyleIconData)})
    for (const StyleIconEntry &e : table) {
      EXPECT_EQ(e.style < 0, e.iconType == 0);
      EXPECT_EQ(e.style < 0, e.fileName[0] == '\0');
    }
  EXPECT_EQ(FindStyleMenuItem(gAtomStyleIconData, 2), 10);
  EXPECT_EQ(FindStyleMenuItem(gBondStyleIconData, 1), 12);
  EXPECT_EQ(FindStyleMenuItem(gAtomStyleIconData, 8), 0); // no such style
  for (int i = 0; i < kPolyStylePartialItems; i++) {
    if (gPolyStyleIconData[i].style >= 0) {
      EXPECT_TRUE(IsPolyModeWithoutPolyhedron(uint32_t(gPolyStyleIconData[i].style)));
    }
  }
}

} // namespace
