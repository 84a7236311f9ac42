#include "explorers/SpacegroupBrowser.h"

#include "SpaceGroups.h"
#include "Utilities.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

const char *const kSystemNames[9] = {"",         "Triclinic",      "Monoclinic", "Orthorhombic", "Tetragonal",
                                     "Trigonal", "(Rhombohedral)", "Hexagonal",  "Cubic"};
const char *const kSystemPanelNames[9] = {"unknown",  "Triclinic",    "Monoclinic", "Orthorhombic", "Tetragonal",
                                          "Trigonal", "Rhombohedral", "Hexagonal",  "Cubic"};

namespace {

constexpr int kSystemBounds[10] = {0, 1, 3, 16, 75, 143, 168, 168, 195, 231};
constexpr const char *kLatticeLetters[9] = {"_", "_P", "_PC", "_PACIF", "_PI", "_PR", "_R", "_P", "_PIF"};
constexpr const char *kAllLatticeLetters[9] = {"_", "_PABCIF", "_PABCI", "_PABCIF", "_PI", "_PR", "_R", "_P", "_PIF"};

struct CellChoice {
  int code;
  const char *text;
};
constexpr CellChoice kCellChoiceDescriptors[] = {
    {10, "Unique axis a"},         {11, "Unique axis a; cell choice 1"}, {12, "Unique axis a; cell choice 2"},
    {13, "Unique axis a; cell choice 3"}, {20, "Unique axis b"},         {21, "Unique axis b; cell choice 1"},
    {22, "Unique axis b; cell choice 2"}, {23, "Unique axis b; cell choice 3"}, {30, "Unique axis c"},
    {31, "Unique axis c; cell choice 1"}, {32, "Unique axis c; cell choice 2"}, {33, "Unique axis c; cell choice 3"},
    {101, "Cell choice [a b c]"},  {102, "Cell choice [b a c]"},         {103, "Cell choice [a c b]"},
    {104, "Cell choice [b c a]"},  {105, "Cell choice [c b a]"},         {106, "Cell choice [c a b]"},
    {111, "RHOMBOHEDRAL AXES"},    {112, "HEXAGONAL AXES"},              {0, ""}};

bool Selected(int16_t selection) { return selection >= 1; }

// The entry text without an origin suffix, and the suffix's origin (0 none).
std::string BareSymbol(const std::string &text, int *origin) {
  const size_t at = text.find('[');
  *origin = 0;
  if (at == std::string::npos)
    return text;
  const size_t close = text.find(']', at);
  if (close != std::string::npos && close > 0 && text[close - 1] >= '0' && text[close - 1] <= '9')
    *origin = text[close - 1] - '0';
  std::string bare = text.substr(0, at);
  if (!bare.empty() && bare.back() == ' ')
    bare.pop_back();
  return bare;
}

void KeepVisible(NibList &list) {
  if (list.selection < list.firstVisibleRow)
    SetNibListFirstRow(list, list.selection);
  else if (list.selection > list.firstVisibleRow + list.visibleRows - 1)
    SetNibListFirstRow(list, list.firstVisibleRow + (list.selection - (list.firstVisibleRow + list.visibleRows - 1)));
}

} // namespace

// ---- NibList --------------------------------------------------------------------------

void InitNibList(NibList &list, int16_t rowCount, int16_t rowHeight, int16_t firstRow, int left, int top, int right,
                 int bottom) {
  list.rowHeight = rowHeight > 0 ? rowHeight : 18;
  list.firstVisibleRow = firstRow;
  list.minimumRow = 1;
  list.selection = 0;
  ResizeNibList(&list, left, top, right, bottom);
  SetNibListScroll(list, rowCount);
}

void ResizeNibList(NibList *list, int left, int top, int right, int bottom) {
  if (!list)
    return;
  list->paneLeft = left, list->paneTop = top, list->paneRight = right, list->paneBottom = bottom;
  list->visibleRows = int16_t(std::max(0, (bottom - top) / list->rowHeight));
  SetNibListScroll(*list, list->rowCount);
}

