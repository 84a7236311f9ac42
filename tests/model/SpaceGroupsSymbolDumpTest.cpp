// Writes the operators the engine builds a crystal with for space-group
// symbols as a user types them or a file gives them, so that an outside
// program can check them. Runs only when OV_SYMBOL_DUMP_IN (a file) and
// OV_SYMBOL_DUMP_OUT (the file to write) are set; tests/oracle/
// spacegroup_symbols_oracle.py sets them and compares with python3-spglib.
//
// Input, one symbol a line: <origin choice> <alpha> <beta> <gamma> <symbol>
// Output, one line each, in the same order:
//   <recognised 0/1> <origin choice kept> <operators> : <op> ; <op> ; ...
// an operator being the nine rotation entries and the three translations in
// 24ths, centring translations included (the list a cell is generated from).
// The symbol goes the way of a typed one: normalised, then resolved when the
// cell is generated.
#include "DumpInput.h"
#include "FakeHost.h"
#include "SpaceGroups.h"
#include "StructureArrays.h"
#include "UnitCell.h"
#include "Utilities.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

TEST(SpaceGroupsSymbolDump, WritesTheOperatorsOfEachSymbol) {
  const char *inPath = std::getenv("OV_SYMBOL_DUMP_IN");
  const char *outPath = std::getenv("OV_SYMBOL_DUMP_OUT");
  if (!inPath || !outPath)
    GTEST_SKIP() << "set OV_SYMBOL_DUMP_IN and OV_SYMBOL_DUMP_OUT to write the operators of symbols";
  FakeHost host;
  std::ifstream in(inPath);
  ASSERT_TRUE(in) << inPath;
  std::ofstream out(outPath);
  ASSERT_TRUE(out) << outPath;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    int origin = 0;
    float angles[3] = {90, 90, 90};
    words >> origin >> angles[0] >> angles[1] >> angles[2];
    std::string symbol;
    std::getline(words, symbol);
    symbol = dumpinput::Trim(symbol);

    CrystalRec c;
    InitBlankCrystalRec(&c);
    c.alpha = angles[0];
    c.beta = angles[1];
    c.gamma = angles[2];
    uint8_t choice = static_cast<uint8_t>(origin);
    ConvertSpaceGroupSymbol(symbol, choice);
    MyStrCopy(std::span<char>(c.spaceGroup), symbol);
    c.originChoice = choice;
    // Whether the lookup knew the symbol, on a copy (it may rewrite it).
    std::string probe = symbol;
    char lattice = 0;
    uint16_t count = 0;
    std::array<Symcard, kMaxSymCards> scratch{};
    const bool recognised = Spaceg(probe, choice, c.alpha, c.beta, c.gamma, lattice, count, scratch);

    int32_t n = 0;
    auto ops = GetCrystalGEPs(&c, &n);
    ASSERT_TRUE(ops.has_value()) << line;
    out << (recognised ? 1 : 0) << ' ' << int{choice} << ' ' << n << " :";
    for (const GEP &g : *ops) {
      out << ' ';
      for (const auto &row : g.rotation)
        for (int16_t v : row)
          out << v << ' ';
      for (double t : g.translation)
        out << std::lround(t * 24.0) << ' ';
      out << ';';
    }
    out << '\n';
  }
}
