#include "export/CIFWriter.h"

#include "export/ExportFrame.h"
#include "export/OwnTextWriter.h"

#include "Alerts.h"
#include "EllipsoidMaths.h"
#include "SpaceGroups.h"
#include "SymmetryCards.h"
#include "UnitCell.h"
#include "window/MainWindowData.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <unordered_set>
#include <vector>

namespace {

const TextExportKind kCIFKind{"Save CIF text file", ".cif", "Writing data to a CIF file", "Closing CIF output file..."};

// Setting codes of the table look-up for an R symbol.
constexpr uint8_t kRhombohedralSetting = 111;
constexpr uint8_t kHexagonalSetting = 112;

// Bytes that a CIF name or label cannot hold become "_".
std::string CleanName(std::string_view text) {
  std::string s(text);
  for (char &ch : s) {
    const auto u = static_cast<uint8_t>(ch);
    if (u <= 32 || u >= 128)
      ch = '_';
  }
  return s;
}

// A site label as a CIF value: the label the own text file writes (blanks and
// bytes outside ASCII as "_", an empty label as element and site number),
// quoted when a bare value would read as a tag, a comment, a reserved word or
// a null.
std::string CIFLabelText(const std::string &label) {
  std::string lower = label;
  for (char &ch : lower)
    ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  const bool reserved = lower.starts_with("data_") || lower.starts_with("save_") || lower == "loop_" ||
                        lower == "global_" || lower == "stop_" || lower == "." || lower == "?";
  if (!reserved && std::string_view("_#$'\"[];").find(label.front()) == std::string_view::npos)
    return label;
  const char quote = label.find('\'') == std::string::npos ? '\'' : '"';
  return quote + label + quote;
}

// Decimals of a number written without its su (none is known): a cell
// constant to four; a coordinate to six, so that an atom keeps its place
// (2/3 is not moved to 0.6667) and a reader finds it on the special position
// it stands on.
constexpr int kPlainDecimals = 4;
constexpr int kPlainCoordinateDecimals = 6;
// The su is written in units of the last decimal, with as many decimals as
// it was given to (0.00003 as "(3)" at five decimals, 0.0012 as "(12)" at
// four), up to this many, and in at most two digits.
constexpr int kMostSuDecimals = 8;
constexpr double kLargestGivenSuCode = 99.0;
// An su is taken to have been given to d decimals when su * 10^d lies this
// close (relative) to a whole number: the float it is held in is no closer.
constexpr double kSuWholeTolerance = 1e-5;
// Any other su (one computed, not read: 0.00126) gets the usual form, its
// code between 2 and 19 ("(13)" at four decimals).
constexpr double kSmallestSuCode = 2.0;
// The columns a number before its su takes in the loops.
constexpr size_t kNumberWidth = 10;

// Whether a value held in single precision is its own rounding to `decimals`
// decimals: the decimals it was written with, or more.
bool WrittenTo(double value, int decimals) {
  const double scale = std::pow(10.0, decimals);
  return static_cast<float>(std::round(value * scale) / scale) == static_cast<float>(value);
}

// A number as a CIF value: with its su in parentheses, at as many decimals
// as the su needs ("4.09836(3)", "10.12(2)"), else at `plainDecimals`
// without one (a written "(0)" would claim the value exact).
std::string NumberWithSu(double value, double su, int plainDecimals) {
  char text[64];
  if (!(su > 0.0) || !std::isfinite(su)) {
    std::snprintf(text, sizeof text, "%.*f", plainDecimals, value);
    return text;
  }
  int decimals = -1;
  for (int d = 0; d <= kMostSuDecimals && decimals < 0; d++) {
    const double scaled = su * std::pow(10.0, d);
    if (std::round(scaled) >= 1.0 && std::round(scaled) <= kLargestGivenSuCode &&
        std::fabs(scaled - std::round(scaled)) <= kSuWholeTolerance * scaled)
      decimals = d;
  }
  if (decimals < 0) {
    decimals = 0;
    while (decimals < kMostSuDecimals && std::round(su * std::pow(10.0, decimals)) < kSmallestSuCode)
      decimals++;
  }
  // The value keeps the decimals it was written with where the su, in
  // units of the last of them, is a code of at most two digits: 0.4067 with
  // an su of 0.001 was written "0.4067(10)" and goes out so, not as
  // "0.407(1)".
  // A value with more decimals than that (one computed) keeps the su's.
  if (!WrittenTo(value, decimals))
    for (int d = decimals + 1; d <= kMostSuDecimals && std::round(su * std::pow(10.0, d)) <= kLargestGivenSuCode; d++)
      if (WrittenTo(value, d)) {
        decimals = d;
        break;
      }
  const long code = std::lround(su * std::pow(10.0, decimals));
  std::snprintf(text, sizeof text, "%.*f(%ld)", decimals, value, code);
  return text;
}

// A number right-aligned in the loop's columns, its su after them, with a
// blank before it when it fills them.
std::string NumberField(double value, double su, int plainDecimals = kPlainDecimals) {
  std::string text = NumberWithSu(value, su, plainDecimals);
  const size_t width = std::min(text.size(), text.find('('));
  text.insert(0, width < kNumberWidth ? kNumberWidth - width : 1, ' ');
  return text;
}

// The label of each row of the atom-site loop: a row per element of a site
// (an occupancy of 0 included: the site is drawn, so it goes out), the first
// with the site's label, the others with the element added ("M1_Fe"); each
// unique in the file, since the label is the loop's key. A
// label the file repeats (a PDB file's "CA" of every residue) is numbered
// from its second use on, in file order: "CA", "CA_2", "CA_3", passing over
// labels the file itself gives.
std::vector<std::vector<std::string>> RowLabels(const CrystalRec &c, size_t nSites) {
  std::vector<std::vector<std::string>> rows(nSites);
  std::unordered_set<std::string> given, taken;
  for (size_t s = 0; s < nSites; s++)
    given.insert(TextFileLabel(c.sites[s], s));
  // The file's own label stays at its first use; a label made here passes
  // over every label the file gives.
  auto unique = [&](const std::string &base, bool fileLabel, const char *joint) {
    std::string label = base;
    bool made = !fileLabel;
    for (int n = 2; (made && given.count(label)) || !taken.insert(label).second; n++) {
      label = base + joint + std::to_string(n);
      made = true;
    }
    return label;
  };
  for (size_t s = 0; s < nSites; s++) {
    const AsymmetricUnitRecord &site = c.sites[s];
    for (int k = 0; k < kMaxSiteElements; k++) {
      if (site.elements[k] == kBlankElement)
        break;
      if (k == 0) {
        rows[s].push_back(CIFLabelText(unique(TextFileLabel(site, s), true, "_")));
        continue;
      }
      std::string e = ElementText(site.elements[k]);
      while (!e.empty() && e.back() == ' ')
        e.pop_back();
      rows[s].push_back(CIFLabelText(unique(TextFileLabel(site, s) + "_" + e, false, "")));
    }
  }
  return rows;
}

// Lines break only after a blank: after punctuation a break would fall
// inside numbers ("1.9745", "-0.25", "1/2"), which a reader then takes apart.
bool BreaksNoteLine(char ch) { return ch == ' ' || ch == '\t'; }

} // namespace

