// MOL files and SD files (CTfile connection tables, V2000 and V3000): a
// molecule per record, with the bonds of the bond block. An SD file is
// records separated by "$$$$" lines, each a structure of its own.
//
// The structure record holds no charge: formal charges (of the atom block,
// of "M  CHG" lines or of V3000 "CHG=" fields) are kept in the notes.
#include "import/ImportTypes.h"
#include "import/ImportText.h"
#include "import/StructureFill.h"
#include "import/TextNumbers.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <unordered_map>

namespace {

// Atoms of a query (any atom, any heteroatom, a list, an R group, a lone
// pair): no element.
constexpr std::string_view kQuerySymbols[] = {"A", "AH", "Q", "QH", "M", "MH", "X", "XH", "*", "L", "LP", "R#", "R"};

std::optional<long> Integer(std::string_view text) { return ParseIntegerToken(TrimImport(text)); }

// The formal charges the format can write.
constexpr long kMaxFormalCharge = 15;

bool ChargeBeyondFormat(std::optional<long> charge) { return charge && std::labs(*charge) > kMaxFormalCharge; }

std::string ChargeBeyondText(std::string_view token) {
  return "the charge \"" + std::string(TrimImport(token)) + "\" is beyond -" + std::to_string(kMaxFormalCharge) + " to " +
         std::to_string(kMaxFormalCharge);
}

bool StartsWith(std::string_view line, std::string_view prefix) { return line.substr(0, prefix.size()) == prefix; }
bool IsRecordEnd(std::string_view line) { return StartsWith(line, "$$$$"); }
bool IsMEnd(std::string_view line) { return StartsWith(line, "M  END"); }

// The element a CTfile atom symbol names exactly ("Cl", not "C" of "Cx");
// deuterium and tritium are hydrogen.
std::optional<ElementCode> MolElement(std::string_view symbol) {
  if (symbol == "D" || symbol == "T")
    return ElementFromSymbol("H");
  const auto e = ElementFromSymbol(symbol);
  if (!e || !ImportEqualNoCase(ElementSymbolText(*e), symbol))
    return std::nullopt;
  return e;
}

// The charge of the V2000 atom block's code: 1, 2, 3 are +3, +2, +1; 5, 6, 7
// are -1, -2, -3; 4 is a radical and others none.
int ChargeOfCode(long code) { return (code >= 1 && code <= 3) || (code >= 5 && code <= 7) ? 4 - static_cast<int>(code) : 0; }

struct Reader {
  const ImportTextLines &lines;
  ImportResult &result;
  ImportedStructure *s = nullptr;
  std::vector<int> charges;

  // One atom: the element (a placeholder for a query or unknown symbol,
  // with a warning) and the position.
  bool Atom(size_t index, std::string_view symbol, std::string_view x, std::string_view y, std::string_view z) {
    const auto px = ImportNumber(x), py = ImportNumber(y), pz = ImportNumber(z);
    if (!px || !py || !pz)
      return RefuseNumber(result, static_cast<int>(index) + 1, "coordinate", !px ? x : !py ? y : z,
                          "atom " + std::to_string(s->crystal.sites.size() + 1));
    auto element = MolElement(symbol);
    if (!element) {
      const bool query = std::find(std::begin(kQuerySymbols), std::end(kQuerySymbols), symbol) != std::end(kQuerySymbols) ||
                         symbol.starts_with('[') || symbol == "NOT";
      ImportWarning(*s, static_cast<int>(index + 1),
                    std::string(query ? "the query atom \"" : "the atom symbol \"") + std::string(symbol) +
                        (query ? "\" names no element" : "\" is no element") + "; the atom is a placeholder.");
      element = kPlaceholderElement;
    }
    const double cart[3] = {*px, *py, *pz};
    const std::string label = ElementSymbolText(*element) + std::to_string(s->crystal.sites.size() + 1);
    charges.push_back(0);
    return AppendImportAtom(result, *s, label, *element, cart, static_cast<int>(index + 1)) != nullptr;
  }

