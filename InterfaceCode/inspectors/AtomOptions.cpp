// The Atoms tab: per element and per site the sphere style, the ellipsoid
// style and whether it shows, and the polyhedron mode, in a hand-drawn
// outline list (Default, then the elements, each opening onto its sites);
// and the four sphere and ellipsoid sizes. A change in the list applies at
// once.
#include "InspectorKit.h"
#include "ModelOptions.h"
#include "StyleMenus.h"
#include "shell/Forms.h"

#include "EllipsoidMaths.h"
#include "Preferences.h"
#include "StructureArrays.h"
#include "Utilities.h"

#include <QApplication>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QStyleOption>
#include <algorithm>
#include <cmath>

AtomOptions atomOptions;

namespace {

QWidget *Pane() { return gModelOptions.panes[kAtomsTab]; }
template <typename T = QWidget> T *Ctl(int id) { return Pane() ? FindControl<T>(Pane(), id) : nullptr; }
QWidget *List() { return Ctl(101); }

constexpr QColor kFolderBack(238, 238, 238); // 61166 in each component
constexpr QColor kDarkGrey(64, 64, 64);

// ---- Geometry ------------------------------------------------------------------

enum Column { kSphereColumn = 0, kEllipsoidColumn = 1, kPolyColumn = 2 };

struct Layout {
  QRect list;
  int rowHeight = 1;
  QRect RowRect(int r) const { return {list.left(), list.top() + r * rowHeight, list.width(), rowHeight}; }
  int RowTop(int r) const { return list.top() + r * rowHeight; }
  QRect Disclosure(int r) const { return {list.left() + 6, RowTop(r) + (rowHeight - 12) / 2, 12, 12}; }
  QRect Poly(int r) const { return {list.right() + 1 - 41, RowTop(r) + (rowHeight - 21) / 2, 21, 21}; }
  QRect Ellipsoid(int r) const { return Poly(r).translated(-57, 0); }
  QRect Check(int r) const {
    const QRect e = Ellipsoid(r);
    return {e.left() - 16, RowTop(r) + (rowHeight - 12) / 2, 12, 12};
  }
  QRect Sphere(int r) const { return Ellipsoid(r).translated(-72, 0); }
  QRect Icon(int r, int column) const {
    return column == kSphereColumn ? Sphere(r) : column == kEllipsoidColumn ? Ellipsoid(r) : Poly(r);
  }
  // The apply arrows stand to the right of row 0's icons.
  QRect Arrow(int column) const {
    const QRect icon = Icon(0, column);
    return {icon.right() + 1, icon.center().y() - 7, 15, 15};
  }
};

Layout CurrentLayout() {
  Layout l;
  if (QWidget *list = List()) {
    l.list = list->rect().adjusted(1, 1, -1, -1);
    l.rowHeight = std::max(1, l.list.height() / kAtomListRows);
  }
  return l;
}

// ---- Rows ----------------------------------------------------------------------

// The list row shown at visible row r: its container and item.
bool FindClickedAtomRow(int r, int *container, int *item) {
  int wanted = atomOptions.top + r - 1;
  if (wanted < 0)
    return false;
  const auto &cs = atomOptions.containers;
  for (size_t k = 0; k < cs.size(); k++) {
    const int rows = cs[k].expanded ? cs[k].count : 1;
    if (wanted < rows) {
      *container = int(k);
      *item = wanted;
      return true;
    }
    wanted -= rows;
  }
  return false;
}

void InitAtomOptionsListScroll() {
  int total = 0;
  for (const AtomContainer &c : atomOptions.containers)
    total += c.expanded ? c.count : 1;
  atomOptions.scrollMin = 1;
  atomOptions.viewSize = 1;
  atomOptions.scrollMax = total - (kAtomListRows - 1);
  if (atomOptions.scrollMax < 1) {
    atomOptions.scrollMax = 1;
    atomOptions.top = 1;
  }
  atomOptions.top = std::clamp(atomOptions.top, 1, atomOptions.scrollMax);
  SetListScrollBar(Ctl<QScrollBar>(102), atomOptions.scrollMin, atomOptions.scrollMax, atomOptions.top,
                   atomOptions.viewSize);
}

uint32_t &ColumnValue(AtomContainerItem &item, int column) {
  return column == kSphereColumn ? item.atomStyle : column == kEllipsoidColumn ? item.ellipsoidStyle : item.polyStyle;
}
bool ItemPolyhedral(const AtomContainer &container, int item) {
  return item == 0 ? IsElementPolyhedral(gModelOptions.crystal, container)
                   : IsSitePolyhedral(gModelOptions.crystal, container.items[size_t(item)].site);
}
// A value given to a whole container: a polyhedron mode that draws one goes
// only to the polyhedral sites (and to the element's row).
void SetContainerValue(AtomContainer &container, int column, uint32_t value) {
  const bool restricted = column == kPolyColumn && !IsPolyModeWithoutPolyhedron(value);
  for (size_t i = 0; i < container.items.size(); i++)
    if (!restricted || i == 0 || IsSitePolyhedral(gModelOptions.crystal, container.items[i].site))
      ColumnValue(container.items[i], column) = value;
}
bool RowInactive(int container) { return !atomOptions.hasEllipsoids && container != 0; }

// ---- Drawing -------------------------------------------------------------------

struct Pressed {
  int row = -1;
  bool triangle = false, sphere = false, check = false, ellipsoid = false, poly = false;
  int arrow = -1;
};
Pressed gPressed;

void DrawIcon(QPainter &p, const QRect &rect, const char *file, bool pressed, bool disabled) {
  const QIcon icon = StyleMenuIcon(file);
  if (pressed)
    p.fillRect(rect.adjusted(-1, -1, 1, 1), QApplication::palette().highlight());
  if (!icon.isNull())
    icon.paint(&p, rect, Qt::AlignCenter, disabled ? QIcon::Disabled : pressed ? QIcon::Selected : QIcon::Normal);
}

void DrawApplyArrow(QPainter &p, const QRect &rect, bool pressed) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  const int g = pressed ? 51 : 128;
  const QColor grey(g, g, g);
  const double cx = rect.left() + rect.width() / 2.0;
  const double bottom = rect.top() + rect.height();
  p.setPen(QPen(grey, 2));
  p.drawLine(QPointF(cx, bottom - 10), QPointF(cx, bottom - 3));
  QPainterPath tip;
  tip.moveTo(cx - 4, bottom - 6);
  tip.lineTo(cx + 4, bottom - 6);
  tip.lineTo(cx, bottom);
  tip.closeSubpath();
  p.fillPath(tip, grey);
  p.restore();
}

