// One atom at the origin in the thermal-ellipsoid model, drawn alone into a
// square picture: the scene of the ellipsoid drawing tests.
#pragma once

#include "SceneSupport.h"

#include "VectorMath.h"
#include "render/EllipsoidDrawing.h"
#include "render/RenderGlobals.h"

#include <algorithm>
#include <cmath>
#include <memory>

namespace scene {

// Pixels per Angstrom of the ellipsoid scenes.
inline constexpr float kEllipsoidScale = 100.0f;

// Semi-axes of lengths l0, l1, l2 turned by the angles (degrees) about x,
// then y, then z.
inline void TurnedAxes(float l0, float l1, float l2, float ax, float ay, float az, float out[3][3]) {
  float R[9];
  GetRotationMatrixFromAngles(ax, ay, az, R);
  const float lengths[3] = {l0, l1, l2};
  for (int i = 0; i < 3; ++i)
    for (int k = 0; k < 3; ++k)
      out[i][k] = R[3 * k + i] * lengths[i];
}

// Fractional and view coordinates are the same; the three semi-axes are
// given in view coordinates; the picture is size x size pixels.
struct EllipsoidScene {
  CrystalRec c;
  float axes[3][3];
  int size;

  EllipsoidScene(const float a[3][3], RGBColor colour, uint32_t style, int pictureSize) : size(pictureSize) {
    Build(c, {{0.5f, colour, 0}}, {{0.0f, 0.0f, 0.0f, 0}});
    c.modelType = kThermalEllipsoidModel;
    c.ellipsoidData = 1;
    c.plotScale = kEllipsoidScale;
    const float identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    std::copy(identity, identity + 9, c.orientationMatrix);
    c.sites[0].ellipsoidStyle = style;
    c.sites[0].displacementType = kDisplacementAnisoU;
    for (int i = 0; i < 3; ++i)
      for (int k = 0; k < 3; ++k) {
        axes[i][k] = a[i][k];
        c.atoms[0].ellipsoidAxes[i][k] = a[i][k];
      }
  }

  std::unique_ptr<ovgfx::GraphicsPort> Draw() {
    auto port = ovgfx::GraphicsPort::NewOffscreen(MakeRect(0, 0, size, size), 32);
    port->Pixels()->Fill(0xFF000000u);
    gHPixels = gVPixels = int16_t(size);
    GetPixelCoords(&c, size, size);
    ovgfx::PortSaver current(port.get());
    PlotEllipsoid(&c, 0, 0.0f);
    return port;
  }

  // The upper-left 2 x 2 block of the covariance S = sum a_i a_i^T.
  void OutlineBlock(double s[2][2]) const {
    s[0][0] = s[0][1] = s[1][0] = s[1][1] = 0.0;
    for (const auto &a : axes)
      for (int i = 0; i < 2; ++i)
        for (int j = 0; j < 2; ++j)
          s[i][j] += double(a[i]) * a[j];
  }

  // The outline radius along the screen direction (ux, uy) from the
  // ellipsoid's own numbers: the silhouette seen along z of the ellipsoid
  // with covariance S = sum a_i a_i^T is the ellipse of the upper-left 2 x 2
  // block of S, r(u) = 1 / sqrt(u^T S2^-1 u).
  double OutlineRadius(double ux, double uy) const {
    double s[2][2];
    OutlineBlock(s);
    const double det = s[0][0] * s[1][1] - s[0][1] * s[1][0];
    const double q = (s[1][1] * ux * ux - 2 * s[0][1] * ux * uy + s[0][0] * uy * uy) / det;
    return 1.0 / std::sqrt(q);
  }
};

} // namespace scene
