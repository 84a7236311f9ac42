#include "AnnotationEditing.h"

#include "EditAnnotation.h"
#include "MainWindow.h"
#include "StructureWindow.h"
#include "WindowInput.h"
#include "shell/Commands.h"

#include "AtomOperations.h"
#include "PlotRange.h"
#include "StructureArrays.h"
#include "graphics/GraphicsPort.h"
#include "render/AnnotationObjects.h"
#include "render/AtomLabels.h"
#include "render/AtomStyles.h"
#include "render/Background.h"
#include "RenderServices.h"
#include "render/HitTesting.h"
#include "window/MainWindowData.h"

#include <QAction>
#include <QString>
#include <algorithm>
#include <cmath>

namespace {

// Handles and pointer ends of the hover test grow the box by this much.
constexpr int kHoverBand = 3;
// Pixels of the centre of a square handle to either side.
constexpr float kSqrtHalf = 0.7071f;
constexpr float kMinWidthFactor = 1.5f;

bool SideBySide(const CrystalRec &c) { return c.stereoOn && c.stereoMode == kSideBySideStereo; }

// The drawing area of the window's objects: its off-screen bounds, the left
// half of them in side-by-side stereo.
Rect ObjectArea(WindowRef window, const CrystalRec &c) {
  Rect area;
  GetWindowOffBounds(window, &area);
  if (SideBySide(c))
    area.right = static_cast<int16_t>((area.left + area.right) / 2);
  return area;
}

// The graph pane in window coordinates, with the same stereo rule.
Rect PaneRect(WindowRef window, const CrystalRec &c) {
  Rect pane;
  GetWindowGraphBounds(window, &pane);
  if (SideBySide(c))
    pane.right = static_cast<int16_t>((pane.left + pane.right) / 2);
  return pane;
}

int32_t ObjectCount(const CrystalRec &c) {
  return static_cast<int32_t>(std::min<size_t>(c.textBoxes.size(), static_cast<size_t>(std::max(0, c.textBoxCount))));
}

void MoveFractions(TextBoxRecord &box, float dx, float dy) {
  for (float *p : {box.boxCentre, box.frac1, box.frac2}) {
    p[0] += dx;
    p[1] += dy;
  }
}

void SetPixelAndFraction(Point &pixel, float frac[2], int h, int v, int width, int height) {
  pixel = Point{static_cast<int16_t>(v), static_cast<int16_t>(h)};
  frac[0] = width > 0 ? static_cast<float>(h) / static_cast<float>(width) : 0.0f;
  frac[1] = height > 0 ? static_cast<float>(v) / static_cast<float>(height) : 0.0f;
}

uint16_t StyleOfState() { return EditAnnotationFontStyle(); }

// The centre of the graph pane and its size, in the pane's own pixels.
struct PaneCentre {
  int cx = 0, cy = 0, width = 0, height = 0;
};
PaneCentre CentreOfPane(WindowRef window) {
  Rect pane;
  GetWindowGraphBounds(window, &pane);
  PaneCentre p;
  p.width = pane.Width();
  p.height = pane.Height();
  p.cx = static_cast<int>(p.width * 0.5);
  p.cy = static_cast<int>(p.height * 0.5);
  return p;
}

// A new blank object at the end of the structure's array after deselecting
// every object; null when the array cannot grow.
TextBoxRecord *AppendAfterDeselecting(WindowRef window, CrystalRec *c) {
  DeselectAllObjects(c);
  (void)window;
  return AppendBlankTextBox(c);
}

void SetTwoPoints(TextBoxRecord &box, const PaneCentre &p) {
  SetPixelAndFraction(box.pixel1, box.frac1, p.cx - kNewLineHalfLength, p.cy, p.width, p.height);
  SetPixelAndFraction(box.pixel2, box.frac2, p.cx + kNewLineHalfLength, p.cy, p.width, p.height);
}

// ---- The drags ---------------------------------------------------------------------

struct TextDrag {
  bool active = false;
  WindowRef window = nullptr;
  int32_t index = -1; // -1: every selected object
  int16_t part = 0;
  Point start, last;
  bool moved = false;
  int minWidth = 0;
  int fontSize = 0;
};
TextDrag gTextDrag;

// Draws the dragged objects straight into the window's screen image over the
// freshly copied plot.
void DrawDraggedObjects(WindowRef window, CrystalRec &c) {
  MainWindow *w = GetMainWindow(window);
  ovgfx::GraphicsPort *port = w ? w->ScreenPort() : nullptr;
  RefreshScreen(window, nullptr);
  if (!port)
    return;
  const Rect pane = PaneRect(window, c);
  const Rect area = ObjectArea(window, c);
  {
    ovgfx::PortSaver current(port);
    const ovgfx::Region savedClip = port->Clip();
    port->SetOrigin(-pane.left, -pane.top);
    port->ClipRect(MakeRect(0, 0, pane.Width(), pane.Height()));
    const int32_t n = ObjectCount(c);
    for (int32_t i = 0; i < n; ++i) {
      TextBoxRecord &box = c.textBoxes[static_cast<size_t>(i)];
      const bool dragged = gTextDrag.index < 0 ? box.selected != 0 : i == gTextDrag.index;
      if (!dragged)
        continue;
      const uint8_t selected = box.selected;
      // Moving objects show no handles.
      const bool hideHandles = gTextDrag.moved && (gTextDrag.index < 0 || gTextDrag.part == kHitAnnotationInside ||
                                                   gTextDrag.part == kHitAnnotationLine);
      if (hideHandles)
        box.selected = 0;
      DrawAnnotationObject(&c, area, 1.0f, kAnnotationTargetWindow, i);
      if (gTextDrag.index < 0 || !hideHandles)
        box.selected = selected;
    }
    port->SetOrigin(0, 0);
    port->SetClip(savedClip);
  }
  w->ScreenChanged(pane);
}

void ManipulateStep(CrystalRec &c, TextBoxRecord &box, int dh, int dv, float dx, float dy) {
  const int width = box.boxRect.Width(), height = box.boxRect.Height();
  const int s = gTextDrag.fontSize;
  const int part = gTextDrag.part;
  auto leftEdge = [&] {
    if (gTextDrag.minWidth < width - dh) {
      box.boxRect.left = static_cast<int16_t>(box.boxRect.left + dh);
      box.boxCentre[0] += dx / 2;
    }
  };
  auto rightEdge = [&] {
    if (gTextDrag.minWidth < width + dh) {
      box.boxRect.right = static_cast<int16_t>(box.boxRect.right + dh);
      box.boxCentre[0] += dx / 2;
    }
  };
  auto topEdge = [&] {
    if (height - dv > s) {
      box.boxRect.top = static_cast<int16_t>(box.boxRect.top + dv);
      box.boxCentre[1] += dy / 2;
    }
  };
  auto bottomEdge = [&] {
    if (height + dv > s) {
      box.boxRect.bottom = static_cast<int16_t>(box.boxRect.bottom + dv);
      box.boxCentre[1] += dy / 2;
    }
  };
  (void)c;
  switch (part) {
  case kHitAnnotationInside:
  case kHitAnnotationLine:
    MoveFractions(box, dx, dy);
    break;
  case kHitAnnotationTip:
    box.frac1[0] += dx;
    box.frac1[1] += dy;
    if (box.pointerTwoEnds) {
      box.boxCentre[0] += dx / 2;
      box.boxCentre[1] += dy / 2;
    }
    break;
  case kHitAnnotationAnchor:
    if (box.pointerTwoEnds) {
      box.frac2[0] += dx;
      box.frac2[1] += dy;
      box.boxCentre[0] += dx / 2;
      box.boxCentre[1] += dy / 2;
    } else {
      box.boxCentre[0] += dx;
      box.boxCentre[1] += dy;
    }
    break;
  case 7: case 8: case 9: case 10: case 11: case 12: case 13: case 14: {
    // The edges each resize handle moves: top-left, top-centre, top-right,
    // middle-left, middle-right, bottom-left, bottom-centre, bottom-right.
    static constexpr uint8_t kLeft = 1, kRight = 2, kTop = 4, kBottom = 8;
    static constexpr uint8_t kEdges[8] = {kLeft | kTop, kTop, kRight | kTop, kLeft,
                                          kRight, kLeft | kBottom, kBottom, kRight | kBottom};
    const uint8_t edges = kEdges[part - 7];
    if (edges & kLeft)
      leftEdge();
    if (edges & kRight)
      rightEdge();
    if (edges & kTop)
      topEdge();
    if (edges & kBottom)
      bottomEdge();
    break;
  }
  case kHitAnnotationBand:
    box.boxCentre[0] += dx;
    box.boxCentre[1] += dy;
    break;
  default:
    break;
  }
}

void DragStep(WindowRef window, Point point) {
  CrystalRec *c = GetWindowCrystal(window);
  if (!c)
    return;
  const Rect pane = PaneRect(window, *c);
  const int dh = point.h - gTextDrag.last.h, dv = point.v - gTextDrag.last.v;
  gTextDrag.last = point;
  if (point.h != gTextDrag.start.h || point.v != gTextDrag.start.v)
    gTextDrag.moved = true;
  const float dx = pane.Width() > 0 ? static_cast<float>(dh) / static_cast<float>(pane.Width()) : 0.0f;
  const float dy = pane.Height() > 0 ? static_cast<float>(dv) / static_cast<float>(pane.Height()) : 0.0f;
  const int32_t n = ObjectCount(*c);
  if (gTextDrag.index < 0) {
    if (dh != 0 || dv != 0)
      for (int32_t i = 0; i < n; ++i)
        if (c->textBoxes[static_cast<size_t>(i)].selected)
          MoveFractions(c->textBoxes[static_cast<size_t>(i)], dx, dy);
  } else if (gTextDrag.index < n && (dh != 0 || dv != 0)) {
    ManipulateStep(*c, c->textBoxes[static_cast<size_t>(gTextDrag.index)], dh, dv, dx, dy);
  }
  DrawDraggedObjects(window, *c);
}

} // namespace

