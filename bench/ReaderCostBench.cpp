// Reading cost against file size: each file at full size and at a tenth of
// it, so that the two times show the cost linear in the file.
//   SHELX: distinct SYMM cards (100,000 at full size), refused once they
//     pass what a structure holds;
//   PDB: two-atom models (1,000) and CONECT records (250,000), every model
//     holding the serials 1 and 2.
// Read through the import path (`ReadStructureFile`); the files are written
// once into the temporary folder.
#include "import/ImportPath.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

fs::path Written(const std::string &name, const std::string &text) {
  const fs::path file = fs::temp_directory_path() / ("ovbench-" + std::to_string(::getpid()) + "-" + name);
  std::ofstream(file, std::ios::trunc | std::ios::binary) << text;
  return file;
}

std::string SymmCards(long cards) {
  std::string o = "TITL symm\nCELL 0.71 5 5 5 90 90 90\nLATT -1\nSFAC C\n";
  char line[96];
  for (long k = 0; k < cards; k++) {
    // Distinct translations: no two cards are the same operator.
    std::snprintf(line, sizeof line, "SYMM -X+%ld/%ld, Y, Z\n", k % 97 + 1, k / 97 + 101);
    o += line;
  }
  return o + "C1 1 0.1 0.2 0.3 11 0.02\nEND\n";
}

std::string ConectModels(long models, long records) {
  std::string o;
  char line[96];
  for (long m = 1; m <= models; m++) {
    std::snprintf(line, sizeof line, "MODEL     %4ld\n", m);
    o += line;
    o += "ATOM      1  O   HOH A   1       0.000   0.000   0.000  1.00 20.00           O  \n"
         "ATOM      2  H1  HOH A   1       0.957   0.000   0.000  1.00 20.00           H  \n"
         "ENDMDL\n";
  }
  for (long k = 0; k < records; k++) {
    std::snprintf(line, sizeof line, "CONECT%5ld%5ld%5ld%5ld%5ld\n", k % 99999 + 1, (k + 1) % 99999 + 1,
                  (k + 7) % 99999 + 1, (k + 13) % 99999 + 1, (k + 29) % 99999 + 1);
    o += line;
  }
  return o + "END\n";
}

void Read(benchmark::State &state, const fs::path &file) {
  const auto bytes = static_cast<int64_t>(fs::file_size(file));
  for (auto _ : state) {
    ImportResult result;
    std::string why;
    benchmark::DoNotOptimize(ReadStructureFile(file, result, &why));
  }
  state.SetBytesProcessed(state.iterations() * bytes);
  state.counters["bytes"] = static_cast<double>(bytes);
}

void BM_ShelxSymmCards(benchmark::State &state) {
  static const fs::path full = Written("symm-full.ins", SymmCards(100000)),
                        tenth = Written("symm-tenth.ins", SymmCards(10000));
  Read(state, state.range(0) ? full : tenth);
}
BENCHMARK(BM_ShelxSymmCards)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_PdbConectModels(benchmark::State &state) {
  static const fs::path full = Written("conect-full.pdb", ConectModels(1000, 250000)),
                        tenth = Written("conect-tenth.pdb", ConectModels(100, 25000));
  Read(state, state.range(0) ? full : tenth);
}
BENCHMARK(BM_PdbConectModels)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace
