#include "CrystalDocument.h"
#include "BackgroundPicture.h"

#include "Alerts.h"
#include "BuildPipeline.h"
#include "CacheWrites.h"
#include "DocumentArchive.h"
#include "DocumentTask.h"
#include "FileBuffer.h"
#include "PlotRange.h"
#include "StructureArrays.h"
#include "StoredValueRanges.h"
#include "UndoHistory.h"
#include "LongCommand.h"
#include "Polyhedra.h"
#include "render/PlotPipeline.h"
#include "window/MainWindowData.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>

DocumentWindowHooks gDocumentWindowHooks;

bool operator==(const DocumentWindowSettings &x, const DocumentWindowSettings &y) {
  return x.showRulers == y.showRulers && x.showSidebar == y.showSidebar && x.showNotes == y.showNotes &&
         x.showAtoms == y.showAtoms && x.sidebarWidth == y.sidebarWidth &&
         std::memcmp(&x.sidebarSplit, &y.sidebarSplit, sizeof(float)) == 0 &&
         x.notesFontName.view() == y.notesFontName.view() && x.notesFontSize == y.notesFontSize &&
         x.standardBounds == y.standardBounds;
}

namespace {

constexpr uint32_t kTagMap = FourCharsToLong("FMAP");
constexpr uint32_t kTagCrystal = FourCharsToLong("CRYS");
constexpr uint32_t kTagSymmetry = FourCharsToLong("SYMM");
constexpr uint32_t kTagView = FourCharsToLong("VIEW");
constexpr uint32_t kTagDisplay = FourCharsToLong("DISP");
constexpr uint32_t kTagPlane = FourCharsToLong("PLAN");
constexpr uint32_t kTagSites = FourCharsToLong("SITE");
// The sites' disorder assemblies and groups, after the sites; written only
// when some site has one, so that a document without disorder keeps its
// bytes, and skipped by readers that do not know it.
constexpr uint32_t kTagSiteDisorder = FourCharsToLong("SDIS");
// Per site, the flag byte its polyhedra take when they are made: written
// only while they are still to be made (an undo state), after the sites.
constexpr uint32_t kTagPendingPolyFlags = FourCharsToLong("PPFL");
// The sites' roles are still to be set from the document's bonds: written
// only by an undo state whose polyhedra are pending too, and empty.
constexpr uint32_t kTagPendingRoles = FourCharsToLong("RPND");
constexpr uint32_t kTagSpheres = FourCharsToLong("SPHR");
constexpr uint32_t kTagBondSpecs = FourCharsToLong("BSPC");
constexpr uint32_t kTagCustomBonds = FourCharsToLong("CBND");
constexpr uint32_t kTagAtoms = FourCharsToLong("ATO7");
constexpr uint32_t kTagOldAtoms = FourCharsToLong("ATOM");
constexpr uint32_t kTagPolyhedra = FourCharsToLong("POLY");
constexpr uint32_t kTagVectors = FourCharsToLong("VECT");
constexpr uint32_t kTagTextBoxes = FourCharsToLong("TBOX");
constexpr uint32_t kTagNotes = FourCharsToLong("NOTU");
constexpr uint32_t kTagStyledNotes = FourCharsToLong("NOTS");
constexpr uint32_t kTagWindow = FourCharsToLong("WIND");
constexpr uint32_t kTagPreview = FourCharsToLong("JPEG");

constexpr size_t kSectionHeaderSize = 8;
constexpr size_t kMapEntrySize = 12;

// The smallest stored size of one record of each counted section, used to
// refuse a count the section's bytes cannot hold before allocating for it.
constexpr size_t kMinSiteBytes = 100;
constexpr size_t kMinAtomBytes = 4 + 4 + 6 + 36 + 12 + 12 + 4 + 4;
constexpr size_t kMinSphereBytes = 2 + 4 + 4 + 4 + 6;
constexpr size_t kMinBondSpecBytes = 2 + 2 + 4 + 4 + 2 + 12;
constexpr size_t kMinCustomBondBytes = 4 + 4 + 2 + 12;
constexpr size_t kMinPolyhedronBytes = 4 + 4 + 1 + 4 + 4;
constexpr size_t kMinVectorBytes = 6 + 4 + 1 + 1 + 12 + 4 + 12 + 12 + 4;
constexpr size_t kMinTextBoxBytes = 60;
constexpr size_t kSiteDisorderBytes = 2 + 2;

// ---- Field lists ---------------------------------------------------------------

template <class A, RecordOf<CrystalRec> R> void XferCrystalHeader(A &a, R &c) {
  XferAll(a, c.molecule, c.esdFlag, c.ellipsoidData, c.cardCount, c.spaceGroup, c.originChoice, c.originShift,
          c.latticeLetter, c.a, c.b, c.c, c.alpha, c.beta, c.gamma, c.cellEsds, c.atomsPerCell, c.metricTensor);
}

template <class A, RecordOf<CrystalRec> R> void XferView(A &a, R &c) {
  XferAll(a, c.viewDirection, c.orientationMatrix, c.plotRange, c.na, c.nb, c.nc, c.plotScale, c.plotExtent,
          c.plotCentre, c.frontZ, c.backZ, c.minAtomRadius);
}

template <class A, RecordOf<CrystalRec> R> void XferDisplay(A &a, R &c) {
  XferAll(a, c.rulerUnits, c.showGrid, c.hiliteColor, c.stereoOn, c.stereoMode, c.kD, c.kA, c.kS, c.phongN,
          c.polyEdgeMode, c.ambientIntensity, c.pointIntensity, c.lightDirection, c.depthFading, c.lowerPlateauZ,
          c.lowerBaseZ, c.lowerMinOpacity, c.upperPlateauZ, c.upperBaseZ, c.upperMinOpacity, c.viewDistance,
          c.perspective, c.stereoAngle, c.stereoSeparation, c.modelType, c.surfaceOverlay, c.showUnitCell,
          c.showAxes, c.defaultAtomStyle, c.minBSSphereRadius, c.bsSphereRadFrac, c.defaultEllipsoidStyle,
          c.ellipsoidProbability, c.ellipsoidCriticalValue, c.ellipsoidSphereRadius, c.defaultPolyMode,
          c.defaultBondStyle, c.bondColor1, c.bondColor2, c.bondRadius, c.stickRadius, c.stickJointFactor,
          c.cloudSphereColor, c.cloudSphereType, c.cloudSphereRadFrac, c.cloudSphereTransparency,
          c.cloudSameSphereColor, c.unitCellLineWidth, c.unitCellColor, c.unitCellOptions, c.axesOption,
          c.axisColors, c.atomLabelType, c.atomLabelPos, c.labelFlag, c.labelSizeFollowsScale, c.labelFont,
          c.labelSize, c.backgroundGradient, c.gradientStyle, c.backgroundColor, c.gradientColors,
          c.gradientAngle, c.gradientScale, c.backgroundPictureMode);
}

template <class A, RecordOf<LatticePlane> R> void XferPlane(A &a, R &p) {
  XferAll(a, p.latticeNormal, p.viewNormal, p.spare, p.vertexCount);
  for (auto &v : p.vertices)
    XferAll(a, v.xyz, v.cart, v.pixel);
  XferAll(a, p.point, p.hkl, p.shown, p.colour, p.transparency);
}

// The site's polyhedron display mode is passed apart: a document holds one
// mode, composed from the given and the derived one where it is written, and
// the given one where it is read.
template <class A, RecordOf<AsymmetricUnitRecord> R, class M> void XferSite(A &a, R &s, M &polyMode) {
  XferAll(a, s.elements, s.occupancies, s.atomType, polyMode, s.atomStyle, s.ellipsoidStyle, s.label,
          s.coordination, s.visible, s.xyz, s.esd, s.ignoreEllipsoid, s.displacementType, s.tensor, s.isoValue,
          s.firstAtom, s.lastAtom, s.atomsPerCell);
}

template <class A, RecordOf<AsymmetricUnitRecord> R> void XferSiteDisorder(A &a, R &s) {
  XferAll(a, s.disorderAssembly, s.disorderGroup);
}

template <class A, RecordOf<SphereRecord> R> void XferSphere(A &a, R &s) {
  XferAll(a, s.element, s.style, s.radius, s.drawnRadius, s.colour);
}

template <class A, RecordOf<BondSpec> R> void XferBondSpec(A &a, R &s) {
  XferAll(a, s.elementA, s.elementB, s.minLength, s.maxLength, s.style, s.colour1, s.colour2);
}

template <class A, RecordOf<CustomBondSpec> R> void XferCustomBond(A &a, R &s) {
  XferAll(a, s.atomA, s.atomB, s.style, s.colour1, s.colour2);
}

// The fixed part of an atom, with the count of the bonds that follow.
template <class A, RecordOf<AtomRecord> R> void XferAtom(A &a, R &t, auto &bondCount) {
  XferAll(a, t.site, t.atomType, t.visible, t.selected, t.labelled, t.hasVector, t.flags, t.ellipsoidAxes, t.xyz,
          t.cart, t.pixel, bondCount);
}

template <class A, RecordOf<VectorRecord> R> void XferVector(A &a, R &v) {
  XferAll(a, v.colour, v.atom, v.selected, v.style, v.uvw, v.headRadius, v.tipXYZ, v.tipCart, v.tipPixel);
}

// The fixed part of an annotation object; its text follows.
template <class A, RecordOf<TextBoxRecord> R> void XferTextBox(A &a, R &t) {
  XferAll(a, t.kind, t.selected, t.visible, t.shadow, t.textColor, t.backColor, t.fontNumber, t.fontStyle,
          t.fontSize, t.justification, t.frame, t.fill, t.spare100, t.spareOne, t.spareScale, t.hasPointer,
          t.pointerTwoEnds, t.anchor, t.arrowHeads, t.pixel1, t.frac1, t.pixel2, t.frac2, t.boxRect, t.boxCentre);
}

template <class A> void XferWindow(A &a, DocumentWindowSettings &w) {
  XferAll(a, w.showRulers, w.showSidebar, w.showNotes, w.showAtoms, w.sidebarWidth, w.sidebarSplit,
          w.notesFontName, w.notesFontSize, w.standardBounds);
}

// ---- Writing --------------------------------------------------------------------

class DocumentWriter {
public:
  explicit DocumentWriter(uint32_t type) {
    BufferWriteTag(buf_, type);
    BufferWriteU16(buf_, kDocumentFormatVersion);
    BufferWriteU16(buf_, 0);
    BufferWriteU32(buf_, 0); // map offset, filled in at the end
    BufferWriteU32(buf_, 0); // map length
  }
  // Starts a section; the writer then appends its payload to buffer().
  void Begin(uint32_t tag) {
    start_ = buf_.out.size();
    BufferWriteTag(buf_, tag);
    BufferWriteU32(buf_, 0);
    tag_ = tag;
  }
  void End() {
    const size_t length = buf_.out.size() - start_ - kSectionHeaderSize;
    BufferPatchU32(buf_, start_ + 4, static_cast<uint32_t>(length));
    map_.push_back({tag_, static_cast<uint32_t>(start_), static_cast<uint32_t>(length)});
  }
  FileBuffer &buffer() { return buf_; }
  // Room for `bytes` more of the section, to be written in place: where it
  // starts in the buffer.
  size_t Room(size_t bytes) {
    const size_t at = buf_.out.size();
    buf_.out.resize(at + bytes);
    return at;
  }
  // Room for about `bytes` in all, so that a large document is not copied
  // as it grows.
  void Reserve(size_t bytes) { buf_.out.reserve(bytes); }
  std::vector<uint8_t> Finish() {
    const size_t mapStart = buf_.out.size();
    BufferWriteTag(buf_, kTagMap);
    BufferWriteU32(buf_, static_cast<uint32_t>(4 + kMapEntrySize * map_.size()));
    BufferWriteU32(buf_, static_cast<uint32_t>(map_.size()));
    for (const Entry &e : map_) {
      BufferWriteTag(buf_, e.tag);
      BufferWriteU32(buf_, e.offset);
      BufferWriteU32(buf_, e.length);
    }
    BufferPatchU32(buf_, 8, static_cast<uint32_t>(mapStart));
    BufferPatchU32(buf_, 12, static_cast<uint32_t>(4 + kMapEntrySize * map_.size()));
    return std::move(buf_.out);
  }

private:
  struct Entry {
    uint32_t tag, offset, length;
  };
  FileBuffer buf_;
  std::vector<Entry> map_;
  size_t start_ = 0;
  uint32_t tag_ = 0;
};

template <class Records, class Fn>
void WriteCounted(DocumentWriter &w, uint32_t tag, Records &records, size_t count, Fn fn) {
  w.Begin(tag);
  SectionWriter a{w.buffer()};
  BufferWriteU32(w.buffer(), static_cast<uint32_t>(count));
  for (size_t k = 0; k < count; k++)
    fn(a, records[k]);
  w.End();
}

// ---- Reading ----------------------------------------------------------------------

struct MapEntry {
  uint32_t tag;
  size_t offset; // of the payload
  size_t length;
};

// Checks the header and the map; the entries of a sound map, or a reason.
bool ReadDocumentMap(std::span<const uint8_t> bytes, uint32_t *type, std::vector<MapEntry> &entries,
                     std::string *message) {
  auto fail = [message](const char *why) {
    if (message)
      *message = why;
    return false;
  };
  if (bytes.empty())
    return fail("The file is empty.");
  FileBuffer head = FileBuffer::ForReading(bytes);
  uint32_t magic = 0, mapOffset = 0, mapLength = 0;
  uint16_t version = 0, reserved = 0;
  BufferReadTag(head, magic);
  if (head.status == 0 && (magic == kOldCrystalDocumentType || magic == kOldMoleculeDocumentType))
    return fail("The document is in an older layout that this version of Orvalisphere does not read.");
  if (head.status != 0 || (magic != kCrystalDocumentType && magic != kMoleculeDocumentType))
    return fail("The file is not an Orvalisphere document.");
  BufferReadU16(head, version);
  BufferReadU16(head, reserved);
  BufferReadU32(head, mapOffset);
  BufferReadU32(head, mapLength);
  if (head.status != 0)
    return fail("The document is truncated.");
  if (version < kDocumentFormatVersion)
    return fail("The document is in an older layout that this version of Orvalisphere does not read.");
  if (mapOffset < kDocumentHeaderSize || mapOffset > bytes.size() ||
      bytes.size() - mapOffset < kSectionHeaderSize + static_cast<size_t>(mapLength))
    return fail("The document is truncated or damaged: its file map lies past the end.");
  if (mapOffset == kDocumentHeaderSize)
    return fail("The document is damaged: its file map comes first.");
  FileBuffer map = FileBuffer::ForReading(bytes.subspan(mapOffset, kSectionHeaderSize + mapLength));
  uint32_t mapTag = 0, declared = 0, count = 0;
  BufferReadTag(map, mapTag);
  BufferReadU32(map, declared);
  BufferReadU32(map, count);
  if (map.status != 0 || mapTag != kTagMap || declared != mapLength || count > map.Remaining() / kMapEntrySize)
    return fail("The document is damaged: its file map is not sound.");
  entries.clear();
  for (uint32_t k = 0; k < count; k++) {
    uint32_t tag = 0, offset = 0, length = 0;
    BufferReadTag(map, tag);
    BufferReadU32(map, offset);
    BufferReadU32(map, length);
    if (offset < kDocumentHeaderSize || offset > mapOffset ||
        mapOffset - offset < kSectionHeaderSize + static_cast<size_t>(length))
      return fail("The document is truncated or damaged: a section lies past the end.");
    FileBuffer sh = FileBuffer::ForReading(bytes.subspan(offset, kSectionHeaderSize));
    uint32_t shTag = 0, shLength = 0;
    BufferReadTag(sh, shTag);
    BufferReadU32(sh, shLength);
    if (shTag != tag || shLength != length)
      return fail("The document is damaged: its file map does not match its sections.");
    entries.push_back({tag, offset + kSectionHeaderSize, length});
  }
  *type = magic;
  return true;
}

// A count that the remaining bytes can hold at `minBytes` a record; 0 and a
// failed buffer otherwise.
bool ReadCount(FileBuffer &b, size_t minBytes, uint32_t limit, uint32_t &count) {
  count = 0;
  if (BufferReadU32(b, count) != 0)
    return false;
  if (count > limit || count > b.Remaining() / minBytes) {
    b.status = kBufferReadOverrun;
    count = 0;
    return false;
  }
  return true;
}

constexpr uint32_t kNoLimit = 0x7FFFFFFF;

// A counted array: its count, checked against the bytes left, then each
// record through `fn`; the record's count follows the array.
template <class T, class Fn>
bool ReadRecords(FileBuffer &b, size_t minBytes, std::vector<T> &records, int32_t &count, Fn fn) {
  uint32_t n = 0;
  if (!ReadCount(b, minBytes, kNoLimit, n))
    return false;
  records.assign(n, T{});
  for (T &r : records)
    if (!fn(r))
      return false;
  count = static_cast<int32_t>(n);
  return b.status == 0;
}

bool IndicesSound(const CrystalRec &c, std::string *why) {
  const auto nSites = c.sites.size(), nAtoms = c.atoms.size(), nTypes = c.spheres.size();
  for (const AsymmetricUnitRecord &s : c.sites) {
    if (nTypes > 0 && s.atomType >= nTypes) {
      *why = "a site names an atom type that does not exist";
      return false;
    }
    if (s.lastAtom >= s.firstAtom && (s.firstAtom < 0 || static_cast<size_t>(s.lastAtom) >= nAtoms)) {
      *why = "a site names atoms that do not exist";
      return false;
    }
  }
  for (const AtomRecord &t : c.atoms) {
    if (t.site >= nSites || (nTypes > 0 && t.atomType >= nTypes)) {
      *why = "an atom names a site or an atom type that does not exist";
      return false;
    }
    for (uint32_t b : t.bonds)
      if (b >= nAtoms) {
        *why = "a bond names an atom that does not exist";
        return false;
      }
    if (!t.polyhedron.Misfit(nAtoms).empty()) {
      *why = "a polyhedron names an atom that does not exist";
      return false;
    }
  }
  for (const CustomBondSpec &s : c.customBondSpecs)
    if (s.atomA >= nAtoms || s.atomB >= nAtoms) {
      *why = "a bond style names an atom that does not exist";
      return false;
    }
  for (const VectorRecord &v : c.vectors)
    if (v.atom >= nAtoms) {
      *why = "a vector names an atom that does not exist";
      return false;
    }
  return true;
}

// Steps the document task, if any: true once it was stopped.
bool StepTask() {
  DocumentTask *task = DocumentTask::Current();
  return task && task->Step();
}

bool TaskStopped() {
  DocumentTask *task = DocumentTask::Current();
  return task && task->Stopped();
}

bool ReadSection(uint32_t tag, FileBuffer &b, CrystalRec &c, DocumentExtras *extras) {
  SectionReader a{b};
  uint32_t n = 0;
  switch (tag) {
  case kTagCrystal:
    XferCrystalHeader(a, c);
    c.spaceGroup[kSpaceGroupSymbolSize - 1] = '\0';
    c.cardCount = 0; // the cards and their count come with SYMM
    break;
  case kTagSymmetry:
    if (!ReadCount(b, kSymcardSize, kMaxSymCards, n))
      return false;
    for (uint32_t k = 0; k < n; k++) {
      BufferReadBytes(b, c.symCards[k].data(), kSymcardSize);
      c.symCards[k][kSymcardSize - 1] = '\0';
    }
    c.cardCount = static_cast<uint16_t>(n);
    break;
  case kTagView:
    XferView(a, c);
    break;
  case kTagDisplay: {
    XferDisplay(a, c);
    uint32_t pathLength = 0;
    if (BufferReadU32(b, pathLength) == 0 && pathLength <= b.Remaining()) {
      std::string path(pathLength, '\0');
      BufferReadBytes(b, path.data(), pathLength);
      SetCrystalBackgroundImage(&c, path);
      // A picture that is not there (the document came from elsewhere) is
      // not drawn, but its name stays with the document.
      if (!c.backgroundPictureImage)
        c.backgroundPicture = path;
    } else {
      return false;
    }
    break;
  }
  case kTagPlane:
    XferPlane(a, c.plane);
    if (c.plane.vertexCount > kLatticePlaneMaxVertices)
      return false;
    break;
  case kTagSites:
    return ReadRecords(b, kMinSiteBytes, c.sites, c.siteCount, [&](AsymmetricUnitRecord &s) {
      uint32_t mode = 0;
      XferSite(a, s, mode);
      SetGivenPolyMode(s, mode);
      s.label[kSiteLabelSize - 1] = '\0';
      return true;
    });
  case kTagSiteDisorder:
    // One entry per site of the SITE section before it.
    if (!ReadCount(b, kSiteDisorderBytes, kNoLimit, n) || n != c.sites.size())
      return false;
    for (AsymmetricUnitRecord &s : c.sites)
      XferSiteDisorder(a, s);
    break;
  case kTagPendingPolyFlags:
    if (!ReadCount(b, 1, kNoLimit, n) || n != c.sites.size())
      return false;
    c.derived.DueFlags().resize(n);
    for (uint8_t &flag : c.derived.DueFlags())
      Xfer(a, flag);
    break;
  case kTagPendingRoles:
    c.derived.LeaveRolesDue(c);
    break;
  case kTagSpheres:
    return ReadRecords(b, kMinSphereBytes, c.spheres, c.sphereCount, [&](SphereRecord &s) {
      XferSphere(a, s);
      return true;
    });
  case kTagBondSpecs:
    if (!ReadCount(b, kMinBondSpecBytes, kMaxBondSpecs, n))
      return false;
    for (uint32_t k = 0; k < n; k++)
      XferBondSpec(a, c.bondSpecs[k]);
    c.bondSpecCount = static_cast<int32_t>(n);
    break;
  case kTagCustomBonds:
    return ReadRecords(b, kMinCustomBondBytes, c.customBondSpecs, c.customBondSpecCount, [&](CustomBondSpec &s) {
      XferCustomBond(a, s);
      return true;
    });
  case kTagAtoms:
    return ReadRecords(b, kMinAtomBytes, c.atoms, c.atomCount, [&, read = size_t{0}](AtomRecord &t) mutable {
      if (++read % kDocumentRecordsPerStep == 0 && StepTask())
        return false;
      XferAtom(a, t, t.bondCount);
      if (b.status != 0 || t.bondCount > b.Remaining() / 4)
        return false;
      t.bonds.resize(t.bondCount);
      for (uint32_t &bond : t.bonds)
        BufferReadU32(b, bond);
      return true;
    });
  case kTagPolyhedra:
    if (!ReadCount(b, kMinPolyhedronBytes, kNoLimit, n))
      return false;
    for (uint32_t k = 0; k < n; k++) {
      if ((k + 1) % kDocumentRecordsPerStep == 0 && StepTask())
        return false;
      uint32_t atom = 0;
      Polyhedron p;
      XferAll(a, atom, p.centreAtom, p.flag, p.vertexCount, p.faceCount);
      if (b.status != 0 || atom >= c.atoms.size() || p.faceCount > b.Remaining() / 4)
        return false;
      p.faces.resize(p.faceCount);
      for (PolyFace &f : p.faces) {
        Xfer(a, f.vertexCount);
        if (b.status != 0 || f.vertexCount > b.Remaining() / 4)
          return false;
        f.vertices.resize(f.vertexCount);
        for (uint32_t &v : f.vertices)
          Xfer(a, v);
      }
      c.atoms[atom].polyhedron.Hold(std::move(p));
    }
    break;
  case kTagVectors:
    return ReadRecords(b, kMinVectorBytes, c.vectors, c.vectorCount, [&](VectorRecord &v) {
      XferVector(a, v);
      return true;
    });
  case kTagTextBoxes:
    return ReadRecords(b, kMinTextBoxBytes, c.textBoxes, c.textBoxCount, [&](TextBoxRecord &t) {
      XferTextBox(a, t);
      Xfer(a, t.textLength);
      if (b.status != 0 || t.textLength > b.Remaining() / 2)
        return false;
      t.text.resize(t.textLength);
      for (char16_t &u : t.text) {
        uint16_t unit = 0;
        BufferReadU16(b, unit);
        u = unit;
      }
      return true;
    });
  case kTagNotes:
    if (extras) {
      std::u16string text(b.capacity / 2, u'\0');
      for (char16_t &u : text) {
        uint16_t unit = 0;
        BufferReadU16(b, unit);
        u = unit;
      }
      extras->notes = Utf16ToUtf8(text);
    }
    return true;
  case kTagStyledNotes:
    if (extras) {
      extras->styledNotes.assign(reinterpret_cast<const char *>(b.start), b.capacity);
    }
    return true;
  case kTagWindow:
    if (extras) {
      XferWindow(a, extras->window);
      extras->hasWindowSettings = b.status == 0;
    }
    break;
  case kTagPreview:
    if (extras)
      extras->preview.assign(b.start, b.start + b.capacity);
    return true;
  default:
    return true; // a section of a later version: skipped
  }
  return b.status == 0;
}

// Between a window's record and the settings a document keeps of it, in
// either direction.
void CopyWindowSettings(MainWindowData &data, DocumentWindowSettings &w, bool toWindow = false) {
  auto copy = [toWindow](auto &windowField, auto &docField) {
    if (toWindow)
      windowField = docField;
    else
      docField = windowField;
  };
  copy(data.showRulers, w.showRulers);
  copy(data.showSidebar, w.showSidebar);
  copy(data.showNotes, w.showNotes);
  copy(data.showAtoms, w.showAtoms);
  copy(data.sidebarWidth, w.sidebarWidth);
  copy(data.sidebarSplit, w.sidebarSplit);
  copy(data.notesFontName, w.notesFontName);
  copy(data.notesFontSize, w.notesFontSize);
  copy(data.standardBounds, w.standardBounds);
}

// The polyhedron of an atom that a document holds: none while the
// structure's polyhedra are pending (the document leaves them so), so that
// the encoding makes none, on any thread.
const Polyhedron *StoredPolyhedron(const CrystalRec &c, const AtomRecord &t) { return AtomPolyhedronAsHeld(c, t); }

// The bonds of an atom that the atoms section holds: as many as it really
// has.
uint32_t StoredBondCount(const AtomRecord &t) {
  return static_cast<uint32_t>(UsableRecords(t.bonds.size(), static_cast<int32_t>(t.bondCount)));
}

// What the atoms [from, to) take in the atoms section and in the polyhedra
// section, and how many polyhedra they hold.
struct AtomsLayout {
  size_t atomBytes = 0;
  size_t polyhedronBytes = 0;
  size_t polyhedra = 0;

