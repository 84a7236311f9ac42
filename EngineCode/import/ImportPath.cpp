#include "import/ImportPath.h"

#include "Alerts.h"
#include "AutoBonds.h"
#include "BuildPipeline.h"
#include "Polyhedra.h"
#include "RenderServices.h"
#include "StoredLimits.h"
#include "StructureArrays.h"
#include "documents/CrystalDocument.h"
#include "documents/FileBuffer.h"
#include "import/CellFrame.h"
#include "import/ImportText.h"
#include "import/OwnTextReader.h"
#include "import/TextNumbers.h"
#include "window/MainWindowData.h"

#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <map>
#include <new>

ImportHooks gImportHooks;

const ImportFormat *FindImportFormat(std::string_view name) {
  for (const ImportFormat *f : ImportFormats())
    if (name == f->name)
      return f;
  return nullptr;
}

namespace {

// The blank-separated words of a descriptor's list.
std::vector<std::string> Words(const char *list) {
  std::vector<std::string> out;
  std::string word;
  for (const char *p = list; ; p++) {
    if (*p == ' ' || *p == '\0') {
      if (!word.empty())
        out.push_back(std::move(word));
      word.clear();
      if (*p == '\0')
        break;
    } else {
      word += *p;
    }
  }
  return out;
}

} // namespace

const std::vector<OVFileFormat> &FileFormatTable() {
  static const std::vector<OVFileFormat> table = [] {
    // The rows keep the extensions' text alive for the program's life.
    static std::vector<std::string> extensions;
    std::vector<std::pair<size_t, const ImportFormat *>> rows;
    for (const ImportFormat *f : ImportFormats())
      for (std::string &ext : Words(f->extensions)) {
        extensions.push_back(std::move(ext));
        rows.emplace_back(extensions.size() - 1, f);
      }
    std::vector<OVFileFormat> out;
    for (const auto &[k, f] : rows) {
      char code[5] = "    ";
      for (size_t i = 0; i < 4 && i < extensions[k].size(); i++)
        code[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(extensions[k][i])));
      out.push_back({FourCharsToLong(code), extensions[k].c_str(), f});
    }
    out.push_back({FourCharsToLong("STOP"), "", nullptr});
    return out;
  }();
  return table;
}

namespace {

std::string Lower(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char ch) { return std::tolower(ch); });
  return out;
}

// The name without ".gz".
std::string NameWithoutGzip(const std::filesystem::path &file) {
  std::string name = file.filename().string();
  if (Lower(name).ends_with(".gz"))
    name.erase(name.size() - 3);
  return name;
}

const ImportFormat *FormatOfExtension(std::string_view name) {
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos)
    return nullptr;
  const std::string ext = Lower(name.substr(dot + 1));
  for (const OVFileFormat &row : FileFormatTable())
    if (row.format && ext == row.extension)
      return row.format;
  return nullptr;
}

// The one check of how much the path reads: the file as it lies on disk,
// and a gzipped file's text as it inflates.
bool WithinImportLimit(uint64_t bytes, bool inflated, std::string *reason) {
  if (bytes <= kMaxImportFileBytes)
    return true;
  if (reason)
    *reason = std::string(inflated ? "it inflates to more than " : "it is larger than ") +
              std::to_string(kMaxImportFileBytes >> 20) + " MB, the most this version reads";
  return false;
}

bool IsGzip(std::string_view bytes) {
  return bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0x1f &&
         static_cast<unsigned char>(bytes[1]) == 0x8b;
}

