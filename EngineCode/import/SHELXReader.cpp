// SHELX instruction files (.ins) and refinement results (.res): the cell,
// the lattice and symmetry cards, the scattering factors and the atoms with
// their occupations and displacement parameters, coded through free
// variables as the refinement program codes them.
#include "CellFrame.h"
#include "FractionalPlaces.h"
#include "SymmetryCards.h"
#include "import/ImportSymmetry.h"
#include "import/ElementOfName.h"
#include "import/ImportText.h"
#include "import/NameEnding.h"
#include "import/ImportTypes.h"
#include "import/MixedSites.h"
#include "import/StructureFill.h"
#include "import/TextNumbers.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <unordered_map>

namespace {

// A parameter of 10m + p with |m| > 1 refers to free variable |m|; |m| = 1
// fixes it at p.
constexpr double kFreeVariableStep = 10.0;
constexpr double kFreeVariableHalfStep = 5.0;
// Free variables the refinement program refines at most.
constexpr int kMaxFreeVariables = 99;
// A negative Uiso between these rides on the previous atom's Ueq.
constexpr double kRidingMin = 0.5, kRidingMax = 5.0;
// Lines the detector looks at.
constexpr size_t kDetectLines = 400;
// The detector reads no further into the text.
constexpr size_t kDetectBytes = size_t{1} << 16;
// An atom's fields: label, scattering factor, x y z, occupancy, then Uiso
// or U11 U22 U33 U23 U13 U12.
constexpr size_t kFieldsWithUiso = 7, kFieldsWithUij = 12;

// Instructions of the refinement program: a line whose first four letters
// name one is never an atom.
constexpr std::string_view kInstructions[] = {
    "TITL", "CELL", "ZERR", "LATT", "SYMM", "SFAC", "DISP", "UNIT", "LAUE", "REM",  "MORE", "TIME", "END",
    "HKLF", "OMIT", "SHEL", "BASF", "TWIN", "EXTI", "SWAT", "HOPE", "MERG", "SPEC", "RESI", "MOVE", "ANIS",
    "AFIX", "HFIX", "FRAG", "FEND", "EXYZ", "EADP", "EQIV", "CONN", "PART", "BIND", "FREE", "DFIX", "DANG",
    "BUMP", "SAME", "SADI", "CHIV", "FLAT", "DELU", "SIMU", "DEFS", "ISOR", "NCSY", "SUMP", "L.S.", "CGLS",
    "BLOC", "DAMP", "STIR", "WGHT", "FVAR", "BOND", "CONF", "MPLA", "RTAB", "HTAB", "LIST", "ACTA", "SIZE",
    "TEMP", "WPDB", "FMAP", "GRID", "PLAN", "MOLE", "ABIN", "ANSC", "ANSR", "NEUT", "PRIG", "RIGU", "XNPD",
    "FLAP", "TWST", "BEDE", "LONE", "CRYS", "NOTE", "HKLS", "WIGL", "ZERO"};

std::string UpperLabel(std::string_view label) {
  std::string out(label);
  for (char &ch : out)
    ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  return out;
}

bool IsInstruction(std::string_view token) {
  const std::string_view head = token.substr(0, 4);
  return std::any_of(std::begin(kInstructions), std::end(kInstructions),
                     [&](std::string_view name) { return ImportEqualNoCase(head, name); });
}

// A logical line: "=" at the end continues it on the next; "!" starts a
// comment.
struct Card {
  int line = 0;
  std::vector<std::string_view> tokens;
};

std::vector<Card> Cards(const ImportTextLines &lines) {
  std::vector<Card> cards;
  bool continued = false;
  for (size_t n = 0; n < lines.size(); n++) {
    std::string_view l = lines[n];
    const bool remark = ImportStartsNoCase(TrimImport(l), "REM") || ImportStartsNoCase(TrimImport(l), "TITL");
    if (!remark)
      if (const size_t bang = l.find('!'); bang != std::string_view::npos)
        l = l.substr(0, bang);
    l = TrimImport(l);
    const bool continues = !remark && !l.empty() && l.back() == '=';
    if (continues)
      l = TrimImport(l.substr(0, l.size() - 1));
    auto tokens = ImportTokens(l);
    if (continued && !cards.empty())
      cards.back().tokens.insert(cards.back().tokens.end(), tokens.begin(), tokens.end());
    else if (!tokens.empty())
      cards.push_back({static_cast<int>(n + 1), std::move(tokens)});
    continued = continues;
  }
  return cards;
}

struct Atom {
  int line = 0;
  std::string label;
  ElementCode element = kBlankElement;
  double xyz[3] = {};
  double sof = 1.0;
  int uCount = 0; // 0 none, 1 Uiso, 6 Uij
  double u[6] = {};
  int16_t part = 0; // the PART it stands in
};

class Reader {
public:
  Reader(const ImportSource &source, ImportResult &result) : source_(source), result_(result) {}
  bool Read();

private:
  double FreeVariable(size_t k, int line) {
    if (k < fv_.size())
      return fv_[k];
    if (std::find(missing_.begin(), missing_.end(), k) == missing_.end()) {
      ImportWarning(*s_, line, "free variable " + std::to_string(k + 1) + " is not given by FVAR; it is taken as 1.");
      missing_.push_back(k);
    }
    return 1.0;
  }
  // The value a coded parameter stands for; none when it names a free
  // variable beyond any the program refines.
  std::optional<double> Decode(double x, int line) {
    const double m = std::copysign(std::floor((std::fabs(x) + kFreeVariableHalfStep) / kFreeVariableStep), x);
    const double p = x - kFreeVariableStep * m;
    if (m == 0.0)
      return x;
    if (std::fabs(m) == 1.0)
      return p;
    if (std::fabs(m) > kMaxFreeVariables)
      return std::nullopt;
    const double v = FreeVariable(static_cast<size_t>(std::fabs(m)) - 1, line);
    return m > 0.0 ? p * v : p * (v - 1.0);
  }
  bool Decoded(double x, const Atom &a, double &out) {
    const auto v = Decode(x, a.line);
    if (!v)
      return RefuseImport(result_, a.line,
                          "the value " + FormatFixed(x, 2) + " of atom " + a.label +
                              " names no free variable (at most " + std::to_string(kMaxFreeVariables) + ")");
    out = *v;
    return true;
  }
  bool ReadAtom(const Card &card);
  double Ueq(const Atom &a) const;
  bool MakeSymmetry(int line);
  double Occupancy(const Atom &a) const;
  std::vector<size_t> SiteOfAtoms() const;
  bool AppendSites();
  bool AppendSite(size_t lead, const std::vector<std::pair<ElementCode, double>> &parts, int16_t part);

