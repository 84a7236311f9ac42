#include "StoredValueRanges.h"

#include "Geometry.h"
#include "HostServices.h"

#include <cmath>
#include <cstdio>
#include <type_traits>

namespace {

// Walks fields with their defaults; one call per field (an array is checked
// element by element).
class Checker {
public:
  Checker(StoredValueReport &report, std::string_view source) : report_(report), source_(source) {}

  template <class T> void operator()(const StoredRange &r, T &field, const T &fallback) {
    if constexpr (std::is_array_v<T>) {
      for (size_t k = 0; k < std::extent_v<T>; k++)
        (*this)(r, field[k], fallback[k]);
    } else {
      // The test inline, the rare value out of range apart: a structure's
      // check asks this of every field of every site and atom.
      if (StoredValueInRange(r, static_cast<double>(field))) [[likely]]
        return;
      OutOfRangeValue(r, field, fallback);
    }
  }

  // Refuses the field's value or sets it to what the table keeps, with its
  // Log line.
  template <class T> [[gnu::noinline]] void OutOfRangeValue(const StoredRange &r, T &field, const T &fallback) {
    const double value = static_cast<double>(field);
    char line[240];
    if (r.action == OutOfRange::Refuse) {
      if (!report_.refused) {
        std::snprintf(line, sizeof line, "its %s (%g) lies outside %g to %g", r.name, value, r.low, r.high);
        report_.why = line;
      }
      report_.refused = true;
      return;
    }
    const double kept = StoredValueKept(r, value, static_cast<double>(fallback));
    field = static_cast<T>(kept);
    std::snprintf(line, sizeof line, "%s%s %g%s lies outside %g to %g%s; %g%s used.", Lead().c_str(), r.name, value,
                  r.unit, r.low, r.high, r.unit, static_cast<double>(field), r.unit);
    report_.reset.emplace_back(line);
  }

  // A font name that no font can be called by takes the default font.
  void operator()(const stored::StoredFontName &r, Str255 &field, const Str255 &fallback) {
    if (StoredFontNameValid(field.view()))
      return;
    std::string shown;
    for (char ch : field.view()) {
      const auto byte = static_cast<unsigned char>(ch);
      if (byte < 0x20 || byte == 0x7F) {
        char escape[8];
        std::snprintf(escape, sizeof escape, "\\x%02X", byte);
        shown += escape;
      } else {
        shown += ch;
      }
    }
    field = fallback;
    report_.reset.push_back(Lead() + r.name + " \"" + shown + "\" is not a font name; \"" +
                            std::string(fallback.view()) + "\" used.");
  }

