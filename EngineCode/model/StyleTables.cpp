#include "StyleTables.h"

#define SEP {-1, 0, ""}
#define ENTRY(code, type, file) {code, FourCharsToLong(type), file}

const StyleIconEntry gAtomStyleIconData[22] = {
    ENTRY(0, "ASXX", "IC AtomStyleBlank.icns"),
    SEP,
    ENTRY(16, "ASHD", "IC AtomStyleHollowDashed.icns"),
    ENTRY(3, "ASHo", "IC AtomStyleHollow.icns"),
    ENTRY(17, "ASHS", "IC AtomStyleHollowStriped.icns"),
    ENTRY(18, "ASHH", "IC AtomStyleHollowHatched.icns"),
    ENTRY(4, "ASHE", "IC AtomStyleHollowEquatorial.icns"),
    SEP,
    ENTRY(1, "ASWh", "IC AtomStylePlainWhite.icns"),
    ENTRY(2, "ASBl", "IC AtomStylePlainBlack.icns"),
    ENTRY(6, "ASFl", "IC AtomStyleFilled.icns"),
    ENTRY(5, "ASFE", "IC AtomStyleFilledEquatorial.icns"),
    SEP,
    ENTRY(7, "ASFS", "IC AtomStyleFilledInset.icns"),
    ENTRY(10, "AS2T", "IC AtomStyleTwoTone.icns"),
    ENTRY(20, "AS4T", "IC AtomStyleBeachBall.icns"),
    ENTRY(12, "ASRF", "IC AtomStyleRandomFill.icns"),
    SEP,
    ENTRY(14, "ASPR", "IC AtomStylePhotoRendered.icns"),
    ENTRY(15, "ASP2", "IC AtomStylePhotoTwoTone.icns"),
    ENTRY(19, "ASP4", "IC AtomStylePhotoBeachBall.icns"),
    ENTRY(13, "ASPT", "IC AtomStylePhotoTranslucent.icns"),
};

const StyleIconEntry gEllipsoidStyleIconData[34] = {
    ENTRY(0, "ESXX", "IC AtomStyleBlank.icns"),
    SEP,
    ENTRY(1, "ES01", "IC EllipsoidStylePlainWhite.icns"),
    ENTRY(2, "ES02", "IC EllipsoidStylePlainBlack.icns"),
    SEP,
    ENTRY(3, "ES03", "IC EllipsoidStyleHollow.icns"),
    ENTRY(4, "ES04", "IC EllipsoidStyleHollowOctant.icns"),
    ENTRY(5, "ES05", "IC EllipsoidStyleHollowEquatorial.icns"),
    ENTRY(6, "ES06", "IC EllipsoidStyleHollowEquatorialOctant.icns"),
    SEP,
    ENTRY(7, "ES07", "IC EllipsoidStyleFilled.icns"),
    ENTRY(8, "ES08", "IC EllipsoidStyleFilledOctant.icns"),
    ENTRY(9, "ES09", "IC EllipsoidStyleFilledEquatorial.icns"),
    ENTRY(10, "ES10", "IC EllipsoidStyleFilledEquatorialOctant.icns"),
    SEP,
    ENTRY(11, "ES11", "IC EllipsoidStyleFilledFrame.icns"),
    ENTRY(12, "ES12", "IC EllipsoidStyleFilledFrameOctant.icns"),
    ENTRY(13, "ES13", "IC EllipsoidStyleFilledFrameEquatorial.icns"),
    ENTRY(14, "ES14", "IC EllipsoidStyleFilledFrameEquatorialOctant.icns"),
    SEP,
    ENTRY(23, "ES23", "IC EllipsoidStyleTranslucentFrame.icns"),
    ENTRY(24, "ES24", "IC EllipsoidStyleTranslucentFrameAxes.icns"),
    ENTRY(25, "ES25", "IC EllipsoidStyleTranslucentFrameEquatorial.icns"),
    ENTRY(26, "ES26", "IC EllipsoidStyleTranslucentFrameEquatorialAxes.icns"),
    SEP,
    ENTRY(15, "ES15", "IC EllipsoidStyleRendered.icns"),
    ENTRY(16, "ES16", "IC EllipsoidStyleRenderedOctant.icns"),
    ENTRY(17, "ES17", "IC EllipsoidStyleRenderedEquatorial.icns"),
    ENTRY(18, "ES18", "IC EllipsoidStyleRenderedEquatorialOctant.icns"),
    SEP,
    ENTRY(19, "ES19", "IC EllipsoidStyleRenderedTranslucent.icns"),
    ENTRY(20, "ES20", "IC EllipsoidStyleRenderedTranslucentAxes.icns"),
    ENTRY(21, "ES21", "IC EllipsoidStyleRenderedTranslucentEquatorial.icns"),
    ENTRY(22, "ES22", "IC EllipsoidStyleRenderedTranslucentEquatorialAxes.icns"),
};