// ---- Adding ---------------------------------------------------------------------------

// A new selected object of the kind after the others, all deselected, in
// the shadow and colours of the Edit Annotation defaults; null when the
// window has no structure or the array cannot grow.
static TextBoxRecord *NewAnnotationObject(WindowRef window, uint8_t kind) {
  CrystalRec *c = GetWindowCrystal(window);
  TextBoxRecord *box = c ? AppendAfterDeselecting(window, c) : nullptr;
  if (!box)
    return nullptr;
  const EditAnnotationRecord &e = gEditAnnotation;
  box->kind = kind;
  box->selected = 1;
  box->visible = 1;
  box->shadow = e.editShadow;
  box->textColor = e.editTextColor;
  box->backColor = e.editBackColor;
  box->spareOne = 1;
  return box;
}

void AddAnnotationTextbox(WindowRef window) {
  TextBoxRecord *box = NewAnnotationObject(window, kAnnotationTextBox);
  if (!box)
    return;
  const EditAnnotationRecord &e = gEditAnnotation;
  box->hasPointer = 0;
  gEditAnnotation.editKind = kAnnotationTextBox;
  gEditAnnotation.editText = u"textbox";
  box->fontNumber = e.editFont;
  box->fontSize = static_cast<uint16_t>(std::max<int>(e.editSize, 1));
  box->justification = e.editJustification;
  box->frame = e.editFrame;
  box->fill = e.editFill;
  box->anchor = static_cast<uint8_t>(e.editAnchor);
  box->fontStyle = StyleOfState();
  box->spareScale = 1.0f;
  box->spare100 = 100;
  box->arrowHeads = 0;
  box->text = *gEditAnnotation.editText;
  box->textLength = static_cast<uint32_t>(box->text.size());
  const PaneCentre p = CentreOfPane(window);
  const int s = box->fontSize;
  const int left = p.cx - s / 3, top = p.cy - s;
  box->boxRect = MakeRect(left, top, left + 2 * (s / 3) + kNewTextBoxExtraWidth, top + 2 * (s / 3) + kNewTextBoxExtraHeight);
  if (p.width > 0 && p.height > 0) {
    box->boxCentre[0] = static_cast<float>((box->boxRect.left + box->boxRect.right) * 0.5 / p.width);
    box->boxCentre[1] = static_cast<float>((box->boxRect.top + box->boxRect.bottom) * 0.5 / p.height);
  }
  NewPlot(window, false, false);
}

