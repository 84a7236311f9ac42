#include "ArrowTool.h"

#include "AnnotationEditing.h"
#include "EditAnnotation.h"
#include "InfoTool.h"
#include "Tools.h"
#include "WindowInput.h"

#include "AtomOperations.h"
#include "CellTransform.h"
#include "LocalizedStrings.h"
#include "PlotRange.h"
#include "SpaceGroups.h"
#include "StructureArrays.h"
#include "render/AnnotationObjects.h"
#include "render/Highlights.h"
#include "render/HitTesting.h"
#include "RenderServices.h"
#include "render/HitTesting.h"
#include "window/MainWindowData.h"

#include <QApplication>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

uint32_t gLastClickTicks = 0;

namespace {

uint32_t DoubleClickTicks() { return static_cast<uint32_t>(QApplication::doubleClickInterval() * 60 / 1000); }

bool HasAtoms(WindowRef window) {
  CrystalRec *c = GetWindowCrystal(window);
  return IsWindowFileOpen(window) && c && UsableAtomCount(*c) > 0;
}

void Replot(WindowRef window) { NewPlot(window, false, false); }

void RefreshPane(WindowRef window) {
  ClearHiliteOverlay(window);
  RepaintGraphPane(window);
}

// Deselects everything and replots when anything was selected.
void ClearSelectionFirst(WindowRef window) {
  CrystalRec *c = GetWindowCrystal(window);
  if (c && CrystalHasSelectedObjects(c)) {
    DeselectAllObjects(c);
    Replot(window);
  }
}

// ---- The arrow tool's drags --------------------------------------------------------

enum class ArrowDrag { kNone, kTranslate, kVectors, kTextBoxes, kRectangle };

struct ArrowState {
  ArrowDrag drag = ArrowDrag::kNone;
  WindowRef window = nullptr;
  Point press, last;
  bool shift = false;
  bool asked = false; // the crystal's user was asked to give up symmetry
};
ArrowState gArrow;

void EndArrowDrag() {
  if (gArrow.drag == ArrowDrag::kTranslate || gArrow.drag == ArrowDrag::kVectors)
    gTrackBallRotn = 0;
  gArrow.drag = ArrowDrag::kNone;
}

// The movement since the last step; Shift keeps it to the axis along which
// the whole drag has gone further (the vertical one on a tie).
void StepDelta(Point p, int *dh, int *dv) {
  *dh = p.h - gArrow.last.h;
  *dv = p.v - gArrow.last.v;
  gArrow.last = p;
  if (gArrow.shift) {
    if (std::abs(p.h - gArrow.press.h) > std::abs(p.v - gArrow.press.v))
      *dv = 0;
    else
      *dh = 0;
  }
}

void DoTranslateSelection(WindowRef window, Point press, bool shift) {
  CrystalRec *c = GetWindowCrystal(window);
  if (!c)
    return;
  if (!CrystalHasSelectedAtoms(c)) {
    DoMoveSelectedTextBoxes(window, press);
    gArrow = ArrowState{IsTextBoxDragActive() ? ArrowDrag::kTextBoxes : ArrowDrag::kNone, window, press, press, shift};
    return;
  }
  if (gRemoveInfoTipHook)
    gRemoveInfoTipHook(window);
  gTrackBallRotn = 1;
  gArrow = ArrowState{ArrowDrag::kTranslate, window, press, press, shift};
}

void DoMoveVectorSelection(WindowRef window, Point press, bool shift) {
  if (gRemoveInfoTipHook)
    gRemoveInfoTipHook(window);
  gTrackBallRotn = 1;
  gArrow = ArrowState{ArrowDrag::kVectors, window, press, press, shift};
}

// One step of a selection or vector drag.
void MoveStep(WindowRef window, Point p) {
  CrystalRec *c = GetWindowCrystal(window);
  if (!c || !(c->plotScale > 0)) {
    EndArrowDrag();
    return;
  }
  int dh = 0, dv = 0;
  StepDelta(p, &dh, &dv);
  if (dh == 0 && dv == 0)
    return;
  if (gArrow.drag == ArrowDrag::kVectors) {
    const float delta[3] = {dh / c->plotScale, -dv / c->plotScale, 0.0f};
    MoveSelectedVectors(c, delta);
  } else {
    // A crystal is asked once per drag; a refusal ends the drag.
    if (!c->molecule && CrystalHasSelectedAtoms(c) && !CrystalHasP1Symmetry(*c)) {
      if (gArrow.asked || !UserAgreesToDiscardSymmetry(window)) {
        EndArrowDrag();
        Replot(window);
        return;
      }
      gArrow.asked = true;
      c = GetWindowCrystal(window);
      if (!c) {
        EndArrowDrag();
        return;
      }
    }
    MoveSelectedTextBoxes(window, dh, dv);
    const float delta[3] = {dh / c->plotScale, -dv / c->plotScale, 0.0f};
    MoveSelectedAtoms(window, delta);
  }
  PlotCrystal(window, 1);
}

// ---- Rubber band ------------------------------------------------------------------

void RectangleRegion(WindowRef window, Point press, bool shift) {
  if (!shift)
    ClearSelectionFirst(window);
  SetCocoaCursor(kPolygonCursor);
  gArrow = ArrowState{ArrowDrag::kRectangle, window, press, press, shift};
}

Rect RubberRect(Point a, Point b) {
  return MakeRect(std::min(a.h, b.h), std::min(a.v, b.v), std::max(a.h, b.h), std::max(a.v, b.v));
}

void RectangleStep(WindowRef window, Point p) {
  gArrow.last = p;
  ClearHiliteOverlay(window);
  const Rect r = RubberRect(gArrow.press, p);
  const Point corners[5] = {{r.top, r.left}, {r.top, r.right}, {r.bottom, r.right}, {r.bottom, r.left}, {r.top, r.left}};
  HilitePath(window, corners, 5, true);
}

void RectangleEnd(WindowRef window, Point p) {
  const Rect r = RubberRect(gArrow.press, p);
  const bool shift = gArrow.shift;
  gArrow = ArrowState{};
  if (r.IsEmpty()) {
    RefreshPane(window);
    return;
  }
  Rect pane;
  GetWindowGraphBounds(window, &pane);
  const Rect q = OffsetRect(r, -pane.left, -pane.top);
  PaneRegion region;
  region.points = {float(q.left), float(q.top), float(q.right), float(q.top),
                   float(q.right), float(q.bottom), float(q.left), float(q.bottom)};
  PlotCrystalRegion(window, region, shift);
}

// ---- Lasso ------------------------------------------------------------------------

struct LassoState {
  bool active = false;
  WindowRef window = nullptr;
  std::vector<Point> points;
  bool shift = false;
};
LassoState gLasso;

void LassoPress(WindowRef window, Point p, unsigned modifiers) {
  const bool shift = modifiers & kShiftKey;
  if (!shift)
    ClearSelectionFirst(window);
  SetCocoaCursor(kLassoCursor);
  gLasso = LassoState{true, window, {p}, shift};
}

void LassoMove(WindowRef window, Point p) {
  if (!gLasso.active || gLasso.window != window)
    return;
  // Past the cap the path stops growing and the lasso keeps running.
  if (gLasso.points.size() < kMaxLassoPoints)
    gLasso.points.push_back(p);
  ClearHiliteOverlay(window);
  HilitePath(window, gLasso.points.data(), static_cast<int32_t>(gLasso.points.size()), true);
}

PaneRegion RegionOf(WindowRef window, const std::vector<Point> &points) {
  Rect pane;
  GetWindowGraphBounds(window, &pane);
  PaneRegion region;
  region.points.reserve(points.size() * 2);
  for (const Point &p : points) {
    region.points.push_back(float(p.h - pane.left));
    region.points.push_back(float(p.v - pane.top));
  }
  return region;
}

void LassoRelease(WindowRef window, Point) {
  if (!gLasso.active || gLasso.window != window)
    return;
  LassoState lasso = std::move(gLasso);
  gLasso = LassoState{};
  if (lasso.points.size() < 3) {
    RefreshPane(window);
    return;
  }
  PlotCrystalRegion(window, RegionOf(window, lasso.points), lasso.shift);
}

// ---- Polygon ----------------------------------------------------------------------

struct PolygonState {
  bool active = false;
  WindowRef window = nullptr;
  std::vector<Point> vertices;
  bool shift = false;
};
PolygonState gPolygon;

bool InCloseBox(Point p) {
  const Point first = gPolygon.vertices.front();
  return std::abs(p.h - first.h) <= kPolygonCloseDistance && std::abs(p.v - first.v) <= kPolygonCloseDistance;
}

void DrawPolygon(WindowRef window, Point mouse) {
  ClearHiliteOverlay(window);
  RepaintGraphPane(window);
  if (gPolygon.vertices.size() > 1)
    HilitePath(window, gPolygon.vertices.data(), static_cast<int32_t>(gPolygon.vertices.size()), true);
  HiliteLine(window, mouse, gPolygon.vertices.back(), true);
  if (InCloseBox(mouse))
    HiliteOpenSquare(window, gPolygon.vertices.front());
  else
    HiliteSquare(window, gPolygon.vertices.front());
}

void EndPolygon(WindowRef window, bool select) {
  PolygonState polygon = std::move(gPolygon);
  gPolygon = PolygonState{};
  if (!select || polygon.vertices.size() < 3) {
    RefreshPane(window);
    return;
  }
  PlotCrystalRegion(window, RegionOf(window, polygon.vertices), polygon.shift);
}

void PolygonPress(WindowRef window, Point p, unsigned modifiers) {
  if (gPolygon.active && gPolygon.window != window)
    EndPolygon(gPolygon.window, false);
  if (!gPolygon.active) {
    const bool shift = modifiers & kShiftKey;
    gPolygon = PolygonState{true, window, {p}, shift};
    RefreshPane(window);
    if (!shift)
      ClearSelectionFirst(window);
    SetCocoaCursor(kPolygonCursor);
    HiliteSquare(window, p);
    return;
  }
  if (InCloseBox(p)) {
    EndPolygon(window, true);
    return;
  }
  gPolygon.vertices.push_back(p);
  if (gPolygon.vertices.size() >= kMaxPolygonVertices) {
    EndPolygon(window, true);
    return;
  }
  DrawPolygon(window, p);
}

bool PolygonHover(WindowRef window, Point p) {
  SetCocoaCursor(kPolygonCursor);
  if (gPolygon.active && gPolygon.window == window)
    DrawPolygon(window, p);
  return true;
}

// ---- The arrow tool's press -------------------------------------------------------

void StartAnnotationDrag(WindowRef window, Point press, bool shift, int32_t index, int16_t part) {
  CrystalRec *c = GetWindowCrystal(window);
  if (part == kHitAnnotationInside || part == kHitAnnotationLine) {
    if (CrystalHasSelectedAtoms(c)) {
      DoTranslateSelection(window, press, shift);
      return;
    }
    if (CountNumSelectedTextBoxes(c) >= 2) {
      DoMoveSelectedTextBoxes(window, press);
      gArrow = ArrowState{ArrowDrag::kTextBoxes, window, press, press, shift};
      return;
    }
  }
  DoManipulateTextBox(window, index, part, press);
  gArrow = ArrowState{IsTextBoxDragActive() ? ArrowDrag::kTextBoxes : ArrowDrag::kNone, window, press, press, shift};
}

} // namespace

