// MacMolecule 1.x ball-and-stick files: comment lines begin with ";", an
// atom type is a letter ("A = radius, radius (r,g,b)"), preceded by a
// comment naming its element ("; Atom description for: Si (site: Si1)"),
// each atom a code of its type's letter and a number ("A0 :  x y z",
// Cartesian A), each bond two codes ("A0, B3"). Lines beginning with bullets
// close the file.
#include "import/ImportTypes.h"
#include "import/ImportText.h"
#include "import/StructureFill.h"

#include <cctype>
#include <unordered_map>

namespace {

constexpr std::string_view kDescription = "; Atom description for:";

bool IsLetter(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; }
bool IsDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

// An atom code at the start of the text ("B12"); its length, 0 for none.
size_t AtomCode(std::string_view text) {
  if (text.empty() || !IsLetter(text[0]))
    return 0;
  size_t n = 1;
  while (n < text.size() && IsDigit(text[n]))
    n++;
  return n > 1 ? n : 0;
}

// "A = 1.000, 0.300 (...)": the type's letter, else 0.
char TypeLetter(std::string_view line) {
  if (line.size() < 4 || !IsLetter(line[0]))
    return 0;
  const std::string_view rest = TrimImport(line.substr(1));
  if (rest.empty() || rest[0] != '=')
    return 0;
  const auto t = ImportTokens(rest.substr(1));
  return !t.empty() && ImportNumber(t[0].substr(0, t[0].find(','))) ? line[0] : 0;
}

// "A0 :  x y z": the code and the text after the colon.
bool AtomLine(std::string_view line, std::string_view &code, std::string_view &rest) {
  const size_t n = AtomCode(line);
  if (n == 0)
    return false;
  const std::string_view after = TrimImport(line.substr(n));
  if (after.empty() || after[0] != ':')
    return false;
  code = line.substr(0, n);
  rest = after.substr(1);
  return true;
}

} // namespace

bool IsMacMoleculeFile(const ImportSource &source) {
  const auto lines = ImportLines(std::string_view(source.text).substr(0, 16384));
  bool type = false;
  std::string_view code, rest;
  for (std::string_view line : lines) {
    type = type || TypeLetter(line) != 0;
    if (type && AtomLine(line, code, rest))
      return true;
  }
  return false;
}

bool DoMacMoleculeFile(const ImportSource &source, ImportResult &result) {
  if (RefuseCutInsideNumber(source, result))
    return false;
  const auto lines = ImportLines(source.text);
  ImportedStructure *s = BeginImportedStructure(result, source.file.stem().string(), 1);
  if (!s)
    return false;
  s->crystal.molecule = 1;
  if (!lines.empty() && lines[0].starts_with(';'))
    s->extras.title = TrimImport(lines[0].substr(1));
  std::unordered_map<char, ElementCode> types;
  std::unordered_map<std::string_view, uint32_t> atoms;
  ElementCode described = kBlankElement; // named by the last type description; blank for none
  for (size_t at = 0; at < lines.size(); at++) {
    const std::string_view line = lines[at];
    const int number = static_cast<int>(at + 1);
    if (line.starts_with(kDescription)) {
      std::string_view what = TrimImport(line.substr(kDescription.size()));
      what = TrimImport(what.substr(0, what.find('(')));
      const std::optional<ElementCode> named = ElementFromSymbol(what);
      described = named && ImportEqualNoCase(ElementSymbolText(*named), what) ? *named : kBlankElement;
      continue;
    }
    if (line.starts_with(';'))
      continue;
    if (const char letter = TypeLetter(line)) {
      if (described == kBlankElement)
        ImportWarning(*s, number, std::string("the atom type ") + letter + " names no element; its atoms are placeholders.");
      types[letter] = described == kBlankElement ? kPlaceholderElement : described;
      described = kBlankElement;
      continue;
    }
    std::string_view code, rest;
    if (AtomLine(line, code, rest)) {
      const auto t = ImportTokens(rest);
      std::optional<double> x, y, z;
      if (t.size() >= 3)
        x = ImportNumber(t[0]), y = ImportNumber(t[1]), z = ImportNumber(t[2]);
      if (!x || !y || !z)
        return RefuseImport(result, number, "the atom line holds no three coordinates");
      const auto type = types.find(code[0]);
      if (type == types.end())
        ImportWarning(*s, number, "the atom " + std::string(code) + " is of no type the file describes; it is a placeholder.");
      const ElementCode element = type == types.end() ? kPlaceholderElement : type->second;
      const double cart[3] = {*x, *y, *z};
      const uint32_t index = static_cast<uint32_t>(s->crystal.sites.size());
      if (!AppendImportAtom(result, *s, code, element, cart, number))
        return false;
      if (!atoms.try_emplace(code, index).second)
        ImportWarning(*s, number, "the atom " + std::string(code) + " is given twice; bonds name the first.");
      continue;
    }
    // "A0, B3": a bond.
    const size_t n = AtomCode(line);
    const size_t comma = line.find(',');
    if (n == 0 || comma == std::string_view::npos || TrimImport(line.substr(n, comma - n)).size() != 0)
      continue;
    const std::string_view other = TrimImport(line.substr(comma + 1));
    const auto a = atoms.find(line.substr(0, n)), b = atoms.find(other);
    if (a == atoms.end() || b == atoms.end() || AtomCode(other) != other.size()) {
      ImportWarning(*s, number, "the bond names an atom the file does not hold; it is left out.");
      continue;
    }
    if (a->second != b->second)
      s->bonds.push_back({a->second, b->second, number});
  }
  return FinishImportedStructure(*s, result.error);
}

extern const ImportFormat gMacMoleculeImport{"MacMolecule", "MacMolecule files", "mm", "", IsMacMoleculeFile, DoMacMoleculeFile};
