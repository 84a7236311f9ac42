#include "render/PendingDrawing.h"

void DrawAnnotationObject(CrystalRec *, const Rect &, float, int16_t, int32_t) {}
