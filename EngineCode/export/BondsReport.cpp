// The distances and angles report: a summary of the input data, the
// neighbours of every site within the search radius with their distances
// and angles, and the list of bonded atoms.
#include "export/ExportFrame.h"
#include "export/Listings.h"

#include "Alerts.h"
#include "AutoBonds.h"
#include "Geometry.h"
#include "Preferences.h"
#include "SiteNeighbourIndex.h"
#include "SpaceGroups.h"
#include "SymmetryCards.h"
#include "VectorMath.h"
#include "window/MainWindowData.h"

#include <cmath>
#include <functional>
#include <new>

namespace {

const TextExportKind kBondsKind{"Save distances & angles file", " distances & angles.txt",
                                "Writing bond information to a text file", "Closing bonds file..."};

const char *const kCoordinateRule = "+------------------------------------------------------+\n";
const char *const kSiteRule = "+----------------------------------------------------------------------------+\n";
const char *const kAngleRule = "+----------------------------------------------------------------------+\n";

// Calls f(site, atom) for the first atoms-per-cell atoms of every site (a
// molecule's site: its atoms).
void ForEachFirstCellAtom(const CrystalRec &c, const std::function<void(const AsymmetricUnitRecord &, size_t)> &f) {
  const size_t nSites = UsableSiteSize(c), nAtoms = UsableAtomSize(c);
  for (size_t s = 0; s < nSites; s++) {
    const AsymmetricUnitRecord &site = c.sites[s];
    const int32_t count = c.molecule ? std::max(site.lastAtom - site.firstAtom + 1, 0) : site.atomsPerCell;
    for (int32_t k = 0; k < count; k++) {
      const int64_t a = int64_t{site.firstAtom} + k;
      if (a < 0 || static_cast<size_t>(a) >= nAtoms)
        break;
      f(site, static_cast<size_t>(a));
    }
  }
}

void AppendSummary(std::string &o, const CrystalRec &c) {
  const size_t nSites = UsableSiteSize(c);
  std::string formula;
  const bool hasFormula = GetCalcFormula(&c, &formula);
  if (c.molecule) {
    if (hasFormula)
      Appendf(o, "Calculated formula: %s\n", formula.c_str());
    o += "\nListing of atomic coordinates\n";
    o += kCoordinateRule;
    o += "|                        Orthogonal Coordinates        |\n"
         "|    Num   Label  Elmt   xor        yor        zor     |\n";
    o += kCoordinateRule;
    ForEachFirstCellAtom(c, [&](const AsymmetricUnitRecord &site, size_t a) {
      const AtomRecord &t = c.atoms[a];
      const std::string e = ElementText(site.elements[0]);
      Appendf(o, "|%7ld   %-6s  %c%c%11.5f%11.5f%11.5f |\n", static_cast<long>(a), std::string(SiteLabel(site)).c_str(),
              e[0], e[1], double{t.cart[0]}, double{t.cart[1]}, double{t.cart[2]});
    });
    o += kCoordinateRule;
    return;
  }

  o += "-------------------------- Summary of input data --------------------------\n"
       "\n"
       "Unit cell parameters\n"
       "\n";
  Appendf(o, "              a:     %9.5f   b:    %9.5f   c:     %9.5f  A\n", double{c.a}, double{c.b}, double{c.c});
  Appendf(o, "              alpha: %9.4f   beta: %9.4f   gamma: %9.4f  deg\n", double{c.alpha}, double{c.beta},
          double{c.gamma});
  o += "\n";
  const float volume = GetCellVolume(&c);
  Appendf(o, "Unit cell volume:   %9.4f A**3\n", double{volume});
  float density = 0.0f;
  if (GetDensity(&c, &density)) {
    Appendf(o, "Estimated density:  %9.4f kg/m**3\n", double{density});
    Appendf(o, "                    %9.4f g/cm**3\n", double{density} * 0.001);
    Appendf(o, "                    %9.4f atoms/A**3\n", double(c.atomsPerCell) / double{volume});
  }
  if (hasFormula)
    Appendf(o, "Calculated formula: %s\n", formula.c_str());
  o += "\n";

  // The operators are generated from the symbol in copies: the structure
  // keeps its own cards and lattice letter.
  std::string symbol(CStrView(std::span<const char>(c.spaceGroup)));
  if (!symbol.empty()) {
    Appendf(o, "Spacegroup symbol:  %s\n", symbol.c_str());
    if (c.originShift[0] != 0.0f || c.originShift[1] != 0.0f || c.originShift[2] != 0.0f)
      Appendf(o, "Origin offset:  {%.3f, %.3f, %.3f}\n", double{c.originShift[0]}, double{c.originShift[1]},
              double{c.originShift[2]});
  } else {
    o += "Spacegroup symbol:  *** undefined ***\n";
  }
  Appendf(o, "Lattice type:       %c\n", c.latticeLetter);
  std::array<Symcard, kMaxSymCards> cards = c.symCards;
  uint16_t count = std::min<uint16_t>(c.cardCount, kMaxSymCards);
  if (!symbol.empty()) {
    char lattice = c.latticeLetter;
    Spaceg(symbol, c.originChoice, c.alpha, c.beta, c.gamma, lattice, count, std::span<Symcard>(cards));
  }
  o += "\nGeneral Equivalent Positions:\n";
  for (uint16_t k = 0; k < count; k += 2) {
    const std::string first(CardText(cards[k]));
    const std::string second = k + 1 < count ? std::string(CardText(cards[k + 1u])) : std::string();
    Appendf(o, "            %25s           %25s\n", first.c_str(), second.c_str());
  }
  o += "\n";

  o += "Asymmetric unit\n";
  o += kSiteRule;
  o += "|                                       Fractional Coordinates               |\n"
       "| Label   Occupancy                     x          y          z        Multi.|\n";
  o += kSiteRule;
  for (size_t s = 0; s < nSites; s++) {
    const AsymmetricUnitRecord &site = c.sites[s];
    std::string occupancy;
    for (int k = 0; k < kMaxSiteElements; k++) {
      if (site.occupancies[k] > 0.0f) {
        const std::string e = ElementText(site.elements[k]);
        Appendf(occupancy, "%c%c %5.3f ", e[0], e[1], double{site.occupancies[k]});
      } else {
        occupancy += "          ";
      }
    }
    Appendf(o, "| %-6s  %s%8.5f   %8.5f   %8.5f  %5ld |\n", std::string(SiteLabel(site)).c_str(), occupancy.c_str(),
            double{site.xyz[0]}, double{site.xyz[1]}, double{site.xyz[2]}, static_cast<long>(site.atomsPerCell));
  }
  o += kSiteRule;
  Appendf(o, "(Total of %ld atoms in the complete unit cell.)\n", static_cast<long>(c.atomsPerCell));
  o += "\n\n";

  o += "Listing of atomic coordinates for first unit cell\n";
  o += kSiteRule;
  o += "|              Fractional Coordinates          Orthogonal Coordinates        |\n"
       "| Label  Elmt  x         y         z           xor        yor        zor     |\n";
  o += kSiteRule;
  ForEachFirstCellAtom(c, [&](const AsymmetricUnitRecord &site, size_t a) {
    const AtomRecord &t = c.atoms[a];
    const std::string e = ElementText(site.elements[0]);
    Appendf(o, "| %-6s  %c%c%10.5f%10.5f%10.5f %11.5f%11.5f%11.5f |\n", std::string(SiteLabel(site)).c_str(), e[0], e[1],
            double{t.xyz[0]}, double{t.xyz[1]}, double{t.xyz[2]}, double{t.cart[0]}, double{t.cart[1]},
            double{t.cart[2]});
  });
  o += kSiteRule;
}

float TypeRadius(const CrystalRec &c, uint32_t site) {
  const uint32_t type = c.sites[site].atomType;
  return type < UsableSphereSize(c) ? c.spheres[type].radius : 0.0f;
}

void AppendSiteNeighbours(std::string &o, CrystalRec &c, uint32_t s, float radius, BondSearchResult *list,
                          uint32_t capacity, SiteNeighbourIndex &index) {
  const AsymmetricUnitRecord &site = c.sites[s];
  // A crystal's site is searched over all images of the crystal, a
  // molecule's from its atom.
  const auto search = [&](float within) {
    if (c.molecule)
      return SearchBondsFromAtom(&c, static_cast<uint32_t>(site.firstAtom), nullptr, 0, 0.0f, within, list, capacity);
    return index.Search(c, s, 0.0f, within, list, capacity);
  };
  float r = radius;
  uint32_t n = search(r);
  while (n == capacity && r >= kMinSearchRadius) {
    r *= kSearchRadiusShrink;
    n = search(r);
  }
  const std::string label(SiteLabel(site));
  const std::string e = ElementText(site.elements[0]);
  if (n == 0) {
    o += kAngleRule;
    Appendf(o, "| No bonds closer than %8.3f A                                      |\n", double{r});
    o += kAngleRule;
    return;
  }
  Appendf(o, "\nFound %ld atoms within %.2f A of atom %s (%c%c)\n", static_cast<long>(n), double{r}, label.c_str(), e[0],
          e[1]);
  const float ownRadius = TypeRadius(c, s);
  const bool esds = c.esdFlag != 0;
  const char *rule = esds ? "+----------------------------------------------------+\n"
                          : "+------------------------------------------+\n";
  o += rule;
  o += esds ? "|       label   elmt    distance [A]      d/(rA+rB)  |\n"
            : "|       label   elmt    d [A]    d/(rA+rB) |\n";
  o += rule;
  for (uint32_t k = 0; k < n; k++) {
    const BondSearchResult &b = list[k];
    const uint32_t other = static_cast<uint32_t>(b.site);
    const std::string oe = ElementText(c.sites[other].elements[0]);
    const std::string ol(SiteLabel(c.sites[other]));
    const float ratio = b.distance / (ownRadius + TypeRadius(c, other));
    if (esds)
      Appendf(o, "|%4ld.  %-6s   %c%c   %8.4f+/-%7.4f    %6.2f   |\n", static_cast<long>(k + 1), ol.c_str(), oe[0],
              oe[1], double{b.distance}, double{b.esd}, double{ratio});
    else
      Appendf(o, "|%4ld.  %-6s   %c%c   %8.4f    %6.2f   |\n", static_cast<long>(k + 1), ol.c_str(), oe[0], oe[1],
              double{b.distance}, double{ratio});
  }
  o += esds ? "+---------------------------------------------------+\n" : rule;
  o += "\n";
  if (n < 2)
    return;
  // The heading counts the neighbours the table uses.
  const size_t m = std::min<size_t>(n, kMaxAngleNeighbours);
  Appendf(o, "Bond angles around site %s (%c%c) to the %ld closest neighbours\n", label.c_str(), e[0], e[1],
          static_cast<long>(m));
  o += kAngleRule;
  o += "| A       B       C        A-B-C [deg]   A-B [A]    B-C [A]    C-A [A] |\n";
  o += kAngleRule;
  const AtomRecord &centre = c.atoms[static_cast<size_t>(site.firstAtom)];
  std::vector<std::array<float, 3>> cart(m);
  for (size_t k = 0; k < m; k++)
    MatMul(c.orientationMatrix, list[k].xyz, cart[k].data());
  for (size_t i = 0; i + 1 < m; i++) {
    if (i > 0)
      o += "|                                                                      |\n";
    const std::string la(SiteLabel(c.sites[static_cast<size_t>(list[i].site)]));
    for (size_t j = i + 1; j < m; j++) {
      float angle = 0.0f, dab = 0.0f, dbc = 0.0f, dca = 0.0f;
      Bangl(cart[i][0], cart[i][1], cart[i][2], centre.cart[0], centre.cart[1], centre.cart[2], cart[j][0],
            cart[j][1], cart[j][2], &angle, &dab, &dbc, &dca);
      Appendf(o, "| %-6s  %-6s  %-6s    %8.4f   %8.4f   %8.4f   %8.4f  |\n", la.c_str(), label.c_str(),
              std::string(SiteLabel(c.sites[static_cast<size_t>(list[j].site)])).c_str(), double{angle},
              double{dab}, double{dbc}, double{dca});
    }
  }
  o += kAngleRule;
}

} // namespace