  // A bond between atoms numbered from 1 (V2000) or through the V3000
  // index map; one to no atom is left out with a warning.
  void Bond(size_t index, std::optional<long> a, std::optional<long> b) {
    const long n = static_cast<long>(s->crystal.sites.size());
    if (!a || !b || *a < 1 || *b < 1 || *a > n || *b > n || *a == *b) {
      ImportWarning(*s, static_cast<int>(index + 1), "the bond names an atom the file does not hold; it is left out.");
      return;
    }
    s->bonds.push_back({static_cast<uint32_t>(*a - 1), static_cast<uint32_t>(*b - 1), static_cast<int>(index + 1)});
  }

  bool V2000(size_t counts, size_t &i) {
    const std::string_view c = lines[counts];
    auto nAtoms = Integer(ImportColumns(c, 1, 3)), nBonds = Integer(ImportColumns(c, 4, 3));
    if (!nAtoms || !nBonds) {
      const auto t = ImportTokens(c);
      nAtoms = t.size() >= 2 ? Integer(t[0]) : std::nullopt;
      nBonds = t.size() >= 2 ? Integer(t[1]) : std::nullopt;
    }
    if (!nAtoms || !nBonds || *nAtoms < 0 || *nBonds < 0)
      return RefuseImport(result, static_cast<int>(counts) + 1, "the counts line gives no number of atoms and bonds");
    i = counts + 1;
    for (long k = 0; k < *nAtoms; k++, i++) {
      if (i >= lines.size() || IsMEnd(lines[i]) || IsRecordEnd(lines[i]))
        return RefuseImport(result, static_cast<int>(counts) + 1,
                            "the counts line promises " + std::to_string(*nAtoms) + " atoms, but only " +
                                std::to_string(k) + " follow");
      const std::string_view l = lines[i];
      std::string_view x = ImportColumns(l, 1, 10), y = ImportColumns(l, 11, 10), z = ImportColumns(l, 21, 10);
      std::string_view symbol = TrimImport(ImportColumns(l, 32, 3));
      std::optional<long> code = Integer(ImportColumns(l, 37, 3));
      if (!ImportNumber(x) || !ImportNumber(y) || !ImportNumber(z) || symbol.empty()) {
        // Not in its columns: blank-separated fields.
        const auto t = ImportTokens(l);
        if (t.size() < 4)
          return RefuseImport(result, static_cast<int>(i) + 1, "the atom line holds no coordinates and symbol");
        x = t[0], y = t[1], z = t[2], symbol = t[3];
        code = t.size() > 5 ? Integer(t[5]) : std::nullopt;
      }
      if (!Atom(i, symbol, x, y, z))
        return false;
      charges.back() = code ? ChargeOfCode(*code) : 0;
    }
    for (long k = 0; k < *nBonds; k++, i++) {
      if (i >= lines.size() || IsMEnd(lines[i]) || IsRecordEnd(lines[i]))
        return RefuseImport(result, static_cast<int>(counts) + 1,
                            "the counts line promises " + std::to_string(*nBonds) + " bonds, but only " +
                                std::to_string(k) + " follow");
      auto a = Integer(ImportColumns(lines[i], 1, 3)), b = Integer(ImportColumns(lines[i], 4, 3));
      if (!a || !b) {
        const auto t = ImportTokens(lines[i]);
        a = t.size() >= 2 ? Integer(t[0]) : std::nullopt;
        b = t.size() >= 2 ? Integer(t[1]) : std::nullopt;
      }
      Bond(i, a, b);
    }
    // The properties block; the first "M  CHG" line replaces the atom
    // block's charges.
    bool chargeLines = false;
    for (; i < lines.size() && !IsMEnd(lines[i]) && !IsRecordEnd(lines[i]); i++) {
      if (!StartsWith(lines[i], "M  CHG"))
        continue;
      if (!chargeLines)
        std::fill(charges.begin(), charges.end(), 0);
      chargeLines = true;
      const auto t = ImportTokens(lines[i].substr(6));
      for (size_t k = 1; k + 1 < t.size(); k += 2) {
        const auto atom = Integer(t[k]), charge = Integer(t[k + 1]);
        if (ChargeBeyondFormat(charge))
          return RefuseImport(result, static_cast<int>(i + 1), ChargeBeyondText(t[k + 1]));
        if (atom && charge && *atom >= 1 && static_cast<size_t>(*atom) <= charges.size())
          charges[static_cast<size_t>(*atom - 1)] = static_cast<int>(*charge);
        else
          ImportWarning(*s, static_cast<int>(i + 1), "the charge names an atom the file does not hold; it is left out.");
      }
    }
    return true;
  }

