// The COLLADA 1.4.1 document: asset, effects and materials, one geometry per
// drawn object, three lights, a camera that frames the model and one visual
// scene. Every element stands on a line of its own without indentation.
// Numbers are written without the user's locale: "%.3f" for arrays and
// colours, "%f" for lights and camera, with the bytes of printf in the C
// locale (floats through our own exact rounding, other values through
// std::to_chars). Nothing that is not a number is ever
// written.
//
// Sound behaviour where a literal reading would give an invalid document:
// - an empty effects, materials or geometries library is left out (the
//   schema wants at least one child in each);
// - the principal-ellipse and axis effects of an atom type are written when
//   any ellipsoid of the type draws them, and a node binds only the
//   primitives its geometry holds, so every reference resolves;
// - a node binds materials only when it has some;
// - the camera's box takes the Cartesian corners of the framed cells and
//   the arrows' tips (mirrored through the atom for a two-sided arrow).
#include "export/Export3D.h"
#include "export/FixedText.h"

#include "Alerts.h"
#include "RenderServices.h"
#include "VectorMath.h"
#include "render/AtomStyles.h"
#include "render/EllipsoidDrawing.h"

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <map>
#include <new>
#include <numbers>

namespace {

constexpr int kClassAtom = 0, kClassBond = 1, kClassPoly = 2, kClassCloud = 3;
constexpr int kConstant = 1, kLambert = 2, kPhong = 3;
constexpr float kTranslucentAtomOpacity = 0.5f;
constexpr double kRadToDegrees = 180.0 / std::numbers::pi;
constexpr float kFlatLightElevation = 0.1f; // below this horizontal share the azimuth is 0
constexpr const char *kBindVertexInput =
    "<bind_vertex_input semantic=\"UVSET0\" input_semantic=\"TEXCOORD\" input_set=\"0\" />\n";

// ---- Numbers ------------------------------------------------------------------------------

void Fixed(std::string &out, double v, int precision) {
  char buf[kMaxFixedChars];
  out.append(buf, static_cast<size_t>(WriteFixed(buf, v, precision) - buf));
}
void F3(std::string &out, double v) { Fixed(out, v, 3); }
void F6(std::string &out, double v) { Fixed(out, v, 6); }
// v, then `after` (at most a few characters).
void Int(std::string &out, int64_t v, std::string_view after = {}) {
  char buf[32];
  char *p = buf;
  const uint64_t magnitude = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
  if (v < 0)
    *p++ = '-';
  p = WriteDecimal(p, magnitude);
  p = std::copy(after.begin(), after.end(), p);
  out.append(buf, static_cast<size_t>(p - buf));
}
void IntSp(std::string &out, int64_t v) { Int(out, v, " "); }
double Channel(uint16_t c) { return double(c) / 65535.0; }

// The text of the points written last, kept by their exact bits: a mesh
// lists a corner again for each triangle that does not share it, and a
// recurring point is copied instead of formatted.
class PointTexts {
public:
  static constexpr size_t kMaxText = 32;
  struct Slot {
    uint32_t bits[3] = {0, 0, 0};
    uint32_t length = 0; // 0: empty
    char text[kMaxText] = {};
  };
  Slot &For(const uint32_t bits[3]) {
    const uint32_t h = bits[0] * 0x9E3779B1u ^ bits[1] * 0x85EBCA77u ^ bits[2] * 0xC2B2AE3Du;
    return slots_[h >> (32 - kBits)];
  }

private:
  static constexpr int kBits = 8;
  Slot slots_[size_t{1} << kBits];
};

// Collects the many short numbers of an array and appends them to the
// document a few kilobytes at a time rather than one by one.
class Batch {
public:
  explicit Batch(std::string &out) : out_(out) {}
  ~Batch() { Flush(); }
  Batch(const Batch &) = delete;
  Batch &operator=(const Batch &) = delete;

  // v and a space.
  void IntSp(int64_t v) {
    char *p = Room(kIntRoom);
    const uint64_t magnitude = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
    if (v < 0)
      *p++ = '-';
    p = WriteDecimal(p, magnitude);
    *p++ = ' ';
    used_ = static_cast<size_t>(p - buf_);
  }
  // "%.3f" of v, then `after` (at most a few characters).
  void F3(float v, std::string_view after) {
    char *p = Room(kMaxFixedChars + after.size());
    char *e = WriteFixedFloat<3>(p, v);
    e = std::copy(after.begin(), after.end(), e);
    used_ = static_cast<size_t>(e - buf_);
  }