size_t BondsReportListCapacity(const CrystalRec &c, float radius) {
  const double r2 = 2.0 * double{radius};
  const double n = (std::ceil(r2 / double{c.a}) + 1.0) * (std::ceil(r2 / double{c.b}) + 1.0) *
                   (std::ceil(r2 / double{c.c}) + 1.0) *
                   double(c.molecule ? UsableAtomCount(c) : std::max(c.atomsPerCell, 0));
  return n > 0.0 && n < 4.0e9 ? static_cast<size_t>(n) : 0;
}

std::string FormatBondsReport(CrystalRec &c, std::string_view title, std::string_view version, float radius) {
  std::string o;
  Appendf(o, "Distance and angle data for \"%s\"\n", TitleAsText(title).c_str());
  o += "\n";
  o += GeneratorLine(version);
  o += "\n\n";
  AppendSummary(o, c);

  WriteStatus("Writing bond distances and angles to file...");
  const size_t nSites = UsableSiteSize(c), nAtoms = UsableAtomSize(c);
  if (nSites > 0 && UsableSphereSize(c) > 0) {
    const size_t capacity = BondsReportListCapacity(c, radius);
    std::unique_ptr<BondSearchResult[]> list(capacity > 0 ? new (std::nothrow) BondSearchResult[capacity] : nullptr);
    if (!list) {
      MyCFCautionAlert(kNoMemoryForBondSearch);
    } else {
      SiteNeighbourIndex index(c, radius);
      for (size_t s = 0; s < nSites; s++) {
        const int32_t first = c.sites[s].firstAtom;
        if (first < 0 || static_cast<size_t>(first) >= nAtoms)
          continue;
        AppendSiteNeighbours(o, c, static_cast<uint32_t>(s), radius, list.get(), static_cast<uint32_t>(capacity),
                             index);
      }
    }
  }

  WriteStatus("Writing list of bonded atoms...");
  o += "\n------------------------------- Bond List ------------------------------\n";
  for (size_t a = 0; a < nAtoms; a++) {
    const AtomRecord &t = c.atoms[a];
    const size_t nBonds = std::min<size_t>(t.bondCount, t.bonds.size());
    if (!t.visible || nBonds == 0 || t.site >= nSites)
      continue;
    const std::string e = ElementText(c.sites[t.site].elements[0]);
    Appendf(o, "%6s (%c%c)  #%4ld ", std::string(SiteLabel(c.sites[t.site])).c_str(), e[0], e[1],
            static_cast<long>(a));
    for (size_t k = 0; k < nBonds; k++)
      Appendf(o, "%6ld", static_cast<long>(t.bonds[k]));
    o += "\n";
  }
  return o;
}

void WriteBondsFile(WindowRef window) {
  CrystalRec *c = GetWindowCrystal(window);
  if (!c || UsableAtomSize(*c) == 0)
    return;
  RunTextExport(window, kBondsKind, [&](const ExportContext &ctx) {
    return FormatBondsReport(*c, ctx.title, ctx.version, gPrefs.distanceMaximum);
  });
}
