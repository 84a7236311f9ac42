#include "import/ImportPath.h"

#include "Alerts.h"
#include "AutoBonds.h"
#include "BuildPipeline.h"
#include "FractionalPlaces.h"
#include "Geometry.h"
#include "MemoryBudget.h"
#include "Polyhedra.h"
#include "RenderServices.h"
#include "StoredLimits.h"
#include "StructureArrays.h"
#include "UnitCell.h"
#include "documents/CrystalDocument.h"
#include "import/FileBonds.h"
#include "import/ImportText.h"
#include "import/OwnTextReader.h"
#include "import/TextNumbers.h"
#include "window/MainWindowData.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <utility>

namespace {

// The formula the structure opens with, as the Log's calculated formula
// counts it (each occupancy times the atoms per cell of its site, over the
// smallest atoms per cell), in Hill order: C first and H second when there
// is C, then the others alphabetically; without C every element
// alphabetically. The structure is still unbuilt here: each site's atoms per cell
// is the count of its images under the structure's operators.
std::string FormulaOfSites(const CrystalRec &c) {
  // The operators are made in a copy of the symmetry alone (the look-up
  // writes the table's cards and symbol into it).
  CrystalRec symmetry;
  symmetry.molecule = c.molecule;
  std::copy(std::begin(c.spaceGroup), std::end(c.spaceGroup), std::begin(symmetry.spaceGroup));
  symmetry.originChoice = c.originChoice;
  symmetry.latticeLetter = c.latticeLetter;
  symmetry.alpha = c.alpha, symmetry.beta = c.beta, symmetry.gamma = c.gamma;
  symmetry.cardCount = c.cardCount;
  symmetry.symCards = c.symCards;
  const std::string_view given = CStrView(std::span<const char>(c.spaceGroup));
  const bool named = c.cardCount > 0 ||
                     std::any_of(given.begin(), given.end(), [](char ch) { return static_cast<uint8_t>(ch) >= '('; });
  std::optional<std::vector<GEP>> ops;
  if (!c.molecule && named)
    ops = GetCrystalGEPs(&symmetry, nullptr);
  std::vector<int32_t> perCell(c.sites.size(), 1);
  const OneAtomRule rule(c);
  if (ops && !ops->empty())
    for (size_t s = 0; s < c.sites.size(); s++)
      perCell[s] =
          static_cast<int32_t>(ops->size()) / std::max(OperatorsFixing(*ops, c.sites[s].xyz, c.originShift, rule), 1);
  std::vector<FormulaAmount> amounts;
  bool overflow = false;
  CalcFormulaAmounts(&c, amounts, overflow, perCell);
  std::vector<std::pair<std::string, double>> counts;
  for (const FormulaAmount &e : amounts)
    counts.emplace_back(ElementSymbolText(e.element), e.amount);
  const bool carbon = std::any_of(counts.begin(), counts.end(), [](const auto &p) { return p.first == "C"; });
  auto rank = [carbon](const std::string &symbol) { return !carbon ? 2 : symbol == "C" ? 0 : symbol == "H" ? 1 : 2; };
  std::sort(counts.begin(), counts.end(), [&](const auto &a, const auto &b) {
    return std::pair(rank(a.first), a.first) < std::pair(rank(b.first), b.first);
  });
  std::string out;
  for (const auto &[symbol, n] : counts) {
    if (!out.empty())
      out += ' ';
    out += symbol;
    if (std::fabs(n - 1.0) > 1e-3)
      out += std::fabs(n - std::round(n)) < 1e-3 ? std::to_string(static_cast<long>(std::lround(n)))
                                                  : FormatFixed(n, 2);
  }
  return overflow ? out + " ..." : out;
}

} // namespace