void SetNibListScroll(NibList &list, int16_t rowCount) {
  list.rowCount = rowCount;
  list.scrollMinimum = list.minimumRow;
  list.scrollMaximum = int16_t(std::max<int>(list.minimumRow, rowCount - list.visibleRows + list.minimumRow));
  list.scrollValue = std::clamp(list.scrollValue, list.scrollMinimum, list.scrollMaximum);
  list.firstVisibleRow = std::min(list.firstVisibleRow, list.scrollMaximum);
  list.firstVisibleRow = std::max(list.firstVisibleRow, list.minimumRow);
}

void SetNibListFirstRow(NibList &list, int row) {
  list.firstVisibleRow = int16_t(std::clamp<int>(row, list.scrollMinimum, list.scrollMaximum));
  list.scrollValue = list.firstVisibleRow;
}

void NibListScrollToSelection(NibList &list) {
  if (Selected(list.selection))
    KeepVisible(list);
}

int NibListRowAt(const NibList &list, int y) {
  const int row = (y - list.paneTop) / list.rowHeight + list.firstVisibleRow;
  return y >= list.paneTop && row >= 1 && row <= list.rowCount ? row : -1;
}

// ---- Lists ----------------------------------------------------------------------------

std::string CellChoiceDescriptor(int setting) {
  for (const CellChoice &c : kCellChoiceDescriptors)
    if (c.code == setting && c.code != 0)
      return c.text;
  return {};
}

void InitLatticeList(SpacegroupWinRec &rec) {
  const int s = rec.systemList.selection;
  rec.latticeLetters = s >= 1 && s <= 8 ? (rec.showAllSettings ? kAllLatticeLetters : kLatticeLetters)[s] : "_";
  rec.latticeCount = int16_t(rec.latticeLetters.size() - 1);
}

void InitSymbolList(SpacegroupWinRec &rec) {
  rec.entries.clear();
  const int s = rec.systemList.selection, l = rec.latticeList.selection;
  if (s < 1 || l < 1 || s > 8 || l >= int(rec.latticeLetters.size()))
    return;
  const int range = s == 6 ? 5 : s;
  const char letter = rec.latticeLetters[size_t(l)];
  for (int r = 0; r < kNumSpacegroupRows && gSpacegroups[r].number != kEndSpacegroupNumber; r++) {
    const SpacegroupRecord &row = gSpacegroups[r];
    if (row.number < kSystemBounds[range] || row.number >= kSystemBounds[range + 1])
      continue;
    const bool standard = row.schoenflies[0] != '\0';
    if ((!standard && !rec.showAllSettings) || row.fullSymbol[0] != letter)
      continue;
    if ((s == 5 && row.setting == kSettingRhombohedralAxes) || (s == 6 && row.setting == kSettingHexagonalAxes))
      continue;
    SymbolListEntry e;
    e.tableRow = int16_t(r);
    e.extraSetting = !standard;
    e.text = row.shortSymbol[0] ? row.shortSymbol : row.fullSymbol;
    if (rec.showAllSettings && (row.origin == 1 || row.origin == 2))
      e.text += row.origin == 1 ? " [origin 1]" : " [origin 2]";
    rec.entries.push_back(std::move(e));
  }
}

int SelectedSpacegroupRow(const SpacegroupWinRec &rec) {
  const int s = rec.symbolList.selection;
  return s >= 1 && s <= rec.SymbolCount() ? rec.entries[size_t(s - 1)].tableRow : -1;
}