  // The point less the centre: "%.3f" of each coordinate, a space after x
  // and y, two after z.
  void Point(const Vertex &v, const float centre[3], PointTexts &memo) {
    char *p = Room(3 * kMaxFixedChars + 4);
    uint32_t bits[3];
    std::memcpy(bits, &v, sizeof bits);
    PointTexts::Slot &slot = memo.For(bits);
    if (slot.length != 0 && std::memcmp(slot.bits, bits, sizeof bits) == 0) {
      std::memcpy(p, slot.text, PointTexts::kMaxText);
      used_ += slot.length;
      return;
    }
    char *e = WriteFixedFloat<3>(p, v.x - centre[0]);
    *e++ = ' ';
    e = WriteFixedFloat<3>(e, v.y - centre[1]);
    *e++ = ' ';
    e = WriteFixedFloat<3>(e, v.z - centre[2]);
    *e++ = ' ';
    *e++ = ' ';
    const size_t length = static_cast<size_t>(e - p);
    if (length <= PointTexts::kMaxText) {
      std::memcpy(slot.bits, bits, sizeof bits);
      std::memcpy(slot.text, p, length);
      slot.length = static_cast<uint32_t>(length);
    }
    used_ += length;
  }

private:
  static constexpr size_t kIntRoom = 24;
  char *Room(size_t n) {
    if (used_ + n > sizeof buf_)
      Flush();
    return buf_ + used_;
  }
  void Flush() {
    out_.append(buf_, used_);
    used_ = 0;
  }
  std::string &out_;
  size_t used_ = 0;
  char buf_[16384];
};

// The text of arrays that repeat from one object to the next: the normals
// of atoms of one kind and of parallel bonds, the corner lists of atoms
// meshed alike. Texts are kept by the exact bytes of what they were written
// from, so a repeat costs a comparison instead of the formatting, and the
// document is the same byte for byte.
class TextCache {
public:
  // The text written from these bytes, or null.
  const std::string *Find(std::string_view key) const {
    for (const Entry &e : entries_)
      if (e.key.size() == key.size() && std::memcmp(e.key.data(), key.data(), key.size()) == 0)
        return &e.text;
    return nullptr;
  }
  // Keeps a text, in place of the oldest once the cache is full.
  void Store(std::string_view key, std::string_view text) {
    Entry *e = nullptr;
    if (entries_.size() < kEntries) {
      e = &entries_.emplace_back();
    } else {
      e = &entries_[next_];
      next_ = (next_ + 1) % kEntries;
    }
    e->key.assign(key);
    e->text.assign(text);
  }

private:
  static constexpr size_t kEntries = 16;
  struct Entry {
    std::string key, text;
  };
  std::vector<Entry> entries_;
  size_t next_ = 0;
};

// Writes the text `write` appends to `out`, or the text it appended before
// for the same key. Arrays of more than about twenty thousand points are
// not kept: they seldom repeat, and each copy would be large.
template <typename Write> void CachedText(std::string &out, TextCache &cache, std::string_view key, Write write) {
  constexpr size_t kMaxKey = size_t{1} << 18;
  if (key.size() > kMaxKey) {
    write();
    return;
  }
  if (const std::string *text = cache.Find(key)) {
    out += *text;
    return;
  }
  const size_t start = out.size();
  write();
  cache.Store(key, std::string_view(out).substr(start));
}

// The bytes of an array, as a cache key.
static_assert(sizeof(Vertex) == 3 * sizeof(float));
std::string_view BytesOf(const VertexArray &v) {
  return {reinterpret_cast<const char *>(v.data()), v.size() * sizeof(Vertex)};
}

// A tube (bond, cell edge, arrow shaft) of `pieces` pieces with s sides:
// its indices start at `first` in `ix`, the side quads piece by piece, then
// the two caps of each piece. `keep` picks the pieces written.
struct Tube {
  const IndexArray &ix;
  size_t first;
  uint32_t s;
  uint32_t pieces;
  int64_t vertexBase = 0; // added to every vertex index
  int64_t normalBase = 0; // added to the side normal indices
  int64_t capNormal = 0;  // the start cap's normal index; the end cap's follows
};

// "4 " per quad, then "s s " per piece, of the kept pieces.
template <typename Keep> void TubeVcount(std::string &o, const Tube &t, Keep keep) {
  for (uint32_t p = 0; p < t.pieces; p++)
    if (keep(p))
      for (uint32_t k = 0; k < t.s; k++)
        o += "4 ";
  for (uint32_t p = 0; p < t.pieces; p++)
    if (keep(p)) {
      IntSp(o, t.s);
      IntSp(o, t.s);
    }
}

// Vertex and normal index pairs: the quads of the kept pieces, quad k with
// the side normals k, k + 1, k + 1, k; then their caps.
template <typename Keep> void TubeIndices(std::string &o, const Tube &t, Keep keep) {
  Batch batch(o);
  for (uint32_t p = 0; p < t.pieces; p++) {
    if (!keep(p))
      continue;
    for (uint32_t k = 0; k < t.s; k++) {
      const size_t at = t.first + (size_t(p) * t.s + k) * 4;
      const int64_t normal[4] = {k, (k + 1) % t.s, (k + 1) % t.s, k};
      for (int c = 0; c < 4; c++) {
        batch.IntSp(t.vertexBase + int64_t(t.ix[at + size_t(c)]));
        batch.IntSp(t.normalBase + normal[c]);
      }
    }
  }
  const size_t caps = t.first + size_t(t.pieces) * t.s * 4;
  for (uint32_t p = 0; p < t.pieces; p++) {
    if (!keep(p))
      continue;
    const size_t at = caps + size_t(p) * 2 * t.s;
    for (size_t i = 0; i < 2 * size_t(t.s); i++) {
      batch.IntSp(t.vertexBase + int64_t(t.ix[at + i]));
      batch.IntSp(int64_t(i / t.s) + t.capNormal);
    }
  }
}

// ---- The writer -----------------------------------------------------------------------------

// What the nodes need of each written atom.
struct AtomNode {
  uint32_t type = 0;
  bool joint = false;
  bool attrLines = false;
  bool attrBands = false;
};

// One effect and its material: the kind ("Bond", "Atom", ...) and number.
struct EffectEntry {
  std::string kind;
  std::string number;
};

class Writer {
public:
  Writer(Export3DContext &ctx, const COLLADAOptions &options) : ctx_(ctx), c_(*ctx.gXP), options_(options) {}
  int Run();

private:
  std::string &Out() { return ctx_.gFP->Text(); }
  void Line(std::string_view text) {
    Out().append(text);
    Out() += '\n';
  }
  void Done() { ctx_.gFP->Written(); }

  // Effects.
  void Effect(const EffectEntry &entry, int cls, RGBColor colour, int shading, bool useColour, float opacity);
  void WriteEffectProfile(int cls, RGBColor colour, int shading, bool useColour, float opacity);
  void ColourLine(double r, double g, double b, double a);
  void WriteEffects();
  void WriteEllipsoidEffects();
  void WriteMaterials();

  // Geometries.
  void OpenGeometries() {
    if (!geometriesOpen_) {
      Line("<library_geometries>");
      geometriesOpen_ = true;
    }
  }
  void Source(const std::string &prefix, const std::string &number, const char *what, const char *array,
              const VertexArray &points, bool centred);
  void FrameStart(const std::string &prefix, const std::string &number);
  void FrameEnd() {
    Line("</mesh>");
    Line("</geometry>");
    Out() += '\n';
    Done();
  }
  void Sources(const std::string &prefix, const std::string &number, const VertexArray &positions,
               const VertexArray &normals);
  void PolylistInputs(const std::string &prefix, const std::string &number);
  bool WriteAtomGeometries();
  void WriteAttributes(uint32_t atom, const Vertex axes[3], const Vertex &centre, const std::string &number,
                       AtomNode &node);
  bool WriteBondGeometries();
  bool WritePolyGeometries();
  bool WriteSurfaceGeometries();
  bool WriteUnitCellGeometries();
  bool WriteVectorGeometries();

  // Runs a geometry section; false when it failed (after its alert).
  bool Section(const char *step, bool (Writer::*section)()) {
    try {
      CheckAllocation(ctx_, step);
      return (this->*section)();
    } catch (const std::bad_alloc &) {
      AllocationFailureAlert(step);
      return false;
    }
  }

  // Lights, camera, scene.
  void WriteLights();
  void WriteCamera();
  void WriteCameraNodes();
  void WriteScene();
  void BindBlock(const std::string &symbol, const std::string &target);