void WriteTextNote(std::string &out, std::string_view text, bool textField) {
  if (text.empty())
    return;
  size_t column = 0;
  bool previousEndedParagraph = false;
  for (size_t k = 0; k < text.size(); k++) {
    const auto u = static_cast<uint8_t>(text[k]);
    // A paragraph ends at a line end (CR, LF or CR LF); two in a row make
    // an empty paragraph of their own.
    if (u == '\r' || u == '\n') {
      if (u == '\r' && k + 1 < text.size() && text[k + 1] == '\n')
        k++;
      out += previousEndedParagraph ? "\n" : "\n\n";
      previousEndedParagraph = true;
      column = 0;
      continue;
    }
    previousEndedParagraph = false;
    char ch = static_cast<char>(u);
    if (u >= 128) {
      // One "?" per character: a lead byte and its continuation bytes.
      size_t more = u >= 0xF0 ? 3 : u >= 0xE0 ? 2 : u >= 0xC0 ? 1 : 0;
      while (more > 0 && k + 1 < text.size() && (static_cast<uint8_t>(text[k + 1]) & 0xC0) == 0x80) {
        k++;
        more--;
      }
      ch = '?';
    }
    if (textField && column == 0 && ch == ';') {
      out += ' ';
      column++;
    }
    out += ch;
    column++;
    if (column > kNoteWrapColumn && BreaksNoteLine(ch)) {
      out += '\n';
      column = 0;
    }
  }
  if (column > 0)
    out += '\n';
}

std::string MakeCommaDelimitedGEP(std::string_view card) {
  std::string out;
  size_t k = 0;
  while (k < card.size()) {
    while (k < card.size() && static_cast<uint8_t>(card[k]) <= 32)
      k++;
    if (k == card.size())
      break;
    const size_t start = k;
    while (k < card.size() && static_cast<uint8_t>(card[k]) > 32)
      k++;
    if (!out.empty())
      out += ',';
    out.append(card.substr(start, k - start));
  }
  return out;
}

