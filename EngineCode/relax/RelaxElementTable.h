// The force field's per-element parameters: one Universal Force Field atom
// type per element, with the well depth in electronvolts and the natural
// angle stored as its cosine.
#pragma once

#include <cstdint>

struct RelaxElementRow {
  int32_t atomicNumber;
  char symbol[4];      // two characters, NUL-padded; one-letter symbols end in a blank
  float r;             // bond radius (Å)
  double cosTheta0;    // cosine of the natural angle
  float x;             // Lennard-Jones size (Å)
  double d;            // Lennard-Jones well depth (eV)
  float zStar;         // effective charge
  float formalCharge;
};

inline constexpr int kRelaxElementCount = 104;
// Searched in order by exact symbol; hydrogen and deuterium share one row's
// values, and element 103 is spelled "Lw".
extern const RelaxElementRow kRelaxElementTable[kRelaxElementCount];

// The first row whose symbol matches the two characters, or nullptr.
const RelaxElementRow *FindRelaxElementRow(const char symbol[2]);
