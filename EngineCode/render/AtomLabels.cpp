#include "render/AtomLabels.h"

#include "RenderServices.h"
#include "VectorMath.h"
#include "graphics/GraphicsPort.h"
#include "graphics/Painter.h"
#include "render/AtomStyles.h"
#include "render/EllipsoidDrawing.h"
#include "render/PlotPipeline.h"
#include "render/Projection.h"
#include "render/RasterPrimitives.h"
#include "window/MainWindowData.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

using namespace ovgfx;

namespace {

constexpr double kDegToRadFactor = 0.0174532925199;
constexpr double kRadToDegFactor = 57.2957795131;

bool AtomShownForLabels(const CrystalRec &c, uint32_t a) {
  return a < UsableAtomSize(c) && c.atoms[a].visible &&
         (c.atoms[a].site >= UsableSiteSize(c) || c.sites[c.atoms[a].site].visible);
}

// asin and acos in degrees of a cosine or sine that rounding may have
// pushed past 1: the argument is held to [-1, 1] first.
double ClampedUnit(double v) { return std::isnan(v) ? 1.0 : std::clamp(v, -1.0, 1.0); }

int RunLength(int start, int end) { return start <= end ? end - start + 1 : end - start + 361; }

} // namespace

// ---- Label text and fixed bearings ----------------------------------------------

bool GetAtomLabel(const CrystalRec *crystal, uint32_t atom, Str255 &text) {
  text = Str255{};
  if (!crystal || atom >= UsableAtomSize(*crystal) || UsableSiteSize(*crystal) == 0)
    return false;
  const CrystalRec &c = *crystal;
  const AtomRecord &a = c.atoms[atom];
  if (a.site >= UsableSiteSize(c))
    return false;
  const AsymmetricUnitRecord &site = c.sites[a.site];
  std::string s;
  char buffer[64];
  switch (c.atomLabelType) {
  case kLabelSite:
    s = std::string(CStrView(site.label));
    break;
  case kLabelElement:
    s.push_back(static_cast<char>((site.elements[0] >> 8) & 0xFF));
    s.push_back(static_cast<char>(site.elements[0] & 0xFF));
    break;
  case kLabelAtomNumber:
    std::snprintf(buffer, sizeof buffer, "%ld", static_cast<long>(atom) + 1);
    s = buffer;
    break;
  case kLabelHeight:
    std::snprintf(buffer, sizeof buffer, "%.3f", static_cast<double>(a.cart[2]));
    s = buffer;
    break;
  case kLabelFractional:
    for (float x : a.xyz)
      s += MyConciseSprintf(static_cast<double>(x), 2) + " ";
    break;
  default:
    s = "?";
    break;
  }
  text = MakeStr255(s);
  return true;
}

bool GetAtomLabelPosition(int32_t position, float &bearing) {
  static constexpr float kBearings[10] = {0.0f, 0.0f, 0.0f, 180.0f, 45.0f, 90.0f, 135.0f, 315.0f, 270.0f, 225.0f};
  bearing = 0.0f;
  if (position < 1 || position > 9)
    return false;
  bearing = kBearings[position];
  return true;
}

int16_t GetAtomLastLabelBearing(const AtomRecord &atom) {
  int16_t bearing;
  std::memcpy(&bearing, atom.flags, sizeof bearing);
  return bearing;
}

void SetAtomLastLabelBearing(AtomRecord &atom, int16_t bearing) { std::memcpy(atom.flags, &bearing, sizeof bearing); }

// ---- Sector helpers -----------------------------------------------------------------

void BringBearingIntoRange(int &bearing) {
  bearing %= kBearingSlots;
  if (bearing < 0)
    bearing += kBearingSlots;
}

bool GetMaxFreeSector(const BearingSlots &slots, int &start, int &end) {
  int first = -1;
  for (int i = 0; i < kBearingSlots; i++)
    if (slots[i] != slots[kBearingSlots - 1]) {
      first = i;
      break;
    }
  if (first < 0)
    return false;
  int best = 0;
  int runStart = first;
  for (int k = 1; k <= kBearingSlots; k++) {
    const int here = (first + k) % kBearingSlots;
    if (k < kBearingSlots && slots[here] == slots[runStart])
      continue;
    const int runEnd = (first + k - 1) % kBearingSlots;
    if (slots[runStart] == kSlotFree && RunLength(runStart, runEnd) > best) {
      best = RunLength(runStart, runEnd);
      start = runStart;
      end = runEnd;
    }
    runStart = here;
  }
  return true;
}

