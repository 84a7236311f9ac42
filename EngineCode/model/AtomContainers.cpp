#include "AtomContainers.h"

#include "StructureArrays.h"

#include <algorithm>
#include <cmath>
#include <set>
#include <unordered_map>

namespace {

AtomContainerItem ItemOfSite(const CrystalRec &c, uint32_t s) {
  const AsymmetricUnitRecord &site = c.sites[s];
  return {s, site.atomStyle, site.ellipsoidStyle, uint8_t(site.ignoreEllipsoid ? 0 : 1), SitePolyMode(c, s)};
}

// The atom types by element, style and colour, each list in ascending order,
// with the sites that use each type: the lowest type that matches a site is
// found without scanning every type and every site.
class SphereIndex {
public:
  explicit SphereIndex(CrystalRec &c) : c_(c) {
    users_.resize(UsableSphereSize(c));
    for (size_t t = 0; t < UsableSphereSize(c); t++)
      byKey_[Key(c.spheres[t])].push_back(int32_t(t));
    for (size_t s = 0; s < UsableSiteSize(c); s++)
      if (c.sites[s].atomType < users_.size())
        users_[c.sites[s].atomType].insert(uint32_t(s));
  }

  // The lowest type FindMatchingSphere would answer, or -1.
  int32_t Find(ElementCode element, uint32_t style, uint32_t polyMode, const RGBColor &colour, float radius) const {
    SphereRecord probe;
    probe.element = element;
    probe.style = style;
    probe.colour = colour;
    const auto it = byKey_.find(Key(probe));
    if (it == byKey_.end())
      return -1;
    for (int32_t t : it->second) {
      const SphereRecord &sphere = c_.spheres[size_t(t)];
      if (sphere.element != element || sphere.style != style || !SameRGBColor(sphere.colour, colour) ||
          !(std::fabs(sphere.radius - radius) <= kSphereMatchTolerance))
        continue;
      const std::set<uint32_t> &users = users_[size_t(t)];
      if (users.empty())
        continue;
      const bool ownClass = SitePolyMode(c_, *users.begin()) == kPolyModeOwnClass;
      if (ownClass != (polyMode == kPolyModeOwnClass))
        continue;
      return t;
    }
    return -1;
  }

  // A type added at the end.
  void Added(int32_t t) {
    users_.resize(size_t(t) + 1);
    byKey_[Key(c_.spheres[size_t(t)])].push_back(t);
  }
  void Moved(uint32_t site, uint32_t from, uint32_t to) {
    if (from < users_.size())
      users_[from].erase(site);
    if (to < users_.size())
      users_[to].insert(site);
  }

private:
  static uint64_t Key(const SphereRecord &s) {
    return uint64_t(s.element) << 48 ^ uint64_t(s.style & 0xff) << 40 ^ uint64_t(s.colour.red) << 32 ^
           uint64_t(s.colour.green) << 16 ^ uint64_t(s.colour.blue);
  }
  CrystalRec &c_;
  std::unordered_map<uint64_t, std::vector<int32_t>> byKey_;
  std::vector<std::set<uint32_t>> users_;
};

} // namespace

std::vector<AtomContainer> CreateAtomContainers(const CrystalRec *crystal, int32_t *count) {
  std::vector<AtomContainer> containers;
  if (count)
    *count = 0;
  if (!crystal)
    return containers;
  const CrystalRec &c = *crystal;
  AtomContainer defaults;
  defaults.count = 1;
  defaults.items.push_back({0, c.defaultAtomStyle, c.defaultEllipsoidStyle, 1, c.defaultPolyMode});
  containers.push_back(std::move(defaults));
  const size_t sites = UsableSiteSize(c);
  for (size_t s = 0; s < sites;) {
    AtomContainer container;
    container.element = c.sites[s].elements[0];
    container.items.push_back(ItemOfSite(c, uint32_t(s)));
    for (; s < sites && c.sites[s].elements[0] == container.element; s++)
      container.items.push_back(ItemOfSite(c, uint32_t(s)));
    container.count = int32_t(container.items.size());
    containers.push_back(std::move(container));
  }
  if (count)
    *count = int32_t(containers.size());
  return containers;
}

