// Structures for the document and text-format tests: every structure of
// tests/data/structures and every example of resources/examples, built in a
// structure window on the recording host.
#pragma once

#include "BuildPipeline.h"
#include "CrystalFromSites.h"
#include "DumpInput.h"
#include "FakeHost.h"
#include "Preferences.h"
#include "StructureArrays.h"
#include "import/ImportPath.h"
#include "import/OwnTextReader.h"
#include "window/MainWindowData.h"

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace doctest {

// A structure window in front on the host, with a graph pane.
class Window {
public:
  explicit Window(FakeHost &host) : host_(host) {
    InitMainWindowData(&record_);
    host.windows.insert(host.windows.begin(), &record_);
    host.graphPanes[&record_] = Rect{0, 0, 384, 512};
  }
  ~Window() {
    std::erase(host_.windows, &record_);
    host_.graphPanes.erase(&record_);
    DestroyMainWindowData(&record_);
  }
  Window(const Window &) = delete;
  Window &operator=(const Window &) = delete;
  WindowRef ref() { return &record_; }
  CrystalRec &crystal() { return *GetWindowCrystal(&record_); }

private:
  FakeHost &host_;
  OVWindowRecord record_;
};

struct Named {
  std::string name;
  CrystalRec crystal;
};

// Every structure of tests/data/structures, built; `error` names the first
// that did not build.
inline std::vector<Named> DataStructures(FakeHost &host, std::string &error) {
  struct In {
    std::string title, error, group;
    float cell[6] = {};
    int origin = 0;
    std::vector<dumpinput::Site> sites;
  };
  std::vector<Named> out;
  for (const auto &file : dumpinput::InputFiles(std::filesystem::path(OV_TEST_DATA) / "structures")) {
    auto structures = dumpinput::ReadStructures<In>(
        file, "stray", [](In &s, const std::string &key, std::istringstream &words, const std::string &line, int) {
          if (key == "cell")
            dumpinput::ReadNumbers(words, s.cell);
          else if (key == "spacegroup")
            s.group = dumpinput::Trim(line.substr(line.find("spacegroup") + 10));
          else if (key == "origin")
            words >> s.origin;
          else if (key == "site") {
            dumpinput::Site site;
            if (dumpinput::ReadSite(words, site))
              s.sites.push_back(site);
          }
        });
    for (In &s : structures) {
      Window w(host);
      std::vector<SiteIn> sites;
      for (const auto &site : s.sites)
        sites.push_back({site.label.c_str(), site.element.c_str(), site.xyz[0], site.xyz[1], site.xyz[2]});
      FillCrystalFromSites(w.crystal(), s.cell, s.group.c_str(), sites);
      CopyPrefsToCrystal(&gPrefs, &w.crystal());
      w.crystal().originChoice = static_cast<uint8_t>(s.origin);
      SetWindowFileOpen(w.ref(), true);
      if (!RunNewCrystal(w.ref(), true, true, true)) {
        error = s.title;
        continue;
      }
      out.push_back({s.title, w.crystal()});
    }
  }
  return out;
}

// The text of one example of resources/examples.
inline std::string ExampleText(const char *name) {
  std::ifstream in(std::filesystem::path(OV_SOURCE_DIR) / "resources/examples" / name);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

inline std::vector<std::filesystem::path> ExampleFiles() {
  std::vector<std::filesystem::path> files;
  for (const auto &e : std::filesystem::directory_iterator(std::filesystem::path(OV_SOURCE_DIR) / "resources/examples"))
    if (e.path().extension() == ".ovtx")
      files.push_back(e.path());
  std::sort(files.begin(), files.end());
  return files;
}

// Every example, read and built.
inline std::vector<Named> ExampleStructures(FakeHost &host, std::string &error) {
  std::vector<Named> out;
  for (const auto &file : ExampleFiles()) {
    Window w(host);
    if (!OpenStructureFile(w.ref(), file)) {
      error = file.filename().string();
      continue;
    }
    out.push_back({file.stem().string(), w.crystal()});
  }
  return out;
}

// Every structure of tests/data/structures and every example; `error` names
// one that did not build, or says that an example is missing.
inline std::vector<Named> AllStructures(FakeHost &host, std::string &error) {
  std::vector<Named> all = DataStructures(host, error);
  std::vector<Named> examples = ExampleStructures(host, error);
  if (examples.size() < 8 && error.empty())
    error = "fewer than eight examples";
  for (Named &n : examples)
    all.push_back(std::move(n));
  return all;
}

} // namespace doctest