void DrawAtomRow(QPainter &p, const Layout &l, int r) {
  const QRect row = l.RowRect(r);
  int k = 0, i = 0;
  const bool shown = FindClickedAtomRow(r, &k, &i);
  const bool site = shown && i > 0;
  QFont font = QApplication::font();
  font.setPointSizeF(font.pointSizeF() * 0.85);
  font.setBold(shown && !site);
  p.setFont(font);
  p.fillRect(row, shown && !site ? kFolderBack : Qt::white);
  if (shown) {
    AtomContainer &container = atomOptions.containers[size_t(k)];
    const AtomContainerItem &item = container.items[size_t(i)];
    const bool pressedRow = gPressed.row == r;
    if (k > 0 && i == 0) {
      QStyleOption option;
      option.rect = l.Disclosure(r);
      option.state = QStyle::State_Children | QStyle::State_Enabled;
      if (container.expanded)
        option.state |= QStyle::State_Open;
      if (pressedRow && gPressed.triangle)
        option.state |= QStyle::State_Sunken;
      QApplication::style()->drawPrimitive(QStyle::PE_IndicatorBranch, &option, &p, List());
    }
    QString name;
    int left = l.Disclosure(r).left();
    if (k == 0) {
      name = QStringLiteral("Default");
      p.setPen(kDarkGrey);
    } else {
      left = l.Disclosure(r).right() + 1 + 3;
      if (i == 0) {
        name = QString("%1%2").arg(QChar(char(container.element >> 8))).arg(QChar(char(container.element & 0xff)));
        name = name.trimmed();
      } else {
        const CrystalRec *c = gModelOptions.crystal;
        name = c && item.site < UsableSiteSize(*c)
                   ? QString::fromLatin1(c->sites[item.site].label).left(8)
                   : QStringLiteral("???");
      }
      p.setPen(Qt::black);
    }
    const int inset = (l.rowHeight - 14) / 2;
    p.drawText(QRect(left, row.top() + inset, l.Sphere(r).left() - left - 20, row.height() - 2 * inset),
               Qt::AlignLeft | Qt::AlignVCenter, name);
    font.setBold(false);
    p.setFont(font);
    if (const StyleIconEntry *e = FindStyleIconEntry(gAtomStyleIconData, int32_t(item.atomStyle)))
      DrawIcon(p, l.Sphere(r), e->fileName, pressedRow && gPressed.sphere, false);
    // Ellipsoid check box and icon.
    QStyleOptionButton check;
    check.rect = l.Check(r);
    check.state = item.ellipsoidShown ? QStyle::State_On : QStyle::State_Off;
    if (!RowInactive(k))
      check.state |= QStyle::State_Enabled;
    if (pressedRow && gPressed.check)
      check.state |= QStyle::State_Sunken;
    QApplication::style()->drawPrimitive(QStyle::PE_IndicatorCheckBox, &check, &p, List());
    if (const StyleIconEntry *e = FindStyleIconEntry(gEllipsoidStyleIconData, int32_t(item.ellipsoidStyle))) {
      DrawIcon(p, l.Ellipsoid(r), e->fileName, pressedRow && gPressed.ellipsoid, RowInactive(k));
      if (item.ellipsoidStyle != 0 && !item.ellipsoidShown) {
        const QRect e2 = l.Ellipsoid(r);
        DrawIcon(p, QRect(e2.right() + 1 - 16 + 4, e2.bottom() + 1 - 16 + 1, 16, 16), kEllipsoidHiddenIconFile,
                 false, false);
      }
    }
    if (const StyleIconEntry *e = FindStyleIconEntry(gPolyStyleIconData, int32_t(item.polyStyle)))
      DrawIcon(p, l.Poly(r), e->fileName, pressedRow && gPressed.poly, false);
    if (k == 0)
      for (int column = 0; column < 3; column++)
        DrawApplyArrow(p, l.Arrow(column), r == 0 && gPressed.arrow == column);
  }
  if (r < kAtomListRows - 1) {
    p.setPen(site ? kFolderBack : Qt::white);
    p.drawLine(row.left(), row.bottom(), row.right() - 1, row.bottom());
  }
}

