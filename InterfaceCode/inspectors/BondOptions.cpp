// The Bonds tab: the default bond style and colours, and per bond
// specification (element pair) its own style and colours, in a hand-drawn
// list; and the bond radii of the ball-and-stick and stick models. Only
// drawing attributes change here: element pairs and lengths stay.
#include "InspectorKit.h"
#include "ModelOptions.h"
#include "StyleMenus.h"
#include "shell/Forms.h"

#include "Preferences.h"
#include "Utilities.h"

#include <QApplication>
#include <QLineEdit>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>

BondOptions bondOptions;

namespace {

QWidget *Pane() { return gModelOptions.panes[kBondsTab]; }
template <typename T = QWidget> T *Ctl(int id) { return Pane() ? FindControl<T>(Pane(), id) : nullptr; }
QWidget *List() { return Ctl(201); }

constexpr QColor kFolderBack(238, 238, 238);
constexpr QColor kDarkGrey(64, 64, 64);
constexpr uint32_t kCmdDefaultBonds = FourCharsToLong("DefB");

struct Layout {
  QRect list;
  int rowHeight = 1;
  int RowTop(int r) const { return list.top() + r * rowHeight; }
  QRect Row(int r) const { return {list.left(), RowTop(r), list.width(), rowHeight}; }
  QRect Style(int r) const { return {list.left() + 65, RowTop(r) + (rowHeight - 24) / 2, 64, 24}; }
  QRect Colour1(int r) const { return {list.left() + 146, RowTop(r) + (rowHeight - 20) / 2, 44, 20}; }
  QRect Colour2(int r) const { return {list.left() + 196, RowTop(r) + (rowHeight - 20) / 2, 44, 20}; }
};
Layout CurrentLayout() {
  Layout l;
  if (QWidget *list = List()) {
    l.list = list->rect().adjusted(1, 1, -1, -1);
    l.rowHeight = std::max(1, l.list.height() / kBondListRows);
  }
  return l;
}

QString ElementText(ElementCode e) {
  return QString("%1%2").arg(QChar(char(e >> 8))).arg(QChar(char(e & 0xff)));
}

int gPressedRow = -1;

void DrawBondListRow(QPainter &p, const Layout &l, int r) {
  const int i = bondOptions.top + r - 1;
  const QRect row = l.Row(r);
  p.fillRect(row, i == 0 ? kFolderBack : Qt::white);
  QFont font = QApplication::font();
  font.setPointSizeF(font.pointSizeF() * 0.85);
  font.setBold(true);
  p.setFont(font);
  if (r < kBondListRows - 1 && i <= bondOptions.count) {
    p.setPen(kFolderBack);
    p.drawLine(row.left(), row.bottom(), row.right() - 1, row.bottom());
  }
  if (i > bondOptions.count || i < 0)
    return;
  const BondSpec &spec = bondOptions.rows[size_t(i)];
  const int inset = (l.rowHeight - 14) / 2;
  const QRect nameBox = row.adjusted(8, inset, -8, -inset);
  p.setPen(i == 0 ? kDarkGrey : QColor(Qt::black));
  p.drawText(nameBox, Qt::AlignLeft | Qt::AlignVCenter,
             i == 0 ? QStringLiteral("Default") : ElementText(spec.elementA) + " - " + ElementText(spec.elementB));
  font.setBold(false);
  p.setFont(font);
  const QRect style = l.Style(r);
  const QRect square(style.center().x() - style.width() / 2, style.center().y() - style.width() / 2, style.width(),
                     style.width());
  if (gPressedRow == r)
    p.fillRect(style, QApplication::palette().highlight());
  if (const StyleIconEntry *e = FindStyleIconEntry(gBondStyleIconData, spec.style)) {
    p.save();
    p.setClipRect(style);
    StyleMenuIcon(e->fileName).paint(&p, square, Qt::AlignCenter, gPressedRow == r ? QIcon::Selected : QIcon::Normal);
    p.restore();
  }
  p.setPen(Qt::black);
  const QRect textBox(l.Colour1(r).left(), row.top() + inset, l.list.right() - l.Colour1(r).left(),
                      row.height() - 2 * inset);
  switch (BondStyleColouring(spec.style)) {
  case 0: break;
  case 1: MyDrawColorButtonContents(p, l.Colour1(r), spec.colour1); break;
  case 2:
    MyDrawColorButtonContents(p, l.Colour1(r), spec.colour1);
    MyDrawColorButtonContents(p, l.Colour2(r), spec.colour2);
    break;
  case 3: p.drawText(textBox, Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("(atom colours)")); break;
  case 4: p.drawText(textBox, Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("(highlight colour)")); break;
  default:
    p.drawText(QRect(style.left(), textBox.top(), l.list.right() - style.left(), textBox.height()),
               Qt::AlignLeft | Qt::AlignVCenter, QString("unknown style (%1)").arg(spec.style));
    break;
  }
}

void DrawBondOptionsList(QPainter &p) {
  const Layout l = CurrentLayout();
  for (int r = 0; r < kBondListRows; r++)
    DrawBondListRow(p, l, r);
  p.setPen(QColor(204, 204, 204));
  p.drawRect(List()->rect().adjusted(0, 0, -1, -1));
}

void Redraw() {
  if (QWidget *list = List())
    list->update();
}

bool ColourEditable(int style, int which) {
  const int colouring = BondStyleColouring(style);
  return which == 1 ? colouring != 3 && colouring != 4 : colouring == 2;
}

// The press opens the style menu at once; a press on a swatch waits for
// the release inside it before asking for a colour.
struct SwatchPress {
  int row = -1, which = 0;
};
SwatchPress gSwatch;

void TrackBondOptionsListPress(QPoint point) {
  const Layout l = CurrentLayout();
  const int r = (point.y() - l.list.top()) / l.rowHeight;
  const int i = bondOptions.top + r - 1;
  gSwatch = {};
  if (r < 0 || r >= kBondListRows || i < 0 || i > bondOptions.count)
    return;
  BondSpec &spec = bondOptions.rows[size_t(i)];
  if (l.Style(r).contains(point)) {
    const int current = FindStyleMenuItem(gBondStyleIconData, spec.style);
    gPressedRow = r;
    List()->repaint();
    const QRect style = l.Style(r);
    const StyleMenuChoice choice = PopUpStyleMenu(gBondStyleMenu, current, bondOptions.rows[0].style,
                                                  List()->mapToGlobal(QPoint(style.right() + 1 + 2, style.top())));
    gPressedRow = -1;
    switch (choice.kind) {
    case StyleMenuChoice::kNone: break;
    case StyleMenuChoice::kUseDefault: spec.style = bondOptions.rows[0].style; break;
    case StyleMenuChoice::kMakeDefault: bondOptions.rows[0].style = spec.style; break;
    case StyleMenuChoice::kStyle: spec.style = uint16_t(choice.style); break;
    }
    Redraw();
    DoApplyBondOptions();
    return;
  }
  if (l.Colour1(r).contains(point) && ColourEditable(spec.style, 1))
    gSwatch = {r, 1};
  else if (l.Colour2(r).contains(point) && ColourEditable(spec.style, 2))
    gSwatch = {r, 2};
}

void TrackBondOptionsListRelease(QPoint point) {
  const SwatchPress press = gSwatch;
  gSwatch = {};
  if (press.row < 0)
    return;
  const Layout l = CurrentLayout();
  if (!(press.which == 1 ? l.Colour1(press.row) : l.Colour2(press.row)).contains(point))
    return;
  const int i = bondOptions.top + press.row - 1;
  if (i < 0 || i > bondOptions.count)
    return;
  RGBColor &colour = press.which == 1 ? bondOptions.rows[size_t(i)].colour1 : bondOptions.rows[size_t(i)].colour2;
  RGBColor chosen;
  if (!GetColor("Bond colour:", colour, &chosen))
    return;
  colour = chosen;
  Redraw();
  DoApplyBondOptions();
}

void AutoScrollBondOptionsList(int part) {
  bondOptions.top = ScrollListByPart(Ctl<QScrollBar>(202), part);
  Redraw();
}

// The two radius fields, in whole percent of an Angstrom.
constexpr StoredField kRadiusField{stored::kBondRadius, 0.01f, 0.0f, true};
constexpr int kBallRadiusField = 208, kStickRadiusField = 210;
void ShowRadius(int field, float radius) {
  ShowStoredValue(Ctl<QLineEdit>(field), radius, MyTrimSprintf("%.0f", kRadiusField.Shown(radius)) + "%");
}

void AutoScrollRadius(int field, int part) {
  auto *text = Ctl<QLineEdit>(field);
  const int value = GetEditTextLong(text);
  const int next = std::clamp(value + (part == kControlUpButtonPart ? 1 : part == kControlDownButtonPart ? -1 : 0),
                              int(kRadiusField.ShownLow()), int(kRadiusField.ShownHigh()));
  if (next == value)
    return;
  SetEditTextFormat(text, "%.0f%%", next);
  DoApplyBondOptions();
}

OSStatus BondOptionsEventHandler(uint32_t command) {
  if (command != kCmdDefaultBonds)
    return kEventNotHandledErr;
  const BondSpec &defaults = bondOptions.rows[0];
  for (int i = 1; i <= bondOptions.count; i++) {
    BondSpec &row = bondOptions.rows[size_t(i)];
    row.style = defaults.style;
    row.colour1 = defaults.colour1;
    row.colour2 = defaults.colour2;
  }
  Redraw();
  DoApplyBondOptions();
  return kNoErr;
}

} // namespace