  const ImportSource &source_;
  ImportResult &result_;
  ImportedStructure *s_ = nullptr;
  std::vector<double> fv_;
  std::vector<size_t> missing_; // free variables FVAR lacks, said once
  std::vector<ElementCode> sfac_;
  std::vector<GEP> symm_;
  std::vector<GEP> ops_; // every operator, centring and inversion included
  std::vector<Atom> atoms_;
  std::vector<std::vector<std::string>> exyz_; // labels of each EXYZ card, upper case
  double cell_[6] = {};
  bool haveCell_ = false;
  int latt_ = 1;
  int16_t part_ = 0; // the PART of the atoms that follow
  int lattLine_ = 0;
  int ridingPivot_ = -1;
  size_t qPeaks_ = 0;
};

double Reader::Ueq(const Atom &a) const {
  if (a.uCount != 6)
    return a.u[0];
  if (!(CellVolume(cell_) > 0.0))
    return (a.u[0] + a.u[1] + a.u[2]) / 3.0;
  // Ueq = 1/3 sum_ij Uij a*_i a*_j (a_i . a_j).
  const CellFrame frame = StandardCellFrame(cell_);
  double star[3];
  for (int i = 0; i < 3; i++)
    star[i] = std::hypot(frame.reciprocal[i][0], frame.reciprocal[i][1], frame.reciprocal[i][2]);
  auto G = [&](int i, int j) {
    const double *u = frame.axes[i], *v = frame.axes[j];
    return u[0] * v[0] + u[1] * v[1] + u[2] * v[2];
  };
  // U11 U22 U33 U23 U13 U12 as a matrix.
  const double U[3][3] = {{a.u[0], a.u[5], a.u[4]}, {a.u[5], a.u[1], a.u[3]}, {a.u[4], a.u[3], a.u[2]}};
  double sum = 0.0;
  for (int i = 0; i < 3; i++)
    for (int j = 0; j < 3; j++)
      sum += U[i][j] * star[i] * star[j] * G(i, j);
  return sum / 3.0;
}

bool Reader::ReadAtom(const Card &card) {
  const auto &t = card.tokens;
  Atom a;
  a.line = card.line;
  a.label = std::string(t[0]);
  a.part = part_;
  const auto sfac = ImportNumber(t[1]);
  for (int k = 0; k < 3; k++) {
    const auto v = ImportNumber(t[static_cast<size_t>(2 + k)]);
    if (!v)
      return RefuseImport(result_, card.line,
                          "the coordinate \"" + std::string(t[static_cast<size_t>(2 + k)]) + "\" of atom " + a.label +
                              " is not a number");
    if (!Decoded(*v, a, a.xyz[k]))
      return false;
  }
  if (sfac && *sfac >= 0.5 && *sfac < static_cast<double>(sfac_.size()) + 0.5) {
    a.element = sfac_[static_cast<size_t>(std::lround(*sfac) - 1)];
  } else {
    const auto e = ElementOfLabel(*s_, card.line, a.label);
    a.element = e ? *e : kPlaceholderElement;
    ImportWarning(*s_, card.line,
                  "atom " + a.label + " names scattering factor " + std::string(t[1]) +
                      ", which SFAC does not list; its element is taken from its label (" +
                      ElementSymbolText(a.element) + ").");
  }
  std::vector<double> rest;
  for (size_t k = 5; k < t.size() && rest.size() < 7; k++) {
    const auto v = ImportNumber(t[k]);
    if (!v)
      return RefuseImport(result_, card.line,
                          "the value \"" + std::string(t[k]) + "\" of atom " + a.label + " is not a number");
    rest.push_back(*v);
  }
  if (!Decoded(rest.empty() ? 11.0 : rest[0], a, a.sof))
    return false;
  if (rest.size() >= 7) {
    a.uCount = 6;
    for (int k = 0; k < 6; k++)
      if (!Decoded(rest[static_cast<size_t>(1 + k)], a, a.u[k]))
        return false;
    ridingPivot_ = static_cast<int>(atoms_.size());
  } else if (rest.size() >= 2) {
    a.uCount = 1;
    const double u = rest[1];
    if (u <= -kRidingMin && u >= -kRidingMax) {
      if (ridingPivot_ < 0) {
        ImportWarning(*s_, card.line, "atom " + a.label + " rides on no earlier atom; its Uiso is left out.");
        a.uCount = 0;
      } else {
        a.u[0] = -u * Ueq(atoms_[static_cast<size_t>(ridingPivot_)]);
      }
    } else {
      if (!Decoded(u, a, a.u[0]))
        return false;
      ridingPivot_ = static_cast<int>(atoms_.size());
    }
  }
  // Free variables can make any value: one beyond what a site keeps leaves
  // the atom out.
  auto kept = [](double v) { return std::fabs(v) <= std::numeric_limits<float>::max(); };
  if (!std::all_of(a.xyz, a.xyz + 3, kept) || !kept(a.sof) || !std::all_of(a.u, a.u + a.uCount, kept)) {
    ImportWarning(*s_, card.line, "the values of atom " + a.label + " are beyond any a site keeps; it is left out.");
    return true;
  }
  atoms_.push_back(std::move(a));
  return true;
}

// Every operator: the identity and the SYMM cards, with the inversion when
// LATT is positive, times the centring translations of |LATT|.
bool Reader::MakeSymmetry(int line) {
  static constexpr char kLetters[] = "PIRFABC";
  const int type = std::abs(latt_); // 1 to 7, as LATT was read
  std::vector<GEP> base;
  GEP identity;
  for (int k = 0; k < 3; k++)
    identity.rotation[k][k] = 1;
  base.push_back(identity);
  for (const GEP &g : symm_) {
    bool same = false;
    for (const GEP &b : base)
      same = same || (SymmOpsHaveSameRotation(g, b) && SameTranslationModuloLattice(g.translation, b.translation));
    if (!same)
      base.push_back(g);
  }
  if (latt_ > 0) {
    const size_t n = base.size();
    for (size_t k = 0; k < n; k++) {
      GEP inv;
      for (int i = 0; i < 3; i++) {
        for (int j = 0; j < 3; j++)
          inv.rotation[i][j] = static_cast<int16_t>(-base[k].rotation[i][j]);
        inv.translation[i] = -base[k].translation[i];
      }
      base.push_back(inv);
    }
  }
  int16_t count = 0;
  CentringVectors centring{};
  Bravais(kLetters[type - 1], count, centring);
  ops_.clear();
  for (int c = 0; c < std::max<int16_t>(count, 1); c++)
    for (GEP g : base) {
      for (int k = 0; k < 3; k++)
        g.translation[k] += centring[static_cast<size_t>(c)][static_cast<size_t>(k)];
      ops_.push_back(g);
    }
  return SetSymmetryFromOperators(*s_, ops_, line, result_.error);
}

// The chemical occupancy: the file's site occupation factor holds the
// share of the general position, so a site that k operators leave in place
// holds k times it.
double Reader::Occupancy(const Atom &a) const {
  return a.sof * std::max(OperatorsFixing(ops_, a.xyz, OneAtomRule(s_->crystal)), 1);
}

bool Reader::Read() {
  s_ = BeginImportedStructure(result_, source_.name);
  const auto lines = ImportLines(source_.text);
  double esd[6] = {};
  int cellLine = 0;
  bool ended = false;
  const Card *lastAtom = nullptr, *lastSkipped = nullptr;
  const std::vector<Card> cards = Cards(lines);
  for (const Card &card : cards) {
    const auto &t = card.tokens;
    std::string head(t[0].substr(0, 4));
    for (char &ch : head)
      ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    if (head == "HKLF" || head == "END") {
      ended = true;
      break;
    }
    if (head == "TITL") {
      const std::string_view l = TrimImport(lines[static_cast<size_t>(card.line - 1)]);
      s_->extras.title = std::string(TrimImport(l.substr(std::min<size_t>(4, l.size()))));
    } else if (head == "CELL") {
      if (t.size() < 8)
        return RefuseImport(result_, card.line, "CELL needs the wavelength and six cell constants");
      for (int k = 0; k < 6; k++) {
        const auto v = ImportNumber(t[static_cast<size_t>(k + 2)]);
        if (!v)
          return RefuseImport(result_, card.line,
                              "the cell constant \"" + std::string(t[static_cast<size_t>(k + 2)]) +
                                  "\" is not a number");
        cell_[k] = *v;
      }
      haveCell_ = true;
      cellLine = card.line;
    } else if (head == "ZERR") {
      for (size_t k = 2; k < t.size() && k < 8; k++)
        if (const auto v = ImportNumber(t[k]))
          esd[k - 2] = *v;
    } else if (head == "LATT") {
      const auto v = t.size() > 1 ? ImportNumber(t[1]) : std::nullopt;
      if (!v || *v != std::round(*v))
        return RefuseImport(result_, card.line, "LATT needs a whole number");
      if (std::fabs(*v) < 1.0 || std::fabs(*v) > 7.0)
        return RefuseImport(result_, card.line,
                            "LATT " + std::string(t[1]) + " names no lattice type (1 to 7, or -1 to -7)");
      latt_ = static_cast<int>(*v);
      lattLine_ = card.line;
    } else if (head == "SYMM") {
      std::string text;
      for (size_t k = 1; k < t.size(); k++)
        text += std::string(t[k]) + " ";
      GEP g;
      Symcard2GEP(text, g);
      bool rows = true;
      for (const auto &row : g.rotation)
        rows = rows && (row[0] != 0 || row[1] != 0 || row[2] != 0);
      if (!rows)
        return RefuseImport(result_, card.line,
                            "the symmetry card \"" + std::string(TrimImport(text)) + "\" is no operator");
      // Counted before any are compared: a structure holds no more.
      if (symm_.size() + 1 >= static_cast<size_t>(kMaxSymCards))
        return RefuseImport(result_, card.line,
                            "it lists more than " + std::to_string(kMaxSymCards - 1) +
                                " symmetry cards; a structure holds at most " + std::to_string(kMaxSymCards) +
                                " operators");
      symm_.push_back(g);
    } else if (head == "SFAC") {
      const bool longForm = t.size() > 2 && ImportNumber(t[2]).has_value();
      for (size_t k = 1; k < (longForm ? 2 : t.size()); k++) {
        const auto e = ElementFromSymbol(t[k]);
        if (!e)
          ImportWarning(*s_, card.line,
                        "the scattering factor \"" + std::string(t[k]) + "\" names no element; its atoms are drawn "
                                                                         "as placeholders.");
        sfac_.push_back(e ? *e : kPlaceholderElement);
      }
    } else if (head == "FVAR") {
      for (size_t k = 1; k < t.size(); k++)
        if (const auto v = ImportNumber(t[k]))
          fv_.push_back(*v);
        else
          return RefuseImport(result_, card.line, "the free variable \"" + std::string(t[k]) + "\" is not a number");
    } else if (head == "EXYZ") {
      auto &labels = exyz_.emplace_back();
      for (size_t k = 1; k < t.size(); k++)
        labels.push_back(UpperLabel(t[k]));
    } else if (head == "PART") {
      // PART n: the disorder group of the atoms that follow (0 none; below
      // 0 disorder about a special position).
      const auto v = t.size() > 1 ? ImportNumber(t[1]) : std::nullopt;
      if (!v || *v != std::round(*v) || std::fabs(*v) > INT16_MAX) {
        ImportWarning(*s_, card.line, "PART needs a whole number; the atoms that follow are in no part.");
        part_ = 0;
      } else {
        part_ = static_cast<int16_t>(*v);
      }
    } else if (IsInstruction(t[0])) {
      continue; // AFIX, restraints, refinement and listing instructions
    } else if (t.size() >= 5 && ImportNumber(t[1])) {
      const bool peak = t[0].size() >= 2 && (t[0][0] == 'Q' || t[0][0] == 'q') &&
                        std::all_of(t[0].begin() + 1, t[0].end(), [](char ch) { return std::isdigit(ch) != 0; });
      if (peak) {
        qPeaks_++;
        continue;
      }
      lastAtom = &card;
      if (!ReadAtom(card))
        return false;
    } else {
      lastSkipped = &card;
      ImportWarning(*s_, card.line, "\"" + std::string(t[0]) + "\" is no instruction or atom; the line is skipped.");
    }
  }
  // Without END the file may be cut short: in its last atom when that holds
  // neither a whole Uiso nor six Uij.
  if (!ended && lastAtom && lastAtom == &cards.back() && lastAtom->tokens.size() != kFieldsWithUiso &&
      lastAtom->tokens.size() < kFieldsWithUij)
    return RefuseImport(result_, lastAtom->line,
                        "the file ends inside the line of atom " + std::string(lastAtom->tokens[0]) + ", with no END");
  // Or in the line after its last atom, which then holds too little to be
  // read as anything.
  if (!ended && lastAtom && lastSkipped && lastSkipped == &cards.back())
    return RefuseImport(result_, lastSkipped->line, "the file ends inside this line, with no END");
  if (RefuseCutInsideNumber(source_, result_))
    return false;
  if (!ended && !cards.empty())
    ImportWarning(*s_, static_cast<int>(lines.size()),
                  "the file ends without END; it may be cut short. What it holds up to there is read.");
  if (!haveCell_)
    return RefuseImport(result_, atoms_.empty() ? static_cast<int>(lines.size()) : atoms_.front().line,
                        "no CELL gives the cell before this line");
  if (!SetImportCell(*s_, result_.error, cellLine, cell_, esd) || !MakeSymmetry(lattLine_))
    return false;
  if (!AppendSites())
    return false;
  if (qPeaks_ > 0)
    ImportWarning(*s_, 0,
                  std::to_string(qPeaks_) + " residual density peak(s) (Q) were left out.");
  if (!s_->extras.title.empty())
    s_->name = s_->extras.title;
  return FinishImportedStructure(*s_, result_.error);
}

// The first atom of the site each atom stands on: the atoms of an EXYZ card
// share one, and so do partly occupied atoms at the same coordinates.
std::vector<size_t> Reader::SiteOfAtoms() const {
  std::vector<size_t> site(atoms_.size());
  for (size_t k = 0; k < site.size(); k++)
    site[k] = k;
  std::unordered_map<std::string, size_t> byLabel;
  for (size_t k = 0; k < atoms_.size(); k++)
    byLabel.try_emplace(UpperLabel(atoms_[k].label), k);
  for (const auto &labels : exyz_) {
    std::optional<size_t> first;
    for (const std::string &label : labels)
      if (auto it = byLabel.find(label); it != byLabel.end() && site[it->second] == it->second) {
        if (!first)
          first = it->second;
        else if (it->second != *first)
          site[it->second] = *first;
      }
  }
  FractionalPlaces places;
  std::vector<size_t> first; // the first partly occupied atom at each place
  for (size_t k = 0; k < atoms_.size(); k++) {
    const Atom &a = atoms_[k];
    if (site[k] != k || a.sof >= 1.0)
      continue;
    const auto [place, fresh] = places.Insert(a.xyz);
    if (fresh)
      first.push_back(k);
    else if (site[first[place]] == first[place])
      site[k] = first[place];
  }
  return site;
}

// One site per position: the elements of the atoms there with their
// occupancies (the same element's added), named as its largest share, with
// that atom's label, position and displacement. Atoms an EXYZ card or one
// position puts together are one site whatever their occupancies sum to;
// only more elements than a site holds stay apart.
bool Reader::AppendSites() {
  const std::vector<size_t> siteOf = SiteOfAtoms();
  std::unordered_map<size_t, std::vector<size_t>> members;
  for (size_t k = 0; k < atoms_.size(); k++)
    if (siteOf[k] != k)
      members[siteOf[k]].push_back(k);
  std::vector<size_t> rows;
  std::vector<std::pair<ElementCode, double>> atoms;
  for (size_t k = 0; k < atoms_.size(); k++) {
    if (siteOf[k] != k)
      continue;
    rows.assign(1, k);
    if (auto it = members.find(k); it != members.end())
      rows.insert(rows.end(), it->second.begin(), it->second.end());
    atoms.clear();
    WarningNames labels;
    for (size_t m : rows) {
      atoms.emplace_back(atoms_[m].element, Occupancy(atoms_[m]));
      labels.Add(atoms_[m].label);
    }
    const MixedSite mixed = JoinAtOnePlace(atoms);
    if (mixed.parts.size() > kMaxSiteElements) {
      ImportWarning(*s_, atoms_[k].line,
                    "the atoms " + labels.Text() + " share one position but hold more than " +
                        std::to_string(kMaxSiteElements) + " elements; they stay separate sites.");
      for (size_t m : rows)
        if (!AppendSite(m, {{atoms_[m].element, Occupancy(atoms_[m])}}, atoms_[m].part))
          return false;
      continue;
    }
    if (rows.size() > 1 && mixed.sum > 1.0 + kOccupancySumSlack)
      ImportWarning(*s_, atoms_[k].line,
                    "the atoms " + labels.Text() + " share one site, but their occupancies sum to " +
                        FormatFixed(mixed.sum, 2) + ".");
    // Atoms of different parts at one site leave it in none.
    const int16_t part = std::all_of(rows.begin(), rows.end(), [&](size_t m) { return atoms_[m].part == atoms_[k].part; })
                             ? atoms_[k].part
                             : int16_t{0};
    if (!AppendSite(rows[mixed.lead], mixed.parts, part))
      return false;
  }
  return true;
}

bool Reader::AppendSite(size_t lead, const std::vector<std::pair<ElementCode, double>> &parts, int16_t part) {
  const Atom &a = atoms_[lead];
  AsymmetricUnitRecord *site = AppendImportSite(result_, *s_, a.label, a.element, a.xyz, a.line);
  if (!site)
    return false;
  site->disorderGroup = part;
  for (size_t k = 0; k < parts.size(); k++) {
    site->elements[k] = parts[k].first;
    site->occupancies[k] = ImportFloat(std::min(1.0, parts[k].second));
  }
  if (a.uCount == 1) {
    site->displacementType = kDisplacementIsotropic;
    site->isoValue = ImportFloat(a.u[0]);
  } else if (a.uCount == 6) {
    site->displacementType = kDisplacementAnisoU;
    const double *u = a.u; // U11 U22 U33 U23 U13 U12
    const double m[9] = {u[0], u[5], u[4], u[5], u[1], u[3], u[4], u[3], u[2]};
    for (int k = 0; k < 9; k++)
      site->tensor[k] = ImportFloat(m[k]);
  }
  if (a.uCount > 0)
    s_->crystal.ellipsoidData = 1;
  return true;
}

} // namespace

