#include "import/ImportPath.h"

#include "Alerts.h"
#include "AutoBonds.h"
#include "BuildPipeline.h"
#include "Polyhedra.h"
#include "RenderServices.h"
#include "StoredLimits.h"
#include "StructureArrays.h"
#include "documents/CrystalDocument.h"
#include "import/FileBonds.h"
#include "import/ImportText.h"
#include "import/OwnTextReader.h"
#include "import/TextNumbers.h"
#include "window/MainWindowData.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace {

std::string FormulaOfSites(const CrystalRec &c) {
  std::vector<std::pair<ElementCode, double>> counts;
  for (const AsymmetricUnitRecord &site : c.sites)
    for (int k = 0; k < kMaxSiteElements; k++) {
      if (site.elements[k] == kBlankElement || (k > 0 && site.occupancies[k] <= 0.0f))
        continue;
      auto it = std::find_if(counts.begin(), counts.end(), [&](const auto &p) { return p.first == site.elements[k]; });
      if (it == counts.end())
        it = counts.emplace(counts.end(), site.elements[k], 0.0); // the old end is no longer valid
      it->second += site.occupancies[k];
    }
  std::string out;
  for (const auto &[element, n] : counts) {
    if (!out.empty())
      out += ' ';
    out += ElementSymbolText(element);
    if (std::fabs(n - 1.0) > 1e-3)
      out += std::fabs(n - std::round(n)) < 1e-3 ? std::to_string(static_cast<long>(std::lround(n)))
                                                  : FormatFixed(n, 2);
  }
  return out;
}

} // namespace

StructureSummary SummariseStructure(const ImportedStructure &s) {
  StructureSummary out;
  const CrystalRec &c = s.crystal;
  out.name = s.name;
  out.formula = s.formula.empty() ? FormulaOfSites(c) : s.formula;
  if (c.molecule) {
    out.cell = "molecule";
  } else {
    out.cell = FormatFixed(c.a, 4) + " " + FormatFixed(c.b, 4) + " " + FormatFixed(c.c, 4) + "  " +
               FormatFixed(c.alpha, 2) + " " + FormatFixed(c.beta, 2) + " " + FormatFixed(c.gamma, 2);
    out.spaceGroup = c.cardCount > 0 ? std::to_string(c.cardCount) + " operators, " + c.latticeLetter
                                     : std::string(CStrView(std::span<const char>(c.spaceGroup)));
  }
  return out;
}

namespace {

// While one lives, the plots the build and the settling of the bonds ask of
// one window wait, and the window is drawn once, as the last asked, when it
// goes. Every other service of the renderer, and a plot of another window,
// passes on at once.
class HeldPlots final : public RenderServices {
public:
  explicit HeldPlots(WindowRef window) : window_(window), renderer_(GetRenderServices()) {
    if (renderer_)
      SetRenderServices(this);
  }
  ~HeldPlots() override {
    if (!renderer_)
      return;
    SetRenderServices(renderer_);
    if (asked_)
      renderer_->NewPlot(window_, false, reRender_);
  }
  HeldPlots(const HeldPlots &) = delete;
  HeldPlots &operator=(const HeldPlots &) = delete;

  void NewPlot(WindowRef window, bool applyViewDirection, bool reRender) override {
    if (window != window_ || applyViewDirection)
      return renderer_->NewPlot(window, applyViewDirection, reRender);
    asked_ = true;
    reRender_ = reRender_ || reRender;
  }
  void PlotCrystal(WindowRef window, int16_t destination) override {
    if (window != window_ || destination != kPlotToWindow)
      return renderer_->PlotCrystal(window, destination);
    asked_ = true;
  }
  void ResetOffScreen(WindowRef window) override { renderer_->ResetOffScreen(window); }
  void MakeUnitCell(CrystalRec *crystal) override { renderer_->MakeUnitCell(crystal); }
  void MeasureString(const char *text, const char *fontName, float size, float &width, float &height) override {
    renderer_->MeasureString(text, fontName, size, width, height);
  }
  void ProjectToPixel(const CrystalRec *c, const float *xyz, int16_t *pixel, int32_t width, int32_t height) override {
    renderer_->ProjectToPixel(c, xyz, pixel, width, height);
  }

private:
  WindowRef window_;
  RenderServices *renderer_;
  bool asked_ = false, reRender_ = false;
};

// The build, the bonds and the text's view and vectors, drawn once when all
// are settled; false when the build stopped. `missed` counts the vectors that
// found no atom.
bool BuildAndSettle(WindowRef window, ImportedStructure &s, bool noBondSpecs, const FileBondSet &fileBonds,
                    int &missed) {
  const HeldPlots held(window);
  CrystalRec *target = GetWindowCrystal(window);
  const bool built = target->molecule ? RunNewMolecule(window, false, true, true, true)
                                      : RunNewCrystal(window, true, true, true);
  if (!built)
    return false;
  CrystalRec *c = GetWindowCrystal(window);
  if (c && noBondSpecs && c->atomCount >= 2)
    SettleImportedBonds(window, *c, fileBonds);
  missed = c ? ApplyTextFileExtras(*c, s.extras) : 0;
  return true;
}

} // namespace

