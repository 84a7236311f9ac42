#include "export/XYZWriter.h"

#include "export/ExportFrame.h"

#include "StructureArrays.h"
#include "window/MainWindowData.h"

#include <cmath>

namespace {

const TextExportKind kXYZKind{"Save XYZ text file", ".xyz", "Writing coordinates to an XYZ file",
                              "Closing output file..."};

// The element symbol in its usual case ("Cl").
std::string Symbol(ElementCode code) {
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

// Row k is the cell vector k in Cartesian Angstrom: a along x, b in the
// x-y plane.
void CellVectors(const CrystalRec &c, double L[3][3]) {
  const double d = M_PI / 180.0;
  const double ca = std::cos(c.alpha * d), cb = std::cos(c.beta * d), cg = std::cos(c.gamma * d),
               sg = std::sin(c.gamma * d);
  const double v = std::sqrt(std::max(0.0, 1.0 - ca * ca - cb * cb - cg * cg + 2.0 * ca * cb * cg));
  const double L0[3][3] = {
      {c.a, 0.0, 0.0}, {c.b * cg, c.b * sg, 0.0}, {c.c * cb, c.c * (ca - cb * cg) / sg, c.c * v / sg}};
  std::copy(&L0[0][0], &L0[0][0] + 9, &L[0][0]);
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
  CellVectors(c, L);
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
    double f[3];
    for (int k = 0; k < 3; k++) {
      f[k] = double{a.xyz[k]} - std::floor(double{a.xyz[k]});
      if (f[k] >= 1.0)
        f[k] = 0.0;
    }
    double x[3];
    for (int j = 0; j < 3; j++)
      x[j] = f[0] * L[0][j] + f[1] * L[1][j] + f[2] * L[2][j];
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
