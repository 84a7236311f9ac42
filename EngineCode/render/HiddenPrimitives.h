// The bonds and atom balls of a ball-and-stick picture that nearer ones
// paint over wholly, and the rows of the others that they show in.
//
// Inside a large crystal nearly every bond lies behind others, and the
// back-to-front walk would paint it only for nearer bonds and balls to
// paint over it. Before the walk the draw order is gone through front to
// back with a mask of the pixels already sealed: pixels that a primitive
// drawn later sets whatever was beneath them. A primitive all of whose
// pixels are sealed is left out, so the picture is the same pixel for
// pixel. Only two kinds seal: an opaque ball's image copy (its mask's
// pixels), and a shaded cylinder of one lit strip, where all four sub-rows
// of the strip's fill cover a pixel wholly. Any cylinder and any ball may
// be left out; caps, labels, vectors and cell frames neither seal nor are
// left out. A bond that shows is drawn only from the first to the last
// pixel row in which it has a pixel not sealed: its other rows are painted
// over too, and the fills of its strips, caps and frames paint each row
// from that row alone. The bonds that show of each atom are kept in the
// order the walk draws them, so that the walk need not sort them again.
//
// Only plain plots are judged: anti-aliased drawing into a 32-bit target
// with a rectangular clip, no perspective, no depth fading, bonds drawn as
// cylinders (not lines), and enough entries in the depth-sort index, and
// balls and bonds painting the picture over often enough, for the pass to
// pay. Main thread only, like the walk.
#pragma once

#include "StructureRecord.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// A depth-sort index of fewer entries than this is drawn without the pass.
inline constexpr size_t kHiddenPrimitivesFromAtoms = 512;

// Pixel rows from `top` to `bottom`, both included; none when top > bottom.
struct PixelRows {
  int16_t top, bottom;
  bool Empty() const { return top > bottom; }
};
inline constexpr PixelRows kEveryPixelRow{INT16_MIN, INT16_MAX};

class HiddenPrimitives {
public:
  // Finds the hidden primitives of the ball-and-stick walk about to paint
  // the structure into the raster target, whose bonds have the radius
  // `bondRadius` (Angstrom). Finds none when the plot is not one it judges.
  void Find(const CrystalRec &crystal, float bondRadius, int32_t width, int32_t height);
  // Of the atom at `entry` of the depth-sort index: whether its ball is
  // hidden, and the rows in which its bond to `partner`, drawn just before
  // it, shows (none when it is hidden, every row when it was not judged).
  bool BallHidden(size_t entry) const { return entry < drawn_.size() && (drawn_[entry] & kBallHidden) != 0; }
  PixelRows BondRows(size_t entry, uint32_t partner) const;
  size_t HiddenBonds() const { return hiddenBonds_; }
  // One byte per entry of a depth-sort index of `entries` entries:
  // kBallHidden, and kNothing when the walk paints nothing for the entry (an
  // atom whose ball and every bond it draws are hidden, without a label or
  // a vector). None when the pass judged no such index.
  const uint8_t *Drawn(size_t entries) const { return drawn_.size() == entries ? drawn_.data() : nullptr; }
  static constexpr uint8_t kBallHidden = 1, kNothing = 2;

  // A bond that shows, of those drawn just before the atom at an entry:
  // its partner and the rows in which it shows.
  struct ShownBond {
    uint32_t partner;
    PixelRows rows;
  };
  // The bonds that show of the atom at `entry`, in the order SortBondsBelow
  // gives its bonds, and their number in `count`; null when the pass did
  // not list them (the entry was not judged, the structure has vectors, or
  // two of the atom's partners below it stand at one place).
  const ShownBond *ShownBonds(size_t entry, size_t &count) const {
    if (entry >= shownRanges_.size() || shownRanges_[entry].first == kNotListed)
      return nullptr;
    count = shownRanges_[entry].count;
    return shown_.data() + shownRanges_[entry].first;
  }

  // An atom's view point, drawn radius (below 0 when it is not shown) and
  // place in the depth-sort index (below 0 when it is not there).
  struct Place {
    float cart[3];
    float radius;
    int32_t position;
  };

private:
  // What the pass reads of the atom at one entry of the index, gathered
  // there in depth order: its place, its drawing, and where its bond list
  // lies in atomPartners_.
  static constexpr uint32_t kNoAtom = UINT32_MAX;
  struct Entry {
    float cart[3];
    float radius;
    uint32_t index; // the atom's; kNoAtom for an entry not judged
    uint32_t type;
    uint32_t firstSlot, bonds;
    int16_t pixel[2];
    uint8_t selected, labelled;
  };

  static constexpr uint32_t kNotListed = UINT32_MAX;
  struct ShownRange {
    uint32_t first, count; // in shown_; first kNotListed when not listed
  };

  std::vector<Entry> entries_;         // per index entry
  std::vector<uint32_t> firstSlot_;    // per index entry: where its bonds start in partners_ and rows_
  std::vector<uint32_t> partners_;     // each entry's bond list, in the index's order
  std::vector<PixelRows> rows_;        // per bond of each entry, in its list's order
  std::vector<uint8_t> drawn_;         // per index entry: kBallHidden, kNothing
  std::vector<Place> places_;          // per atom
  std::vector<uint32_t> atomPartners_; // each atom's bond list, in the atoms' order
  std::vector<ShownBond> shown_;       // the bonds that show, entry by entry
  std::vector<ShownRange> shownRanges_; // per index entry
  size_t hiddenBonds_ = 0;
};

// Whether the pass runs at all (on unless a test compares without it), and
// the number of bonds the last pass found hidden.
void SetHiddenPrimitivesSkipped(bool skipped);
size_t LastHiddenBondCount();
