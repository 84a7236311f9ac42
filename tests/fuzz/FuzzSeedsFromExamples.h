// Seeds made from the example structures: their text, and the documents and
// preferences file our writers make of them.
#pragma once

#include "Preferences.h"
#include "documents/CrystalDocument.h"
#include "documents/PrefsFile.h"
#include "import/OwnTextReader.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

inline std::vector<std::string> ExampleTexts() {
  std::vector<std::string> texts;
  for (const auto &e : std::filesystem::directory_iterator(std::filesystem::path(OV_SOURCE_DIR) / "resources/examples")) {
    std::ifstream in(e.path(), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    texts.push_back(s.str());
  }
  return texts;
}

// The documents we ship and the damaged ones the tests keep.
inline std::vector<std::string> DocumentFiles() {
  std::vector<std::string> docs;
  const std::filesystem::path root(OV_SOURCE_DIR);
  for (const auto &folder : {root / "resources/Demo Files", root / "tests/data/damaged"})
    for (const auto &e : std::filesystem::directory_iterator(folder)) {
      if (e.path().extension() != ".ovdf" && e.path().extension() != ".ovmf")
        continue;
      std::ifstream in(e.path(), std::ios::binary);
      std::ostringstream s;
      s << in.rdbuf();
      docs.push_back(s.str());
    }
  return docs;
}

inline std::vector<std::string> ExampleDocuments() {
  std::vector<std::string> docs;
  for (const std::string &text : ExampleTexts()) {
    CrystalRec c;
    TextFileExtras extras;
    if (!ParseTextFile(text, c, extras, nullptr))
      continue;
    DocumentExtras d;
    d.notes = extras.notes;
    d.hasWindowSettings = true;
    const std::vector<uint8_t> bytes = EncodeCrystalDocument(c, d);
    docs.emplace_back(bytes.begin(), bytes.end());
  }
  return docs;
}