  // The V3000 lines of a record, continuation lines ("-" at the end)
  // joined, each with the number of its first line.
  // Writers put one or two blanks between "M" and "V30".
  std::vector<std::pair<size_t, std::string>> V3000Lines(size_t &i) {
    std::vector<std::pair<size_t, std::string>> out;
    bool continued = false;
    for (; i < lines.size() && !IsMEnd(lines[i]) && !IsRecordEnd(lines[i]); i++) {
      const std::string_view l = lines[i];
      const size_t mark = l.starts_with("M ") ? l.find_first_not_of(' ', 1) : std::string_view::npos;
      if (mark == std::string_view::npos || mark > 3 || l.substr(mark, 3) != "V30")
        continue;
      std::string_view body = TrimImport(l.substr(mark + 3));
      const bool more = body.ends_with('-');
      if (more)
        body.remove_suffix(1);
      if (continued)
        out.back().second += body;
      else
        out.emplace_back(i, std::string(body));
      continued = more;
    }
    return out;
  }

  bool V3000(size_t counts, size_t &i) {
    i = counts + 1;
    const auto v30 = V3000Lines(i);
    std::unordered_map<long, long> number; // V3000 index -> atom number from 1
    enum { None, Atoms, Bonds } block = None;
    long promised = -1;
    size_t countsLine = counts;
    bool tableDone = false;
    for (const auto &[at, text] : v30) {
      const auto t = ImportTokens(text);
      if (t.empty() || tableDone)
        continue;
      if (ImportEqualNoCase(t[0], "COUNTS") && t.size() >= 2) {
        promised = Integer(t[1]).value_or(-1);
        countsLine = at;
      } else if (ImportEqualNoCase(t[0], "BEGIN") && t.size() >= 2) {
        block = ImportEqualNoCase(t[1], "ATOM") ? Atoms : ImportEqualNoCase(t[1], "BOND") ? Bonds : None;
      } else if (ImportEqualNoCase(t[0], "END")) {
        if (block == Atoms && promised >= 0 && static_cast<long>(s->crystal.sites.size()) < promised)
          return RefuseImport(result, static_cast<int>(countsLine) + 1,
                              "the COUNTS line promises " + std::to_string(promised) + " atoms, but only " +
                                  std::to_string(s->crystal.sites.size()) + " follow");
        tableDone = t.size() >= 2 && ImportEqualNoCase(t[1], "CTAB");
        block = None;
      } else if (block == Atoms) {
        // index type x y z aamap [NAME=value ...]; a list type is "[C,N]"
        // or "NOT [C,N]".
        size_t k = t.size() >= 2 && t[1] == "NOT" ? 2 : 1;
        const auto index = Integer(t[0]);
        if (!index || t.size() < k + 4)
          return RefuseImport(result, static_cast<int>(at) + 1, "the atom line holds no index, type and coordinates");
        if (!Atom(at, t[1] == "NOT" ? "NOT" : t[k], t[k + 1], t[k + 2], t[k + 3]))
          return false;
        number[*index] = static_cast<long>(s->crystal.sites.size());
        for (size_t f = k + 4; f < t.size(); f++)
          if (ImportStartsNoCase(t[f], "CHG=")) {
            const auto charge = Integer(t[f].substr(4));
            if (ChargeBeyondFormat(charge))
              return RefuseImport(result, static_cast<int>(at) + 1, ChargeBeyondText(t[f].substr(4)));
            charges.back() = static_cast<int>(charge.value_or(0));
          }
      } else if (block == Bonds && t.size() >= 4) {
        auto find = [&](std::string_view token) -> std::optional<long> {
          const auto n = Integer(token);
          const auto it = n ? number.find(*n) : number.end();
          return it == number.end() ? std::nullopt : std::optional<long>(it->second);
        };
        Bond(at, find(t[2]), find(t[3]));
      }
    }
    if (s->crystal.sites.empty() && promised != 0)
      return RefuseImport(result, static_cast<int>(counts) + 1, "the file ends before the V3000 atom block");
    return true;
  }