  AtomsLayout &operator+=(const AtomsLayout &o) {
    atomBytes += o.atomBytes;
    polyhedronBytes += o.polyhedronBytes;
    polyhedra += o.polyhedra;
    return *this;
  }
};

AtomsLayout MeasureAtoms(const CrystalRec &c, size_t from, size_t to) {
  AtomsLayout layout;
  layout.atomBytes = (to - from) * kMinAtomBytes;
  for (size_t k = from; k < to; k++) {
    const AtomRecord &t = c.atoms[k];
    layout.atomBytes += 4 * size_t{StoredBondCount(t)};
    const Polyhedron *p = StoredPolyhedron(c, t);
    if (!p)
      continue;
    layout.polyhedra++;
    layout.polyhedronBytes += kMinPolyhedronBytes + 4 * p->faces.size();
    for (const PolyFace &f : p->faces)
      layout.polyhedronBytes += 4 * f.vertices.size();
  }
  return layout;
}

// About the size of the document: the atoms, their bonds and polyhedra
// exactly, the rest generously.
size_t EstimatedDocumentBytes(const CrystalRec &c, const DocumentExtras &extras, const AtomsLayout &atoms) {
  size_t bytes = 64 * 1024 + 2 * (extras.notes.size() + extras.styledNotes.size()) + extras.preview.size();
  bytes += c.sites.size() * 256 + c.vectors.size() * 128 + c.textBoxes.size() * 512;
  return bytes + atoms.atomBytes + atoms.polyhedronBytes;
}

// Asked by an encoder every so many records: true to give up.
using PieceStop = std::function<bool()>;
// How long the main thread sleeps at most between steps of its task while
// it waits for the encoding threads.
constexpr int kWaitStepMilliseconds = 2;

// Where the atoms of a range end once written: in the atoms section and in
// the polyhedra section; none when the writing gave up.
struct PlacedEnds {
  uint8_t *atoms = nullptr;
  uint8_t *polyhedra = nullptr;
};

// The atoms [from, to) written into the room made for them (MeasureAtoms):
// each atom's fields and its bonds at `atoms`, each of their polyhedra after
// its atom's number at `polyhedra`.
PlacedEnds PlaceAtoms(const CrystalRec &c, size_t from, size_t to, uint8_t *atoms, uint8_t *polyhedra,
                      const PieceStop &stop) {
  PlacedWriter a{atoms};
  PlacedWriter p{polyhedra};
  for (size_t k = from; k < to; k++) {
    if ((k - from) % kDocumentRecordsPerStep == kDocumentRecordsPerStep - 1 && stop())
      return {};
    const AtomRecord &t = c.atoms[k];
    const uint32_t bonds = StoredBondCount(t);
    XferAtom(a, t, bonds);
    a.Words(t.bonds.data(), bonds);
    const Polyhedron *poly = StoredPolyhedron(c, t);
    if (!poly)
      continue;
    const uint32_t atom = static_cast<uint32_t>(k);
    const uint32_t faceCount = static_cast<uint32_t>(poly->faces.size());
    XferAll(p, atom, poly->centreAtom, poly->flag, poly->vertexCount, faceCount);
    for (const PolyFace &f : poly->faces) {
      const uint32_t vc = static_cast<uint32_t>(f.vertices.size());
      Xfer(p, vc);
      p.Words(f.vertices.data(), vc);
    }
  }
  return {a.at, p.at};
}

// Below this many atoms a section is encoded in one piece.
constexpr size_t kAtomsPerPiece = 32768;
constexpr unsigned kMaxPieces = 8;

// How many ranges `count` atoms are encoded in.
size_t PieceCount(size_t count) {
  return std::clamp<size_t>(count / kAtomsPerPiece, 1,
                            std::clamp(std::thread::hardware_concurrency(), 1u, kMaxPieces));
}

// `work(piece, from, to, stop)` over [0, count) in `pieces` ranges taken in
// order, the ranges after the first on threads of their own; what each
// answered, in order. A range whose thread cannot start is worked here.
// `stop()` answers whether to give up: on the main thread it steps the
// document task (if any), on the others it reads the task's flag; the main
// thread steps the task while it waits for the others. None when the task
// was stopped.
template <class Work>
auto InPieces(size_t count, size_t pieces, const Work &work)
    -> std::optional<std::vector<decltype(work(size_t{}, size_t{}, size_t{}, PieceStop{}))>> {
  std::vector<decltype(work(size_t{}, size_t{}, size_t{}, PieceStop{}))> out(pieces);
  const auto bound = [&](size_t piece) { return count * piece / pieces; };
  DocumentTask *task = DocumentTask::Current();
  const PieceStop onMain = [task] { return task && task->Step(); };
  const PieceStop onWorker = [task] { return task && task->Stopped(); };
  std::mutex mutex;
  std::condition_variable done;
  size_t finished = 0;
  std::vector<std::thread> workers;
  for (size_t piece = 1; piece < pieces; piece++) {
    try {
      workers.emplace_back([&, piece] {
        out[piece] = work(piece, bound(piece), bound(piece + 1), onWorker);
        const std::lock_guard<std::mutex> lock(mutex);
        finished++;
        done.notify_one();
      });
    } catch (const std::system_error &) {
      out[piece] = work(piece, bound(piece), bound(piece + 1), onMain);
    }
  }
  out[0] = work(0, 0, bound(1), onMain);
  if (task) {
    std::unique_lock<std::mutex> lock(mutex);
    while (!done.wait_for(lock, std::chrono::milliseconds(kWaitStepMilliseconds),
                          [&] { return finished == workers.size(); })) {
      lock.unlock();
      task->Step();
      lock.lock();
    }
  }
  for (std::thread &worker : workers)
    worker.join();
  if (task && task->Stopped())
    return std::nullopt;
  return out;
}

void Alert(std::string_view message, std::string_view explanation) { MyCFStopAlert(message, explanation); }

} // namespace