  Export3DContext &ctx_;
  const CrystalRec &c_;
  const COLLADAOptions &options_;
  std::vector<EffectEntry> materials_;
  size_t ellipsoidMaterialsFrom_ = 0, ellipsoidMaterialsTo_ = 0;
  bool geometriesOpen_ = false;
  bool generatorFailed_ = false;
  std::vector<AtomNode> atomNodes_;
  std::vector<uint32_t> surfaceTypes_;
  std::vector<bool> polyEdges_, polyFaces_;
  TextCache normalTexts_, cornerTexts_;
  PointTexts pointTexts_;
  std::string cornerKey_;
  float viewDst_ = 0.0f;
};

std::string Num(int64_t v) { return std::to_string(v); }
std::string Pair(int64_t a, int64_t b) { return std::to_string(a) + "-" + std::to_string(b); }

void Writer::ColourLine(double r, double g, double b, double a) {
  std::string &o = Out();
  o += "<color>";
  F3(o, r);
  o += ' ';
  F3(o, g);
  o += ' ';
  F3(o, b);
  o += ' ';
  F3(o, a);
  o += "</color>\n";
}

void Writer::WriteEffectProfile(int cls, RGBColor colour, int shading, bool useColour, float opacity) {
  Line("<profile_COMMON>");
  Line("<technique sid=\"COMMON\">");
  const char *name = shading == kLambert ? "lambert" : shading == kPhong ? "phong" : "constant";
  Out().append("<").append(name).append(">\n");
  const double r = Channel(colour.red), g = Channel(colour.green), b = Channel(colour.blue);
  if (shading == kLambert || shading == kPhong) {
    float kD, kA, kS;
    uint16_t N;
    GetRenderingCoefficients(ctx_, cls, &kD, &kA, &kS, &N);
    if (shading == kLambert) {
      Line("<diffuse>");
      if (useColour)
        ColourLine(r, g, b, opacity);
      else
        ColourLine(kD, kD, kD, opacity);
      Line("</diffuse>");
    } else {
      auto q = [&](double channel, float k) { return std::min((useColour ? channel : 1.0) * k, 1.0); };
      Line("<ambient>");
      ColourLine(q(r, kA), q(g, kA), q(b, kA), opacity);
      Line("</ambient>");
      Line("<diffuse>");
      ColourLine(q(r, kD), q(g, kD), q(b, kD), opacity);
      Line("</diffuse>");
      Line("<specular>");
      ColourLine(kS, kS, kS, 1.0);
      Line("</specular>");
      Out() += "<shininess><float>";
      Int(Out(), N);
      Out() += "</float></shininess>\n";
    }
  } else {
    Line("<emission>");
    ColourLine(r, g, b, opacity);
    Line("</emission>");
  }
  if (opacity < 1.0f) {
    Line("<transparent opaque=\"A_ONE\">");
    Line("<color>0 0 0 1</color>");
    Line("</transparent>");
    Line("<transparency>");
    Out() += "<float>";
    F6(Out(), opacity);
    Out() += "</float>\n";
    Line("</transparency>");
  }
  Out().append("</").append(name).append(">\n");
  Line("</technique>");
  Line("</profile_COMMON>");
}

void Writer::Effect(const EffectEntry &entry, int cls, RGBColor colour, int shading, bool useColour, float opacity) {
  if (materials_.empty())
    Line("<library_effects>");
  Out().append("<effect id=\"OV").append(entry.kind).append("Effect").append(entry.number).append("\">\n");
  WriteEffectProfile(cls, colour, shading, useColour, opacity);
  Line("</effect>");
  Out() += '\n';
  materials_.push_back(entry);
  Done();
}

void Writer::WriteEllipsoidEffects() {
  CheckAllocation(ctx_, "WriteEllipsoidEffects");
  if (c_.modelType != kThermalEllipsoidModel)
    return;
  struct TypeEffects {
    bool atom = false;
    int trace = -1, axis = -1; // atom whose recipe gives them
  };
  std::map<uint32_t, TypeEffects> seen;
  std::vector<uint32_t> order;
  std::vector<uint32_t> firstAtom;
  ForEachSiteAtom(c_, [&](uint32_t a, const AsymmetricUnitRecord &) {
    if (!ShouldDrawEllipsoid(ctx_, a))
      return;
    EllipsoidParts parts;
    RGBColor fill, line, surface;
    float fillFactor, second, opacity;
    if (!GetEllipsoidSpecs(&c_, a, 1.0f, parts, fill, line, surface, fillFactor, second, opacity))
      return;
    const uint32_t type = c_.atoms[a].atomType;
    TypeEffects &t = seen[type];
    if (!t.atom) {
      t.atom = true;
      order.push_back(type);
      firstAtom.push_back(a);
    }
    if (parts.principal && t.trace < 0)
      t.trace = int(a);
    if (parts.axes && t.axis < 0)
      t.axis = int(a);
  });
  for (size_t k = 0; k < order.size(); k++) {
    const uint32_t type = order[k];
    const TypeEffects &t = seen[type];
    EllipsoidParts parts;
    RGBColor fill, line, surface;
    float fillFactor, second, opacity;
    const uint32_t a = firstAtom[k];
    GetEllipsoidSpecs(&c_, a, 1.0f, parts, fill, line, surface, fillFactor, second, opacity);
    const uint32_t style = c_.sites[c_.atoms[a].site].ellipsoidStyle;
    Effect({"Atom", Num(type)}, kClassAtom, fill, style >= 15 && style <= 22 ? kPhong : kLambert, true,
           opacity * fillFactor);
    if (t.trace >= 0) {
      GetEllipsoidSpecs(&c_, uint32_t(t.trace), 1.0f, parts, fill, line, surface, fillFactor, second, opacity);
      Effect({"EllipseAttrTrace", Num(type)}, kClassBond, line, kLambert, true, second * opacity);
    }
    if (t.axis >= 0) {
      GetEllipsoidSpecs(&c_, uint32_t(t.axis), 1.0f, parts, fill, line, surface, fillFactor, second, opacity);
      Effect({"EllipseAttrAxis", Num(type)}, kClassBond, line, kConstant, true, 1.0f);
    }
  }
}

void Writer::WriteEffects() {
  // Bond halves.
  uint32_t number = 0;
  for (const BondRec &bond : ctx_.gBonds.Records()) {
    const int halves = bond.pieces <= 1 ? 1 : 2;
    for (int h = 0; h < halves; h++) {
      const float opacity = h == 0 ? bond.opacity1 : bond.opacity2;
      if (opacity > 0.0f)
        Effect({"Bond", Pair(number, h)}, kClassBond, h == 0 ? bond.colour1 : bond.colour2,
               bond.style == 1 || bond.style == 3 || bond.style == 5 ? kPhong : kLambert, true, opacity);
    }
    number++;
  }
  ellipsoidMaterialsFrom_ = materials_.size();
  WriteEllipsoidEffects();
  ellipsoidMaterialsTo_ = materials_.size();
  // Polyhedra.
  for (size_t p = 0; p < ctx_.gPolyHosts.size(); p++) {
    const uint32_t host = ctx_.gPolyHosts[p];
    RGBColor colour;
    float opacity;
    if (ShouldDrawPolyEdges(ctx_, host, &colour, &opacity))
      Effect({"PolyEdge", Num(int64_t(p))}, kClassPoly, colour, kConstant, true, opacity);
    if (ShouldDrawPolyFaces(ctx_, host, &colour, &opacity)) {
      const uint32_t mode = SitePolyMode(c_, c_.atoms[host].site);
      const bool phong = (mode >= 8 && mode <= 10) || (mode >= 13 && mode <= 15);
      Effect({"PolyFace", Num(int64_t(p))}, kClassPoly, colour, phong ? kPhong : kLambert, true, opacity);
    }
  }
  // Atom types.
  const size_t types = UsableSphereSize(c_);
  for (uint32_t t = 0; t < types; t++) {
    if (!ShouldDrawSphere(ctx_, t))
      continue;
    const SphereRecord &s = c_.spheres[t];
    const uint32_t style = s.style;
    int shading = kLambert;
    bool useColour = true;
    if (style == 13 || style == 14)
      shading = kPhong;
    else if (style == 15 || style == 19)
      shading = kPhong, useColour = false;
    else if (style == 10 || style == 20)
      useColour = false;
    Effect({"Atom", Num(t)}, kClassAtom, s.colour, shading, useColour,
           style == AtomStylePhotoTranslucent ? kTranslucentAtomOpacity : 1.0f);
    if (c_.modelType == kStickModel) {
      RGBColor joint;
      uint32_t jointStyle = s.style;
      GetBallJointAttributes(&c_, t, joint, jointStyle);
      Effect({"Joint", Num(t)}, kClassAtom, joint, kLambert, false,
             jointStyle == AtomStylePhotoTranslucent ? kTranslucentAtomOpacity : 1.0f);
    }
  }
  if (c_.surfaceOverlay) {
    if (c_.cloudSameSphereColor)
      Effect({"Surface", ""}, kClassCloud, c_.cloudSphereColor, kLambert, true, c_.cloudSphereTransparency);
    else
      for (uint32_t t = 0; t < types; t++)
        Effect({"Surface", Num(t)}, kClassCloud, c_.spheres[t].colour, kLambert, true, c_.cloudSphereTransparency);
  }
  if (c_.showUnitCell)
    Effect({"UnitCell", ""}, kClassBond, c_.unitCellColor, kPhong, true, 1.0f);
  for (size_t v = 0; v < ctx_.gVectors.size(); v++)
    Effect({"Vector", Num(int64_t(v))}, kClassBond, c_.vectors[ctx_.gVectors[v]].colour, kLambert, true, 1.0f);
  if (!materials_.empty())
    Line("</library_effects>");
}

void Writer::WriteMaterials() {
  if (materials_.empty())
    return;
  Line("<library_materials>");
  for (size_t k = 0; k < materials_.size(); k++) {
    if (k == ellipsoidMaterialsFrom_ && k < ellipsoidMaterialsTo_)
      CheckAllocation(ctx_, "WriteEllipsoidMaterials");
    const EffectEntry &e = materials_[k];
    Out().append("<material id=\"OV").append(e.kind).append("Material").append(e.number).append("\">\n");
    Out().append("<instance_effect url=\"#OV").append(e.kind).append("Effect").append(e.number).append("\" />\n");
    Line("</material>");
    Out() += '\n';
    Done();
  }
  Line("</library_materials>");
}

// ---- Geometries -----------------------------------------------------------------------------

void Writer::Source(const std::string &prefix, const std::string &number, const char *what, const char *array,
                    const VertexArray &points, bool centred) {
  std::string &o = Out();
  const std::string id = prefix + array + number;
  o.append("<source id=\"").append(prefix).append(what).append("Src").append(number).append("\">\n");
  o.append("<float_array id=\"").append(id).append("\" count=\"");
  Int(o, int64_t(points.size()) * 3);
  o += "\">";
  if (centred) {
    Batch batch(o);
    for (const Vertex &p : points)
      batch.Point(p, c_.plotCentre, pointTexts_);
  } else {
    CachedText(o, normalTexts_, BytesOf(points), [&] {
      Batch batch(o);
      for (const Vertex &p : points) {
        batch.F3(p.x, " ");
        batch.F3(p.y, " ");
        batch.F3(p.z, "  ");
      }
    });
  }
  o += "</float_array>\n";
  Line("<technique_common>");
  o.append("<accessor source=\"#").append(id).append("\" count=\"");
  Int(o, int64_t(points.size()));
  o += "\" stride=\"3\">\n";
  Line("<param name=\"X\" type=\"float\" />");
  Line("<param name=\"Y\" type=\"float\" />");
  Line("<param name=\"Z\" type=\"float\" />");
  Line("</accessor>");
  Line("</technique_common>");
  Line("</source>");
}

void Writer::FrameStart(const std::string &prefix, const std::string &number) {
  OpenGeometries();
  Out().append("<geometry id=\"").append(prefix).append("Geometry").append(number).append("\">\n");
  Line("<mesh>");
}

void Writer::PolylistInputs(const std::string &prefix, const std::string &number) {
  Out()
      .append("<input offset=\"0\" semantic=\"VERTEX\" source=\"#")
      .append(prefix)
      .append("Vertices")
      .append(number)
      .append("\" />\n");
  Out()
      .append("<input offset=\"1\" semantic=\"NORMAL\" source=\"#")
      .append(prefix)
      .append("NormSrc")
      .append(number)
      .append("\" />\n");
}

void Writer::Sources(const std::string &prefix, const std::string &number, const VertexArray &positions,
                     const VertexArray &normals) {
  Source(prefix, number, "Pos", "Positions", positions, true);
  Source(prefix, number, "Norm", "Normals", normals, false);
  Out().append("<vertices id=\"").append(prefix).append("Vertices").append(number).append("\">\n");
  Out()
      .append("<input semantic=\"POSITION\" source=\"#")
      .append(prefix)
      .append("PosSrc")
      .append(number)
      .append("\" />\n");
  Line("</vertices>");
}

bool Writer::WriteAtomGeometries() {
  {
    VertexArray v, n;
    IndexArray ix;
    SideFlagArray sides;
    int64_t number = 0;
    bool ok = true;
    ForEachSiteAtom(c_, [&](uint32_t a, const AsymmetricUnitRecord &site) {
      if (!ok || !ShouldDrawAtom(ctx_, a))
        return;
      const AtomRecord &atom = c_.atoms[a];
      const SphereRecord &type = c_.spheres[atom.atomType];
      const Vertex centre{atom.cart[0], atom.cart[1], atom.cart[2]};
      AtomNode node;
      node.type = atom.atomType;
      Vertex axes[3];
      if (c_.modelType == kThermalEllipsoidModel && c_.ellipsoidData && !site.ignoreEllipsoid) {
        EllipsoidAxisEnds(ctx_, atom, axes);
        ok = GenerateEllipsoidVertices(ctx_, false, false, IsCutAwayEllipsoidStyle(site.ellipsoidStyle), axes, centre,
                                       v, n, sides, ix);
      } else {
        float radius = type.drawnRadius;
        if (c_.modelType == kStickModel && GetAtomConnectivity(ctx_, a) >= 2) {
          radius = BallJointRadius(ctx_);
          node.joint = true;
        }
        SphereAxisEnds(centre, radius, axes);
        ok = GenerateEllipsoidVertices(ctx_, IsTwoColourAtomStyle(type.style), IsEightSectorAtomStyle(type.style),
                                       false, axes, centre, v, n, sides, ix);
      }
      if (!ok) {
        generatorFailed_ = true;
        return;
      }
      const std::string id = Num(number);
      FrameStart("OVAtom", id);
      std::string &o = Out();
      const bool coloured = !sides.empty();
      if (coloured) {
        o.append("<source id=\"OVColorSrc").append(id).append("\">\n");
        o.append("<float_array id=\"OVColorArray").append(id).append("\" count=\"6\">1.0 1.0 1.0  ");
        F3(o, Channel(type.colour.red));
        o += ' ';
        F3(o, Channel(type.colour.green));
        o += ' ';
        F3(o, Channel(type.colour.blue));
        o += "  </float_array>\n";
        Line("<technique_common>");
        o.append("<accessor source=\"#OVColorArray").append(id).append("\" count=\"2\" stride=\"3\">\n");
        Line("<param name=\"R\" type=\"float\" />");
        Line("<param name=\"G\" type=\"float\" />");
        Line("<param name=\"B\" type=\"float\" />");
        Line("</accessor>");
        Line("</technique_common>");
        Line("</source>");
      }
      Sources("OVAtom", id, v, n);
      o.append("<triangles count=\"");
      Int(o, int64_t(ix.size() / 3));
      o.append("\" material=\"OVAtomTriangle").append(id).append("\">\n");
      o.append("<input offset=\"0\" semantic=\"VERTEX\" source=\"#OVAtomVertices").append(id).append("\" />\n");
      o.append("<input offset=\"0\" semantic=\"NORMAL\" source=\"#OVAtomNormSrc").append(id).append("\" />\n");
      if (coloured)
        o.append("<input offset=\"1\" semantic=\"COLOR\" source=\"#OVColorSrc").append(id).append("\" />\n");
      o += "<p>";
      // The corners and their colour sides, told apart by the corner count.
      const uint64_t corners = ix.size();
      cornerKey_.assign(reinterpret_cast<const char *>(&corners), sizeof corners);
      cornerKey_.append(reinterpret_cast<const char *>(ix.data()), ix.size() * sizeof(uint32_t));
      cornerKey_.append(reinterpret_cast<const char *>(sides.data()), sides.size());
      CachedText(o, cornerTexts_, cornerKey_, [&] {
        Batch batch(o);
        for (size_t k = 0; k < ix.size(); k++) {
          batch.IntSp(ix[k]);
          if (coloured)
            batch.IntSp(k < sides.size() && sides[k] ? 1 : 0);
        }
      });
      o += "</p>\n";
      Line("</triangles>");
      FrameEnd();
      WriteAttributes(a, axes, centre, id, node);
      atomNodes_.push_back(node);
      number++;
    });
    return ok;
  }
}

void Writer::WriteAttributes(uint32_t atom, const Vertex axes[3], const Vertex &centre, const std::string &id,
                             AtomNode &node) {
  VertexArray bands[4], normals;
  IndexArray ix[4];
  GenerateEllipsoidAttrVerts(ctx_, atom, axes, centre, bands, ix, normals);
  if (bands[0].empty() && bands[1].empty() && bands[2].empty() && bands[3].empty())
    return;
  VertexArray all;
  for (const VertexArray &b : bands)
    all.insert(all.end(), b.begin(), b.end());
  FrameStart("OVEllipseAttr", id);
  Sources("OVEllipseAttr", id, all, normals);
  std::string &o = Out();
  const size_t b1 = bands[0].size(), b2 = bands[1].size(), b3 = bands[2].size();
  if (!ix[3].empty()) {
    node.attrLines = true;
    o.append("<lines count=\"");
    Int(o, int64_t(ix[3].size() / 2));
    o.append("\" material=\"OVEllipseAttrLine").append(id).append("\">\n");
    o.append("<input offset=\"0\" semantic=\"VERTEX\" source=\"#OVEllipseAttrVertices").append(id).append("\" />\n");
    o += "<p>";
    for (uint32_t k : ix[3])
      IntSp(o, int64_t(k + b1 + b2 + b3));
    o += "</p>\n";
    Line("</lines>");
  }
  if (!ix[0].empty() || !ix[1].empty() || !ix[2].empty()) {
    node.attrBands = true;
    const int64_t polygons = int64_t(b1 + b2 + b3) / 2;
    o.append("<polylist count=\"");
    Int(o, polygons);
    o.append("\" material=\"OVEllipseAttrRectangle").append(id).append("\">\n");
    PolylistInputs("OVEllipseAttr", id);
    o += "<vcount> ";
    for (int64_t k = 0; k < polygons; k++)
      o += "4 ";
    o += "</vcount>\n<p> ";
    const size_t offsets[3] = {0, b1, b1 + b2}, normalOffsets[3] = {0, b1 / 2, b1 / 2 + b2 / 2};
    for (int b = 0; b < 3; b++)
      for (size_t i = 0; i < ix[b].size(); i++) {
        IntSp(o, int64_t(ix[b][i] + offsets[b]));
        IntSp(o, int64_t(i / 4 + normalOffsets[b]));
      }
    o += "</p>\n";
    Line("</polylist>");
  }
  FrameEnd();
}

bool Writer::WriteBondGeometries() {
  {
    VertexArray v, n;
    IndexArray ix;
    int64_t number = 0;
    for (const BondRec &bond : ctx_.gBonds.Records()) {
      const int64_t b = number++;
      uint32_t s = 0;
      GenerateBondVertices(ctx_, bond.start, bond.end, bond.pieces, &s, v, n, ix, true, bond.radiusA, bond.radiusB,
                           bond.bondRadius);
      if (v.empty())
        continue;
      const int64_t pieces = bond.pieces;
      const int64_t halves = pieces <= 1 ? 1 : 2;
      const size_t Q = size_t(pieces) * s * 4;
      const int64_t capNormal = int64_t(n.size()) - 2;
      for (int64_t h = 0; h < halves; h++) {
        if (!((h == 0 ? bond.opacity1 : bond.opacity2) > 0.0f))
          continue;
        auto mine = [&](uint32_t p) { return halves == 1 || p % 2 == uint32_t(h); };
        const std::string id = Pair(b, h);
        FrameStart("OVBond", id);
        Sources("OVBond", id, v, n);
        std::string &o = Out();
        o.append("<polylist count=\"");
        Int(o, (int64_t(Q) / 4 + 2 * pieces) / halves);
        o.append("\" material=\"OVBondRectangle").append(id).append("\">\n");
        PolylistInputs("OVBond", id);
        const Tube tube{ix, 0, s, bond.pieces, 0, 0, capNormal};
        o += "<vcount> ";
        TubeVcount(o, tube, mine);
        o += "</vcount>\n<p> ";
        TubeIndices(o, tube, mine);
        o += "</p>\n";
        Line("</polylist>");
        FrameEnd();
      }
    }
    return true;
  }
}

bool Writer::WritePolyGeometries() {
  {
    VertexArray v, n;
    IndexArray ix;
    EdgeSet edges;
    for (size_t p = 0; p < ctx_.gPolyHosts.size(); p++) {
      const uint32_t host = ctx_.gPolyHosts[p];
      const AtomRecord &atom = c_.atoms[host];
      GeneratePolyVertices(ctx_, atom, v, n, ix);
      const std::string id = Num(int64_t(p));
      FrameStart("OVPoly", id);
      Sources("OVPoly", id, v, n);
      std::string &o = Out();
      const bool withEdges = ShouldDrawPolyEdges(ctx_, host, nullptr, nullptr) && !ix.empty();
      const bool withFaces = ShouldDrawPolyFaces(ctx_, host, nullptr, nullptr) && !ix.empty();
      polyEdges_.push_back(withEdges);
      polyFaces_.push_back(withFaces);
      if (withEdges) {
        GeneratePolyEdges(*AtomPolyhedron(ctx_.gXP, atom), ix, edges);
        o.append("<lines count=\"");
        Int(o, int64_t(edges.Edges().size()));
        o.append("\" material=\"OVPolyEdge").append(id).append("\">\n");
        o.append("<input offset=\"0\" semantic=\"VERTEX\" source=\"#OVPolyVertices").append(id).append("\" />\n");
        o += "<p>";
        for (const EdgeRec &e : edges.Edges()) {
          IntSp(o, e.first);
          IntSp(o, e.second);
          o += ' ';
        }
        o += "</p>\n";
        Line("</lines>");
      }
      if (withFaces) {
        std::vector<size_t> counts;
        const Polyhedron &poly = *AtomPolyhedron(ctx_.gXP, atom);
        const size_t nFaces = std::min<size_t>(poly.faceCount, poly.faces.size());
        for (size_t f = 0; f < nFaces; f++) {
          const size_t count = std::min<size_t>(poly.faces[f].vertexCount, poly.faces[f].vertices.size());
          if (count >= 3)
            counts.push_back(count);
        }
        if (nFaces == 1 && counts.size() == 1)
          counts.push_back(counts[0]);
        o.append("<polylist count=\"");
        Int(o, int64_t(counts.size()));
        o.append("\" material=\"OVPolyFace").append(id).append("\">\n");
        PolylistInputs("OVPoly", id);
        o += "<vcount>";
        for (size_t k = 0; k < counts.size(); k++) {
          Int(o, int64_t(counts[k]));
          if (!(nFaces == 1 && k == 1))
            o += ' ';
        }
        o += "</vcount>\n<p>";
        size_t at = 0;
        for (size_t f = 0; f < counts.size(); f++)
          for (size_t k = 0; k < counts[f]; k++) {
            IntSp(o, ix[at++]);
            IntSp(o, int64_t(f));
          }
        o += "</p>\n";
        Line("</polylist>");
      }
      FrameEnd();
    }
    return true;
  }
}

bool Writer::WriteSurfaceGeometries() {
  if (!c_.surfaceOverlay)
    return true;
  {
    VertexArray v, n;
    IndexArray ix;
    SideFlagArray sides;
    int64_t number = 0;
    bool ok = true;
    ForEachSiteAtom(c_, [&](uint32_t a, const AsymmetricUnitRecord &) {
      const AtomRecord &atom = c_.atoms[a];
      if (!ok || atom.atomType >= UsableSphereSize(c_) || !(ShouldDrawAtom(ctx_, a) || atom.visible))
        return;
      const Vertex centre{atom.cart[0], atom.cart[1], atom.cart[2]};
      Vertex axes[3];
      SphereAxisEnds(centre, c_.cloudSphereRadFrac * c_.spheres[atom.atomType].radius, axes);
      if (!GenerateEllipsoidVertices(ctx_, false, false, false, axes, centre, v, n, sides, ix)) {
        ok = false;
        generatorFailed_ = true;
        return;
      }
      const std::string id = Num(number++);
      FrameStart("OVSurface", id);
      Sources("OVSurface", id, v, n);
      std::string &o = Out();
      o.append("<triangles count=\"");
      Int(o, int64_t(ix.size() / 3));
      o.append("\" material=\"OVSurfaceTriangle").append(id).append("\">\n");
      o.append("<input offset=\"0\" semantic=\"VERTEX\" source=\"#OVSurfaceVertices").append(id).append("\" />\n");
      o.append("<input offset=\"0\" semantic=\"NORMAL\" source=\"#OVSurfaceNormSrc").append(id).append("\" />\n");
      o += "<p>";
      for (uint32_t k : ix)
        IntSp(o, k);
      o += "</p>\n";
      Line("</triangles>");
      FrameEnd();
      surfaceTypes_.push_back(atom.atomType);
    });
    return ok;
  }
}

bool Writer::WriteUnitCellGeometries() {
  if (!c_.showUnitCell)
    return true;
  {
    std::vector<VertexArray> v, n;
    std::vector<IndexArray> ix;
    std::vector<uint32_t> pieces;
    uint32_t s = 0;
    if (!GenerateUnitCellVertices(ctx_, v, n, ix, pieces, &s, c_.unitCellLineWidth)) {
      generatorFailed_ = true;
      return false;
    }
    const int d = c_.unitCellOptions[1] ? 0 : 1;
    VertexArray allV, allN;
    int64_t quadSum = 0, pieceSum = 0;
    for (size_t e = 0; e < v.size(); e++) {
      allV.insert(allV.end(), v[e].begin(), v[e].end());
      allN.insert(allN.end(), n[e].begin(), n[e].end());
      if (v[e].empty())
        continue;
      quadSum += int64_t(size_t(pieces[e]) * s * 4) >> d;
      pieceSum += int64_t(pieces[e]) >> d;
    }
    FrameStart("OVUnitCell", "");
    Sources("OVUnitCell", std::string(), allV, allN);
    std::string &o = Out();
    o.append("<polylist count=\"");
    Int(o, quadSum / 4 + 2 * pieceSum);
    o.append("\" material=\"OVUnitCellRectangle\">\n");
    PolylistInputs("OVUnitCell", "");
    auto even = [d](uint32_t p) { return d == 0 || p % 2 == 0; };
    std::vector<Tube> tubes;
    int64_t vertexBase = 0, normalBase = 0;
    for (size_t e = 0; e < v.size(); e++) {
      if (!v[e].empty())
        tubes.push_back({ix[e], 0, s, pieces[e], vertexBase, normalBase, normalBase + int64_t(n[e].size()) - 2});
      vertexBase += int64_t(v[e].size());
      normalBase += int64_t(n[e].size());
    }
    o += "<vcount> ";
    for (const Tube &t : tubes)
      TubeVcount(o, t, even);
    o += "</vcount>\n<p> ";
    for (const Tube &t : tubes)
      TubeIndices(o, t, even);
    o += "</p>\n";
    Line("</polylist>");
    FrameEnd();
    return true;
  }
}

bool Writer::WriteVectorGeometries() {
  {
    VertexArray v, n;
    IndexArray ix;
    for (size_t k = 0; k < ctx_.gVectors.size(); k++) {
      uint32_t s = 0, H = 0;
      if (!GenerateVectorVertices(ctx_, c_.vectors[ctx_.gVectors[k]], v, n, ix, &s, &H)) {
        generatorFailed_ = true;
        return false;
      }
      const std::string id = Num(int64_t(k));
      FrameStart("OVVector", id);
      Sources("OVVector", id, v, n);
      std::string &o = Out();
      o.append("<polylist count=\"");
      Int(o, int64_t(s) + H + 3);
      o.append("\" material=\"OVVectorPolygon").append(id).append("\">\n");
      PolylistInputs("OVVector", id);
      const Tube shaft{ix, 0, s, 1, 0, 0, int64_t(s)};
      auto all = [](uint32_t) { return true; };
      o += "<vcount> ";
      TubeVcount(o, shaft, all);
      for (uint32_t i = 0; i < H; i++)
        o += "3 ";
      Int(o, H);
      o += "</vcount>\n<p> ";
      TubeIndices(o, shaft, all);
      const size_t caps = size_t(s) * 4;
      const size_t cone = caps + 2 * size_t(s);
      for (uint32_t t = 0; t < H; t++) {
        const int64_t normal[3] = {int64_t(s) + 3 + t, int64_t(s) + 3 + (t + 1) % H, int64_t(s) + 2};
        for (int c = 0; c < 3; c++) {
          IntSp(o, ix[cone + size_t(t) * 3 + size_t(c)]);
          IntSp(o, normal[c]);
        }
      }
      for (uint32_t i = 0; i < H; i++) {
        IntSp(o, ix[cone + size_t(H) * 3 + i]);
        IntSp(o, int64_t(n.size()) - 1);
      }
      o += "</p>\n";
      Line("</polylist>");
      FrameEnd();
    }
    return true;
  }
}

// ---- Lights, camera, scene ----------------------------------------------------------------

void Writer::WriteLights() {
  auto light = [&](const char *id, const char *kind, float intensity) {
    Out().append("<light id=\"").append(id).append("\">\n");
    Line("<technique_common>");
    Out().append("<").append(kind).append(">\n");
    Out() += "<color>";
    F6(Out(), intensity);
    Out() += ' ';
    F6(Out(), intensity);
    Out() += ' ';
    F6(Out(), intensity);
    Out() += "</color>\n";
    Out().append("</").append(kind).append(">\n");
    Line("</technique_common>");
    Line("</light>");
  };
  Line("<library_lights>");
  light("OVLightAmbient", "ambient", c_.ambientIntensity);
  light("OVLightPointSource0", "directional", c_.pointIntensity);
  light("OVLightPointSource1", "directional", c_.pointIntensity * 0.25f);
  Line("</library_lights>");
}

void Writer::WriteCamera() {
  float lo[3] = {FLT_MAX, FLT_MAX, FLT_MAX}, hi[3] = {-FLT_MAX, -FLT_MAX, -FLT_MAX};
  float r = -FLT_MAX;
  bool any = false;
  auto take = [&](const Vertex &p) {
    if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z))
      return;
    const float q[3] = {p.x, p.y, p.z};
    for (int k = 0; k < 3; k++) {
      lo[k] = std::min(lo[k], q[k]);
      hi[k] = std::max(hi[k], q[k]);
    }
    any = true;
  };
  ForEachSiteAtom(c_, [&](uint32_t a, const AsymmetricUnitRecord &site) {
    const AtomRecord &atom = c_.atoms[a];
    if (!atom.visible)
      return;
    take({atom.cart[0], atom.cart[1], atom.cart[2]});
    const uint32_t type = c_.molecule ? atom.atomType : site.atomType;
    if (type < UsableSphereSize(c_))
      r = std::max(r, c_.spheres[type].radius);
  });
  const size_t nVectors = UsableRecords(c_.vectors.size(), c_.vectorCount);
  for (size_t k = 0; k < nVectors; k++) {
    const VectorRecord &vec = c_.vectors[k];
    if (vec.atom >= UsableAtomSize(c_) || !c_.atoms[vec.atom].visible)
      continue;
    const AtomRecord &atom = c_.atoms[vec.atom];
    const float f[3] = {atom.xyz[0] + vec.uvw[0], atom.xyz[1] + vec.uvw[1], atom.xyz[2] + vec.uvw[2]};
    float t[3];
    MatMul(c_.orientationMatrix, f, t);
    take({t[0], t[1], t[2]});
    if (vec.style == 2)
      take({2.0f * atom.cart[0] - t[0], 2.0f * atom.cart[1] - t[1], 2.0f * atom.cart[2] - t[2]});
  }
  if (c_.showUnitCell)
    for (int corner = 0; corner < 8; corner++) {
      const float f[3] = {corner & 1 ? ctx_.gUnitCellMax[0] : ctx_.gUnitCellMin[0],
                          corner & 2 ? ctx_.gUnitCellMax[1] : ctx_.gUnitCellMin[1],
                          corner & 4 ? ctx_.gUnitCellMax[2] : ctx_.gUnitCellMin[2]};
      float t[3];
      MatMul(c_.orientationMatrix, f, t);
      take({t[0], t[1], t[2]});
    }
  // A model with nothing in it gets a small box about the origin.
  if (!any)
    for (int k = 0; k < 3; k++)
      lo[k] = hi[k] = 0.0f;
  if (!(r > 0.0f))
    r = any ? 0.0f : 1.0f;
  for (int k = 0; k < 3; k++)
    if (lo[k] == hi[k]) {
      lo[k] -= 2.0f * r;
      hi[k] += 2.0f * r;
    }
  const float R = 2.0f * r;
  const float ex = hi[0] - lo[0], ey = hi[1] - lo[1], ez = hi[2] - lo[2];
  const float w = ey > ex ? ey : ex;
  const float F = (w + R) * std::numbers::sqrt2_v<float>;
  const float Z = (ez + R) * std::numbers::sqrt2_v<float>;
  const float S = Z > F ? Z : F;
  viewDst_ = c_.perspective ? S + c_.viewDistance : S + S;
  std::string &o = Out();
  o += "<!-- ";
  F6(o, viewDst_);
  o += ' ';
  F6(o, hi[2]);
  o += ' ';
  F6(o, S);
  o += " -->\n";
  Line("<library_cameras>");
  Line("<camera id=\"OVCamera\">");
  Line("<optics>");
  Line("<technique_common>");
  const double zfar = std::fabs(double(viewDst_) + double(S) / 2.0);
  if (c_.perspective) {
    double fov = std::fabs(2.0 * std::atan((double(F) / 2.0) / (double(viewDst_) + double(hi[2]))) * kRadToDegrees);
    while (fov > 90.0)
      fov -= 90.0;
    Line("<perspective>");
    o += "<xfov>";
    F6(o, fov);
    o += "</xfov>\n<yfov>";
    F6(o, fov);
    o += "</yfov>\n";
  } else {
    Line("<orthographic>");
    o += "<xmag>";
    F6(o, S / 2.0);
    o += "</xmag>\n";
    Line("<aspect_ratio>1.0</aspect_ratio>");
  }
  o += "<znear>";
  F6(o, 1.0);
  o += "</znear>\n<zfar>";
  F6(o, zfar);
  o += "</zfar>\n";
  Line(c_.perspective ? "</perspective>" : "</orthographic>");
  Line("</technique_common>");
  Line("</optics>");
  Line("</camera>");
  Line("</library_cameras>");
}