void DoArrow(WindowRef window, Point point, unsigned modifiers) {
  const uint32_t now = TickCount();
  const bool doubleClick = gLastClickTicks != 0 && now - gLastClickTicks < DoubleClickTicks();
  gLastClickTicks = now;
  gArrow = ArrowState{};
  if (!HasAtoms(window))
    return;
  CrystalRec *c = GetWindowCrystal(window);
  const bool shift = modifiers & kShiftKey;
  const bool option = modifiers & kOptionKey;
  int16_t kind = 0;
  int32_t index = 0, radius = 0;
  FindClickedObject(window, point, &kind, &index, &radius);

  if (kind == kHitAtom) {
    const bool selected = c->atoms[static_cast<size_t>(index)].selected;
    if (!selected) {
      // A newly selected atom is not dragged by this press.
      if (!shift)
        DeselectAllObjects(c);
      SelectAtom(c, index, true);
      Replot(window);
    } else if (option) {
      const bool inPlace = c->molecule || CrystalHasP1Symmetry(*c);
      const float dx = inPlace || !(c->plotScale > 0) ? 0.0f : kDuplicateOffsetPixels / c->plotScale;
      // The selection commands duplicate the atoms.
      if (gWindowInputHooks.duplicateSelectedAtoms)
        gWindowInputHooks.duplicateSelectedAtoms(window, dx, 0.0f, 0.0f);
      DoTranslateSelection(window, point, shift);
    } else if (shift) {
      SelectAtom(c, index, false);
      Replot(window);
    } else {
      DoTranslateSelection(window, point, shift);
    }
    return;
  }

  if (kind == kHitVector) {
    VectorRecord &v = c->vectors[static_cast<size_t>(index)];
    if (doubleClick) {
      // The selection commands own the vector editor.
      if (gWindowInputHooks.editVector)
        gWindowInputHooks.editVector(window, index);
      return;
    }
    if (!v.selected) {
      if (!shift)
        DeselectAllObjects(c);
      c->vectors[static_cast<size_t>(index)].selected = 1;
      Replot(window);
      DoMoveVectorSelection(window, point, shift);
    } else if (shift) {
      v.selected = 0;
      Replot(window);
    } else {
      DoMoveVectorSelection(window, point, shift);
    }
    return;
  }

  if (kind >= kHitAnnotationInside && kind <= kHitAnnotationBand) {
    TextBoxRecord &box = c->textBoxes[static_cast<size_t>(index)];
    const bool body = kind == kHitAnnotationInside || kind == kHitAnnotationLine;
    if (doubleClick) {
      DeselectAllObjects(c);
      SelectTextBox(c, &index, true);
      Replot(window);
      DoShowEditAnnotationWindow();
      return;
    }
    if (box.selected) {
      if (shift) {
        SelectTextBox(c, &index, false);
        Replot(window);
      } else if (option) {
        if (body) {
          DuplicateSelectedTextBoxes(window, 0, 0);
          DoTranslateSelection(window, point, shift);
        }
      } else {
        StartAnnotationDrag(window, point, shift, index, kind);
      }
      return;
    }
    if (!shift)
      DeselectAllObjects(c);
    SelectTextBox(c, &index, true);
    Replot(window);
    UpdateEditAnnotation();
    DoTranslateSelection(window, point, shift);
    return;
  }

  int32_t atomA = 0, atomB = 0;
  if (FindClickedBond(window, point, &atomA, &atomB)) {
    const bool both = c->atoms[static_cast<size_t>(atomA)].selected && c->atoms[static_cast<size_t>(atomB)].selected;
    if (both) {
      if (shift) {
        SelectAtom(c, atomA, false);
        SelectAtom(c, atomB, false);
        Replot(window);
      }
      return;
    }
    if (!shift)
      DeselectAllObjects(c);
    SelectAtom(c, atomA, true);
    SelectAtom(c, atomB, true);
    Replot(window);
    return;
  }
  RectangleRegion(window, point, shift);
}