std::vector<uint8_t> EncodeCrystalDocument(const CrystalRec &crystal, const DocumentExtras &extras,
                                           PendingRoles roles) {
  const CrystalRec &c = crystal;
  // An undo state of a structure whose roles were derived when first needed
  // holds the modes they were composed with, and the roles to be derived
  // again; every other document the modes the sites show.
  const DerivedLayers &layers = c.derived;
  const size_t siteCount = UsableSiteSize(c);
  const bool givenModes =
      roles == PendingRoles::kKept && layers.PolyhedraDue() && layers.ModesBeforeRoles().size() == siteCount;
  // The atoms and their polyhedra are measured first, so that the document
  // has room for them at once and each range of them is written in place.
  const size_t nAtoms = UsableAtomSize(c);
  const size_t pieces = PieceCount(nAtoms);
  const auto layouts = InPieces(nAtoms, pieces, [&c](size_t, size_t from, size_t to, const PieceStop &) {
    return MeasureAtoms(c, from, to);
  });
  if (!layouts)
    return {};
  AtomsLayout atoms;
  for (const AtomsLayout &piece : *layouts)
    atoms += piece;
  DocumentWriter w(c.molecule ? kMoleculeDocumentType : kCrystalDocumentType);
  FileBuffer &b = w.buffer();
  SectionWriter a{b};
  w.Reserve(EstimatedDocumentBytes(c, extras, atoms));

  w.Begin(kTagCrystal);
  XferCrystalHeader(a, c);
  w.End();

  const uint16_t cards = std::min<uint16_t>(c.cardCount, kMaxSymCards);
  w.Begin(kTagSymmetry);
  BufferWriteU32(b, cards);
  for (uint16_t k = 0; k < cards; k++)
    BufferWriteBytes(b, c.symCards[k].data(), kSymcardSize);
  w.End();

  w.Begin(kTagView);
  XferView(a, c);
  w.End();

  w.Begin(kTagDisplay);
  XferDisplay(a, c);
  const std::string picture = c.backgroundPicture.string();
  BufferWriteU32(b, static_cast<uint32_t>(picture.size()));
  BufferWriteBytes(b, picture.data(), picture.size());
  w.End();

  w.Begin(kTagPlane);
  XferPlane(a, c.plane);
  w.End();

  WriteCounted(w, kTagSites, c.sites, siteCount, [&, s = size_t{0}](auto &ar, auto &site) mutable {
    const uint32_t mode = givenModes ? layers.ModesBeforeRoles()[s] : ShownPolyMode(site);
    ++s;
    XferSite(ar, site, mode);
  });
  if (std::any_of(c.sites.begin(), c.sites.begin() + static_cast<ptrdiff_t>(UsableSiteSize(c)),
                  [](const AsymmetricUnitRecord &s) { return s.disorderAssembly != 0 || s.disorderGroup != 0; }))
    WriteCounted(w, kTagSiteDisorder, c.sites, UsableSiteSize(c),
                 [](auto &ar, auto &s) { XferSiteDisorder(ar, s); });
  const std::vector<uint8_t> &dueFlags = layers.DueFlags();
  if (layers.PolyhedraDue() && !dueFlags.empty() && dueFlags.size() == UsableSiteSize(c))
    WriteCounted(w, kTagPendingPolyFlags, dueFlags, dueFlags.size(), [](auto &ar, auto &flag) { Xfer(ar, flag); });
  if (layers.RolesDue() || givenModes) {
    w.Begin(kTagPendingRoles);
    w.End();
  }
  WriteCounted(w, kTagSpheres, c.spheres, UsableSphereSize(c), [](auto &ar, auto &s) { XferSphere(ar, s); });
  WriteCounted(w, kTagBondSpecs, c.bondSpecs,
               static_cast<size_t>(std::clamp(c.bondSpecCount, 0, kMaxBondSpecs)),
               [](auto &ar, auto &s) { XferBondSpec(ar, s); });
  WriteCounted(w, kTagCustomBonds, c.customBondSpecs,
               UsableRecords(c.customBondSpecs.size(), c.customBondSpecCount),
               [](auto &ar, auto &s) { XferCustomBond(ar, s); });

  w.Begin(kTagAtoms);
  BufferWriteU32(b, static_cast<uint32_t>(nAtoms));
  const size_t atomsAt = w.Room(atoms.atomBytes);
  w.End();
  size_t polyhedraAt = 0;
  if (atoms.polyhedra > 0) {
    w.Begin(kTagPolyhedra);
    BufferWriteU32(b, static_cast<uint32_t>(atoms.polyhedra));
    polyhedraAt = w.Room(atoms.polyhedronBytes);
    w.End();
  }
  // Each range starts where the ranges before it end.
  std::vector<PlacedEnds> starts(pieces);
  PlacedEnds next{b.out.data() + atomsAt, b.out.data() + polyhedraAt};
  for (size_t piece = 0; piece < pieces; piece++) {
    starts[piece] = next;
    next.atoms += (*layouts)[piece].atomBytes;
    next.polyhedra += (*layouts)[piece].polyhedronBytes;
  }
  const auto ends = InPieces(nAtoms, pieces, [&](size_t piece, size_t from, size_t to, const PieceStop &stop) {
    return PlaceAtoms(c, from, to, starts[piece].atoms, starts[piece].polyhedra, stop);
  });
  if (!ends)
    return {};

  WriteCounted(w, kTagVectors, c.vectors, UsableRecords(c.vectors.size(), c.vectorCount),
               [](auto &ar, auto &v) { XferVector(ar, v); });

  const size_t nBoxes = UsableRecords(c.textBoxes.size(), c.textBoxCount);
  w.Begin(kTagTextBoxes);
  BufferWriteU32(b, static_cast<uint32_t>(nBoxes));
  for (size_t k = 0; k < nBoxes; k++) {
    const TextBoxRecord &t = c.textBoxes[k];
    XferTextBox(a, t);
    const uint32_t length = static_cast<uint32_t>(t.text.size());
    Xfer(a, length);
    for (char16_t u : t.text)
      BufferWriteU16(b, u);
  }
  w.End();

  if (!extras.notes.empty()) {
    w.Begin(kTagNotes);
    for (char16_t u : Utf8ToUtf16(extras.notes))
      BufferWriteU16(b, u);
    w.End();
  }
  if (!extras.styledNotes.empty()) {
    w.Begin(kTagStyledNotes);
    BufferWriteBytes(b, extras.styledNotes.data(), extras.styledNotes.size());
    w.End();
  }
  if (extras.hasWindowSettings) {
    DocumentWindowSettings settings = extras.window;
    w.Begin(kTagWindow);
    XferWindow(a, settings);
    w.End();
  }
  if (!extras.preview.empty()) {
    w.Begin(kTagPreview);
    BufferWriteBytes(b, extras.preview.data(), extras.preview.size());
    w.End();
  }
  return w.Finish();
}

