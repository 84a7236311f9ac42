// The formula the chooser lists for each structure of a file is the one the
// structure opens with: the Log's calculated formula, counted over the atoms
// of the cell, in the same ratios.
#include "ReaderTestSupport.h"

#include <cmath>
#include <map>
#include <sstream>

namespace {

using namespace readertest;
using doctest::Window;

// "C2 Ca O6.20" or "C 4.00 Ca 2.00": each element's amount, an element
// without a number counting 1.
std::map<std::string, double> Amounts(const std::string &formula) {
  std::map<std::string, double> out;
  std::istringstream words(formula);
  std::string last;
  for (std::string w; words >> w;) {
    if (std::isdigit(static_cast<unsigned char>(w[0]))) {
      out[last] = std::stod(w);
      continue;
    }
    size_t digits = 0;
    while (digits < w.size() && !std::isdigit(static_cast<unsigned char>(w[digits])))
      digits++;
    last = w.substr(0, digits);
    out[last] = digits < w.size() ? std::stod(w.substr(digits)) : 1.0;
  }
  return out;
}

// The amounts over that of one element.
std::map<std::string, double> Ratios(std::map<std::string, double> amounts, const std::string &per) {
  const double by = amounts.count(per) ? amounts[per] : 1.0;
  for (auto &[element, n] : amounts)
    n /= by;
  return amounts;
}

struct Listed {
  const char *format, *name;
  const char *per;  // the element the ratios are taken over
  size_t structure; // a structure whose ratio the file's multiplicities give
  const char *element;
  double ratio;
};

const Listed kFiles[] = {
    // Weddellite (block 64932-ICSD), I 4/m: Ca on 8h, C on 16i (the file's
    // multiplicity column).
    {"cif", "gdis_caox.cif", "Ca", 1, "C", 2.0},
    // Magnetite: Fe on 8a and 16d, O on 32e (the file's MULT column).
    {"gsas", "cpd4.exp", "Fe", 1, "O", 32.0 / 24.0},
};

TEST(ChooserFormula, EveryStructureIsListedWithTheFormulaItOpensWith) {
  FakeHost host;
  for (const Listed &f : kFiles) {
    std::vector<StructureSummary> listed;
    gImportHooks.choose = [&](const fs::path &, const std::vector<StructureSummary> &s) {
      listed = s;
      return std::vector<size_t>{};
    };
    Window none(host);
    EXPECT_FALSE(OpenTextFile(none.ref(), Sample(f.format, f.name)));
    ASSERT_GT(listed.size(), 1u) << f.name;
    ASSERT_GT(listed.size(), f.structure);
    for (size_t k = 0; k < listed.size(); k++) {
      SCOPED_TRACE(std::string(f.name) + " structure " + listed[k].name + ": " + listed[k].formula);
      gImportHooks.choose = [k](const fs::path &, const std::vector<StructureSummary> &) {
        return std::vector<size_t>{k};
      };
      host.log.clear();
      Window w(host);
      ASSERT_TRUE(OpenTextFile(w.ref(), Sample(f.format, f.name)));
      const std::string marker = "calculated formula: ";
      const size_t at = host.log.find(marker);
      ASSERT_NE(at, std::string::npos) << host.log;
      const std::string logged = host.log.substr(at + marker.size(), host.log.find('\r', at) - at - marker.size());
      const auto want = Ratios(Amounts(logged), f.per), got = Ratios(Amounts(listed[k].formula), f.per);
      ASSERT_EQ(got.size(), want.size()) << "the Log's " << logged;
      for (const auto &[element, n] : want)
        EXPECT_NEAR(got.at(element), n, 0.01 * n) << element << ", the Log's " << logged;
      if (k == f.structure) {
        EXPECT_NEAR(got.count(f.element) ? got.at(f.element) : 0.0, f.ratio, 1e-3) << f.element << " per " << f.per;
      }
    }
  }
  gImportHooks.choose = nullptr;
}

} // namespace