bool IsSitePolyhedral(const CrystalRec *crystal, uint32_t site) {
  return crystal && site < UsableSiteSize(*crystal) && crystal->sites[site].coordination > 2;
}

bool IsElementPolyhedral(const CrystalRec *crystal, const AtomContainer &container) {
  for (size_t i = 1; i < container.items.size(); i++)
    if (IsSitePolyhedral(crystal, container.items[i].site))
      return true;
  return false;
}

bool AtomContainersMatch(const CrystalRec *crystal, const std::vector<AtomContainer> &containers) {
  if (!crystal || containers.empty())
    return false;
  const CrystalRec &c = *crystal;
  size_t next = 0;
  for (size_t k = 1; k < containers.size(); k++) {
    const AtomContainer &container = containers[k];
    for (size_t i = 1; i < container.items.size(); i++, next++)
      if (container.items[i].site != next || next >= UsableSiteSize(c) ||
          c.sites[next].elements[0] != container.element)
        return false;
  }
  return next == UsableSiteSize(c);
}

void ApplyAtomContainers(CrystalRec *crystal, const std::vector<AtomContainer> &containers) {
  if (!crystal || containers.empty())
    return;
  CrystalRec &c = *crystal;
  const AtomContainerItem &defaults = containers[0].items[0];
  c.defaultAtomStyle = defaults.atomStyle;
  c.defaultEllipsoidStyle = defaults.ellipsoidStyle;
  c.defaultPolyMode = defaults.polyStyle;
  if (containers.size() < 2) {
    PurgeUnusedAtomSpheres(&c);
    return;
  }
  SphereIndex index(c);
  for (size_t k = 1; k < containers.size(); k++) {
    const AtomContainer &container = containers[k];
    uint32_t previousSphere = 0;
    const AtomContainerItem *previous = nullptr;
    for (size_t i = 1; i < container.items.size(); i++) {
      const AtomContainerItem &item = container.items[i];
      if (item.site >= UsableSiteSize(c))
        continue;
      AsymmetricUnitRecord &site = c.sites[item.site];
      const uint32_t old = site.atomType;
      site.atomStyle = item.atomStyle;
      site.ellipsoidStyle = item.ellipsoidStyle;
      site.ignoreEllipsoid = item.ellipsoidShown ? 0 : 1;
      SetSitePolyMode(&c, item.site, item.polyStyle);
      uint32_t result = old;
      if (previous && old == previousSphere && item.atomStyle == previous->atomStyle &&
          item.ellipsoidStyle == previous->ellipsoidStyle && item.polyStyle == previous->polyStyle) {
        result = previousSphere;
      } else if (old < UsableSphereSize(c)) {
        const SphereRecord oldSphere = c.spheres[old];
        // The index tells which type a site uses by its first user; this
        // site's own mode counts from now on.
        int32_t found = index.Find(oldSphere.element, item.atomStyle, item.polyStyle, oldSphere.colour,
                                   oldSphere.radius);
        if (found < 0) {
          if (SphereRecord *added = AppendBlankSphere(&c)) {
            added->element = oldSphere.element;
            added->radius = oldSphere.radius;
            added->colour = oldSphere.colour;
            added->style = item.atomStyle;
            found = UsableSphereCount(c) - 1;
            index.Added(found);
          } else {
            found = int32_t(old); // no memory: the site keeps its type
          }
        }
        result = uint32_t(found);
      }
      site.atomType = result;
      index.Moved(item.site, old, result);
      if (result != old) {
        const int32_t first = std::max(site.firstAtom, 0);
        const int32_t last = std::min(site.lastAtom, UsableAtomCount(c) - 1);
        for (int32_t a = first; a <= last; a++)
          if (c.atoms[size_t(a)].atomType == old)
            c.atoms[size_t(a)].atomType = result;
      }
      previous = &item;
      previousSphere = result;
    }
  }
  PurgeUnusedAtomSpheres(&c);
}