std::span<const uint8_t> DocumentStructureBytes(std::span<const uint8_t> bytes) {
  if (bytes.size() < kDocumentHeaderSize)
    return {};
  FileBuffer b = FileBuffer::ForReading(bytes);
  BufferSkip(b, kDocumentHeaderSize);
  for (;;) {
    const size_t at = b.cursor;
    uint32_t tag = 0, length = 0;
    if (BufferReadTag(b, tag) != 0 || BufferReadU32(b, length) != 0 || tag == kTagNotes || tag == kTagStyledNotes ||
        tag == kTagWindow || tag == kTagPreview || tag == kTagMap || BufferSkip(b, length) != 0)
      return bytes.subspan(kDocumentHeaderSize, at - kDocumentHeaderSize);
  }
}

bool DecodeCrystalDocument(std::span<const uint8_t> bytes, CrystalRec &crystal, DocumentExtras *extras,
                           std::string *message, std::string_view source) {
  ClearCrystalRec(&crystal);
  if (extras)
    *extras = DocumentExtras{};
  uint32_t type = 0;
  std::vector<MapEntry> entries;
  if (!ReadDocumentMap(bytes, &type, entries, message))
    return false;
  // The header section first, so the others know the structure's kind.
  std::stable_partition(entries.begin(), entries.end(), [](const MapEntry &e) { return e.tag == kTagCrystal; });
  if (entries.empty() || entries.front().tag != kTagCrystal) {
    if (message)
      *message = "The document is damaged: its structure header is missing.";
    return false;
  }
  // Atoms before polyhedra, which attach to them.
  std::stable_partition(entries.begin() + 1, entries.end(), [](const MapEntry &e) { return e.tag != kTagPolyhedra; });
  for (const MapEntry &e : entries) {
    FileBuffer b = FileBuffer::ForReading(bytes.subspan(e.offset, e.length));
    if (!ReadSection(e.tag, b, crystal, extras)) {
      char tag[5] = {};
      LongToFourChars(e.tag, tag);
      if (message)
        *message = TaskStopped() ? std::string(kDocumentStoppedReason)
                                 : std::string("The document is damaged: its section '") + tag + "' is not sound.";
      ClearCrystalRec(&crystal);
      return false;
    }
  }
  std::string why;
  if (!IndicesSound(crystal, &why)) {
    if (message)
      *message = "The document is damaged: " + why + ".";
    ClearCrystalRec(&crystal);
    return false;
  }
  crystal.molecule = type == kMoleculeDocumentType ? 1 : crystal.molecule;
  // A structure saved with its polyhedra still to be made (or with none)
  // makes them from its bonds when they are first needed.
  crystal.derived.SetPolyhedraDue(
      std::none_of(entries.begin(), entries.end(), [](const MapEntry &e) { return e.tag == kTagPolyhedra; }));
  if (!crystal.derived.PolyhedraDue()) {
    crystal.derived.DueFlags().clear();
    crystal.derived.DropDueRoles();
  }
  if (extras && extras->hasWindowSettings)
    CheckStoredField(stored::kSidebarSplit, extras->window.sidebarSplit, DocumentWindowSettings{}.sidebarSplit,
                     source);
  StoredValueReport values;
  if (!CheckStoredValues(crystal, &values, source)) {
    if (message)
      *message = StoredValueRefusal(values);
    ClearCrystalRec(&crystal);
    return false;
  }
  if (crystal.derived.RolesDue())
    crystal.derived.LeaveRolesDue(crystal); // for the record as read whole
  return true;
}