void WriteCIFSymmetry(const CrystalRec &c, std::string &out) {
  // Everything is looked up and generated in copies: the structure keeps its
  // symbol, lattice letter and cards as they are.
  std::string symbol(CStrView(std::span<const char>(c.spaceGroup)));
  std::string named;     // the symbol as stored
  std::string details;   // the number and cell setting
  bool lineOpen = false; // the cell-setting line waits for its line end
  if (!symbol.empty() && static_cast<uint8_t>(symbol[0]) >= 33) {
    const bool rhombohedral = AxesAreRhombohedral(c.alpha, c.beta, c.gamma);
    const uint8_t setting = symbol[0] == 'R' ? (rhombohedral ? kRhombohedralSetting : kHexagonalSetting) : 0;
    Appendf(named, "_symmetry_space_group_name_H-M     '%s'\n", symbol.c_str());
    std::string schoenflies, full;
    int16_t number = 0, system = 0, count = 0;
    if (GetSpacegroupDetails(symbol, schoenflies, full, c.originChoice, setting, number, system, count)) {
      Appendf(details, "_symmetry_Int_Tables_number         %d\n", number);
      const char *name = nullptr;
      switch (system) {
      case kTriclinic:
        name = "triclinic";
        break;
      case kMonoclinic:
        name = "monoclinic";
        break;
      case kOrthorhombic:
        name = "orthorhombic";
        break;
      case kTetragonal:
        name = "tetragonal";
        break;
      case kTrigonalHexagonalAxes:
        name = c.latticeLetter == 'R' && rhombohedral ? "rhombohedral" : "trigonal";
        break;
      case kTrigonalRhombohedralAxes:
        name = "rhombohedral";
        break;
      case kHexagonal:
        name = "hexagonal";
        break;
      case kCubic:
        name = "cubic";
        break;
      default:
        break;
      }
      if (name) {
        Appendf(details, "_symmetry_cell_setting             %s", name);
        lineOpen = true;
      }
    }
  }

  std::array<Symcard, kMaxSymCards> cards = c.symCards;
  uint16_t count = std::min<uint16_t>(c.cardCount, kMaxSymCards);
  char lattice = c.latticeLetter;
  if (count == 0 && !symbol.empty())
    Spaceg(symbol, c.originChoice, c.alpha, c.beta, c.gamma, lattice, count, std::span<Symcard>(cards));
  // Each card followed by its centring copies.
  std::vector<std::string> operators;
  int16_t nCentring = 0;
  CentringVectors centring{};
  Bravais(EffectiveLatticeLetter(lattice, c.alpha, c.beta, c.gamma), nCentring, centring);
  for (uint16_t k = 0; k < count; k++) {
    operators.push_back(MakeCommaDelimitedGEP(CardText(cards[k])));
    for (int16_t t = 1; t < nCentring; t++) {
      GEP gep;
      Symcard2GEP(cards[k], gep);
      for (int d = 0; d < 3; d++)
        gep.translation[d] += centring[static_cast<size_t>(t)][static_cast<size_t>(d)];
      Symcard copy{};
      GEP2Symcard(gep, copy);
      operators.push_back(MakeCommaDelimitedGEP(CardText(copy)));
    }
  }

  // The setting the operators are, named so that a reader that takes the
  // symbol rather than the operators builds the same crystal: the stored
  // symbol names neither an origin choice nor the axes of an R group.
  out += named;
  if (NamedSetting setting; !operators.empty() && SettingOfOperators(operators, setting)) {
    Appendf(out, "_space_group_name_H-M_alt          '%s'\n", setting.symbol.c_str());
    Appendf(out, "_space_group_name_Hall             '%s'\n", setting.hall.c_str());
    Appendf(out, "_space_group_IT_number             %d\n", setting.number);
  }
  out += details;
  if (operators.empty()) {
    if (lineOpen)
      out += "\n";
    return;
  }
  out += "\nloop_\n_symmetry_equiv_pos_as_xyz\n";
  for (const std::string &op : operators)
    Appendf(out, "'%s'\n", op.c_str());
  out += "\n";
}

