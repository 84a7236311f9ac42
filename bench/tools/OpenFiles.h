// The large files bench/make_open_files.py writes (and, with `small`, the
// smallest of each kind), written into the temporary folder by the script
// when missing.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace benchscene {

inline std::filesystem::path OpenFilesFolder(bool small) {
  return std::filesystem::temp_directory_path() / (small ? "ovbench-small-opens" : "ovbench-large-opens");
}

// The file, written by the script when missing; empty when it could not be.
inline std::filesystem::path GeneratedOpenFile(const char *name, bool small) {
  const std::filesystem::path file = OpenFilesFolder(small) / name;
  if (!std::filesystem::exists(file)) {
    const std::string command = "/usr/bin/python3 '" + std::string(OV_SOURCE_DIR) + "/bench/make_open_files.py' " +
                                (small ? "--small '" : "'") + OpenFilesFolder(small).string() + "'";
    if (std::system(command.c_str()) != 0 || !std::filesystem::exists(file))
      return {};
  }
  return file;
}

// The file, or empty with the benchmark stopped when it could not be written.
inline std::filesystem::path RequiredOpenFile(benchmark::State &state, const char *name, bool small) {
  const std::filesystem::path file = GeneratedOpenFile(name, small);
  if (file.empty())
    state.SkipWithError("bench/make_open_files.py could not write the file (it needs gemmi and numpy)");
  return file;
}

} // namespace benchscene
