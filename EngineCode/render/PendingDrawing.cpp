#include "render/PendingDrawing.h"

void DrawVectorBelowAtom(CrystalRec *, uint32_t) {}
void DrawVectorAboveAtom(CrystalRec *, uint32_t) {}

void LabelAtom(CrystalRec *, uint32_t, float, RGBColor) {}
void LabelCellPoint(CrystalRec *, uint32_t, RGBColor, float) {}

void DrawAxes(CrystalRec *, const Rect &, float) {}

Rect GetAxesRect(const Rect &rect, float ratio) {
  const int16_t side = static_cast<int16_t>(100.0f * ratio);
  return Rect{static_cast<int16_t>(rect.bottom - side), rect.left, rect.bottom,
              static_cast<int16_t>(rect.left + side)};
}

void MakePoly(CrystalRec *, uint32_t, float) {}
void MakePolyWireFrame(CrystalRec *, uint32_t, float, int16_t) {}
void MakePolyBallAndStick(CrystalRec *, uint32_t, float) {}

void PlotEllipsoid(CrystalRec *, uint32_t, float) {}
float GetEllipsoidRadiusForAtom(CrystalRec *, uint32_t, const float[3]) { return 0.0f; }

void PlotLatticePlane(CrystalRec *, const Rect &) {}

void DrawAnnotationObject(CrystalRec *, const Rect &, float, int16_t, int32_t) {}
