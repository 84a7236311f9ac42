#include "export/OwnTextWriter.h"

#include "export/CIFWriter.h"
#include "export/ExportFrame.h"
#include "window/MainWindowData.h"

#include "Alerts.h"
#include "BondSearch.h"
#include "HostServices.h"
#include "SpaceGroups.h"
#include "SymmetryCards.h"
#include "VectorMath.h"
#include "documents/FileBuffer.h"
#include "import/TextNumbers.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

constexpr size_t kMaxTitleBytes = 248; // "TITL  " and the title within one line

std::string F(double v, int precision = 6, int width = 0) { return FormatFixed(v, precision, width); }

std::string Element(ElementCode code) {
  char s[3] = {};
  ShortToTwoChars(code, s);
  return std::string(s, 2);
}

std::string Colour(const RGBColor &c, int precision, int width) {
  return F(c.red / 65535.0, precision, width) + " " + F(c.green / 65535.0, precision, width) + " " +
         F(c.blue / 65535.0, precision, width);
}

std::string PadLabel(const std::string &label, size_t width) {
  return label.size() >= width ? label : label + std::string(width - label.size(), ' ');
}

// The bond specifications as the file's reader takes them: the maximum and
// the minimum in the three decimals written (a minimum of 0 is not written);
// a maximum written as 0 or less is no specification.
std::vector<BondSpec> SpecificationsAsRead(const CrystalRec &c) {
  std::vector<BondSpec> specs;
  const int count = std::clamp(c.bondSpecCount, 0, kMaxBondSpecs);
  for (int k = 0; k < count; k++) {
    BondSpec s = c.bondSpecs[static_cast<size_t>(k)];
    const std::optional<float> written = ParseFloatToken(F(s.maxLength, 3));
    if (!written || *written <= 0.0f)
      continue;
    const std::optional<float> least = ParseFloatToken(F(s.minLength, 3));
    s.minLength = s.minLength > 0.0f && least && *least < *written ? *least : 0.0f;
    s.maxLength = *written;
    specs.push_back(s);
  }
  return specs;
}

bool InBondsList(const AtomRecord &atom, uint32_t other) {
  return std::find(atom.bonds.begin(), atom.bonds.end(), other) != atom.bonds.end();
}

// The bond search's rule for one pair of atoms this far apart (squared,
// single precision) under a specification of their elements.
bool WithinSpecification(const BondSpec &s, float d2) {
  return SpecificationBondsPair(d2, s.minLength * s.minLength, s.maxLength * s.maxLength);
}

bool SamePair(const BondSpec &s, const BondSpec &t) {
  return (s.elementA == t.elementA && s.elementB == t.elementB) ||
         (s.elementA == t.elementB && s.elementB == t.elementA);
}

// True when a run of the element has atoms.
bool ElementHasAtoms(const CrystalRec &c, const std::vector<ElementIndexEntry> &list, ElementCode element) {
  for (const ElementIndexEntry &run : TurboFindElementRuns(list, element))
    if (TurboGetElementAtomRange(&c, run, nullptr, nullptr))
      return true;
  return false;
}

} // namespace