const StyleIconEntry gPolyStyleIconData[18] = {
    ENTRY(1, "PSXX", "IC PolyStyleBlank.icns"),
    SEP,
    ENTRY(2, "PS01", "IC PolyStyleAtom.icns"),
    ENTRY(11, "PS02", "IC PolyStyleWireBonds.icns"),
    ENTRY(6, "PS03", "IC PolyStyleAtomWireBonds.icns"),
    ENTRY(12, "PS04", "IC PolyStyleStickBonds.icns"),
    ENTRY(7, "PS05", "IC PolyStyleAtomStickBonds.icns"),
    SEP,
    ENTRY(3, "PS06", "IC PolyStyleOpen.icns"),
    ENTRY(4, "PS07", "IC PolyStyleOpenAtom.icns"),
    ENTRY(5, "PS08", "IC PolyStyleOpenAtomBonds.icns"),
    ENTRY(8, "PS09", "IC PolyStyleOpenFill.icns"),
    ENTRY(9, "PS10", "IC PolyStyleOpenFillAtom.icns"),
    ENTRY(10, "PS11", "IC PolyStyleOpenFillAtomBonds.icns"),
    SEP,
    ENTRY(13, "PS12", "IC PolyStyleSolidFill.icns"),
    ENTRY(14, "PS13", "IC PolyStylePatternShaded.icns"),
    ENTRY(15, "PS14", "IC PolyStyleColourShaded.icns"),
};

const StyleIconEntry gBondStyleIconData[14] = {
    ENTRY(0, "BSXX", "IC BondStyleBlank.icns"),
    SEP,
    ENTRY(2, "BS01", "IC BondStylePlainLine.icns"),
    ENTRY(4, "BS02", "IC BondStyleDashedLine.icns"),
    ENTRY(6, "BS03", "IC BondStyleDottedLine.icns"),
    SEP,
    ENTRY(9, "BS04", "IC BondStylePlain.icns"),
    ENTRY(10, "BS05", "IC BondStyleTwinBand.icns"),
    ENTRY(11, "BS06", "IC BondStyleMultiBand.icns"),
    ENTRY(12, "BS07", "IC BondStyleStriated.icns"),
    SEP,
    ENTRY(1, "BS08", "IC BondStylePhotoRendered.icns"),
    ENTRY(3, "BS09", "IC BondStylePhotoTwinBand.icns"),
    ENTRY(5, "BS10", "IC BondStylePhotoMultiBand.icns"),
};

int FindStyleMenuItem(std::span<const StyleIconEntry> table, int32_t style) {
  if (style < 0)
    return 0;
  for (size_t i = 0; i < table.size(); i++)
    if (table[i].style == style)
      return int(i) + 1;
  return 0;
}

const StyleIconEntry *FindStyleIconEntry(std::span<const StyleIconEntry> table, int32_t style) {
  const int item = FindStyleMenuItem(table, style);
  return item ? &table[size_t(item - 1)] : nullptr;
}