void DrawAtomOptionsList(QPainter &p) {
  const Layout l = CurrentLayout();
  for (int r = 0; r < kAtomListRows; r++)
    DrawAtomRow(p, l, r);
  p.setPen(QColor(204, 204, 204));
  p.drawRect(List()->rect().adjusted(0, 0, -1, -1));
}

void Redraw() {
  if (QWidget *list = List())
    list->update();
}

// ---- Clicks --------------------------------------------------------------------

void PopUpColumnMenu(const Layout &l, int r, int k, int i, int column) {
  AtomContainer &container = atomOptions.containers[size_t(k)];
  AtomContainerItem &item = container.items[size_t(i)];
  AtomContainerItem &defaults = atomOptions.containers[0].items[0];
  QMenu *menu = column == kSphereColumn      ? gAtomStyleMenu
                : column == kEllipsoidColumn ? gEllipsoidStyleMenu
                : (k == 0 || ItemPolyhedral(container, i)) ? gPolyStyleFullMenu
                                                            : gPolyStylePartialMenu;
  const int current = FindStyleMenuItem(StyleMenuTable(menu), int32_t(ColumnValue(item, column)));
  gPressed = {};
  gPressed.row = r;
  (column == kSphereColumn ? gPressed.sphere : column == kEllipsoidColumn ? gPressed.ellipsoid : gPressed.poly) = true;
  List()->repaint();
  const QRect icon = l.Icon(r, column);
  const StyleMenuChoice choice = PopUpStyleMenu(menu, current, int32_t(ColumnValue(defaults, column)),
                                                List()->mapToGlobal(QPoint(icon.right() + 1 + 2, icon.top())));
  gPressed = {};
  switch (choice.kind) {
  case StyleMenuChoice::kNone: Redraw(); return;
  case StyleMenuChoice::kUseDefault:
    if (i == 0)
      SetContainerValue(container, column, ColumnValue(defaults, column));
    else
      ColumnValue(item, column) = ColumnValue(defaults, column);
    break;
  case StyleMenuChoice::kMakeDefault: ColumnValue(defaults, column) = ColumnValue(item, column); break;
  case StyleMenuChoice::kStyle:
    if (i == 0)
      SetContainerValue(container, column, uint32_t(choice.style));
    else
      ColumnValue(item, column) = uint32_t(choice.style);
    break;
  }
  Redraw();
  DoApplyAtomOptions();
}