int BondStyleColouring(int style) {
  switch (style) {
  case 0: return 0;
  case 1: case 2: case 4: case 6: case 9: return 1;
  case 3: case 10: return 3;
  case 5: case 11: return 2;
  case 12: return 4;
  default: return 5;
  }
}

void InitBondOptions() {
  QWidget *pane = Pane();
  if (!pane)
    return;
  InitStyleMenus();
  InstallHandDrawnList(List(), {[](QPainter &p) { DrawBondOptionsList(p); }, TrackBondOptionsListPress,
                                TrackBondOptionsListRelease, AutoScrollBondOptionsList});
  QObject::connect(Ctl<QScrollBar>(202), &QScrollBar::valueChanged, pane, [](int value) {
    bondOptions.top = value;
    Redraw();
  });
  for (int field : {kBallRadiusField, kStickRadiusField})
    QObject::connect(Ctl<LittleArrows>(field + 1), &LittleArrows::Stepped, pane,
                     [field](int part) { AutoScrollRadius(field, part); });
  ConnectPaneCommands(pane, BondOptionsEventHandler);
}

void FillBondOptions(const CrystalRec &c) {
  BondOptions &o = bondOptions;
  o.bsRadius = c.bondRadius;
  o.stickRadius = c.stickRadius;
  o.count = std::clamp(c.bondSpecCount, 0, kMaxBondSpecs);
  o.rows[0] = BondSpec{};
  o.rows[0].style = c.defaultBondStyle;
  o.rows[0].colour1 = c.bondColor1;
  o.rows[0].colour2 = c.bondColor2;
  for (int i = 0; i < o.count; i++)
    o.rows[size_t(i) + 1] = c.bondSpecs[size_t(i)];
}

