// Writes what the explorers compute, so that outside programs can check it.
// Runs only when OV_EXPLORER_DUMP_OUT names a folder; the scripts
// tests/oracle/distance_histogram_oracle.py and spacegroup_browser_oracle.py
// set it and compare with python3-ase, numpy, spglib, gemmi and poppler.
//
// histogram.txt, for each structure of OV_EXPLORER_DUMP_IN (the bond test
// structures): the From sites (every site of the first element), the range
// and bin width, then one line per To element (every other element) with its
// bin counts:
//   structure <title>
//   range <min> <max> <width> <bin count>
//   from <label>...
//   to <element> <count>...
//   end
// histogram.pdf: the first structure's histogram exported with its title.
// browser.txt: every row the space-group browser lists, for each system,
// lattice letter and show-all state, as fields separated by '|':
//   row|<system>|<all>|<letter>|<table row>|<text>|<number>|<short>|<full>|
//       <Schoenflies>|<multiplicity>|<origin>|<shift x> <y> <z>
// and, per table row, its operators as listed to the Log with the centring
// copies: card|<table row>|<card text>
#include "DumpInput.h"
#include "FakeHost.h"
#include "../model/BondSearchReference.h"

#include "explorers/DistanceHistogram.h"
#include "explorers/SpacegroupBrowser.h"
#include "explorers/SymmetryOptions.h"

#include "SpaceGroups.h"

#include <QFile>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