  void KeepCharges() {
    std::string text;
    for (size_t k = 0; k < charges.size(); k++)
      if (charges[k] != 0)
        text += (text.empty() ? "" : ", ") + ElementSymbolText(s->crystal.sites[k].elements[0]) +
                std::to_string(k + 1) + " " + (charges[k] > 0 ? "+" : "") + std::to_string(charges[k]);
    if (!text.empty())
      s->extras.notes += "Formal charges given by the file: " + text + ".\n";
  }

  // One record from line `i`; `i` ends past its "$$$$" line.
  bool Record(size_t &i, size_t ordinal) {
    const size_t first = i;
    const std::string title(TrimImport(lines[first]));
    s = BeginImportedStructure(result, title.empty() ? "record " + std::to_string(ordinal) : title,
                               static_cast<int>(first + 1));
    charges.clear();
    if (s) {
      const size_t counts = first + 3;
      if (counts >= lines.size() || IsRecordEnd(lines[std::min(counts, lines.size() - 1)]))
        return RefuseImport(result, static_cast<int>(std::min(counts + 1, lines.size())),
                            "the record ends before its counts line");
      s->crystal.molecule = 1;
      s->extras.title = title;
      const bool v3000 = lines[counts].find("V3000") != std::string_view::npos;
      if (!(v3000 ? V3000(counts, i) : V2000(counts, i)))
        return false;
      if (i >= lines.size() || IsRecordEnd(lines[i]))
        ImportWarning(*s, static_cast<int>(std::min(i, lines.size())), "the record has no \"M  END\" line.");
      KeepCharges();
      if (!FinishImportedStructure(*s, result.error)) {
        result.error.line = static_cast<int>(first + 1);
        return false;
      }
    }
    // Data items of an SD record, up to its "$$$$" line.
    while (i < lines.size() && !IsRecordEnd(lines[i]))
      i++;
    i++;
    return true;
  }
};

} // namespace

bool IsMOLFile(const ImportSource &source) {
  // The counts line, fourth of the file, ends in its version, or holds two
  // counts in its columns before an "M  END" line.
  size_t start = 0;
  for (int k = 0; k < 3; k++) {
    start = source.text.find('\n', start);
    if (start == std::string::npos)
      return false;
    start++;
  }
  const std::string_view rest = std::string_view(source.text).substr(start);
  const std::string_view counts = rest.substr(0, rest.find('\n'));
  if (counts.find(" V2000") != std::string_view::npos || counts.find(" V3000") != std::string_view::npos)
    return true;
  return Integer(ImportColumns(counts, 1, 3)) && Integer(ImportColumns(counts, 4, 3)) &&
         rest.find("\nM  END") != std::string_view::npos;
}

bool DoMOLFile(const ImportSource &source, ImportResult &result) {
  if (RefuseCutInsideNumber(source, result))
    return false;
  const auto lines = ImportLines(source.text);
  Reader reader{lines, result, nullptr, {}};
  size_t i = 0;
  for (size_t ordinal = 1; i < lines.size(); ordinal++) {
    if (!reader.Record(i, ordinal))
      return false;
    // Blank lines after the last record end the file.
    size_t next = i;
    while (next < lines.size() && TrimImport(lines[next]).empty())
      next++;
    if (next >= lines.size())
      break;
  }
  return true;
}

extern const ImportFormat gMOLImport{"MOL", "MOL and SD files", "mol sdf sd", "", IsMOLFile, DoMOLFile};