void AddAnnotationLine(WindowRef window) {
  TextBoxRecord *box = NewAnnotationObject(window, kAnnotationLine);
  if (!box)
    return;
  box->hasPointer = 1;
  box->pointerTwoEnds = 1;
  box->arrowHeads = 1;
  SetTwoPoints(*box, CentreOfPane(window));
  NewPlot(window, false, false);
}

void AddAnnotationScalebar(WindowRef window) {
  TextBoxRecord *box = NewAnnotationObject(window, kAnnotationScaleBar);
  if (!box)
    return;
  const EditAnnotationRecord &e = gEditAnnotation;
  box->text.clear();
  box->textLength = 0;
  box->fontNumber = e.editFont;
  box->fontSize = static_cast<uint16_t>(std::max<int>(e.editSize, 1));
  box->justification = e.editJustification;
  box->frame = e.editFrame;
  box->fill = e.editFill;
  box->fontStyle = StyleOfState();
  box->spare100 = 100;
  box->hasPointer = 1;
  box->pointerTwoEnds = 1;
  box->arrowHeads = 2;
  SetTwoPoints(*box, CentreOfPane(window));
  NewPlot(window, false, false);
}

void ConvertAtomLabelsToTextboxes(WindowRef window) {
  CrystalRec *c = GetWindowCrystal(window);
  if (!c)
    return;
  Rect area;
  GetWindowOffBounds(window, &area);
  const int width = area.Width(), height = area.Height();
  const int16_t font = AnnotationFontNumber(c->labelFont.view());
  const int32_t atoms = UsableAtomCount(*c);
  // The array grows once for every label it will take.
  int64_t wanted = 0;
  for (int32_t i = 0; i < atoms; ++i)
    if (c->atoms[static_cast<size_t>(i)].visible && c->atoms[static_cast<size_t>(i)].selected)
      ++wanted;
  try {
    c->textBoxes.reserve(c->textBoxes.size() + static_cast<size_t>(wanted));
  } catch (const std::bad_alloc &) {
    return;
  }
  const uint16_t size = static_cast<uint16_t>(std::clamp<int32_t>(RoundAnnotation(c->labelSize), 1, UINT16_MAX));
  for (int32_t i = 0; i < atoms; ++i) {
    AtomRecord &atom = c->atoms[static_cast<size_t>(i)];
    if (!atom.visible || !atom.selected)
      continue;
    Str255 label;
    if (!GetAtomLabel(c, static_cast<uint32_t>(i), label))
      return;
    int x = atom.pixel[0], y = atom.pixel[1];
    float radius = 0.0f;
    if (c->atomLabelPos != 2 && GetAtomSphereRadius(c, static_cast<uint32_t>(i), radius)) {
      const int d = static_cast<int>(std::ceil(radius * kSqrtHalf * c->plotScale));
      y -= d;
      x += d;
    }
    const QString text = QString::fromUtf8(label.view().data(), static_cast<qsizetype>(label.view().size()));
    TextBoxRecord *made = AppendBlankTextBox(c);
    if (!made)
      return;
    TextBoxRecord &box = *made;
    box.kind = kAnnotationTextBox;
    box.selected = 0;
    box.hasPointer = 0;
    box.frame = 0;
    box.fill = 0;
    box.spare100 = 100;
    box.fontNumber = font;
    box.fontSize = size;
    box.justification = 1;
    box.fontStyle = StyleOfState();
    box.text.assign(reinterpret_cast<const char16_t *>(text.utf16()), static_cast<size_t>(text.size()));
    box.textLength = static_cast<uint32_t>(box.text.size());
    const int s = size;
    const int left = x - s / 3, top = y - s;
    const int bottom = top + s + 2 * (s / 3);
    const int right = left + 2 * (s / 3) +
                      std::max(kMinLabelBoxWidth, static_cast<int>(static_cast<float>(box.textLength) * c->labelSize));
    box.boxRect = MakeRect(left, top, right, bottom);
    if (width > 0 && height > 0) {
      box.boxCentre[0] = static_cast<float>((left + right) * 0.5 / width);
      box.boxCentre[1] = static_cast<float>((top + bottom) * 0.5 / height);
    }
    atom.labelled = 0;
  }
  NewPlot(window, false, false);
}