namespace {

// The wavelength makes CELL seven numbers; SFAC names the scattering
// factors. Other formats with a ".res" name (force-field restart files)
// have neither. Leniently, the cards alone: TITL or CELL, whatever CELL
// holds, and SFAC; the reader says what is wrong with them.
bool HasSHELXCards(const ImportSource &source, bool lenient) {
  const auto lines = ImportLines(std::string_view(source.text).substr(0, kDetectBytes));
  bool cell = false, sfac = false, cards = false;
  for (size_t n = 0; n < std::min(lines.size(), kDetectLines); n++) {
    const auto t = ImportTokens(lines[n]);
    if (t.empty())
      continue;
    if (ImportEqualNoCase(t[0], "CELL") && t.size() == 8 &&
        std::all_of(t.begin() + 1, t.end(), [](std::string_view v) { return ImportNumber(v).has_value(); }))
      cell = true;
    if ((ImportEqualNoCase(t[0], "CELL") || ImportEqualNoCase(t[0], "TITL")) && t.size() > 1)
      cards = true;
    if (ImportEqualNoCase(t[0], "SFAC") && t.size() > 1)
      sfac = true;
  }
  return sfac && (cell || (lenient && cards));
}

} // namespace

bool IsSHELXFile(const ImportSource &source) {
  return HasSHELXCards(source, NameEndsWith(source.name, {".ins", ".res"}));
}

bool SHELXMarks(const ImportSource &source) { return HasSHELXCards(source, true); }

bool DoSHELXFile(const ImportSource &source, ImportResult &result) { return Reader(source, result).Read(); }

extern const ImportFormat gSHELXImport{"SHELX", "SHELX files", "ins res", "", IsSHELXFile, DoSHELXFile,
                                        SHELXMarks};
