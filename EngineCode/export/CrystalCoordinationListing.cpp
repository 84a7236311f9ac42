// The crystal coordination listing: every atom of one unit cell with the
// neighbours its bond specifications give it, found in a block of cells
// around the cell so that full bonding is assumed whatever the plot range.
#include "export/ExportFrame.h"
#include "export/Listings.h"

#include "Alerts.h"
#include "BondSearch.h"
#include "Geometry.h"
#include "StructureArrays.h"
#include "VectorMath.h"
#include "window/MainWindowData.h"

#include <array>
#include <cmath>
#include <map>

namespace {

const TextExportKind kCrystalCoordinationKind{"Export polyhedral data", " crystal coordination.txt",
                                              "Writing coordinates to a text file", "Closing data file..."};

// The block atoms of one element, in block order, binned by Cartesian
// position so that a centre visits only the bins within reach. The bins only
// choose candidates: every candidate is tested exactly as a scan of the whole
// block would, and candidates are taken in block order, so the listing is the
// same as that scan's.
class ElementBins {
public:
  ElementBins(const std::vector<AtomRecord> &block, std::vector<uint32_t> members, float binSize)
      : block_(block), members_(std::move(members)), size_(binSize) {
    if (members_.empty())
      return;
    for (int d = 0; d < 3; d++) {
      lo_[d] = hi_[d] = block_[members_[0]].cart[d];
      for (uint32_t m : members_) {
        lo_[d] = std::min(lo_[d], block_[m].cart[d]);
        hi_[d] = std::max(hi_[d], block_[m].cart[d]);
      }
      n_[d] = std::max(1, static_cast<int>((hi_[d] - lo_[d]) / size_) + 1);
    }
    starts_.assign(static_cast<size_t>(n_[0]) * n_[1] * n_[2] + 1, 0);
    std::vector<uint32_t> binOf(members_.size());
    for (size_t k = 0; k < members_.size(); k++) {
      binOf[k] = Bin(block_[members_[k]].cart);
      starts_[binOf[k] + 1]++;
    }
    for (size_t b = 1; b < starts_.size(); b++)
      starts_[b] += starts_[b - 1];
    sorted_.resize(members_.size());
    std::vector<uint32_t> fill(starts_.begin(), starts_.end() - 1);
    for (size_t k = 0; k < members_.size(); k++) // members in block order stay in block order per bin
      sorted_[fill[binOf[k]]++] = members_[k];
  }

  // The members that may lie within `reach` of the point, in block order.
  void Candidates(const float p[3], float reach, std::vector<uint32_t> &out) const {
    out.clear();
    if (members_.empty())
      return;
    int from[3], to[3];
    for (int d = 0; d < 3; d++) {
      from[d] = std::max(0, static_cast<int>(std::floor((p[d] - reach - lo_[d]) / size_)));
      to[d] = std::min(n_[d] - 1, static_cast<int>(std::floor((p[d] + reach - lo_[d]) / size_)));
      if (from[d] > to[d])
        return;
    }
    for (int z = from[2]; z <= to[2]; z++)
      for (int y = from[1]; y <= to[1]; y++)
        for (int x = from[0]; x <= to[0]; x++) {
          const size_t b = (static_cast<size_t>(z) * n_[1] + y) * n_[0] + x;
          out.insert(out.end(), sorted_.begin() + starts_[b], sorted_.begin() + starts_[b + 1]);
        }
    std::sort(out.begin(), out.end());
  }

private:
  uint32_t Bin(const float p[3]) const {
    int i[3];
    for (int d = 0; d < 3; d++)
      i[d] = std::clamp(static_cast<int>((p[d] - lo_[d]) / size_), 0, n_[d] - 1);
    return static_cast<uint32_t>((static_cast<size_t>(i[2]) * n_[1] + i[1]) * n_[0] + i[0]);
  }

