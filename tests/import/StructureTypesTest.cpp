// The table of structure types: every file of tests/data/structuretypes is
// opened as File > Open opens it, and each site's coordination, as the Sites
// window shows it and as File > Export's crystal coordination listing writes
// it, is checked against the textbook number of the file's `# expect LABEL N`
// lines (checked against gemmi's distances by
// tools/structuretypes/check_structuretypes.py). `# expect-bonds A B N` lines
// ask that one bonded atom of site A have N neighbours of site B. A
// `# today LABEL N why` line records where the rule still parts from the
// textbook: the site must show N, so a change of the rule there is seen and
// the row revisited.
#include "ReaderTestSupport.h"

#include "PlotRange.h"
#include "export/ExportFrame.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Expectations {
  std::map<std::string, uint32_t> sites;                             // label -> coordination
  std::map<std::string, uint32_t> today;                             // label -> the rule's count, where it differs
  std::vector<std::tuple<std::string, std::string, uint32_t>> bonds; // A, B, B neighbours of one A atom
};

Expectations ReadExpectations(const fs::path &file) {
  Expectations out;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line);
    std::string hash, key, a, b;
    uint32_t n = 0;
    words >> hash >> key;
    if (hash == "#" && key == "expect" && words >> a >> n)
      out.sites[a] = n;
    else if (hash == "#" && key == "today" && words >> a >> n)
      out.today[a] = n;
    else if (hash == "#" && key == "expect-bonds" && words >> a >> b >> n)
      out.bonds.emplace_back(a, b, n);
  }
  return out;
}

// The "[CN]" numbers the listing writes for each label's atoms.
std::map<std::string, std::set<uint32_t>> ListedCoordination(const std::string &text) {
  std::map<std::string, std::set<uint32_t>> out;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.size() < 4 || line[0] != '[' || !std::isdigit(static_cast<unsigned char>(line[1])))
      continue;
    std::istringstream words(line.substr(line.find(']') + 1));
    std::string element, label;
    words >> element >> label;
    out[label].insert(static_cast<uint32_t>(std::stoul(line.substr(1))));
  }
  return out;
}

// The most neighbours of site `b` that one atom of site `a` is bonded to,
// over the atoms of the middle cell of a range of three cells per axis, whose
// neighbours are all drawn.
uint32_t MostBondsBetween(doctest::Window &w, const std::string &a, const std::string &b) {
  CrystalRec &c = w.crystal();
  if (!c.molecule && !SetPlotRange(w.ref(), -1, 2, -1, 2, -1, 2))
    return 0;
  uint32_t most = 0;
  for (const AtomRecord &atom : c.atoms) {
    bool middle = c.sites[atom.site].label == a;
    for (int i = 0; i < 3 && !c.molecule; i++)
      middle = middle && atom.xyz[i] >= c.plotRange[2 * i] + 1 && atom.xyz[i] < c.plotRange[2 * i] + 2;
    if (middle)
      most = std::max(most, static_cast<uint32_t>(std::count_if(atom.bonds.begin(), atom.bonds.end(), [&](uint32_t k) {
                        return c.sites[c.atoms[k].site].label == b;
                      })));
  }
  return most;
}

TEST(StructureTypes, EverySiteHasItsTextbookCoordination) {
  FakeHost host;
  const fs::path folder = fs::path(OV_TEST_DATA) / "structuretypes";
  const fs::path listing = fs::path(testing::TempDir()) / "structure type coordination.txt";
  std::vector<fs::path> files;
  for (const fs::directory_entry &e : fs::directory_iterator(folder))
    files.push_back(e.path());
  std::sort(files.begin(), files.end());
  ASSERT_GE(files.size(), 1u);
  for (const fs::path &file : files) {
    SCOPED_TRACE(file.filename().string());
    const Expectations expect = ReadExpectations(file);
    EXPECT_FALSE(expect.sites.empty()) << "no # expect line";
    doctest::Window w(host);
    host.alerts.clear();
    if (!OpenTextFile(w.ref(), file)) {
      ADD_FAILURE() << "refused: " << (host.alerts.empty() ? "" : host.alerts.back().explanation);
      continue;
    }
    std::map<std::string, std::set<uint32_t>> listed;
    if (!w.crystal().molecule) {
      host.savePaths = {listing};
      EXPECT_EQ(DoExportCommand(w.ref(), kCmdExportCrystalCoordination), 0);
      std::ifstream in(listing);
      listed = ListedCoordination(std::string(std::istreambuf_iterator<char>(in), {}));
      fs::remove(listing);
    }
    for (const auto &[label, textbook] : expect.sites) {
      SCOPED_TRACE("site " + label);
      const uint32_t n = expect.today.count(label) ? expect.today.at(label) : textbook;
      const AsymmetricUnitRecord *site = readertest::Site(w.crystal(), label.c_str());
      if (!site) {
        ADD_FAILURE() << "no such site";
        continue;
      }
      // A molecule has no crystal coordination listing.
      const std::set<uint32_t> exported = w.crystal().molecule ? std::set<uint32_t>{n} : listed[label];
      EXPECT_TRUE(site->coordination == n && exported == std::set<uint32_t>{n})
          << "expected " << n << ", Sites window " << site->coordination << ", coordination export "
          << testing::PrintToString(exported);
    }
    for (size_t s = 0; s < UsableSiteSize(w.crystal()); s++)
      EXPECT_TRUE(expect.sites.count(w.crystal().sites[s].label))
          << "no # expect line for " << w.crystal().sites[s].label;
    for (const auto &[a, b, n] : expect.bonds)
      EXPECT_EQ(MostBondsBetween(w, a, b), n) << a << " bonded to " << b;
  }
}

} // namespace