const char *ImportAlertTitle(ImportErrorKind kind) {
  return kind == ImportErrorKind::Unknown ? kUnknownFileType : kFileNotOpened;
}

bool BuildImportedStructure(WindowRef window, const std::filesystem::path &file, ImportedStructure &&s) {
  CrystalRec *target = GetWindowCrystal(window);
  if (!target)
    return false;
  // The file's bonds, measured before the build moves the sites.
  const FileBondSet fileBonds = MeasureFileBonds(s);
  *target = std::move(s.crystal);
  const bool noBondSpecs = target->bondSpecCount == 0;
  if (gDocumentWindowHooks.setNotes)
    gDocumentWindowHooks.setNotes(window, s.extras.notes);
  if (!s.extras.title.empty() && gDocumentWindowHooks.setWindowTitle)
    gDocumentWindowHooks.setWindowTitle(window, s.extras.title);
  SetWindowFileOpen(window, true);
  int missed = 0;
  if (!BuildAndSettle(window, s, noBondSpecs, fileBonds, missed))
    return false;
  for (const std::string &caution : s.extras.cautions)
    MyCFCautionAlert(caution);
  const std::string name = file.filename().string();
  for (const std::string &w : s.extras.warnings)
    FWrite(name + ", " + w);
  if (s.extras.warningsLeftOut > 0)
    FWrite(name + ", and " + std::to_string(s.extras.warningsLeftOut) + " more warning(s).");
  const size_t warnings = s.extras.warnings.size() + s.extras.warningsLeftOut + static_cast<size_t>(missed);
  if (missed > 0)
    FWrite(std::to_string(missed) + " vector(s) found no atom at their position and were left out.");
  if (warnings > 0)
    DrawWindowSubtitle(window, std::to_string(warnings) + (warnings == 1 ? " warning" : " warnings") +
                                   " while reading the file: see the Log.");
  return true;
}

// Builds the chosen structures of a file read: the first in the window, the
// others through the hooks.
bool BuildChosen(WindowRef window, const std::filesystem::path &file, ImportResult &result, ImportChoice choice) {
  const std::string name = file.filename().string();
  std::vector<size_t> picked{0};
  const size_t count = result.structures.size();
  if (count > 1) {
    if (choice == ImportChoice::Ask && gImportHooks.choose) {
      std::vector<StructureSummary> summaries;
      summaries.reserve(count);
      for (const ImportedStructure &s : result.structures)
        summaries.push_back(SummariseStructure(s));
      picked = gImportHooks.choose(file, summaries);
      picked.erase(std::remove_if(picked.begin(), picked.end(), [&](size_t k) { return k >= count; }), picked.end());
      if (picked.empty())
        return false; // the user chose none: nothing is opened, and nothing said
    } else {
      FWrite(name + " holds " + std::to_string(count) + " structures; the first (" + result.structures[0].name +
             ") is opened, " + std::to_string(count - 1) + " other(s) are not.");
    }
  }
  if (result.structuresLeftOut > 0)
    FWrite(name + ": " + std::to_string(result.structuresLeftOut) + " structure(s) beyond the first " +
           std::to_string(kMaxImportStructures) + " were left out.");
  if (!BuildImportedStructure(window, file, std::move(result.structures[picked[0]])))
    return false;
  for (size_t k = 1; k < picked.size(); k++)
    if (gImportHooks.openInNewWindow)
      gImportHooks.openInNewWindow(file, std::move(result.structures[picked[k]]));
  return true;
}
