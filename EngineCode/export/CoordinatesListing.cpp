// The coordinates listing and the visible coordination listing: the atoms
// shown on screen, alone or with their bonded neighbours.
#include "export/ExportFrame.h"
#include "export/Listings.h"

#include "Alerts.h"
#include "Geometry.h"
#include "VectorMath.h"
#include "window/MainWindowData.h"

namespace {

const TextExportKind kCoordinatesKind{"Export coordinates", " coordinates.txt", "Writing coordinates to a text file",
                                      "Closing data file..."};
const TextExportKind kVisibleCoordinationKind{"Export coordination groups", " visible coordination.txt",
                                              "Writing coordinates to a text file", "Closing data file..."};

// "%c%c   %6s " and, for a crystal, the fractional coordinates; the
// Cartesian coordinates follow separately.
void AppendAtomHead(std::string &o, const CrystalRec &c, const AtomRecord &t) {
  const AsymmetricUnitRecord &site = c.sites[t.site];
  const std::string e = ElementText(site.elements[0]);
  char label[7];
  PadSiteLabel(SiteLabel(site), label);
  Appendf(o, "%c%c   %6s ", e[0], e[1], label);
  if (!c.molecule)
    Appendf(o, "%12.6f%12.6f%12.6f   ", double{t.xyz[0]}, double{t.xyz[1]}, double{t.xyz[2]});
}

} // namespace

std::string FormatCoordinatesListing(const CrystalRec &c, std::string_view title, std::string_view version) {
  std::string o;
  Appendf(o, "Coordinates for \"%s\"\n", TitleAsText(title).c_str());
  o += "\n";
  o += "This file lists the fractional and/or orthogonal coordinates for all\n"
       "visible atoms in the plot, as sorted by element type and site symbol.\n"
       "\n";
  o += GeneratorLine(version);
  o += "\n\n";
  if (!c.molecule) {
    o += "Unit cell parameters:-\n";
    AppendCellBlock(o, c);
    o += "\n\n";
  }
  Appendf(o, "Listing of all %ld atoms displayed on screen:\n", static_cast<long>(CountShownAtoms(c)));
  const std::string rule = std::string(c.molecule ? 48 : 87, '-') + "\n";
  o += rule;
  if (c.molecule)
    o += "                 Orthogonal Coordinates [A]     \n"
         "Elmt Label       xor         yor         zor    \n";
  else
    o += "                Fractional Coordinates                  Orthogonal Coordinates [A]          \n"
         "Elmt Label      x           y           z               xor         yor         zor         \n";
  o += rule;
  ForEachShownAtom(c, [&](size_t a) {
    const AtomRecord &t = c.atoms[a];
    AppendAtomHead(o, c, t);
    Appendf(o, "%12.5f%12.5f%12.5f\n", double{t.cart[0]}, double{t.cart[1]}, double{t.cart[2]});
  });
  o += rule;
  return o;
}

std::string FormatVisibleCoordinationListing(const CrystalRec &c, std::string_view title, std::string_view version) {
  std::string o;
  Appendf(o, "Visible coordination data for \"%s\"\n", TitleAsText(title).c_str());
  o += "\n";
  o += "This file lists the fractional and/or orthogonal coordinates for all\n"
       "visible atoms in the plot, as sorted by element type and site symbol.\n"
       "The resulting coordination groups are separated by blank lines.\n"
       "\n"
       "For each group, the ideal coordination number \"CN\" is given. If an atom \n"
       "is underbonded - usually because one or more neighbours lies outside the\n"
       "plot range - then the coordination number is preceded by a \"<\" symbol.\n"
       "\n";
  o += GeneratorLine(version);
  o += "\n\n";
  if (!c.molecule) {
    o += "Unit cell parameters:\n";
    AppendCellBlock(o, c);
    o += "\n\n";
  }
  o += "Global bond specifications:\n";
  AppendBondSpecLines(o, c);
  o += "\n\n";
  Appendf(o, "Listing of all %ld atoms displayed on screen:\n", static_cast<long>(CountShownAtoms(c)));
  const std::string rule = std::string(c.molecule ? 68 : 107, '-') + "\n";
  o += rule;
  if (c.molecule)
    o += "                      Orthogonal Coordinates [A]                    \n"
         "CN   Elmt Label       xor         yor         zor            d [A]  \n";
  else
    o += "                     Fractional Coordinates                  Orthogonal Coordinates [A]                    \n"
         "CN   Elmt Label      x           y           z               xor         yor         zor            d [A]  \n";
  o += rule;
  const size_t nAtoms = UsableAtomSize(c);
  ForEachShownAtom(c, [&](size_t a) {
    const AtomRecord &t = c.atoms[a];
    const uint32_t cn = c.sites[t.site].coordination;
    Appendf(o, "%c%-2ld  ", t.bondCount < cn ? '<' : ' ', static_cast<long>(cn));
    AppendAtomHead(o, c, t);
    Appendf(o, "%12.5f%12.5f%12.5f\n", double{t.cart[0]}, double{t.cart[1]}, double{t.cart[2]});
    const size_t nBonds = std::min<size_t>(t.bondCount, t.bonds.size());
    for (size_t k = 0; k < nBonds; k++) {
      const uint32_t p = t.bonds[k];
      if (p >= nAtoms || !c.atoms[p].visible || c.atoms[p].site >= UsableSiteSize(c))
        continue;
      const AtomRecord &n = c.atoms[p];
      o += "     ";
      AppendAtomHead(o, c, n);
      Appendf(o, "%12.5f%12.5f%12.5f   %12.5f\n", double{n.cart[0]}, double{n.cart[1]}, double{n.cart[2]},
              double{VecBondDist(t.cart, n.cart)});
    }
    o += "\n";
  });
  o += rule;
  return o;
}

void WriteCoordinatesFile(WindowRef window) {
  const CrystalRec *c = GetWindowCrystal(window);
  if (!c)
    return;
  RunTextExport(window, kCoordinatesKind,
                [&](const ExportContext &ctx) { return FormatCoordinatesListing(*c, ctx.title, ctx.version); });
}

void WriteVisibleCoordinationFile(WindowRef window) {
  const CrystalRec *c = GetWindowCrystal(window);
  if (!c)
    return;
  if (CountShownAtoms(*c) == 0) {
    MyCFStopAlert(kNoAtomsVisible);
    return;
  }
  RunTextExport(window, kVisibleCoordinationKind, [&](const ExportContext &ctx) {
    return FormatVisibleCoordinationListing(*c, ctx.title, ctx.version);
  });
}