void Writer::WriteCameraNodes() {
  std::string &o = Out();
  Line("<node name=\"OVCameraNode\">");
  Line("<translate>");
  F6(o, 0.0);
  o += ' ';
  F6(o, 0.0);
  o += ' ';
  F6(o, viewDst_);
  o += '\n';
  Line("</translate>");
  Line("<lookat>");
  F6(o, 0.0);
  o += ' ';
  F6(o, 0.0);
  o += ' ';
  F6(o, 0.0);
  o += '\n';
  F6(o, 0.0);
  o += ' ';
  F6(o, 0.0);
  o += ' ';
  F6(o, -viewDst_);
  o += '\n';
  Line("0 1 0");
  Line("</lookat>");
  Line("<instance_camera url=\"#OVCamera\" />");
  Line("</node>");
}

void Writer::BindBlock(const std::string &symbol, const std::string &target) {
  Line("<bind_material>");
  Line("<technique_common>");
  Out().append("<instance_material symbol=\"").append(symbol).append("\" target=\"#").append(target).append("\">\n");
  Out() += kBindVertexInput;
  Line("</instance_material>");
  Line("</technique_common>");
  Line("</bind_material>");
}

void Writer::WriteScene() {
  std::string &o = Out();
  Line("<library_visual_scenes>");
  Line("<visual_scene id=\"OVPlot\">");
  Line("<node name=\"OVPlotNode\">");
  Line("<rotate>0 1 0 135</rotate>");
  Line("<rotate>1 0 0 -25</rotate>");
  WriteCameraNodes();
  Line("<node name=\"OVLightAmbientNode\">");
  Line("<instance_light url=\"#OVLightAmbient\" />");
  Line("</node>");
  if (options_.useOVLighting) {
    const double x = c_.lightDirection[0], y = c_.lightDirection[1];
    const double z = std::clamp(double(c_.lightDirection[2]), -1.0, 1.0);
    const double e = std::asin(z) * kRadToDegrees;
    const double h = std::sqrt(x * x + y * y);
    double a = h < kFlatLightElevation ? 0.0 : std::asin(std::clamp(x / h, -1.0, 1.0)) * kRadToDegrees;
    if (h >= kFlatLightElevation) {
      if (y <= 0.0)
        a = 180.0 - a;
      else if (x < 0.0)
        a += 360.0;
    }
    auto wrap = [](double v) { return v < 0.0 ? v + 360.0 : v > 360.0 ? v - 360.0 : v; };
    const double tilt = wrap(90.0 - std::clamp(e, 0.0, 90.0));
    const double spin = wrap(90.0 - a);
    double tilt1 = tilt + 180.0;
    if (tilt1 > 360.0)
      tilt1 -= 360.0;
    for (int k = 0; k < 2; k++) {
      o.append("<node name=\"OVLightPointSourceNode").append(Num(k)).append("\">\n");
      o += "<rotate>0 0 1 ";
      F6(o, spin);
      o += "</rotate>\n<rotate>0 1 0 ";
      F6(o, k == 0 ? tilt : tilt1);
      o += "</rotate>\n";
      o.append("<instance_light url=\"#OVLightPointSource").append(Num(k)).append("\" />\n");
      Line("</node>");
    }
  }
  // Atoms.
  for (size_t k = 0; k < atomNodes_.size(); k++) {
    const AtomNode &node = atomNodes_[k];
    const std::string id = Num(int64_t(k)), type = Num(node.type);
    o.append("<node name=\"OVAtom").append(id).append("\">\n");
    o.append("<instance_geometry url=\"#OVAtomGeometry").append(id).append("\">\n");
    BindBlock("OVAtomTriangle" + id, (node.joint ? "OVJointMaterial" : "OVAtomMaterial") + type);
    Line("</instance_geometry>");
    if (node.attrLines || node.attrBands) {
      o.append("<instance_geometry url=\"#OVEllipseAttrGeometry").append(id).append("\">\n");
      Line("<bind_material>");
      Line("<technique_common>");
      if (node.attrLines) {
        o.append("<instance_material symbol=\"OVEllipseAttrLine")
            .append(id)
            .append("\" target=\"#OVEllipseAttrAxisMaterial")
            .append(type)
            .append("\">\n");
        o += kBindVertexInput;
        Line("</instance_material>");
      }
      if (node.attrBands) {
        o.append("<instance_material symbol=\"OVEllipseAttrRectangle")
            .append(id)
            .append("\" target=\"#OVEllipseAttrTraceMaterial")
            .append(type)
            .append("\">\n");
        o += kBindVertexInput;
        Line("</instance_material>");
      }
      Line("</technique_common>");
      Line("</bind_material>");
      Line("</instance_geometry>");
    }
    Line("</node>");
    o += '\n';
    Done();
  }
  // Bond halves.
  int64_t number = 0;
  for (const BondRec &bond : ctx_.gBonds.Records()) {
    const int64_t b = number++;
    const int halves = bond.pieces <= 1 ? 1 : 2;
    for (int h = 0; h < halves; h++) {
      if (!((h == 0 ? bond.opacity1 : bond.opacity2) > 0.0f))
        continue;
      const std::string id = Pair(b, h);
      o.append("<node name=\"OVBond").append(id).append("\">\n");
      o.append("<instance_geometry url=\"#OVBondGeometry").append(id).append("\">\n");
      BindBlock("OVBondRectangle" + id, "OVBondMaterial" + id);
      Line("</instance_geometry>");
      Line("</node>");
      o += '\n';
      Done();
    }
  }
  // Polyhedra.
  for (size_t p = 0; p < ctx_.gPolyHosts.size() && p < polyEdges_.size(); p++) {
    const std::string id = Num(int64_t(p));
    o.append("<node name=\"OVPoly").append(id).append("\">\n");
    o.append("<instance_geometry url=\"#OVPolyGeometry").append(id).append("\">\n");
    if (polyEdges_[p] || polyFaces_[p]) {
      Line("<bind_material>");
      Line("<technique_common>");
      if (polyEdges_[p])
        o.append("<instance_material symbol=\"OVPolyEdge")
            .append(id)
            .append("\" target=\"#OVPolyEdgeMaterial")
            .append(id)
            .append("\" />\n");
      if (polyFaces_[p])
        o.append("<instance_material symbol=\"OVPolyFace")
            .append(id)
            .append("\" target=\"#OVPolyFaceMaterial")
            .append(id)
            .append("\" />\n");
      Line("</technique_common>");
      Line("</bind_material>");
    }
    Line("</instance_geometry>");
    Line("</node>");
    o += '\n';
  }
  // Surface spheres.
  for (size_t k = 0; k < surfaceTypes_.size(); k++) {
    const std::string id = Num(int64_t(k));
    o.append("<node name=\"OVSurface").append(id).append("\">\n");
    o.append("<instance_geometry url=\"#OVSurfaceGeometry").append(id).append("\">\n");
    BindBlock("OVSurfaceTriangle" + id,
              c_.cloudSameSphereColor ? std::string("OVSurfaceMaterial") : "OVSurfaceMaterial" + Num(surfaceTypes_[k]));
    Line("</instance_geometry>");
    Line("</node>");
    o += '\n';
    Done();
  }
  if (c_.showUnitCell) {
    Line("<node name=\"OVUnitCell\">");
    Line("<instance_geometry url=\"#OVUnitCellGeometry\">");
    BindBlock("OVUnitCellRectangle", "OVUnitCellMaterial");
    Line("</instance_geometry>");
    Line("</node>");
    o += '\n';
  }
  for (size_t k = 0; k < ctx_.gVectors.size(); k++) {
    const std::string id = Num(int64_t(k));
    o.append("<node name=\"OVVector").append(id).append("\">\n");
    o.append("<instance_geometry url=\"#OVVectorGeometry").append(id).append("\">\n");
    BindBlock("OVVectorPolygon" + id, "OVVectorMaterial" + id);
    Line("</instance_geometry>");
    Line("</node>");
    o += '\n';
  }
  Line("</node>");
  Line("</visual_scene>");
  Line("</library_visual_scenes>");
  o += '\n';
  Line("<scene>");
  Line("<instance_visual_scene url=\"#OVPlot\" />");
  Line("</scene>");
  Line("</COLLADA>");
}