bool Inflate(std::string_view bytes, std::string &out, std::string *reason) {
  z_stream z{};
  if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) {
    if (reason)
      *reason = "it could not be inflated";
    return false;
  }
  z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(bytes.data()));
  z.avail_in = static_cast<uInt>(std::min<size_t>(bytes.size(), UINT32_MAX));
  out.clear();
  std::string chunk(1 << 16, '\0');
  int status = Z_OK;
  while (status != Z_STREAM_END) {
    z.next_out = reinterpret_cast<Bytef *>(chunk.data());
    z.avail_out = static_cast<uInt>(chunk.size());
    status = inflate(&z, Z_NO_FLUSH);
    if (status != Z_OK && status != Z_STREAM_END) {
      inflateEnd(&z);
      if (reason)
        *reason = "its compressed data are damaged";
      return false;
    }
    out.append(chunk.data(), chunk.size() - z.avail_out);
    if (!WithinImportLimit(out.size(), true, reason)) {
      inflateEnd(&z);
      return false;
    }
    if (status == Z_OK && z.avail_in == 0 && z.avail_out != 0) {
      inflateEnd(&z);
      if (reason)
        *reason = "its compressed data end too soon";
      return false;
    }
  }
  inflateEnd(&z);
  return true;
}

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

// The shortest distance (A) between two read sites, their images in the
// neighbouring cells included for a crystal (a bond may cross a wall).
// `rows` is the crystal's cell frame, worked out once for all its bonds.
double FileBondLength(const CrystalRec &c, const double rows[3][3], size_t i, size_t j) {
  if (c.molecule) {
    const float *p = c.atoms[i].cart, *q = c.atoms[j].cart;
    return std::hypot(double(p[0]) - q[0], double(p[1]) - q[1], double(p[2]) - q[2]);
  }
  double nearest[3]; // the difference of fractional coordinates, nearest image
  for (int k = 0; k < 3; k++) {
    const double dk = static_cast<double>(c.sites[j].xyz[k]) - c.sites[i].xyz[k];
    nearest[k] = dk - std::round(dk);
  }
  double best = HUGE_VAL;
  for (int u = -1; u <= 1; u++)
    for (int v = -1; v <= 1; v++)
      for (int w = -1; w <= 1; w++) {
        // Each image's fraction as the record stores it (float).
        const double f[3] = {static_cast<float>(nearest[0] + u), static_cast<float>(nearest[1] + v),
                             static_cast<float>(nearest[2] + w)};
        double x[3];
        CartesianFromFractional(rows, f, x);
        best = std::min(best, std::hypot(x[0], x[1], x[2]));
      }
  return best;
}

// A file's own bonds: a specification per element pair, from the shortest
// to the longest bonded distance, and in a molecule the bonds themselves.
void ApplyFileBonds(WindowRef window, CrystalRec &c, const std::vector<FileBond> &bonds,
                    const std::map<std::pair<ElementCode, ElementCode>, std::pair<double, double>> &pairs) {
  // A length read from a file and one the build works out agree to this.
  constexpr double kFileBondSlack = 0.005; // A
  c.bondSpecCount = 0;
  std::string summary;
  for (const auto &[key, range] : pairs) {
    if (c.bondSpecCount >= kMaxBondSpecs)
      break;
    BondSpec &spec = c.bondSpecs[static_cast<size_t>(c.bondSpecCount++)];
    spec = BondSpec{};
    spec.elementA = key.first;
    spec.elementB = key.second;
    spec.minLength = static_cast<float>(std::max(0.0, range.first - kFileBondSlack));
    spec.maxLength = static_cast<float>(std::min<double>(range.second + kFileBondSlack, kMaxBondSpecLength));
    spec.style = c.defaultBondStyle;
    spec.colour1 = c.bondColor1;
    spec.colour2 = c.bondColor2;
    summary += (summary.empty() ? "" : ", ") + ElementSymbolText(key.first) + "-" + ElementSymbolText(key.second) +
               " " + FormatFixed(range.first, 3) + " to " + FormatFixed(range.second, 3) + " A";
  }
  if (c.molecule) {
    for (AtomRecord &atom : c.atoms)
      DestroyBondsListForAtom(&atom);
    for (const FileBond &b : bonds)
      AddBondListEntry(&c, static_cast<int32_t>(b.first), static_cast<int32_t>(b.second));
  } else {
    RunNewBonding(window, &c);
  }
  DefinePolyhedra(&c);
  FWrite(std::to_string(bonds.size()) + " bond(s) given by the file made " + std::to_string(c.bondSpecCount) +
         " bond specification(s): " + summary + ".");
}

} // namespace

