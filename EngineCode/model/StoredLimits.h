// The largest atom radius and bond maximum a structure may keep. The readers
// refuse files beyond them and the editors refuse to make such values, so
// that whatever the program saves it can read again.
#pragma once

// An atom radius above this is refused: over twice the largest radius of
// the factory element table (2.21 A).
inline constexpr float kMaxStoredRadius = 5.0f;
// A bond specification whose maximum lies above this is beyond what any
// structure can use: twice the largest stored radius with the 15 % allowance
// of the automatic maximum (11.5 A) stays below it, and the bond search's
// work grows with the cube of the maximum (each atom is compared with every
// image within it), so a larger one only stalls the build.
inline constexpr float kMaxBondSpecLength = 12.0f;