int Writer::Run() {
  Line("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\" ?>");
  Line("<COLLADA xmlns=\"http://www.collada.org/2005/11/COLLADASchema\" version=\"1.4.1\">");
  Line("<asset>");
  Line("<contributor>");
  Out().append("<authoring_tool> Orvalisphere for Linux ").append(options_.version).append(" </authoring_tool>\n");
  Line("</contributor>");
  std::tm utc{};
  gmtime_r(&options_.stamp, &utc);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
  Out().append("<created>").append(stamp).append("</created>\n");
  Out().append("<modified>").append(stamp).append("</modified>\n");
  Line("<up_axis>Y_UP</up_axis>");
  Line("</asset>");
  try {
    WriteEffects();
  } catch (const std::bad_alloc &) {
    AllocationFailureAlert("WriteEllipsoidEffects");
    return 0;
  }
  try {
    WriteMaterials();
  } catch (const std::bad_alloc &) {
    AllocationFailureAlert("WriteEllipsoidMaterials");
    return 0;
  }
  if (!Section("WriteAtomGeometries", &Writer::WriteAtomGeometries) ||
      !Section("WriteBondGeometriesCallback", &Writer::WriteBondGeometries) ||
      !Section("WritePolyGeometries", &Writer::WritePolyGeometries) ||
      !Section("WriteAtomGeometries", &Writer::WriteSurfaceGeometries) ||
      !Section("WriteUnitCellGeometries", &Writer::WriteUnitCellGeometries) ||
      !Section("WriteVectorGeometries", &Writer::WriteVectorGeometries))
    return 0;
  if (geometriesOpen_)
    Line("</library_geometries>");
  WriteLights();
  WriteCamera();
  WriteScene();
  return 1;
}

} // namespace

int WriteCrystalData(Export3DContext &ctx, const COLLADAOptions &options) {
  if (!MakeBondSet(ctx) || !MakePolyIndexList(ctx) || !MakeVecIndexList(ctx)) {
    ReleaseExportLists(ctx);
    return 0;
  }
  Writer writer(ctx, options);
  const int result = writer.Run();
  ReleaseExportLists(ctx);
  return result;
}
