#include "DumpInput.h"

#include <algorithm>

namespace dumpinput {

std::string Trim(const std::string &s) {
  const size_t a = s.find_first_not_of(" \t\r");
  if (a == std::string::npos)
    return {};
  const size_t b = s.find_last_not_of(" \t\r");
  return s.substr(a, b - a + 1);
}

std::vector<std::filesystem::path> InputFiles(const std::filesystem::path &in) {
  std::vector<std::filesystem::path> files;
  if (std::filesystem::is_directory(in)) {
    for (const auto &entry : std::filesystem::directory_iterator(in))
      if (entry.is_regular_file() && entry.path().extension() == ".txt")
        files.push_back(entry.path());
    std::sort(files.begin(), files.end());
  } else {
    files.push_back(in);
  }
  return files;
}

bool ReadSite(std::istringstream &words, Site &site) {
  words >> site.label >> site.element >> site.xyz[0] >> site.xyz[1] >> site.xyz[2];
  const bool ok = static_cast<bool>(words);
  float occupancy = 0.0f;
  if (words >> occupancy)
    site.occupancy = occupancy;
  return ok;
}

} // namespace dumpinput