// ---- Selection, moves, duplicates, deletes ----------------------------------------------

void SelectTextBox(CrystalRec *crystal, int32_t *index, bool flag) {
  if (!crystal || !index)
    return;
  const int32_t n = ObjectCount(*crystal);
  if (*index < 0 || *index >= n)
    return;
  auto &boxes = crystal->textBoxes;
  if (!flag) {
    boxes[static_cast<size_t>(*index)].selected = 0;
    return;
  }
  // The selected object goes on top: to the end, the others keeping order.
  std::rotate(boxes.begin() + *index, boxes.begin() + *index + 1, boxes.begin() + n);
  boxes[static_cast<size_t>(n - 1)].selected = 1;
  *index = n - 1;
}

TextBoxRecord *GetFrontSelectedTextBox(WindowRef window) {
  CrystalRec *c = GetWindowCrystal(window);
  if (!c)
    return nullptr;
  for (int32_t i = ObjectCount(*c) - 1; i >= 0; --i)
    if (c->textBoxes[static_cast<size_t>(i)].selected)
      return &c->textBoxes[static_cast<size_t>(i)];
  return nullptr;
}

void MoveSelectedTextBoxes(WindowRef window, int dh, int dv) {
  CrystalRec *c = GetWindowCrystal(window);
  if (!c)
    return;
  const Rect area = ObjectArea(window, *c);
  if (area.Width() <= 0 || area.Height() <= 0)
    return;
  const float dx = static_cast<float>(dh) / static_cast<float>(area.Width());
  const float dy = static_cast<float>(dv) / static_cast<float>(area.Height());
  for (int32_t i = 0, n = ObjectCount(*c); i < n; ++i)
    if (c->textBoxes[static_cast<size_t>(i)].selected)
      MoveFractions(c->textBoxes[static_cast<size_t>(i)], dx, dy);
}

