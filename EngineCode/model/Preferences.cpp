#include "Preferences.h"

#include "ColourHelpers.h"
#include "EllipsoidMaths.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

PrefsRecord MakeFactoryPrefs() {
  PrefsRecord prefs;
  prefs.elementData = kFactoryElementData;
  std::memcpy(prefs.elementNotes, kFactoryElementNotes, sizeof prefs.elementNotes);
  prefs.elementNotes[kElementNotesSize - 1] = '\0';
  return prefs;
}

// The largest value a unit-cell line width keeps in the preferences.
constexpr float kMaxStoredLineWidth = 65535.0f;

} // namespace

const PrefsRecord gFactoryPrefs = MakeFactoryPrefs();
PrefsRecord gPrefs = gFactoryPrefs;

AtomRecord gBlankAtom;
AsymmetricUnitRecord gBlankAU;
SphereRecord gBlankSphere;
VectorRecord gBlankVector;
TextBoxRecord gBlankTextBox;
CustomBondSpec gBlankCustomBondSpec;
CellPoint gBlankCellPoint;

void InitBlankAtom(AtomRecord *atom) {
  if (atom)
    *atom = AtomRecord{};
}

void InitBlankVector(VectorRecord *vector) {
  if (!vector)
    return;
  *vector = VectorRecord{};
  vector->colour = gPrefs.vectorColor;
  vector->style = gPrefs.vectorStyle;
}

void InitBlankCustomBondSpec(CustomBondSpec *spec) {
  if (!spec)
    return;
  *spec = CustomBondSpec{};
  spec->style = gPrefs.defaultBondStyle;
  spec->colour1 = gPrefs.bondColor1;
  spec->colour2 = gPrefs.bondColor2;
}

void InitBlankTextBox(TextBoxRecord *box) {
  if (box)
    *box = TextBoxRecord{};
}

void InitBlankAU(AsymmetricUnitRecord *site) {
  if (!site)
    return;
  *site = AsymmetricUnitRecord{};
  site->atomStyle = gPrefs.defaultAtomStyle;
  site->ellipsoidStyle = gPrefs.defaultEllipsoidStyle;
  site->isoValue = gPrefs.defaultIsoValue;
}

void InitBlankCellPoint(CellPoint *point) {
  if (point)
    *point = CellPoint{};
}

void InitBlankSphere(SphereRecord *sphere) {
  if (!sphere)
    return;
  *sphere = SphereRecord{};
  sphere->style = gPrefs.defaultAtomStyle;
}

void InitOVGlobals() {
  InitBlankAtom(&gBlankAtom);
  InitBlankVector(&gBlankVector);
  InitBlankCustomBondSpec(&gBlankCustomBondSpec);
  InitBlankTextBox(&gBlankTextBox);
  InitBlankAU(&gBlankAU);
  InitBlankCellPoint(&gBlankCellPoint);
  InitBlankSphere(&gBlankSphere);
}

void CopyPrefsToCrystal(const PrefsRecord *prefs, CrystalRec *crystal) {
  if (!prefs || !crystal)
    return;
  const PrefsRecord &p = *prefs;
  CrystalRec &c = *crystal;
  c.rulerUnits = p.rulerUnits;
  c.showGrid = p.showGrid;
  c.stereoOn = p.stereoOn;
  c.stereoMode = p.stereoMode;
  std::copy(std::begin(p.kD), std::end(p.kD), c.kD);
  std::copy(std::begin(p.kA), std::end(p.kA), c.kA);
  std::copy(std::begin(p.kS), std::end(p.kS), c.kS);
  std::copy(std::begin(p.phongN), std::end(p.phongN), c.phongN);
  c.polyEdgeMode = p.polyEdgeMode;
  c.ambientIntensity = p.ambientIntensity;
  c.pointIntensity = p.pointIntensity;
  std::copy(std::begin(p.lightDirection), std::end(p.lightDirection), c.lightDirection);
  c.depthFading = p.depthFading;
  c.lowerPlateauZ = p.lowerPlateauZ;
  c.lowerBaseZ = p.lowerBaseZ;
  c.lowerMinOpacity = p.lowerMinOpacity;
  c.upperPlateauZ = p.upperPlateauZ;
  c.upperBaseZ = p.upperBaseZ;
  c.upperMinOpacity = p.upperMinOpacity;
  c.viewDistance = p.viewDistance;
  c.perspective = p.perspective;
  c.stereoAngle = p.stereoAngle;
  c.stereoSeparation = p.stereoSeparation;
  c.showUnitCell = p.showUnitCell;
  c.showAxes = p.showAxes;
  c.defaultAtomStyle = p.defaultAtomStyle;
  c.minBSSphereRadius = p.minBSSphereRadius;
  c.bsSphereRadFrac = p.bsSphereRadFrac;
  c.defaultEllipsoidStyle = p.defaultEllipsoidStyle;
  c.ellipsoidProbability = p.ellipsoidProbability;
  c.ellipsoidSphereRadius = p.ellipsoidSphereRadius;
  c.defaultPolyMode = p.defaultPolyMode;
  c.defaultBondStyle = p.defaultBondStyle;
  c.bondColor1 = p.bondColor1;
  c.bondColor2 = p.bondColor2;
  c.bondRadius = p.bondRadius;
  c.stickRadius = p.stickRadius;
  c.stickJointFactor = p.stickJointFactor;
  c.cloudSphereColor = p.cloudSphereColor;
  c.cloudSphereType = p.cloudSphereType;
  c.cloudSphereRadFrac = p.cloudSphereRadFrac;
  c.cloudSphereTransparency = p.cloudSphereTransparency;
  c.cloudSameSphereColor = p.cloudSameSphereColor;
  c.unitCellLineWidth = static_cast<float>(p.unitCellLineWidth);
  c.unitCellColor = p.unitCellColor;
  std::copy(std::begin(p.unitCellOptions), std::end(p.unitCellOptions), c.unitCellOptions);
  c.axesOption = p.axesOption;
  std::copy(std::begin(p.axisColors), std::end(p.axisColors), c.axisColors);
  c.atomLabelType = p.atomLabelType;
  c.atomLabelPos = p.atomLabelPos;
  c.labelFlag = p.labelFlag;
  c.labelSizeFollowsScale = p.labelSizeFollowsScale;
  c.labelFont = p.labelFont;
  c.labelSize = p.labelSize;
  c.backgroundGradient = p.backgroundGradient;
  c.gradientStyle = p.gradientStyle;
  c.backgroundColor = p.backgroundColor;
  std::copy(std::begin(p.gradientColors), std::end(p.gradientColors), c.gradientColors);
  c.gradientAngle = p.gradientAngle;
  c.gradientScale = p.gradientScale;
  c.backgroundPictureMode = p.backgroundPictureMode;
  c.plane.colour = p.planeColor;
  c.plane.transparency = p.planeTransparency;

  // The structure's own, whatever the preferences hold.
  c.modelType = 1;
  c.surfaceOverlay = 0;
  c.ellipsoidCriticalValue = GetEllipsoidCriticalValue(c.ellipsoidProbability);
  GetMyHiliteColor(c);
}