// The press starts a track; the release inside the same part completes it.
void TrackAtomOptionsListPress(QPoint point) {
  const Layout l = CurrentLayout();
  if (atomOptions.containers.empty())
    return;
  const int r = (point.y() - l.list.top()) / l.rowHeight;
  int k = 0, i = 0;
  if (r < 0 || r >= kAtomListRows || !FindClickedAtomRow(r, &k, &i))
    return;
  gPressed = {};
  gPressed.row = r;
  const bool ellipsoidsLive = !RowInactive(k);
  if (k > 0 && i == 0 && l.Disclosure(r).contains(point)) {
    gPressed.triangle = true;
  } else if (ellipsoidsLive && l.Check(r).contains(point)) {
    gPressed.check = true;
  } else if (l.Sphere(r).contains(point)) {
    return PopUpColumnMenu(l, r, k, i, kSphereColumn);
  } else if (ellipsoidsLive && l.Ellipsoid(r).contains(point)) {
    return PopUpColumnMenu(l, r, k, i, kEllipsoidColumn);
  } else if (l.Poly(r).contains(point)) {
    return PopUpColumnMenu(l, r, k, i, kPolyColumn);
  } else if (k == 0 && r == 0 && atomOptions.containers.size() > 1) {
    for (int column = 0; column < 3; column++)
      if (l.Arrow(column).contains(point))
        gPressed.arrow = column;
    if (gPressed.arrow < 0)
      gPressed = {};
  } else {
    gPressed = {};
  }
  Redraw();
}

void TrackAtomOptionsListRelease(QPoint point) {
  const Pressed pressed = gPressed;
  gPressed = {};
  const Layout l = CurrentLayout();
  int k = 0, i = 0;
  if (pressed.row < 0 || !FindClickedAtomRow(pressed.row, &k, &i)) {
    Redraw();
    return;
  }
  const int r = pressed.row;
  AtomContainer &container = atomOptions.containers[size_t(k)];
  if (pressed.triangle && l.Disclosure(r).contains(point)) {
    container.expanded = !container.expanded;
    InitAtomOptionsListScroll();
  } else if (pressed.check && l.Check(r).contains(point)) {
    if (i == 0) {
      const uint8_t shown = container.items[0].ellipsoidShown ? 0 : 1;
      for (AtomContainerItem &item : container.items)
        item.ellipsoidShown = shown;
    } else {
      container.items[size_t(i)].ellipsoidShown = !container.items[size_t(i)].ellipsoidShown;
    }
    Redraw();
    DoApplyAtomOptions();
    return;
  } else if (pressed.arrow >= 0 && l.Arrow(pressed.arrow).contains(point)) {
    const AtomContainerItem defaults = atomOptions.containers[0].items[0];
    for (size_t c = 1; c < atomOptions.containers.size(); c++) {
      AtomContainer &each = atomOptions.containers[c];
      if (pressed.arrow == kSphereColumn) {
        for (AtomContainerItem &item : each.items)
          item.atomStyle = defaults.atomStyle;
      } else if (pressed.arrow == kEllipsoidColumn) {
        for (AtomContainerItem &item : each.items) {
          item.ellipsoidStyle = defaults.ellipsoidStyle;
          item.ellipsoidShown = defaults.ellipsoidShown;
        }
      } else {
        SetContainerValue(each, kPolyColumn, defaults.polyStyle);
      }
    }
    Redraw();
    DoApplyAtomOptions();
    return;
  }
  Redraw();
}

void AutoScrollAtomOptionsList(int part) {
  atomOptions.top = ScrollListByPart(Ctl<QScrollBar>(102), part);
  Redraw();
}

// ---- Value fields --------------------------------------------------------------

// Each field with its stored row, its little arrows' step and what it shows.
struct AtomField {
  int id;
  StoredField kind;
  float step;
  bool percent; // whole percent, else Angstrom to two decimals
  float AtomOptions::*value;
};
constexpr AtomField kAtomFields[] = {
    {110, {stored::kFraction, 0.01f}, 1.0f, true, &AtomOptions::relSphereRadius},
    {112, {stored::kMinBallRadius}, 0.01f, false, &AtomOptions::minSphereRadius},
    {120, {stored::kEllipsoidProbability, 0.01f}, 1.0f, true, &AtomOptions::probability},
    {122, {stored::kEllipsoidSphereRadius}, 0.01f, false, &AtomOptions::ellipsoidSphereRadius},
};

std::string FieldText(const AtomField &f, float shown) {
  return f.percent ? MyTrimSprintf("%.0f", shown) + "%" : MyTrimSprintf("%.2f", shown) + " Å";
}
void ShowField(const AtomField &f) {
  const float value = atomOptions.*f.value;
  ShowStoredValue(Ctl<QLineEdit>(f.id), value, FieldText(f, f.kind.Shown(value)));
}

