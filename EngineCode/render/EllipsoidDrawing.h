// Drawing thermal ellipsoids (the thermal-ellipsoid model).
//
// A site's ellipsoid style picks a recipe: which parts to draw (outline,
// flat or lit body, principal ellipses with or without their hidden halves,
// octants as stripes or lit quarter-discs, axes with rear halves and
// labels) in which colours and opacities. The body, lines and octants are
// painted pixel by pixel into the current port's pixels (EllipsoidStrokes),
// the labels from kept stamps of the painter's outlined letters
// (TextStamps), the selection with a painter; all anti-aliased except in
// a fast rotation frame, in the port's own
// coordinates (y down), at the real-valued projection of the plot
// (gHPixels x gVPixels).
//
// Points named "tip" or "centre" are view-Cartesian (Angstrom): the centre
// is the atom, each tip the end of one semi-axis.
//
// The radius helpers answer where a bond meets an ellipsoid and where an
// atom's outline lies for its label.
//
// Sound behaviour where a literal reading would fail:
// - the outline is the exact projection of the ellipsoid (the quadric seen
//   along z, a 2 x 2 eigenproblem) rather than a fit through searched
//   radii; an outline that looks circular although the semi-axes differ (an
//   ellipsoid of revolution seen along its axis) takes angle 0, and an
//   ellipsoid with a semi-axis of no length has no outline;
// - a stored critical value that is not positive is taken afresh from the
//   structure's probability;
// - the selection is red on every colour at least 49152 red and green,
//   whatever its blue (so a selected yellow ellipsoid is not marked in
//   yellow), and yellow otherwise.
//
// Main thread only.
#pragma once

#include "StructureRecord.h"
#include "graphics/GraphicsPort.h"
#include "graphics/Painter.h"

#include <array>
#include <cstdint>
#include <vector>

// The parts of an ellipsoid recipe, in the order the styles name them.
struct EllipsoidParts {
  uint8_t axes = 0;         // lines from the centre to the three front tips
  uint8_t rearAxes = 0;     // dashed lines to the rear tips (only with axes)
  uint8_t axisLabels = 0;   // "A", "B", "C" at the front tips
  uint8_t principal = 0;    // the three principal ellipses
  uint8_t hiddenHalves = 0; // their back halves, dashed
  uint8_t outline = 0;      // the screen outline stroked
  uint8_t octants = 0;      // the front octant
  uint8_t stripes = 0;      // octants as stripes instead of lit quarter-discs
  uint8_t shaded = 0;       // a lit mesh instead of a flat ellipse
};

using EllipsoidPoint = std::array<float, 3>;

// ---- Constants ---------------------------------------------------------------------
// Contrast colours mix with white below this channel sum, else with black.
inline constexpr uint32_t kEllipsoidDarkSum = 98384;
// Outline fit: semi-axes of equal length within this make a circle; an
// outline with |B^2 - A^2| below this takes angle 0.
inline constexpr float kEqualAxesTolerance = 1e-5f;
inline constexpr float kCircularOutlineTolerance = 1e-9f;
// Principal ellipses: edge-on below this |normal z|, face-on below this
// |normal x| and |normal y|.
inline constexpr float kEdgeOnTolerance = 0.001f;
// Lighting: no highlight below this reflection.
inline constexpr float kMinSurfaceReflection = 0.0001f;
// Stripes per octant.
inline constexpr int kOctantStripes = 5;
// Selection: stroke width and fill opacity.
inline constexpr float kEllipsoidSelectionWidth = 3.0f;
inline constexpr float kEllipsoidSelectionFill = 0.1f;
// The dash of rear axes and hidden halves: 2 on, 2 off.
extern const float gDashLengths[2];

// ---- One atom ---------------------------------------------------------------------

// While one exists, the ellipsoids drawn into the port that was current when
// it was made share one painter instead of opening one each: a model walk
// over thousands of atoms makes one. Scopes do not nest.
class EllipsoidPainterScope {
public:
  EllipsoidPainterScope();
  ~EllipsoidPainterScope();
  EllipsoidPainterScope(const EllipsoidPainterScope &) = delete;
  EllipsoidPainterScope &operator=(const EllipsoidPainterScope &) = delete;
};

// Draws one atom's ellipsoid at normalised depth t (0 back, 1 front); nothing
// for style 0.
void PlotEllipsoid(CrystalRec *crystal, uint32_t atom, float depth);
// The recipe of the atom's style: 1 when the atom is drawn as an ellipsoid;
// 0 outside the ellipsoid model, without ellipsoid data or arrays, or for
// style 0.
int GetEllipsoidSpecs(const CrystalRec *crystal, uint32_t atom, float depth, EllipsoidParts &parts, RGBColor &fill,
                      RGBColor &line, RGBColor &surface, float &fillFactor, float &secondFactor, float &opacity);