  // "Rutile.ovdf: the " or "The stored ".
  std::string Lead() const { return source_.empty() ? kStoredLead : std::string(source_) + ": the "; }

private:
  StoredValueReport &report_;
  std::string_view source_;
};

// The display settings a structure shares with the preferences' defaults of
// new structures (the same names in both records).
template <class R> void VisitDisplay(Checker &v, R &r, const R &d) {
  using namespace stored;
  v(kStereoMode, r.stereoMode, d.stereoMode);
  v(kReflectance, r.kA, d.kA);
  v(kReflectance, r.kD, d.kD);
  v(kReflectance, r.kS, d.kS);
  v(kPhongExponent, r.phongN, d.phongN);
  v(kIntensity, r.ambientIntensity, d.ambientIntensity);
  v(kIntensity, r.pointIntensity, d.pointIntensity);
  v(kLightVector, r.lightDirection, d.lightDirection);
  v(kDepthCue, r.lowerPlateauZ, d.lowerPlateauZ);
  v(kDepthCue, r.lowerBaseZ, d.lowerBaseZ);
  v(kOpacity, r.lowerMinOpacity, d.lowerMinOpacity);
  v(kDepthCue, r.upperPlateauZ, d.upperPlateauZ);
  v(kDepthCue, r.upperBaseZ, d.upperBaseZ);
  v(kOpacity, r.upperMinOpacity, d.upperMinOpacity);
  v(kPerspectiveDistance, r.viewDistance, d.viewDistance);
  v(kStereoAngle, r.stereoAngle, d.stereoAngle);
  v(kStereoSeparation, r.stereoSeparation, d.stereoSeparation);
  v(kAtomStyle, r.defaultAtomStyle, d.defaultAtomStyle);
  v(kMinBallRadius, r.minBSSphereRadius, d.minBSSphereRadius);
  v(kFraction, r.bsSphereRadFrac, d.bsSphereRadFrac);
  v(kEllipsoidStyle, r.defaultEllipsoidStyle, d.defaultEllipsoidStyle);
  v(kEllipsoidProbability, r.ellipsoidProbability, d.ellipsoidProbability);
  v(kEllipsoidSphereRadius, r.ellipsoidSphereRadius, d.ellipsoidSphereRadius);
  v(kPolyMode, r.defaultPolyMode, d.defaultPolyMode);
  v(kBondStyle, r.defaultBondStyle, d.defaultBondStyle);
  v(kBondRadius, r.bondRadius, d.bondRadius);
  v(kBondRadius, r.stickRadius, d.stickRadius);
  v(kJointFactor, r.stickJointFactor, d.stickJointFactor);
  v(kSurfaceRadiusFraction, r.cloudSphereRadFrac, d.cloudSphereRadFrac);
  v(kOpacity, r.cloudSphereTransparency, d.cloudSphereTransparency);
  v(kLineWidth, r.unitCellLineWidth, d.unitCellLineWidth);
  v(kLabelType, r.atomLabelType, d.atomLabelType);
  v(kLabelFont, r.labelFont, d.labelFont);
  v(kLabelSize, r.labelSize, d.labelSize);
  v(kGradientAngle, r.gradientAngle, d.gradientAngle);
  v(kGradientScale, r.gradientScale, d.gradientScale);
}

void VisitCrystal(Checker &v, CrystalRec &c, const CrystalRec &d) {
  using namespace stored;
  v(kCellLength, c.a, d.a);
  v(kCellLength, c.b, d.b);
  v(kCellLength, c.c, d.c);
  v(kCellAngle, c.alpha, d.alpha);
  v(kCellAngle, c.beta, d.beta);
  v(kCellAngle, c.gamma, d.gamma);
  v(kFinite, c.originShift, d.originShift);
  v(kFinite, c.cellEsds, d.cellEsds);
  v(kFinite, c.metricTensor, d.metricTensor);
  v(kFinite, c.orientationMatrix, d.orientationMatrix);
  v(kViewDirection, c.viewDirection, d.viewDirection);
  v(kPlotScale, c.plotScale, d.plotScale);
  v(kFinite, c.plotExtent, d.plotExtent);
  v(kFinite, c.plotCentre, d.plotCentre);
  v(kFinite, c.frontZ, d.frontZ);
  v(kFinite, c.backZ, d.backZ);
  v(kMinBallRadius, c.minAtomRadius, d.minAtomRadius);
  v(kModelType, c.modelType, d.modelType);
  VisitDisplay(v, c, d);
  v(kMillerIndex, c.plane.hkl, d.plane.hkl);
  v(kOpacity, c.plane.transparency, d.plane.transparency);
  v(kFinite, c.plane.point, d.plane.point);
  v(kFinite, c.plane.latticeNormal, d.plane.latticeNormal);
  v(kFinite, c.plane.viewNormal, d.plane.viewNormal);
  for (int k = 0; k < kLatticePlaneMaxVertices; k++) {
    v(kFinite, c.plane.vertices[k].xyz, d.plane.vertices[k].xyz);
    v(kFinite, c.plane.vertices[k].cart, d.plane.vertices[k].cart);
  }
  v(kEllipsoidCriticalValue, c.ellipsoidCriticalValue, d.ellipsoidCriticalValue);
  const AsymmetricUnitRecord site;
  for (AsymmetricUnitRecord &s : c.sites) {
    v(kOccupancy, s.occupancies, site.occupancies);
    uint32_t mode = s.polyMode; // a mended mode is given through the one setter
    v(kPolyMode, mode, site.polyMode);
    if (mode != s.polyMode)
      SetGivenPolyMode(s, mode);
    v(kAtomStyle, s.atomStyle, site.atomStyle);
    v(kEllipsoidStyle, s.ellipsoidStyle, site.ellipsoidStyle);
    v(kFinite, s.xyz, site.xyz);
    v(kFinite, s.esd, site.esd);
    v(kDisplacement, s.tensor, site.tensor);
    v(kDisplacement, s.isoValue, site.isoValue);
  }
  const AtomRecord atom;
  for (AtomRecord &t : c.atoms) {
    v(kFinite, t.xyz, atom.xyz);
    v(kFinite, t.cart, atom.cart);
    v(kFinite, t.ellipsoidAxes, atom.ellipsoidAxes);
  }
  const SphereRecord sphere;
  for (SphereRecord &s : c.spheres) {
    v(kAtomRadius, s.radius, sphere.radius);
    v(kAtomRadius, s.drawnRadius, sphere.drawnRadius);
    v(kAtomStyle, s.style, sphere.style);
  }
  const BondSpec spec;
  for (int k = 0; k < c.bondSpecCount && k < kMaxBondSpecs; k++) {
    BondSpec &s = c.bondSpecs[static_cast<size_t>(k)];
    v(kBondLength, s.minLength, spec.minLength);
    v(kBondLength, s.maxLength, spec.maxLength);
    v(kBondStyle, s.style, spec.style);
  }
  const CustomBondSpec custom;
  for (CustomBondSpec &s : c.customBondSpecs)
    v(kBondStyle, s.style, custom.style);
  const VectorRecord vector;
  for (VectorRecord &r : c.vectors) {
    v(kVectorComponent, r.uvw, vector.uvw);
    v(kFinite, r.tipXYZ, vector.tipXYZ);
    v(kFinite, r.tipCart, vector.tipCart);
    v(kVectorHeadRadius, r.headRadius, vector.headRadius);
  }
  const TextBoxRecord box;
  for (TextBoxRecord &t : c.textBoxes) {
    v(kFontSize, t.fontSize, box.fontSize);
    v(kAnnotationPoint, t.frac1, box.frac1);
    v(kAnnotationPoint, t.frac2, box.frac2);
    v(kAnnotationPoint, t.boxCentre, box.boxCentre);
  }
}

// The plot range as a whole: each axis's maximum above its minimum and at
// most kMaxPlotRangeSpan cells wide; otherwise the one cell of a blank
// structure.
void CheckPlotRangeSpans(CrystalRec &c, StoredValueReport &report, const std::string &lead) {
  // One line for the whole range, naming each axis reset.
  std::string axes;
  for (int axis = 0; axis < 3; axis++) {
    const float lo = c.plotRange[2 * axis], hi = c.plotRange[2 * axis + 1];
    if (hi >= lo && hi - lo <= kMaxPlotRangeSpan)
      continue;
    char part[96];
    std::snprintf(part, sizeof part, "%s%c %g to %g", axes.empty() ? "" : ", ", "abc"[axis], static_cast<double>(lo),
                  static_cast<double>(hi));
    axes += part;
    c.plotRange[2 * axis] = 0.0f;
    c.plotRange[2 * axis + 1] = 1.0f;
  }
  if (axes.empty())
    return;
  char line[400];
  std::snprintf(line, sizeof line, "%splot range (%s) is not a range of at most %g cells; 0 to 1 used.", lead.c_str(),
                axes.c_str(), static_cast<double>(kMaxPlotRangeSpan));
  report.reset.emplace_back(line);
}

void WriteResetLines(const StoredValueReport &report) {
  for (const std::string &line : report.reset)
    FWrite(line);
}

} // namespace

