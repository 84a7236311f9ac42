// Chem3D Cartesian files: a count line, then one line per atom,
//   El  serial  x y z  [type  serial of each bonded atom ...]
// Positions are Cartesian (A). The dialect our export writes stops after the
// coordinates; the fuller one lists each atom's bonds by serial number.
#include "import/ImportTypes.h"
#include "import/ImportText.h"
#include "import/StructureFill.h"
#include "import/TextNumbers.h"

#include <tuple>
#include <unordered_map>
#include <unordered_set>

namespace {

std::optional<long> Integer(std::string_view text) { return ParseIntegerToken(TrimImport(text)); }

// An atom line: a symbol, a whole serial number and three coordinates.
bool LooksLikeAtom(std::string_view line) {
  const auto t = ImportTokens(line);
  return t.size() >= 5 && ElementFromSymbol(t[0]) && Integer(t[1]) && ImportNumber(t[2]) && ImportNumber(t[3]) &&
         ImportNumber(t[4]);
}

} // namespace

bool IsChem3DFile(const ImportSource &source) {
  const auto lines = ImportLines(std::string_view(source.text).substr(0, 4096));
  if (lines.size() < 2)
    return false;
  const auto head = ImportTokens(lines[0]);
  const auto count = head.empty() ? std::nullopt : Integer(head[0]);
  if (!count || *count < 1)
    return false;
  // The first atoms read whole (the last line of the excerpt may be cut).
  const size_t check = std::min<size_t>({static_cast<size_t>(*count), lines.size() - 2, 5});
  for (size_t k = 1; k <= std::max<size_t>(check, 1); k++)
    if (!LooksLikeAtom(lines[k]))
      return false;
  return true;
}

bool DoChem3DFile(const ImportSource &source, ImportResult &result) {
  if (RefuseCutInsideNumber(source, result))
    return false;
  const auto lines = ImportLines(source.text);
  const auto head = ImportTokens(lines.empty() ? std::string_view() : lines[0]);
  const auto count = head.empty() ? std::nullopt : Integer(head[0]);
  if (!count || *count < 1)
    return RefuseImport(result, 1, "the first line gives no number of atoms");
  ImportedStructure *s = BeginImportedStructure(result, source.file.stem().string(), 1);
  if (!s)
    return false;
  s->crystal.molecule = 1;
  std::unordered_map<long, uint32_t> bySerial;
  std::vector<std::tuple<size_t, uint32_t, std::vector<long>>> partners; // line index, atom, serials
  size_t at = 1;
  for (long k = 0; k < *count; k++, at++) {
    if (at >= lines.size() || TrimImport(lines[at]).empty())
      return RefuseImport(result, 1,
                          "the count line promises " + std::to_string(*count) + " atoms, but only " +
                              std::to_string(k) + " follow");
    const auto t = ImportTokens(lines[at]);
    const int line = static_cast<int>(at + 1);
    std::optional<double> x, y, z;
    if (t.size() >= 5)
      x = ImportNumber(t[2]), y = ImportNumber(t[3]), z = ImportNumber(t[4]);
    const auto serial = t.size() >= 2 ? Integer(t[1]) : std::nullopt;
    if (!x || !y || !z || !serial)
      return RefuseImport(result, line, "the atom line holds no symbol, serial number and three coordinates");
    auto element = ElementFromSymbol(t[0]);
    if (!element) {
      ImportWarning(*s, line, "the symbol \"" + std::string(t[0]) + "\" names no element; the atom is a placeholder.");
      element = kPlaceholderElement;
    }
    const double cart[3] = {*x, *y, *z};
    const uint32_t index = static_cast<uint32_t>(s->crystal.sites.size());
    if (!AppendImportAtom(result, *s, ElementSymbolText(*element) + std::to_string(*serial), *element, cart, line))
      return false;
    if (!bySerial.try_emplace(*serial, index).second)
      ImportWarning(*s, line, "the serial number " + std::to_string(*serial) + " is given twice; bonds name the first.");
    std::vector<long> bonded;
    for (size_t f = 6; f < t.size(); f++)
      if (const auto p = Integer(t[f]); p && *p != 0)
        bonded.push_back(*p);
    if (!bonded.empty())
      partners.emplace_back(at, index, std::move(bonded));
  }
  // A bond is listed at both of its atoms, or at one: taken once.
  std::unordered_set<uint64_t> seen;
  for (const auto &[lineIndex, own, serials] : partners)
    for (long p : serials) {
      const auto it = bySerial.find(p);
      if (it == bySerial.end()) {
        ImportWarning(*s, static_cast<int>(lineIndex + 1),
                      "the bond to atom " + std::to_string(p) + " names an atom the file does not hold; it is left out.");
        continue;
      }
      const uint32_t a = std::min(own, it->second), b = std::max(own, it->second);
      if (a != b && seen.insert(uint64_t{a} << 32 | b).second)
        s->bonds.push_back({a, b, static_cast<int>(lineIndex + 1)});
    }
  return FinishImportedStructure(*s, result.error);
}

extern const ImportFormat gChem3DImport{"Chem3D", "Chem3D Cartesian files", "chem3d c3d1 c3d2 cc1 cc2", "", IsChem3DFile, DoChem3DFile};
