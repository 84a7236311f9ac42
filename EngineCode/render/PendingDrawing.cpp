#include "render/PendingDrawing.h"

void MakePoly(CrystalRec *, uint32_t, float) {}
void MakePolyWireFrame(CrystalRec *, uint32_t, float, int16_t) {}
void MakePolyBallAndStick(CrystalRec *, uint32_t, float) {}

void PlotEllipsoid(CrystalRec *, uint32_t, float) {}
float GetEllipsoidRadiusForAtom(CrystalRec *, uint32_t, const float[3]) { return 0.0f; }

void PlotLatticePlane(CrystalRec *, const Rect &) {}

void DrawAnnotationObject(CrystalRec *, const Rect &, float, int16_t, int32_t) {}