std::vector<uint8_t> RasteriseRegion(const PaneRegion &region, int width, int height) {
  std::vector<uint8_t> mask;
  if (width <= 0 || height <= 0)
    return mask;
  mask.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
  const size_t n = region.points.size() / 2;
  if (n < 3)
    return mask;
  // Each edge drops its crossings of the pixel-centre rows into the rows'
  // lists; each row is then filled between pairs of crossings.
  std::vector<std::vector<float>> crossings(static_cast<size_t>(height));
  for (size_t i = 0; i < n; ++i) {
    const size_t j = (i + 1) % n;
    float x0 = region.points[2 * i], y0 = region.points[2 * i + 1];
    float x1 = region.points[2 * j], y1 = region.points[2 * j + 1];
    if (y0 == y1)
      continue;
    if (y0 > y1) {
      std::swap(x0, x1);
      std::swap(y0, y1);
    }
    // Rows whose centre y + 0.5 lies in [y0, y1).
    const int first = std::max(0, static_cast<int>(std::ceil(y0 - 0.5f)));
    const int last = std::min(height - 1, static_cast<int>(std::ceil(y1 - 0.5f)) - 1);
    const float slope = (x1 - x0) / (y1 - y0);
    for (int y = first; y <= last; ++y)
      crossings[static_cast<size_t>(y)].push_back(x0 + (static_cast<float>(y) + 0.5f - y0) * slope);
  }
  for (int y = 0; y < height; ++y) {
    std::vector<float> &xs = crossings[static_cast<size_t>(y)];
    std::sort(xs.begin(), xs.end());
    uint8_t *row = mask.data() + static_cast<size_t>(y) * static_cast<size_t>(width);
    for (size_t k = 0; k + 1 < xs.size(); k += 2) {
      // Pixels whose centre x + 0.5 lies in [a, b).
      const int a = std::max(0, static_cast<int>(std::ceil(xs[k] - 0.5f)));
      const int b = std::min(width - 1, static_cast<int>(std::ceil(xs[k + 1] - 0.5f)) - 1);
      if (a <= b)
        std::fill(row + a, row + b + 1, uint8_t{1});
    }
  }
  return mask;
}