bool MatchesFilePattern(std::string_view name, std::string_view pattern) {
  // Backtracking on the last '*' only: linear for the patterns filters use.
  size_t n = 0, p = 0, star = std::string_view::npos, mark = 0;
  auto same = [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
  };
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || (pattern[p] != '*' && same(pattern[p], name[n])))) {
      n++, p++;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++, mark = n;
    } else if (star != std::string_view::npos) {
      p = star + 1, n = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*')
    p++;
  return p == pattern.size();
}

const ImportFormat *GetFileFormatForName(std::string_view name) {
  for (const ImportFormat *f : ImportFormats())
    for (const std::string &pattern : Words(f->namePatterns))
      if (MatchesFilePattern(name, pattern))
        return f;
  return nullptr;
}

const ImportFormat *GetFileFormatForExtension(const std::filesystem::path &file) {
  return FormatOfExtension(NameWithoutGzip(file));
}

std::vector<OpenFileFilter> StructureFileFilters() {
  std::vector<OpenFileFilter> filters;
  OpenFileFilter all{"All structure files", {"*.ovdf", "*.ovmf"}};
  filters.push_back({"Crystal documents", {"*.ovdf"}});
  filters.push_back({"Molecule documents", {"*.ovmf"}});
  for (const ImportFormat *format : ImportFormats()) {
    OpenFileFilter f{format->filterName, {}};
    for (const std::string &ext : Words(format->extensions)) {
      f.patterns.push_back("*." + ext);
      f.patterns.push_back("*." + ext + ".gz");
    }
    for (std::string &pattern : Words(format->namePatterns))
      f.patterns.push_back(std::move(pattern));
    if (f.patterns.empty())
      continue;
    all.patterns.insert(all.patterns.end(), f.patterns.begin(), f.patterns.end());
    filters.push_back(std::move(f));
  }
  filters.insert(filters.begin(), std::move(all));
  return filters;
}

bool NormaliseImportText(std::string_view bytes, std::string &text, std::string *reason, bool *lastLineOpen) {
  std::string inflated;
  if (IsGzip(bytes)) {
    if (!Inflate(bytes, inflated, reason))
      return false;
    bytes = inflated;
  }
  if (lastLineOpen)
    *lastLineOpen = !bytes.empty() && std::string_view("\n\r\0\x1a", 4).find(bytes.back()) == std::string_view::npos;
  // Padding of NULs (and of blanks after them) at the end is no text.
  size_t end = bytes.size();
  while (end > 0 && (bytes[end - 1] == '\0' || bytes[end - 1] == ' ' || bytes[end - 1] == '\n' ||
                     bytes[end - 1] == '\r' || bytes[end - 1] == '\x1a'))
    end--;
  bytes = bytes.substr(0, end);
  if (bytes.find('\0') != std::string_view::npos) {
    if (reason)
      *reason = "it is not a text file";
    return false;
  }
  text = ImportLineEnds(bytes);
  if (!text.empty())
    text += '\n';
  return true;
}

bool LoadImportSource(const std::filesystem::path &file, ImportSource &source, std::string *reason) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(file, ec);
  if (!ec && !WithinImportLimit(size, false, reason))
    return false;
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(file, bytes, reason))
    return false;
  source.file = file;
  source.name = NameWithoutGzip(file);
  const std::string_view raw(reinterpret_cast<const char *>(bytes.data()), bytes.size());
  if (!NormaliseImportText(raw, source.text, reason, &source.lastLineOpen))
    return false;
  if (TrimImport(source.text).empty() && source.text.find_first_not_of(" \t\n") == std::string::npos) {
    if (reason)
      *reason = "it is empty";
    return false;
  }
  return true;
}