void ClickSpacegroupList(SpacegroupWinRec &rec, int paneID, int row) {
  NibList &list = paneID == 1 ? rec.systemList : paneID == 3 ? rec.latticeList : rec.symbolList;
  list.selection = int16_t(row >= 1 && row <= list.rowCount ? row : -1);
  if (paneID == 1) {
    InitLatticeList(rec);
    rec.latticeList.selection = 0;
    SetNibListScroll(rec.latticeList, rec.latticeCount);
  }
  if (paneID == 1 || paneID == 3) {
    rec.symbolList.selection = 0;
    InitSymbolList(rec);
    SetNibListScroll(rec.symbolList, rec.SymbolCount());
  }
}

bool FindSpacegroupInLists(SpacegroupWinRec &rec, const std::string &typed, uint8_t origin, int setting) {
  std::string symbol = typed;
  if (!ConvertSpaceGroupSymbol(symbol, origin))
    return false;
  std::string schoenflies, full;
  int16_t number = 0, system = 0, count = 0;
  if (!GetSpacegroupDetails(symbol, schoenflies, full, origin, uint8_t(setting), number, system, count))
    return false;
  // A non-standard setting is listed only with every setting shown.
  for (int r = 0; r < kNumSpacegroupRows && gSpacegroups[r].number != kEndSpacegroupNumber; r++) {
    const SpacegroupRecord &row = gSpacegroups[r];
    if (row.number == number && (symbol == row.shortSymbol || (!row.shortSymbol[0] && symbol == row.fullSymbol)) &&
        (origin == 0 || row.origin == origin) && (setting == 0 || row.setting == setting)) {
      if (!row.schoenflies[0])
        rec.showAllSettings = 1;
      break;
    }
  }
  rec.systemList.selection = system;
  InitLatticeList(rec);
  SetNibListScroll(rec.latticeList, rec.latticeCount);
  const size_t letter = rec.latticeLetters.find(symbol[0], 1);
  rec.latticeList.selection = int16_t(letter == std::string::npos ? 0 : letter);
  InitSymbolList(rec);
  SetNibListScroll(rec.symbolList, rec.SymbolCount());
  rec.symbolList.selection = 0;
  if (!Selected(rec.latticeList.selection))
    return true;
  for (int k = 0; k < rec.SymbolCount(); k++) {
    int entryOrigin = 0;
    // The entry's origin is its table row's: a standard first-origin row is
    // listed without a suffix while the other settings are hidden.
    const std::string bare = BareSymbol(rec.entries[size_t(k)].text, &entryOrigin);
    entryOrigin = gSpacegroups[rec.entries[size_t(k)].tableRow].origin;
    if (bare == symbol && (origin == 0 || entryOrigin == origin)) {
      rec.symbolList.selection = int16_t(k + 1);
      break;
    }
  }
  NibListScrollToSelection(rec.symbolList);
  return true;
}

void TypeInSpacegroupLists(SpacegroupWinRec &rec, int key) {
  const bool left = key == 28, right = key == 29, up = key == 30, down = key == 31;
  if (Selected(rec.symbolList.selection)) {
    if (left) {
      rec.symbolList.selection = 0;
    } else if (up || down) {
      rec.symbolList.selection = int16_t(std::clamp(rec.symbolList.selection + (up ? -1 : 1), 1,
                                                    std::max<int>(1, rec.SymbolCount())));
      KeepVisible(rec.symbolList);
    }
  } else if (Selected(rec.latticeList.selection)) {
    if (left) {
      rec.latticeList.selection = 0;
      rec.entries.clear();
      SetNibListScroll(rec.symbolList, 0);
    } else if (right) {
      if (rec.SymbolCount() >= 1) {
        rec.symbolList.selection = 1;
        SetNibListFirstRow(rec.symbolList, 1);
      }
    } else if (up || down) {
      rec.latticeList.selection =
          int16_t(std::clamp(rec.latticeList.selection + (up ? -1 : 1), 1, std::max<int>(1, rec.latticeCount)));
      KeepVisible(rec.latticeList);
      rec.symbolList.selection = 0;
      InitSymbolList(rec);
      SetNibListScroll(rec.symbolList, rec.SymbolCount());
    }
  } else if (Selected(rec.systemList.selection)) {
    if (right) {
      if (rec.latticeCount >= 1) {
        rec.latticeList.selection = 1;
        SetNibListFirstRow(rec.latticeList, 1);
        InitSymbolList(rec);
        SetNibListScroll(rec.symbolList, rec.SymbolCount());
      }
    } else if (up || down) {
      rec.systemList.selection = int16_t(std::clamp(rec.systemList.selection + (up ? -1 : 1), 1, 8));
      KeepVisible(rec.systemList);
      InitLatticeList(rec);
      rec.latticeList.selection = 0;
      SetNibListScroll(rec.latticeList, rec.latticeCount);
      InitSymbolList(rec);
      SetNibListScroll(rec.symbolList, rec.SymbolCount());
    }
  }
}