std::string SelectionSubtitle(int64_t atoms, int64_t vectors, int64_t objects) {
  std::string text;
  char part[64];
  auto add = [&](int64_t count, const char *noun) {
    if (count <= 0)
      return;
    if (!text.empty())
      text += ", ";
    std::snprintf(part, sizeof part, "%lld %s%s", static_cast<long long>(count), noun, count >= 2 ? "s" : "");
    text += part;
  };
  add(atoms, "atom");
  add(vectors, "vector");
  add(objects, "annotation object");
  return text + " selected";
}

void PlotCrystalRegion(WindowRef window, const PaneRegion &region, bool toggle) {
  CrystalRec *c = GetWindowCrystal(window);
  if (!c)
    return;
  Rect pane;
  GetWindowGraphBounds(window, &pane);
  const int width = pane.Width(), height = pane.Height();
  const std::vector<uint8_t> mask = RasteriseRegion(region, width, height);
  if (mask.empty())
    return;
  auto inside = [&](int x, int y) {
    return x >= 0 && y >= 0 && x < width && y < height && mask[static_cast<size_t>(y) * width + x] != 0;
  };
  auto meets = [&](const Rect &r) {
    const Rect s = SectRect(r, MakeRect(0, 0, width, height));
    for (int y = s.top; y < s.bottom; ++y)
      for (int x = s.left; x < s.right; ++x)
        if (mask[static_cast<size_t>(y) * width + x])
          return true;
    return false;
  };
  auto mark = [toggle](uint8_t &flag) { flag = toggle ? !flag : 1; };
  int64_t counted = 0;
  const size_t sorted = UsableRecords(c->sortIndex.size(), c->sortIndexCount);
  const int32_t atoms = UsableAtomCount(*c);
  for (size_t k = 0; k < sorted; ++k) {
    const SortIndexEntry &e = c->sortIndex[k];
    if (e.kind != kSortItemAtom || static_cast<int64_t>(e.index) >= atoms)
      continue;
    AtomRecord &a = c->atoms[e.index];
    if (!IsAtomPlotted(c, static_cast<int32_t>(e.index)) || !inside(a.pixel[0], a.pixel[1]))
      continue;
    mark(a.selected);
    ++counted;
  }
  const size_t vectors = UsableRecords(c->vectors.size(), c->vectorCount);
  for (size_t k = 0; k < vectors; ++k) {
    VectorRecord &v = c->vectors[k];
    if (!inside(v.tipPixel[0], v.tipPixel[1]))
      continue;
    mark(v.selected);
    ++counted;
  }
  const size_t objects = UsableRecords(c->textBoxes.size(), c->textBoxCount);
  for (size_t k = 0; k < objects; ++k) {
    TextBoxRecord &box = c->textBoxes[k];
    const bool hasText = !box.text.empty() && box.textLength > 0;
    if (!hasText && !box.hasPointer)
      continue;
    if (hasText && !meets(box.boxRect))
      continue;
    if (box.hasPointer) {
      Rect anchor;
      GetTextBoxAnchorRect(box, &anchor);
      if (!inside(box.pixel1.h, box.pixel1.v) || !meets(anchor))
        continue;
    }
    mark(box.selected);
    ++counted;
  }
  if (counted == 0) {
    RefreshPane(window);
    DrawWindowSubtitle(window, OVLocalizedString("No_Objects_Selected"));
    return;
  }
  Replot(window);
  UpdateEditAnnotation();
  DrawWindowSubtitle(window, SelectionSubtitle(CountNumSelectedAtoms(c), CountNumSelectedVectors(c),
                                               CountNumSelectedTextBoxes(c)));
}

