// The sites an open names in the Log for having more atoms within bond reach
// than bonds, for real files (disordered ones among them), against a count
// that tries every translation of every atom within reach of each site.
#include "../documents/DocumentTestSupport.h"

#include "BondSearch.h"
#include "Geometry.h"
#include "VectorMath.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <numeric>
#include <optional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// The sites within bond reach of site s over the whole crystal, one per
// partner (each under the site of the place standing for it), in site order.
std::vector<uint32_t> EveryImageWithinReach(const CrystalRec &c, uint32_t s, const SiteAlternatives *alternatives) {
  const float *O = c.orientationMatrix;
  float origin[3];
  MatMul(O, c.sites[s].xyz, origin);
  const auto maxFor = [&](ElementCode a, ElementCode b) {
    for (int32_t k = 0; k < c.bondSpecCount; ++k) {
      const BondSpec &spec = c.bondSpecs[static_cast<size_t>(k)];
      if ((spec.elementA == a && spec.elementB == b) || (spec.elementA == b && spec.elementB == a))
        return spec.maxLength;
    }
    return -1.0f;
  };
  const float thinnest = std::min({DSpace(&c, 1, 0, 0), DSpace(&c, 0, 1, 0), DSpace(&c, 0, 0, 1)});
  std::vector<uint32_t> atoms;
  std::vector<std::array<float, 3>> places;
  for (uint32_t t = 0; t < UsableSiteSize(c); ++t) {
    const float dmax = maxFor(c.sites[s].elements[0], c.sites[t].elements[0]);
    if (dmax < 0.0f)
      continue;
    const int n = static_cast<int>(std::ceil(dmax / thinnest)) + 2;
    for (int32_t a = c.sites[t].firstAtom; a < c.sites[t].firstAtom + c.sites[t].atomsPerCell; ++a) {
      // The translations about the one that takes the atom to the site's
      // cell (a file may give a site's coordinates cells away).
      const float *xyz = c.atoms[static_cast<size_t>(a)].xyz;
      int to[3];
      for (int i = 0; i < 3; ++i)
        to[i] = static_cast<int>(std::floor(c.sites[s].xyz[i]) - std::floor(xyz[i]));
      for (int i = to[0] - n; i <= to[0] + n; ++i)
        for (int j = to[1] - n; j <= to[1] + n; ++j)
          for (int k = to[2] - n; k <= to[2] + n; ++k) {
            const float image[3] = {xyz[0] + static_cast<float>(i), xyz[1] + static_cast<float>(j),
                                    xyz[2] + static_cast<float>(k)};
            float p[3], d[3];
            MatMul(O, image, p);
            VecDiff(p, origin, d);
            const double distSq = double(d[0]) * d[0] + double(d[1]) * d[1] + double(d[2]) * d[2];
            if (std::fabs(d[0]) > dmax || std::fabs(d[1]) > dmax || std::fabs(d[2]) > dmax ||
                distSq > double(dmax) * dmax || (t == s && distSq < 0.0001))
              continue;
            atoms.push_back(static_cast<uint32_t>(a));
            places.push_back({p[0], p[1], p[2]});
          }
    }
  }
  std::vector<uint32_t> stands(atoms.size());
  std::iota(stands.begin(), stands.end(), 0u);
  if (alternatives)
    CountPartners(*alternatives, atoms, places, &stands);
  std::vector<uint32_t> sites;
  for (size_t k = 0; k < atoms.size(); ++k)
    if (stands[k] == k)
      sites.push_back(c.atoms[atoms[k]].site);
  std::sort(sites.begin(), sites.end());
  return sites;
}

// The Log line the open writes, from the count above: the sites whose roles
// the bonds leave open, and every site of higher coordination among the
// first of their neighbours (as many as they have bonds) before them.
std::string ExpectedLine(const CrystalRec &c) {
  const uint32_t n = static_cast<uint32_t>(UsableSiteSize(c));
  std::optional<SiteAlternatives> alternatives(std::in_place, c);
  if (!alternatives->Any())
    alternatives.reset();
  const auto cn = [&](uint32_t s) { return c.sites[s].coordination; };
  std::vector<uint8_t> asked(n, 0), listed(n, 0), cut(n, 0);
  for (uint32_t s = 0; s < n; ++s) {
    bool settled = cn(s) == 0;
    for (int32_t a = c.sites[s].firstAtom; a <= c.sites[s].lastAtom && !settled; ++a)
      for (uint32_t b : c.atoms[static_cast<size_t>(a)].bonds) {
        const AtomRecord &other = c.atoms[b];
        if (!other.visible || other.site >= n)
          continue;
        settled = other.site != s && cn(other.site) <= cn(s);
        break;
      }
    asked[s] = !settled;
  }
  for (uint32_t s = 0; s < n; ++s) {
    if (!asked[s])
      continue;
    const std::vector<uint32_t> around = EveryImageWithinReach(c, s, alternatives ? &*alternatives : nullptr);
    cut[s] = around.size() > cn(s);
    for (size_t k = 0; k < std::min<size_t>(around.size(), cn(s)) && around[k] != s; ++k) {
      const uint32_t t = around[k];
      if (cn(t) <= cn(s) || asked[t] || listed[t])
        continue;
      listed[t] = 1;
      cut[t] = EveryImageWithinReach(c, t, alternatives ? &*alternatives : nullptr).size() > cn(t);
    }
  }
  std::vector<std::string> names;
  for (uint32_t s = 0; s < n; ++s)
    if (cut[s])
      names.push_back(c.sites[s].label);
  if (names.empty())
    return "";
  std::string line = "Polyhedra: " + std::to_string(names.size()) + (names.size() == 1 ? " site (" : " sites (");
  for (size_t k = 0; k < std::min<size_t>(names.size(), 3); ++k)
    line += (k ? ", " : "") + names[k];
  return names.size() > 3 ? line + " and " + std::to_string(names.size() - 3) + " more)" : line + ")";
}

TEST(CrowdedSitesOnOpening, TheLogNamesTheSitesEveryImageWithinReachFinds) {
  const fs::path data = fs::path(OV_TEST_DATA) / "bonds";
  const fs::path crystals = "/usr/share/avogadro2/crystals";
  const fs::path files[] = {data / "burk1.cif",           data / "hashizume_ethyl368K.cif",
                            data / "thpp.ins",            data / "disorder_assemblies.cif",
                            data / "sulfur_alternatives.cif", data / "negative_part.ins",
                            data / "zsm5.cif",            data / "sulfur_beta_p1_2x2x2.cif",
                            crystals / "oxides/NbO2.cif",
                            crystals / "zeolites/VSV.cif", crystals / "elements/In-Indium.cif",
                            crystals / "carbides/W2C.cif", crystals / "oxides/CuO-Tenorite.cif",
                            crystals / "intermetallics/PtBi.cif"};
  int told = 0;
  for (const fs::path &file : files) {
    SCOPED_TRACE(file.string());
    FakeHost host;
    doctest::Window w(host);
    ASSERT_TRUE(OpenStructureFile(w.ref(), file));
    std::string line;
    for (const std::string &each : host.LogLines())
      if (each.starts_with("Polyhedra: "))
        line = each.substr(0, each.find(") ") + 1);
    EXPECT_EQ(line, ExpectedLine(w.crystal()));
    told += !line.empty();
  }
  EXPECT_GE(told, 8);
}

} // namespace