std::string FormatCIFFile(const CrystalRec &c, std::string_view title, std::string_view notes,
                          std::string_view version) {
  std::string o;
  std::string name = CleanName(TitleAsAscii(title));
  if (name.empty())
    name = kCIFDefaultBlockName;
  Appendf(o, "data_%s\n", name.c_str());
  Appendf(o, "_audit_creation_method         'generated by Orvalisphere %s'\n", std::string(version).c_str());
  if (!notes.empty()) {
    o += "_publ_section_comment\n;\n";
    WriteTextNote(o, notes, true);
    o += ";\n";
  }
  Appendf(o, "_cell_length_a               %s\n", NumberField(c.a, c.cellEsds[0]).c_str());
  Appendf(o, "_cell_length_b               %s\n", NumberField(c.b, c.cellEsds[1]).c_str());
  Appendf(o, "_cell_length_c               %s\n", NumberField(c.c, c.cellEsds[2]).c_str());
  Appendf(o, "_cell_angle_alpha            %s\n", NumberField(c.alpha, c.cellEsds[3]).c_str());
  Appendf(o, "_cell_angle_beta             %s\n", NumberField(c.beta, c.cellEsds[4]).c_str());
  Appendf(o, "_cell_angle_gamma            %s\n", NumberField(c.gamma, c.cellEsds[5]).c_str());
  o += "\n";
  WriteCIFSymmetry(c, o);

  o += "loop_\n_atom_site_label\n_atom_site_type_symbol\n_atom_site_occupancy\n"
       "_atom_site_fract_x\n_atom_site_fract_y\n_atom_site_fract_z\n";
  if (c.ellipsoidData)
    o += "_atom_site_U_iso_or_equiv\n";
  const size_t nSites = UsableSiteSize(c);
  // The disorder the file described stays with the sites: assemblies and
  // groups as numbers, "." for none (a group without an assembly is of the
  // structure's one assembly when read back).
  bool disorder = false;
  for (size_t s = 0; s < nSites && !disorder; s++)
    disorder = c.sites[s].disorderGroup != 0;
  if (disorder)
    o += "_atom_site_disorder_assembly\n_atom_site_disorder_group\n";
  auto code = [](int16_t value) { return value == 0 ? std::string(".") : std::to_string(value); };
  const std::vector<std::vector<std::string>> labels = RowLabels(c, nSites);
  for (size_t s = 0; s < nSites; s++) {
    const AsymmetricUnitRecord &site = c.sites[s];
    for (size_t k = 0; k < labels[s].size(); k++) {
      const std::string &label = labels[s][k];
      const std::string e = ElementText(site.elements[k]);
      Appendf(o, "%6s    %c%c %6.4f", label.c_str(), e[0], e[1], double{site.occupancies[k]});
      // A shift of whole cells moves no atom: only its fraction is added.
      o += "  ";
      for (int j = 0; j < 3; j++)
        o += NumberField(double{site.xyz[j] + ReduceOriginShift(c.originShift[j])}, c.esdFlag ? site.esd[j] : 0.0,
                         kPlainCoordinateDecimals);
      if (c.ellipsoidData) {
        if (site.displacementType == kDisplacementIsotropic)
          Appendf(o, "%10.4f", double{site.isoValue});
        else
          o += "  .  ";
      }
      if (disorder)
        Appendf(o, "  %s %s", code(site.disorderGroup != 0 ? site.disorderAssembly : int16_t{0}).c_str(),
                code(site.disorderGroup).c_str());
      o += "\n";
    }
  }
  o += "\n";

  bool anisotropic = false;
  for (size_t s = 0; s < nSites; s++)
    anisotropic = anisotropic || c.sites[s].displacementType == kDisplacementAnisoU ||
                  c.sites[s].displacementType == kDisplacementAnisoB;
  if (c.ellipsoidData && anisotropic) {
    o += "loop_\n_atom_site_aniso_label\n_atom_site_aniso_U_11\n_atom_site_aniso_U_22\n_atom_site_aniso_U_33\n"
         "_atom_site_aniso_U_23\n_atom_site_aniso_U_13\n_atom_site_aniso_U_12\n";
    for (size_t s = 0; s < nSites; s++) {
      const AsymmetricUnitRecord &site = c.sites[s];
      float u[9];
      bool have = false;
      if (site.displacementType == kDisplacementAnisoU) {
        std::copy(site.tensor, site.tensor + 9, u);
        have = true;
      } else if (site.displacementType == kDisplacementAnisoB) {
        have = ConvertBijToUij(&c, site.tensor, u);
      }
      // Every element row of a mixed site has the site's displacements.
      for (const std::string &label : labels[s]) {
        Appendf(o, "%6s", label.c_str());
        if (have)
          Appendf(o, "  %10.4f %10.4f %10.4f %10.4f %10.4f %10.4f\n", double{u[0]}, double{u[4]}, double{u[8]},
                  double{u[5]}, double{u[2]}, double{u[1]});
        else
          o += "  . . . . . .\n";
      }
    }
  }
  return o;
}

void DoWriteCIFFile(WindowRef window) {
  const CrystalRec *c = GetWindowCrystal(window);
  if (!c || UsableSiteSize(*c) == 0)
    return;
  if (c->molecule) {
    MyCFStopAlert(kCIFMoleculeAlert, kCIFMoleculeExplanation);
    return;
  }
  RunTextExport(window, kCIFKind, [&](const ExportContext &ctx) {
    return FormatCIFFile(*c, ctx.title, ctx.notes, ctx.version);
  });
}
