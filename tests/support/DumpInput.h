// The structure files the dump tests read: one keyword per line, '#' starts a
// comment, "structure <title>" opens a structure and "end" closes it. Each
// dump test knows its own keywords; this reads the lines around them.
#pragma once

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace dumpinput {

// `s` without the blanks, tabs and carriage returns at either end.
std::string Trim(const std::string &s);

// The file itself, or every *.txt file of a folder in name order.
std::vector<std::filesystem::path> InputFiles(const std::filesystem::path &in);

// Reads as many numbers as `values` holds; false when one is missing or bad.
template <size_t N> bool ReadNumbers(std::istringstream &words, float (&values)[N]) {
  for (float &v : values)
    words >> v;
  return static_cast<bool>(words);
}

// A site line: site <label> <element> <x> <y> <z> [occupancy].
struct Site {
  std::string label;
  std::string element;
  float xyz[3] = {0, 0, 0};
  float occupancy = 1.0f;
};

// Reads a site line's words after the keyword; false when the label, element
// or coordinates are missing or bad (the occupancy is optional).
bool ReadSite(std::istringstream &words, Site &site);

// The structures of `path`. `Structure` has a `title` and an `error`; every
// line within a structure other than its "structure" and "end" goes to
// readKeyword(structure, key, words after the key, whole line, line number).
// A file that cannot be read, or a line outside a structure, gives one
// structure that only carries the error (titled `strayLineTitle` for the line).
template <class Structure, class ReadKeyword>
std::vector<Structure> ReadStructures(const std::filesystem::path &path, const std::string &strayLineTitle,
                                      ReadKeyword readKeyword) {
  std::vector<Structure> out;
  std::ifstream in(path);
  if (!in) {
    out.emplace_back();
    out.back().title = path.string();
    out.back().error = "cannot read the file";
    return out;
  }
  Structure *current = nullptr;
  std::string line;
  int lineNumber = 0;
  while (std::getline(in, line)) {
    lineNumber++;
    line = Trim(line.substr(0, line.find('#')));
    if (line.empty())
      continue;
    std::istringstream words(line);
    std::string key;
    words >> key;
    if (key == "structure") {
      out.emplace_back();
      current = &out.back();
      current->title = Trim(line.substr(key.size()));
      continue;
    }
    if (!current) {
      out.emplace_back();
      out.back().title = strayLineTitle;
      out.back().error = "line " + std::to_string(lineNumber) + " outside a structure";
      return out;
    }
    if (key == "end")
      current = nullptr;
    else
      readKeyword(*current, key, words, line, lineNumber);
  }
  return out;
}

} // namespace dumpinput