bool GetSectorForBearing(const BearingSlots &slots, int bearing, int &start, int &end) {
  BringBearingIntoRange(bearing);
  const uint8_t value = slots[bearing];
  if (std::all_of(slots.begin(), slots.end(), [&](uint8_t s) { return s == value; }))
    return false;
  int down = (bearing + kBearingSlots - 1) % kBearingSlots;
  while (slots[down] == value)
    down = (down + kBearingSlots - 1) % kBearingSlots;
  start = (down + 1) % kBearingSlots;
  int up = (bearing + 1) % kBearingSlots;
  while (slots[up] == value)
    up = (up + 1) % kBearingSlots;
  end = (up + kBearingSlots - 1) % kBearingSlots;
  return true;
}

bool BearingLiesInSector(int bearing, int start, int end) {
  BringBearingIntoRange(bearing);
  BringBearingIntoRange(start);
  BringBearingIntoRange(end);
  if (start > end)
    end += kBearingSlots;
  if (bearing < start && bearing < end)
    bearing += kBearingSlots;
  return start <= bearing && bearing <= end;
}

// ---- Automatic placement ----------------------------------------------------------

void OptimizeAtomLabelPosition(CrystalRec *crystal, uint32_t atom, float &bearing) {
  bearing = 0.0f;
  if (!crystal || atom >= UsableAtomSize(*crystal))
    return;
  CrystalRec &c = *crystal;
  AtomRecord &a = c.atoms[atom];
  GetAtomLabelPosition(c.atomLabelPos, bearing);
  const size_t bonds = std::min<size_t>(a.bonds.size(), a.bondCount);
  if (bonds == 0)
    return;
  if (c.stereoOn && c.stereoImageInProgress == kStereoSecondImage) {
    bearing = static_cast<float>(GetAtomLastLabelBearing(a));
    return;
  }
  float R = 0.0f;
  if (!GetAtomSphereRadius(&c, atom, R) || PixelInt(R * c.plotScale) < kMinPlacedAtomPixels)
    return;

  // Half the angle a bond cylinder subtends where it leaves the sphere.
  const double bondHalf = std::asin(ClampedUnit(double(c.bondRadius * c.minAtomRadius / R))) * kRadToDegFactor;
  const int baseHalfWidth = std::clamp(static_cast<int>(std::ceil(bondHalf)), 0, kBearingSlots / 2);

  BearingSlots slots;
  slots.fill(kSlotFree);
  for (size_t n = 0; n < bonds; n++) {
    const uint32_t j = a.bonds[n];
    if (!AtomShownForLabels(c, j))
      continue;
    const AtomRecord &b = c.atoms[j];
    if (b.pixel[0] == a.pixel[0] && b.pixel[1] == a.pixel[1])
      continue;
    const double dx = double(b.cart[0]) - double(a.cart[0]);
    const double dy = -(double(b.cart[1]) - double(a.cart[1]));
    double angle = std::atan2(dy, dx) * kRadToDegFactor;
    if (angle < 0.0)
      angle += 360.0;
    const double beta = angle + 90.0;
    int halfWidth = baseHalfWidth;
    if (c.modelType == kSpaceFillingModel) {
      float Rj = 0.0f;
      GetAtomSphereRadius(&c, j, Rj);
      float d[3];
      VecDiff(b.cart, a.cart, d);
      const double distance = Magnitude(d);
      if (double(R) + double(Rj) <= distance) {
        halfWidth = kApartSpheresHalfWidth;
      } else {
        const double cosine = (double(R) * R + distance * distance - double(Rj) * Rj) / (2.0 * R * distance);
        halfWidth = std::clamp(static_cast<int>(std::floor(std::acos(ClampedUnit(cosine)) * kRadToDegFactor)), 0,
                               kBearingSlots / 2);
      }
    }
    int first = PixelInt(static_cast<float>(std::floor(beta - halfWidth)));
    BringBearingIntoRange(first);
    for (int k = 0; k < 2 * halfWidth; k++)
      slots[(first + k) % kBearingSlots] = kSlotOccupied;
  }

  int start = 0, end = 0;
  if (!GetMaxFreeSector(slots, start, end))
    return;
  // Stay in the previous gap unless the widest one is clearly wider.
  int previous = GetAtomLastLabelBearing(a);
  BringBearingIntoRange(previous);
  int ownStart = 0, ownEnd = 0;
  if (!BearingLiesInSector(previous, start, end) && slots[previous] == kSlotFree &&
      GetSectorForBearing(slots, previous, ownStart, ownEnd)) {
    const int own = RunLength(ownStart, ownEnd);
    if (RunLength(start, end) - own < kBearingHysteresis && own >= kMinKeptSector) {
      start = ownStart;
      end = ownEnd;
    }
  }
  bearing = static_cast<float>(start + end + (start > end ? kBearingSlots : 0)) / 2.0f;
  if (bearing >= static_cast<float>(kBearingSlots))
    bearing -= static_cast<float>(kBearingSlots);
  SetAtomLastLabelBearing(a, static_cast<int16_t>(bearing));
}