bool CheckStoredValues(CrystalRec &crystal, StoredValueReport *report, std::string_view source, bool log) {
  StoredValueReport local;
  StoredValueReport &r = report ? *report : local;
  r = StoredValueReport{};
  CrystalRec defaults;
  defaults.plotScale = 0.0f; // fitted to the window when opened
  Checker check(r, source);
  VisitCrystal(check, crystal, defaults);
  check(stored::kPlotRange, crystal.plotRange, defaults.plotRange);
  CheckPlotRangeSpans(crystal, r, check.Lead());
  for (int k = 0; k < crystal.bondSpecCount && k < kMaxBondSpecs; k++) {
    BondSpec &spec = crystal.bondSpecs[static_cast<size_t>(k)];
    if (spec.minLength <= spec.maxLength)
      continue;
    char line[240];
    std::snprintf(line, sizeof line, "%sbond minimum %g \u00C5 lies above its maximum, %g \u00C5; 0 \u00C5 used.",
                  check.Lead().c_str(), static_cast<double>(spec.minLength), static_cast<double>(spec.maxLength));
    r.reset.emplace_back(line);
    spec.minLength = 0.0f;
  }
  if (!r.refused && !crystal.molecule && !CellIsValid(&crystal)) {
    r.refused = true;
    r.why = "its cell lengths and angles make no cell";
  }
  if (r.refused)
    return false;
  if (log)
    WriteResetLines(r);
  return true;
}