void ToggleShowAllSettings(SpacegroupWinRec &rec) {
  rec.showAllSettings = !rec.showAllSettings;
  const int s = rec.systemList.selection;
  if (rec.latticeCount >= 1 && s >= 1 && s <= 3) {
    const char letter = Selected(rec.latticeList.selection) ? rec.latticeLetters[size_t(rec.latticeList.selection)] : 0;
    InitLatticeList(rec);
    SetNibListScroll(rec.latticeList, rec.latticeCount);
    const size_t at = letter ? rec.latticeLetters.find(letter, 1) : std::string::npos;
    rec.latticeList.selection = int16_t(at == std::string::npos ? 0 : at);
  }
  if (rec.SymbolCount() >= 1) {
    const int selected = rec.symbolList.selection;
    const std::string kept = Selected(short(selected)) && selected <= rec.SymbolCount() ? rec.entries[size_t(selected - 1)].text : "";
    InitSymbolList(rec);
    SetNibListScroll(rec.symbolList, rec.SymbolCount());
    rec.symbolList.selection = 0;
    if (!kept.empty())
      for (int k = 0; k < rec.SymbolCount(); k++)
        if (rec.entries[size_t(k)].text == kept) {
          rec.symbolList.selection = int16_t(k + 1);
          NibListScrollToSelection(rec.symbolList);
          break;
        }
  }
}

int SpacegroupMultiplicity(char lattice, int system, int operators) {
  int factor = 1;
  switch (lattice) {
  case 'A':
  case 'B':
  case 'C':
  case 'I':
    factor = 2;
    break;
  case 'F':
    factor = 4;
    break;
  case 'R':
    factor = system == kTrigonalRhombohedralAxes ? 1 : 3;
    break;
  default:
    break;
  }
  return operators * factor;
}

SpacegroupPanel DescribeSpacegroupSelection(const SpacegroupWinRec &rec) {
  SpacegroupPanel p;
  const int r = SelectedSpacegroupRow(rec);
  if (r < 0)
    return p;
  const SpacegroupRecord &row = gSpacegroups[r];
  const SymbolListEntry &entry = rec.entries[size_t(rec.symbolList.selection - 1)];
  p.extraSetting = entry.extraSetting;
  p.fieldText = row.shortSymbol[0] ? row.shortSymbol : row.fullSymbol;
  p.shortSymbol = row.shortSymbol;
  p.schoenflies = row.schoenflies;
  if (p.schoenflies.empty()) {
    for (int k = 0; k < kNumSpacegroupRows; k++)
      if (gSpacegroups[k].number == row.number) {
        p.schoenflies = gSpacegroups[k].schoenflies;
        if (p.shortSymbol.empty())
          p.shortSymbol = gSpacegroups[k].shortSymbol;
        break;
      }
  }
  p.fullSymbol = row.fullSymbol;
  p.number = row.number;
  p.system = GetCrystalSystem(int16_t(r));
  p.systemName = kSystemPanelNames[std::clamp(p.system, 0, 8)];
  p.originChoice = row.origin;
  p.siteText = row.origin ? row.note : "";
  if (row.origin != 0) {
    bool found = false;
    for (const OffsetSpacegroup &o : gOffsetSpacegroups) {
      if (o.number == kEndSpacegroupNumber)
        break;
      if (std::strcmp(o.symbol, row.shortSymbol) == 0) {
        std::copy(o.shift, o.shift + 3, p.shift);
        found = true;
        break;
      }
    }
    // A setting with permuted axes is not in the shift table under its own
    // symbol: its shift is the standard one with the axes permuted.
    if (!found)
      IsDualOriginSpacegroup(p.shortSymbol.empty() ? row.fullSymbol : p.shortSymbol, p.shift);
    if (row.origin == 2)
      for (float &v : p.shift)
        v = -v;
  }
  p.operators = int(row.numOps);
  p.handOver = entry.extraSetting ? row.fullSymbol : row.shortSymbol;
  p.multiplicity = SpacegroupMultiplicity(p.shortSymbol.empty() ? row.fullSymbol[0] : p.shortSymbol[0], p.system,
                                          p.operators);
  p.settingText = row.setting > 0 ? CellChoiceDescriptor(row.setting) : "";
  p.valid = Selected(rec.systemList.selection) && Selected(rec.latticeList.selection);
  return p;
}