void DuplicateSelectedTextBoxes(WindowRef window, int dh, int dv) {
  CrystalRec *c = GetWindowCrystal(window);
  if (!c)
    return;
  const int32_t n = ObjectCount(*c);
  bool any = false;
  for (int32_t i = 0; i < n; ++i) {
    if (!c->textBoxes[static_cast<size_t>(i)].selected)
      continue;
    TextBoxRecord *copy = AppendBlankTextBox(c);
    if (!copy)
      break;
    *copy = c->textBoxes[static_cast<size_t>(i)];
    c->textBoxes[static_cast<size_t>(i)].selected = 0;
    any = true;
  }
  if (!any)
    return;
  MoveSelectedTextBoxes(window, dh, dv);
  NewPlot(window, false, false);
}

bool DeleteSelectedTextBoxes(WindowRef window) {
  CrystalRec *c = GetWindowCrystal(window);
  if (!c)
    return false;
  const int32_t n = ObjectCount(*c);
  auto end = c->textBoxes.begin() + n;
  auto kept = std::stable_partition(c->textBoxes.begin(), end, [](const TextBoxRecord &b) { return !b.selected; });
  if (kept == end)
    return false;
  c->textBoxes.erase(kept, end);
  c->textBoxCount = static_cast<int32_t>(c->textBoxes.size());
  NewPlot(window, false, false);
  UpdateEditAnnotation();
  return true;
}

bool MouseOverTextBox(Point point, WindowRef window, bool *onHandle) {
  if (onHandle)
    *onHandle = false;
  CrystalRec *c = GetWindowCrystal(window);
  if (!IsWindowFileOpen(window) || !c || ObjectCount(*c) == 0)
    return false;
  Rect pane;
  GetWindowGraphBounds(window, &pane);
  const int ph = point.h - pane.left, pv = point.v - pane.top;
  auto in = [&](const Rect &r) { return ph >= r.left && ph < r.right && pv >= r.top && pv < r.bottom; };
  for (int32_t i = ObjectCount(*c) - 1; i >= 0; --i) {
    const TextBoxRecord &box = c->textBoxes[static_cast<size_t>(i)];
    if (!box.selected || !box.visible)
      continue;
    if (box.kind == kAnnotationTextBox && in(InsetRect(box.boxRect, -kHoverBand, -kHoverBand))) {
      Rect handles[8];
      GetTextBoxControlRects(box, handles);
      for (const Rect &r : handles)
        if (in(r)) {
          if (onHandle)
            *onHandle = true;
          return true;
        }
      if (!in(box.boxRect))
        return true;
    }
    if (box.hasPointer) {
      Rect tip, anchor;
      GetTextBoxTipRect(box, &tip);
      GetTextBoxAnchorRect(box, &anchor);
      if (in(tip) || in(anchor)) {
        if (onHandle)
          *onHandle = true;
        return true;
      }
    }
  }
  return false;
}

