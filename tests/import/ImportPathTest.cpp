// The road every foreign or text file takes: the same structure whatever
// its line ends, padding or compression; names that decide a format before
// any extension; a refusal that names the file and leaves the window as it
// was; and the one list of filters the open dialogs show.
#include "../documents/DocumentTestSupport.h"

#include "import/ImportPath.h"
#include "import/OwnTextReader.h"
#include "render/PlotPipeline.h"

#include <gtest/gtest.h>

#include <QRegularExpression>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using doctest::Window;
const auto Example = doctest::ExampleText;

class ImportPath : public ::testing::Test {
protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("ovimport-" + std::to_string(::getpid()));
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }
  fs::path Write(const std::string &name, const std::string &bytes) {
    std::ofstream(dir / name, std::ios::binary) << bytes;
    return dir / name;
  }
  FakeHost host;
  fs::path dir;
};

TEST_F(ImportPath, LineEndsPaddingAndCompressionReadAsTheSameStructure) {
  const std::string text = Example("Spinel.ovtx");
  std::string crlf, cr;
  for (char ch : text) {
    crlf += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
    cr += ch == '\n' ? '\r' : ch;
  }
  Write("plain.ovtx", text);
  const fs::path zipped = Write("zipped.ovtx", text);
  ASSERT_EQ(std::system(("gzip -f " + zipped.string()).c_str()), 0);
  const fs::path files[] = {dir / "plain.ovtx", Write("crlf.ovtx", crlf), Write("cr.ovtx", cr),
                            Write("padded.ovtx", text + std::string(700, '\0')), dir / "zipped.ovtx.gz"};
  int32_t atoms = -1;
  for (const fs::path &file : files) {
    Window w(host);
    ASSERT_TRUE(OpenTextFile(w.ref(), file)) << file << ": " << (host.alerts.empty() ? "" : host.alerts.back().explanation);
    EXPECT_EQ(w.crystal().atomsPerCell, 56) << file; // MgAl2O4, Z = 8
    if (atoms < 0)
      atoms = w.crystal().atomCount;
    EXPECT_EQ(w.crystal().atomCount, atoms) << file;
  }
  EXPECT_TRUE(host.alerts.empty());
}

