// Running out of memory while a file is read or built is an alert, never an
// abort, and a file's read needs memory for what the file makes, not for its
// count of lines. An address-space limit cannot stand in for a small machine
// under the sanitizers (their shadow memory is mapped already), so this
// binary's global operator new fails one chosen allocation instead (each of
// them in turn, through the reading and the build), or any that would take
// the memory in use past a limit.
#include "ReaderTestSupport.h"

#include "MemoryBudget.h"
#include "PlotRange.h"
#include "RenderServices.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <malloc.h>
#include <new>
#include <tuple>

namespace {

// The allocation that fails, counted from the arming; none below zero. Only
// the test's own thread counts, so that no other thread's allocation moves
// the count.
thread_local long gFailingAllocation = -1;
thread_local long gAllocations = 0;
// The most the thread's blocks may hold while a limit is set (0: none), and
// what they hold, counted from the limit's setting.
thread_local size_t gHeapLimit = 0;
thread_local size_t gHeapInUse = 0;

void *Allocate(std::size_t size) {
  if (gFailingAllocation >= 0 && gAllocations++ == gFailingAllocation)
    throw std::bad_alloc();
  void *p = std::malloc(size ? size : 1);
  if (!p)
    throw std::bad_alloc();
  if (gHeapLimit) {
    gHeapInUse += malloc_usable_size(p);
    if (gHeapInUse > gHeapLimit) {
      gHeapInUse -= malloc_usable_size(p);
      std::free(p);
      throw std::bad_alloc();
    }
  }
  return p;
}

void Free(void *p) {
  if (gHeapLimit && p)
    gHeapInUse -= std::min(gHeapInUse, malloc_usable_size(p));
  std::free(p);
}

} // namespace

// The unaligned forms, new and delete alike, so that every block is freed
// by the allocator that made it.
void *operator new(std::size_t size) { return Allocate(size); }
void *operator new[](std::size_t size) { return Allocate(size); }
void *operator new(std::size_t size, const std::nothrow_t &) noexcept {
  try {
    return Allocate(size);
  } catch (const std::bad_alloc &) {
    return nullptr;
  }
}
void *operator new[](std::size_t size, const std::nothrow_t &tag) noexcept { return operator new(size, tag); }
void operator delete(void *p) noexcept { Free(p); }
void operator delete[](void *p) noexcept { Free(p); }
void operator delete(void *p, std::size_t) noexcept { Free(p); }
void operator delete[](void *p, std::size_t) noexcept { Free(p); }
void operator delete(void *p, const std::nothrow_t &) noexcept { Free(p); }
void operator delete[](void *p, const std::nothrow_t &) noexcept { Free(p); }

