// Experiment files of the Rietveld suite (.EXP): 80-character records, each
// keyed by its first 12 columns, written with CR LF ends, with LF ends, or
// with none at all (fixed 80-byte records, one long line to a text reader);
// stray NULs count as blanks. "     VERSION" opens the file and a record
// keyed "ZZZZZZZZZZZZ" marks its sorted end; records the suite appended after
// that one are read as well. What is read:
//   " EXPR NPHAS"   the type of each phase slot 1-9 (9I5 from column 13):
//                   0 none, 1 nuclear, 2 nuclear and magnetic, 3 magnetic,
//                   4 macromolecular, 10 Pawley (no atoms: left out);
//   "CRSn    PNAM"  the phase's name (from column 13);
//   "CRSn  ABC   ", "CRSn  ANGLES"  the cell, 3F10 from column 13;
//   "CRSn  SG SYM"  the space-group symbol, axial fields apart ("P b n m"),
//                   a group of two origins in its second (at the centre of
//                   symmetry);
//                   a trailing "R" or "H" names rhombohedral or hexagonal
//                   axes;
//   "CRSn  AT  iA"  atom i (I3 in columns 9-11): type (columns 13-22), x y z
//                   and occupancy (4F10 from column 23), label (63-72);
//   "CRSn  AT  iB"  its displacements, Uiso or U11 U22 U33 U12 U13 U23 (F10
//                   from column 13), "I" or "A" in column 75.
// A file without "EXPR NPHAS" takes every phase it has records for. Each
// phase is a structure of its own. Atoms at one position (one per element
// of a mixed site) are one site when their occupancies allow it
// (MixedSites.h); an occupancy above 1 is held to 1, with a Log line.
#include "import/ImportSymmetry.h"
#include "import/ImportText.h"
#include "import/ImportTypes.h"
#include "import/MixedSites.h"
#include "import/SiteDisplacement.h"
#include "import/StructureFill.h"
#include "import/TextNumbers.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <utility>