namespace {

struct DumpStructure {
  std::string title;
  float cell[6] = {10, 10, 10, 90, 90, 90};
  std::string symbol = "P 1";
  std::vector<bondref::SiteSpec> sites;
  std::string error;
};

std::string Symbol(ElementCode e) {
  std::string s(1, static_cast<char>(e >> 8));
  if ((e & 0xFF) != ' ')
    s += static_cast<char>(e & 0xFF);
  return s;
}

std::vector<DumpStructure> ReadDumpStructures(const std::filesystem::path &file) {
  return dumpinput::ReadStructures<DumpStructure>(
      file, file.filename().string(),
      [](DumpStructure &s, const std::string &key, std::istringstream &words, const std::string &line, int) {
        if (key == "cell")
          dumpinput::ReadNumbers(words, s.cell);
        else if (key == "spacegroup")
          s.symbol = dumpinput::Trim(line.substr(key.size()));
        else if (key == "site") {
          bondref::SiteSpec site{};
          words >> site.label >> site.element >> site.x >> site.y >> site.z;
          s.sites.push_back(site);
        }
      });
}

// The structure with its sites in element order and one red atom type per site.
bool MakeDumpCrystal(DumpStructure &s, CrystalRec &c) {
  std::stable_sort(s.sites.begin(), s.sites.end(), [](const bondref::SiteSpec &a, const bondref::SiteSpec &b) {
    return int16_t(bondref::Element(a.element)) < int16_t(bondref::Element(b.element));
  });
  const float range[6] = {0, 1, 0, 1, 0, 1};
  if (!bondref::MakeCrystal(c, s.cell, s.symbol.c_str(), s.sites, range))
    return false;
  c.spheres.resize(c.sites.size());
  c.sphereCount = int32_t(c.sites.size());
  for (size_t k = 0; k < c.sites.size(); k++) {
    c.spheres[k].element = c.sites[k].elements[0];
    c.spheres[k].radius = 1.0f;
    c.spheres[k].colour = RGBColor{65535, 0, 0};
  }
  return true;
}

TEST(ExplorerDump, HistogramBins) {
  const char *in = std::getenv("OV_EXPLORER_DUMP_IN");
  const char *out = std::getenv("OV_EXPLORER_DUMP_OUT");
  if (!in || !out)
    GTEST_SKIP() << "set OV_EXPLORER_DUMP_IN and OV_EXPLORER_DUMP_OUT";
  FakeHost host;
  const std::filesystem::path folder(out);
  std::FILE *f = std::fopen((folder / "histogram.txt").c_str(), "w");
  ASSERT_NE(f, nullptr);
  bool pdfWritten = false;
  for (const auto &file : dumpinput::InputFiles(in)) {
    auto structures = ReadDumpStructures(file);
    for (DumpStructure &s : structures) {
      CrystalRec c;
      ASSERT_TRUE(MakeDumpCrystal(s, c)) << s.title;
      PrefsRecord prefs;
      prefs.distanceMinimum = 1.0f;
      prefs.distanceMaximum = 4.0f;
      prefs.distanceBinWidth = 0.037f;
      prefs.distanceHistogramFlags[3] = 0;
      std::unique_ptr<DistanceSearch> search = NewDistanceSearch(&c, true, prefs);
      ASSERT_GE(search->toEntries.size(), 2u) << s.title;
      const ElementCode first = ElementCode(search->toEntries[0].element);
      std::vector<uint32_t> from;
      std::fprintf(f, "structure %s\nrange %.9g %.9g %.9g", s.title.c_str(), double(search->minDistance),
                   double(search->maxDistance), double(search->binWidth));
      for (const DistanceFromEntry &row : search->fromEntries)
        if (!row.isElement && row.element == first)
          from.push_back(row.site);
      std::vector<ElementCode> to;
      for (DistanceToEntry &row : search->toEntries) {
        row.checked = ElementCode(row.element) != first;
        if (row.checked)
          to.push_back(ElementCode(row.element));
      }
      uint32_t count = 0;
      float percent = 0;
      auto found = DoDistanceExplorerSearch(&c, from.data(), uint32_t(from.size()), to.data(), uint32_t(to.size()),
                                            search->minDistance, search->maxDistance, &count, &percent);
      ASSERT_TRUE(found.has_value()) << s.title;
      search->results = std::move(*found);
      search->haveResults = true;
      ASSERT_TRUE(BinDistanceResults(*search, &c));
      std::fprintf(f, " %u\nfrom", search->binCount);
      for (uint32_t site : from)
        std::fprintf(f, " %s", c.sites[site].label);
      std::fprintf(f, "\n");
      for (const DistanceToEntry &row : search->toEntries) {
        if (!row.checked)
          continue;
        std::fprintf(f, "to %s", Symbol(ElementCode(row.element)).c_str());
        for (uint32_t n : row.bins)
          std::fprintf(f, " %u", n);
        std::fprintf(f, "\n");
      }
      std::fprintf(f, "end\n");
      if (!pdfWritten) {
        pdfWritten = true;
        const std::string title = "histogram.pdf";
        QFile pdf(QString::fromStdString((folder / title).string()));
        ASSERT_TRUE(pdf.open(QIODevice::WriteOnly));
        pdf.write(DistanceHistogramPdf(search.get(), QSize(480, 320), &title));
      }
    }
  }
  std::fclose(f);
  EXPECT_TRUE(pdfWritten);
}

// mirrors.txt, for each structure of OV_EXPLORER_MIRROR_IN: the distances
// from 0 to 3 A from every site to every element, searched in one go as the
// window does, with their mirrors removed; the distances left and, per pair
// of site labels, how many join them (both directions together):
//   structure <title>
//   found <count>
//   pair <label> <label> <count>
//   end
TEST(ExplorerDump, MirrorPairs) {
  const char *in = std::getenv("OV_EXPLORER_MIRROR_IN");
  const char *out = std::getenv("OV_EXPLORER_DUMP_OUT");
  if (!in || !out)
    GTEST_SKIP() << "set OV_EXPLORER_MIRROR_IN and OV_EXPLORER_DUMP_OUT";
  FakeHost host;
  std::FILE *f = std::fopen((std::filesystem::path(out) / "mirrors.txt").c_str(), "w");
  ASSERT_NE(f, nullptr);
  for (const auto &file : dumpinput::InputFiles(in))
    for (DumpStructure &s : ReadDumpStructures(file)) {
      CrystalRec c;
      ASSERT_TRUE(MakeDumpCrystal(s, c)) << s.title;
      std::unique_ptr<DistanceSearch> search = NewDistanceSearch(&c, true, PrefsRecord{});
      std::vector<uint32_t> from;
      for (const DistanceFromEntry &row : search->fromEntries)
        if (!row.isElement)
          from.push_back(row.site);
      std::vector<ElementCode> to;
      for (const DistanceToEntry &row : search->toEntries)
        to.push_back(ElementCode(row.element));
      uint32_t count = 0;
      float percent = 0;
      auto found = DoDistanceExplorerSearch(&c, from.data(), uint32_t(from.size()), to.data(), uint32_t(to.size()),
                                            0.0f, 3.0f, &count, &percent);
      ASSERT_TRUE(found.has_value()) << s.title;
      RemoveMirrorDistances(*found);
      std::fprintf(f, "structure %s\nfound %zu\n", s.title.c_str(), found->size());
      std::map<std::pair<uint32_t, uint32_t>, int> pairs;
      for (const DistanceResult &r : *found)
        pairs[{std::min(r.from, r.site), std::max(r.from, r.site)}]++;
      for (const auto &[key, n] : pairs)
        std::fprintf(f, "pair %s %s %d\n", c.sites[key.first].label, c.sites[key.second].label, n);
      std::fprintf(f, "end\n");
    }
  std::fclose(f);
}

TEST(ExplorerDump, SpacegroupRowsAndListings) {
  const char *out = std::getenv("OV_EXPLORER_DUMP_OUT");
  if (!out)
    GTEST_SKIP() << "set OV_EXPLORER_DUMP_OUT";
  FakeHost host;
  std::FILE *f = std::fopen((std::filesystem::path(out) / "browser.txt").c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::set<int> listed;
  for (int all = 0; all < 2; all++)
    for (int system = 1; system <= 8; system++) {
      SpacegroupWinRec rec;
      rec.showAllSettings = uint8_t(all);
      ClickSpacegroupList(rec, 1, system);
      for (int l = 1; l <= rec.latticeCount; l++) {
        ClickSpacegroupList(rec, 3, l);
        for (int k = 1; k <= rec.SymbolCount(); k++) {
          ClickSpacegroupList(rec, 5, k);
          const SpacegroupPanel p = DescribeSpacegroupSelection(rec);
          const SymbolListEntry &e = rec.entries[size_t(k - 1)];
          const SpacegroupRecord &row = gSpacegroups[e.tableRow];
          std::fprintf(f, "row|%d|%d|%c|%d|%s|%d|%s|%s|%s|%d|%d|%.6f %.6f %.6f\n", system, all,
                       rec.latticeLetters[size_t(l)], e.tableRow, e.text.c_str(), p.number, p.shortSymbol.c_str(),
                       p.fullSymbol.c_str(), p.schoenflies.c_str(), p.multiplicity, p.originChoice,
                       double(p.shift[0]), double(p.shift[1]), double(p.shift[2]));
          if (!listed.insert(e.tableRow).second)
            continue;
          SymmetryOptionsRec ops;
          ops.symbol = row.fullSymbol;
          if (row.setting == kSettingRhombohedralAxes)
            ops.cellAngles[0] = ops.cellAngles[1] = ops.cellAngles[2] = 80.0f;
          else if (row.setting == kSettingHexagonalAxes)
            ops.cellAngles[2] = 120.0f;
          ops.count = uint16_t(row.numOps);
          for (uint32_t i = 0; i < row.numOps; i++)
            DecodeSymmCard(row.ops[i], ops.cards[i]);
          ops.latticeLetter = row.fullSymbol[0];
          for (const std::string &line : SymmetryListingLines(ops, true))
            if (!line.empty())
              std::fprintf(f, "card|%d|%s\n", e.tableRow, line.c_str());
        }
      }
    }
  std::fclose(f);
  EXPECT_GT(listed.size(), 500u);
}

} // namespace
