// The seeds of the fuzz targets of foreign formats: the files of the named
// folders of tests/data/import, and the inputs kept in tests/fuzz/seeds
// under the same folder names (findings, and shapes no test file has).
// Licence notes (.txt) are not seeds, nor files beyond kMaxSeedBytes: a
// fuzzer mutates small inputs best.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

namespace fuzzseeds {

inline constexpr std::uintmax_t kMaxSeedBytes = 64 * 1024;

inline std::vector<std::string> FilesOf(std::initializer_list<const char *> folders) {
  const std::filesystem::path source(OV_SOURCE_DIR);
  std::vector<std::string> seeds;
  for (const char *folder : folders)
    for (const std::filesystem::path &dir : {source / "tests/data/import" / folder, source / "tests/fuzz/seeds" / folder}) {
      std::error_code ec;
      for (const auto &e : std::filesystem::directory_iterator(dir, ec)) {
        if (!e.is_regular_file() || e.path().extension() == ".txt" || e.file_size() > kMaxSeedBytes)
          continue;
        std::ifstream in(e.path(), std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        seeds.push_back(text.str());
      }
    }
  return seeds;
}

} // namespace fuzzseeds