// ---- Drawing ------------------------------------------------------------------------

float GetObjectLabelSizeForPlotting(const CrystalRec *crystal, float z) {
  if (!crystal)
    return kMinPlottedLabelSize;
  float size = crystal->labelSize;
  if (crystal->perspective)
    size = size * PerspectiveFactor(*crystal, z);
  // No label is taller than the picture.
  const float tallest = gVPixels > 0 ? float(gVPixels) : float(kPixelCoordLimit);
  return std::clamp(ClampedPixels(size), kMinPlottedLabelSize, std::max(tallest, kMinPlottedLabelSize));
}

void DrawObjectLabelAtPoint(const CrystalRec *crystal, std::string_view text, int32_t x, int32_t y, RGBColor colour,
                            float size, float opacity) {
  GraphicsPort *port = CurrentPort();
  if (!crystal || !port || text.empty())
    return;
  if (opacity < 1.0f) {
    Painter painter(*port, false);
    if (!painter.IsValid())
      return;
    painter.SetShouldAntialias(true);
    painter.SelectFont(crystal->labelFont.view(), size);
    painter.SetFillColor(colour.red / 65535.0f, colour.green / 65535.0f, colour.blue / 65535.0f,
                         std::max(opacity, 0.0f));
    painter.SetTextDrawingMode(PainterTextMode::kFill);
    painter.ShowTextAtPoint(static_cast<float>(x), static_cast<float>(y), text);
    return;
  }
  const RGBColor savedFore = port->ForeColor(), savedBack = port->BackColor();
  port->MoveTo(x, y);
  port->SetForeColor(colour);
  port->SetBackColor(crystal->backgroundColor);
  port->DrawString(text);
  port->SetForeColor(savedFore);
  port->SetBackColor(savedBack);
}

void LabelAtom(CrystalRec *crystal, uint32_t atom, float t, RGBColor colour) {
  GraphicsPort *port = CurrentPort();
  if (!crystal || !port || atom >= UsableAtomSize(*crystal))
    return;
  CrystalRec &c = *crystal;
  RGBColor shaded;
  float opacity = 1.0f;
  DepthShading(&c, t, colour, shaded, opacity);
  Str255 label;
  if (opacity < kMinLabelOpacity || !GetAtomLabel(&c, atom, label))
    return;
  const std::string_view text = label.view();
  const AtomRecord &a = c.atoms[atom];
  const float s = GetObjectLabelSizeForPlotting(&c, a.cart[2]);
  const float q = kLabelHalfHeight * s;
  port->SetTextSize(static_cast<int16_t>(RoundHalfAway(s)));
  const float width = static_cast<float>(port->TextWidth(text));

  float bearing = 0.0f;
  if (c.labelFlag) {
    OptimizeAtomLabelPosition(&c, atom, bearing);
  } else if (c.atomLabelPos == kLabelCentred) {
    const int32_t x = PixelInt(static_cast<float>(a.pixel[0]) - width / 2.0f);
    const int32_t y = PixelInt(static_cast<float>(a.pixel[1]) + q);
    DrawObjectLabelAtPoint(&c, text, x, y, shaded, s, opacity);
    return;
  } else {
    GetAtomLabelPosition(c.atomLabelPos, bearing);
  }

  // The thermal-ellipsoid model measures the drawn outline along the
  // bearing; an atom without an outline there, and every other model, the
  // drawn sphere.
  const double theta = static_cast<double>(bearing) * kDegToRadFactor;
  const float sine = static_cast<float>(std::sin(theta)), cosine = static_cast<float>(std::cos(theta));
  float radius = 0.0f;
  if (c.modelType == kThermalEllipsoidModel) {
    const float along[3] = {sine, cosine, 0.0f};
    radius = GetBoundaryEllipseRadiusForAtom(&c, atom, along);
  }
  if (!(radius > 0.0f) && !GetAtomSphereRadius(&c, atom, radius))
    return;
  const float factor = c.perspective ? PerspectiveFactor(c, a.cart[2]) : 1.0f;
  // A radius beyond any picture is held to the pixel limit.
  const float rho = static_cast<float>(RoundHalfAway(ClampedPixels(radius * c.plotScale * factor)));
  const float d = kLabelClearance * rho;

  // The anchor lies on an ellipse about the atom, half a text height taller
  // than wide, so labels above and below clear it too. Straight up or down
  // from an atom drawn without a radius the ellipse is a point: the anchor
  // then stands half a text height away.
  const float k = (d * d) / ((d + q) * (d + q));
  const float denominator = sine * sine * (1.0f - k) + k;
  const float dist = denominator > 0.0f ? std::sqrt(d * d / denominator) : d + q;
  int32_t x = PixelInt(static_cast<float>(a.pixel[0]) + sine * dist);
  int32_t y = PixelInt(static_cast<float>(PixelInt(static_cast<float>(a.pixel[1]) - cosine * dist)) + q);

  if (bearing >= 360.0f - kCentredBearingSpan || bearing <= kCentredBearingSpan ||
      (bearing >= 180.0f - kCentredBearingSpan && bearing <= 180.0f + kCentredBearingSpan))
    x = PixelInt(static_cast<float>(x) - width / 2.0f);
  else if (bearing > 180.0f + kCentredBearingSpan && bearing < 360.0f - kCentredBearingSpan)
    x = PixelInt(static_cast<float>(x) - width);
  DrawObjectLabelAtPoint(&c, text, x, y, shaded, s, opacity);
}

