// Opening a structure file of another program the way File > Open does, on
// the recording host: the sample files under tests/data/import, or a text
// written for the test.
#pragma once

#include "../documents/DocumentTestSupport.h"

#include "import/ImportPath.h"
#include "import/ImportText.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <unistd.h>

namespace readertest {

namespace fs = std::filesystem;

inline fs::path Sample(const std::string &format, const std::string &name) {
  return fs::path(OV_TEST_DATA) / "import" / format / name;
}

// A file of the given name holding `text`, removed with the object.
struct TempFile {
  fs::path path;
  TempFile(const std::string &name, const std::string &text) {
    const fs::path dir = fs::temp_directory_path() / ("ovreader-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    path = dir / name;
    std::ofstream(path, std::ios::binary) << text;
  }
  ~TempFile() {
    std::error_code ec;
    fs::remove_all(path.parent_path(), ec);
  }
};

// The file of a table's row: its sample, or else its text written under
// its name (removed with `written`).
inline fs::path RowFile(const fs::path &sample, const std::string &name, const std::string &text,
                        std::optional<TempFile> &written) {
  if (!sample.empty())
    return sample;
  written.emplace(name, text);
  return written->path;
}

// The site of a label, or null.
inline const AsymmetricUnitRecord *Site(const CrystalRec &c, const char *label) {
  for (const AsymmetricUnitRecord &s : c.sites)
    if (std::strcmp(s.label, label) == 0)
      return &s;
  return nullptr;
}

// "C128 H189 N38": the sites' elements with their counts, by symbol.
inline std::string ElementCounts(const CrystalRec &c) {
  std::map<std::string, int> counts;
  for (const AsymmetricUnitRecord &s : c.sites)
    counts[ElementSymbolText(s.elements[0])]++;
  std::string out;
  for (const auto &[symbol, n] : counts)
    out += (out.empty() ? "" : " ") + symbol + std::to_string(n);
  return out;
}

// The alert's explanation when a file is refused, or "" when it opens.
inline std::string Refusal(FakeHost &host, const fs::path &file) {
  doctest::Window w(host);
  host.alerts.clear();
  if (OpenTextFile(w.ref(), file))
    return "";
  return host.alerts.empty() ? "refused without an alert" : host.alerts.back().explanation;
}

} // namespace readertest