std::string ImportRefusal(const std::filesystem::path &file, const ImportError &error) {
  std::string what = error.what;
  if (what.size() > 1 && std::isupper(static_cast<unsigned char>(what[0])) &&
      std::islower(static_cast<unsigned char>(what[1])))
    what[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(what[0])));
  if (!what.empty() && what.back() != '.')
    what += '.';
  std::string text = "\"" + file.filename().string() + "\" could not be read";
  if (error.line > 0)
    text += " at line " + std::to_string(error.line);
  return text + ": " + what;
}

bool ReadStructureFile(const std::filesystem::path &file, ImportResult &result, std::string *why) {
  result = ImportResult{};
  ImportSource source;
  std::string reason;
  if (!LoadImportSource(file, source, &reason)) {
    result.error = {0, reason, ImportErrorKind::Damaged};
    if (why)
      *why = ImportRefusal(file, result.error);
    return false;
  }
  // The name, then the extension, then the content: a reader whose
  // detector turns the text down passes it on.
  std::vector<const ImportFormat *> tried;
  auto attempt = [&](const ImportFormat &format) -> std::optional<bool> {
    if (std::find(tried.begin(), tried.end(), &format) != tried.end())
      return std::nullopt;
    tried.push_back(&format);
    if (!format.detect(source))
      return std::nullopt;
    result = ImportResult{};
    try {
      if (format.read(source, result) && !result.structures.empty())
        return true;
    } catch (const std::bad_alloc &) {
      result = ImportResult{};
      result.error = {0, "there is not enough memory to read it", ImportErrorKind::NoMemory};
    }
    if (result.error.what.empty())
      result.error.what = "it holds no structure";
    if (why)
      *why = ImportRefusal(file, result.error);
    result.structures.clear();
    return false;
  };
  for (const ImportFormat *format : {GetFileFormatForName(source.name), FormatOfExtension(source.name)})
    if (format)
      if (auto done = attempt(*format))
        return *done;
  for (const ImportFormat *format : ImportFormats())
    if (auto done = attempt(*format))
      return *done;
  result.error = {0, "", ImportErrorKind::Unknown};
  if (why) {
    const ImportFormat *named = FormatOfExtension(source.name);
    *why = "\"" + file.filename().string() + "\" is " +
           (named ? std::string("not a file of its kind (") + named->filterName + "), nor any other"
                  : std::string("no")) +
           " structure file this version reads.";
  }
  return false;
}

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
bool BuildAndSettle(WindowRef window, ImportedStructure &s, bool noBondSpecs, const std::vector<FileBond> &bonds,
                    const std::map<std::pair<ElementCode, ElementCode>, std::pair<double, double>> &pairs,
                    int &missed) {
  const HeldPlots held(window);
  CrystalRec *target = GetWindowCrystal(window);
  const bool built = target->molecule ? RunNewMolecule(window, false, true, true, true)
                                      : RunNewCrystal(window, true, true, true);
  if (!built)
    return false;
  CrystalRec *c = GetWindowCrystal(window);
  if (c && noBondSpecs && c->atomCount >= 2) {
    if (!bonds.empty()) {
      ApplyFileBonds(window, *c, bonds, pairs);
    } else {
      // A file without bond specifications gets those of the automatic
      // search.
      AutoBondSearch(c);
      DefinePolyhedra(c);
    }
  }
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
  // The lengths of the file's bonds, from the positions as read, in one
  // frame of the cell.
  std::map<std::pair<ElementCode, ElementCode>, std::pair<double, double>> pairs;
  std::vector<FileBond> bonds;
  const size_t nSites = s.crystal.sites.size();
  double rows[3][3] = {};
  if (!s.bonds.empty() && !s.crystal.molecule)
    StandardCellVectors(s.crystal.a, s.crystal.b, s.crystal.c, s.crystal.alpha, s.crystal.beta, s.crystal.gamma,
                        rows);
  for (const FileBond &b : s.bonds) {
    if (b.first >= nSites || b.second >= nSites || b.first == b.second)
      continue;
    const ElementCode ea = s.crystal.sites[b.first].elements[0], eb = s.crystal.sites[b.second].elements[0];
    const auto key = ea <= eb ? std::make_pair(ea, eb) : std::make_pair(eb, ea);
    const double r = FileBondLength(s.crystal, rows, b.first, b.second);
    auto [it, fresh] = pairs.try_emplace(key, r, r);
    if (!fresh)
      it->second = {std::min(it->second.first, r), std::max(it->second.second, r)};
    bonds.push_back(b);
  }
  *target = std::move(s.crystal);
  const bool noBondSpecs = target->bondSpecCount == 0;
  if (gDocumentWindowHooks.setNotes)
    gDocumentWindowHooks.setNotes(window, s.extras.notes);
  if (!s.extras.title.empty() && gDocumentWindowHooks.setWindowTitle)
    gDocumentWindowHooks.setWindowTitle(window, s.extras.title);
  SetWindowFileOpen(window, true);
  int missed = 0;
  if (!BuildAndSettle(window, s, noBondSpecs, bonds, pairs, missed))
    return false;
  for (const std::string &caution : s.extras.cautions)
    MyCFCautionAlert(caution);
  const std::string name = file.filename().string();
  for (const std::string &w : s.extras.warnings)
    FWrite(name + ", " + w);
  const size_t warnings = s.extras.warnings.size() + static_cast<size_t>(missed);
  if (missed > 0)
    FWrite(std::to_string(missed) + " vector(s) found no atom at their position and were left out.");
  if (warnings > 0)
    DrawWindowSubtitle(window, std::to_string(warnings) + (warnings == 1 ? " warning" : " warnings") +
                                   " while reading the file: see the Log.");
  return true;
}