namespace {

constexpr size_t kRecordLength = 80;
constexpr int kPhaseSlots = 9;
constexpr long kPawleyPhase = 10;
// The record that ends every experiment file.
constexpr std::string_view kLastRecordKey = "ZZZZZZZZZZZZ";
// The suite places a group of two origins at its centre of symmetry.
constexpr OriginConvention kExperimentOrigin{2, "at the centre of symmetry, where experiment files place it"};

struct Record {
  int line = 0; // the record's number, 1-based: the line of a file with line ends
  std::string text;
};

// Each record of the text in order to `take`, until it answers false (then
// false): a line longer than a record is records written without line ends.
// One record at a time, as the reader needs no other.
template <typename Take> bool EachRecord(std::string_view text, Take take) {
  Record r;
  for (std::string_view l : ImportLines(text)) {
    do {
      r.line++;
      r.text.assign(l.substr(0, kRecordLength));
      std::replace(r.text.begin(), r.text.end(), '\0', ' ');
      if (!take(std::as_const(r)))
        return false;
      l.remove_prefix(std::min(l.size(), kRecordLength));
    } while (!l.empty());
  }
  return true;
}

struct Atom {
  int line = 0, uLine = 0;
  std::string type, label;
  double xyz[3] = {}, occupancy = 1.0;
  int uCount = 0; // 0 none, 1 Uiso, 6 Uij
  double u[6] = {};
};

struct Phase {
  long type = 1;
  std::string name;
  std::optional<std::array<double, 3>> abc, angles;
  int cellLine = 0;
  std::string symbol;
  int symbolLine = 0;
  std::map<long, Atom> atoms; // by the file's atom number
};

// `count` F10 fields from column `first`; a blank field is 0, as the suite
// reads it. None, and the file refused with the field, when one is no
// number, or when the record ends before its last field: a file cut short.
std::optional<std::array<double, 6>> Fields(const Record &r, size_t first, size_t count, std::string_view what,
                                            ImportResult &result) {
  std::array<double, 6> v{};
  const std::string_view key = TrimImport(std::string_view(r.text).substr(0, 12));
  // The fields are right-aligned: the last ends in the record's last column
  // it needs.
  const size_t needed = first + 10 * count - 1, last = r.text.find_last_not_of(' ');
  if (last == std::string::npos || last + 1 < needed) {
    RefuseImport(result, r.line,
                 "the record \"" + std::string(key) + "\" ends before its last " + std::string(what) +
                     " (column " + std::to_string(needed) + "): the file is cut short");
    return std::nullopt;
  }
  for (size_t k = 0; k < count; k++) {
    const std::string_view f = TrimImport(ImportColumns(r.text, first + 10 * k, 10));
    if (f.empty())
      continue;
    const auto x = ImportNumber(f);
    if (!x) {
      RefuseNumber(result, r.line, what, f, "\"" + std::string(key) + "\"");
      return std::nullopt;
    }
    v[k] = *x;
  }
  return v;
}

bool Refuse(ImportResult &result, const Record &r, std::string_view what) {
  return RefuseImport(result, r.line,
                      std::string(what) + " (\"" + std::string(TrimImport(r.text.substr(0, 12))) + "\")");
}

// A record of one phase: cell, symbol, name or atom.
bool ReadPhaseRecord(Phase &p, const Record &r, ImportResult &result) {
  const std::string_view key = TrimImport(ImportColumns(r.text, 5, 8));
  const std::string_view rest = ImportColumns(r.text, 13, kRecordLength);
  if (key == "PNAM") {
    p.name = std::string(TrimImport(rest));
  } else if (key == "ABC" || key == "ANGLES") {
    const auto v = Fields(r, 13, 3, "cell value", result);
    if (!v)
      return false;
    (key == "ABC" ? p.abc : p.angles) = std::array<double, 3>{(*v)[0], (*v)[1], (*v)[2]};
    p.cellLine = std::max(p.cellLine, r.line);
  } else if (key == "SG SYM") {
    p.symbol = std::string(TrimImport(rest));
    p.symbolLine = r.line;
  } else if (ImportColumns(r.text, 7, 2) == "AT") {
    const char part = ImportColumns(r.text, 12, 1).empty() ? ' ' : r.text[11];
    const auto number = ImportWholeIn(ImportNumber(TrimImport(ImportColumns(r.text, 9, 3))), 0, 999);
    if (!number || (part != 'A' && part != 'B'))
      return true; // other atom records (magnetic moments, ...)
    Atom &a = p.atoms[*number];
    if (part == 'A') {
      const auto v = Fields(r, 23, 4, "coordinate or occupancy", result);
      if (!v)
        return false;
      a.line = r.line;
      a.type = std::string(TrimImport(ImportColumns(r.text, 13, 10)));
      a.label = std::string(TrimImport(ImportColumns(r.text, 63, 10)));
      for (int k = 0; k < 3; k++)
        a.xyz[k] = (*v)[static_cast<size_t>(k)];
      a.occupancy = (*v)[3];
    } else {
      const bool aniso = ImportColumns(r.text, 75, 1) == "A";
      const auto v = Fields(r, 13, aniso ? 6 : 1, "displacement", result);
      if (!v)
        return false;
      a.uLine = r.line;
      a.uCount = aniso ? 6 : 1;
      std::copy(v->begin(), v->end(), a.u);
    }
  }
  return true;
}

bool BuildPhase(int slot, Phase &p, const std::string &fileName, ImportResult &result) {
  ImportedStructure *s = BeginImportedStructure(result, p.name.empty() ? fileName : p.name);
  if (!s)
    return false;
  s->extras.title = p.name;
  if (!p.abc || !p.angles)
    return RefuseImport(result, p.cellLine, "phase " + std::to_string(slot) + " gives no complete cell");
  const double cell[6] = {(*p.abc)[0], (*p.abc)[1], (*p.abc)[2], (*p.angles)[0], (*p.angles)[1], (*p.angles)[2]};
  if (!SetImportCell(*s, result.error, p.cellLine, cell))
    return false;
  if (p.symbol.empty()) {
    ImportWarning(*s, 0, "phase " + std::to_string(slot) + " names no space group; P 1 is taken.");
    SetSymmetryFromSymbol(*s, "P 1", 0, 0);
  } else if (!SetSymmetryFromSymbol(*s, p.symbol, 0, p.symbolLine, kExperimentOrigin)) {
    return RefuseImport(result, p.symbolLine, "the space group \"" + p.symbol + "\" is not one this version knows");
  }
  // The atoms with a position, in the file's order; atoms at one position
  // are one mixed site when their occupancies allow it.
  std::vector<const Atom *> atoms;
  std::vector<std::array<double, 3>> positions;
  std::vector<std::pair<ElementCode, double>> kinds;
  for (auto &[number, a] : p.atoms) {
    if (a.line == 0) {
      ImportWarning(*s, a.uLine, "atom " + std::to_string(number) + " has displacements but no position; left out.");
      continue;
    }
    auto element = ElementFromSymbol(a.type);
    if (!element) {
      element = kPlaceholderElement;
      ImportWarning(*s, a.line,
                    "atom " + a.label + " of type \"" + a.type + "\" names no element; it is drawn as a placeholder.");
    }
    // An atom at no place a structure holds is left out before the atoms of
    // one position are sought: far off, it would seem to share any place.
    if (!ImportPositionKept(*s, a.xyz, a.line))
      continue;
    atoms.push_back(&a);
    positions.push_back({a.xyz[0], a.xyz[1], a.xyz[2]});
    kinds.emplace_back(*element, a.occupancy);
  }
  const std::vector<size_t> group = GroupAtOnePlace(positions);
  std::vector<std::vector<size_t>> members(atoms.size());
  for (size_t k = 0; k < atoms.size(); k++)
    members[group[k]].push_back(k);
  std::vector<std::pair<ElementCode, double>> together;
  std::vector<char> joined(atoms.size(), 0); // by the first atom of a position
  for (size_t k = 0; k < atoms.size(); k++) {
    if (group[k] != k && joined[group[k]])
      continue; // one element of a mixed site
    MixedSite mixed;
    if (group[k] == k && members[k].size() > 1) {
      together.clear();
      WarningNames labels;
      for (size_t m : members[k]) {
        together.push_back(kinds[m]);
        labels.Add(atoms[m]->label);
      }
      mixed = JoinAtOnePlace(together);
      joined[k] = mixed.joined;
      if (const std::string w = MixedSiteWarning(mixed, members[k].size(), labels.Text()); !w.empty())
        ImportWarning(*s, atoms[k]->line, w);
    }
    // A mixed site is named as its largest share and keeps that atom's
    // position and displacement.
    const size_t lead = mixed.joined ? members[k][mixed.lead] : k;
    const Atom &a = *atoms[lead];
    AsymmetricUnitRecord *site =
        AppendImportSite(result, *s, a.label.empty() ? a.type : a.label, kinds[lead].first, a.xyz, a.line);
    if (!site)
      return false;
    site->occupancies[0] = ImportFloat(std::min(1.0, a.occupancy));
    if (!mixed.joined && a.occupancy > 1.0 + kOccupancySumSlack) {
      char text[32];
      std::snprintf(text, sizeof text, "%.4g", a.occupancy);
      ImportWarning(*s, a.line, "the occupancy of atom " + a.label + " (" + text + ") is above 1; it is taken as 1.");
    }
    if (mixed.joined)
      for (size_t e = 0; e < mixed.parts.size(); e++) {
        site->elements[e] = mixed.parts[e].first;
        site->occupancies[e] = ImportFloat(std::min(1.0, mixed.parts[e].second));
      }
    if (a.uCount == 1)
      SetSiteUiso(s->crystal, *site, a.u[0]);
    else if (a.uCount == 6)
      SetSiteUij(s->crystal, *site, a.u);
  }
  return FinishImportedStructure(*s, result.error);
}

} // namespace

