#include "import/ElementOfName.h"

#include "import/ImportText.h"
#include "import/StructureFill.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace {

bool IsAsciiLetter(char ch) { return std::isalpha(static_cast<unsigned char>(ch)) != 0; }

// "HOH" or "OW" followed by no letter.
bool NameThenNoLetter(std::string_view text, std::string_view name) {
  return ImportStartsNoCase(text, name) && (text.size() == name.size() || !IsAsciiLetter(text[name.size()]));
}

bool IsWaterName(std::string_view label) {
  return ImportStartsNoCase(label, "WAT") || NameThenNoLetter(label, "HOH") || NameThenNoLetter(label, "OW");
}

// Residue names whose atoms are named by element first: the amino acids,
// the names force fields give their protonation states and caps, and the
// nucleotides. Selenocysteine and other residues whose names hold a
// two-letter element are not among them, nor is UNK, the name some writers
// give every molecule whatever its atoms ("PT" of an UNK is platinum).
constexpr std::array<std::string_view, 45> kStandardResidues = {
    "ALA", "ARG", "ASN", "ASP", "CYS", "GLN", "GLU", "GLY", "HIS", "ILE", "LEU", "LYS", "MET", "PHE", "PRO",
    "SER", "THR", "TRP", "TYR", "VAL", "ASH", "CYM", "CYX", "GLH", "HID", "HIE", "HIP", "HSD", "HSE", "HSP",
    "LYN", "ACE", "NME", "A",   "C",   "G",   "I",   "T",   "U",   "DA",  "DC",  "DG",  "DI",  "DT",  "DU"};

bool IsStandardResidue(std::string_view residue) {
  residue = TrimImport(residue);
  if (residue.empty() || residue.size() > 3)
    return false;
  std::string up(residue);
  for (char &ch : up)
    ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  return std::find(kStandardResidues.begin(), kStandardResidues.end(), up) != kStandardResidues.end();
}

// "Pt", "Cl1": a name in upper and lower case writes its element's symbol
// as it is spelt.
bool IsMixedCase(std::string_view name) {
  bool upper = false, lower = false;
  for (char ch : name) {
    upper = upper || std::isupper(static_cast<unsigned char>(ch)) != 0;
    lower = lower || std::islower(static_cast<unsigned char>(ch)) != 0;
  }
  return upper && lower;
}

} // namespace

std::optional<ElementCode> ElementOfLabel(std::string_view label, std::string *note) {
  label = TrimImport(label);
  const auto symbol = ElementFromSymbol(label);
  if (!IsWaterName(label))
    return symbol;
  const auto oxygen = ElementFromSymbol("O");
  if (note && symbol != oxygen)
    *note = "\"" + std::string(label) + "\" names water: it is read as water's oxygen (O), not as " +
            (symbol ? ElementSymbolText(*symbol) : std::string("no element")) + ".";
  return oxygen;
}

std::optional<ElementCode> ElementOfLabel(ImportedStructure &s, int line, std::string_view label) {
  std::string note;
  const auto element = ElementOfLabel(label, &note);
  if (!note.empty())
    ImportWarning(s, line, note);
  return element;
}

std::optional<ElementCode> ElementOfStandardResidueAtom(std::string_view residue, std::string_view name) {
  name = TrimImport(name);
  if (!IsStandardResidue(residue) || IsMixedCase(name))
    return std::nullopt;
  while (!name.empty() && std::isdigit(static_cast<unsigned char>(name.front())))
    name.remove_prefix(1);
  if (name.empty() || !IsAsciiLetter(name.front()))
    return std::nullopt;
  const char letter[2] = {name.front(), '\0'};
  return ElementFromSymbol(letter);
}