namespace {

using namespace readertest;
using doctest::Window;

// Allocations counted while `run` runs.
template <typename Run> long Counted(Run run) {
  gAllocations = 0;
  gFailingAllocation = std::numeric_limits<long>::max();
  run();
  gFailingAllocation = -1;
  return gAllocations;
}

// What a window shows: its sites, atoms, bonds and polyhedra.
std::tuple<size_t, int32_t, uint64_t, size_t> Shown(CrystalRec c) {
  uint64_t bonds = 0;
  size_t polyhedra = 0;
  for (const AtomRecord &atom : c.atoms) {
    bonds += atom.bondCount;
    polyhedra += AtomPolyhedron(&c, atom) != nullptr;
  }
  return {c.sites.size(), c.atomCount, bonds, polyhedra};
}

// A read that fails leaves the window as it was; a build that fails leaves
// it to the caller (the shell empties it). Both say "No Memory", naming the
// file, and the window opens the next file as ever. The build runs without
// the renderer, to keep the count of allocations small. The CIF's grammar
// runs in a parser of its own, which must let the failure pass; so must the
// engine's steps of a build that cope by themselves elsewhere: a molecule's
// and a crystal's bond search, a crystal's cell, range and polyhedra.
TEST(ImportMemory, AnAllocationThatFailsIsTheNoMemoryAlert) {
  FakeHost host;
  const TempFile gz("methane.xyz.gz", "");
  const TempFile plain("methane.xyz", "5\nmethane\nC 0 0 0\nH 0.63 0.63 0.63\nH -0.63 -0.63 0.63\n"
                                      "H -0.63 0.63 -0.63\nH 0.63 -0.63 -0.63\n");
  ASSERT_EQ(std::system(("gzip -c " + plain.path.string() + " > " + gz.path.string()).c_str()), 0);
  const TempFile cif("salt.cif", "data_salt\n_cell_length_a 5.6\n_cell_length_b 5.6\n_cell_length_c 5.6\n"
                                 "_cell_angle_alpha 90\n_cell_angle_beta 90\n_cell_angle_gamma 90\n"
                                 "loop_\n_atom_site_label\n_atom_site_fract_x\n_atom_site_fract_y\n"
                                 "_atom_site_fract_z\nNa1 0 0 0\nCl1 0.5 0.5 0.5\n");
  // Rutile as polyhedra, its Ti-O bonds by the file's maximum; the cell's
  // six atoms as sites, in P 1.
  const TempFile rutile("rutile.ovtx", "CELL 4.5937 4.5937 2.9587 90 90 90\nXYZR 0 1 0 1 0 1\nMODL 3\n"
                                       "BMAX Ti O 2.1\nATOM\nTi Ti1 0 0 0\nTi Ti2 0.5 0.5 0.5\n"
                                       "O O1 0.30478 0.30478 0\nO O2 0.69522 0.69522 0\n"
                                       "O O3 0.80478 0.19522 0.5\nO O4 0.19522 0.80478 0.5\n");
  for (const auto &[file, sites, polyhedra] :
       {std::tuple{plain.path, 5u, 0u}, {gz.path, 5u, 0u}, {cif.path, 2u, 0u}, {rutile.path, 6u, 1u}}) {
    Window w(host);
    ASSERT_TRUE(OpenTextFile(w.ref(), Sample("xyz", "labels.xyz")));
    const int32_t atoms = w.crystal().atomCount;
    HeldStructureFile held;
    const long reading = Counted([&] { ASSERT_TRUE(ReadHeldFile(file, held)); });
    RenderServices *renderer = SetRenderServices(nullptr);
    const long opening = Counted([&] { ASSERT_TRUE(OpenHeldFile(w.ref(), std::move(held), ImportChoice::TakeFirst)); });
    SetRenderServices(renderer);
    const auto whole = Shown(w.crystal());
    ASSERT_EQ(std::get<0>(whole), sites) << file;
    ASSERT_GE(std::get<3>(whole), polyhedra) << file;
    ASSERT_GT(reading, 10);
    // Every allocation of the read, then a spread of the build's.
    std::vector<long> failing;
    for (long k = 0; k < reading; k++)
      failing.push_back(k);
    for (long k = reading; k < reading + opening; k += 1 + opening / 200)
      failing.push_back(k);
    for (const long k : failing) {
      ASSERT_TRUE(OpenTextFile(w.ref(), Sample("xyz", "labels.xyz")));
      host.alerts.clear();
      SetRenderServices(nullptr);
      gAllocations = 0;
      gFailingAllocation = k;
      const bool opened = OpenStructureFile(w.ref(), file, ImportChoice::TakeFirst);
      gFailingAllocation = -1;
      SetRenderServices(renderer);
      // A library that asks for memory it can do without (a sort's
      // buffer) carries on: the file then opens whole, without a word.
      if (opened) {
        EXPECT_EQ(Shown(w.crystal()), whole) << file << " allocation " << k;
        EXPECT_TRUE(host.alerts.empty()) << file << " allocation " << k;
        continue;
      }
      if (k < reading) {
        EXPECT_EQ(w.crystal().atomCount, atoms) << file << " allocation " << k;
      }
      ASSERT_EQ(host.alerts.size(), 1u) << file << " allocation " << k;
      EXPECT_TRUE(host.alerts[0].message.starts_with("No Memory")) << host.alerts[0].message;
      EXPECT_NE(host.alerts[0].explanation.find(file.filename().string()), std::string::npos)
          << host.alerts[0].explanation;
    }
    ASSERT_TRUE(OpenTextFile(w.ref(), file));
    EXPECT_EQ(Shown(w.crystal()), whole) << file;
  }
}

// The event loops an open hands the host for an alert and for the cancel
// key serve every window: engine work they run copes with memory as it does
// everywhere else, and throws nothing through the loop.
TEST(ImportMemory, TheEventLoopsOfAnOpenKeepTheirFailures) {
  struct Host : FakeHost {
    int passing = 0;
    int RunAlert(const AlertRequest &alert) override {
      passing += MemoryFailuresPass();
      return FakeHost::RunAlert(alert);
    }
    bool CheckForUserCancel() override {
      passing += MemoryFailuresPass();
      return FakeHost::CheckForUserCancel();
    }
  } host;
  host.tick = 1000000; // a second a reading: every cancel poll asks
  // A bond maximum that finds nothing: the build's caution says so.
  const TempFile file("apart.ovtx", "CELL 5 5 5 90 90 90\nBMAX Na Cl 1.0\nATOM\nNa Na1 0 0 0\nCl Cl1 0.5 0.5 0.5\n");
  Window w(host);
  ASSERT_TRUE(OpenTextFile(w.ref(), file.path));
  ASSERT_EQ(host.alerts.size(), 1u);
  EXPECT_EQ(host.alerts[0].message, "No bonds found!");
  EXPECT_GT(host.cancelChecks, 0);
  EXPECT_EQ(host.passing, 0);
}

// A quarter of a million empty lines in a file of each reader that reads lines
// (before its last line; in the own format's note, which keeps the line
// breaks between its paragraphs) take less than the file's bytes again on
// top of the bytes read and the text made of them, not a table of 16 bytes
// a line: each file is read or refused as ever, never for want of memory.
TEST(ImportMemory, EmptyLinesCostNoMoreThanTheirBytes) {
  FakeHost host;
  const std::string blanks(1 << 18, '\n');
  const std::pair<const char *, const char *> samples[] = {
      {"atoms", "quartz.inp"},      {"ccsl", "perovskite.ccl"},     {"cssr", "fractional.cssr"},
      {"dlpoly", "CONFIG"},         {"dlpolyhistory", "HISTORY"},   {"dmol", "water.car"},
      {"gromacs", "triclinic.gro"}, {"gsas", "hexagonal.exp"},      {"lammps", "atomic.data"},
      {"lammpsdump", "dump.scaled"}, {"mol", "glycine_v2000.mol"}, {"pdb", "names.pdb"},
      {"shelx", "occupancy.res"},   {"vasp", "POSCAR_unnamed"},     {"vesta", "rutile.vesta"},
      {"wien2k", "fcc.struct"},     {"xyz", "frames.xyz"},          {"../structures", "rutile_adp.ovtx"}};
  for (const auto &[format, name] : samples) {
    std::ifstream in(Sample(format, name), std::ios::binary);
    std::string text{std::istreambuf_iterator<char>(in), {}};
    ASSERT_FALSE(text.empty()) << name;
    const bool note = fs::path(name).extension() == ".ovtx";
    text.insert(note ? text.find("\n\n") + 1 : text.rfind('\n', text.size() - 2) + 1, blanks);
    const TempFile file(name, text);
    host.alerts.clear();
    HeldStructureFile held;
    gHeapInUse = 0;
    gHeapLimit = 3 * text.size() + (1 << 20);
    const bool read = ReadHeldFile(file.path, held);
    gHeapLimit = 0;
    if (!read) {
      ASSERT_EQ(host.alerts.size(), 1u) << name;
      EXPECT_FALSE(host.alerts[0].message.starts_with("No Memory")) << name << ": " << host.alerts[0].explanation;
    }
  }
}

} // namespace