StructureSummary SummariseStructure(const ImportedStructure &s) {
  StructureSummary out;
  const CrystalRec &c = s.crystal;
  out.name = s.name;
  // What opens, not what the file says it holds.
  out.formula = FormulaOfSites(c);
  out.commonName = s.commonName;
  if (s.extras.title != s.name)
    out.title = s.extras.title;
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

std::string ImportedWindowTitle(const std::filesystem::path &file, const ImportedStructure &s, bool several) {
  const std::string name = NameWithoutGzip(file);
  // A name that decides its format (data.melt, POSCAR.relaxed) is kept
  // whole: what follows its dot is no extension.
  const std::string stem = std::filesystem::path(name).stem().string();
  const std::string base = GetFileFormatForName(name) || stem.empty() ? name : stem;
  // The structure's name after it, so that Save As proposes a file name.
  return several && !s.name.empty() ? base + " " + s.name : base;
}

extern const ImportFormat gOwnTextImport;

namespace {

// The own text format names its window by its title card; every other
// format by the file.
bool TitleCardNamesWindow(const std::filesystem::path &file) {
  return GetFileFormatForExtension(file) == &gOwnTextImport;
}

// The names the file gives a structure, which its window's title leaves
// out, for the Log: the block, model or frame, a mineral or common name and
// the title line.
void LogStructureNames(const std::filesystem::path &file, const ImportedStructure &s) {
  const std::string name = NameWithoutGzip(file);
  std::string line;
  auto add = [&](const char *what, const std::string &text) {
    if (!text.empty())
      line += (line.empty() ? "" : ", ") + std::string(what) + " \"" + text + "\"";
  };
  if (s.name != name)
    add("structure", s.name);
  add(s.mineralName ? "mineral name" : "common name", s.commonName);
  if (s.extras.title != s.name)
    add("title", s.extras.title);
  if (!line.empty())
    FWrite(name + ": " + line + ".");
}

// While one holds, the plots the build and the settling of the bonds ask of
// one window wait, and the window is drawn once, as the last asked, on
// Release. Every other service of the renderer, and a plot of another window,
// passes on at once. A build left by an exception is not drawn: the
// destructor only puts the renderer back, and draws nothing (a drawing that
// failed there could not be reported).
class HeldPlots final : public RenderServices {
public:
  explicit HeldPlots(WindowRef window) : window_(window), renderer_(GetRenderServices()) {
    if (renderer_)
      SetRenderServices(this);
  }
  ~HeldPlots() override {
    if (renderer_)
      SetRenderServices(renderer_);
  }
  void Release() {
    RenderServices *renderer = std::exchange(renderer_, nullptr);
    if (!renderer)
      return;
    SetRenderServices(renderer);
    if (asked_)
      renderer->NewPlot(window_, false, reRender_);
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
  HeldPlots held(window);
  CrystalRec *target = GetWindowCrystal(window);
  const bool built = target->molecule ? RunNewMolecule(window, false, true, true, true)
                                      : RunNewCrystal(window, true, true, true);
  if (!built) {
    held.Release();
    return false;
  }
  CrystalRec *c = GetWindowCrystal(window);
  if (c && noBondSpecs && c->atomCount >= 2)
    SettleImportedBonds(window, *c, fileBonds);
  // The roles of the sites wait until polyhedra are drawn; the sites whose
  // roles will be judged from fewer atoms than lie within bond reach are
  // told now, once.
  TellCrowdedSitesAfterBonding(c);
  missed = c ? ApplyTextFileExtras(*c, s.extras) : 0;
  held.Release();
  return true;
}

} // namespace

const char *ImportAlertTitle(ImportErrorKind kind) {
  switch (kind) {
  case ImportErrorKind::Unknown:
    return kUnknownFileType;
  case ImportErrorKind::NoMemory:
    return "No Memory";
  default:
    return kFileNotOpened;
  }
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
  if (warnings > 0) {
    const std::string count = std::to_string(warnings) + (warnings == 1 ? " warning" : " warnings") +
                              " while reading the file: see the Log.";
    if (gImportHooks.showReadWarnings)
      gImportHooks.showReadWarnings(window, count);
    else
      DrawWindowSubtitle(window, count);
  }
  return true;
}

// Builds the chosen structures of a file read: the first in the window, the
// others through the hooks, or all of them as the window's views.
bool BuildChosen(WindowRef window, const std::filesystem::path &file, ImportResult &result, ImportChoice choice) {
  const std::string name = file.filename().string();
  StructurePick pick({0});
  const size_t count = result.structures.size();
  if (count > 1) {
    if (choice == ImportChoice::Ask && gImportHooks.choose) {
      std::vector<StructureSummary> summaries;
      summaries.reserve(count);
      for (const ImportedStructure &s : result.structures)
        summaries.push_back(SummariseStructure(s));
      {
        const KeepMemoryFailures outsideTheOpen; // the chooser's event loop serves every window
        pick = gImportHooks.choose(file, summaries);
      }
      std::erase_if(pick.picked, [&](size_t k) { return k >= count; });
      if (pick.picked.empty())
        return false; // the user chose none: nothing is opened, and nothing said
    } else {
      FWrite(name + " holds " + std::to_string(count) + " structures; the first (" + result.structures[0].name +
             ") is opened, " + std::to_string(count - 1) + " other(s) are not.");
    }
  }
  if (result.structuresLeftOut > 0)
    FWrite(name + ": " + std::to_string(result.structuresLeftOut) + " structure(s) beyond the first " +
           std::to_string(kMaxImportStructures) + " were left out.");
  const bool titleCard = TitleCardNamesWindow(file);
  for (size_t k : pick.picked) {
    ImportedStructure &s = result.structures[k];
    if (titleCard && !s.extras.title.empty())
      continue;
    // A view is captioned by its structure's name; a window is named by the
    // file, and the Log keeps the names the file gives.
    if (pick.asViews && !s.name.empty()) {
      s.extras.title = s.name;
    } else {
      LogStructureNames(file, s);
      s.extras.title = ImportedWindowTitle(file, s, count > 1);
    }
  }
  if (pick.asViews && gImportHooks.openAsViews) {
    std::vector<ImportedStructure> views;
    views.reserve(pick.picked.size());
    for (size_t k : pick.picked)
      views.push_back(std::move(result.structures[k]));
    return gImportHooks.openAsViews(window, file, std::move(views));
  }
  if (!BuildImportedStructure(window, file, std::move(result.structures[pick.picked[0]])))
    return false;
  for (size_t k = 1; k < pick.picked.size(); k++)
    if (gImportHooks.openInNewWindow)
      gImportHooks.openInNewWindow(file, std::move(result.structures[pick.picked[k]]));
  return true;
}
