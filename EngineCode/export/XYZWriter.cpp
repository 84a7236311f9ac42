#include "export/XYZWriter.h"

#include "CellFrame.h"

#include "export/ExportFrame.h"
#include "import/ImportText.h"

#include "StructureArrays.h"
#include "window/MainWindowData.h"

#include <cmath>

namespace {

const TextExportKind kXYZKind{"Save XYZ text file", ".xyz", "Writing coordinates to an XYZ file",
                              "Closing output file..."};

// The element symbol in its usual case ("Cl"); a placeholder atom is "X",
// as other programs' readers of the format name it.
std::string Symbol(ElementCode code) {
  if (code == kPlaceholderElement)
    return "X";
  std::string e = ElementText(code);
  if (e[1] == ' ' || e[1] == '\0')
    e.resize(1);
  else
    e[1] = static_cast<char>(std::tolower(static_cast<unsigned char>(e[1])));
  return e;
}

// A comment line holds no line end; a blank title leaves it empty.
std::string CommentOf(std::string_view title) {
  std::string t = TitleAsText(title);
  for (char &ch : t)
    if (ch == '\n' || ch == '\r' || ch == '"')
      ch = ' ';
  return t;
}

} // namespace

std::string FormatXYZFile(const CrystalRec &c, std::string_view title) {
  std::string o;
  WriteProgress("Writing coordinates to an XYZ file", 0.0f);
  if (c.molecule) {
    const size_t n = UsableAtomSize(c);
    o.reserve(64 + n * 48);
    Appendf(o, "%zu\n%s\n", n, CommentOf(title).c_str());
    for (size_t k = 0; k < n; k++) {
      const AtomRecord &a = c.atoms[k];
      Appendf(o, "%-2s %14.6f %14.6f %14.6f\n", Symbol(c.sites[a.site].elements[0]).c_str(), double{a.cart[0]},
              double{a.cart[1]}, double{a.cart[2]});
    }
    return o;
  }
  // One cell: the first cell's atoms, each site's orbit once, moved into
  // [0, 1) so that none stands on a wall twice.
  const auto cell = ExtractFirstUnitCell(&c);
  if (!cell)
    return o;
  double L[3][3];
  StandardCellVectors(c.a, c.b, c.c, c.alpha, c.beta, c.gamma, L);
  o.reserve(160 + cell->size() * 48);
  Appendf(o, "%zu\nLattice=\"", cell->size());
  for (int i = 0; i < 3; i++)
    for (int j = 0; j < 3; j++)
      Appendf(o, i + j == 0 ? "%.6f" : " %.6f", L[i][j]);
  o += "\" Properties=species:S:1:pos:R:3 pbc=\"T T T\"";
  const std::string comment = CommentOf(title);
  if (!comment.empty())
    o += " title=\"" + comment + "\"";
  o += '\n';
  for (const AtomRecord &a : *cell) {
    const double f[3] = {WrapFraction(a.xyz[0]), WrapFraction(a.xyz[1]), WrapFraction(a.xyz[2])};
    double x[3];
    CartesianFromFractional(L, f, x);
    Appendf(o, "%-2s %14.6f %14.6f %14.6f\n", Symbol(c.sites[a.site].elements[0]).c_str(), x[0], x[1], x[2]);
  }
  return o;
}

void DoWriteXYZFile(WindowRef window) {
  const CrystalRec *c = GetWindowCrystal(window);
  if (!c || UsableSiteSize(*c) == 0 || UsableAtomSize(*c) == 0)
    return;
  RunTextExport(window, kXYZKind, [&](const ExportContext &ctx) { return FormatXYZFile(*c, ctx.title); });
}