bool IsGSASFile(const ImportSource &source) { return ImportColumns(source.text, 1, 12) == "     VERSION"; }

bool DoGSASFile(const ImportSource &source, ImportResult &result) {
  if (RefuseCutInsideNumber(source, result))
    return false;
  std::array<Phase, kPhaseSlots> phases;
  std::array<bool, kPhaseSlots> used{};
  bool typed = false, ended = false;
  int lastLine = 0;
  const bool read = EachRecord(source.text, [&](const Record &r) {
    const std::string_view key = ImportColumns(r.text, 1, 12);
    // The suite appends records after the last one until it next sorts the
    // file: they are read too.
    ended = ended || key == kLastRecordKey;
    lastLine = r.line;
    if (TrimImport(key) == "EXPR NPHAS") {
      typed = true;
      for (int k = 0; k < kPhaseSlots; k++) {
        const std::string_view f = TrimImport(ImportColumns(r.text, 13 + 5 * static_cast<size_t>(k), 5));
        const auto v = ImportWholeIn(f.empty() ? std::optional<double>(0.0) : ImportNumber(f), -9999, 99999);
        if (!v)
          return Refuse(result, r, "the phase types are no whole numbers");
        phases[static_cast<size_t>(k)].type = *v;
        used[static_cast<size_t>(k)] = *v != 0;
      }
    } else if (key.starts_with("CRS") && key.size() > 3 && key[3] >= '1' && key[3] <= '9') {
      const size_t slot = static_cast<size_t>(key[3] - '1');
      used[slot] = used[slot] || !typed;
      return ReadPhaseRecord(phases[slot], r, result);
    }
    return true;
  });
  if (!read)
    return false;
  if (!ended)
    return RefuseImport(result, lastLine,
                        "the file ends before its last record (\"" + std::string(kLastRecordKey) +
                            "\"): it is cut short");
  std::vector<std::string> leftOut;
  for (int k = 0; k < kPhaseSlots; k++) {
    Phase &p = phases[static_cast<size_t>(k)];
    if (!used[static_cast<size_t>(k)])
      continue;
    if (p.type == kPawleyPhase || p.atoms.empty()) {
      leftOut.push_back("phase " + std::to_string(k + 1) + (p.name.empty() ? "" : " (" + p.name + ")") +
                        (p.type == kPawleyPhase ? " is a Pawley phase, without atoms" : " has no atoms") +
                        "; it is left out.");
      continue;
    }
    if (!BuildPhase(k + 1, p, source.name, result))
      return false;
  }
  return SayPartsLeftOut(result, leftOut);
}

extern const ImportFormat gGSASImport{"GSAS", "GSAS experiment files", "exp", "", IsGSASFile, DoGSASFile};
