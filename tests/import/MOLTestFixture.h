// Opening molecule files (MOL/SD, DMol, Chem3D, MacMolecule) the way the
// shell opens them: a file on disk, the import path, the chooser hook and a
// structure window on the recording host.
#pragma once

#include "../documents/DocumentTestSupport.h"

#include "documents/CrystalDocument.h"
#include "import/ImportPath.h"
#include "import/ImportText.h"

#include <gtest/gtest.h>

#include <set>
#include <unistd.h>

class MoleculeFileTest : public ::testing::Test {
protected:
  void SetUp() override {
    dir = std::filesystem::temp_directory_path() / ("ovmolfiles-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    gDocumentWindowHooks.setNotes = [this](WindowRef, const std::string &text) { notes = text; };
    gImportHooks.choose = [this](const std::filesystem::path &, const std::vector<StructureSummary> &list) {
      offered = list;
      return chosen;
    };
  }
  void TearDown() override {
    gDocumentWindowHooks.setNotes = nullptr;
    gImportHooks = ImportHooks{};
    std::filesystem::remove_all(dir);
  }
  std::filesystem::path Write(const std::string &name, const std::string &text) {
    std::ofstream(dir / name, std::ios::binary) << text;
    return dir / name;
  }
  static std::filesystem::path Data(const std::string &name) {
    return std::filesystem::path(OV_TEST_DATA) / "import" / name;
  }
  static std::string Element(const CrystalRec &c, size_t atom) {
    return ElementSymbolText(c.sites[c.atoms[atom].site].elements[0]);
  }
  // Each bond once, as atom index pairs (lower first).
  static std::set<std::pair<uint32_t, uint32_t>> Bonds(const CrystalRec &c) {
    std::set<std::pair<uint32_t, uint32_t>> out;
    for (size_t a = 0; a < UsableAtomSize(c); a++)
      for (size_t k = 0; k < c.atoms[a].bondCount; k++)
        out.insert({std::min<uint32_t>(a, c.atoms[a].bonds[k]), std::max<uint32_t>(a, c.atoms[a].bonds[k])});
    return out;
  }
  // A refusal: the alert names the file and the line, and the window keeps
  // what it held.
  void ExpectRefused(const std::filesystem::path &file, int line, const std::string &what) {
    doctest::Window w(host);
    host.alerts.clear();
    EXPECT_FALSE(OpenTextFile(w.ref(), file));
    ASSERT_EQ(host.alerts.size(), 1u);
    EXPECT_EQ(host.alerts[0].explanation, "\"" + file.filename().string() + "\" could not be read at line " +
                                              std::to_string(line) + ": " + what + ".");
    EXPECT_EQ(w.crystal().atomCount, 0);
  }

  FakeHost host;
  std::filesystem::path dir;
  std::string notes;
  std::vector<StructureSummary> offered;
  std::vector<size_t> chosen{0};
};