  const std::vector<AtomRecord> &block_;
  std::vector<uint32_t> members_;
  float size_;
  float lo_[3] = {}, hi_[3] = {};
  int n_[3] = {1, 1, 1};
  std::vector<uint32_t> starts_;
  std::vector<uint32_t> sorted_;
};

// Bins a little wider than the reach keep every candidate within one bin of
// the centre's; the margin covers float rounding of positions near a bin's
// edge.
constexpr float kBinMargin = 0.01f;

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
  std::optional<std::vector<AtomRecord>> block = CreateAtomsArray(perCell, n[0], n[1], n[2]);
  if (!block || !TileUnitCellContents(*firstCell, *block, perCell, n[0], n[1], n[2], false))
    return std::nullopt;
  for (AtomRecord &t : *block)
    MatMul(c.orientationMatrix, t.xyz, t.cart);
  // Alternatives are judged on the structure's atoms: each first-cell atom's
  // own, and for each block atom the one it is a translation of (the block
  // holds each site's run of the first cell, cell after cell).
  const std::shared_ptr<const SiteAlternatives> heldAlternatives = c.derived.Alternatives(c);
  const SiteAlternatives &alternatives = *heldAlternatives;
  std::vector<uint32_t> ownAtom, blockAtom;
  if (alternatives.Any()) {
    for (size_t s = 0; s < nSites; s++)
      for (int32_t k = 0; k < c.sites[s].atomsPerCell; k++)
        ownAtom.push_back(static_cast<uint32_t>(c.sites[s].firstAtom + k));
    for (size_t run = 0; run < ownAtom.size();) {
      size_t end = run + 1;
      while (end < ownAtom.size() && (*firstCell)[end].site == (*firstCell)[run].site)
        end++;
      for (int cell = 0; cell < n[0] * n[1] * n[2]; cell++)
        blockAtom.insert(blockAtom.end(), ownAtom.begin() + static_cast<std::ptrdiff_t>(run),
                         ownAtom.begin() + static_cast<std::ptrdiff_t>(end));
      run = end;
    }
  }

  // The block atoms of each element, binned.
  std::map<ElementCode, std::vector<uint32_t>> byElement;
  for (size_t j = 0; j < block->size(); j++) {
    const uint32_t s = (*block)[j].site;
    if (s < nSites)
      byElement[c.sites[s].elements[0]].push_back(static_cast<uint32_t>(j));
  }
  std::map<ElementCode, ElementBins> bins;
  for (auto &[element, members] : byElement)
    bins.emplace(std::piecewise_construct, std::forward_as_tuple(element),
                 std::forward_as_tuple(*block, std::move(members), std::max(dmax, 0.5f) + kBinMargin));

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

  std::vector<uint32_t> candidates;
  // One centre's neighbours, specification by specification: each block
  // atom with its distance and its partner's element.
  struct Neighbour {
    uint32_t block;
    float dist;
    ElementCode element;
  };
  std::vector<Neighbour> neighbours;
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
    neighbours.clear();
    for (int k = 0; k < specs; k++) {
      const BondSpec &spec = c.bondSpecs[static_cast<size_t>(k)];
      if (spec.elementA != element && spec.elementB != element)
        continue;
      const ElementCode partner = spec.elementA == element ? spec.elementB : spec.elementA;
      const auto it = bins.find(partner);
      if (it == bins.end())
        continue;
      it->second.Candidates(centreCart, spec.maxLength + kBinMargin, candidates);
      for (uint32_t j : candidates) {
        const AtomRecord &b = (*block)[j];
        if (b.site == t.site && std::fabs(b.xyz[0] - centre[0]) < kBlockCentreTolerance &&
            std::fabs(b.xyz[1] - centre[1]) < kBlockCentreTolerance &&
            std::fabs(b.xyz[2] - centre[2]) < kBlockCentreTolerance)
          continue;
        const float dist = VecBondDist(centreCart, b.cart);
        if (!(dist < spec.maxLength))
          continue;
        // An alternative of the centre is never its neighbour.
        if (alternatives.Any() && !alternatives.AtomsMayBondAt(ownAtom[i], blockAtom[j], dist * dist))
          continue;
        neighbours.push_back({j, dist, partner});
      }
    }
    // A partner at several alternative places is listed once, at the place
    // that stands for it (CountPartners), as the coordination number counts it.
    stands.clear();
    if (alternatives.Any() && neighbours.size() > 1) {
      partnerAtoms.clear();
      places.clear();
      for (const Neighbour &nb : neighbours) {
        partnerAtoms.push_back(blockAtom[nb.block]);
        const float *p = (*block)[nb.block].cart;
        places.push_back({p[0], p[1], p[2]});
      }
      CountPartners(alternatives, partnerAtoms, places, &stands);
    }
    for (size_t k = 0; k < neighbours.size(); k++) {
      if (!stands.empty() && stands[k] != k)
        continue;
      const AtomRecord &b = (*block)[neighbours[k].block];
      const std::string pe = ElementText(neighbours[k].element);
      float rel[3], relCart[3];
      for (int q = 0; q < 3; q++)
        rel[q] = b.xyz[q] - static_cast<float>(h[q]);
      MatMul(c.orientationMatrix, rel, relCart);
      char plabel[7];
      PadSiteLabel(SiteLabel(c.sites[b.site]), plabel);
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