namespace {

bool ReadOrRefuse(const std::filesystem::path &file, ImportResult &result) {
  std::string why;
  if (ReadStructureFile(file, result, &why))
    return true;
  MyCFStopAlert(ImportAlertTitle(result.error.kind), why);
  return false;
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

} // namespace

bool OpenTextFile(WindowRef window, const std::filesystem::path &file, ImportChoice choice) {
  ImportResult result;
  return ReadOrRefuse(file, result) && BuildChosen(window, file, result, choice);
}

FileOpenKind GetFileOpenKind(const std::filesystem::path &file) {
  uint32_t type = 0;
  if (FSRefGetFileType(file, &type) != 0)
    return FileOpenKind::Unreadable;
  return type == kCrystalDocumentType || type == kMoleculeDocumentType || type == kOldCrystalDocumentType ||
                 type == kOldMoleculeDocumentType
             ? FileOpenKind::Document
             : FileOpenKind::Text;
}

bool ReadHeldFile(const std::filesystem::path &file, HeldStructureFile &held) {
  held = HeldStructureFile{file, GetFileOpenKind(file), {}};
  switch (held.kind) {
  case FileOpenKind::Document:
    return true; // the document's own reader reads it
  case FileOpenKind::Text:
    return ReadOrRefuse(file, held.read);
  case FileOpenKind::Unreadable:
    break;
  }
  std::error_code ec;
  MyCFStopAlert(kFileNotOpened, "\"" + file.filename().string() +
                                    (std::filesystem::exists(file, ec) ? "\" is not a file this version can read."
                                                                       : "\" could not be found."));
  return false;
}

bool OpenHeldFile(WindowRef window, HeldStructureFile &&held, ImportChoice choice) {
  switch (held.kind) {
  case FileOpenKind::Document:
    return OpenCrystalFile(window, held.file);
  case FileOpenKind::Text:
    return BuildChosen(window, held.file, held.read, choice);
  case FileOpenKind::Unreadable:
    break;
  }
  return false;
}

bool OpenStructureFile(WindowRef window, const std::filesystem::path &file, ImportChoice choice) {
  HeldStructureFile held;
  return ReadHeldFile(file, held) && OpenHeldFile(window, std::move(held), choice);
}