bool IsPolygonRegionActive(WindowRef window) { return gPolygon.active && gPolygon.window == window; }

void ClosePolygonRegion(WindowRef window) {
  if (IsPolygonRegionActive(window))
    EndPolygon(window, true);
}

void RegisterArrowTools() {
  ToolHandlers arrow;
  arrow.press = DoArrow;
  arrow.move = [](WindowRef window, Point p) {
    if (gArrow.window != window)
      return;
    switch (gArrow.drag) {
    case ArrowDrag::kTranslate:
    case ArrowDrag::kVectors:
      MoveStep(window, p);
      break;
    case ArrowDrag::kTextBoxes:
      TextBoxDragMove(window, p);
      break;
    case ArrowDrag::kRectangle:
      RectangleStep(window, p);
      break;
    default:
      break;
    }
  };
  arrow.release = [](WindowRef window, Point p) {
    if (gArrow.window != window)
      return;
    switch (gArrow.drag) {
    case ArrowDrag::kTextBoxes:
      gArrow = ArrowState{};
      TextBoxDragEnd(window);
      break;
    case ArrowDrag::kRectangle:
      RectangleEnd(window, p);
      break;
    case ArrowDrag::kTranslate:
    case ArrowDrag::kVectors:
      EndArrowDrag();
      // The drag plotted on the fast path: once more at full quality.
      PlotCrystal(window, 1);
      break;
    default:
      break;
    }
    gArrow = ArrowState{};
  };
  arrow.hover = [](WindowRef window, Point p, bool, unsigned) {
    bool onHandle = false;
    SetCocoaCursor(MouseOverTextBox(p, window, &onHandle) && onHandle ? kCrossCursor : kArrowCursor);
    return true;
  };
  RegisterTool(kToolArrow, arrow);

  ToolHandlers lasso;
  lasso.press = LassoPress;
  lasso.move = LassoMove;
  lasso.release = LassoRelease;
  lasso.hover = [](WindowRef, Point, bool, unsigned) {
    SetCocoaCursor(kLassoCursor);
    return true;
  };
  RegisterTool(kToolLasso, lasso);

  ToolHandlers polygon;
  polygon.press = PolygonPress;
  polygon.move = [](WindowRef window, Point p) { PolygonHover(window, p); };
  polygon.hover = [](WindowRef window, Point p, bool, unsigned) { return PolygonHover(window, p); };
  polygon.key = [](WindowRef window, int key, unsigned) -> int32_t {
    if (!IsPolygonRegionActive(window))
      return kEventNotHandledErr;
    // Escape cancels; other keys are ignored while the polygon is drawn.
    if (key == Qt::Key_Escape)
      EndPolygon(window, false);
    return 0;
  };
  RegisterTool(kToolPolygon, polygon);
}