// ---- Cell-corner labels ----------------------------------------------------------

bool GetCellLabel(const CrystalRec *crystal, uint32_t point, Str255 &text) {
  text = Str255{};
  if (!crystal || point >= UsableRecords(crystal->cellPoints.size(), crystal->cellPointCount))
    return false;
  const CrystalRec &c = *crystal;
  if (point == 0) {
    text = MakeStr255("O");
    return true;
  }
  float inverse[9];
  if (!Inv3x3Mat(c.orientationMatrix, inverse))
    return false;
  float here[3], origin[3], diff[3];
  MatMul(inverse, c.cellPoints[point].cart, here);
  MatMul(inverse, c.cellPoints[0].cart, origin);
  VecDiff(here, origin, diff);
  const float dx = diff[0], dy = diff[1], dz = diff[2];
  const char *label = "O";
  if (dx > dy)
    label = dx > dz ? "A" : "C";
  else if (dy > dz)
    label = "B";
  else if (dz > dx)
    label = "C";
  text = MakeStr255(label);
  return true;
}

void LabelCellPoint(CrystalRec *crystal, uint32_t point, RGBColor colour, float opacity) {
  GraphicsPort *port = CurrentPort();
  Str255 label;
  if (!port || opacity < kMinLabelOpacity || !GetCellLabel(crystal, point, label))
    return;
  CrystalRec &c = *crystal;
  const CellPoint &p = c.cellPoints[point];
  const int32_t s = static_cast<int32_t>(GetObjectLabelSizeForPlotting(&c, p.cart[2]));
  port->SetTextSize(static_cast<int16_t>(s));
  const int32_t width = port->TextWidth(label.view());
  int32_t x = p.pixel[0], y = p.pixel[1];
  switch (c.atomLabelPos) {
  case 1:
    x -= width / 2;
    y -= 2;
    break;
  case 3:
    x -= width / 2;
    y += s;
    break;
  case 4:
    break;
  case 5:
    y += s / 2;
    x += 3;
    break;
  case 6:
    y += s;
    break;
  default:
    x -= width / 2;
    y += s / 2;
    break;
  }
  DrawObjectLabelAtPoint(&c, label.view(), x, y, colour, static_cast<float>(s), opacity);
}

// ---- All labels of a window --------------------------------------------------------

void ShowAllLabels(WindowRef window, bool on) {
  CrystalRec *crystal = GetMainWindowData(window) ? GetWindowCrystal(window) : nullptr;
  if (!crystal || UsableAtomCount(*crystal) == 0)
    return;
  for (size_t i = 0; i < UsableAtomSize(*crystal); i++)
    crystal->atoms[i].labelled = on ? 1 : 0;
  NewPlot(window, false, false);
  UpdateSiteBrowser(window);
}

void ToggleShowAllLabels(WindowRef window) {
  CrystalRec *crystal = GetMainWindowData(window) ? GetWindowCrystal(window) : nullptr;
  if (!crystal || UsableAtomCount(*crystal) == 0)
    return;
  ShowAllLabels(window, crystal->atoms[0].labelled == 0);
}