std::optional<TextFileBondChanges> CompareBondsWithTextFile(CrystalRec &crystal) {
  const CrystalRec &c = crystal;
  const size_t nAtoms = UsableAtomSize(c);
  TextFileBondChanges changes;
  // The structure's bonds, each once (every bond stands in both atoms'
  // lists); those the file gives are taken off below.
  for (size_t i = 0; i < nAtoms; i++) {
    const BondList &bonds = c.atoms[i].bonds;
    for (auto at = bonds.begin(); at != bonds.end(); ++at)
      if (*at > i && *at < nAtoms && std::find(bonds.begin(), at, *at) == at)
        changes.leftOut++;
  }
  const std::vector<BondSpec> specs = SpecificationsAsRead(c);
  if (specs.empty())
    return std::nullopt; // the reader makes its own by the automatic search
  if (c.atomCount < 2 || nAtoms < 2)
    return changes; // the file gives no bond
  const auto list = TurboIndexElements(&crystal);
  if (!list)
    return changes;
  // The search the reader runs over the same atoms, pair by pair as the bond
  // search finds them: the second element's atoms in range are the
  // candidates, the first element's atoms the queries. A pair counts once,
  // for the first specification that bonds it.
  uint64_t given = 0;
  bool complete = true;
  CandidateIndex index;
  for (size_t k = 0; k < specs.size() && complete; k++) {
    const BondSpec &spec = specs[k];
    if (!ElementHasAtoms(c, *list, spec.elementA) || !ElementHasAtoms(c, *list, spec.elementB))
      continue;
    if (!index.GetIndexedAtoms(&crystal, TurboFindElementRuns(*list, spec.elementB)) || !index.SortByX()) {
      complete = false;
      break;
    }
    const bool sameElement = spec.elementA == spec.elementB;
    for (const ElementIndexEntry &run : TurboFindElementRuns(*list, spec.elementA)) {
      int32_t first = 0, last = -1;
      if (!TurboGetElementAtomRange(&c, run, &first, &last))
        continue;
      for (int32_t a = first; a <= last; a++) {
        const AtomRecord &atom = c.atoms[static_cast<size_t>(a)];
        if (!FracCoordsInRange(&c, atom.xyz))
          continue;
        const int32_t hits = index.BoxAtoms(atom.cart, spec.maxLength);
        for (int32_t h = 0; h < hits; h++) {
          const TurboAtom &cand = index[index.Boxed()[static_cast<size_t>(h)]];
          if (sameElement && !(cand.atom < static_cast<uint32_t>(a)))
            continue;
          const float dx = cand.xyz[0] - atom.cart[0];
          const float dy = cand.xyz[1] - atom.cart[1];
          const float dz = cand.xyz[2] - atom.cart[2];
          const float d2 = dx * dx + dy * dy + dz * dz;
          if (!WithinSpecification(spec, d2))
            continue;
          bool earlier = false;
          for (size_t e = 0; e < k && !earlier; e++)
            earlier = SamePair(specs[e], spec) && WithinSpecification(specs[e], d2);
          if (earlier)
            continue;
          if (InBondsList(atom, cand.atom))
            given++;
          else
            changes.added++;
        }
      }
    }
  }
  if (!complete)
    return std::nullopt;
  changes.leftOut -= static_cast<int64_t>(given);
  return changes;
}

namespace {

// Tells in the Log how the bonds of a written text file differ from the
// structure's: those it leaves out and those its specifications add.
void NoteBondsOfTextFile(CrystalRec &c) {
  const std::optional<TextFileBondChanges> changes = CompareBondsWithTextFile(c);
  if (!changes)
    return;
  char text[320];
  if (const int64_t n = changes->leftOut; n > 0) {
    std::snprintf(text, sizeof text,
                  n == 1 ? "%lld bond of this structure is not written: a text file keeps only the bond "
                           "specifications, and they do not give it. The Orvalisphere document keeps it."
                         : "%lld bonds of this structure are not written: a text file keeps only the bond "
                           "specifications, and they do not give them. The Orvalisphere document keeps them.",
                  static_cast<long long>(n));
    FWrite(text);
  }
  if (const int64_t n = changes->added; n > 0) {
    std::snprintf(text, sizeof text,
                  n == 1 ? "%lld bond that this structure does not have comes with the text file: its bond "
                           "specifications give it when the file is opened. The Orvalisphere document keeps "
                           "the structure's own bonds."
                         : "%lld bonds that this structure does not have come with the text file: its bond "
                           "specifications give them when the file is opened. The Orvalisphere document keeps "
                           "the structure's own bonds.",
                  static_cast<long long>(n));
    FWrite(text);
  }
}

} // namespace

std::string TextFileLabel(const AsymmetricUnitRecord &site, size_t siteIndex) {
  std::string label(CStrView(std::span<const char>(site.label)));
  for (char &ch : label) {
    const auto u = static_cast<uint8_t>(ch);
    if (u <= 32 || u >= 128)
      ch = '_';
  }
  if (label.empty()) {
    char s[3] = {};
    ShortToTwoChars(site.elements[0], s);
    label = std::string(s[1] == ' ' ? std::string_view(s, 1) : std::string_view(s, 2)) + std::to_string(siteIndex + 1);
  }
  return label;
}

