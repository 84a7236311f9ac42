#include "export/DMolWriter.h"

#include "CellFrame.h"

#include "export/ExportFrame.h"
#include "import/ImportText.h"
#include "window/MainWindowData.h"

#include <cmath>
#include <ctime>

namespace {

const TextExportKind kDMolKind{"Save DMol archive file", ".car", "Writing coordinates to a DMol file", nullptr};

// A placeholder atom is "X", as other programs' readers of the format name
// it.
void AtomLine(std::string &o, ElementCode element, long serial, const double p[3]) {
  std::string symbol = element == kPlaceholderElement ? "X" : ElementText(element);
  if (symbol.size() > 1 && symbol[1] == ' ')
    symbol.pop_back();
  const std::string name = symbol + std::to_string(serial);
  Appendf(o, "%-5s %14.9f %14.9f %14.9f XXXX 1      xx      %-2s  0.000\n", name.c_str(), p[0], p[1], p[2],
          symbol.c_str());
}

} // namespace

std::string DMolDateText() {
  static const char *const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char *const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const std::time_t now = std::time(nullptr);
  std::tm t{};
  localtime_r(&now, &t);
  std::string o;
  Appendf(o, "%s %s %02d %02d:%02d:%02d %d", kDays[t.tm_wday % 7], kMonths[t.tm_mon % 12], t.tm_mday, t.tm_hour,
          t.tm_min, t.tm_sec, t.tm_year + 1900);
  return o;
}

std::string FormatDMolFile(const CrystalRec &c, std::string_view title, std::string_view date) {
  std::string o = "!BIOSYM archive 3\n";
  o += c.molecule ? "PBC=OFF\n" : "PBC=ON\n";
  // A title the reader could take for a keyword line is left out.
  std::string text = TitleAsAscii(title);
  if (text.starts_with('!') || text.starts_with("PBC") || text.starts_with("end"))
    text.clear();
  o += text + "\n";
  o += "!DATE " + std::string(date) + "\n";
  const size_t nSites = UsableSiteSize(c), nAtoms = UsableAtomSize(c);
  long serial = 0;
  WriteProgress("Writing coordinates to a DMol file", 0.0f);
  if (c.molecule) {
    for (size_t k = 0; k < nAtoms; k++) {
      const AtomRecord &a = c.atoms[k];
      const double p[3] = {a.cart[0], a.cart[1], a.cart[2]};
      AtomLine(o, a.site < nSites ? c.sites[a.site].elements[0] : kBlankElement, ++serial, p);
    }
  } else {
    Appendf(o, "PBC %9.4f %9.4f %9.4f %9.4f %9.4f %9.4f (P1)\n", double{c.a}, double{c.b}, double{c.c},
            double{c.alpha}, double{c.beta}, double{c.gamma});
    double rows[3][3];
    StandardCellVectors(c.a, c.b, c.c, c.alpha, c.beta, c.gamma, rows);
    for (size_t s = 0; s < nSites; s++) {
      const AsymmetricUnitRecord &site = c.sites[s];
      if (site.firstAtom < 0 || site.atomsPerCell < 1)
        continue;
      const size_t first = static_cast<size_t>(site.firstAtom);
      for (size_t k = first; k < std::min(nAtoms, first + static_cast<size_t>(site.atomsPerCell)); k++) {
        const float *xyz = c.atoms[k].xyz;
        const double u[3] = {WrapFraction(xyz[0]), WrapFraction(xyz[1]), WrapFraction(xyz[2])};
        double p[3];
        CartesianFromFractional(rows, u, p);
        AtomLine(o, site.elements[0], ++serial, p);
      }
    }
  }
  o += "end\nend\n";
  WriteProgress("", 100.0f);
  return o;
}

void DoWriteDMolFile(WindowRef window) {
  const CrystalRec *c = GetWindowCrystal(window);
  if (!c || UsableAtomSize(*c) == 0)
    return;
  RunTextExport(window, kDMolKind, [&](const ExportContext &ctx) { return FormatDMolFile(*c, ctx.title, DMolDateText()); });
}
