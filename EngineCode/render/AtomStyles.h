// Atom images and atom styles.
//
// Every atom type is drawn in one of the styles 0 to 20. For pixel plots
// each type is rendered once per plot scale into a small image with an oval
// mask (its atom image), and every atom of the type is then a single masked
// copy of that image, blended for depth fading and translucency. For vector
// output, and under perspective, the styles are drawn directly with shapes.
// The same module makes the cloud images of the surface overlay, answers the
// ball-joint style of the stick and polyhedral models, draws the selection
// mark and answers an atom's drawn radius.
//
// Everything draws into the current port (see graphics/GraphicsPort.h).
// Lighting is ambient + diffuse + specular with the light from the upper
// left and in front by default.
//
// Main thread only: the drawers use the current port and the raster
// target as shared state.
#pragma once

#include "StructureRecord.h"
#include "graphics/GraphicsPort.h"
#include "graphics/PixelBuffer.h"
#include "graphics/Region.h"

#include <cstdint>
#include <optional>

// The style codes.
enum AtomStyle : uint32_t {
  AtomStyleBlank = 0,
  AtomStylePlainWhite = 1,
  AtomStylePlainBlack = 2,
  AtomStyleHollow = 3,
  AtomStyleHollowEquatorial = 4,
  AtomStyleFilledEquatorial = 5,
  AtomStyleFilled = 6,
  AtomStyleFilledInset = 7,
  AtomStyleTwoTone = 10,
  AtomStyleRandomFill = 12,
  AtomStylePhotoTranslucent = 13,
  AtomStylePhotoRendered = 14,
  AtomStylePhotoTwoTone = 15,
  AtomStyleHollowDashed = 16,
  AtomStyleHollowStriped = 17,
  AtomStyleHollowHatched = 18,
  AtomStylePhotoBeachBall = 19,
  AtomStyleBeachBall = 20,
};

// Reflectance groups of a structure.
enum ReflectanceGroup : int { kAtomReflectance = 0, kBondReflectance = 1, kPolyReflectance = 2, kCloudReflectance = 3 };

// Lighting constants.
inline constexpr float kMinLitCosine = 0.0001f;        // facing away from the light below this
inline constexpr float kMinSpecularBase = 1e-6f;       // no highlight below this
inline constexpr float kSpecularExponentLimit = 37.0f; // highlight cut below 10^(-37/N)
inline constexpr float kFlatShadingLimit = 0.01f;      // kD and kS below this: a flat disc
inline constexpr uint16_t kMinPhongN = 1, kMaxPhongN = 1000;
// Band shading: none below this radius; half as many bands above the next.
inline constexpr int kMinBandedRadius = 11;
inline constexpr int kHalvedBandsAbove = 19;
// Selection marks are red on colours at least this red and green and at most
// this blue, else yellow; pens grow with the resolution from 144 dpi.
inline constexpr uint16_t kYellowishMin = 49152;
inline constexpr uint16_t kYellowishMaxBlue = 32766;
inline constexpr int kSelectionPenGrowsAtRes = 144;
// Random fill: stipple density limits and the resolution per cell pixel.
inline constexpr float kMinStippleDensity = 0.2f, kMaxStippleDensity = 0.8f;
inline constexpr int kStippleResPerCell = 150;

inline constexpr RGBColor kRGBYellow{65535, 65535, 0};

// The pixel radius of an atom image: ceil(radius * scale), at least 1, and
// no more than half the larger side of the picture being drawn, so that no
// atom image is larger than the picture itself.
int32_t AtomPixelRadius(float radius, float scale);

// ---- Lighting ----------------------------------------------------------------------

// The lit colour of the sphere point at offset (x, y) pixels from the centre
// (x right, y down) of a sphere of radius r pixels.
void RenderSphereColor(RGBColor &out, RGBColor colour, float r, float x, float y, float kD, float kA, float kS, float N,
                       float Ia, float Il, const float L[3]);
// A shaded disc of radius r pixels about (x, y) in the current port, pixel
// by pixel. With kD and kS both below 0.01, a flat disc of K * Ia * kA.
void PhongSphere(RGBColor colour, int32_t r, int32_t x, int32_t y, float kD, float kA, float kS, float N, float Ia,
                 float Il, const float L[3]);
// The same sphere drawn as filled polygons, one per band of light.
void BandShadedSphere(RGBColor colour, int32_t r, int32_t x, int32_t y, float kD, float kA, float kS, float N, float Ia,
                      float Il, const float L[3]);

// ---- Direct drawing --------------------------------------------------------------------

// Draws one atom into the current port: radius in Angstrom, z its view z, x
// and y its pixel position. A mask, when given, clips the drawing (an empty
// mask draws nothing).
void PlotSimpleAtom(const CrystalRec *crystal, RGBColor colour, uint32_t style, float radius, float z, int32_t x,
                    int32_t y, bool selected, std::optional<ovgfx::Region> mask);
// The selection mark: four bands from the mark colour into the atom colour
// along the inside of the region.
void DoShowAtomSelected(const CrystalRec *crystal, RGBColor colour, const ovgfx::Region &region);
// The stipple of random fill and of the cloud type 1, in the current port.
void PlotAtomStyleRandomFill(int32_t x, int32_t y, int32_t r, float density, RGBColor colour);
// Single-pixel dots on circles of latitude about the light direction (cloud
// type 2), through the raster target.
void PlotAtomStyleDotted(int32_t x, int32_t y, int32_t r, float density, RGBColor colour, const float L[3]);

// ---- Atom images ---------------------------------------------------------------------------

// Builds the atom image of a type at its drawn radius. False, after a stop
// alert, when the image or its mask cannot be made.
bool MakeAtom(CrystalRec *crystal, uint32_t type, RGBColor colour, uint32_t style, float N, float kD, float kA,
              float kS);
bool MakeBallAndStickAtom(CrystalRec *crystal, uint32_t type);
// The joint of the stick and polyhedral models: no specular highlight.
bool MakeBallJointAtom(CrystalRec *crystal, uint32_t type);
// The cloud image of the surface overlay.
bool MakeSurfaceAtom(CrystalRec *crystal, uint32_t type);

// The atom image and mask of a type, or none.
const ovgfx::PixelBuffer *AtomImage(const SphereRecord &type);
const ovgfx::Region *AtomMask(const SphereRecord &type);
const ovgfx::PixelBuffer *CloudImage(const SphereRecord &type);

// Copies the atom's image to the current port at its pixel position, blended
// for depth t (0 back, 1 front). An empty mask draws nothing.
void DoPlotAtom(const CrystalRec *crystal, uint32_t atom, float t, std::optional<ovgfx::Region> mask);
// Copies the atom's cloud image into the overlay port.
void DoPlotCloud(const CrystalRec *crystal, uint32_t atom, float t, std::optional<ovgfx::Region> mask,
                 ovgfx::GraphicsPort *destination);

// ---- Ball joints and radii ------------------------------------------------------------------

// The joint colour and style of an atom type, from the first bond
// specification naming its element with a drawn style; false (the type's
// style, default bond colour 1) when there is none.
bool GetBallJointAttributes(const CrystalRec *crystal, uint32_t type, RGBColor &colour, uint32_t &style);
// The radius an atom is drawn with in the structure's model; 0 in wire frame.
bool GetAtomSphereRadius(const CrystalRec *crystal, uint32_t atom, float &radius);