void CopyCrystalPrefs(const CrystalRec *crystal, PrefsRecord *prefs) {
  if (!prefs || !crystal)
    return;
  const CrystalRec &c = *crystal;
  PrefsRecord &p = *prefs;
  p.rulerUnits = c.rulerUnits;
  p.showGrid = c.showGrid;
  p.stereoOn = c.stereoOn;
  p.stereoMode = c.stereoMode;
  std::copy(std::begin(c.kD), std::end(c.kD), p.kD);
  std::copy(std::begin(c.kA), std::end(c.kA), p.kA);
  std::copy(std::begin(c.kS), std::end(c.kS), p.kS);
  std::copy(std::begin(c.phongN), std::end(c.phongN), p.phongN);
  p.polyEdgeMode = c.polyEdgeMode;
  p.ambientIntensity = c.ambientIntensity;
  p.pointIntensity = c.pointIntensity;
  std::copy(std::begin(c.lightDirection), std::end(c.lightDirection), p.lightDirection);
  p.depthFading = c.depthFading;
  p.lowerPlateauZ = c.lowerPlateauZ;
  p.lowerBaseZ = c.lowerBaseZ;
  p.lowerMinOpacity = c.lowerMinOpacity;
  p.upperPlateauZ = c.upperPlateauZ;
  p.upperBaseZ = c.upperBaseZ;
  p.upperMinOpacity = c.upperMinOpacity;
  p.viewDistance = c.viewDistance;
  p.perspective = c.perspective;
  p.stereoAngle = c.stereoAngle;
  p.stereoSeparation = c.stereoSeparation;
  p.showUnitCell = c.showUnitCell;
  p.showAxes = c.showAxes;
  p.defaultAtomStyle = c.defaultAtomStyle;
  p.minBSSphereRadius = c.minBSSphereRadius;
  p.bsSphereRadFrac = c.bsSphereRadFrac;
  p.defaultEllipsoidStyle = c.defaultEllipsoidStyle;
  p.ellipsoidProbability = c.ellipsoidProbability;
  p.ellipsoidSphereRadius = c.ellipsoidSphereRadius;
  p.defaultPolyMode = c.defaultPolyMode;
  p.defaultBondStyle = c.defaultBondStyle;
  p.bondColor1 = c.bondColor1;
  p.bondColor2 = c.bondColor2;
  p.bondRadius = c.bondRadius;
  p.stickRadius = c.stickRadius;
  p.cloudSphereColor = c.cloudSphereColor;
  p.cloudSphereType = c.cloudSphereType;
  p.cloudSphereRadFrac = c.cloudSphereRadFrac;
  p.cloudSphereTransparency = c.cloudSphereTransparency;
  p.cloudSameSphereColor = c.cloudSameSphereColor;
  // Truncated to a whole number of pixels; a value outside the field's range
  // (or not a number) is held at the nearest end instead of overflowing.
  float width = c.unitCellLineWidth;
  if (!(width > 0.0f))
    width = 0.0f;
  p.unitCellLineWidth = static_cast<uint16_t>(std::min(width, kMaxStoredLineWidth));
  p.unitCellColor = c.unitCellColor;
  std::copy(std::begin(c.unitCellOptions), std::end(c.unitCellOptions), p.unitCellOptions);
  p.axesOption = c.axesOption;
  std::copy(std::begin(c.axisColors), std::end(c.axisColors), p.axisColors);
  p.atomLabelType = c.atomLabelType;
  p.atomLabelPos = c.atomLabelPos;
  p.labelFlag = c.labelFlag;
  p.labelSizeFollowsScale = c.labelSizeFollowsScale;
  p.labelFont = c.labelFont;
  p.labelSize = c.labelSize;
  p.backgroundGradient = c.backgroundGradient;
  p.gradientStyle = c.gradientStyle;
  p.backgroundColor = c.backgroundColor;
  std::copy(std::begin(c.gradientColors), std::end(c.gradientColors), p.gradientColors);
  p.gradientAngle = c.gradientAngle;
  p.gradientScale = c.gradientScale;
  p.planeColor = c.plane.colour;
  p.planeTransparency = c.plane.transparency;
}
