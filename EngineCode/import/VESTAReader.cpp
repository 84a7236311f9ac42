// Files of the three-dimensional visualisation program (.vesta): plain text
// in sections, each headed by a word in capitals at the start of a line and
// followed by blank-separated values, most lists ended by a row of zeros.
// No grammar is published; what is read follows the public unofficial
// description:
//   CRYSTAL   starts a phase (each phase is a structure of its own; one
//             without atoms is left out, with a Log line);
//   TITLE     the next line is the phase's title;
//   GROUP     number, setting and symbol ("225 1 F m -3 m"): the group;
//   SYMOP     one operator a row, translation t1 t2 t3 then the rotation
//             row by row (and a multiplicity), ended by "-1 -1 -1 0 ...":
//             checked against GROUP, a Log line where they differ (and the
//             operators are used when the table knows no such symbol);
//   CELLP     a b c alpha beta gamma, then their esds;
//   STRUC     two lines a site: index, element, label, occupancy, x y z,
//             Wyckoff letter, ...; then the coordinates' esds and charge;
//   THERI f   index, label, Uiso (f = 1) or Biso (f = 0);
//   THERT f   0: THERM holds U; 1: it holds beta (not read: a Log line);
//   THERM     index, label, U11 U22 U33 U12 U13 U23, overriding THERI where
//             not all zero;
//   SBOND     index, A1, A2, dmin, dmax, search mode, boundary mode,
//             polyhedra, by-label flag, ?, radius, width, R G B: the
//             structure's bond specifications (A1 and A2 are elements, or
//             site labels when the flag is 1; "XX" is any element). A file
//             with rows in SBOND is bonded as they say and nothing more; one
//             without gets the automatic bonds;
//   ATOMT     index, element, radius, R G B: the atom types' radii and
//             colours.
// Everything else (SITET, the scene, the style and volumetric sections) is
// passed over.
#include "import/ImportSymmetry.h"
#include "import/ImportText.h"
#include "import/ImportTypes.h"
#include "import/SiteDisplacement.h"
#include "import/StructureFill.h"
#include "import/TextNumbers.h"

#include "EllipsoidMaths.h"
#include "StoredLimits.h"
#include "SymmetryCards.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <map>
#include <optional>
#include <set>

namespace {

// Site indices beyond this are no file's.
constexpr long kLargestIndex = 1000000000;
// A colour channel of the file (0-255) as the record keeps it.
constexpr double kChannelScale = 257.0;

struct Section {
  std::string_view name;
  int line = 0;                         // of the header
  std::vector<std::string_view> header; // the header line's other tokens
  std::vector<std::pair<int, std::vector<std::string_view>>> rows;
};

// Three channels of the file (0-255) as a colour; none when one is no
// number.
std::optional<RGBColor> FileColour(std::string_view r, std::string_view g, std::string_view b) {
  const auto v = {ImportNumber(r), ImportNumber(g), ImportNumber(b)};
  uint16_t c[3] = {};
  size_t k = 0;
  for (const auto &x : v) {
    if (!x)
      return std::nullopt;
    c[k++] = static_cast<uint16_t>(std::clamp(*x, 0.0, 255.0) * kChannelScale);
  }
  return RGBColor{c[0], c[1], c[2]};
}

bool IsHeader(std::string_view token) {
  if (token.size() < 4 || !std::isupper(static_cast<unsigned char>(token[0])))
    return false;
  return std::all_of(token.begin(), token.end(), [](char ch) {
    return std::isupper(static_cast<unsigned char>(ch)) || std::isdigit(static_cast<unsigned char>(ch)) || ch == '_';
  });
}

bool AllZero(const std::vector<std::string_view> &t) {
  return std::all_of(t.begin(), t.end(), [](std::string_view v) { return ImportNumber(v) == 0.0; });
}

// The sections of one phase, in file order; the title is kept apart
// because any text may stand on its line.
struct PhaseText {
  int line = 0;
  std::string title;
  std::vector<Section> sections;
  const Section *Find(std::string_view name) const {
    for (const Section &s : sections)
      if (s.name == name)
        return &s;
    return nullptr;
  }
};

class Reader {
public:
  Reader(const ImportSource &source, ImportResult &result) : source_(source), result_(result) {}
  bool Read();

private:
  bool Phase(const PhaseText &p);
  bool Symmetry(ImportedStructure &s, const PhaseText &p);
  bool Bonds(ImportedStructure &s, const Section &sbond, const std::map<std::string, ElementCode> &labels);
  void Looks(CrystalRec &c) const;