bool ReadCrystalFile(CrystalRec *crystal, const std::filesystem::path &file, DocumentExtras *extras) {
  if (!crystal)
    return false;
  const DocumentTask task(kDocumentReadStatus, true);
  const std::string name = "\"" + file.filename().string() + "\"";
  std::vector<uint8_t> bytes;
  std::string reason;
  FinishCacheWriteOf(file); // an undo state still being written is read whole
  if (!ReadWholeFile(file, bytes, &reason)) {
    if (task.Stopped())
      FWrite(std::string(kDocumentReadStoppedLog) + name + ".");
    else
      Alert(kDocumentReadAlert, name + " could not be read: " + reason + ".");
    return false;
  }
  if (!DecodeCrystalDocument(bytes, *crystal, extras, &reason, file.filename().string())) {
    if (task.Stopped())
      FWrite(std::string(kDocumentReadStoppedLog) + name + ".");
    else
      Alert(kDocumentReadAlert, name + " could not be read. " + reason); // the file, however it was opened
    return false;
  }
  return true;
}

bool WriteCrystalFile(CrystalRec &crystal, const DocumentExtras &extras, const std::filesystem::path &file) {
  const std::string name = "\"" + file.filename().string() + "\"";
  // A file is read as it stands, by other versions too: polyhedra still
  // pending are made for it (once: later saves of the same structure write
  // them again), and a stop there stops the save. A save is no change: they
  // stay pending afterwards, so the structure (and what its undo states and
  // modified mark compare) stays as it was.
  const PolyhedraForSave polyhedra(crystal);
  if (!polyhedra.Ready()) {
    FWrite(std::string(kDocumentWriteStoppedLog) + name + kDocumentWriteStoppedTail);
    return false;
  }
  DeriveDueSiteRoles(crystal);
  const DocumentTask task(kDocumentWriteStatus, true);
  const std::vector<uint8_t> bytes = EncodeCrystalDocument(crystal, extras);
  std::string reason;
  if (task.Stopped() || !WriteFileAtomically(file, bytes, &reason)) {
    if (task.Stopped())
      FWrite(std::string(kDocumentWriteStoppedLog) + name + kDocumentWriteStoppedTail);
    else
      Alert(kDocumentWriteAlert, name + " could not be written (" + reason + "); the file on disk was left as it was.");
    return false;
  }
  return true;
}