// ---- Typesetting -----------------------------------------------------------------------

namespace {

bool IsDigit19(char c) { return c >= '1' && c <= '9'; }
bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

double Add(std::vector<GlyphRun> &runs, const std::string &text, GlyphFont font, bool italic, int size, double x,
           double baseline, int colour, const GlyphMeasure &measure) {
  GlyphRun r;
  r.text = text;
  r.font = font;
  r.italic = italic;
  r.size = size;
  r.x = x;
  r.baseline = baseline;
  r.colour = colour;
  r.width = measure(text, font, italic, size);
  runs.push_back(r);
  return r.width;
}

} // namespace

double PrintSpacegroup(std::vector<GlyphRun> &runs, const std::string &symbol, int size, double h, double v,
                       const GlyphMeasure &measure, int colour) {
  std::string text = symbol;
  std::string suffix;
  const size_t at = symbol.find("[origin");
  if (at != std::string::npos) {
    text = symbol.substr(0, at);
    suffix = symbol.size() >= 2 && symbol[symbol.size() - 2] == '1' ? "[origin 1]" : "[origin 2]";
  }
  const int small = size < 18 ? 9 : size / 2;
  const double subBaseline = v + small / 4;
  const int penHeight = size < 16 ? 1 : size / 16;
  const int barHeight = size * 7 / 8;
  double pen = h, lastBaseline = v;
  bool overbar = false, spacing = false;
  char previous = 0;
  for (char c : text) {
    if (c == '-') {
      overbar = true;
      previous = c;
      continue;
    }
    if (c == '/')
      spacing = true;
    const bool sub = IsDigit19(c) && IsDigit19(previous);
    const int glyphSize = sub ? small : size;
    const double baseline = sub ? subBaseline : v;
    const double x = pen + (spacing ? 1.0 : 0.0);
    const double w = Add(runs, std::string(1, c), GlyphFont::kSerif, IsLetter(c), glyphSize, x, baseline, colour, measure);
    if (overbar) {
      runs.back().overbar = true;
      runs.back().overbarY = baseline - barHeight;
      runs.back().overbarPen = penHeight;
      overbar = false;
    }
    pen += w + (spacing ? 1.0 : 0.0);
    lastBaseline = baseline;
    previous = c;
  }
  if (!suffix.empty())
    pen += 1.0 + Add(runs, suffix, GlyphFont::kSans, false, 10, pen + 1.0, lastBaseline, colour, measure);
  return pen;
}