void AutoScrollField(const AtomField &f, int part) {
  auto *field = Ctl<QLineEdit>(f.id);
  if (!field)
    return;
  const float value = GetEditTextFloat(field);
  float next = value + (part == kControlUpButtonPart ? f.step : part == kControlDownButtonPart ? -f.step : 0.0f);
  // Hundredths are kept exact so that the bounds are met.
  next = f.percent ? std::round(next) : std::round(next * 100.0f) / 100.0f;
  next = std::clamp(next, f.kind.ShownLow(), f.kind.ShownHigh());
  if (std::fabs(next - value) < 1e-6f)
    return;
  SetEditTextCString(field, FieldText(f, next));
  DoApplyAtomOptions();
}

} // namespace

void InitAtomOptions() {
  QWidget *pane = Pane();
  if (!pane)
    return;
  InitStyleMenus();
  InstallHandDrawnList(List(), {[](QPainter &p) { DrawAtomOptionsList(p); }, TrackAtomOptionsListPress,
                                TrackAtomOptionsListRelease, AutoScrollAtomOptionsList});
  QObject::connect(Ctl<QScrollBar>(102), &QScrollBar::valueChanged, pane, [](int value) {
    atomOptions.top = value;
    Redraw();
  });
  for (const AtomField &f : kAtomFields)
    QObject::connect(Ctl<LittleArrows>(f.id + 1), &LittleArrows::Stepped, pane,
                     [&f](int part) { AutoScrollField(f, part); });
}

void FillAtomOptions(const CrystalRec &c) {
  AtomOptions &o = atomOptions;
  // The list groups the sites by their display modes, which sets the roles
  // still to be set of a structure just opened: it is made only while the
  // inspector shows (showing it refreshes it). Hidden, the tab holds no rows
  // and writes none.
  if (gModelOptionsWindow && gModelOptionsWindow->isVisible()) {
    o.containers = CreateAtomContainers(&c, &o.containerCount);
  } else {
    o.containers.clear();
    o.containerCount = 0;
  }
  o.hasEllipsoids = c.ellipsoidData;
  o.probability = c.ellipsoidProbability;
  o.ellipsoidSphereRadius = c.ellipsoidSphereRadius;
  o.minSphereRadius = c.minBSSphereRadius;
  o.relSphereRadius = c.bsSphereRadFrac;
}

void UpdateAtomOptions() {
  if (!Pane())
    return;
  atomOptions.top = 1;
  InitAtomOptionsListScroll();
  for (const AtomField &f : kAtomFields)
    ShowField(f);
  Redraw();
}

bool ExtractAtomOptions() {
  bool found = true;
  for (const AtomField &f : kAtomFields) {
    auto *field = Ctl<QLineEdit>(f.id);
    found = found && field;
    if (field)
      atomOptions.*f.value = StoredFieldValue(field, f.kind);
  }
  return found;
}

void ApplyAtomOptions() {
  CrystalRec *c = gModelOptions.crystal;
  if (!c || UsableSiteCount(*c) == 0 || UsableAtomCount(*c) == 0 || atomOptions.containers.empty())
    return;
  // Rows copied from another state of the structure are not written: the
  // tab shows the structure as it is now instead.
  if (!AtomContainersMatch(c, atomOptions.containers)) {
    DoUpdateModelOptions();
    return;
  }
  ExtractAtomOptions();
  AtomOptions &o = atomOptions;
  // A probability that stays leaves the ellipsoids as they are.
  ResetEllipsoidProbability(c, o.probability);
  o.probability = c->ellipsoidProbability;
  c->ellipsoidSphereRadius = o.ellipsoidSphereRadius;
  c->minBSSphereRadius = o.minSphereRadius;
  c->bsSphereRadFrac = o.relSphereRadius;
  // The fields show what was applied (a value typed beyond a limit stops at it).
  if (Pane())
    for (const AtomField &f : kAtomFields)
      ShowField(f);
  ApplyAtomContainers(c, o.containers);
}

void DoApplyAtomOptions() {
  if (!ModelOptionsCrystal())
    return;
  ApplyAtomOptions();
  ReplotAfterModelOptions(false, true);
}

void SaveAtomOptionsAsDefaults() {
  const AtomOptions &o = atomOptions;
  if (!o.containers.empty()) {
    const AtomContainerItem &d = o.containers[0].items[0];
    gPrefs.defaultAtomStyle = d.atomStyle;
    gPrefs.defaultEllipsoidStyle = d.ellipsoidStyle;
    gPrefs.defaultPolyMode = d.polyStyle;
  }
  gPrefs.ellipsoidProbability = o.probability;
  gPrefs.ellipsoidSphereRadius = o.ellipsoidSphereRadius;
  gPrefs.minBSSphereRadius = o.minSphereRadius;
  gPrefs.bsSphereRadFrac = o.relSphereRadius;
}
