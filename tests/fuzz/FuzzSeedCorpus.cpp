// Under libFuzzer: the target's seeds (those the stand-alone driver starts
// from) are written into the first corpus folder the command line names,
// before libFuzzer reads it, so that a seed added later (a finding kept in
// tests/fuzz/seeds) is tried by every run. A file named instead of a folder
// is an input to run, and nothing is written.
#include "FuzzTarget.h"

#include <filesystem>
#include <fstream>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
  for (int k = 1; k < *argc; k++) {
    if ((*argv)[k][0] == '-')
      continue;
    const std::filesystem::path dir((*argv)[k]);
    std::error_code ec;
    if (std::filesystem::exists(dir, ec) && !std::filesystem::is_directory(dir, ec))
      return 0;
    std::filesystem::create_directories(dir, ec);
    const std::vector<std::string> seeds = FuzzSeeds();
    for (size_t s = 0; s < seeds.size(); s++) {
      std::ofstream out(dir / ("seed" + std::to_string(s)), std::ios::binary | std::ios::trunc);
      out.write(seeds[s].data(), static_cast<std::streamsize>(seeds[s].size()));
    }
    return 0;
  }
  return 0;
}
