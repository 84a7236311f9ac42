#include "import/ElementOfMass.h"

#include "import/ElementOfName.h"
#include "import/ImportText.h"
#include "import/StructureFill.h"
#include "import/TextNumbers.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {

// Standard atomic weights (IUPAC, conventional values), H to Cm by atomic
// number; for the elements without stable isotopes the mass number of the
// longest-lived one.
constexpr std::array<double, 97> kStandardWeights = {
    0.0,    1.008,  4.0026, 6.94,   9.0122, 10.81,  12.011, 14.007, 15.999, 18.998, 20.180, 22.990, 24.305, 26.982,
    28.085, 30.974, 32.06,  35.45,  39.948, 39.098, 40.078, 44.956, 47.867, 50.942, 51.996, 54.938, 55.845, 58.933,
    58.693, 63.546, 65.38,  69.723, 72.630, 74.922, 78.971, 79.904, 83.798, 85.468, 87.62,  88.906, 91.224, 92.906,
    95.95,  98.0,   101.07, 102.91, 106.42, 107.87, 112.41, 114.82, 118.71, 121.76, 127.60, 126.90, 131.29, 132.91,
    137.33, 138.91, 140.12, 140.91, 144.24, 145.0,  150.36, 151.96, 157.25, 158.93, 162.50, 164.93, 167.26, 168.93,
    173.05, 174.97, 178.49, 180.95, 183.84, 186.21, 190.23, 192.22, 195.08, 196.97, 200.59, 204.38, 207.2,  208.98,
    209.0,  210.0,  222.0,  223.0,  226.0,  227.0,  232.04, 231.04, 238.03, 237.0,  244.0,  243.0,  247.0};

// The power of ten of the last decimal written: -1 for "39.1", 0 for "12"
// and for "1.2e1".
double LastDecimalPower(std::string_view written) {
  const size_t exponentAt = written.find_first_of("eEdD");
  const std::string_view mantissa = written.substr(0, exponentAt);
  const size_t dot = mantissa.find('.');
  const int decimals = dot == std::string_view::npos ? 0 : static_cast<int>(mantissa.size() - dot - 1);
  double exponent = 0.0;
  if (exponentAt != std::string_view::npos)
    exponent = ImportNumber(written.substr(exponentAt + 1)).value_or(0.0);
  return exponent - decimals;
}

// "Si (28.085)": an element and its standard atomic weight.
std::string WeightText(ElementCode element) {
  size_t z = 1;
  while (z + 1 < kStandardWeights.size() && ElementFromAtomicNumber(static_cast<long>(z)) != element)
    z++;
  return ElementSymbolText(element) + " (" + FormatFixed(kStandardWeights[z], 3) + ")";
}

} // namespace

MassCandidates StandardMassCandidates(std::string_view written) {
  written = TrimImport(written);
  MassCandidates out;
  const auto mass = ImportNumber(written);
  if (!mass || !(*mass > 0.0))
    return out;
  const double power = LastDecimalPower(written);
  const double window = std::min(kMassMatchWindow, std::max(kMassMatchFloor, 0.5 * std::pow(10.0, power)));
  long best = 0;
  double nearest = window;
  for (size_t z = 1; z < kStandardWeights.size(); z++)
    if (const double d = std::fabs(kStandardWeights[z] - *mass); d <= nearest) {
      nearest = d;
      best = static_cast<long>(z);
    }
  if (best > 0) {
    out.elements.push_back(*ElementFromAtomicNumber(best));
    return out;
  }
  out.coarse = power >= -1.0;
  for (size_t z = 1; z < kStandardWeights.size() && out.coarse; z++)
    if (std::fabs(kStandardWeights[z] - *mass) <= kCoarseMassWindow)
      out.elements.push_back(*ElementFromAtomicNumber(static_cast<long>(z)));
  return out;
}

std::optional<ElementCode> ElementOfStandardMass(std::string_view written, std::string *note) {
  const MassCandidates m = StandardMassCandidates(written);
  if (note && m.coarse && !m.elements.empty()) {
    const std::string mass(TrimImport(written));
    if (m.elements.size() == 1) {
      *note = "the mass " + mass + " is read as " + WeightText(m.elements[0]) + ", the one element within " +
              FormatFixed(kCoarseMassWindow, 1) + " u of a mass written to so few decimals.";
    } else {
      std::string list;
      for (size_t k = 0; k < m.elements.size(); k++)
        list += (k == 0 ? "" : k + 1 == m.elements.size() ? " and " : ", ") + WeightText(m.elements[k]);
      *note = "the mass " + mass + " lies within " + FormatFixed(kCoarseMassWindow, 1) + " u of " + list +
              ": it names no one element.";
    }
  }
  return m.elements.size() == 1 ? std::optional<ElementCode>(m.elements[0]) : std::nullopt;
}

std::optional<ElementCode> ElementOfStandardMass(ImportedStructure &s, int line, std::string_view written) {
  std::string note;
  const auto element = ElementOfStandardMass(written, &note);
  if (!note.empty())
    ImportWarning(s, line, note);
  return element;
}

ElementCode NamedMassElements::Element(ImportedStructure &s, int line, std::string_view name, std::string_view mass) {
  auto it = readings_.find(name);
  if (it != readings_.end())
    return it->second.element.value_or(kPlaceholderElement);
  Reading r{std::nullopt, ElementOfLabel(s, line, name), std::string(TrimImport(mass))};
  const std::vector<ElementCode> candidates = StandardMassCandidates(mass).elements;
  const bool named = r.named && std::find(candidates.begin(), candidates.end(), *r.named) != candidates.end();
  const bool nameIsSymbol = r.named && ImportEqualNoCase(TrimImport(name), ElementSymbolText(*r.named));
  if (candidates.size() != 1 && (named || (candidates.empty() && nameIsSymbol))) {
    r.element = r.named;
    r.byName = true;
  } else {
    r.element = ElementOfStandardMass(s, line, mass);
  }
  return readings_.emplace(std::string(name), std::move(r)).first->second.element.value_or(kPlaceholderElement);
}

void NamedMassElements::Log(ImportedStructure &s) const {
  std::string byMass, byName, overruled, unknown;
  auto add = [](std::string &list, const std::string &entry) { list += (list.empty() ? "" : ", ") + entry; };
  for (const auto &[name, r] : readings_) {
    if (!r.element)
      add(unknown, name + " (" + r.mass + ")");
    else if (r.byName)
      add(byName, name + " (" + r.mass + ") " + ElementSymbolText(*r.element));
    else if (!r.named)
      add(byMass, name + " " + ElementSymbolText(*r.element));
    else if (*r.named != *r.element)
      add(overruled, name + " (" + r.mass + ") " + ElementSymbolText(*r.element));
  }
  if (!byMass.empty())
    ImportWarning(s, 0, "these atom names name no element; their masses tell it: " + byMass + ".");
  if (!byName.empty())
    ImportWarning(s, 0,
                  "the masses of these atoms name no one element; their names, which do, decide: " + byName + ".");
  if (!overruled.empty())
    ImportWarning(
        s, 0, "the masses of these atoms are another element's than their names say, and decide: " + overruled + ".");
  if (!unknown.empty())
    ImportWarning(s, 0, "these atoms' masses are no element's; they are drawn as placeholders: " + unknown + ".");
}
