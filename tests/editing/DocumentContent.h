// A structure's content as its document stores it, for comparing two
// states: the pixel positions every plot remakes are left out.
#pragma once

#include "documents/CrystalDocument.h"

#include <cstdint>
#include <vector>

inline std::vector<uint8_t> DocumentContent(CrystalRec c, DocumentExtras extras = {}) {
  for (AtomRecord &a : c.atoms)
    a.pixel[0] = a.pixel[1] = 0;
  for (VectorRecord &v : c.vectors)
    v.tipPixel[0] = v.tipPixel[1] = 0;
  for (LatticePlaneVertex &v : c.plane.vertices)
    v.pixel[0] = v.pixel[1] = 0;
  for (TextBoxRecord &t : c.textBoxes) {
    t.pixel1 = t.pixel2 = Point{};
    t.boxRect = Rect{};
  }
  return EncodeCrystalDocument(c, extras);
}