std::string FormatTextFile(const CrystalRec &c, std::string_view title, std::string_view notes) {
  const size_t nSites = UsableSiteSize(c), nAtoms = UsableAtomSize(c), nTypes = UsableSphereSize(c);
  if (nSites == 0 || nAtoms == 0 || nTypes == 0)
    return {};
  std::string o;
  o.reserve(256 + (c.molecule ? nAtoms : nSites) * 64);
  if (c.molecule)
    o += "MOLE  Orvalisphere molecule format\n";
  o += "TITL  " + CutUtf8(title.substr(0, title.find_first_of("\r\n")), kMaxTitleBytes) + "\n";
  if (!notes.empty()) {
    o += "NOTE\n";
    WriteTextNote(o, notes);
    o += "\n";
  }

  if (!c.molecule) {
    o += "! Unit cell parameters\n";
    o += "CELL  " + F(c.a) + " " + F(c.b) + " " + F(c.c) + "  " + F(c.alpha) + " " + F(c.beta) + " " + F(c.gamma) +
         "\n";
    if (c.esdFlag)
      o += "\n! Errors in the cell parameters\nERRC  " + F(c.cellEsds[0]) + " " + F(c.cellEsds[1]) + " " +
           F(c.cellEsds[2]) + "  " + F(c.cellEsds[3]) + " " + F(c.cellEsds[4]) + " " + F(c.cellEsds[5]) + "\n";
    // The cards are regenerated from the symbol, in copies, before the
    // lattice letter is written, so that the letter written is the one the
    // cards belong to; the structure keeps its own.
    const bool bySymbol = static_cast<uint8_t>(c.spaceGroup[0]) >= 33;
    std::string symbol(CStrView(std::span<const char>(c.spaceGroup)));
    std::array<Symcard, kMaxSymCards> symCards = c.symCards;
    char lattice = c.latticeLetter;
    uint16_t cardCount = c.cardCount;
    if (bySymbol)
      Spaceg(symbol, c.originChoice, c.alpha, c.beta, c.gamma, lattice, cardCount, std::span<Symcard>(symCards));
    o += "\n! Lattice type\nLATC  ";
    o += lattice;
    o += "\n\n";
    if (bySymbol)
      o += "! Spacegroup symbol:  " + symbol + "\n";
    const int cards = std::min<int>(cardCount, kMaxSymCards);
    o += "! Total of " + std::to_string(cards) + " general equivalent positions (excl. lattice operators)\n";
    for (int k = 0; k < cards; k++)
      o += "SYMM  " + std::string(CardText(symCards[static_cast<size_t>(k)])) + "\n";
    if (c.originShift[0] != 0.0f || c.originShift[1] != 0.0f || c.originShift[2] != 0.0f)
      o += "\n! Origin Offset\nOSHF  " + F(c.originShift[0]) + " " + F(c.originShift[1]) + " " +
           F(c.originShift[2]) + "\n";
    o += "\n! Plot range (min/max along x, y and z axes)\nXYZR ";
    for (float v : c.plotRange)
      o.append(1, ' ').append(F(v));
    o += "\n";
  }

  o += "\n! Model type\nMODL  " + std::to_string(c.modelType) + "\n";
  o += "\n! Background colour\nBKCL  " + Colour(c.backgroundColor, 4, 6) + "\n";
  o += "\n! Bond colour\nBNCL  " + Colour(c.bondColor1, 4, 6) + "\n";
  o += "\n! Relative bond radii for ball-and-stick and stick plots\nBRAD  " + F(c.bondRadius, 4, 8) + " " +
       F(c.stickRadius, 4, 8) + "\n";
  o += "\n! Illumination direction\nLTDN  " + F(c.lightDirection[0]) + " " + F(c.lightDirection[1]) + " " +
       F(c.lightDirection[2]) + "\n";
  if (c.depthFading)
    o += "\n! Depth fading settings\nDCUE  " + F(c.lowerMinOpacity) + " " + F(c.lowerBaseZ) + " " +
         F(c.lowerPlateauZ) + "\n";
  o += "\n! Atom, bond, polyhedral and surface rendering coefficients\n";
  const char *renderCards[4] = {"AREN", "BREN", "PREN", "SREN"};
  for (int k = 0; k < 4; k++)
    o += std::string(renderCards[k]) + "  " + F(c.kA[k]) + " " + F(c.kD[k]) + " " + F(c.kS[k]) + " " +
         std::to_string(c.phongN[k]) + "\n";
  o += "\n! Unit cell visibility (1=true; 0 = false)\n";
  o += c.showUnitCell ? "SHCL  1\n" : "SHCL  0\n";
  if (c.perspective)
    o += "\n! Perspective view distance\nPRSP  " + F(c.viewDistance, 2) + "\n";

  if (!c.molecule) {
    float sumM = 0.0f, sumV = 0.0f;
    for (float v : c.orientationMatrix)
      sumM += std::fabs(v);
    for (float v : c.viewDirection)
      sumV += std::fabs(v);
    if (sumM > 0.0f) {
      const float *m = c.orientationMatrix;
      o += "\n! Orientation matrix: 11 12 13; 21 22 23; 31 32 33\nOMAT ";
      for (int r = 0; r < 3; r++) {
        for (int k = 0; k < 3; k++)
          o.append(1, ' ').append(F(m[3 * r + k], 3));
        if (r < 2)
          o.append(1, ' ');
      }
      o += "\n";
    } else if (sumV > 0.0f) {
      o += "\n! View direction as [UVW]\nVIEW  " + F(c.viewDirection[0]) + " " + F(c.viewDirection[1]) + " " +
           F(c.viewDirection[2]) + "\n";
    }
  }

  const int specs = std::clamp(c.bondSpecCount, 0, kMaxBondSpecs);
  if (specs > 0) {
    o += "\n! Bond specifications\n";
    for (int k = 0; k < specs; k++) {
      const BondSpec &s = c.bondSpecs[static_cast<size_t>(k)];
      // The minimum, when there is one, as a fourth number that older
      // readers pass over: without it the file bonds pairs the rule refuses.
      o += "BMAX  " + Element(s.elementA) + "  " + Element(s.elementB) + "  " + F(s.maxLength, 3);
      if (s.minLength > 0.0f)
        o.append(1, ' ').append(F(s.minLength, 3));
      o += "\n";
    }
  }

  o += "\n! Atom types\nTYPE\n";
  for (size_t s = 0; s < nSites; s++) {
    const uint32_t type = c.sites[s].atomType;
    if (type >= nTypes)
      continue;
    bool seen = false;
    for (size_t e = 0; e < s && !seen; e++) {
      const uint32_t other = c.sites[e].atomType;
      seen = other == type || (other < nTypes && c.spheres[other].element == c.spheres[type].element);
    }
    if (seen)
      continue;
    const SphereRecord &t = c.spheres[type];
    o += Element(t.element) + "  " + F(t.radius, 2, 6) + "  " + Colour(t.colour, 5, 7) + "\n";
  }
  o += "\n";

  std::vector<std::string> labels(nSites);
  for (size_t s = 0; s < nSites; s++)
    labels[s] = TextFileLabel(c.sites[s], s);

  if (c.molecule) {
    o += "! Atoms in this molecule\nATOM\n";
    for (size_t k = 0; k < nAtoms; k++) {
      const AtomRecord &t = c.atoms[k];
      if (t.site >= nSites)
        continue;
      o += Element(c.sites[t.site].elements[0]) + "  " + PadLabel(labels[t.site], 6) + "  " + F(t.cart[0]) + " " +
           F(t.cart[1]) + " " + F(t.cart[2]) + "\n";
    }
  } else {
    o += "! Asymmetric unit\nATOM\n";
    for (size_t s = 0; s < nSites; s++) {
      const AsymmetricUnitRecord &site = c.sites[s];
      o += Element(site.elements[0]) + "  " + PadLabel(labels[s], 6) + "  " + F(site.xyz[0]) + " " +
           F(site.xyz[1]) + " " + F(site.xyz[2]) + "\n";
    }
  }
  o += "\n";

  if (c.esdFlag) {
    o += "! Errors in atomic coordinates\nERRS\n";
    for (size_t s = 0; s < nSites; s++)
      o += PadLabel(labels[s], 6) + "  " + F(c.sites[s].esd[0]) + " " + F(c.sites[s].esd[1]) + " " +
           F(c.sites[s].esd[2]) + "\n";
    o += "\n";
  }

  // A site of occupancy 0 is written too, so that it reopens as given, not
  // as a whole atom; so is every occupant of a mixed site, one of occupancy
  // 0 among them.
  auto partly = [](const AsymmetricUnitRecord &site) {
    return (site.occupancies[0] >= 0.0f && site.occupancies[0] < 1.0f) || site.elements[1] != kBlankElement;
  };
  bool partial = false;
  for (size_t s = 0; s < nSites; s++)
    partial = partial || partly(c.sites[s]);
  if (partial) {
    o += "! Site occupancies (max. 3 occupants per site)\nOCCU\n";
    for (size_t s = 0; s < nSites; s++) {
      const AsymmetricUnitRecord &site = c.sites[s];
      if (!partly(site))
        continue;
      o += PadLabel(labels[s], 6) + "  ";
      for (int k = 0; k < kMaxSiteElements && (k == 0 || site.elements[k] != kBlankElement); k++)
        o += "  " + Element(site.elements[k]) + " " + F(site.occupancies[k], 4);
      o += "\n";
    }
    o += "\n";
  }

  // Every site's line, so that the n-th line of a label meets the n-th site
  // of that label.
  bool disordered = false;
  for (size_t s = 0; s < nSites; s++)
    disordered = disordered || c.sites[s].disorderAssembly != 0 || c.sites[s].disorderGroup != 0;
  if (disordered) {
    o += "! Disorder assembly and group of each site\nDISO\n";
    for (size_t s = 0; s < nSites; s++)
      o += PadLabel(labels[s], 6) + "  " + std::to_string(c.sites[s].disorderAssembly) + " " +
           std::to_string(c.sites[s].disorderGroup) + "\n";
    o += "\n";
  }

  if (!c.molecule && c.ellipsoidData) {
    const char *heads[3] = {"! Isotropic temperature factors\nUISO\n",
                            "! Anisotropic temperature factors as Uij\nUANI\n",
                            "! Anisotropic temperature factors as Bij\nBANI\n"};
    for (uint32_t type = kDisplacementIsotropic; type <= kDisplacementAnisoB; type++) {
      bool any = false;
      for (size_t s = 0; s < nSites; s++)
        any = any || c.sites[s].displacementType == type;
      if (!any)
        continue;
      o += heads[type - 1];
      for (size_t s = 0; s < nSites; s++) {
        const AsymmetricUnitRecord &site = c.sites[s];
        if (site.displacementType != type)
          continue;
        o += PadLabel(labels[s], 6) + " ";
        if (type == kDisplacementIsotropic) {
          o += " " + F(site.isoValue);
        } else {
          const float *t = site.tensor;
          for (float v : {t[0], t[4], t[8], t[1], t[2], t[5]})
            o.append(1, ' ').append(F(v));
        }
        o += "\n";
      }
      o += "\n";
    }
  }

  const size_t nVectors = UsableRecords(c.vectors.size(), c.vectorCount);
  if (nVectors > 0) {
    o += "! Atom vectors\nAVEC\n";
    for (size_t k = 0; k < nVectors; k++) {
      const VectorRecord &v = c.vectors[k];
      if (v.atom >= nAtoms || c.atoms[v.atom].site >= nSites)
        continue;
      float cart[3];
      MatMul(c.orientationMatrix, v.uvw, cart);
      const double length = std::sqrt(double{cart[0]} * cart[0] + double{cart[1]} * cart[1] + double{cart[2]} * cart[2]);
      if (length == 0.0)
        continue;
      const AtomRecord &t = c.atoms[v.atom];
      o += PadLabel(labels[t.site], 7) + "   " + F(t.xyz[0], 5, 8) + " " + F(t.xyz[1], 5, 8) + " " +
           F(t.xyz[2], 5, 8) + "   " + F(v.uvw[0], 5, 9) + " " + F(v.uvw[1], 5, 9) + " " + F(v.uvw[2], 5, 9) +
           "   " + F(length, 4, 8) + "   " + Colour(v.colour, 3, 5) + "   " + std::to_string(v.style) + "\n";
    }
  }
  return o;
}

bool DoWriteTextFile(const CrystalRec &crystal, std::string_view title, std::string_view notes,
                     const std::filesystem::path &path) {
  const std::string text = FormatTextFile(crystal, title, notes);
  std::string reason;
  if (!WriteFileAtomically(path, std::span(reinterpret_cast<const uint8_t *>(text.data()), text.size()), &reason)) {
    MyCFStopAlert("The text file could not be saved.",
                  std::string(1, '"') + path.filename().string() + "\" could not be written (" + reason + ").");
    return false;
  }
  return true;
}

void DoWriteDozurezFile(WindowRef window) {
  CrystalRec *c = GetWindowCrystal(window);
  if (!c)
    return;
  static const TextExportKind kOwnTextKind{"Save Orvalisphere text file", ".ovtx", "Creating a new input file...",
                                           nullptr};
  if (RunTextExport(window, kOwnTextKind,
                    [&](const ExportContext &ctx) { return FormatTextFile(*c, TitleAsAscii(ctx.title), ctx.notes); }))
    NoteBondsOfTextFile(*c);
}