void UpdateBondOptions() {
  if (!Pane())
    return;
  BondOptions &o = bondOptions;
  o.top = o.scrollMin = o.viewSize = 1;
  o.scrollMax = o.count - 7 > 0 ? o.count - 7 : 1;
  SetListScrollBar(Ctl<QScrollBar>(202), o.scrollMin, o.scrollMax, o.top, o.viewSize);
  ShowRadius(kBallRadiusField, o.bsRadius);
  ShowRadius(kStickRadiusField, o.stickRadius);
  Redraw();
}

bool ExtractBondOptions() {
  if (auto *field = Ctl<QLineEdit>(kBallRadiusField))
    bondOptions.bsRadius = StoredFieldValue(field, kRadiusField);
  if (auto *field = Ctl<QLineEdit>(kStickRadiusField))
    bondOptions.stickRadius = StoredFieldValue(field, kRadiusField);
  return true;
}

void ApplyBondOptions() {
  CrystalRec *c = gModelOptions.crystal;
  if (!c)
    return;
  ExtractBondOptions();
  const BondOptions &o = bondOptions;
  c->bondRadius = o.bsRadius;
  c->stickRadius = o.stickRadius;
  c->bondColor1 = o.rows[0].colour1;
  c->bondColor2 = o.rows[0].colour2;
  c->defaultBondStyle = o.rows[0].style;
  // Only the drawing attributes go back, and only into specifications whose
  // element pair is still the row's: a table edited since the last refresh
  // keeps its pairs and lengths.
  const int n = std::min(std::clamp(c->bondSpecCount, 0, kMaxBondSpecs), o.count);
  bool stale = n != c->bondSpecCount;
  for (int i = 0; i < n; i++) {
    BondSpec &spec = c->bondSpecs[size_t(i)];
    const BondSpec &row = o.rows[size_t(i) + 1];
    if (spec.elementA != row.elementA || spec.elementB != row.elementB) {
      stale = true;
      continue;
    }
    spec.style = row.style;
    spec.colour1 = row.colour1;
    spec.colour2 = row.colour2;
  }
  if (stale) {
    FillBondOptions(*c);
    UpdateBondOptions();
  }
}

void DoApplyBondOptions() {
  if (!ModelOptionsCrystal())
    return;
  ApplyBondOptions();
  ReplotAfterModelOptions(false, true);
}

void SaveBondOptionsAsDefaults() {
  const BondOptions &o = bondOptions;
  gPrefs.defaultBondStyle = o.rows[0].style;
  gPrefs.bondColor1 = o.rows[0].colour1;
  gPrefs.bondColor2 = o.rows[0].colour2;
  gPrefs.bondRadius = o.bsRadius;
  gPrefs.stickRadius = o.stickRadius;
}
