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

// A name of at most three characters as one number: a byte a character,
// and its length in the top byte.
constexpr uint32_t ResidueKey(std::string_view name) {
  uint32_t key = static_cast<uint32_t>(name.size());
  for (char ch : name)
    key = key << 8 | static_cast<uint8_t>(ch);
  return key << 8 * (3 - name.size());
}

constexpr std::array<uint32_t, kStandardResidues.size()> kStandardResidueKeys = [] {
  std::array<uint32_t, kStandardResidues.size()> keys{};
  for (size_t k = 0; k < keys.size(); k++)
    keys[k] = ResidueKey(kStandardResidues[k]);
  return keys;
}();

bool IsStandardResidue(std::string_view residue) {
  residue = TrimImport(residue);
  if (residue.empty() || residue.size() > 3)
    return false;
  char up[3] = {};
  for (size_t k = 0; k < residue.size(); k++)
    up[k] = static_cast<char>(std::toupper(static_cast<unsigned char>(residue[k])));
  const uint32_t key = ResidueKey(std::string_view(up, residue.size()));
  return std::find(kStandardResidueKeys.begin(), kStandardResidueKeys.end(), key) != kStandardResidueKeys.end();
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
  if (note && symbol != oxygen) {
    note->assign(1, '"');
    note->append(label);
    note->append("\" names water: it is read as water's oxygen (O), not as ");
    note->append(symbol ? ElementSymbolText(*symbol) : std::string("no element"));
    note->append(".");
  }
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
