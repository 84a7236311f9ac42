// A structure window holding a molecule on the recording host, with a
// renderer that only counts plots, for the tests of relaxation runs. The
// test thread plays the main thread: it runs the calls the workers post.
#pragma once

#include "FakeHost.h"
#include "RenderServices.h"
#include "StructureArrays.h"
#include "relax/RelaxThread.h"
#include "window/MainWindowData.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace relaxtest {

// Counts plots and notes any made off the main thread; a plot can be made
// to take time on the host's clock.
class CountingRenderer : public RenderServices {
public:
  explicit CountingRenderer(FakeHost &host) : host_(host) { previous_ = SetRenderServices(this); }
  ~CountingRenderer() override { SetRenderServices(previous_); }
  void NewPlot(WindowRef, bool, bool) override { Note(); }
  void PlotCrystal(WindowRef, int16_t) override {
    Note();
    ++plots;
    host_.Advance(plotSeconds);
  }
  void ResetOffScreen(WindowRef) override {}
  void MakeUnitCell(CrystalRec *) override {}
  void MeasureString(const char *, const char *, float, float &w, float &h) override { w = h = 0; }

  int plots = 0;
  double plotSeconds = 0;
  std::atomic<int> offMainThread{0};

private:
  void Note() {
    if (std::this_thread::get_id() != main_)
      ++offMainThread;
  }
  FakeHost &host_;
  RenderServices *previous_ = nullptr;
  std::thread::id main_ = std::this_thread::get_id();
};

struct MolAtom {
  const char *symbol; // two characters
  float x, y, z;
};

// A structure window, in front, titled "Mol"; every run is stopped and
// joined before the window and the host go.
class RelaxWindowTest : public ::testing::Test {
protected:
  RelaxWindowTest() : renderer(host) {
    host.windowTitle = "Mol";
    Open();
  }
  ~RelaxWindowTest() override {
    host.holdOtherThreads = false;
    StopAndJoinRelaxRuns();
    host.RunPostedCalls();
    EXPECT_EQ(host.offMainThreadCalls.load(), 0);
    EXPECT_EQ(renderer.offMainThread.load(), 0);
    DestroyMainWindowData(&window);
  }

  void Open() {
    InitMainWindowData(&window);
    SetWindowFileOpen(&window, true);
    host.windows = {&window};
  }
  WindowRef ref() { return &window; }
  CrystalRec &crystal() { return *GetWindowCrystal(&window); }

  // Makes the window's structure a molecule of the atoms (identity
  // orientation, an atom type per atom) with the bonds.
  void SetMolecule(const std::vector<MolAtom> &atoms, const std::vector<std::pair<int, int>> &bonds,
                   bool molecule = true) {
    CrystalRec &c = crystal();
    c.molecule = molecule ? 1 : 0;
    const float identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    std::copy(identity, identity + 9, c.orientationMatrix);
    const int32_t n = static_cast<int32_t>(atoms.size());
    c.sites.assign(atoms.size(), AsymmetricUnitRecord{});
    c.atoms.assign(atoms.size(), AtomRecord{});
    c.spheres.assign(atoms.size(), SphereRecord{});
    for (int32_t i = 0; i < n; ++i) {
      const ElementCode e = TwoCharsToShort(atoms[i].symbol);
      const uint32_t type = static_cast<uint32_t>(i);
      c.spheres[i].element = e;
      AsymmetricUnitRecord &s = c.sites[i];
      s.elements[0] = e;
      s.occupancies[0] = 1;
      s.firstAtom = s.lastAtom = i;
      s.atomsPerCell = 1;
      s.atomType = type;
      AtomRecord &a = c.atoms[i];
      a.site = static_cast<uint32_t>(i);
      a.atomType = type;
      const float p[3] = {atoms[i].x, atoms[i].y, atoms[i].z};
      std::memcpy(a.cart, p, sizeof p);
      std::memcpy(a.xyz, p, sizeof p);
    }
    c.atomCount = c.siteCount = c.atomsPerCell = n;
    c.sphereCount = static_cast<int32_t>(c.spheres.size());
    for (auto [i, j] : bonds)
      AddBondListEntry(&c, i, j);
  }

  // Runs the posted calls (or, with `run` false, leaves them queued) until
  // `done` holds; false after a minute.
  bool RunUntil(const std::function<bool()> &done, bool run = true) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < limit) {
      if (run)
        host.RunPostedCalls();
      if (done())
        return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
  }
  // Until every worker has ended and been joined, and nothing is queued.
  bool RunUntilAllJoined() {
    return RunUntil([] { return RelaxRunCount() == 0; }) && host.RunPostedCalls() >= 0;
  }

  size_t CountLines(const std::string &prefix) {
    std::vector<std::string> lines = host.LogLines();
    return static_cast<size_t>(
        std::count_if(lines.begin(), lines.end(), [&](const std::string &l) { return l.rfind(prefix, 0) == 0; }));
  }

  FakeHost host;
  CountingRenderer renderer;
  OVWindowRecord window;
};

} // namespace relaxtest