TEST_F(ImportPath, ARefusedFileNamesItselfAndLeavesTheWindowAsItWas) {
  Window w(host);
  ASSERT_TRUE(OpenTextFile(w.ref(), fs::path(OV_SOURCE_DIR) / "resources/examples/NaCl.ovtx"));
  const int32_t atoms = w.crystal().atomCount;
  std::string damaged = Example("NaCl.ovtx");
  const fs::path gz = Write("cut.ovtx", damaged);
  ASSERT_EQ(std::system(("gzip -f " + gz.string()).c_str()), 0);
  std::string bytes;
  {
    std::ifstream in(dir / "cut.ovtx.gz", std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  struct Case {
    fs::path file;
    std::string title, explanation;
  };
  const Case cases[] = {
      {Write("notes.txt", "nothing a reader knows\n"), kUnknownFileType,
       "\"notes.txt\" is no structure file this version reads."},
      {Write("named.ovtx", "nothing a reader knows\n"), kUnknownFileType,
       "\"named.ovtx\" is not a file of its kind (Structure text files), nor any other structure file this version "
       "reads."},
      {Write("cut.ovtx.gz", bytes.substr(0, bytes.size() / 2)), kFileNotOpened,
       "\"cut.ovtx.gz\" could not be read: its compressed data end too soon."},
      {Write("empty.ovtx", std::string(64, '\0')), kFileNotOpened, "\"empty.ovtx\" could not be read: it is empty."},
      {Write("atoms.ovtx", "TITL x\nCELL 5 5 5 90 90 90\n"), kFileNotOpened,
       "\"atoms.ovtx\" could not be read: the file holds no atoms (no ATOM block with a readable line)."},
      {dir, kFileNotOpened, "\"" + dir.filename().string() + "\" could not be read: it is a folder, not a file."},
      // A damaged file whose content marks its format, under a name that
      // does not: that format's reader names the line.
      {Write("shelx.txt", "TITL t\nCELL 0.71 5 5 x 90 90 90\nSFAC C\nC1 1 0 0 0 11 0.05\nEND\n"), kFileNotOpened,
       "\"shelx.txt\" could not be read at line 2: the cell constant \"x\" is not a number."},
      {Write("xyz.txt", "2\nmethane, cut\nC nan 0 0\nH 1 0 0\n"), kFileNotOpened,
       "\"xyz.txt\" could not be read at line 3: the coordinate \"nan\" is not a number."},
      {Write("wien.txt", "t\n   LATTICE,NONEQUIV.ATOMS:  1\nMODE OF CALC=RELA\n"
                         " 10.000000 10.000000 10.000000 90.000000 90.000000 90.000000\n"
                         "ATOM  -1: X=0.0 Y=0.0 Z=0.0\n          MULT= 1          ISPLIT= 8\n"
                         "C          NPT=  781  R0=0.00010000 RMT=    1.3000   Z:  6.00000\n"),
       kFileNotOpened, "\"wien.txt\" could not be read at line 2: \"L\" is no lattice type (P, F, B, CXY, CYZ, CXZ, R or H)."},
  };
  for (const Case &c : cases) {
    host.alerts.clear();
    EXPECT_FALSE(OpenTextFile(w.ref(), c.file)) << c.file;
    ASSERT_EQ(host.alerts.size(), 1u) << c.file;
    EXPECT_EQ(host.alerts[0].message, c.title) << c.file;
    EXPECT_EQ(host.alerts[0].explanation, c.explanation) << c.file;
    EXPECT_EQ(w.crystal().atomCount, atoms) << c.file;
  }
}

// A number a file mistypes, or writes beyond any number's range, refuses
// the file at its line and quotes it, in every reader; so does a record or
// card that ends before its numbers (a file cut short, an atom card without
// coordinates), where the reader would otherwise put the atom at 0.
TEST_F(ImportPath, AMistypedOrMissingNumberRefusesTheFileAtItsLine) {
  auto data = [](const std::string &name) {
    std::ifstream in(fs::path(OV_TEST_DATA) / "import" / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  std::string mmcif = data("cif/mmcif/altloc_bonds.cif");
  mmcif.replace(mmcif.find("1.000 2.000 3.000"), 5, "10.56q44");
  std::string perovskite = data("ccsl/perovskite.ccl");
  perovskite.replace(perovskite.find("A OX 1/2 1/2 0 0.70 O"), 21, "A OX");
  // Fixed 80-byte records: the file ends inside the y of the last atom.
  const std::string records = data("gsas/records.exp");
  const size_t lastAtom = records.find("CRS1  AT  2A");
  const struct {
    std::string name, text, refusal;
  } cases[] = {
      {"model.cif", mmcif, "line 30: the coordinate \"10.56q44\" of the atom \"N\" is not a number."},
      {"drawing.inp", "TITL t\nCELL 5 5 5 90 90 90\nSPGP P1\nO1 0.l 0 0 O\n",
       "line 4: the coordinate \"0.l\" of atom O1 is not a number."},
      {"atoms.inp", "title t\nspace P 1\na = 1.0E+400\natoms\nO 0 0 0\n",
       "line 3: the value \"1.0E+400\" of a is not a number."},
      {"huge.ccl", "N t\nC 5.0E+999 5 5 90 90 90\nS X,Y,Z\nA SR 0 0 0\n",
       "line 2: the cell constant \"5.0E+999\" is not a number."},
      {"perovskite.ccl", perovskite, "line 10: the A card of atom OX needs three coordinates."},
      {"cut.exp", records.substr(0, lastAtom + 37),
       "line 8: the record \"CRS1  AT  2A\" ends before its last coordinate or occupancy (column 62): the file is "
       "cut short."},
      {"typo.exp", records.substr(0, lastAtom + 22) + "  0.5OO0OO" + records.substr(lastAtom + 32),
       "line 8: the coordinate or occupancy \"0.5OO0OO\" of \"CRS1  AT  2A\" is not a number."},
      {"cell.struct", "t\nP   LATTICE,NONEQUIV.ATOMS:  1\nMODE OF CALC=RELA\n"
                      " 10.000000 10.0O0000 10.000000 90.000000 90.000000 90.000000\n"
                      "ATOM  -1: X=0.0 Y=0.0 Z=0.0\n          MULT= 1          ISPLIT= 8\n"
                      "C          NPT=  781  R0=0.00010000 RMT=    1.3000   Z:  6.00000\n",
       "line 4: the cell length \"10.0O0000\" is not a number."},
      {"atom.struct", "t\nP   LATTICE,NONEQUIV.ATOMS:  1\nMODE OF CALC=RELA\n"
                      " 10.000000 10.000000 10.000000 90.000000 90.000000 90.000000\n"
                      "ATOM  -1: X=0.0 Y=0.l2500000 Z=0.0\n          MULT= 1          ISPLIT= 8\n"
                      "C          NPT=  781  R0=0.00010000 RMT=    1.3000   Z:  6.00000\n",
       "line 5: the Y coordinate \"0.l2500000\" of atom 1 is not a number."},
  };
  for (const auto &c : cases) {
    const fs::path f = Write(c.name, c.text);
    host.alerts.clear();
    Window w(host);
    EXPECT_FALSE(OpenTextFile(w.ref(), f)) << c.name;
    EXPECT_EQ(host.alerts.empty() ? std::string() : host.alerts.back().explanation,
              "\"" + c.name + "\" could not be read at " + c.refusal);
  }
}

// Experiment files may pad each record with NULs, to its line end or to
// 80 bytes without line ends: read as the records padded with blanks.
TEST_F(ImportPath, RecordsPaddedWithNulsReadAsRecords) {
  std::ifstream in(fs::path(OV_TEST_DATA) / "import/gsas/records.exp", std::ios::binary);
  const std::string records((std::istreambuf_iterator<char>(in)), {});
  std::string fixed, lines;
  for (size_t at = 0; at < records.size(); at += 80) {
    std::string record = records.substr(at, 80);
    record.erase(record.find_last_not_of(' ') + 1);
    record.resize(80, '\0');
    fixed += record;
    lines += record + "\r\n";
  }
  for (const auto &[name, text] : {std::pair{"fixed.exp", fixed}, std::pair{"lines.exp", lines}}) {
    Window w(host);
    ASSERT_TRUE(OpenTextFile(w.ref(), Write(name, text)))
        << name << ": " << (host.alerts.empty() ? std::string() : host.alerts.back().explanation);
    EXPECT_EQ(w.crystal().atomsPerCell, 8) << name; // rock salt: 4a and 4b of F m -3 m
  }
}

// An open draws the structure once, however its bonds are settled: by the
// automatic search, or from the file's own bonds in a molecule or a crystal.
// A crystal's bond across a wall is measured to the nearest image: C at x =
// 0.3 A and O at x = 9.2 A in a 10 A cell stand 0.3 + 0.8 = 1.1 A apart.
TEST_F(ImportPath, AnOpenDrawsTheStructureOnce) {
  const fs::path wall =
      Write("wall.pdb", "CRYST1   10.000   10.000   10.000  90.00  90.00  90.00 P 1           1\n"
                        "HETATM    1  C1  MOL A   1       0.300   5.000   5.000  1.00 20.00           C\n"
                        "HETATM    2  O1  MOL A   1       9.200   5.000   5.000  1.00 20.00           O\n"
                        "CONECT    1    2\nEND\n");
  const fs::path files[] = {fs::path(OV_TEST_DATA) / "import/cif/cod_9013104_si.cif",
                            fs::path(OV_TEST_DATA) / "import/pdb/conect.pdb", wall};
  for (const fs::path &file : files) {
    Window w(host);
    const uint64_t before = gPlotLayouts;
    ASSERT_TRUE(OpenStructureFile(w.ref(), file)) << file;
    EXPECT_EQ(gPlotLayouts - before, 1u) << file;
    EXPECT_GT(w.crystal().atomCount, 1) << file;
  }
  EXPECT_NE(host.log.find("1 bond(s) given by the file made 1 bond specification(s): C-O 1.100 to 1.100 A."),
            std::string::npos)
      << host.log;
}

TEST_F(ImportPath, NamesDecideBeforeExtensionsAndContentDecidesLast) {
  const ImportFormat *vasp = FindImportFormat("VASP"), *dlpoly = FindImportFormat("DL_POLY");
  EXPECT_EQ(GetFileFormatForName("POSCAR"), vasp);
  EXPECT_EQ(GetFileFormatForName("CONTCAR_relaxed"), vasp);
  EXPECT_EQ(GetFileFormatForName("poscar.vasp"), vasp);
  EXPECT_EQ(GetFileFormatForName("REVCON"), dlpoly);
  EXPECT_EQ(GetFileFormatForName("CONFIG"), dlpoly);
  EXPECT_EQ(GetFileFormatForName("data.quartz"), FindImportFormat("LAMMPS"));
  EXPECT_EQ(GetFileFormatForName("NaCl.ovtx"), nullptr);
  EXPECT_EQ(GetFileFormatForExtension("a/NaCl.OVTX.GZ"), FindImportFormat("structure text"));
  EXPECT_EQ(GetFileFormatForExtension("a.qqq"), nullptr);
  // A refinement program's instruction file shares the TITL and CELL cards
  // but is no file of ours: its CELL leads with the wavelength.
  EXPECT_FALSE(IsOwnTextFile("TITL quartz\nCELL 0.71073 4.913 4.913 5.405 90 90 120\nZERR 3 0 0 0 0 0 0\n"));
  EXPECT_FALSE(IsOwnTextFile("TITL x\nCELL 5 5 5 90 90 90\nSFAC Si O\n"));
  EXPECT_TRUE(IsOwnTextFile(Example("NaCl.ovtx")));
  // A name that says nothing: the content decides.
  Window w(host);
  EXPECT_TRUE(OpenTextFile(w.ref(), Write("structure", Example("NaCl.ovtx"))));
  EXPECT_EQ(w.crystal().atomsPerCell, 8);
}

// What the dialogs show is what the path takes: every extension row and
// every name rule against the filters, matched as the dialog matches them.
TEST_F(ImportPath, TheFiltersShowWhatTheExtensionsAndNamesTake) {
  const std::vector<OpenFileFilter> filters = StructureFileFilters();
  // Extension patterns ("*.cif") or the others (the name rules' patterns).
  auto shows = [&](const std::string &filterName, const std::string &name, bool byExtension = true) {
    for (const OpenFileFilter &f : filters)
      if (f.name == filterName)
        for (const std::string &p : f.patterns)
          if (p.starts_with("*.") == byExtension &&
              QRegularExpression::fromWildcard(QString::fromStdString(p), Qt::CaseInsensitive)
                  .match(QString::fromStdString(name))
                  .hasMatch())
            return true;
    return false;
  };
  ASSERT_EQ(filters[0].name, "All structure files");
  for (const OVFileFormat &row : FileFormatTable()) {
    if (!row.format)
      continue;
    const std::string name = std::string("x.") + row.extension;
    EXPECT_TRUE(shows(row.format->filterName, name)) << name;
    EXPECT_TRUE(shows(row.format->filterName, name + ".gz")) << name;
    EXPECT_TRUE(shows("All structure files", name)) << name;
  }
  for (const char *name : {"POSCAR", "POSCARS", "CONTCAR_relaxed", "poscar.vasp", "CONFIG", "REVCON.1", "config",
                           "data", "data.quartz", "dataset", "structure", "NaCl.ovtx", "INCAR"}) {
    const ImportFormat *named = GetFileFormatForName(name);
    for (const ImportFormat *f : ImportFormats()) {
      EXPECT_EQ(shows(f->filterName, name, false), named == f) << name << " / " << f->filterName;
    }
  }
}

} // namespace