// Draws the parts; colours are float RGB 0 to 1.
void PlotEllipsoidAttributes(CrystalRec *crystal, uint32_t atom, const EllipsoidParts &parts, const float fill[3],
                             const float surface[3], const float line[3], float lineOpacity, float fillOpacity);

// ---- Outline -------------------------------------------------------------------------

// The screen outline of the ellipsoid as the end points of its two
// semi-axes.
void GetBoundaryEllipse(const CrystalRec *crystal, const float tip0[3], const float tip1[3], const float tip2[3],
                        const float centre[3], float b1[3], float b2[3]);
// The centred ellipse through three points (only x and y read): semi-axes A
// and B and the angle of A from +x (radians). False for a singular system.
bool GetEllipseFromPoints(const float p1[3], const float p2[3], const float p3[3], const float centre[3], float &A,
                          float &B, float &angle);
// The ellipse with semi-axis end points b1 and b2 as a polygon of about two
// vertices a pixel of its larger semi-axis, filled and/or stroked.
void MyDrawEllipse(ovgfx::Painter &painter, const CrystalRec *crystal, const float b1[3], const float b2[3],
                   const float centre[3], bool fill, bool stroke);

// ---- Principal ellipses and octants --------------------------------------------------

// Points on the ellipse spanned by two semi-axes, four a pixel of the
// longer one: point 0 is tipA, count/4 tipB; empty when it is under a pixel.
std::vector<EllipsoidPoint> GetPrincipalEllipse(const CrystalRec *crystal, const float tipA[3], const float tipB[3],
                                                const float centre[3]);
// The same into `points`, whose storage a caller keeps from one ellipsoid to
// the next.
void GetPrincipalEllipse(const CrystalRec *crystal, const float tipA[3], const float tipB[3], const float centre[3],
                         std::vector<EllipsoidPoint> &points);
// The index of the principal-ellipse point (of the first half) that lies on
// the outline ellipse; 0 for fewer than two points.
size_t GetPrincipalEllipseBound(const std::vector<EllipsoidPoint> &points, const float b1[3], const float b2[3],
                                const float centre[3]);

// ---- Shaded body -----------------------------------------------------------------------

// The flat body: the screen outline filled pixel by pixel into the port's
// pixels in `colour` at `opacity`, the rim anti-aliased over one pixel
// except in a fast rotation frame.
void FillEllipsoidOutline(ovgfx::GraphicsPort &port, const CrystalRec *crystal, const float tip0[3],
                          const float tip1[3], const float tip2[3], const float centre[3], const float colour[3],
                          float opacity);
// The lit body, painted the same way: each pixel inside the outline takes
// the lighting of the front surface point over its centre.
void PhongRenderEllipsoid(ovgfx::GraphicsPort &port, const CrystalRec *crystal, const float tip0[3],
                          const float tip1[3], const float tip2[3], const float centre[3], const float colour[3],
                          float opacity);
// Ambient + diffuse + specular per channel, each at most 1.
void RenderSurfaceColor(float ambientIntensity, float pointIntensity, float kA, float kD, float kS, float N,
                        const float light[3], const float normal[3], const float colour[3], float out[3]);
// Solid lines of width gPlotRes / 72 when scaled, else 1.
void UseDefaultEllipsoidLines(ovgfx::Painter &painter, bool scaled);

// ---- Radii -------------------------------------------------------------------------------

// Radius along d of the ellipsoid with perpendicular semi-axes a0, a1, a2.
float GetEllipsoidRadius(const float a0[3], const float a1[3], const float a2[3], const float d[3]);
// Distance along the screen direction d (its z left out) from the centre to
// the outline; 0 for a zero d or a semi-axis of no length.
float GetBoundaryEllipseRadius(const float a0[3], const float a1[3], const float a2[3], const float d[3]);
// The same for an atom, d view-Cartesian; 0 without ellipsoid data or arrays.
float GetEllipsoidRadiusForAtom(const CrystalRec *crystal, uint32_t atom, const float d[3]);
float GetBoundaryEllipseRadiusForAtom(const CrystalRec *crystal, uint32_t atom, const float d[3]);

// GetEllipsoidRadiusForAtom for the bonds of one plot: each atom's semi-axes
// are worked out the first time one of its bonds asks, rather than once for
// every bond. The structure must not change while it is in use; main thread
// only (the store is kept from one plot to the next).
class EllipsoidRadii {
public:
  explicit EllipsoidRadii(const CrystalRec &crystal);
  float Along(uint32_t atom, const float d[3]);

private:
  const CrystalRec &c_;
};