namespace {

// Outside an open, a step that runs out copes by itself as ever: a larger
// plot range that cannot be made says so and leaves the atoms as they were,
// its bonds that cannot be made leave it without bonds and say so, or it is
// made whole. (The allocation hook lives in this
// binary.)
TEST(ImportMemory, ARangeThatRunsOutOfMemorySaysSoAndKeepsTheAtoms) {
  FakeHost host;
  Window w(host);
  RenderServices *renderer = SetRenderServices(nullptr);
  const fs::path salt = fs::path(OV_SOURCE_DIR) / "resources/examples/NaCl.ovtx";
  ASSERT_TRUE(OpenTextFile(w.ref(), salt));
  const auto before = Shown(w.crystal());
  const long growing = Counted([&] { ASSERT_TRUE(SetPlotRange(w.ref(), 0, 3, 0, 3, 0, 3)); });
  const auto grown = Shown(w.crystal());
  ASSERT_GT(std::get<1>(grown), std::get<1>(before));
  for (long k = 0; k < growing; k += 1 + growing / 100) {
    ASSERT_TRUE(OpenTextFile(w.ref(), salt));
    host.alerts.clear();
    gAllocations = 0;
    gFailingAllocation = k;
    const bool made = SetPlotRange(w.ref(), 0, 3, 0, 3, 0, 3);
    gFailingAllocation = -1;
    if (made && host.alerts.empty()) {
      EXPECT_EQ(Shown(w.crystal()), grown) << "allocation " << k;
    } else if (made) { // the bonds could not be made
      auto withoutBonds = grown;
      std::get<2>(withoutBonds) = 0;
      std::get<3>(withoutBonds) = 0; // nor polyhedra
      EXPECT_EQ(Shown(w.crystal()), withoutBonds) << "allocation " << k;
      ASSERT_EQ(host.alerts.size(), 1u) << "allocation " << k;
      EXPECT_EQ(host.alerts[0].message, "Too many bonds");
    } else {
      EXPECT_EQ(Shown(w.crystal()), before) << "allocation " << k;
      EXPECT_EQ(host.alerts.size(), 1u) << "allocation " << k;
    }
  }
  SetRenderServices(renderer);
}

} // namespace
