// The formula the chooser lists for each structure of a file is the one the
// structure opens with: the Log's calculated formula, counted over the atoms
// of the cell, in the same ratios.
#include "ReaderTestSupport.h"

#include <map>
#include <sstream>

namespace {

using namespace readertest;
using doctest::Window;

// Each element's amount over calcium's, from "C2 Ca O6.20" or
// "C 4.00 Ca 2.00" (an element without a number counts 1).
std::map<std::string, double> PerCalcium(const std::string &formula) {
  std::map<std::string, double> out;
  std::istringstream words(formula);
  std::string last;
  for (std::string w; words >> w;) {
    const size_t digits = std::isdigit(static_cast<unsigned char>(w[0])) ? 0 : w.find_first_of("0123456789");
    if (digits > 0)
      last = w.substr(0, digits);
    out[last] = digits < w.size() ? std::stod(w.substr(digits)) : 1.0;
  }
  for (auto &[element, n] : out)
    n /= out.count("Ca") ? out.at("Ca") : 1.0;
  return out;
}

TEST(ChooserFormula, EveryStructureIsListedWithTheFormulaItOpensWith) {
  FakeHost host;
  const fs::path file = fs::path(OV_TEST_DATA) / "bonds" / "caox.cif";
  std::vector<StructureSummary> listed;
  gImportHooks.choose = [&](const fs::path &, const std::vector<StructureSummary> &s) {
    listed = s;
    return std::vector<size_t>{};
  };
  Window none(host);
  EXPECT_FALSE(OpenTextFile(none.ref(), file));
  ASSERT_GT(listed.size(), 1u);
  // Weddellite, I 4/m: Ca on 8h, C on 16i (the file's multiplicity column).
  ASSERT_EQ(listed[1].name, "64932-ICSD");
  EXPECT_DOUBLE_EQ(PerCalcium(listed[1].formula)["C"], 2.0) << listed[1].formula;
  for (size_t k = 0; k < listed.size(); k++) {
    SCOPED_TRACE(listed[k].name + ": " + listed[k].formula);
    gImportHooks.choose = [k](const fs::path &, const std::vector<StructureSummary> &) {
      return std::vector<size_t>{k};
    };
    host.log.clear();
    Window w(host);
    ASSERT_TRUE(OpenTextFile(w.ref(), file));
    const std::string marker = "calculated formula: ";
    const size_t at = host.log.find(marker) + marker.size();
    ASSERT_GT(at, marker.size()) << host.log;
    const std::string logged = host.log.substr(at, host.log.find('\r', at) - at);
    const auto want = PerCalcium(logged), got = PerCalcium(listed[k].formula);
    ASSERT_EQ(got.size(), want.size()) << "the Log's " << logged;
    for (const auto &[element, n] : want)
      EXPECT_NEAR(got.at(element), n, 0.01 * n) << element << ", the Log's " << logged;
  }
  gImportHooks.choose = nullptr;
}

} // namespace