namespace {

// The file's modification time (nanoseconds since the epoch) and size;
// false when it cannot be examined.
bool FileTimeAndSize(const std::filesystem::path &file, int64_t *time, int64_t *size) {
  struct stat st = {};
  if (::stat(file.c_str(), &st) != 0)
    return false;
  *time = int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec;
  *size = int64_t{st.st_size};
  return true;
}

} // namespace

void NoteDocumentFileOnDisk(WindowRef window, const std::filesystem::path &file) {
  MainWindowData *data = GetMainWindowData(window);
  if (!data)
    return;
  data->notedFile.clear();
  if (FileTimeAndSize(file, &data->notedFileTime, &data->notedFileSize))
    data->notedFile = file;
}

bool DocumentChangedOnDisk(WindowRef window, const std::filesystem::path &file) {
  const MainWindowData *data = GetMainWindowData(window);
  int64_t time = 0, size = 0;
  if (!data || data->notedFile.empty() || data->notedFile != file || !FileTimeAndSize(file, &time, &size))
    return false;
  return time != data->notedFileTime || size != data->notedFileSize;
}

bool IsDocumentReadOnly(const std::filesystem::path &file) {
  struct stat st = {};
  if (::stat(file.c_str(), &st) != 0)
    return false; // nothing there to overwrite
  return ::access(file.c_str(), W_OK) != 0 || (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

DocumentExtras WindowNotesExtras(WindowRef window) {
  DocumentExtras extras;
  if (gDocumentWindowHooks.getNotes)
    extras.notes = gDocumentWindowHooks.getNotes(window);
  if (gDocumentWindowHooks.getStyledNotes)
    extras.styledNotes = gDocumentWindowHooks.getStyledNotes(window);
  return extras;
}

bool DoWriteCrystalFile(WindowRef window, const std::filesystem::path &file) {
  MainWindowData *data = GetMainWindowData(window);
  if (!data)
    return false;
  // The preview, the encoding and the writing are one command: the status
  // window times them all, and Escape stops the save.
  const LongCommand command;
  DocumentExtras extras = WindowNotesExtras(window);
  if (gDocumentWindowHooks.copyWindowPreview)
    extras.preview = gDocumentWindowHooks.copyWindowPreview(window);
  extras.hasWindowSettings = true;
  CopyWindowSettings(*data, extras.window);
  if (!WriteCrystalFile(data->crystal, extras, file))
    return false;
  NoteWindowDocumentSaved(window);
  if (gDocumentWindowHooks.setWindowFile)
    gDocumentWindowHooks.setWindowFile(window, file);
  return true;
}

namespace {

// A document read into the window's structure, its notes unless
// `keepNotes`, and when asked the window's settings.
bool PutDocumentIntoWindow(WindowRef window, CrystalRec &&read, DocumentExtras &extras, bool windowSettings,
                           bool keepNotes) {
  MainWindowData *data = GetMainWindowData(window);
  if (!data)
    return false;
  data->crystal = std::move(read);
  // A scale the reader put back to 0 is fitted to the window.
  if (data->crystal.plotScale == 0.0f) {
    DimensionPlot(&data->crystal, data->crystal.plotCentre, &data->crystal.plotExtent);
    AutoSetScale(window);
    if (data->crystal.plotScale == 0.0f)
      data->crystal.plotScale = CrystalRec{}.plotScale;
  }
  if (windowSettings && extras.hasWindowSettings)
    CopyWindowSettings(*data, extras.window, true);
  const bool styled = keepNotes || (!extras.styledNotes.empty() && gDocumentWindowHooks.setStyledNotes &&
                                    gDocumentWindowHooks.setStyledNotes(window, extras.styledNotes));
  if (!styled && gDocumentWindowHooks.setNotes)
    gDocumentWindowHooks.setNotes(window, extras.notes);
  SetWindowFileOpen(window, true);
  return true;
}

} // namespace

bool LoadCrystalFileIntoWindow(WindowRef window, const std::filesystem::path &file, bool windowSettings,
                               bool keepNotes) {
  if (!GetMainWindowData(window))
    return false;
  CrystalRec read;
  DocumentExtras extras;
  return ReadCrystalFile(&read, file, &extras) &&
         PutDocumentIntoWindow(window, std::move(read), extras, windowSettings, keepNotes);
}

bool OpenCrystalFile(WindowRef window, const std::filesystem::path &file) {
  // Stopped at any stage (the reading, the plot, the first undo state), an
  // open gives up its window: the plot is left as far as it got.
  const LongCommand command;
  CrystalRec read;
  DocumentExtras extras;
  return GetMainWindowData(window) && ReadCrystalFile(&read, file, &extras) &&
         OpenCrystalFile(window, file, std::move(read), std::move(extras));
}

bool OpenCrystalFile(WindowRef window, const std::filesystem::path &file, CrystalRec &&read, DocumentExtras &&extras) {
  const LongCommand command;
  if (!PutDocumentIntoWindow(window, std::move(read), extras, true, false))
    return false;
  ResetOffScreen(window);
  {
    const StoppedPlotsLeftUnfinished leaveUnfinished;
    NewPlot(window, false, true);
  }
  if (LongCommandCancelled()) {
    FWrite(std::string(kDocumentReadStoppedLog) + "\"" + file.filename().string() + "\".");
    return false;
  }
  if (HostServices *host = GetHostServices())
    host->ShowWindow(window);
  // The structure shown is the one just read: its plot's change is settled
  // with the undo state it makes, not compared before.
  if (MainWindowData *d = GetMainWindowData(window))
    d->markStale = 0;
  OVClearWindowModified(window);
  if (gDocumentWindowHooks.setWindowFile)
    gDocumentWindowHooks.setWindowFile(window, file);
  UpdateFloatingWindows();
  return true;
}

bool GetNumAtomsInCrystalFile(const std::filesystem::path &file, uint32_t *count) {
  if (!count)
    return false;
  *count = 0;
  std::FILE *f = std::fopen(file.c_str(), "rb");
  if (!f)
    return false;
  struct Closer {
    std::FILE *f;
    ~Closer() { std::fclose(f); }
  } closer{f};
  // Only the header, the map and the atoms section's first bytes are read:
  // the count of a large document comes without loading it.
  uint8_t header[kDocumentHeaderSize];
  if (MyFSReadBytes(f, header, sizeof header) != 0)
    return false;
  FileBuffer h = FileBuffer::ForReading(header);
  uint32_t magic = 0, mapOffset = 0, mapLength = 0;
  uint16_t version = 0, reserved = 0;
  BufferReadTag(h, magic);
  BufferReadU16(h, version);
  BufferReadU16(h, reserved);
  BufferReadU32(h, mapOffset);
  BufferReadU32(h, mapLength);
  if ((magic != kCrystalDocumentType && magic != kMoleculeDocumentType) || version < kDocumentFormatVersion)
    return false;
  if (mapOffset <= kDocumentHeaderSize)
    return false;
  if (std::fseek(f, static_cast<long>(mapOffset), SEEK_SET) != 0) {
    MyCFCautionAlert("Error Repositioning File");
    return false;
  }
  uint32_t mapTag = 0, declared = 0, entries = 0;
  if (MyFSReadTag(f, mapTag) || MyFSReadU32(f, declared) || MyFSReadU32(f, entries) || mapTag != kTagMap ||
      declared != mapLength || entries > mapLength / kMapEntrySize)
    return false;
  for (uint32_t k = 0; k < entries; k++) {
    uint32_t tag = 0, offset = 0, length = 0;
    if (MyFSReadTag(f, tag) || MyFSReadU32(f, offset) || MyFSReadU32(f, length))
      return false;
    if (tag != kTagAtoms && tag != kTagOldAtoms)
      continue;
    if (std::fseek(f, static_cast<long>(offset) + static_cast<long>(kSectionHeaderSize), SEEK_SET) != 0) {
      MyCFCautionAlert("Error Repositioning File");
      return false;
    }
    if (tag == kTagAtoms) {
      uint32_t n = 0;
      if (length < 4 || MyFSReadU32(f, n))
        return false;
      *count = n;
    } else {
      uint16_t n = 0;
      if (length < 2 || MyFSReadU16(f, n))
        return false;
      *count = n;
    }
    return true;
  }
  return false;
}

int16_t FSRefGetFileType(const std::filesystem::path &file, uint32_t *type) {
  if (!type)
    return -50;
  *type = 0;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(file, ec))
    return -43;
  std::ifstream in(file, std::ios::binary);
  char magic[4] = {};
  if (in.read(magic, 4)) {
    const uint32_t code = FourCharsToLong(magic);
    if (code == kCrystalDocumentType || code == kMoleculeDocumentType || code == kOldCrystalDocumentType ||
        code == kOldMoleculeDocumentType) {
      *type = code;
      return 0;
    }
  }
  std::string ext = file.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char ch) { return std::tolower(ch); });
  if (ext == ".ovdf" || ext == ".ovmf")
    return -39; // named as a document but not one
  *type = kTextFileType;
  return 0;
}
