// The crystal coordination listing: every atom of one unit cell with the
// neighbours its bond specifications give it, found in a block of cells
// around the cell so that full bonding is assumed whatever the plot range.
#include "export/ExportFrame.h"
#include "export/Listings.h"

#include "Alerts.h"
#include "BondSearch.h"
#include "Geometry.h"
#include "PeriodicNeighbours.h"
#include "StructureArrays.h"
#include "VectorMath.h"
#include "window/MainWindowData.h"

#include <array>
#include <cmath>
#include <tuple>

namespace {

const TextExportKind kCrystalCoordinationKind{"Export polyhedral data", " crystal coordination.txt",
                                              "Writing coordinates to a text file", "Closing data file..."};

// The crystal's neighbour list is asked this much farther (A), and this
// share of the positions' size farther still, than a bond's maximum: the
// list measures in double precision, the listing in single precision as a
// block of cells around the first one places the atoms, and a neighbour
// within the maximum by the listing's measure is never one the list left
// out.
constexpr double kReachMargin = 0.01;
constexpr double kReachMarginShare = 1e-5;

} // namespace

std::optional<std::string> FormatCrystalCoordinationListing(const CrystalRec &c, std::string_view title,
                                                            std::string_view version) {
  const size_t nSites = UsableSiteSize(c);
  const int specs = std::clamp(c.bondSpecCount, 0, kMaxBondSpecs);
  std::optional<std::vector<AtomRecord>> firstCell = ExtractFirstUnitCell(&c);
  if (!firstCell || nSites == 0 || specs == 0)
    return std::nullopt;
  float dmax = 0.0f;
  for (int k = 0; k < specs; k++)
    dmax = std::max(dmax, c.bondSpecs[static_cast<size_t>(k)].maxLength);
  const float d[3] = {DSpace(&c, 1, 0, 0), DSpace(&c, 0, 1, 0), DSpace(&c, 0, 0, 1)};
  if (!(d[0] > 0.0f && d[1] > 0.0f && d[2] > 0.0f))
    return std::nullopt;
  int h[3], n[3];
  for (int k = 0; k < 3; k++) {
    h[k] = static_cast<int>(std::ceil(dmax / d[k]));
    n[k] = 2 * h[k] + 1;
  }
  const int32_t perCell = static_cast<int32_t>(firstCell->size());
  CellFrame frame;
  if (!CellFrameOfMatrix(c.orientationMatrix, frame))
    return std::nullopt;
  // The neighbours are the images of the first cell's atoms in a block of n
  // cells an axis, the centre's cell in its middle (h cells on), each atom
  // placed as the block would place it (its first-cell coordinates plus
  // whole cells, in single precision). The block holds each site's run of
  // the first cell, cell after cell (c outermost, a innermost): candidates
  // are taken in that order.
  std::vector<NeighbourMarkInput> marks(firstCell->size());
  std::vector<uint32_t> runOf(firstCell->size());
  for (size_t j = 0; j < firstCell->size(); j++) {
    const AtomRecord &t = (*firstCell)[j];
    marks[j].mark.atom = static_cast<uint32_t>(j);
    marks[j].mark.site = t.site;
    for (int k = 0; k < 3; k++)
      marks[j].xyz[k] = t.xyz[k];
    runOf[j] = j > 0 && t.site == (*firstCell)[j - 1].site ? runOf[j - 1] : static_cast<uint32_t>(j);
  }
  PeriodicNeighbours list(frame, marks, dmax);
  const auto blockOrder = [&](const NeighbourHit &x) {
    const int64_t cell = (int64_t{x.shift[2] + h[2]} * n[1] + (x.shift[1] + h[1])) * n[0] + (x.shift[0] + h[0]);
    return std::tuple{runOf[x.mark], cell, x.mark};
  };
  // Alternatives are judged on the structure's atoms: each first-cell atom's
  // own (a block atom is a translation of its first-cell atom).
  const std::shared_ptr<const SiteAlternatives> heldAlternatives = c.derived.Alternatives(c);
  const SiteAlternatives &alternatives = *heldAlternatives;
  std::vector<uint32_t> ownAtom;
  if (alternatives.Any())
    for (size_t s = 0; s < nSites; s++)
      for (int32_t k = 0; k < c.sites[s].atomsPerCell; k++)
        ownAtom.push_back(static_cast<uint32_t>(c.sites[s].firstAtom + k));

  std::string o;
  o.reserve(static_cast<size_t>(perCell) * 1024);
  Appendf(o, "Coordination data for \"%s\"\n", TitleAsText(title).c_str());
  o += "\n"
       "This file lists the fractional and orthogonal coordinates for all\n"
       "atoms in one unit cell, as sorted by element type and site symbol.\n"
       "\n"
       "For each atom, the coordination number \"[CN]\", coordinates of\n"
       "bonded neighbours and their distances are given - assuming full bonding\n"
       "according to your existing bond specifications. The resulting\n"
       "coordination groups are separated by blank lines.\n"
       "\n";
  o += GeneratorLine(version);
  o += "\n\nUnit cell parameters:\n";
  AppendCellBlock(o, c);
  o += "\n\nGlobal bond specifications:\n";
  AppendBondSpecLines(o, c);
  o += "\n\n";
  Appendf(o, "Listing all %ld atoms in one unit cell, plus their bonded neighbours:\n", static_cast<long>(perCell));
  const std::string rule = std::string(105, '-') + "\n";
  o += rule;
  o += "                        Fractional Coordinates                Orthogonal Coordinates [A]                 \n"
       "CN   Elmt Label         x           y           z             xor         yor         zor         d [A]  \n";
  o += rule;

  // One centre's neighbours, specification by specification: each image
  // with its block position and distance and its partner's element.
  struct Neighbour {
    uint32_t atom; // first-cell atom
    float xyz[3], cart[3];
    float dist;
    ElementCode element;
  };
  std::vector<Neighbour> neighbours;
  std::vector<NeighbourHit> hits;
  std::vector<uint32_t> partnerAtoms, stands;
  std::vector<std::array<float, 3>> places;
  for (size_t i = 0; i < firstCell->size(); i++) {
    const AtomRecord &t = (*firstCell)[i];
    if (t.site >= nSites)
      continue;
    const AsymmetricUnitRecord &site = c.sites[t.site];
    const ElementCode element = site.elements[0];
    const std::string e = ElementText(element);
    char label[7];
    PadSiteLabel(SiteLabel(site), label);
    Appendf(o, "[%ld] ", static_cast<long>(site.coordination));
    if (site.coordination <= 9)
      o += " ";
    Appendf(o, "%c%c   %6s", e[0], e[1], label);
    Appendf(o, " %12.6f%12.6f%12.6f  %12.5f%12.5f%12.5f\n", double{t.xyz[0]}, double{t.xyz[1]}, double{t.xyz[2]},
            double{t.cart[0]}, double{t.cart[1]}, double{t.cart[2]});
    float centre[3], centreCart[3];
    for (int k = 0; k < 3; k++)
      centre[k] = t.xyz[k] + static_cast<float>(h[k]);
    MatMul(c.orientationMatrix, centre, centreCart);
    // The images within the longest of the centre's bonds, in block order.
    float reach = -1.0f;
    for (int k = 0; k < specs; k++) {
      const BondSpec &spec = c.bondSpecs[static_cast<size_t>(k)];
      if (spec.elementA == element || spec.elementB == element)
        reach = std::max(reach, spec.maxLength);
    }
    hits.clear();
    if (reach >= 0.0f) {
      const double size = std::fabs(double{centreCart[0]}) + std::fabs(double{centreCart[1]}) +
                          std::fabs(double{centreCart[2]}) + double{reach};
      const double point[3] = {t.xyz[0], t.xyz[1], t.xyz[2]};
      list.Visit(point, double{reach} + kReachMargin + kReachMarginShare * size, hits);
      std::erase_if(hits, [&](const NeighbourHit &x) {
        return (*firstCell)[x.mark].site >= nSites || std::abs(x.shift[0]) > h[0] || std::abs(x.shift[1]) > h[1] ||
               std::abs(x.shift[2]) > h[2];
      });
      std::sort(hits.begin(), hits.end(),
                [&](const NeighbourHit &x, const NeighbourHit &y) { return blockOrder(x) < blockOrder(y); });
    }
    neighbours.clear();
    for (int k = 0; k < specs; k++) {
      const BondSpec &spec = c.bondSpecs[static_cast<size_t>(k)];
      if (spec.elementA != element && spec.elementB != element)
        continue;
      const ElementCode partner = spec.elementA == element ? spec.elementB : spec.elementA;
      for (const NeighbourHit &x : hits) {
        const AtomRecord &b = (*firstCell)[x.mark];
        if (c.sites[b.site].elements[0] != partner)
          continue;
        Neighbour nb{x.mark, {}, {}, 0.0f, partner};
        for (int q = 0; q < 3; q++)
          nb.xyz[q] = b.xyz[q] + static_cast<float>(x.shift[q] + h[q]);
        if (b.site == t.site && std::fabs(nb.xyz[0] - centre[0]) < kBlockCentreTolerance &&
            std::fabs(nb.xyz[1] - centre[1]) < kBlockCentreTolerance &&
            std::fabs(nb.xyz[2] - centre[2]) < kBlockCentreTolerance)
          continue;
        MatMul(c.orientationMatrix, nb.xyz, nb.cart);
        nb.dist = VecBondDist(centreCart, nb.cart);
        if (!(nb.dist < spec.maxLength))
          continue;
        // An alternative of the centre is never its neighbour.
        if (alternatives.Any() && !alternatives.AtomsMayBondAt(ownAtom[i], ownAtom[x.mark], nb.dist * nb.dist))
          continue;
        neighbours.push_back(nb);
      }
    }
    // A partner at several alternative places is listed once, at the place
    // that stands for it (CountPartners), as the coordination number counts it.
    stands.clear();
    if (alternatives.Any() && neighbours.size() > 1) {
      partnerAtoms.clear();
      places.clear();
      for (const Neighbour &nb : neighbours) {
        partnerAtoms.push_back(ownAtom[nb.atom]);
        places.push_back({nb.cart[0], nb.cart[1], nb.cart[2]});
      }
      CountPartners(alternatives, partnerAtoms, places, &stands);
    }
    for (size_t k = 0; k < neighbours.size(); k++) {
      if (!stands.empty() && stands[k] != k)
        continue;
      const Neighbour &b = neighbours[k];
      const std::string pe = ElementText(neighbours[k].element);
      float rel[3], relCart[3];
      for (int q = 0; q < 3; q++)
        rel[q] = b.xyz[q] - static_cast<float>(h[q]);
      MatMul(c.orientationMatrix, rel, relCart);
      char plabel[7];
      PadSiteLabel(SiteLabel(c.sites[(*firstCell)[b.atom].site]), plabel);
      Appendf(o, "     %c%c   %6s", pe[0], pe[1], plabel);
      Appendf(o, " %12.6f%12.6f%12.6f  %12.5f%12.5f%12.5f  %12.5f\n", double{rel[0]}, double{rel[1]}, double{rel[2]},
              double{relCart[0]}, double{relCart[1]}, double{relCart[2]}, double{neighbours[k].dist});
    }
    if (i + 1 < firstCell->size())
      o += "\n";
  }
  o += rule;
  return o;
}

void WriteCrystalCoordinationFile(WindowRef window) {
  CrystalRec *c = GetWindowCrystal(window);
  if (!c)
    return;
  if (c->molecule) {
    MyCFStopAlert(kNeedsCrystalSymmetry);
    return;
  }
  if (c->bondSpecCount <= 0) {
    MyCFStopAlert(kNoBondsDefined, kNoBondsDefinedExplanation);
    return;
  }
  RunTextExport(window, kCrystalCoordinationKind, [&](const ExportContext &ctx) {
    return FormatCrystalCoordinationListing(*c, ctx.title, ctx.version);
  });
}
