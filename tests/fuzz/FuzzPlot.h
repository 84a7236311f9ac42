// What a fuzz target does with a structure its reader accepted: opens it in
// a small structure window (64 x 64 pixels) on a recording host, builds it
// and plots it through the off-screen renderer, as the program would. The
// driver's time limit per input makes a build or plot that does not end a
// finding.
#pragma once

#include "BuildPipeline.h"
#include "FakeHost.h"
#include "documents/CrystalDocument.h"
#include "render/PlotPipeline.h"
#include "window/MainWindowData.h"

#include <QGuiApplication>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <fstream>
#include <span>
#include <unistd.h>

namespace fuzzplot {

inline constexpr int16_t kSide = 64;

// One window for the whole run; the host records and answers everything.
struct Scene {
  // Text is measured and drawn through fonts, which need the application
  // object; off screen, as the tests run.
  int argc = 1;
  char name[8] = "fuzz";
  char *argv[2] = {name, nullptr};
  std::unique_ptr<QGuiApplication> app;
  FakeHost host;
  OVWindowRecord record;
  std::filesystem::path file;
  Scene() {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    app = std::make_unique<QGuiApplication>(argc, argv);
    InstallRenderServices();
    InitMainWindowData(&record);
    host.windows.push_back(&record);
    host.graphPanes[&record] = Rect{0, 0, kSide, kSide};
    file = std::filesystem::temp_directory_path() / ("ovfuzz-" + std::to_string(::getpid()) + ".ovdf");
  }
  ~Scene() {
    DestroyMainWindowData(&record);
    std::error_code ec;
    std::filesystem::remove(file, ec);
  }
  void Reset() {
    host.alerts.clear();
    host.log.clear();
    host.status.clear();
    host.arms.clear();
    if (host.windows.empty())
      host.windows.push_back(&record);
  }
  static Scene &Get() {
    static Scene scene;
    return scene;
  }
};

// Builds the window's structure again (the next rebuild the user asks for).
inline void Rebuild(Scene &s) {
  CrystalRec *c = GetWindowCrystal(&s.record);
  if (!c || c->siteCount == 0)
    return;
  SetWindowFileOpen(&s.record, true);
  if (c->molecule)
    RunNewMolecule(&s.record, false, false, false, true);
  else
    RunNewCrystal(&s.record, false, false, false);
}

// A document's bytes, opened as File > Open opens a file, then rebuilt.
inline void OpenAndPlot(std::span<const uint8_t> bytes) {
  Scene &s = Scene::Get();
  s.Reset();
  {
    std::ofstream out(s.file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  if (OpenCrystalFile(&s.record, s.file))
    Rebuild(s);
}

// A structure a text reader made, built with its scale fitted as an import
// builds it.
inline void BuildAndPlot(CrystalRec &&crystal) {
  Scene &s = Scene::Get();
  s.Reset();
  *GetWindowCrystal(&s.record) = std::move(crystal);
  CrystalRec *c = GetWindowCrystal(&s.record);
  SetWindowFileOpen(&s.record, true);
  if (c->molecule)
    RunNewMolecule(&s.record, true, true, true, true);
  else
    RunNewCrystal(&s.record, true, true, true);
}

} // namespace fuzzplot
