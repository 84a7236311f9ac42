// Writing and reading back a structure of about 100,000 atoms in the binary
// document and in the own keyword text format.
//   crystal: rock salt over a range of 0 to 23 cells on every axis (built
//     once, bonds and all), written as a document and read back;
//   molecule: 100,000 carbon atoms on a 1.5 A grid, written as a document
//     and as text (one ATOM line an atom) and read back; the text read is
//     the parse into the record, without the build.
// Each benchmark writes to a temporary file and reports its size in bytes.
#include "BuildPipeline.h"
#include "Preferences.h"
#include "StructureArrays.h"
#include "documents/CrystalDocument.h"
#include "documents/FileBuffer.h"
#include "export/OwnTextWriter.h"
#include "import/OwnTextReader.h"
#include "window/MainWindowData.h"
#include "tools/TempFiles.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>

namespace {

constexpr int kMoleculeAtoms = 100000;

const CrystalRec &RockSalt() {
  static CrystalRec crystal = [] {
    gPrefs = gFactoryPrefs;
    OVWindowRecord window;
    InitMainWindowData(&window);
    SetWindowFileOpen(&window, true);
    CrystalRec &c = *GetWindowCrystal(&window);
    CopyPrefsToCrystal(&gPrefs, &c);
    c.a = c.b = c.c = 5.6402f;
    std::snprintf(c.spaceGroup, sizeof c.spaceGroup, "F m -3 m");
    c.sites = *CreateAsymmetricUnit(2);
    c.siteCount = 2;
    std::snprintf(c.sites[0].label, sizeof c.sites[0].label, "Na1");
    c.sites[0].elements[0] = TwoCharsToShort("Na");
    std::snprintf(c.sites[1].label, sizeof c.sites[1].label, "Cl1");
    c.sites[1].elements[0] = TwoCharsToShort("Cl");
    c.sites[1].xyz[0] = c.sites[1].xyz[1] = c.sites[1].xyz[2] = 0.5f;
    for (auto &s : c.sites)
      s.occupancies[0] = 1.0f;
    c.bondSpecs[0] = {TwoCharsToShort("Na"), TwoCharsToShort("Cl"), 2.5f, 3.0f, 1, {}, {}};
    c.bondSpecCount = 1;
    for (int k = 0; k < 3; k++) {
      c.plotRange[2 * k] = 0.0f;
      c.plotRange[2 * k + 1] = 23.0f;
    }
    RunNewCrystal(&window, true, true, false);
    CrystalRec copy = c;
    DestroyMainWindowData(&window);
    return copy;
  }();
  return crystal;
}

const CrystalRec &Molecule() {
  static CrystalRec crystal = [] {
    CrystalRec c;
    c.molecule = 1;
    c.sites.resize(kMoleculeAtoms);
    c.atoms.resize(kMoleculeAtoms);
    c.spheres.resize(1);
    c.spheres[0].element = TwoCharsToShort("C ");
    for (int k = 0; k < kMoleculeAtoms; k++) {
      AsymmetricUnitRecord &s = c.sites[static_cast<size_t>(k)];
      s.elements[0] = TwoCharsToShort("C ");
      s.occupancies[0] = 1.0f;
      std::snprintf(s.label, sizeof s.label, "C%d", k % 1000000);
      AtomRecord &a = c.atoms[static_cast<size_t>(k)];
      a.site = static_cast<uint32_t>(k);
      a.cart[0] = 1.5f * static_cast<float>(k % 47);
      a.cart[1] = 1.5f * static_cast<float>((k / 47) % 47);
      a.cart[2] = 1.5f * static_cast<float>(k / (47 * 47));
    }
    c.siteCount = c.atomCount = kMoleculeAtoms;
    c.sphereCount = 1;
    return c;
  }();
  return crystal;
}

void WriteDocument(benchmark::State &state, const CrystalRec &c) {
  const auto file = benchtemp::Name("write.ovdf");
  size_t size = 0;
  for (auto _ : state) {
    const std::vector<uint8_t> bytes = EncodeCrystalDocument(c, {});
    WriteFileAtomically(file, bytes);
    size = bytes.size();
  }
  std::filesystem::remove(file);
  state.counters["atoms"] = c.atomCount;
  state.counters["bytes"] = static_cast<double>(size);
}

void ReadDocument(benchmark::State &state, const CrystalRec &c) {
  const auto file = benchtemp::Name("read.ovdf");
  WriteFileAtomically(file, EncodeCrystalDocument(c, {}));
  for (auto _ : state) {
    std::vector<uint8_t> bytes;
    ReadWholeFile(file, bytes);
    CrystalRec back;
    if (!DecodeCrystalDocument(bytes, back, nullptr, nullptr))
      state.SkipWithError("the document did not read back");
    benchmark::DoNotOptimize(back.atoms.data());
  }
  state.counters["atoms"] = c.atomCount;
  state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(file));
  std::filesystem::remove(file);
}

void BM_WriteDocument_Crystal100k(benchmark::State &state) { WriteDocument(state, RockSalt()); }
void BM_ReadDocument_Crystal100k(benchmark::State &state) { ReadDocument(state, RockSalt()); }
void BM_WriteDocument_Molecule100k(benchmark::State &state) { WriteDocument(state, Molecule()); }
void BM_ReadDocument_Molecule100k(benchmark::State &state) { ReadDocument(state, Molecule()); }

void BM_WriteText_Molecule100k(benchmark::State &state) {
  CrystalRec c = Molecule();
  const auto file = benchtemp::Name("write.ovtx");
  for (auto _ : state)
    DoWriteTextFile(c, "grid", "", file);
  state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(file));
  std::filesystem::remove(file);
}

void BM_ReadText_Molecule100k(benchmark::State &state) {
  CrystalRec c = Molecule();
  const std::string text = FormatTextFile(c, "grid", "");
  for (auto _ : state) {
    CrystalRec back;
    TextFileExtras extras;
    if (!ParseTextFile(text, back, extras, nullptr))
      state.SkipWithError("the text did not read back");
    benchmark::DoNotOptimize(back.atoms.data());
  }
  state.counters["bytes"] = static_cast<double>(text.size());
}

BENCHMARK(BM_WriteDocument_Crystal100k)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadDocument_Crystal100k)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteDocument_Molecule100k)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadDocument_Molecule100k)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteText_Molecule100k)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadText_Molecule100k)->Unit(benchmark::kMillisecond);

} // namespace