  const ImportSource &source_;
  ImportResult &result_;
  std::vector<AtomTypeLook> looks_;
};

bool Reader::Symmetry(ImportedStructure &s, const PhaseText &p) {
  const Section *group = p.Find("GROUP");
  const Section *symop = p.Find("SYMOP");
  std::vector<GEP> ops;
  if (symop)
    for (const auto &[line, t] : symop->rows) {
      if (t.size() < 12)
        return RefuseImport(result_, line, "a SYMOP row needs a translation and a rotation of nine numbers");
      std::optional<double> v[12];
      for (size_t k = 0; k < 12; k++)
        v[k] = ImportNumber(t[k]);
      if (!std::all_of(v, v + 12, [](const auto &x) { return x.has_value(); }))
        return RefuseImport(result_, line, "a SYMOP row holds a value that is no number");
      if (*v[0] == -1.0 && *v[1] == -1.0 && *v[2] == -1.0 &&
          std::all_of(v + 3, v + 12, [](auto &x) { return *x == 0; }))
        break;
      GEP g;
      for (int i = 0; i < 3; i++) {
        g.translation[i] = *v[i];
        for (int j = 0; j < 3; j++) {
          const auto r = ImportWholeIn(v[3 + 3 * i + j], -1, 1);
          if (!r)
            return RefuseImport(result_, line, "a SYMOP rotation holds a value other than -1, 0 or 1");
          g.rotation[i][j] = static_cast<int16_t>(*r);
        }
      }
      ops.push_back(g);
    }
  std::string symbol;
  int origin = 0, line = group ? group->line : 0;
  if (group && !group->rows.empty()) {
    const auto &t = group->rows[0].second;
    line = group->rows[0].first;
    for (size_t k = 2; k < t.size(); k++)
      symbol += (k > 2 ? " " : "") + std::string(t[k]);
    if (t.size() > 1 && (t[1] == "1" || t[1] == "2"))
      origin = t[1][0] - '0';
  }
  // The setting is the origin of a group of two; of any other group it is
  // another kind of choice, which the symbol itself makes.
  if (!symbol.empty() &&
      (SetSymmetryFromSymbol(s, symbol, origin, line) || SetSymmetryFromSymbol(s, symbol, 0, line))) {
    if (ops.empty())
      return true;
    // The operators' own group, worked out on a copy.
    ImportedStructure check;
    check.crystal.alpha = s.crystal.alpha, check.crystal.beta = s.crystal.beta, check.crystal.gamma = s.crystal.gamma;
    ImportError ignored;
    if (SetSymmetryFromOperators(check, std::span<const GEP>(ops), line, ignored) &&
        (check.crystal.cardCount != 0 ||
         std::string_view(check.crystal.spaceGroup) != std::string_view(s.crystal.spaceGroup) ||
         check.crystal.originChoice != s.crystal.originChoice))
      ImportWarning(s, symop->line,
                    "the operators of SYMOP are not those of the group \"" + symbol + "\" that GROUP names (" +
                        (check.crystal.cardCount ? std::to_string(check.crystal.cardCount) + " operators"
                                                 : "\"" + std::string(check.crystal.spaceGroup) + "\"") +
                        "); GROUP is used.");
    return true;
  }
  if (ops.empty()) {
    if (!symbol.empty())
      return RefuseImport(result_, line, "the space group \"" + symbol + "\" is not one this version knows");
    ImportWarning(s, 0, "the phase names no space group; P 1 is taken.");
    return SetSymmetryFromSymbol(s, "P 1", 0, 0);
  }
  if (!symbol.empty())
    ImportWarning(s, line,
                  "the space group \"" + symbol + "\" is not one this version knows; the operators of SYMOP are used.");
  return SetSymmetryFromOperators(s, std::span<const GEP>(ops), symop->line, result_.error);
}

bool Reader::Bonds(ImportedStructure &s, const Section &sbond, const std::map<std::string, ElementCode> &labels) {
  CrystalRec &c = s.crystal;
  std::set<ElementCode> present;
  for (const AsymmetricUnitRecord &site : c.sites)
    present.insert(site.elements[0]);
  for (const auto &[line, t] : sbond.rows) {
    if (AllZero(t))
      break;
    if (t.size() < 5)
      return RefuseImport(result_, line, "an SBOND row needs two atoms and two distances");
    const auto dmin = ImportNumber(t[3]), dmax = ImportNumber(t[4]);
    if (!dmin || !dmax)
      return RefuseNumber(result_, line, "bond distance", dmin ? t[4] : t[3]);
    const bool byLabel = t.size() > 8 && t[8] == "1";
    auto side = [&](std::string_view name) -> std::vector<ElementCode> {
      if (ImportEqualNoCase(name, "XX"))
        return {present.begin(), present.end()};
      if (byLabel) {
        const auto it = labels.find(std::string(name));
        return it == labels.end() ? std::vector<ElementCode>{} : std::vector<ElementCode>{it->second};
      }
      const auto e = ElementFromSymbol(name);
      return e ? std::vector<ElementCode>{*e} : std::vector<ElementCode>{};
    };
    const auto as = side(t[1]), bs = side(t[2]);
    if (as.empty() || bs.empty()) {
      ImportWarning(s, line,
                    "the bond " + std::string(t[1]) + "-" + std::string(t[2]) +
                        " names no atom of the structure; it is left out.");
      continue;
    }
    // A maximum beyond the largest a specification takes is held to it.
    double most = *dmax;
    if (!(most <= double{kMaxBondSpecLength})) {
      most = kMaxBondSpecLength;
      const std::string held = FormatFixed(stored::kBondLength.high, 0) + stored::kBondLength.unit;
      ImportWarning(s, line, "SBOND " + std::string(t[4]) + " is beyond the largest bond maximum, " + held + "; " +
                                 held + " used.");
    }
    const RGBColor colour = t.size() >= 15 ? FileColour(t[12], t[13], t[14]).value_or(c.bondColor1) : c.bondColor1;
    for (ElementCode a : as)
      for (ElementCode b : bs) {
        if (c.bondSpecCount >= kMaxBondSpecs) {
          ImportWarning(s, line,
                        "more than " + std::to_string(kMaxBondSpecs) +
                            " bond specifications; the rest of SBOND is left out.");
          return true;
        }
        BondSpec &spec = c.bondSpecs[static_cast<size_t>(c.bondSpecCount++)];
        spec = BondSpec{};
        spec.elementA = a;
        spec.elementB = b;
        spec.minLength = ImportFloat(std::max(0.0, *dmin));
        spec.maxLength = static_cast<float>(std::max(most, 0.0));
        spec.style = c.defaultBondStyle;
        spec.colour1 = spec.colour2 = colour;
      }
  }
  return true;
}

void Reader::Looks(CrystalRec &c) const {
  for (SphereRecord &sphere : c.spheres)
    for (const AtomTypeLook &look : looks_)
      if (look.element == sphere.element) {
        sphere.radius = look.radius;
        sphere.colour = look.colour;
      }
}

bool Reader::Phase(const PhaseText &p) {
  ImportedStructure *s = BeginImportedStructure(result_, p.title.empty() ? source_.name : p.title, p.line);
  if (!s)
    return false;
  s->extras.title = p.title;
  const Section *cellp = p.Find("CELLP");
  if (!cellp || cellp->rows.empty())
    return RefuseImport(result_, p.line, "the phase gives no cell (CELLP)");
  double cell[6], esd[6] = {};
  for (int row = 0; row < 2 && row < static_cast<int>(cellp->rows.size()); row++) {
    const auto &[line, t] = cellp->rows[static_cast<size_t>(row)];
    for (size_t k = 0; k < 6; k++) {
      const auto v = k < t.size() ? ImportNumber(t[k]) : std::nullopt;
      if (!v)
        return RefuseImport(result_, line, "CELLP needs six numbers on each of its lines");
      (row == 0 ? cell : esd)[k] = *v;
    }
  }
  if (!SetImportCell(*s, result_.error, cellp->rows[0].first, cell, esd) || !Symmetry(*s, p))
    return false;

  const Section *struc = p.Find("STRUC");
  // The list ends in a row of zeros: without it, the file was cut inside
  // the list and every section after it is lost.
  bool closed = false; // a site's row, then its esds' row
  for (size_t r = 0; struc && r < struc->rows.size() && !closed; r += 2)
    closed = AllZero(struc->rows[r].second);
  if (struc && !closed)
    return RefuseImport(result_, struc->rows.empty() ? struc->line : struc->rows.back().first,
                        "the STRUC list ends without its row of zeros: the file is cut short");
  std::map<long, size_t> siteOfIndex;
  std::map<std::string, ElementCode> elementOfLabel;
  if (struc)
    for (size_t r = 0; r < struc->rows.size(); r += 2) { // each site's line and its esds' line
      const auto &[line, t] = struc->rows[r];
      if (AllZero(t))
        break;
      const auto index = t.empty() ? std::nullopt : ImportWholeIn(ImportNumber(t[0]), 0, kLargestIndex);
      if (t.size() < 7 || !index)
        return RefuseImport(result_, line, "a STRUC site needs an index, element, label, occupancy and x y z");
      std::optional<double> v[4] = {ImportNumber(t[3]), ImportNumber(t[4]), ImportNumber(t[5]), ImportNumber(t[6])};
      for (size_t k = 0; k < 4; k++)
        if (!v[k])
          return RefuseNumber(result_, line, k == 0 ? "occupancy" : "coordinate", t[3 + k], "site " + std::string(t[2]));
      auto element = ElementFromSymbol(t[1]);
      if (!element) {
        element = kPlaceholderElement;
        ImportWarning(*s, line,
                      "site " + std::string(t[2]) + " names no element (\"" + std::string(t[1]) +
                          "\"); it is drawn as a placeholder.");
      }
      const double xyz[3] = {*v[1], *v[2], *v[3]};
      AsymmetricUnitRecord *site = AppendImportSite(result_, *s, t[2], *element, xyz, line);
      if (!site)
        return false;
      site->occupancies[0] = ImportFloat(*v[0]);
      siteOfIndex[*index] = s->crystal.sites.size() - 1;
      elementOfLabel.emplace(std::string(t[2]), *element);
    }
  // Displacements by site index.
  auto site = [&](const std::vector<std::string_view> &t) -> AsymmetricUnitRecord * {
    const auto index = t.empty() ? std::nullopt : ImportWholeIn(ImportNumber(t[0]), 0, kLargestIndex);
    const auto it = index ? siteOfIndex.find(*index) : siteOfIndex.end();
    return it == siteOfIndex.end() ? nullptr : &s->crystal.sites[it->second];
  };
  if (const Section *theri = p.Find("THERI")) {
    const bool isB = !theri->header.empty() && theri->header[0] == "0";
    WarningNames none; // sites of no displacement: drawn with the default
    for (const auto &[line, t] : theri->rows) {
      if (AllZero(t))
        break;
      std::optional<double> v;
      if (t.size() >= 3)
        v = ImportNumber(t[2]);
      AsymmetricUnitRecord *a = site(t);
      if (a && v && *v <= 0.0)
        none.Add(t[1]);
      else if (a && v)
        isB ? SetSiteBiso(s->crystal, *a, *v) : SetSiteUiso(s->crystal, *a, *v);
    }
    if (!none.Empty())
      ImportWarning(*s, theri->line,
                    std::to_string(none.Count()) + " site(s) give no displacement (" + none.Text() +
                        "); they are drawn with the default.");
  }
  const Section *thert = p.Find("THERT");
  if (const Section *therm = p.Find("THERM")) {
    if (thert && !thert->header.empty() && thert->header[0] == "1") {
      ImportWarning(*s, therm->line, "THERM gives beta values, which are not read; the sites stay isotropic.");
    } else {
      WarningNames invalid; // the sites whose tensor draws no ellipsoid
      for (const auto &[line, t] : therm->rows) {
        if (AllZero(t))
          break;
        double u[6];
        bool numbers = t.size() >= 8, any = false;
        for (size_t k = 0; numbers && k < 6; k++) {
          const auto v = ImportNumber(t[2 + k]);
          numbers = v.has_value();
          u[k] = v.value_or(0.0);
          any = any || u[k] != 0.0;
        }
        AsymmetricUnitRecord *a = site(t);
        if (!a || !numbers || !any)
          continue;
        const float m[9] = {ImportFloat(u[0]), ImportFloat(u[3]), ImportFloat(u[4]), ImportFloat(u[3]), ImportFloat(u[1]),
                            ImportFloat(u[5]), ImportFloat(u[4]), ImportFloat(u[5]), ImportFloat(u[2])};
        if (IsUijValid(m)) {
          SetSiteUij(s->crystal, *a, u);
        } else {
          invalid.Add(t[1]);
        }
      }
      // One line for the file: the sites keep their isotropic value.
      if (!invalid.Empty())
        ImportWarning(*s, therm->line,
                      std::to_string(invalid.Count()) + " site(s) have an invalid thermal ellipsoid tensor (" +
                          invalid.Text() + "); they keep their isotropic displacement.");
    }
  }
  if (const Section *sbond = p.Find("SBOND"))
    if (!Bonds(*s, *sbond, elementOfLabel))
      return false;
  if (!FinishImportedStructure(*s, result_.error))
    return false;
  Looks(s->crystal);
  return true;
}

bool Reader::Read() {
  const auto lines = ImportLines(source_.text);
  std::vector<PhaseText> phases;
  std::vector<Section> global;
  std::vector<Section> *into = &global;
  for (size_t n = 0; n < lines.size(); n++) {
    const auto t = ImportTokens(lines[n]);
    const int number = static_cast<int>(n + 1);
    if (t.empty())
      continue;
    if (t[0] == "CRYSTAL") {
      phases.push_back({number, "", {}});
      into = &phases.back().sections;
    } else if (t[0] == "TITLE" && !phases.empty()) {
      if (n + 1 < lines.size())
        phases.back().title = std::string(TrimImport(lines[++n]));
    } else if (IsHeader(t[0])) {
      // Lists after the last phase's own (ATOMT, the style) belong to the
      // file.
      if (t[0] == "ATOMT" || t[0] == "STYLE")
        into = &global;
      into->push_back({t[0], number, {t.begin() + 1, t.end()}, {}});
    } else if (!into->empty()) {
      into->back().rows.emplace_back(number, t);
    }
  }
  if (phases.empty())
    return RefuseImport(result_, 0, "it holds no CRYSTAL");
  for (const Section &sec : global)
    if (sec.name == "ATOMT")
      for (const auto &[line, t] : sec.rows) {
        if (AllZero(t) || t.size() < 6)
          continue;
        const auto e = ElementFromSymbol(t[1]);
        const auto r = ImportNumber(t[2]);
        const auto colour = FileColour(t[3], t[4], t[5]);
        if (e && r && colour && *r > 0.0)
          looks_.push_back({*e, ImportFloat(std::min(*r, double{kMaxStoredRadius})), *colour});
      }
  std::vector<std::string> leftOut;
  for (size_t k = 0; k < phases.size(); k++) {
    const PhaseText &p = phases[k];
    const Section *struc = p.Find("STRUC");
    if (!struc || struc->rows.empty() || AllZero(struc->rows[0].second)) {
      leftOut.push_back("phase " + std::to_string(k + 1) + (p.title.empty() ? "" : " (" + p.title + ")") +
                        " has no atoms; it is left out.");
      continue;
    }
    if (!Phase(p))
      return false;
  }
  return SayPartsLeftOut(result_, leftOut);
}

} // namespace

bool IsVESTAFile(const ImportSource &source) {
  const std::string_view head = TrimImport(std::string_view(source.text).substr(0, 64));
  return head.starts_with("#VESTA_FORMAT_VERSION") || head.starts_with("CRYSTAL\n");
}

bool DoVESTAFile(const ImportSource &source, ImportResult &result) {
  return !RefuseCutInsideNumber(source, result) && Reader(source, result).Read();
}

extern const ImportFormat gVESTAImport{"VESTA", "VESTA files", "vesta", "", IsVESTAFile, DoVESTAFile};