void CheckStoredPrefs(PrefsRecord &prefs, StoredValueReport *report, std::string_view source) {
  using namespace stored;
  StoredValueReport local;
  StoredValueReport &r = report ? *report : local;
  r = StoredValueReport{};
  const PrefsRecord &d = gFactoryPrefs;
  Checker v(r, source);
  VisitDisplay(v, prefs, d);
  v(kDisplacement, prefs.defaultIsoValue, d.defaultIsoValue);
  v(kOpacity, prefs.planeTransparency, d.planeTransparency);
  v(kFontSize, prefs.annotationSize, d.annotationSize);
  v(kAnnotationFont, prefs.annotationFont, d.annotationFont);
  v(kWindowFont, prefs.windowFontName, d.windowFontName);
  v(kNotesFont, prefs.notesFontName, d.notesFontName);
  v(kNotesTextSize, prefs.notesFontSize, d.notesFontSize);
  v(kLogFont, prefs.logFontName, d.logFontName);
  v(kLogTextSize, prefs.logFontSize, d.logFontSize);
  v(kThumbnailHeight, prefs.thumbnailHeight, d.thumbnailHeight);
  v(kExportResolution, prefs.exportResolution, d.exportResolution);
  v(kFrameRate, prefs.movieFrameRate, d.movieFrameRate);
  v(kDistance, prefs.distanceMaximum, d.distanceMaximum);
  v(kDistance, prefs.distanceMinimum, d.distanceMinimum);
  v(kDistance, prefs.distanceBinWidth, d.distanceBinWidth);
  v(kPickerCount, prefs.atomPickerCount, d.atomPickerCount);
  v(kSidebarSplit, prefs.sidebarSplit, d.sidebarSplit);
  for (size_t k = 0; k < std::size(prefs.elementData); k++)
    v(kElementRadius, prefs.elementData[k].radius, d.elementData[k].radius);
  WriteResetLines(r);
}

bool CheckStoredField(const StoredRange &range, float &field, float fallback, std::string_view source) {
  StoredValueReport r;
  Checker check(r, source);
  StoredRange kept = range;
  if (kept.action == OutOfRange::Refuse)
    kept.action = OutOfRange::UseDefault;
  check(kept, field, fallback);
  WriteResetLines(r);
  return r.reset.empty();
}

std::string StoredValueRefusal(const StoredValueReport &report) {
  return "The document is damaged: " + report.why + ".";
}