// ---- Drags --------------------------------------------------------------------------

void DoMoveSelectedTextBoxes(WindowRef window, Point start) {
  CrystalRec *c = GetWindowCrystal(window);
  if (!c || !CrystalHasSelectedTextBoxes(c))
    return;
  const int32_t n = ObjectCount(*c);
  for (int32_t i = 0; i < n; ++i)
    if (c->textBoxes[static_cast<size_t>(i)].selected)
      c->textBoxes[static_cast<size_t>(i)].visible = 0;
  NewPlot(window, false, false);
  for (int32_t i = 0; i < n; ++i)
    if (c->textBoxes[static_cast<size_t>(i)].selected)
      c->textBoxes[static_cast<size_t>(i)].visible = 1;
  gTextDrag = TextDrag{true, window, -1, 0, start, start};
  DragStep(window, start);
}

void DoManipulateTextBox(WindowRef window, int32_t index, int16_t part, Point start) {
  CrystalRec *c = GetWindowCrystal(window);
  if (!c || index < 0 || index >= ObjectCount(*c))
    return;
  TextBoxRecord &box = c->textBoxes[static_cast<size_t>(index)];
  box.visible = 0;
  PlotCrystal(window, 1);
  c->textBoxes[static_cast<size_t>(index)].visible = 1;
  gTextDrag = TextDrag{true, window, index, part, start, start};
  gTextDrag.fontSize = c->textBoxes[static_cast<size_t>(index)].fontSize;
  gTextDrag.minWidth = static_cast<int>(kMinWidthFactor * static_cast<float>(gTextDrag.fontSize));
  DragStep(window, start);
}

bool IsTextBoxDragActive() { return gTextDrag.active; }

void TextBoxDragMove(WindowRef window, Point point) {
  if (gTextDrag.active && gTextDrag.window == window)
    DragStep(window, point);
}

void TextBoxDragEnd(WindowRef window) {
  if (!gTextDrag.active || gTextDrag.window != window)
    return;
  const TextDrag drag = gTextDrag;
  gTextDrag = TextDrag{};
  CrystalRec *c = GetWindowCrystal(window);
  if (!c)
    return;
  if (drag.index < 0) {
    NewPlot(window, false, false);
  } else {
    if (drag.index < ObjectCount(*c))
      c->textBoxes[static_cast<size_t>(drag.index)].selected = 1;
    PlotCrystal(window, 1);
  }
}

// ---- Commands -----------------------------------------------------------------------

void InstallAnnotationCommands() {
  static const uint32_t kCodes[] = {kCmdAddAnnotationTextbox, kCmdAddAnnotationLine, kCmdAddAnnotationScalebar,
                                    kCmdConvertLabelsToTextboxes};
  auto owns = [](uint32_t command) { return std::find(std::begin(kCodes), std::end(kCodes), command) != std::end(kCodes); };
  auto target = [] {
    WindowRef front = FrontGraphWindow();
    return front && IsWindowFileOpen(front) && GetWindowCrystal(front) ? front : nullptr;
  };
  AddCommandHandler(
      [owns, target](uint32_t command, const QVariant &) -> OSStatus {
        if (!owns(command))
          return kEventNotHandledErr;
        WindowRef w = target();
        if (!w)
          return kNoErr;
        switch (command) {
        case kCmdAddAnnotationTextbox:
          AddAnnotationTextbox(w);
          break;
        case kCmdAddAnnotationLine:
          AddAnnotationLine(w);
          break;
        case kCmdAddAnnotationScalebar:
          AddAnnotationScalebar(w);
          break;
        default:
          ConvertAtomLabelsToTextboxes(w);
          break;
        }
        UpdateEditAnnotation();
        return kNoErr;
      },
      [owns, target](uint32_t command, QAction *action) -> OSStatus {
        if (!owns(command))
          return kEventNotHandledErr;
        action->setEnabled(target() != nullptr);
        return kNoErr;
      });
}