double PrintSchoenflies(std::vector<GlyphRun> &runs, const std::string &symbol, double h, int top,
                        const GlyphMeasure &measure, int colour) {
  if (symbol.empty())
    return h;
  double pen = h;
  pen += Add(runs, symbol.substr(0, 1), GlyphFont::kSerif, IsLetter(symbol[0]), 36, pen, top + 58, colour, measure);
  pen += 2.0;
  const double subStart = pen;
  double baseline = top + 62;
  for (size_t i = 1; i < symbol.size(); i++) {
    const char c = symbol[i];
    if (c == '(') {
      pen = subStart;
      baseline = top + 40;
      continue;
    }
    if (c == ')')
      break;
    pen += Add(runs, std::string(1, c), GlyphFont::kSerif, IsLetter(c), 18, pen, baseline, colour, measure);
  }
  return pen;
}

std::vector<GlyphRun> SpacegroupPanelRuns(const SpacegroupPanel &p, int left, int top, int right, int bottom,
                                          const GlyphMeasure &measure) {
  std::vector<GlyphRun> runs;
  if (!p.valid)
    return runs;
  const int c = p.extraSetting ? 1 : 0;
  auto label = [&](const std::string &text, int size, double x, double baseline, int colour) {
    return Add(runs, text, GlyphFont::kSerif, false, size, x, baseline, colour, measure);
  };
  label("Short International symbol:", 12, left + 9, top + 19, 2);
  PrintSpacegroup(runs, p.shortSymbol, 36, left + 9, top + 58, measure, c);
  label("Schoenflies symbol:", 12, left + 210, top + 19, 2);
  PrintSchoenflies(runs, p.schoenflies, left + 210, top, measure, c);
  label(p.systemName, 20, right - 9 - measure(p.systemName, GlyphFont::kSerif, false, 20), top + 58, c);
  label("Spacegroup number:", 12, left + 9, top + 91, 2);
  char text[64];
  std::snprintf(text, sizeof text, "No. %d", p.number);
  label(text, 24, left + 9, top + 123, c);
  label("Full International symbol:", 12, left + 210, top + 91, 2);
  PrintSpacegroup(runs, p.fullSymbol, 24, left + 210, top + 123, measure, c);
  if (p.originChoice != 0) {
    std::snprintf(text, sizeof text, "ORIGIN CHOICE %d: ", p.originChoice);
    double pen = left + 9;
    const double baseline = top + 158;
    pen += label(text, 14, pen, baseline, c);
    if (!p.siteText.empty()) {
      pen += label("origin at ", 14, pen, baseline, c);
      pen = PrintSpacegroup(runs, p.siteText, 14, pen, baseline, measure, c);
    }
    if (p.shift[0] != 0 || p.shift[1] != 0 || p.shift[2] != 0) {
      pen += label(" at  ", 14, pen, baseline, c);
      for (int i = 0; i < 3; i++) {
        if (i)
          pen += label(" , ", 14, pen, baseline, c);
        const std::string f = Real2Frac(p.shift[i]);
        if (p.shift[i] == 0) {
          pen += label("0", 14, pen, baseline, c);
          continue;
        }
        if (f[0] == '-')
          pen += label("- ", 14, pen, baseline, c);
        const size_t slash = f.find('/');
        const std::string numerator = f.substr(1, 1), denominator = f.substr(slash + 1, 1);
        const double nw = label(numerator, 11, pen, top + 151, c);
        GlyphRun rule;
        rule.rule = true;
        rule.x = pen;
        rule.baseline = top + 152;
        rule.width = nw;
        rule.colour = c;
        runs.push_back(rule);
        pen += label(denominator, 11, pen, top + 163, c);
      }
      pen += label(p.originChoice == 1 ? "  from origin 2" : "  from origin 1", 14, pen, baseline, c);
    }
  }
  std::snprintf(text, sizeof text, "Multiplicity: %d", p.multiplicity);
  label(text, 14, left + 9, bottom - 14, c);
  if (!p.settingText.empty())
    label(p.settingText, 14, right - 9 - measure(p.settingText, GlyphFont::kSerif, false, 14), bottom - 14, c);
  return runs;
}
